// Rectangles, lines, ellipses and rounded rectangles.
#include <set>
#include <string>

#include "gfx_fixture.h"
#include "line_reference.h"
#include "shapes.h"

namespace {

class Shapes : public GfxTest {
   protected:
    // Every table entry 0xFF: each drawn pixel becomes 0xFF whatever it was.
    void constant_tables() {
        for (uint32_t a = COLOUR_TABLES_ADDR; a < COLOUR_TABLES_ADDR + COLOUR_TABLES_BYTES; a++)
            poke(a, 0xFF);
    }
    std::set<std::pair<int64_t, int64_t>> drawn(typed_ud_rec *b) {
        std::set<std::pair<int64_t, int64_t>> s;
        for (uint32_t y = 0; y < b->height; y++)
            for (uint32_t x = 0; x < b->width; x++)
                if (at(b, x, y)) s.insert({x, y});
        return s;
    }
    std::string art(typed_ud_rec *b, uint32_t w, uint32_t h) {
        std::string s;
        for (uint32_t y = 0; y < h; y++) {
            for (uint32_t x = 0; x < w; x++) s += at(b, x, y) ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

TEST_F(Shapes, LineCases) {
    bitmap_ptr b = make_bitmap(480, 270);
    constant_tables();
    struct Case {
        const char *what;
        int cx0, cy0, cx1, cy1;
        int x0, y0, x1, y1;
        int32_t cost;
        std::set<std::pair<int64_t, int64_t>> pixels;  // empty: only the count is checked
        size_t count;
    } cases[] = {
        {"shallow", 0, 0, 480, 270, 0, 0, 3, 1, 4, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}, 4},
        {"a point", 0, 0, 480, 270, 7, 9, 7, 9, 1, {{7, 9}}, 1},
        {"clipped horizontal", 0, 0, 480, 270, -100, 5, 100, 5, 101, {}, 101},
        {"exact edge", 5, 43, 31, 59, -3, 40, 9, 64, 3, {{5, 56}, {6, 57}, {6, 58}}, 3},
        {"zero y step above the clip", 0, 0, 480, 270, -100000, -1, 100000, 0, 0, {}, 0},
        {"zero x step left of the clip", 0, 0, 480, 270, -1, -100000, 0, 100000, 0, {}, 0},
        {"zero y step inside", 0, 0, 480, 270, -100000, 0, 100000, 1, 480, {}, 480},
        {"ends swapped", 0, 0, 480, 270, 3, 1, 0, 0, 4, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}, 4},
        {"wholly left", 10, 0, 480, 270, 0, 0, 9, 200, 0, {}, 0},
    };
    for (const Case &c : cases) {
        std::memset(px(b.get()), 0, 480 * 270);
        target(b.get(), c.cx0, c.cy0, c.cx1, c.cy1);
        EXPECT_EQ(draw_line(b.get(), c.x0, c.y0, c.x1, c.y1, 1), c.cost) << c.what;
        auto got = drawn(b.get());
        EXPECT_EQ(got.size(), c.count) << c.what;
        if (!c.pixels.empty()) {
            EXPECT_EQ(got, c.pixels) << c.what;
        }
    }
    EXPECT_EQ(at(b.get(), 0, 0), 0);  // the last case drew nothing
    std::memset(px(b.get()), 0, 480 * 270);
    target(b.get());
    draw_line(b.get(), -100000, 0, 100000, 1, 1);
    for (int x = 0; x < 480; x++) ASSERT_EQ(at(b.get(), x, 0), 0xFF) << x;
}

TEST_F(Shapes, RandomLinesDrawTheirWalkBetweenTheBoundsAndNothingOutsideTheClip) {
    bitmap_ptr b = make_bitmap(64, 48);
    constant_tables();
    std::mt19937_64 rng(99);
    auto coord = [&](int64_t size) -> int32_t {
        switch (rng() % 4) {
            case 0:
                return int32_t(uint32_t(rng()));  // anywhere in 32 bits
            case 1:
                return int32_t(int64_t(rng() % 200000) - 100000);
            default:
                return int32_t(int64_t(rng() % uint64_t(size + 40)) - 20);
        }
    };
    for (int iter = 0; iter < 20000; iter++) {
        std::memset(px(b.get()), 0, 64 * 48);
        int cx0 = int(rng() % 20), cy0 = int(rng() % 20);
        int cx1 = cx0 + int(rng() % 45), cy1 = cy0 + int(rng() % 29);
        target(b.get(), cx0, cy0, cx1, cy1);
        int32_t x0 = coord(64), y0 = coord(48), x1 = coord(64), y1 = coord(48);
        int32_t cost = draw_line(b.get(), x0, y0, x1, y1, 1);
        ref_line r = reference_line(x0, y0, x1, y1, proc->clip_x0, proc->clip_y0, proc->clip_x1,
                                    proc->clip_y1);
        std::set<std::pair<int64_t, int64_t>> want;
        if (!r.empty)
            for (int64_t i = r.first; i <= r.last; i++)
                want.insert({(r.X0 + i * r.sx) >> 16, (r.Y0 + i * r.sy) >> 16});
        auto got = drawn(b.get());
        ASSERT_EQ(got, want) << x0 << "," << y0 << " " << x1 << "," << y1 << " clip " << cx0 << ","
                             << cy0 << " " << cx1 << "," << cy1;
        for (auto [x, y] : got) ASSERT_TRUE(in_clip(x, y));
        int64_t want_cost =
            r.empty ? 0 : std::clamp<int64_t>(r.last - r.first + 1, INT32_MIN, INT32_MAX);
        ASSERT_EQ(cost, want_cost);
    }
}

TEST_F(Shapes, OvalCasesAndExactCosts) {
    bitmap_ptr b = make_bitmap(16, 12);
    constant_tables();
    target(b.get());
    EXPECT_EQ(draw_oval(b.get(), 0, 0, 1, 10, 1), 11 * 2);  // 11 rows of two pixels, unmasked
    std::string column;
    for (int y = 0; y < 11; y++) column += "##.\n";
    EXPECT_EQ(art(b.get(), 3, 12), column + "...\n");
    std::memset(px(b.get()), 0, 16 * 12);
    int32_t cost = draw_filloval(b.get(), 0, 0, 4, 4, 1);
    EXPECT_EQ(art(b.get(), 6, 5), ".###..\n#####.\n#####.\n#####.\n.###..\n");
    EXPECT_EQ(cost, 4 * 8 + 2 + 2 + 3 + 3 + 3);  // four iterations, five spans
    std::memset(px(b.get()), 0, 16 * 12);
    EXPECT_EQ(draw_oval(b.get(), 0, 0, 4, 4, 1), 4 + 12);  // four iterations, twelve points
    set_masks(0x3F, 0xFF, 0, 0x3F);
    std::memset(px(b.get()), 0, 16 * 12);
    EXPECT_EQ(draw_filloval(b.get(), 0, 0, 4, 4, 1), 4 * 8 + 3 + 3 + 5 + 5 + 5);
}

TEST_F(Shapes, EllipseGoldens) {
    bitmap_ptr b = make_bitmap(12, 12);
    constant_tables();
    target(b.get());
    std::string outlines, fills;
    for (int size = 2; size <= 9; size++) {
        std::memset(px(b.get()), 0, 144);
        draw_oval(b.get(), 0, 0, size - 1, size - 1, 1);
        outlines += art(b.get(), uint32_t(size), uint32_t(size)) + "\n";
        std::memset(px(b.get()), 0, 144);
        draw_filloval(b.get(), 0, 0, size - 1, size - 1, 1);
        fills += art(b.get(), uint32_t(size), uint32_t(size)) + "\n";
    }
    // 3 x 3 is a diamond (radius 1); 9 x 9 shows the walk's flattened diagonals.
    EXPECT_EQ(outlines,
              "##\n##\n\n"
              ".#.\n#.#\n.#.\n\n"
              ".##.\n#..#\n#..#\n.##.\n\n"
              ".###.\n#...#\n#...#\n#...#\n.###.\n\n"
              ".####.\n#....#\n#....#\n#....#\n#....#\n.####.\n\n"
              "..###..\n.#...#.\n#.....#\n#.....#\n#.....#\n.#...#.\n..###..\n\n"
              "..####..\n.#....#.\n#......#\n#......#\n#......#\n#......#\n.#....#.\n..####..\n\n"
              "...###...\n.##...##.\n.#.....#.\n#.......#\n#.......#\n#.......#\n.#.....#.\n.##...#"
              "#.\n...###...\n\n")
        << outlines;
    EXPECT_EQ(fills,
              "##\n##\n\n"
              ".#.\n###\n.#.\n\n"
              ".##.\n####\n####\n.##.\n\n"
              ".###.\n#####\n#####\n#####\n.###.\n\n"
              ".####.\n######\n######\n######\n######\n.####.\n\n"
              "..###..\n.#####.\n#######\n#######\n#######\n.#####.\n..###..\n\n"
              "..####..\n.######.\n########\n########\n########\n########\n.######.\n..####..\n\n"
              "...###...\n.#######.\n.#######.\n#########\n#########\n#########\n.#######.\n.######"
              "#.\n...###...\n\n")
        << fills;

    std::memset(px(b.get()), 0, 144);
    draw_rrect(b.get(), 0, 0, 6, 6, 3, -1, 1);
    std::string outline = art(b.get(), 11, 7);
    std::memset(px(b.get()), 0, 144);
    draw_rrectfill(b.get(), 0, 0, 6, 6, 3, -1, 1);
    std::string fill = art(b.get(), 11, 7);
    // The halves three columns apart, one row closer (extent -1).
    EXPECT_EQ(outline,
              "..##..##...\n.#......#..\n#........#.\n#........#.\n.#......#..\n..##..##...\n......"
              ".....\n")
        << outline;
    EXPECT_EQ(fill,
              "..######...\n.########..\n##########.\n##########.\n.########..\n..######...\n......"
              ".....\n")
        << fill;
}

TEST_F(Shapes, EveryRowOfAFilledBoxIsOneSpanAndInvertedFillIsItsComplement) {
    bitmap_ptr plain = make_bitmap(320, 320), inv = make_bitmap(320, 320);
    constant_tables();
    std::mt19937 rng(3);
    for (int iter = 0; iter < 300; iter++) {
        bool whole = iter % 2 == 0;  // the whole bitmap as clip, the box inside it
        int x0 = whole ? int(rng() % 20) : int(rng() % 340) - 20,
            y0 = whole ? int(rng() % 20) : int(rng() % 340) - 20;
        int x1 = x0 + int(rng() % 300), y1 = y0 + int(rng() % 300);
        int cx0 = whole ? 0 : int(rng() % 40), cy0 = whole ? 0 : int(rng() % 40);
        int cx1 = whole ? 320 : 280 + int(rng() % 41), cy1 = whole ? 320 : 280 + int(rng() % 41);
        bool rrect = iter % 3 == 0;
        int ex = rrect ? int(rng() % 6) : 0, ey = rrect ? int(rng() % 6) : 0;
        SCOPED_TRACE(testing::Message()
                     << x0 << "," << y0 << " " << x1 << "," << y1 << " rrect " << rrect << " " << ex
                     << "," << ey << " clip " << cx0 << "," << cy0 << " " << cx1 << "," << cy1);
        for (int k = 0; k < 2; k++) {
            typed_ud_rec *b = k ? inv.get() : plain.get();
            std::memset(px(b), 0, 320 * 320);
            target(b, cx0, cy0, cx1, cy1);
            proc->inverted_fill = uint32_t(k);
            if (rrect)
                draw_rrectfill(b, x0, y0, x1, y1, ex, ey, 1);
            else
                draw_filloval(b, x0, y0, x1, y1, 1);
        }
        int cy = (y0 + y1) >> 1;
        bool small = x1 - x0 < 2 || y1 - y0 < 2;
        for (int y = 0; y < 320; y++) {
            bool middle = rrect && !small && y > cy && y < cy + ey;  // the caller's middle block
            int runs = 0;
            for (int x = 0; x < 320; x++) {
                uint8_t p = at(plain.get(), x, y), q = at(inv.get(), x, y);
                if (p && (x == 0 || !at(plain.get(), x - 1, y))) runs++;
                if (rrect && small)
                    continue;  // small rounded boxes fill plainly even when inverted
                ASSERT_FALSE(p && q) << "overlap at " << x << "," << y;
                if (!middle) {
                    ASSERT_EQ(bool(p || q), in_clip(x, y)) << "cover at " << x << "," << y;
                }
            }
            int bottom =
                rrect && !small ? cy + ((y1 - y0) >> 1) + ey : y1;  // extents replace the odd row
            if (y < y0 || y > bottom) {
                ASSERT_EQ(runs, 0) << y;
            } else if (whole && !middle) {
                ASSERT_EQ(runs, 1) << y;
            }
        }
    }
    proc->inverted_fill = 0;
}

TEST_F(Shapes, CoveringAndOversizedEllipses) {
    bitmap_ptr b = make_bitmap(100, 80);
    constant_tables();
    target(b.get(), 10, 10, 90, 70);
    EXPECT_EQ(draw_filloval(b.get(), -1000, -1000, 1100, 1100, 1), 60 * ((79 >> 2) + 2));
    EXPECT_EQ(int(drawn(b.get()).size()), 80 * 60);
    std::memset(px(b.get()), 0, 8000);
    proc->inverted_fill = 1;
    EXPECT_EQ(draw_filloval(b.get(), -1000, -1000, 1100, 1100, 1), 0);
    EXPECT_EQ(draw_rrectfill(b.get(), -1000, -1000, 1100, 1100, 5, 5, 1), 0);
    EXPECT_TRUE(drawn(b.get()).empty());
    proc->inverted_fill = 0;

    EXPECT_EQ(draw_ellipse_1(b.get(), 50, 40, 0x100001, 3, 0, 0, 1), 0);
    EXPECT_EQ(fill_ellipse_1(b.get(), 50, 40, 3, 0x100001, 0, 0, 1), 0);
    EXPECT_EQ(draw_oval(b.get(), INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1), 0);
    EXPECT_TRUE(drawn(b.get()).empty());
    // One column over the whole 32-bit range: a small box, one span per clip row.
    EXPECT_EQ(draw_oval(b.get(), 20, INT32_MIN, 20, INT32_MAX, 1), 60 * 2);
    EXPECT_EQ(int(drawn(b.get()).size()), 60);
    EXPECT_EQ(draw_ellipse_1(b.get(), 50, 40, -1, 3, 0, 0, 1), 0);
}

TEST_F(Shapes, RectangleForms) {
    bitmap_ptr b = make_bitmap(20, 10), r = make_bitmap(20, 10);
    target(b.get(), 2, 1, 18, 9);
    set_pattern(0x5555555555555555ull);
    set_masks(0x0F, 0x0F, 0, 0x3F);
    std::memset(px(b.get()), 0xF0, 200);
    EXPECT_EQ(rectfill_raw(b.get(), 30, 20, 5, 3, 0x1234), 6 * 13);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 20; x++)
            EXPECT_EQ(at(b.get(), x, y), (x >= 5 && x < 18 && y >= 3 && y < 9) ? 0x34 : 0xF0)
                << x << "," << y;
    EXPECT_EQ(rectfill_raw(b.get(), 30, 20, 18, 9, 1), 0);
    EXPECT_EQ(rectfill_raw(nullptr, 0, 0, 5, 5, 1), 0);

