// The line walk of plain and textured lines written out from the rule, with
// its clip bounds in 128 bits: the tests' reference.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// The walk's clip bounds in 128 bits, written out from the rule.
struct ref_line {
    int64_t n = 0, first = 0, last = 0, sx = 0, sy = 0, X0 = 0, Y0 = 0;
    bool empty = false;
};

inline ref_line reference_line(int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t cx0,
                               int64_t cy0, int64_t cx1, int64_t cy1, bool drop_last = false) {
    ref_line r;
    int64_t xa = x0, ya = y0, xb = x1, yb = y1;
    if (y1 < y0) std::swap(xa, xb), std::swap(ya, yb);
    int64_t n = std::max(std::abs(xb - xa), std::abs(yb - ya));
    r.sx = n ? (xb - xa) * 65536 / n : 0;
    r.sy = n ? (yb - ya) * 65536 / n : 0;
    r.X0 = xa * 65536 + 32768;
    r.Y0 = ya * 65536 + 32768;
    r.n = n;
    r.last = drop_last ? n - 1 : n;
    if (cx0 >= cx1 || cy0 >= cy1) return r.empty = true, r;  // an empty clip draws nothing, cost 0
    if (yb < cy0 || ya >= cy1 || (xa < cx0 && xb < cx0) || (xa >= cx1 && xb >= cx1))
        return r.empty = true, r;
    auto q = [](__int128 num, int64_t den) { return int64_t((num * 65536 / den) >> 16); };
    if (ya < cy0) {
        if (!r.sy) return r.empty = true, r;
        r.first = std::max<int64_t>(r.first, q(__int128(cy0) * 65536 - r.Y0, r.sy) + 1);
    }
    if (yb >= cy1 && r.sy) r.last = std::min(r.last, q(__int128(cy1) * 65536 - r.Y0 - 1, r.sy));
    if (xa < cx0) {
        if (!r.sx) return r.empty = true, r;
        r.first = std::max(r.first, q(__int128(cx0) * 65536 - r.X0, r.sx) + 1);
    }
    if (xa >= cx1) {
        if (!r.sx) return r.empty = true, r;
        r.first = std::max(r.first, q(r.X0 - __int128(cx1) * 65536, -r.sx) + 1);
    }
    if (xb < cx0 && r.sx) r.last = std::min(r.last, q(r.X0 - __int128(cx0) * 65536 - 1, -r.sx));
    if (xb >= cx1 && r.sx) r.last = std::min(r.last, q(__int128(cx1) * 65536 - r.X0 - 1, r.sx));
    return r;
}
