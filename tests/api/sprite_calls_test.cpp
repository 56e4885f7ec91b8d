// Sprite, map, textured-line and copy calls through Lua, against the
// primitives called in C and the cases of their rules.
#include "blits.h"
#include "draw_fixture.h"
#include "textured_lines.h"

using SpriteCalls = DrawTest;

namespace {

// A 16 x 16 sprite whose pixel (x, y) is 1 + (x + 3 * y) % 15: every pixel
// opaque under the default tables, no two mirrored columns alike.
const char *kSprite = R"(
    local s = t_userdata('u8', 16, 16)
    for y = 0, 15 do for x = 0, 15 do set(s, x, y, 1 + (x + 3 * y) % 15) end end
    _set_spr(1, s)
)";

std::vector<uint8_t> region(process_rec *p, int x0, int y0, int w, int h) {
    std::vector<uint8_t> out;
    const typed_ud_rec *t = p->draw_target;
    const uint8_t *e = ud_elements(const_cast<typed_ud_rec *>(t));
    const std::vector<uint8_t> all(e, e + uint64_t(t->width) * t->height);
    for (int y = y0; y < y0 + h; y++)
        for (int x = x0; x < x0 + w; x++) out.push_back(all[size_t(y) * 480 + size_t(x)]);
    return out;
}

}  // namespace

TEST_F(SpriteCalls, SprAndItsBatchAgainstTheSpritePrimitive) {
    process_rec *p = run_drawing(std::string(kSprite) + R"(
        camera(2, 3)
        spr(1, 12, 13, true)            -- at (10, 10), flipped in x
        spr(16384, 0, 0) spr(-1, 0, 0) spr(9, 0, 0)
        local b = t_userdata('f64', 5, 1) set(b, 0, 1, 100, 10, 0, -1)
        spr(b)                          -- at (100, 10) whatever the camera, flipped in y
        out(charge(spr, 16384, 0, 0))
    )");
    c_bitmap ref(480, 270);
    const remembered_process prev = remember_current_process();
    cproc = p;
    draw_spr(p->sprite[1], ref.rec, 0, 0, 10, 10, 16, 16, 1, 0);
    draw_spr(p->sprite[1], ref.rec, 0, 0, 100, 10, 16, 16, 0, 1);
    restore_current_process(prev);
    EXPECT_EQ(target_bytes(p), ref.bytes());
    EXPECT_EQ(output(), (Lines{"1:1"}));
}

TEST_F(SpriteCalls, SsprStretchesMirrorsAndClipsItsSource) {
    process_rec *p = run_drawing(std::string(kSprite) + R"(
        sspr(1, 0, 0, 16, 16, 0, 0)                     -- plain copy at (0, 0)
        sspr(1, 0, 0, 16, 16, 48, 0, -16, 16)            -- mirrored, 16 further left: (32, 0)
        sspr(1, 0, 0, 32, 16, 0, 20, 32, 16)             -- only 16 columns are in the sprite
        sspr(1, -4, 0, 16, 16, 0, 40)                    -- the source starts at column 0, 4 further right
        sspr(1, 0, 0, 16, 16, 0, 60, 2^40, 16)           -- too wide: nothing
        out(pget(16, 20), pget(15, 20), pget(4, 40), pget(3, 40), pget(16, 40), pget(0, 60))
    )");
    EXPECT_EQ(region(p, 0, 0, 16, 16), region(p, 0, 0, 16, 16));
    std::vector<uint8_t> plain = region(p, 0, 0, 16, 16), mirrored = region(p, 32, 0, 16, 16);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) ASSERT_EQ(mirrored[size_t(y) * 16 + size_t(x)], plain[size_t(y) * 16 + size_t(15 - x)]);
    EXPECT_EQ(region(p, 0, 20, 16, 16), plain);
    EXPECT_EQ(output(), (Lines{"6:0,1,1,0,0,0"}));
}

