// Textured lines against a plain reference of their steps in doubles.
#include <cmath>

#include "gfx_fixture.h"
#include "line_reference.h"
#include "tline_reference.h"
#include "saturate.h"
#include "textured_lines.h"

namespace {

class TLine : public GfxTest {
   protected:
    void TearDown() override {
        for (auto &s : proc->sprite) s = nullptr;
        GfxTest::TearDown();
    }

    int32_t ref_tline3d(typed_ud_rec *src, typed_ud_rec *dst, int32_t flags, double x0, double y0,
                        double x1, double y1, double tu0, double tv0, double tu1, double tv1,
                        double w0, double w1) {
        return tline_reference::tline3d(proc, src, dst, flags, x0, y0, x1, y1, tu0, tv0, tu1, tv1,
                                        w0, w1);
    }

    // A 16 x 16 texture whose texel (x, y) is x + 16 y (so any texel names itself).
    bitmap_ptr counting_texture(uint32_t w = 16, uint32_t h = 16) {
        bitmap_ptr t = make_bitmap(w, h);
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) at(t.get(), x, y) = uint8_t(x + 16 * y);
        return t;
    }

    // Identity tables: the written byte is the source colour as it is.
    void identity_tables() {
        for (uint32_t t = 0; t < 4; t++)
            for (uint32_t s = 0; s < 64; s++)
                for (uint32_t d = 0; d < 64; d++) poke(0x8000 + t * 4096 + s * 64 + d, s | t << 6);
        set_masks(0xFF, 0xFF, 0, 0);
    }
};

TEST_F(TLine, EdgeCases) {
    bitmap_ptr tex = counting_texture(), dst = make_bitmap(32, 16);
    target(dst.get());
    identity_tables();
    // Horizontal from (10, 5) to (2, 5): starts at x 2 with the second end's texture values.
    EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, 10, 5, 2, 5, 0, 0, 8, 0, 1, 1), 9);
    for (int x = 2; x <= 10; x++) EXPECT_EQ(at(dst.get(), x, 5), 8 - (x - 2)) << x;
    // Dropping the last pixel.
    std::memset(px(dst.get()), 0, 32 * 16);
    EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0x100, 0, 1, 9, 1, 0, 0, 9, 0, 1, 1), 9);
    EXPECT_EQ(at(dst.get(), 8, 1), 8);
    EXPECT_EQ(at(dst.get(), 9, 1), 0);
    // Wrap width 8 repeats the first 8 columns; 0 follows the texture's width.
    poke2(0x5534, 8);
    draw_tline3d(tex.get(), dst.get(), 0, 0, 2, 31, 2, 0, 0, 31, 0, 1, 1);
    for (int x = 0; x < 32; x++) EXPECT_EQ(at(dst.get(), x, 2), x % 8) << x;
    poke2(0x5534, 0);
    draw_tline3d(tex.get(), dst.get(), 0, 0, 3, 31, 3, 0, 0, 31, 0, 1, 1);
    for (int x = 0; x < 32; x++) EXPECT_EQ(at(dst.get(), x, 3), x % 16) << x;
    // Offsets after wrapping.
    poke2(0x5530, -3);
    poke2(0x5532, 2);
    draw_tline3d(tex.get(), dst.get(), 0, 0, 4, 31, 4, 0, 0, 31, 0, 1, 1);
    for (int x = 0; x < 32; x++) EXPECT_EQ(at(dst.get(), x, 4), ((x - 3) & 15) + 32) << x;
    poke2(0x5530, 0);
    poke2(0x5532, 0);

    // Map cells: sprite 5 is a 4 x 4 counting sprite.
    bitmap_ptr map = make_bitmap(4, 4, UTYPE_I16), spr = make_bitmap(4, 4);
    for (int i = 0; i < 16; i++) px(spr.get())[i] = uint8_t(i + 1);
    proc->sprite[5] = spr.get();
    const struct {
        uint16_t cell;
        uint8_t row0[4];
    } cells[] = {{0x0005, {1, 2, 3, 4}},
                 {0x4005, {4, 3, 2, 1}},
                 {0xC005, {16, 15, 14, 13}},
                 {0x0006, {0, 0, 0, 0}}};
    for (auto &c : cells) {
        for (int i = 0; i < 16; i++) std::memcpy(px(map.get()) + i * 2, &c.cell, 2);
        std::memset(px(dst.get()), 0x3F, 32 * 16);
        // One map cell across 4 pixels: u from 0 to 0.75 in steps of 0.25.
        draw_tline3d(map.get(), dst.get(), 0, 0, 0, 3, 0, 0, 0, 0.75, 0, 1, 1);
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(at(dst.get(), x, 0), c.row0[x]) << std::hex << c.cell << " " << x;
    }

    // Costs: the unmasked, unpatterned case is charged half.
    set_masks(0x3F, 0x3F, 0x3F, 0);
    EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, 0, 7, 9, 7, 0, 0, 9, 0, 1, 1), 5);
    set_pattern(1);
    EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, 0, 7, 9, 7, 0, 0, 9, 0, 1, 1), 10);
}

