// The ellipse quadrant walk in closed form (see ellipse_rows.h).
#include "ellipse_rows.h"

#include <algorithm>
#include <cmath>

namespace gfx {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

// The largest k >= 0 with m k^2 <= r, for 0 <= r < 2^90 and m > 0: a double
// estimate put right exactly.
int64_t root_floor(i128 r, i128 m) {
    double rd = r >> 62 ? double(int64_t(r >> 32)) * 0x1p32 : double(int64_t(r));
    auto k = int64_t(std::sqrt(rd / double(int64_t(m))));
    while (k > 0 && m * k * k > r) k--;
    while (m * (k + 1) * (k + 1) <= r) k++;
    return k;
}

i128 nonneg(i128 r) {
    return r < 0 ? 0 : r;
}

// sqrt(r1) <= sqrt(r2) + m, exactly. The rooms compared differ by less than
// 2^64 and m^2 r2 stays below 2^124.
bool root_within(i128 r1, i128 r2, i128 m) {
    r1 = nonneg(r1), r2 = nonneg(r2);
    i128 e = r1 - r2 - m * m;
    return e <= 0 || u128(e) * u128(e) <= 4 * u128(m * m) * u128(r2);
}

// sqrt(r1) + m <= sqrt(r2), exactly.
bool root_clear(i128 r1, i128 m, i128 r2) {
    r1 = nonneg(r1), r2 = nonneg(r2);
    i128 e = r2 - r1 - m * m;
    return e >= 0 && 4 * u128(m * m) * u128(r1) <= u128(e) * u128(e);
}

}  // namespace

/*
** The bounds as real numbers: with w(r) = sqrt(max(r, 0) / ry^2), the first
** test's bound is floor(w(room_q(y)) / 2) - 1 and the third's floor((w(
** room_p(2y-2)) - 1) / 2). A row y in 1..ry-1 is
**   steep when w(room_q(y)) <= w(room_p(2y)) + 1 and w(room_p(2y-2)) <=
**     w(room_p(2y)) + 2: the second test's bound then reaches the first's, so
**     the row is left at bound_p(y+1) + 1, and bound_p grows by at most one
**     a row, so the row is left diagonally exactly when it grows;
**   flat when w(room_p(2y)) + 1 <= w(room_q(y)) and w(room_q(y)) + 1 <=
**     w(room_p(2y-2)): the row is left at bound_q(y) + 1 <= bound_p(y),
**     diagonally.
** Each difference of roots above is a difference of rooms that grows with y
** over a sum of roots that shrinks with y, so the steep rows are 1..s and
** the flat rows f..ry-1 for some s < f.
*/
ellipse_rows::ellipse_rows(int64_t rx, int64_t ry)
    : rx_(rx), ry_(ry), a2_(i128(rx) * rx), b2_(i128(ry) * ry), e_(4 * a2_ * b2_) {
    steep_top_ = 0;
    flat_bottom_ = ry;
    if (ry < 2) return;
    if (steep(1)) {
        int64_t lo = 1, hi = ry - 1;
        while (lo < hi) {
            int64_t m = lo + (hi - lo + 1) / 2;
            if (steep(m))
                lo = m;
            else
                hi = m - 1;
        }
        steep_top_ = lo;
    }
    int64_t lo = steep_top_ + 1, hi = ry;
    while (lo < hi) {
        int64_t m = lo + (hi - lo) / 2;
        if (flat(m))
            hi = m;
        else
            lo = m + 1;
    }
    flat_bottom_ = lo;
}

i128 ellipse_rows::room_q(int64_t y) const {
    i128 v = 2 * i128(y) - 1;
    return e_ - a2_ * v * v - 3 * (rx_ & 1);
}

i128 ellipse_rows::room_p(int64_t v) const {
    return e_ - a2_ * i128(v) * v - 3 * (ry_ & 1);
}

int64_t ellipse_rows::bound_q(int64_t y) const {
    int k = int(y & 3);
    if (memo_q_[k].y != y) {
        i128 r = room_q(y);
        memo_q_[k] = {y, r < 0 ? -1 : root_floor(r, 4 * b2_) - 1};
    }
    return memo_q_[k].bound;
}

int64_t ellipse_rows::bound_p(int64_t y) const {
    int k = int(y & 3);
    if (memo_p_[k].y != y) {
        i128 r = room_p(2 * y - 2);
        memo_p_[k] = {y, r < 0 ? -1 : (root_floor(r, b2_) - 1) >> 1};
    }
    return memo_p_[k].bound;
}

bool ellipse_rows::steep(int64_t y) const {
    return root_within(room_q(y), room_p(2 * y), ry_) &&
           root_within(room_p(2 * y - 2), room_p(2 * y), 2 * i128(ry_));
}

bool ellipse_rows::flat(int64_t y) const {
    return root_clear(room_p(2 * y), ry_, room_q(y)) &&
           root_clear(room_q(y), ry_, room_p(2 * y - 2));
}

int64_t ellipse_rows::exit(int64_t y) const {
    if (ry_ == 0) return rx_;
    return std::max(bound_q(y), bound_p(y + 1)) + 1;
}

int64_t ellipse_rows::diagonal(int64_t y) const {
    return exit(y) <= bound_p(y);
}

int64_t ellipse_rows::entry(int64_t y) const {
    if (y >= ry_) return 0;
    int64_t x = exit(y + 1);
    return x + (x <= bound_p(y + 1));
}

// The diagonal y steps leaving rows lo..hi (1 <= lo).
int64_t ellipse_rows::diagonals(int64_t lo, int64_t hi) const {
    int64_t n = 0;
    for (int64_t y = lo; y <= hi; y++) {
        if (y <= steep_top_) {
            int64_t e = std::min(hi, steep_top_);
            n += bound_p(y) - bound_p(e + 1);
            y = e;
        } else if (y >= flat_bottom_ && y < ry_) {
            int64_t e = std::min(hi, ry_ - 1);
            n += e - y + 1;
            y = e;
        } else {
            n += diagonal(y);
        }
    }
    return n;
}

int64_t ellipse_rows::steps(int64_t lo, int64_t hi) const {
    lo = std::max<int64_t>(lo, 0), hi = std::min(hi, ry_);
    if (lo > hi) return 0;
    if (ry_ == 0) return rx_ + 1;
    // Row y takes exit(y) - entry(y) + 1 steps, and each entry is the exit
    // above it plus that row's diagonal.
    return exit(lo) - entry(hi) + (hi - lo + 1) - diagonals(lo + 1, hi);
}

int64_t ellipse_rows::steps_left_of(int64_t c) const {
    if (c <= 0) return 0;
    if (ry_ == 0) return std::min(c, rx_ + 1);
    if (exit(0) < c) return total();
    // The highest row whose exit reaches c; exits never fall as y falls.
    int64_t lo = 0, hi = ry_;
    while (lo < hi) {
        int64_t m = lo + (hi - lo + 1) / 2;
        if (exit(m) >= c)
            lo = m;
        else
            hi = m - 1;
    }
    return steps(lo + 1, ry_) + (c - entry(lo));
}

int64_t ellipse_rows::outline_cost(int64_t ox, int64_t oy) const {
    // Steps with x + ox > 0 form a tail of the walk, those with y + oy > 0 a
    // head.
    int64_t n = total(), left = steps_left_of(1 - ox);
    int64_t high = steps(1 - oy, ry_);
    return 2 * n + (n - left) + high + std::max<int64_t>(0, high - left);
}

}  // namespace gfx
