// pal and palt: which bytes each form writes, the page marks and the charges.
#include "draw_fixture.h"

using PaletteCalls = DrawTest;

TEST_F(PaletteCalls, TheFormsOfPal) {
    process_rec *p = run_drawing(R"(
        pal(0) pal(3, 7) rectfill(0, 0, 0, 0, 3)
        out(pget(0, 0), t_peek(0x80C0), t_peek(0x80FF))
        out(charge_once(pal))                   -- 1 + 8 for the one page changed
        out(t_peek(0x80C0), charge(pal), charge(pal, 0))
        pal(3, 7, 64) out(t_peek(0x90C0), t_peek(0x80C0))
        pal(5, 0x112233, 2) out(string.format("%x", t_peek(0x5014, 4)))
        out(charge_once(pal, 2), string.format("%x", t_peek(0x5014, 4)))
        out(charge(pal, {[1] = 8, [2] = 9, x = 3}, 1), t_peek(0x5481), t_peek(0x5482))
        out(charge(pal, 1), t_peek(0x5481))
        pal(7) out(t_peek(0x5487))
    )");
    (void)p;
    EXPECT_EQ(output(), (Lines{"3:7,199,199", "1:9", "3:195,1,0", "2:199,195", "1:112233", "2:1,5f574f",
                               "3:48,8,9", "2:1,1", "1:7"}));  // 16 an entry walked
}

TEST_F(PaletteCalls, PalClearsTheRowBanksAndOnlyThem) {
    process_rec *p = drawing(R"(
        for a = 0x5400, 0x5478 do t_poke(a, 0x5A) end
        pal()
        out(t_peek(0x5400), t_peek(0x5477), t_peek(0x5478))
    )");
    for (int i = 0; p && i < 2; i++) frame();
    EXPECT_EQ(output(), (Lines{"3:0,0,90"}));
}

TEST_F(PaletteCalls, PaltFormsAndTheirPageMarks) {
    process_rec *p = drawing(R"(
        palt() out(t_peek(0x8000), t_peek(0x8001), t_peek(0x8040), t_peek(0x8041))
        palt(0x21) out(t_peek(0x8001), t_peek(0x8141), t_peek(0x8041))
        palt(12, true) out(t_peek(0x8305), t_peek(0x8340))
        palt(12, false) out(t_peek(0x8305))
        palt(0x4C, true) out(t_peek(0x9305), t_flags(9))
        out(charge(palt, 0x21), charge(palt, 12, true))  -- the whole table's 64 rows, and one row
    )");
    define(p, "t_flags", [](lua_State *L) -> int {
        lua_pushinteger(L, cproc->page_flags[luaL_checkinteger(L, 1)]);
        return 1;
    });
    frame();
    EXPECT_EQ(output(), (Lines{"4:0,1,193,193", "3:1,1,193", "2:5,205", "1:204", "2:69,255", "2:64,0"}));
}