TEST_F(TLine, TheFastCaseDrawsTheGeneralRulesPixels) {
    std::mt19937 rng(31);
    bitmap_ptr a = make_bitmap(64, 48), b = make_bitmap(64, 48);
    set_masks(0x3F, 0x3F, 0x3F, 0);
    for (int iter = 0; iter < 300; iter++) {
        bitmap_ptr tex = make_bitmap(1u << (rng() % 6), 1u << (rng() % 6));
        fill_random(tex.get(), rng);
        fill_random(a.get(), rng);
        std::memcpy(px(b.get()), px(a.get()), 64 * 48);
        double c[10];
        for (double &v : c) v = double(int(rng() % 2000) - 500) / 10.0;
        c[8] = 0.5 + (rng() % 100) / 50.0, c[9] = 0.5 + (rng() % 100) / 50.0;
        target(a.get());
        gfx_force_plain_paths = 0;
        int32_t ca = draw_tline3d(tex.get(), a.get(), 0, c[0], c[1], c[2], c[3], c[4], c[5], c[6],
                                  c[7], c[8], c[9]);
        target(b.get());
        gfx_force_plain_paths = 1;
        int32_t cb = draw_tline3d(tex.get(), b.get(), 0, c[0], c[1], c[2], c[3], c[4], c[5], c[6],
                                  c[7], c[8], c[9]);
        ASSERT_EQ(bytes_of(a.get()), bytes_of(b.get())) << iter;
        ASSERT_EQ(ca, cb);
    }
}

TEST_F(TLine, RandomLinesMatchTheReferenceSteps) {
    std::mt19937 rng(17);
    bitmap_ptr ours = make_bitmap(80, 60), ref = make_bitmap(80, 60);
    bitmap_ptr map = make_bitmap(8, 4, UTYPE_I16);
    std::vector<bitmap_ptr> sprites;
    for (int i = 0; i < 8; i++) {
        sprites.push_back(make_bitmap(1u << (rng() % 4), 1u << (rng() % 4)));
        fill_random(sprites.back().get(), rng);
        proc->sprite[i + 1] = sprites.back().get();
    }
    sprites.push_back(make_bitmap(0, 8));  // an empty sprite in slot 9
    proc->sprite[9] = sprites.back().get();
    for (int iter = 0; iter < 3000; iter++) {
        bool use_map = iter % 3 == 0;
        bitmap_ptr tex = make_bitmap(rng() % 5 == 0 ? 12 : 1u << (rng() % 6), 1u << (rng() % 6));
        fill_random(tex.get(), rng);
        for (int i = 0; i < 32; i++) {
            uint16_t cell =
                uint16_t((rng() % 11) | (rng() % 2 ? 0x4000 : 0) | (rng() % 2 ? 0x8000 : 0));
            std::memcpy(px(map.get()) + i * 2, &cell, 2);
        }
        typed_ud_rec *src = use_map ? map.get() : tex.get();
        if (iter % 4 == 0) random_tables(rng);
        set_masks(rng() % 2 ? 0x3F : uint8_t(rng()), rng() % 2 ? 0x3F : uint8_t(rng()),
                  rng() % 2 ? 0x3F : uint8_t(rng()), 0);
        set_pattern(rng() % 2 ? 0 : rng());
        poke2(0x5530, int(rng() % 40) - 20);
        poke2(0x5532, int(rng() % 40) - 20);
        poke2(0x5534, rng() % 3 ? 0 : 1 << (rng() % 6));
        poke2(0x5536, rng() % 3 ? 0 : 1 << (rng() % 6));
        fill_random(ours.get(), rng);
        std::memcpy(px(ref.get()), px(ours.get()), 80 * 60);
        target(ours.get(), int(rng() % 10), int(rng() % 10), 70 + int(rng() % 11),
               50 + int(rng() % 11));
        auto coord = [&](double span) {
            return double(int64_t(rng() % 4000) - 1000) * span / 2000.0;
        };
        double x0 = coord(100), y0 = coord(80), x1 = coord(100), y1 = coord(80);
        if (iter % 10 == 0) y1 = y0;
        double u0 = coord(40), v0 = coord(40), u1 = coord(40), v1 = coord(40);
        double w0 = 0.25 + (rng() % 100) / 40.0, w1 = 0.25 + (rng() % 100) / 40.0;
        int32_t flags = int32_t(rng() % 4) << 8;
        gfx_force_plain_paths = iter % 2;
        int32_t cost = draw_tline3d(src, ours.get(), flags, x0, y0, x1, y1, u0, v0, u1, v1, w0, w1);
        int32_t want = ref_tline3d(src, ref.get(), flags, x0, y0, x1, y1, u0, v0, u1, v1, w0, w1);
        ASSERT_EQ(bytes_of(ours.get()), bytes_of(ref.get())) << iter;
        ASSERT_EQ(cost, want) << iter;
    }
}

