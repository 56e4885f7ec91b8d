// The ellipse quadrant walk in closed form: where it enters and leaves any
// row, and how many steps it takes over any run of rows, without walking.
#pragma once

#include <cstdint>

namespace gfx {

/*
** The walk of ellipse.cpp over the quadrant of semi-axes rx, ry (0 to
** ELLIPSE_MAX_RADIUS) starts at (0, ry). Its decisions depend on the point
** only: with the doubled-coordinate form G(u, v) = ry^2 u^2 + rx^2 v^2 and
** E = 4 rx^2 ry^2, at (x, y) it
**   steps x alone   when G(2x+2, 2y-1) <= E - 3(rx&1) or G(2x+1, 2y) <= E - 3(ry&1),
**   else steps y, and x as well when G(2x+1, 2y-2) <= E - 3(ry&1).
** Each test holds for every x up to a bound of its row, and those bounds
** never fall as y falls; so row y is entered at entry(y), left at exit(y)
** >= entry(y) with one y step (the fill's span is drawn there), and the next
** row is entered at exit(y) or exit(y) + 1. For ry >= 1 the walk never
** passes rx and ends after row 0. For ry = 0 it steps x alone from 0 to rx
** and ends there: the one row has no y step.
**
** Counting steps over a run of rows needs the number of diagonal y steps in
** it. Where the edge is steep (less than one column per row) a row is left
** diagonally exactly when the x bound of the third test moves, so the count
** is that bound's difference; where the edge is flat every row is left
** diagonally. Both zones are found by bisection on tests exact in 128 bits,
** and the rows between them (one or two) are counted one by one.
*/
class ellipse_rows {
   public:
    ellipse_rows(int64_t rx, int64_t ry);

    int64_t entry(int64_t y) const;  // 0 <= y <= ry
    int64_t exit(int64_t y) const;   // 0 <= y <= ry; rx when ry = 0

    // The walk's steps (loop iterations) in rows lo..hi; 0 when lo > hi.
    int64_t steps(int64_t lo, int64_t hi) const;
    int64_t total() const { return steps(0, ry_); }

    // The steps taken at columns below c.
    int64_t steps_left_of(int64_t c) const;

    // The outline's cost: 2 a step, and 1 more for each of the mirrored
    // points it draws (x + ox > 0 and y + oy > 0, y + oy > 0, x + ox > 0).
    int64_t outline_cost(int64_t ox, int64_t oy) const;

   private:
    int64_t rx_, ry_;
    __int128 a2_, b2_, e_;  // rx^2, ry^2, 4 rx^2 ry^2
    int64_t steep_top_;     // rows 1..steep_top_ are steep
    int64_t flat_bottom_;   // rows flat_bottom_..ry - 1 are flat

    // The last bounds found, by row modulo 4: a pass over neighbouring rows
    // finds each once.
    struct memo {
        int64_t y = INT64_MIN, bound = 0;
    };
    mutable memo memo_q_[4], memo_p_[4];

    __int128 room_q(int64_t y) const;  // E - 3(rx&1) - rx^2 (2y-1)^2
    __int128 room_p(int64_t v) const;  // E - 3(ry&1) - rx^2 v^2
    int64_t bound_q(int64_t y) const;  // largest x of the first test at row y, or -1
    int64_t bound_p(int64_t y) const;  // largest x of the third test at row y, or -1
    int64_t diagonal(int64_t y) const;
    int64_t diagonals(int64_t lo, int64_t hi) const;
    bool steep(int64_t y) const;
    bool flat(int64_t y) const;
};

}  // namespace gfx
