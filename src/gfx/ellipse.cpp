// Ellipses and rounded rectangles: the quadrant walk, outlined and filled,
// the covering shortcut and inverted fills.
#include "ellipse_rows.h"
#include "shape_internal.h"
#include "shapes.h"

using namespace gfx;

namespace gfx {

namespace {

// The walk's state over one quadrant; all terms fit 64 bits for semi-axes up
// to ELLIPSE_MAX_RADIUS.
struct quadrant {
    int64_t a2, b2, x, y, t, dxt, dyt, c1, c2, c3;

    quadrant(int64_t rx, int64_t ry)
        : a2(rx * rx),
          b2(ry * ry),
          x(0),
          y(ry),
          t(-a2 * ry),
          dxt(0),
          dyt(-2 * a2 * ry),
          c1(-((a2 >> 2) + (rx % 2) + b2)),
          c2(-((b2 >> 2) + (ry % 2) + a2)),
          c3(-((b2 >> 2) + (ry % 2))) {}

    bool x_only() const { return t + b2 * x <= c1 || t + a2 * y <= c3; }
    bool also_x() const { return t - a2 * y <= c2; }
    void step_x() {
        x++;
        dxt += 2 * b2;
        t += dxt;
    }
    void step_y() {
        y--;
        dyt += 2 * a2;
        t += dyt;
    }
};

bool too_big(int64_t rx, int64_t ry) {
    return rx > ELLIPSE_MAX_RADIUS || ry > ELLIPSE_MAX_RADIUS;
}

// The walks step by step, kept as the rule the closed form must match.
int64_t plain_outline(shape_call &s, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ox,
                      int64_t oy, int32_t colour) {
    int64_t cost = 0;
    for (quadrant q(rx, ry); q.y >= 0 && q.x <= rx;) {
        cost++;
        s.point(cx + ox + q.x, cy + oy + q.y, colour);
        cost++;
        if (ox + q.x > 0 && oy + q.y > 0) s.point(cx - q.x, cy - q.y, colour), cost++;
        if (oy + q.y > 0) s.point(cx + ox + q.x, cy - q.y, colour), cost++;
        if (ox + q.x > 0) s.point(cx - q.x, cy + oy + q.y, colour), cost++;
        if (q.x_only()) {
            q.step_x();
        } else {
            if (q.also_x()) q.step_x();
            q.step_y();
        }
    }
    return cost;
}

int64_t plain_fill(shape_call &s, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ox,
                   int64_t oy, int32_t colour) {
    int64_t cost = 0;
    for (quadrant q(rx, ry); q.y >= 0 && q.x <= rx;) {
        cost += 8;
        if (q.x_only()) {
            q.step_x();
            continue;
        }
        cost += s.span_or_inverse(cx - q.x, cx + ox + q.x, cy - q.y, colour);
        if (oy + q.y > 0) cost += s.span_or_inverse(cx - q.x, cx + ox + q.x, cy + oy + q.y, colour);
        if (q.also_x()) q.step_x();
        q.step_y();
    }
    return cost;
}

// The step-by-step walk where it is no longer than the clip rows the closed
// form would visit (it is the cheaper there), or when the plain paths are
// forced.
bool walk_plainly(const clip_box &b, int64_t rx, int64_t ry) {
    return gfx_force_plain_paths || rx + ry <= 2 * (int64_t(b.y1) - b.y0);
}

// Calls f(v) once for each v of [a0, a1] and [b0, b1], highest first.
template <class F>
void each_down(int64_t a0, int64_t a1, int64_t b0, int64_t b1, F f) {
    if (a1 < b1) std::swap(a0, b0), std::swap(a1, b1);
    for (int64_t v = a1; v >= a0; v--) f(v);
    for (int64_t v = std::min(b1, a0 - 1); v >= b0; v--) f(v);
}

// The same, lowest first.
template <class F>
void each_up(int64_t a0, int64_t a1, int64_t b0, int64_t b1, F f) {
    if (a0 > b0) std::swap(a0, b0), std::swap(a1, b1);
    for (int64_t v = a0; v <= a1; v++) f(v);
    for (int64_t v = std::max(b0, a1 + 1); v <= b1; v++) f(v);
}

// The quadrant rows y in 0..ry that land on a clip row as cy - y or as
// cy + oy + y, highest first.
template <class F>
void clip_rows(const clip_box &b, int64_t cy, int64_t ry, int64_t oy, F f) {
    if (b.empty()) return;
    each_down(std::max<int64_t>(cy - (int64_t(b.y1) - 1), 0), std::min(cy - b.y0, ry),
              std::max<int64_t>(b.y0 - cy - oy, 0), std::min(int64_t(b.y1) - 1 - cy - oy, ry), f);
}

}  // namespace

// Only the rows and columns that can reach the clip are visited; the cost
// is the walk's, counted in closed form.
int64_t ellipse_outline(shape_call &s, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ox,
                        int64_t oy, int32_t colour) {
    if (rx < 0 || ry < 0 || too_big(rx, ry)) return 0;
    if (walk_plainly(s.box, rx, ry)) return plain_outline(s, cx, cy, rx, ry, ox, oy, colour);
    ellipse_rows w(rx, ry);
    const clip_box &b = s.box;
    clip_rows(b, cy, ry, oy, [&](int64_t y) {
        int64_t first = w.entry(y), last = w.exit(y);
        auto one = [&](int64_t x) {
            s.point(cx + ox + x, cy + oy + y, colour);
            if (ox + x > 0 && oy + y > 0) s.point(cx - x, cy - y, colour);
            if (oy + y > 0) s.point(cx + ox + x, cy - y, colour);
            if (ox + x > 0) s.point(cx - x, cy + oy + y, colour);
        };
        each_up(std::max(first, b.x0 - cx - ox), std::min(last, int64_t(b.x1) - 1 - cx - ox),
                std::max(first, cx - (int64_t(b.x1) - 1)), std::min(last, cx - b.x0), one);
    });
    return w.outline_cost(ox, oy);
}

int64_t ellipse_fill(shape_call &s, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ox,
                     int64_t oy, int32_t colour) {
    if (too_big(rx, ry)) return 0;
    bool inverted = s.rec->inverted_fill != 0;
    int64_t cost = 0;
    if (rx >= 0 && ry >= 0 && walk_plainly(s.box, rx, ry)) {
        cost = plain_fill(s, cx, cy, rx, ry, ox, oy, colour);
    } else if (rx >= 0 && ry >= 0) {
        // Rows off the clip draw nothing and their spans cost nothing; with
        // ry = 0 the walk ends before its only span.
        ellipse_rows w(rx, ry);
        cost = 8 * w.total();
        if (ry > 0) {
            clip_rows(s.box, cy, ry, oy, [&](int64_t y) {
                int64_t x = w.exit(y);
                cost += s.span_or_inverse(cx - x, cx + ox + x, cy - y, colour);
                if (oy + y > 0) cost += s.span_or_inverse(cx - x, cx + ox + x, cy + oy + y, colour);
            });
        }
    } else if (!inverted) {
        return 0;
    }
    if (inverted) {
        int64_t full_l = s.rec->clip_x0, full_r = int64_t(s.rec->clip_x1) - 1;
        cost += s.rows(full_l, full_r, s.box.y0, cy - ry - 1, colour, false);
        cost += s.rows(full_l, full_r, cy + ry + oy + 1, int64_t(s.box.y1) - 1, colour, false);
    }
    return cost;
}

}  // namespace gfx