TEST_F(TLine, NonFiniteAndHugeArgumentsAndEmptyTextures) {
    bitmap_ptr tex = counting_texture(), dst = make_bitmap(32, 16), empty = make_bitmap(0, 4);
    target(dst.get());
    const double nan = std::nan(""), inf = INFINITY;
    const double bad[] = {nan, inf, -inf};
    for (double v : bad) {
        EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, v, 0, 10, 0, 0, 0, 1, 1, 1, 1), 0);
        EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, 0, 0, 10, v, 0, 0, 1, 1, 1, 1), 0);
        // Non-finite texture values and depths draw texel 0 (wrapped) and cost as usual.
        EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, 0, 0, 9, 0, v, 0, 1, v, 1, 1), 10);
        EXPECT_EQ(draw_tline3d(tex.get(), dst.get(), 0, 0, 1, 9, 1, 0, 0, 1, 1, v, 0), 10);
    }
    EXPECT_EQ(
        draw_tline3d(tex.get(), dst.get(), 0, -1e300, 3, 1e300, 3, 0, 0, 1e300, -1e300, 1, 1e300),
        32);
    EXPECT_EQ(draw_tline3d(empty.get(), dst.get(), 0, 0, 0, 10, 0, 0, 0, 1, 1, 1, 1), 0);
    bitmap_ptr f64 = make_bitmap(4, 4, UTYPE_F64);
    EXPECT_EQ(draw_tline3d(f64.get(), dst.get(), 0, 0, 0, 10, 0, 0, 0, 1, 1, 1, 1), 0);
    EXPECT_EQ(draw_tline3d(nullptr, dst.get(), 0, 0, 0, 10, 0, 0, 0, 1, 1, 1, 1), 0);
    EXPECT_EQ(draw_tline_sspr(empty.get(), dst.get(), 0, 0, 10, 0, 0, 0, 1, 1), 0);
    EXPECT_EQ(draw_tline_sspr(f64.get(), dst.get(), 0, 0, 10, 0, 0, 0, 1, 1), 0);
}

TEST_F(TLine, AffineLinesSkipTexelsOutsideTheSprite) {
    bitmap_ptr spr = counting_texture(4, 4), dst = make_bitmap(32, 16);
    target(dst.get());
    identity_tables();
    std::memset(px(dst.get()), 0xEE, 32 * 16);
    // Eight pixels walking u from -2 to 5: texels -2, -1 and 4, 5 lie outside.
    EXPECT_EQ(draw_tline_sspr(spr.get(), dst.get(), 0, 0, 7, 0, -2, 1, 5, 1), 8);
    const uint8_t want[8] = {0xEE, 0xEE, 16, 17, 18, 19, 0xEE, 0xEE};
    for (int x = 0; x < 8; x++) EXPECT_EQ(at(dst.get(), x, 0), want[x]) << x;
    // A vertical line given bottom end first, then NaN and huge texture coordinates.
    EXPECT_EQ(draw_tline_sspr(spr.get(), dst.get(), 9, 6, 9, 3, 0, 3, 0, 0), 4);
    for (int y = 3; y <= 6; y++)
        EXPECT_EQ(at(dst.get(), 9, y), 16 * (y - 3)) << y;  // the upper end starts
    EXPECT_EQ(draw_tline_sspr(spr.get(), dst.get(), 0, 9, 5, 9, std::nan(""), 0, 1e300, -1e300), 6);
    for (int x = 0; x <= 5; x++) EXPECT_EQ(at(dst.get(), x, 9), 0xEE);
    EXPECT_EQ(draw_tline_sspr(spr.get(), dst.get(), 0, 0, 0, 0, 3.5, 3.5, 100, 100), 1);
    EXPECT_EQ(at(dst.get(), 0, 0), 51);
}

TEST_F(TLine, PerspectiveFloorGoldens) {
    std::mt19937 rng(2);
    bitmap_ptr tex = make_bitmap(128, 128), dst = make_bitmap(480, 270),
               map = make_bitmap(32, 32, UTYPE_I16);
    fill_random(tex.get(), rng);
    std::vector<bitmap_ptr> sprites;
    for (int i = 1; i <= 4; i++) {
        sprites.push_back(make_bitmap(8, 8));
        fill_random(sprites.back().get(), rng);
        proc->sprite[i] = sprites.back().get();
    }
    for (int i = 0; i < 32 * 32; i++) {
        uint16_t cell = uint16_t(rng() % 6 | (rng() % 4) << 14);
        std::memcpy(px(map.get()) + i * 2, &cell, 2);
    }
    target(dst.get());
    for (auto [src, crc] : {std::pair{tex.get(), 1236269676u}, std::pair{map.get(), 2680865654u}}) {
        std::memset(px(dst.get()), 0, 129600);
        for (int y = 0; y < 270; y++) {
            double z = 270.0 / (y + 1);  // depth of the row
            double w = 1.0 / z;
            double u0 = (-240) * z / 64 * w, u1 = 240 * z / 64 * w, v = z * 4 * w;
            draw_tline3d(src, dst.get(), 0, 0, y, 479, y, u0 + 2 * w, v, u1 + 2 * w, v, w, w);
        }
        EXPECT_EQ(crc_of(dst.get()), crc) << (src == tex.get() ? "bitmap" : "map");
    }
}

}  // namespace
