// _print_zenscii through Lua: its forms, the cursor and home it leaves, the
// extent it returns, and the same pixels as the printer called in C.
#include "draw_fixture.h"
#include "printer.h"

using PrintCalls = DrawTest;

TEST_F(PrintCalls, FormsCursorAndResults) {
    process_rec *p = run_drawing(R"(
        out(_print_zenscii("hi", 10, 20))
        out(t_peek(0x54F8, 4), t_peek(0x54F0, 4), t_peek(0x54F4, 4))
        cursor(30, 40)
        local x, y = _print_zenscii("hi", 12) out(t_peek(0x550C, 2), t_peek(0x54F8, 4))
        out(select('#', _print_zenscii({})), select('#', _print_zenscii()))
        out(select('#', _print_zenscii("hi", 12, nil, nil)), t_peek(0x54F8, 4))
        out(select('#', _print_zenscii(12345, "50", 60.9, 7)), t_peek(0x54F0, 4) >= 50, t_peek(0x54F8, 4))
    )");
    (void)p;
    const Lines lines = output();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "3:10,10,28") << "home x, and the cursor on the line below";
    EXPECT_EQ(lines[2], "2:12,30");
    EXPECT_EQ(lines[3], "2:0,0");
    EXPECT_EQ(lines[4].substr(0, 2), "2:");
    EXPECT_EQ(lines[5], "3:2,true,50");
}

TEST_F(PrintCalls, DrawsWhatThePrinterDraws) {
    process_rec *p = run_drawing(R"(
        _print_zenscii("Quillmar\n123", 5, 7, 9)
    )");
    c_bitmap ref(480, 270);
    const remembered_process prev = remember_current_process();
    cproc = p;
    poke4_proc(p, 0x54F0, 5);
    poke4_proc(p, 0x54F4, 7);
    poke4_proc(p, 0x54F8, 5);
    refresh_clip(p);
    get_masks_shape();
    print_zenscii(ref.rec, "Quillmar\n123", 12, 0, 9);
    restore_current_process(prev);
    EXPECT_EQ(target_bytes(p), ref.bytes());
}
