// One glyph against a per-pixel reference of the drawing steps, over
// thousands of seeded cases; and the edge cases of styles and margins.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "gfx_fixture.h"
#include "glyph.h"
#include "vm_hooks.h"

namespace {

struct glyph_case {
    print_ctx_rec ctx;
    uint8_t glyph[8];
    int32_t w, h;
    int flags;
    int32_t cursor_x, cursor_y, camera_x, camera_y;
};

// The drawing steps of one glyph, pixel by pixel, written from the steps
// themselves: which cell pixels are set, then every pixel through the shape
// rule. Updates 'ctx', the expected bitmap and cursor; returns the charge.
class reference {
public:
    using shape_rule = std::function<uint8_t(int64_t, int64_t, int32_t, uint8_t)>;
    reference(const process_rec *p, shape_rule rule, typed_ud_rec *b) : p_(p), rule_(std::move(rule)), b_(b) {}

    int64_t run(glyph_case &c, std::vector<uint8_t> &pixels, int64_t *cx_out, int64_t *cy_out, int *result) {
        print_ctx_rec &ctx = c.ctx;
        int64_t cx = c.cursor_x, cy = c.cursor_y;
        if (!ctx.decorate) {
            ctx.saved_x = int32_t(cx);
            ctx.saved_y = int32_t(cy);
            if (ctx.wrap && cx > int64_t(ctx.wrap_right) - c.w) {
                cx = ctx.home_x;
                cy += ctx.line_height ? ctx.line_height : ctx.char_h;
                ctx.line_height = 0;
            }
        }
        sx_ = 1, sy_ = 1, right_ = false, blank_ = false;
        if (ctx.pinball) {
            sx_ = sy_ = 2;
            right_ = blank_ = true;
        } else {
            sx_ = ctx.wide ? 2 : 1;
            sy_ = ctx.tall ? 2 : 1;
            right_ = ctx.wide && ctx.stripey && !ctx.tall;
            blank_ = ctx.tall && ctx.stripey;
        }
        int64_t charge = -1;
        if (c.w > 0) {
            pad_ = c.flags & 1;
            const int border = ctx.border ? 1 : 0;
            const int bx = border * pad_ * sx_, by = border * pad_ * sy_;
            const int64_t x = cx + ctx.offset_x - int64_t(c.camera_x) - bx;
            const int64_t y = cy + ctx.offset_y - ((c.flags & 8) ? 1 : 0) - int64_t(c.camera_y) - by;
            gh_ = std::min(c.h, 8);
            W_ = std::min(c.w, 8) * sx_ + bx;
            H_ = by + std::max(gh_, 0) * sy_;
            invert_ = ctx.invert != 0;
            glyph_ = c.glyph;
            if (ctx.solid_bg && H_ > 0)
                for (int64_t py = y; py < y + H_; py++)
                    for (int64_t px = x; px < x + W_; px++)
                        if (inside(px, py)) pixels[size_t(py * b_->width + px)] = uint8_t(ctx.bg);
            int64_t area = 0;
            if (ctx.outline_mask && H_ > 0 && cell_drawn(x - 1, y - 1, W_ + 2, H_ + 2)) {
                area += int64_t(W_ + 2) * (H_ + 2);
                for (int r = 0; r < H_ + 2; r++)
                    for (int col = 0; col < W_ + 2; col++) {
                        bool on = false;
                        for (int k = 0; k < 9; k++)
                            if ((ctx.outline_mask >> k & 1) && bit(col - k % 3, r - k / 3)) on = true;
                        if (bit(col - 1, r - 1)) on = false;
                        if (on) plot(pixels, x - 1 + col, y - 1 + r, ctx.outline_col);
                    }
            }
            if (H_ > 0 && cell_drawn(x, y, W_, H_)) {
                area += int64_t(W_) * H_;
                for (int r = 0; r < H_; r++)
                    for (int col = 0; col < W_; col++)
                        if (bit(col, r)) plot(pixels, x + col, y + r, ctx.fg);
            }
            charge = std::max<int64_t>(area / 3, 1);
        }
        ctx.last_advance = int32_t(int64_t(sx_) * c.w);
        cx += int64_t(sx_) * c.w;
        ctx.line_height = std::max(ctx.line_height, int32_t(int64_t(sy_) * c.h));
        if (ctx.decorate) {
            cx = ctx.saved_x;
            cy = ctx.saved_y;
            ctx.decorate = 0;
        }
        *cx_out = int32_t(cx);
        *cy_out = int32_t(cy);
        *result = 0;
        if (ctx.char_delay > 0) {
            ctx.wait_frames = ctx.char_delay - 1;
            *result = 1;
        }
        return charge;
    }

private:
    // Cell pixel (col, r) of the glyph pass, for any col >= 0 (the outline
    // also sees set bits right of the cell) and 0 <= r < H.
    bool bit(int col, int r) const {
        if (col < 0 || r < 0 || r >= H_) return false;
        const bool inv = invert_ && col < W_;
        const bool doubled = sy_ == 2 && H_ >= 2;
        if (doubled && blank_ && (r & 1)) return inv;
        const int sr = doubled ? r >> 1 : r;
        bool on = false;
        const int gi = sr - pad_;
        if (!(pad_ && sr == 0) && gi >= 0 && gi < gh_) {
            const uint8_t g = glyph_[gi];
            if (sx_ == 2) {
                const int cc = col - 2 * pad_;
                on = cc >= 0 && cc < 16 && (g >> (cc >> 1) & 1) && (!right_ || (cc & 1));
            } else {
                const int cc = col - pad_;
                on = cc >= 0 && cc < 8 && (g >> cc & 1);
            }
        }
        return on != inv;
    }
    bool cell_drawn(int64_t x, int64_t y, int64_t w, int64_t h) const {
        const process_rec *p = p_;
        return !(p->clip_x0 - w > x || p->clip_y0 - h > y || x >= p->clip_x1 || y >= p->clip_y1);
    }
    bool inside(int64_t x, int64_t y) const {
        return p_->clip_x0 <= x && x < p_->clip_x1 && p_->clip_y0 <= y && y < p_->clip_y1 &&
               x >= 0 && y >= 0 && x < b_->width && y < b_->height;
    }
    void plot(std::vector<uint8_t> &pixels, int64_t x, int64_t y, int32_t colour) {
        if (!inside(x, y)) return;
        uint8_t &d = pixels[size_t(y * b_->width + x)];
        d = rule_(x, y, colour, d);
    }

