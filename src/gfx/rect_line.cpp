// Rectangles (through the tables, raw, shadow) and analytically clipped lines.
#include <cstring>

#include "line_setup.h"
#include "shape_internal.h"
#include "shapes.h"

using namespace gfx;

namespace {

// The box of two corners in any order, clipped; false when empty.
bool clipped_box(const clip_box &box, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int64_t &l,
                 int64_t &r, int64_t &t, int64_t &b) {
    l = std::max<int64_t>(std::min(x0, x1), box.x0);
    r = std::min<int64_t>(std::max(x0, x1), box.x1 - 1);
    t = std::max<int64_t>(std::min(y0, y1), box.y0);
    b = std::min<int64_t>(std::max(y0, y1), box.y1 - 1);
    return l <= r && t <= b;
}

}  // namespace

extern "C" int32_t rectfill(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                            int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    return clamp_cost(s.rows(std::min(x0, x1), std::max(x0, x1), std::min(y0, y1), std::max(y0, y1),
                             colour, false));
}

extern "C" int32_t rectfill_raw(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1,
                                int32_t y1, int32_t colour) {
    if (!target || !cproc) return 0;
    int64_t l, r, t, b;
    if (!clipped_box(clip_for(cproc, target), x0, y0, x1, y1, l, r, t, b)) return 0;
    for (int64_t y = t; y <= b; y++)
        std::memset(row_of(target, y) + l, colour & 0xFF, size_t(r - l + 1));
    return clamp_cost((b - t + 1) * (r - l + 1));
}

extern "C" void rectfill_shadow(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1,
                                int32_t y1) {
    if (!target || !cproc) return;
    int64_t l, r, t, b;
    if (!clipped_box(clip_for(cproc, target), x0, y0, x1, y1, l, r, t, b)) return;
    for (int64_t y = t; y <= b; y++) {
        uint8_t *row = row_of(target, y);
        for (int64_t x = l; x <= r; x++) row[x] |= 0x20;
    }
}

extern "C" int32_t draw_line(typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             int32_t colour) {
    shape_call s;
    if (!s.start(target)) return 0;
    bool first_is_start = y0 <= y1;
    int64_t xa = first_is_start ? x0 : x1, ya = first_is_start ? y0 : y1;
    int64_t xb = first_is_start ? x1 : x0, yb = first_is_start ? y1 : y0;
    line_walk w = setup_line(xa, ya, xb, yb, s.box, false);
    if (w.empty) return 0;
    int64_t X = w.X0 + w.first * w.sx, Y = w.Y0 + w.first * w.sy;
    for (int64_t i = w.first; i <= w.last; i++, X += w.sx, Y += w.sy) {
        int64_t x = X >> 16, y = Y >> 16;
        uint8_t *p = row_of(target, y) + x;
        *p = shape_pixel(s.c, x, y, colour, *p);
    }
    return w.cost();
}