namespace {

// The common terms of a box given by two corners in any order.
struct box_terms {
    int64_t xl, xr, yt, yb, w, h, cx, cy, rx, ry;

    box_terms(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
        : xl(std::min(x0, x1)),
          xr(std::max(x0, x1)),
          yt(std::min(y0, y1)),
          yb(std::max(y0, y1)),
          w(xr - xl),
          h(yb - yt),
          cx((xl + xr) >> 1),
          cy((yt + yb) >> 1),
          rx(w >> 1),
          ry(h >> 1) {}

    bool small() const { return w < 2 || h < 2; }

    bool outside(const clip_box &b) const {
        return xl >= b.x1 || xr < b.x0 || yt >= b.y1 || yb < b.y0;
    }

    // The box shrunk to seven tenths of its radii still reaches past every
    // edge of the clip, and is wider than it.
    bool covers(const clip_box &b) const {
        int64_t kx = rx * 7 / 10, ky = ry * 7 / 10;
        return w > int64_t(b.x1) - b.x0 && cx - kx < b.x0 && cx + kx >= b.x1 && cy - ky < b.y0 &&
               cy + ky >= b.y1;
    }
};

// The covering shortcut: the whole clip, or nothing when inverted.
int32_t cover(shape_call &s, int32_t colour) {
    if (s.rec->inverted_fill) return 0;
    return clamp_cost(
        s.rows(s.box.x0, int64_t(s.box.x1) - 1, s.box.y0, int64_t(s.box.y1) - 1, colour, false));
}

}  // namespace

extern "C" int32_t draw_oval(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    box_terms b(x0, y0, x1, y1);
    if (b.small()) return clamp_cost(s.rows(b.xl, b.xr, b.yt, b.yb, colour, false));
    if (b.outside(s.box)) return 0;
    return clamp_cost(ellipse_outline(s, b.cx, b.cy, b.rx, b.ry, b.w & 1, b.h & 1, colour));
}

extern "C" int32_t draw_filloval(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1,
                                 int32_t y1, int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    box_terms b(x0, y0, x1, y1);
    bool inverted = s.rec->inverted_fill != 0;
    if (b.small()) {
        if (!inverted) return clamp_cost(s.rows(b.xl, b.xr, b.yt, b.yb, colour, false));
        int64_t full_l = s.rec->clip_x0, full_r = int64_t(s.rec->clip_x1) - 1;
        int64_t cost = s.rows(full_l, full_r, s.box.y0, b.yt - 1, colour, false);
        cost += s.rows(b.xl, b.xr, b.yt, b.yb, colour, true);
        cost += s.rows(full_l, full_r, b.yb + 1, int64_t(s.box.y1) - 1, colour, false);
        return clamp_cost(cost);
    }
    if (s.box.empty()) return 0;
    if (b.covers(s.box)) return cover(s, colour);
    if (!inverted && b.outside(s.box)) return 0;
    return clamp_cost(ellipse_fill(s, b.cx, b.cy, b.rx, b.ry, b.w & 1, b.h & 1, colour));
}

namespace {

bool rrect_visible(const box_terms &b, const clip_box &c, int64_t ex, int64_t ey) {
    return b.xl < c.x1 && b.xr + ex >= c.x0 && b.yt < c.y1 && b.yb + ey >= c.y0;
}

}  // namespace

extern "C" int32_t draw_rrect(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                              int32_t ex, int32_t ey, int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    box_terms b(x0, y0, x1, y1);
    if (b.small()) return clamp_cost(s.rows(b.xl, b.xr, b.yt, b.yb, colour, false));
    if (!rrect_visible(b, s.box, ex, ey)) return 0;
    return clamp_cost(ellipse_outline(s, b.cx, b.cy, b.rx, b.ry, ex, ey, colour));
}

extern "C" int32_t draw_rrectfill(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1,
                                  int32_t y1, int32_t ex, int32_t ey, int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    box_terms b(x0, y0, x1, y1);
    if (b.small()) return clamp_cost(s.rows(b.xl, b.xr, b.yt, b.yb, colour, false));
    if (s.box.empty()) return 0;
    if (b.covers(s.box)) return cover(s, colour);
    if (!s.rec->inverted_fill && !rrect_visible(b, s.box, ex, ey)) return 0;
    return clamp_cost(ellipse_fill(s, b.cx, b.cy, b.rx, b.ry, ex, ey, colour));
}

extern "C" int32_t draw_ellipse_1(typed_ud_rec *target, int32_t cx, int32_t cy, int32_t rx,
                                  int32_t ry, int32_t ox, int32_t oy, int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    return clamp_cost(ellipse_outline(s, cx, cy, rx, ry, ox, oy, colour));
}

extern "C" int32_t fill_ellipse_1(typed_ud_rec *target, int32_t cx, int32_t cy, int32_t rx,
                                  int32_t ry, int32_t ox, int32_t oy, int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    return clamp_cost(ellipse_fill(s, cx, cy, rx, ry, ox, oy, colour));
}