    rectfill_shadow(b.get(), 0, 0, 3, 1);
    EXPECT_EQ(at(b.get(), 2, 1), 0xF0 | 0x20);
    EXPECT_EQ(at(b.get(), 3, 1), 0xF0 | 0x20);
    EXPECT_EQ(at(b.get(), 1, 1), 0xF0);
    EXPECT_EQ(at(b.get(), 2, 0), 0xF0);

    std::mt19937 rng(1);
    fill_random(b.get(), rng);
    std::memcpy(px(r.get()), px(b.get()), 200);
    EXPECT_EQ(rectfill(b.get(), 15, 7, 4, 2, 0x0A05), rectfill(r.get(), 4, 2, 15, 7, 0x0A05));
    EXPECT_EQ(bytes_of(b.get()), bytes_of(r.get()));
    EXPECT_EQ(rectfill(nullptr, 0, 0, 1, 1, 1), 0);
}

}  // namespace

namespace {

TEST_F(Shapes, FilledShapesDrawTheSamePixelsOnThePlainPaths) {
    std::mt19937 rng(41);
    bitmap_ptr a = make_bitmap(120, 90), b = make_bitmap(120, 90);
    const uint8_t masks[] = {0, 0x0F, 0x3F, 0xC0, 0xFF};
    for (int iter = 0; iter < 400; iter++) {
        if (iter % 20 == 0) random_tables(rng);
        fill_random(a.get(), rng);
        std::memcpy(px(b.get()), px(a.get()), 120 * 90);
        set_masks(masks[rng() % 5], masks[rng() % 5], 0, masks[rng() % 5]);
        set_pattern(rng() % 2 ? 0 : uint64_t(rng()) << 32 | rng());
        proc->inverted_fill = rng() % 3 == 0;
        int x0 = int(rng() % 160) - 20, y0 = int(rng() % 130) - 20, x1 = int(rng() % 160) - 20,
            y1 = int(rng() % 130) - 20;
        int32_t colour = int32_t(rng() & 0xFFFF), kind = int32_t(rng() % 3), costs[2];
        for (int plain = 0; plain < 2; plain++) {
            typed_ud_rec *t = plain ? b.get() : a.get();
            target(t, 3, 2, 110, 85);
            use_path(plain ? 1 : iter % 2 * 2);  // the widest or the 256-bit paths against the rule
            costs[plain] = kind == 0   ? draw_filloval(t, x0, y0, x1, y1, colour)
                           : kind == 1 ? draw_rrectfill(t, x0, y0, x1, y1, 4, 3, colour)
                                       : rectfill(t, x0, y0, x1, y1, colour);
        }
        ASSERT_EQ(bytes_of(a.get()), bytes_of(b.get())) << iter;
        ASSERT_EQ(costs[0], costs[1]) << iter;
    }
    proc->inverted_fill = 0;
}

}  // namespace

