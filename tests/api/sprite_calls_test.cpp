// Sprite, map, textured-line and copy calls through Lua, against the
// primitives called in C and the cases of their rules.
#include <iterator>

#include "blits.h"
#include "crc32.h"
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
        -- Starts and ends at the integer limits: nothing
        sspr(1, math.mininteger, 0, 2, 16, 0, 80) sspr(1, 0, 0, 16, 16, math.mininteger, 80)
        sspr(1, 0, 0, 16, 16, 0, math.maxinteger) sspr(1, 0, 0, 16, 16, math.maxinteger - 8, 80, 32, 8)
        out(pget(16, 20), pget(15, 20), pget(4, 40), pget(3, 40), pget(16, 40), pget(0, 60))
    )");
    std::vector<uint8_t> sprite;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) sprite.push_back(uint8_t(1 + (x + 3 * y) % 15));
    EXPECT_EQ(region(p, 0, 0, 16, 16), sprite);
    EXPECT_EQ(region(p, 0, 60, 480, 210), std::vector<uint8_t>(480 * 210, 0));
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
        -- Screen positions no cell of which reaches the clip: nothing, at once
        -- (the cull once overflowed and ran about 2^60 cells).
        cls()
        for _, v in ipairs({0/0, 1/0, -1/0, 1e300, -1e300, math.mininteger, math.maxinteger}) do
            _draw_map(m, 0, 0, v, 0, 4, 2, 0, 8, 8) _draw_map(m, 0, 0, 0, v, 4, 2, 0, 8, 8)
            _draw_map(m, 0, 0, v, v, -1, -1, 0, 1, 1)
        end
    )");
    EXPECT_EQ(output(), (Lines{"4:0,1,1,1", "1:0", "1:1", "** lua54_draw_map OUT OF RANGE ***", "2:1,0",
                               "1:0", "3:5,1,0"}));
    EXPECT_EQ(target_bytes(p), std::vector<uint8_t>(480 * 270, 0));
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

TEST_F(SpriteCalls, ASpriteTextureOrMapCellDrawnOntoItselfShowsItAsItWas) {
    // T is 4 x 2: 1 2 3 4 / 5 6 7 8, and is sprite 2 as well.
    run_drawing(R"(
        local function reset() set(T, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8) end
        _set_spr(2, T)
        reset() spr(2, 0, 0, true) out(get(T, 0, 0, 8))
        reset() spr(2, 0, 0, false, true) out(get(T, 0, 0, 8))
        -- Transposed: row 0 shows column 1, row 1 column 3, each over rows 0, 0, 1, 1.
        local m = t_userdata('i16', 1, 1) set(m, 0, 2 | 0x2000)
        reset() _draw_map(m, 0, 0, 0, 0, 1, 1, 0, 4, 2) out(get(T, 0, 0, 8))
        -- Stretched and textured: each read the target as it was (they once
        -- read pixels they had drawn: 4 3 3 4 / 8 7 7 8, all 1, and 4 3 4 4).
        reset() sspr(2, 0, 0, 4, 2, 0, 0, 4, 2, true) out(get(T, 0, 0, 8))
        reset() sspr(2, 0, 0, 2, 1, 0, 0, 4, 2) out(get(T, 0, 0, 8))
        reset() tline3d(2, 0, 0, 3, 0, 3.5, 0, -0.5, 0) out(get(T, 0, 0, 4))
        -- The same line as a batch record, and through a map cell naming the target.
        local b = t_userdata('f64', 12, 1) set(b, 0, 2, 0, 0, 3, 0, 3.5, 0, -0.5, 0, 1, 1, 0)
        reset() tline3d(b) out(get(T, 0, 0, 4))
        local cells = t_userdata('i16', 1, 1) set(cells, 0, 2)
        reset() tline3d(cells, 0, 0, 3, 0, 0.875, 0, -0.125, 0) out(get(T, 0, 0, 4))
        -- Drawn one to the right, plain and as a batch record (each pixel once
        -- read the one it had just drawn: 1 1 1 1 / 5 5 5 5).
        reset() spr(2, 1, 0) out(get(T, 0, 0, 8))
        local one = t_userdata('f64', 3, 1) set(one, 0, 2, 1, 0)
        reset() spr(one) out(get(T, 0, 0, 8))
        -- The same record 150000 times: a batch that goes on over slices reads
        -- the copy it made at its start in every slice.
        reset() spr(one, 0, 150000, 3, 0) out(_yielded_to_escape_slice(), get(T, 0, 0, 8))
        -- Changed between two slices of a batch inside a coroutine: put into
        -- a slot only then (no slot holds it at the start), the target is
        -- copied when a record is first drawn after; retyped, it is copied
        -- anew as it is now (a copy of the old shape was once read as the new).
        local function long(f, between)
            local co = coroutine.create(f) coroutine.resume(co)
            local stopped = coroutine.status(co) == 'suspended'
            between() while coroutine.status(co) ~= 'dead' do coroutine.resume(co) end
            return stopped
        end
        _set_spr(2, nil)
        reset() out(long(function() spr(one, 0, 150000, 3, 0) end, function() _set_spr(2, T) end), get(T, 0, 0, 8))
        -- Retyped from u8 to i16 under a batch textured by the target (256 x
        -- 256, a copy the size sanitizers watch): the copy of 256 u8 columns
        -- was read as a map of 128 i16 cells a row, past its end.
        local U = t_userdata('u8', 256, 256) _set_draw_target(U) _set_spr(6, U)
        local row = t_userdata('f64', 12, 1) set(row, 0, 6, 0, 255, 255, 255, 0, 255, 256, 255, 1, 1, 0)
        out(long(function() tline3d(row, 0, 3000, 12, 0) end, function() t_reshape(U, 'i16', 128, 256) end),
            get(U, 0, 255, 4))
    )", 4, 2, 16);
    EXPECT_EQ(output(), (Lines{"8:4,3,2,1,8,7,6,5", "8:5,6,7,8,1,2,3,4", "8:2,2,6,6,4,4,8,8", "8:4,3,2,1,8,7,6,5",
                               "8:1,1,2,2,1,1,2,2", "4:4,3,1,4", "4:4,3,1,4", "4:4,3,1,4",
                               "8:1,1,2,3,5,5,6,7", "8:1,1,2,3,5,5,6,7", "9:true,1,1,2,3,5,5,6,7",
                               "9:true,1,1,2,3,5,5,6,7", "5:true,0,0,0,0"}))
        << fake_host::log_text();
}

