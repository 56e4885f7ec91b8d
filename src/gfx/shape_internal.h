// What the shape files share: a row-by-row box fill, a clamped cost sum, and
// the process state a shape call starts from.
#pragma once

#include "pixel_rule.h"

namespace gfx {

inline int32_t clamp_cost(int64_t c) {
    return int32_t(std::clamp<int64_t>(c, INT32_MIN, INT32_MAX));
}

// The running process's clip box within the target and the shape masks,
// loaded once for one shape call.
struct shape_call {
    process_rec *rec;
    typed_ud_rec *target;
    clip_box box;
    pixel_ctx c;
    span_lut lut;

    bool start(typed_ud_rec *t) {
        rec = cproc;
        target = t;
        if (!t || !rec) return false;
        box = clip_for(rec, t);
        load_ctx(c, rec, REG_SHAPE_TARGET_MASK);
        return true;
    }

    int32_t hline(int64_t x0, int64_t x1, int64_t y, int32_t colour) {
        return span(target, box, c, x0, x1, y, colour, &lut);
    }

    // draw_hline_inv over the process's clip rectangle.
    int32_t hline_inv(int64_t x0, int64_t x1, int64_t y, int32_t colour) {
        int64_t lo = std::min(x0, x1), hi = std::max(x0, x1);
        return int32_t(uint32_t(hline(int64_t(rec->clip_x0) - 1, lo - 1, y, colour)) +
                       uint32_t(hline(hi + 1, int64_t(rec->clip_x1) + 1, y, colour)));
    }

    // A span, or the row outside it when the process fills inverted.
    int32_t span_or_inverse(int64_t x0, int64_t x1, int64_t y, int32_t colour) {
        return rec->inverted_fill ? hline_inv(x0, x1, y, colour) : hline(x0, x1, y, colour);
    }

    void point(int64_t x, int64_t y, int32_t colour) {
        if (x < box.x0 || x >= box.x1 || y < box.y0 || y >= box.y1) return;
        uint8_t *p = row_of(target, y) + x;
        *p = shape_pixel(c, x, y, colour, *p);
    }

    // One span xl..xr on every clip row of yt..yb (spans off the clip cost 0).
    int64_t rows(int64_t xl, int64_t xr, int64_t yt, int64_t yb, int32_t colour, bool inverted) {
        if (!inverted) return fill_box(target, box, c, xl, xr, yt, yb, colour, &lut);
        int64_t cost = 0;
        for (int64_t y = std::max<int64_t>(yt, box.y0); y <= std::min<int64_t>(yb, box.y1 - 1); y++)
            cost += inverted ? hline_inv(xl, xr, y, colour) : hline(xl, xr, y, colour);
        return cost;
    }
};

// The outline and filled quadrant walks on 64-bit centres and extents.
int64_t ellipse_outline(shape_call &s, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ox,
                        int64_t oy, int32_t colour);
int64_t ellipse_fill(shape_call &s, int64_t cx, int64_t cy, int64_t rx, int64_t ry, int64_t ox,
                     int64_t oy, int32_t colour);

}  // namespace gfx