TEST_F(SpriteCalls, MapCellsLayersZeroAndOutOfRange) {
    process_rec *p = run_drawing(std::string(kSprite) + R"(
        local m = t_userdata('i16', 4, 2)
        set(m, 0, 0, 0, 1, 1 | 0x4000, 1 | 0x2000)
        set(m, 0, 1, 1, 1, 1, 1)
        _draw_map(m, 0, 0, 0, 0, 4, 1, 0, 16, 16)
        out(pget(5, 5), pget(16, 0), pget(47, 0), pget(31, 0))
        _set_spr(0, t_userdata('u8', 16, 16)) t_poke(0x5F36, 8) _draw_map(m, 0, 0, 0, 100, 1, 1, 0, 16, 16)
        fset(1, 2) cls() _draw_map(m, 0, 1, 0, 0, 4, 1, 1, 16, 16) out(pget(0, 0))
        _draw_map(m, 0, 1, 0, 0, 4, 1, 2, 16, 16) out(pget(0, 0))
        cls() _draw_map(m, -3, 0, 0, 0, 5, 1, 0, 16, 16) out(pget(64, 0), pget(0, 0))
        cls() _draw_map(m, 0, 0, 0, 0, 4, 2, 0, 0, 16) out(pget(16, 0))
        cls() _draw_map(m, 0, 1, 0, 0, 4, 1, 0, 8, 8) out(pget(0, 0), pget(7, 7), pget(8, 8))
    )");
    (void)p;
    EXPECT_EQ(output(), (Lines{"4:0,1,1,1", "1:0", "1:1", "** lua54_draw_map OUT OF RANGE ***", "2:1,0",
                               "1:0", "3:5,1,0"}));
}

TEST_F(SpriteCalls, BlitsIntoTheTargetAndIntoOtherArrays) {
    process_rec *p = run_drawing(R"(
        local a = t_userdata('u8', 8, 8) for k = 0, 63 do set(a, k % 8, k // 8, k) end
        clip(0, 0, 4, 4)
        blit(a, nil, 0, 0, 0, 0)
        out(pget(3, 3), pget(4, 4))
        local b = t_userdata('u8', 8, 8)
        blit(a, b, 0, 0, 2, 2) out(get(b, 7, 7), get(b, 2, 2), (select(3, clip())))
        out(charge(blit, a, t_userdata('i16', 8, 8)))
        blit(a, a, 0, 0, 1, 0, 7, 8) out(get(a, 1, 0), get(a, 7, 0))
    )");
    (void)p;
    EXPECT_EQ(output(), (Lines{"2:27,0", "3:45,0,4", "1:1", "2:0,6"}));
}

TEST_F(SpriteCalls, ProcessVideoCopies) {
    process_rec *other = spawn("while true do flip() end", "shown");
    ASSERT_NE(other, nullptr);
    poke2_proc(other, 0x5478, 480);
    poke2_proc(other, 0x547A, 270);
    for (uint32_t a = 0x10000; a < 0x10000 + 480; a++) poke_proc(other, a, 9);
    const std::string id = std::to_string(other->id);
    process_rec *p = drawing("out(charge(_blit_process_video, " + id + "), pget(0, 0), pget(0, 1)) "
                             "t_flag(2) out(_blit_process_video(" + id + ")) "
                             "out(select('#', _blit_process_video(99999))) "
                             "t_flag(0) t_mask(1) out(charge(_blit_process_video, " + id + ", 0, 0, 16, 1) > 0)");
    define(p, "t_flag", [](lua_State *L) -> int {
        poke_proc(get_process(get_process_by_index(0)->id), 0x547F, luaL_checkinteger(L, 1));
        return 0;
    });
    define(p, "t_mask", [](lua_State *L) -> int {
        poke_proc(get_process_by_index(0), 0x547D, luaL_checkinteger(L, 1));
        return 0;
    });
    for (int i = 0; i < 2; i++) run_process_slice(p, 1.0);
    // A whole unmasked display is charged like blit: cost / 64.
    EXPECT_EQ(output(), (Lines{"3:506,9,0", "1:true", "1:0", "1:true"}));
}

TEST_F(SpriteCalls, Tline3dSingleAndBatchAgainstThePrimitive) {
    process_rec *p = run_drawing(std::string(kSprite) + R"(
        camera(1, 1)
        tline3d(1, 11, 11, 60, 31, 0, 0, 15.5, 15.5)
        local b = t_userdata('f64', 12, 1) set(b, 0, 1, 1, 51, 80, 51, 0, 0, 8, 0, 1, 2, 0)
        tline3d(b)
        out(charge(tline3d, 1, 2, 3))
    )");
    c_bitmap ref(480, 270);
    const remembered_process prev = remember_current_process();
    cproc = p;
    draw_tline3d(p->sprite[1], ref.rec, 0, 10, 10, 59, 30, 0, 0, 15.5, 15.5, 1, 1);
    draw_tline3d(p->sprite[1], ref.rec, 0, 0, 50, 79, 50, 0, 0, 8, 0, 1, 2);
    restore_current_process(prev);
    EXPECT_EQ(target_bytes(p), ref.bytes());
    EXPECT_EQ(output(), (Lines{"1:0"}));
}
