// Pixels, spans and the clip rectangle against plain per-pixel references.
#include "gfx_fixture.h"
#include "shapes.h"

namespace {

class PixelPipeline : public GfxTest {
   protected:
    // The span by the plain rule, pixel by pixel; returns the cost.
    int32_t ref_span(typed_ud_rec *b, int64_t x0, int64_t x1, int64_t y, int32_t colour) {
        if (y < proc->clip_y0 || y >= proc->clip_y1 || x1 < proc->clip_x0 || x0 >= proc->clip_x1)
            return 0;
        int64_t a = std::max<int64_t>(x0, proc->clip_x0),
                e = std::min<int64_t>(x1, proc->clip_x1 - 1);
        if (a > e) return 0;
        for (int64_t x = a; x <= e; x++) at(b, x, y) = ref_shape(x, y, colour, at(b, x, y));
        int64_t n = e - a + 1;
        if (peek(REG_SHAPE_TARGET_MASK)) return int32_t(n);
        if (b->width % 8 == 0 && n >= 16) return int32_t(((n - 1) >> 3) + 3);
        return int32_t(((n - 1) >> 2) + 2);
    }
};

TEST_F(PixelPipeline, SpansAndPixelsMatchThePlainRuleOnEveryWidthAlignmentAndMask) {
    const uint32_t widths[] = {8, 479, 480, 4096};
    const uint8_t masks[] = {0, 0x0F, 0x3F, 0xC0, 0xFF};
    for (int path = 0; path < PATHS; path++) {
        std::mt19937 rng(1234 + path);
        random_tables(rng);
        for (uint32_t w : widths) {
            bitmap_ptr ours = make_bitmap(w, 4), ref = make_bitmap(w, 4);
            for (int iter = 0; iter < 300; iter++) {
                SCOPED_TRACE(testing::Message()
                             << "path " << path << " width " << w << " iter " << iter);
                fill_random(ours.get(), rng);
                std::memcpy(px(ref.get()), px(ours.get()), size_t(w) * 4);
                int cx0 = int(rng() % 9), cx1 = int(w) - int(rng() % 9);
                target(ours.get(), cx0, 0, cx1, 4);
                set_masks(masks[rng() % 5], masks[rng() % 5], 0, rng() % 3 ? 0 : masks[rng() % 5]);
                set_pattern(rng() % 2 ? 0 : (uint64_t(rng()) << 32 | rng()));
                int32_t colour = int32_t(rng() & 0xFFFF);
                int y = int(rng() % 4);
                int64_t x0 = int64_t(rng() % (w + 20)) - 10, x1 = x0 + int64_t(rng() % (w + 8)) - 4;
                use_path(path);
                int32_t cost = draw_hline(ours.get(), int32_t(x0), int32_t(x1), y, colour);
                int32_t want = ref_span(ref.get(), x0, x1, y, colour);
                EXPECT_EQ(cost, want);
                int x = int(rng() % (w + 4)) - 2, py = int(rng() % 6) - 1;
                putpixel(ours.get(), x, py, colour);
                if (in_clip(x, py))
                    at(ref.get(), x, py) = ref_shape(x, py, colour, at(ref.get(), x, py));
                ASSERT_EQ(bytes_of(ours.get()), bytes_of(ref.get()));
            }
        }
    }
}

TEST_F(PixelPipeline, RectanglesMatchTheirSpansByThePlainRule) {
    std::mt19937 rng(55);
    const uint8_t masks[] = {0, 0x0F, 0x3F, 0xC0, 0xFF};
    for (uint32_t w : {8u, 37u, 480u}) {
        bitmap_ptr ours = make_bitmap(w, 20), ref = make_bitmap(w, 20);
        for (int iter = 0; iter < 200; iter++) {
            use_path(iter % PATHS);
            if (iter % 10 == 0) random_tables(rng);
            fill_random(ours.get(), rng);
            std::memcpy(px(ref.get()), px(ours.get()), size_t(w) * 20);
            target(ours.get(), int(rng() % 5), int(rng() % 5), int(w) - int(rng() % 5),
                   20 - int(rng() % 5));
            set_masks(masks[rng() % 5], masks[rng() % 5], 0, rng() % 3 ? 0 : masks[rng() % 5]);
            set_pattern(rng() % 3 ? uint64_t(rng()) << 32 | rng() : 0);
            int32_t colour = int32_t(rng() & 0xFFFF);
            int x0 = int(rng() % (w + 10)) - 5, x1 = int(rng() % (w + 10)) - 5,
                y0 = int(rng() % 30) - 5, y1 = int(rng() % 30) - 5;
            int64_t want = 0;
            for (int y = std::min(y0, y1); y <= std::max(y0, y1); y++)
                want += ref_span(ref.get(), std::min(x0, x1), std::max(x0, x1), y, colour);
            ASSERT_EQ(rectfill(ours.get(), x0, y0, x1, y1, colour), want) << iter;
            ASSERT_EQ(bytes_of(ours.get()), bytes_of(ref.get()))
                << "width " << w << " iter " << iter;
        }
    }
}

TEST_F(PixelPipeline, SpanEdgeCases) {
    bitmap_ptr b480 = make_bitmap(480, 8), b479 = make_bitmap(479, 8);
    struct Case {
        const char *what;
        typed_ud_rec *b;
        uint8_t tm;
        int x0, x1, y;
        int32_t cost;
    } cases[] = {
        {"16 unmasked on 480", b480.get(), 0, 100, 115, 0, 4},
        {"16 unmasked on 479", b479.get(), 0, 100, 115, 0, 5},
        {"16 masked", b480.get(), 0x3F, 100, 115, 0, 16},
        {"across the whole clip", b480.get(), 0x3F, -50, 900, 1, 470},  // clip x 5..474
        {"row above the clip", b480.get(), 0, 0, 10, -1, 0},
        {"row below the clip", b480.get(), 0, 0, 10, 7, 0},
        {"reversed", b480.get(), 0x3F, 20, 19, 0, 0},
        {"reversed across the clip", b480.get(), 0, 500, -500, 0, 0},
    };
    for (const Case &c : cases) {
        target(c.b, 5, 0, int(c.b->width) - 5, 7);
        set_masks(0x3F, 0xFF, 0, c.tm);
        std::vector<uint8_t> before = bytes_of(c.b);
        EXPECT_EQ(draw_hline(c.b, c.x0, c.x1, c.y, 9), c.cost) << c.what;
        int drawn = 0;
        for (uint32_t x = 0; x < c.b->width; x++) drawn += at(c.b, x, c.y < 0 ? 0 : c.y) != 0;
        if (c.cost == 0) {
            EXPECT_EQ(bytes_of(c.b), before) << c.what;
        }
        if (std::string(c.what) == "across the whole clip") {
            EXPECT_EQ(drawn, 470);
            EXPECT_EQ(at(c.b, 4, 1), 0);
            EXPECT_EQ(at(c.b, 5, 1), 0xC9);
            EXPECT_EQ(at(c.b, 474, 1), 0xC9);
            EXPECT_EQ(at(c.b, 475, 1), 0);
        }
    }
}

TEST_F(PixelPipeline, ThePatternIsAnchoredToTheTargetAndTheWriteMaskKeepsBits) {
    bitmap_ptr b = make_bitmap(64, 2);
    target(b.get());
    set_pattern(0x55);
    for (int start : {0, 1, 3, 8}) {
        std::memset(px(b.get()), 0, 128);
        draw_hline(b.get(), start, 40, 0, 0x0807);
        for (int x = start; x <= 40; x++)
            EXPECT_EQ(at(b.get(), x, 0), x % 2 == 0 ? 0xC8 : 0xC7) << start << " " << x;
    }
    set_pattern(0);
    set_masks(0x3F, 0x0F, 0, 0);
    for (int x = 0; x < 64; x++) at(b.get(), x, 1) = uint8_t(x * 4);
    draw_hline(b.get(), 0, 63, 1, 0x3A);
    for (int x = 0; x < 64; x++) EXPECT_EQ(at(b.get(), x, 1), ((x * 4) & 0xF0) | 0x0A) << x;
}

TEST_F(PixelPipeline, GetpixelIsZeroOutsideTheBitmapAndInvertedSpansOverTheClipDrawNothing) {
    bitmap_ptr b = make_bitmap(10, 3);
    std::memset(px(b.get()), 7, 30);
    EXPECT_EQ(getpixel(b.get(), 0, 0), 7);
    EXPECT_EQ(getpixel(b.get(), 9, 2), 7);
    for (auto [x, y] : {std::pair{-1, 0}, {10, 0}, {0, -1}, {0, 3}, {INT32_MIN, INT32_MAX}})
        EXPECT_EQ(getpixel(b.get(), x, y), 0) << x << "," << y;
    EXPECT_EQ(getpixel(nullptr, 0, 0), 0);

    target(b.get(), 2, 0, 8, 3);
    EXPECT_EQ(draw_hline_inv(b.get(), 2, 7, 1, 1), 0);
    EXPECT_EQ(draw_hline_inv(b.get(), 7, 2, 1, 1), 0);
    EXPECT_EQ(bytes_of(b.get()), std::vector<uint8_t>(30, 7));
    set_masks(0x3F, 0xFF, 0, 0x3F);
    EXPECT_EQ(draw_hline_inv(b.get(), 5, 4, 1, 1), 4);  // columns 2, 3 and 6, 7
    std::vector<uint8_t> row(px(b.get()) + 10, px(b.get()) + 20);
    EXPECT_EQ(row, (std::vector<uint8_t>{7, 7, 0xC1, 0xC1, 7, 7, 0xC1, 0xC1, 7, 7}));
}

TEST_F(PixelPipeline, TheSpriteRuleForcesTableBitOneWhereThePatternIsSet) {
    bitmap_ptr b = make_bitmap(16, 1);
    target(b.get());
    for (uint32_t t = 0; t < 4; t++)
        for (uint32_t e = 0; e < 4096; e++) poke(COLOUR_TABLES_ADDR + t * 4096 + e, 0x10 * (t + 1));
    set_masks(0xFF, 0xFF, 0, 0);
    set_pattern(0xF0);  // x & 7 of 4..7 patterned
    // source -> table without pattern, with pattern
    struct Case {
        uint32_t src;
        uint8_t plain, patterned;
    } cases[] = {{0x05, 0x10, 0x30}, {0x45, 0x20, 0x40}, {0x85, 0x30, 0x30}, {0xC5, 0x40, 0x40}};
    get_masks_sprite();
    for (const Case &c : cases) {
        EXPECT_EQ(put_texture_pixel_noclip(b.get(), 0, 0, int32_t(c.src)), c.plain) << c.src;
        EXPECT_EQ(put_texture_pixel_noclip(b.get(), 4, 0, int32_t(c.src)), c.patterned) << c.src;
    }
    for (const Case &c : cases) {
        EXPECT_EQ(ref_sprite(3, 0, c.src, 0), c.plain);
        EXPECT_EQ(ref_sprite(5, 0, c.src, 0), c.patterned);
    }
}

TEST_F(PixelPipeline, ClipRebuildFollowsTheRegistersAndTheTargetShape) {
    bitmap_ptr b = make_bitmap(480, 270);
    struct Case {
        int16_t x0, y0, x1, y1;
        int32_t cx0, cx1, cy0, cy1;
    } cases[] = {
        {0, 0, 480, 270, 0, 480, 0, 270},         {-5, -1, 100, 50, 0, 100, 0, 50},
        {10, 20, -1, -300, 10, 480, 20, 270},     {3, 4, 1000, 1000, 3, 480, 4, 270},
        {600, 300, 700, 400, 600, 480, 300, 270},  // wholly beyond: draws nothing
    };
    for (const Case &c : cases) {
        target(b.get(), c.x0, c.y0, c.x1, c.y1);
        EXPECT_EQ(
            (std::vector<int32_t>{proc->clip_x0, proc->clip_x1, proc->clip_y0, proc->clip_y1}),
            (std::vector<int32_t>{c.cx0, c.cx1, c.cy0, c.cy1}));
    }
    std::vector<uint8_t> before = bytes_of(b.get());
    set_masks(0x3F, 0xFF, 0, 0);
    EXPECT_EQ(draw_hline(b.get(), 0, 479, 100, 5), 0);
    putpixel(b.get(), 479, 269, 5);
    EXPECT_EQ(bytes_of(b.get()), before);

    // A cache hit keeps the rectangle even when the record was changed behind it.
    target(b.get(), 1, 2, 30, 40);
    proc->clip_x1 = 7;
    refresh_clip(proc);
    EXPECT_EQ(proc->clip_x1, 7);

    // The same registers over a reshaped target rebuild it.
    b->width = 129600;
    b->height = 1;
    refresh_clip(proc);
    EXPECT_EQ((std::vector<int32_t>{proc->clip_x0, proc->clip_x1, proc->clip_y0, proc->clip_y1}),
              (std::vector<int32_t>{1, 30, 2, 1}));
    b->width = 10;
    b->height = 10;
    refresh_clip(proc);
    EXPECT_EQ((std::vector<int32_t>{proc->clip_x0, proc->clip_x1, proc->clip_y0, proc->clip_y1}),
              (std::vector<int32_t>{1, 10, 2, 10}));
}

TEST_F(PixelPipeline, AStaleWiderClipWritesOnlyInsideTheArray) {
    bitmap_ptr big = make_bitmap(480, 270);
    target(big.get());
    bitmap_ptr small = make_bitmap(10, 10);  // drawn with the 480 x 270 clip still in place
    set_masks(0x3F, 0xFF, 0, 0x3F);
    EXPECT_EQ(draw_hline(small.get(), -5, 1000, 9, 3), 10);
    EXPECT_EQ(draw_hline(small.get(), 0, 1000, 10, 3), 0);
    putpixel(small.get(), 10, 0, 3);
    putpixel(small.get(), 0, 10, 3);
    putpixel(small.get(), 9, 9, 4);
    EXPECT_EQ(at(small.get(), 9, 9), 0xC4);
    EXPECT_EQ(draw_hline_inv(small.get(), 2, 3, 0, 3), 8);
}

}  // namespace
