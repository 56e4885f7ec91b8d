// The integer line walk shared by plain and textured lines: 16.16 steps from
// the start's pixel centre, and the analytic clip of the first and last index.
// Positions are 64-bit and the clip bounds 128-bit, so no coordinate pair
// overflows; below 32768 in size the results equal 32-bit arithmetic.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "pixel_rule.h"

namespace gfx {

struct line_walk {
    int64_t n;            // steps: max(|dx|, |dy|)
    int64_t sx, sy;       // 16.16 steps per pixel
    int64_t X0, Y0;       // 16.16 start, at the pixel centre
    int64_t first, last;  // pixel indices inside the clip; none when first > last
    bool empty;           // an early out: nothing drawn, cost 0

    int64_t x_at(int64_t i) const { return (X0 + i * sx) >> 16; }
    int64_t y_at(int64_t i) const { return (Y0 + i * sy) >> 16; }

    // last - first + 1 clamped into the 32-bit range (0 for an early out).
    int32_t cost() const {
        if (empty) return 0;
        int64_t c = last - first + 1;
        return int32_t(std::clamp<int64_t>(c, INT32_MIN, INT32_MAX));
    }
};

// (((num) * 65536) / step) >> 16 with truncating division and an
// arithmetic shift; step is not 0.
inline int64_t bound(__int128 num, int64_t step) {
    __int128 q = (num * 65536) / step;
    return int64_t(q >> 16);
}

// Sets up the walk from (xa, ya), the start, to (xb, yb) against the box;
// the last index starts at n, or n - 1 with 'drop_last'.
inline line_walk setup_line(int64_t xa, int64_t ya, int64_t xb, int64_t yb, const clip_box &box,
                            bool drop_last) {
    line_walk w{};
    int64_t dx = xb - xa, dy = yb - ya;
    w.n = std::max(std::llabs(dx), std::llabs(dy));
    w.sx = w.n ? (dx * 65536) / w.n : 0;
    w.sy = w.n ? (dy * 65536) / w.n : 0;
    w.X0 = xa * 65536 + 32768;
    w.Y0 = ya * 65536 + 32768;
    w.first = 0;
    w.last = drop_last ? w.n - 1 : w.n;
    if (yb < box.y0 || ya >= box.y1 || (xa < box.x0 && xb < box.x0) ||
        (xa >= box.x1 && xb >= box.x1) || box.empty()) {
        w.empty = true;
        return w;
    }
    const __int128 X0 = w.X0, Y0 = w.Y0;
    const __int128 cx0 = __int128(box.x0) * 65536, cx1 = __int128(box.x1) * 65536;
    const __int128 cy0 = __int128(box.y0) * 65536, cy1 = __int128(box.y1) * 65536;
    // A zero step keeps that coordinate at its start: a start outside the
    // clip on that axis draws nothing; otherwise the bound does not apply.
    if (ya < box.y0) {
        if (w.sy == 0) return w.empty = true, w;
        w.first = std::max(w.first, bound(cy0 - Y0, w.sy) + 1);
    }
    if (yb >= box.y1 && w.sy != 0) w.last = std::min(w.last, bound(cy1 - Y0 - 1, w.sy));
    if (xa < box.x0) {
        if (w.sx == 0) return w.empty = true, w;
        w.first = std::max(w.first, bound(cx0 - X0, w.sx) + 1);
    }
    if (xa >= box.x1) {
        if (w.sx == 0) return w.empty = true, w;
        w.first = std::max(w.first, bound(X0 - cx1, -w.sx) + 1);
    }
    if (xb < box.x0 && w.sx != 0) w.last = std::min(w.last, bound(X0 - cx0 - 1, -w.sx));
    if (xb >= box.x1 && w.sx != 0) w.last = std::min(w.last, bound(cx1 - X0 - 1, w.sx));
    return w;
}

}  // namespace gfx