    const process_rec *p_;
    shape_rule rule_;
    typed_ud_rec *b_;
    int sx_ = 1, sy_ = 1, pad_ = 0, gh_ = 0, W_ = 0, H_ = 0;
    bool right_ = false, blank_ = false, invert_ = false;
    const uint8_t *glyph_ = nullptr;
};

}  // namespace

class Glyph : public GfxTest {
protected:
    // Draws case c with draw_character and with the reference; everything must match.
    void check(glyph_case c, typed_ud_rec *b, const char *what) {
        poke4(REG_CURSOR_X, c.cursor_x);
        poke4(REG_CURSOR_Y, c.cursor_y);
        poke4(REG_CAMERA_X, c.camera_x);
        poke4(REG_CAMERA_Y, c.camera_y);
        c.ctx.target = b;
        std::vector<uint8_t> expect = bytes_of(b);
        glyph_case r = c;
        int64_t ex = 0, ey = 0;
        int eres = 0;
        const int64_t echarge = reference(proc, [this](int64_t x, int64_t y, int32_t colour, uint8_t d) { return ref_shape(x, y, colour, d); }, b).run(r, expect, &ex, &ey, &eres);

        get_masks_shape();
        cpu_cycles = 0;
        const int res = draw_character(&c.ctx, c.glyph, c.w, c.h, c.flags);
        ASSERT_EQ(bytes_of(b), expect) << what;
        ASSERT_EQ(res, eres) << what;
        ASSERT_EQ(peek4(REG_CURSOR_X), int32_t(ex)) << what;
        ASSERT_EQ(peek4(REG_CURSOR_Y), int32_t(ey)) << what;
        ASSERT_EQ(std::memcmp(&c.ctx, &r.ctx, sizeof c.ctx), 0) << what;
        ASSERT_EQ(int64_t(cpu_cycles), echarge < 0 ? 0 : echarge) << what;
    }
};

TEST_F(Glyph, MatchesThePerPixelReference) {
    std::mt19937 rng(2024);
    auto b = make_bitmap(40, 30);
    for (int n = 0; n < 6000; n++) {
        fill_random(b.get(), rng);
        auto pick = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
        target(b.get(), pick(-4, 20), pick(-4, 15), pick(0, 48), pick(0, 36));
        set_masks(uint8_t(pick(0, 1) ? 0x3F : rng()), uint8_t(pick(0, 1) ? 0xFF : rng()), 0, uint8_t(pick(0, 1) ? 0 : rng()));
        set_pattern(pick(0, 3) ? 0 : (uint64_t(rng()) << 32 | rng()));
        if (n % 50 == 0) random_tables(rng);
        glyph_case c{};
        print_ctx_rec &x = c.ctx;
        x.wide = pick(0, 1), x.tall = pick(0, 1), x.stripey = pick(0, 1), x.pinball = pick(0, 3) == 0;
        x.border = pick(0, 1), x.solid_bg = pick(0, 1), x.invert = pick(0, 1);
        x.fg = pick(0, 63), x.bg = pick(0, 63), x.offset_x = pick(0, 15), x.offset_y = pick(0, 15);
        x.wrap = pick(0, 1), x.wrap_right = pick(-10, 50), x.home_x = pick(-5, 20), x.char_h = pick(0, 12);
        x.line_height = pick(0, 2) ? 0 : pick(0, 20), x.decorate = pick(0, 4) == 0;
        x.saved_x = pick(-10, 40), x.saved_y = pick(-10, 30), x.char_delay = pick(0, 3) ? 0 : pick(1, 4);
        x.outline_mask = pick(0, 1) ? 0 : pick(0, 2) ? pick(1, 511) : pick(512, 0x3FF);
        x.outline_col = pick(0, 63);
        for (uint8_t &g : c.glyph) g = uint8_t(pick(0, 2) ? rng() : 0);
        c.w = pick(-6, 12), c.h = pick(0, 12), c.flags = pick(0, 1) | (pick(0, 1) ? 8 : 0);
        c.camera_x = pick(-8, 8), c.camera_y = pick(-8, 8);
        switch (pick(0, 7)) {
        case 0: c.cursor_x = INT32_MAX - pick(0, 20), c.cursor_y = pick(-5, 30); break;
        case 1: c.cursor_x = INT32_MIN + pick(0, 20), c.cursor_y = INT32_MIN + pick(0, 20); break;
        case 2: c.cursor_x = pick(-5, 40), c.cursor_y = INT32_MAX - pick(0, 20); break;
        default: c.cursor_x = pick(-12, 44), c.cursor_y = pick(-12, 34); break;
        }
        check(c, b.get(), ("case " + std::to_string(n)).c_str());
        if (HasFatalFailure()) return;
    }
}

