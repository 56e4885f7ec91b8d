// Draw state through Lua: no target, clip, camera, color, colour arguments,
// fillp, the clip cache keyed on the target's shape, and a register page
// mapped onto an array.
#include "draw_fixture.h"

using DrawState = DrawTest;

TEST_F(DrawState, WithoutADrawTargetEveryDrawingCallDoesNothing) {
    process_rec *p = start(R"(
        out(select('#', clip()), select('#', clip(1, 2, 3, 4)), select('#', pget(1, 1)))
        for _, f in ipairs({cls, pset, rectfill, rect, ovalfill, circfill, oval, circ, rrect, rrectfill, line, fillp}) do
            f(1, 2, 3, 4, 5, 6)
        end
        out("done")
        while true do flip() end
    )");
    ASSERT_NE(p, nullptr);
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"3:0,0,0", "1:done"}));
    for (uint32_t a = REG_FILL_PATTERN; a < REG_FILL_PATTERN + 8; a++) EXPECT_EQ(peek_proc(p, a), 0);
}

TEST_F(DrawState, ClipSequences) {
    run_drawing(R"(
        out(clip())
        out(clip())
        out(clip(-10, 5, 20, 20))
        rectfill(0, 0, 479, 269, 1) out(pget(9, 5), pget(10, 5), pget(0, 4))
        clip(0, 0, 8, 8)
        out(clip(10, 10, 5, 5, true))
        clip()
        out(select(5, clip(10, 10, -20, -20)))
        out(select(5, clip(40000, 0, 10, 10)))
        out(select(5, clip(400, 260, 1000, 1000)), t_peek(0x552C, 2), t_peek(0x552E, 2))
        clip() t_poke(0x552C, -1, 2)
        rectfill(0, 0, 479, 0, 3) out(pget(479, 0))
    )");
    EXPECT_EQ(output(), (Lines{"5:0,0,0,0,false", "5:0,0,480,270,false", "5:0,0,480,270,false",
                               "3:1,0,0", "5:0,0,8,8,true", "1:true", "1:true", "3:false,480,270", "1:3"}));
}

TEST_F(DrawState, CameraColorColourArgumentsAndFillp) {
    run_drawing(R"(
        out(camera(3, 4)) out(camera()) out(camera())
        color() out(t_peek(0x550C, 2))
        color(0x1000000FF) out(t_peek(0x550C, 2), t_peek(0x5500, 8))
        pset(0, 0, 0x15A5A0107) out(t_peek(0x550C, 2), string.format("%x", t_peek(0x5500, 8)))
        pset(0, 0, 0x0AAAA0102) out(t_peek(0x550C, 2), string.format("%x", t_peek(0x5500, 8)))
        pset(0, 0, "7") out(t_peek(0x550C, 2))
        line(0x800000000) out(t_state())
        fillp() out(t_peek(0x5500, 8))
        fillp(1, 2, 4, 8, 16, 32, 64, 128) out(string.format("%x", t_peek(0x5500, 8)))
        fillp(0x8000) out(string.format("%x", t_peek(0x5500, 8)))
    )");
    EXPECT_EQ(output(), (Lines{"2:0,0", "2:3,4", "2:0,0", "1:6", "2:255,0", "2:263,55aa55aa55aa55aa",
                               "2:258,55aa55aa55aa55aa", "1:258", "2:1,255", "1:0", "1:102040810204080",
                               "1:1100000011"}));
}

TEST_F(DrawState, PatternAndCursorWritesLeaveThePageFlagsAndCameraMarksThem) {
    process_rec *p = drawing(R"(
        t_clear_flags() fillp(0x5A5A) cursor(1, 2) fillp(1, 2, 3, 4, 5, 6, 7, 8)
        out(select(2, t_state()))
        camera(1, 1) out(select(2, t_state()))
    )");
    define(p, "t_clear_flags", [](lua_State *) -> int {
        cproc->page_flags[5] = 0;
        return 0;
    });
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"1:0", "1:255"}));
}

TEST_F(DrawState, AClipBuiltForAWiderTargetIsRebuiltForTheNextOne) {
    // 105536 mod 65536 = 40000: the clip registers of both targets are the
    // same bytes; the rectangle must follow the new target's width.
    run_drawing(R"(
        local wide = t_userdata('u8', 105536, 10)
        local narrow = t_userdata('u8', 40000, 10)
        _set_draw_target(wide) rectfill(0, 0, 200000, 9, 5)
        _set_draw_target(narrow) rectfill(0, 0, 200000, 9, 6)
        out(get(narrow, 39999, 9), get(wide, 105535, 9))
        t_reshape(narrow, "u8", 10, 10)
        rectfill(0, 0, 200000, 200000, 7)
        out(get(narrow, 9, 9))
    )", 480, 270, 100);
    EXPECT_EQ(output(), (Lines{"2:6,5", "1:7"})) << fake_host::log_text();
}

TEST_F(DrawState, ARegisterPageMappedOntoAnArrayIsWhereTheRegistersLive) {
    run_drawing(R"(
        local regs = t_userdata('u8', 4096, 1)
        set(regs, 0x400, 9, 9, 9) set(regs, 0x477, 9) set(regs, 0x478, 9)
        _map_ram(regs, 0x5000)
        pal()
        out(get(regs, 0x400), get(regs, 0x477), get(regs, 0x478))
        camera(7, 8) out(get(regs, 0x510), get(regs, 0x514))
        pset(1, 1, 0x180000005) out(get(regs, 0x50C), get(regs, 0x500))
    )");
    EXPECT_EQ(output(), (Lines{"3:0,0,9", "2:7,8", "2:5,17"}));
}
