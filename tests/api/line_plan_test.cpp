// The line plans of stretched sprites and map cells: over random sizes and
// flips, every texture end lies inside the sprite, lines cover the
// destination once, and flips mirror the plan.
#include <gtest/gtest.h>

#include <random>

#include "line_plan.h"

namespace {

bool inside(double u, double v, int64_t w, int64_t h) { return u >= 0 && v >= 0 && u < double(w) && v < double(h); }

}  // namespace

TEST(LinePlan, StretchedTextureEndsStayInsideTheSourceRectangle) {
    std::mt19937 gen(7);
    auto size = [&] { return int64_t(1 + gen() % 300); };
    for (int round = 0; round < 3000; round++) {
        const int64_t w = size(), h = size();
        const int64_t sx = gen() % w, sy = gen() % h;
        const int64_t sw = 1 + gen() % (w - sx), sh = 1 + gen() % (h - sy);
        const int64_t dw = size(), dh = size();
        const bool fx = gen() & 1, fy = gen() & 1;
        const int64_t lines = stretch_by_rows(dw, dh) ? dh : dw;
        for (int64_t k = 0; k < lines; k++) {
            const tline_plan p = stretch_line(sx, sy, sw, sh, 10, 20, dw, dh, fx, fy, k);
            ASSERT_TRUE(inside(p.u0, p.v0, sx + sw, sy + sh) && inside(p.u1, p.v1, sx + sw, sy + sh))
                << w << "x" << h << " k " << k;
            ASSERT_GE(std::min(p.u0, p.u1), double(sx));
            ASSERT_GE(std::min(p.v0, p.v1), double(sy));
            if (stretch_by_rows(dw, dh)) {
                ASSERT_EQ(p.y0, 20 + k);
                ASSERT_EQ(p.x1 - p.x0 + 1, dw);
            } else {
                ASSERT_EQ(p.x0, 10 + k);
                ASSERT_EQ(p.y1 - p.y0 + 1, dh);
            }
        }
    }
}

TEST(LinePlan, CellTextureEndsStayInsideTheSpriteForEdgeSizes) {
    const int64_t sizes[] = {1, 2, 3, 7, 8, 12, 16, 255, 256, 257, 300};
    for (int64_t w : sizes)
        for (int64_t h : {int64_t(1), int64_t(16), int64_t(257)})
            for (int64_t cw : sizes)
                for (int64_t ch : {int64_t(1), int64_t(8), int64_t(12)})
                    for (int flags = 0; flags < 8; flags++)
                        for (int64_t j = 0; j < ch; j++) {
                            const tline_plan p = cell_line(w, h, 0, 0, cw, ch, flags & 1, flags & 2, flags & 4, j);
                            ASSERT_TRUE(inside(p.u0, p.v0, w, h) && inside(p.u1, p.v1, w, h))
                                << w << "x" << h << " in " << cw << "x" << ch << " flags " << flags << " j " << j;
                            ASSERT_EQ(p.x1 - p.x0 + 1, cw);
                        }
}

TEST(LinePlan, AFlipMirrorsTheLines) {
    for (int64_t k = 0; k < 8; k++) {
        const tline_plan plain = stretch_line(0, 0, 16, 16, 0, 0, 32, 8, false, false, k);
        const tline_plan flipped = stretch_line(0, 0, 16, 16, 0, 0, 32, 8, true, true, 7 - k);
        EXPECT_EQ(plain.u0, flipped.u1);
        EXPECT_EQ(plain.v0, flipped.v0);
        const tline_plan cell = cell_line(16, 16, 0, 0, 8, 8, false, false, false, k);
        const tline_plan cell_flipped = cell_line(16, 16, 0, 0, 8, 8, false, true, true, 7 - k);
        EXPECT_EQ(cell.u0, cell_flipped.u1);
        EXPECT_EQ(cell.v0, cell_flipped.v0);
    }
}
