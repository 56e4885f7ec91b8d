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
        -- A finalizer run by making a number's text switches the target: the
        -- text goes to the new one (it once went to the target read before).
        -- Glyph 1 of the font at 0 gets a row of ink.
        local U, ran = t_userdata('u8', 16, 16), 0
        local probe = {__gc = function() ran = ran + 1 end}
        local function inked(a) local n = 0 for y = 0, 15 do for x = 0, 15 do if get(a, x, y) ~= 0 then n = n + 1 end end end return n end
        t_poke(8 * 49, 255) cls() setmetatable({}, {__gc = function() pcall(_set_draw_target, U) end})
        for i = 1, 10 do setmetatable({}, probe) end
        collectgarbage("incremental", 1, 1000, 1) repeat collectgarbage("step", 0) until ran == 10
        collectgarbage("incremental", 1, 100, 1) _print_zenscii(1234.5678, 0, 0, 9) collectgarbage("incremental", 200, 100, 13)
        out(inked(U) > 0, inked(T))
    )");
    (void)p;
    const Lines lines = output();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], "3:10,10,28") << "home x, and the cursor on the line below";
    EXPECT_EQ(lines[2], "2:12,30");
    EXPECT_EQ(lines[3], "2:0,0");
    EXPECT_EQ(lines[4].substr(0, 2), "2:");
    EXPECT_EQ(lines[5], "3:2,true,50");
    EXPECT_EQ(lines[6], "2:true,0");
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