TEST_F(Glyph, StylesAndMarginsEdgeCases) {
    // Single-pixel glyph at column 0 of row 0, a cell of advance 5, height 8.
    const uint8_t dot[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    auto b = make_bitmap(40, 30);
    target(b.get());
    get_masks_shape();
    auto draw = [&](print_ctx_rec ctx, const uint8_t *g, int w, int h, int flags) {
        std::memset(px(b.get()), 0, 40 * 30);
        ctx.target = b.get();
        ctx.fg = 7;
        poke4(REG_CURSOR_X, 10);
        poke4(REG_CURSOR_Y, 10);
        draw_character(&ctx, g, w, h, flags);
        std::vector<std::pair<int, int>> set;
        for (int y = 0; y < 30; y++)
            for (int x = 0; x < 40; x++)
                if (at(b.get(), x, y)) set.emplace_back(x - 10, y - 10);
        return set;
    };
    using pts = std::vector<std::pair<int, int>>;
    print_ctx_rec bordered{};
    bordered.border = 1;
    EXPECT_EQ(draw(bordered, dot, 5, 8, 1), (pts{{0, 0}})) << "border on: at the cursor";
    EXPECT_EQ(draw(print_ctx_rec{}, dot, 5, 8, 1), (pts{{1, 1}})) << "border off: one right, one down";
    EXPECT_EQ(draw(bordered, dot, 5, 8, 9), (pts{{0, -1}})) << "raised";
    const uint8_t last_col[8] = {0x80, 0, 0, 0, 0, 0, 0, 0x01};
    EXPECT_EQ(draw(print_ctx_rec{}, last_col, 8, 8, 1), (pts{})) << "border off loses the last column and row";

    print_ctx_rec wide = bordered;
    wide.wide = 1;
    const uint8_t x81[8] = {0x81};
    EXPECT_EQ(draw(wide, x81, 8, 1, 0), (pts{{0, 0}, {1, 0}, {14, 0}, {15, 0}}));
    wide.stripey = 1;
    EXPECT_EQ(draw(wide, x81, 8, 1, 0), (pts{{1, 0}, {15, 0}}));

    print_ctx_rec tall = bordered;
    tall.tall = tall.stripey = 1;
    const uint8_t rows3[8] = {1, 1, 1};
    EXPECT_EQ(draw(tall, rows3, 1, 3, 1), (pts{{0, 0}, {0, 2}, {0, 4}})) << "rows 2i + 2 of the cell, margin above";

    print_ctx_rec outline = bordered;
    outline.outline_mask = 0x1EF;
    outline.outline_col = 9;
    EXPECT_EQ(draw(outline, dot, 5, 1, 0).size(), 9u) << "eight neighbours and the glyph";
    outline.outline_mask = 0x010;
    EXPECT_EQ(draw(outline, dot, 5, 1, 0), (pts{{0, 0}})) << "the centre bit draws nothing";

    print_ctx_rec inv = bordered;
    inv.invert = 1;
    EXPECT_EQ(draw(inv, dot, 5, 8, 1).size(), size_t(6 * 9 - 1)) << "a 6 x 9 cell less the glyph pixel";

    print_ctx_rec delay = bordered;
    delay.char_delay = 3;
    poke4(REG_CURSOR_X, 0);
    EXPECT_EQ(draw_character(&delay, dot, 5, 8, 1), 1);
    EXPECT_EQ(delay.wait_frames, 2);
    print_ctx_rec narrow = bordered;
    poke4(REG_CURSOR_X, 0);
    cpu_cycles = 0;
    draw_character(&narrow, dot, -2, 8, 1);
    EXPECT_EQ(cpu_cycles, 0) << "a glyph of no width charges nothing";
    EXPECT_EQ(peek4(REG_CURSOR_X), -2) << "but advances";
}