namespace {

// Radii 0 to the largest, most small, some at the top of the range.
int64_t random_radius(std::mt19937 &rng, bool large) {
    if (large) return ELLIPSE_MAX_RADIUS - int64_t(rng() % 3 == 0 ? 0 : rng() % 5000);
    switch (rng() % 3) {
        case 0:
            return rng() % 4;
        case 1:
            return rng() % 40;
        default:
            return rng() % 3000;
    }
}

// A centre coordinate putting the far edge r + offset near the clip span
// lo..hi, the centre inside it, or far off either side.
int64_t random_centre(std::mt19937 &rng, int64_t r, int lo, int hi) {
    int64_t near = lo + int64_t(rng() % uint32_t(hi - lo + 8)) - 4;
    switch (rng() % 4) {
        case 0:
            return near - r;
        case 1:
            return near + r;
        case 2:
            return near;
        default:
            return rng() % 2 ? near - 3 * r - 50 : near + 3 * r + 50;
    }
}

TEST_F(Shapes, EllipseWalksMatchTheStepByStepWalkWhereverTheClipLies) {
    std::mt19937 rng(22);
    bitmap_ptr a = make_bitmap(64, 48), b = make_bitmap(64, 48);
    const int64_t offsets[] = {0, 1, -1, 2, -3, 7, -40, 5000, -5000, INT32_MAX, INT32_MIN};
    for (int iter = 0; iter < 3000; iter++) {
        if (iter % 50 == 0) random_tables(rng);  // drawing a pixel twice shows
        fill_random(a.get(), rng);
        std::memcpy(px(b.get()), px(a.get()), 64 * 48);
        set_masks(0x3F, 0xFF, 0, rng() % 2 ? 0x3F : 0);
        proc->inverted_fill = rng() % 4 == 0;
        bool big = iter % 200 == 7;  // the step-by-step walk takes ~10 ms up there
        int64_t rx = random_radius(rng, big), ry = random_radius(rng, big && rng() % 3);
        // Radii summing under 3 take the step-by-step walk in any clip that holds a row.
        if (rx + ry < 3) rx = 3 - ry;
        int cx0 = int(rng() % 64), cy0 = int(rng() % 48);
        int cx1 = cx0 + 1 + int(rng() % (rng() % 2 ? 3 : 64)),
            cy1 = cy0 + 1 + int(rng() % (rng() % 2 ? 3 : 48));
        int64_t cx = random_centre(rng, rx, cx0, cx1), cy = random_centre(rng, ry, cy0, cy1);
        cx = std::clamp<int64_t>(cx, INT32_MIN, INT32_MAX),
        cy = std::clamp<int64_t>(cy, INT32_MIN, INT32_MAX);
        int64_t ox = offsets[rng() % 4 ? rng() % 4 : rng() % 11],
                oy = offsets[rng() % 4 ? rng() % 4 : rng() % 11];
        int kind = int(rng() % 6);
        int32_t colour = int32_t(rng() & 0xFFFF);
        int64_t costs[2] = {0, 0};
        // The clip rows in bands low enough (2 x height < rx + ry) that the
        // closed form is the one drawing.
        const int band = int(std::min<int64_t>((rx + ry - 1) / 2, 48));
        for (int plain = 0; plain < 2; plain++) {
            typed_ud_rec *t = plain ? b.get() : a.get();
            use_path(plain);
            int32_t x = int32_t(cx), y = int32_t(cy), w = int32_t(rx), h = int32_t(ry);
            int32_t bx = int32_t(std::clamp<int64_t>(cx + 2 * rx + (ox & 1), INT32_MIN, INT32_MAX));
            int32_t by = int32_t(std::clamp<int64_t>(cy + 2 * ry + (oy & 1), INT32_MIN, INT32_MAX));
            for (int y0 = cy0; y0 < cy1; y0 += band) {
                target(t, cx0, y0, cx1, std::min(y0 + band, cy1));
                costs[plain] +=
                    kind == 0   ? draw_ellipse_1(t, x, y, w, h, int32_t(ox), int32_t(oy), colour)
                    : kind == 1 ? fill_ellipse_1(t, x, y, w, h, int32_t(ox), int32_t(oy), colour)
                    : kind == 2 ? draw_oval(t, x, y, bx, by, colour)
                    : kind == 3 ? draw_filloval(t, x, y, bx, by, colour)
                    : kind == 4 ? draw_rrect(t, x, y, bx, by, int32_t(ox), int32_t(oy), colour)
                                : draw_rrectfill(t, x, y, bx, by, int32_t(ox), int32_t(oy), colour);
            }
        }
        ASSERT_EQ(crc_of(a.get()), crc_of(b.get()))
            << iter << ": kind " << kind << " centre " << cx << "," << cy << " radii " << rx << ","
            << ry << " offsets " << ox << "," << oy << " clip " << cx0 << "," << cy0 << "," << cx1
            << "," << cy1;
        ASSERT_EQ(costs[0], costs[1]) << iter;
    }
    proc->inverted_fill = 0;
}

// Regression: a walk took about rx + ry steps whatever the clip, ~10 ms at
// the largest radius, so a batch of such circles froze the host.
TEST_F(Shapes, AHugeEllipseBarelyInTheClipCostsTheSameAndTakesMicroseconds) {
    bitmap_ptr b = make_bitmap(64, 48);
    constant_tables();
    target(b.get());
    const int32_t r = ELLIPSE_MAX_RADIUS;
    auto cpu = [] {
        timespec ts;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
    };
    int32_t fill = fill_ellipse_1(b.get(), 10 - r, 20, r, r, 0, 1, 1);
    int32_t line = draw_ellipse_1(b.get(), 10 - r, 20, r, r, 1, 0, 1);
    EXPECT_EQ(int(drawn(b.get()).size()), 12 * 48);  // the fill to column 10, the outline at 11
    double start = cpu();
    int calls = 0;
    for (; calls < 400 && cpu() - start < 1.0; calls += 2) {
        ASSERT_EQ(fill_ellipse_1(b.get(), 10 - r, 20, r, r, 0, 1, 1), fill);
        ASSERT_EQ(draw_ellipse_1(b.get(), 10 - r, 20, r, r, 1, 0, 1), line);
    }
    EXPECT_EQ(calls, 400) << "took " << cpu() - start << " s of CPU";
    use_path(1);
    EXPECT_EQ(fill_ellipse_1(b.get(), 10 - r, 20, r, r, 0, 1, 1), fill);
    EXPECT_EQ(draw_ellipse_1(b.get(), 10 - r, 20, r, r, 1, 0, 1), line);
}

}  // namespace