namespace {

// One map cell: its flip and transpose bits and the cell size.
struct map_cell_case {
    uint16_t bits;   // 0x2000 transposed, 0x4000 flipped in x, 0x8000 in y
    int cw, ch;      // the cell size; the sprite is 5 x 3
    uint32_t crc;    // CRC-32 of the cell's cw x ch pixels, row by row
};

// Pixel (k, j) of a cell showing the 5 x 3 sprite whose pixel (x, y) is
// 1 + x + 5y: each pixel samples the sprite at its centre scaled to the
// sprite, mirrored within the cell's rows and columns by the flips, with
// rows and columns exchanged when transposed. Odd sprite sizes and even
// scaled cell sizes keep every centre off the sprite's pixel edges.
uint8_t map_cell_pixel(const map_cell_case &c, int k, int j) {
    const int w = 5, h = 3;
    const bool transposed = c.bits & 0x2000, fx = c.bits & 0x4000, fy = c.bits & 0x8000;
    const int i = fy ? c.ch - 1 - j : j;
    const double along = (k + 0.5) / c.cw, across = (i + 0.5) / c.ch;  // fractions of the cell
    const double a = fx ? 1 - along : along;
    const int x = transposed ? int(across * w) : int(a * w);
    const int y = transposed ? int(a * h) : int(across * h);
    return uint8_t(1 + x + w * y);
}

}  // namespace

TEST_F(SpriteCalls, MapCellsEveryFlipAndTransposeAgainstAPlainPerPixelRule) {
    const map_cell_case cases[] = {
        {0x0000, 5, 3, 0xF5A6AA3A}, {0x4000, 5, 3, 0x472D1A67},
        {0x8000, 5, 3, 0x11877DF5}, {0xC000, 5, 3, 0x52A82B9F},
        {0x2000, 5, 3, 0x38E9D049}, {0x6000, 5, 3, 0x0640CF7C},
        {0xA000, 5, 3, 0x92A502D9}, {0xE000, 5, 3, 0xAC0C1DEC},
        {0x0000, 4, 6, 0xF1364EA0}, {0x4000, 4, 6, 0x1D66F8E2},
        {0x8000, 4, 6, 0xF75A5410}, {0xC000, 4, 6, 0xA98C01F8},
        {0x2000, 6, 4, 0xE97DF810}, {0x6000, 6, 4, 0x8029593B},
        {0xA000, 6, 4, 0x5A253CDE}, {0xE000, 6, 4, 0x511EEAA5},
    };
    std::string code = R"(
        local s = t_userdata('u8', 5, 3)
        for y = 0, 2 do for x = 0, 4 do set(s, x, y, 1 + x + 5 * y) end end
        _set_spr(3, s)
        local m = t_userdata('i16', 1, 1)
    )";
    for (size_t n = 0; n < std::size(cases); n++) {
        const map_cell_case &c = cases[n];
        code += "set(m, 0, " + std::to_string(3 | c.bits) + ") _draw_map(m, 0, 0, " + std::to_string(8 * n) +
                ", 0, 1, 1, 0, " + std::to_string(c.cw) + ", " + std::to_string(c.ch) + ")\n";
    }
    process_rec *p = run_drawing(code);
    ASSERT_NE(p, nullptr);
    for (size_t n = 0; n < std::size(cases); n++) {
        const map_cell_case &c = cases[n];
        SCOPED_TRACE(::testing::Message() << "cell bits 0x" << std::hex << c.bits << std::dec << ", " << c.cw << " x "
                                          << c.ch);
        std::vector<uint8_t> expected;
        for (int j = 0; j < c.ch; j++)
            for (int k = 0; k < c.cw; k++) expected.push_back(map_cell_pixel(c, k, j));
        EXPECT_EQ(crc32b(expected.data(), int64_t(expected.size())), c.crc);
        EXPECT_EQ(region(p, int(8 * n), 0, c.cw, c.ch), expected);
    }
}
