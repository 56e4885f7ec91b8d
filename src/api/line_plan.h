/*
** The textured lines a stretched, scaled or transposed sprite is drawn
** with: pure functions from sizes and flips to each line's screen ends and
** texture ends. Every texture end lies inside the sprite.
*/
#ifndef QUILLMAR_API_LINE_PLAN_H
#define QUILLMAR_API_LINE_PLAN_H

#include <stdint.h>

/* One line: screen ends (x0, y0)-(x1, y1), saturated to 64 bits, texture
   ends (u0, v0)-(u1, v1). */
struct tline_plan {
    int64_t x0, y0, x1, y1;
    double u0, v0, u1, v1;
};

/*
** Line k of a stretched copy of the sw x sh source rectangle at (sx, sy) to
** the dw x dh rectangle at (dx, dy) (all sizes at least 1): rows when
** dw > dh, else columns; k counts the lines from the top or left.
*/
tline_plan stretch_line(int64_t sx, int64_t sy, int64_t sw, int64_t sh, int64_t dx, int64_t dy, int64_t dw,
                        int64_t dh, bool flip_x, bool flip_y, int64_t k);

/* Whether a stretched copy is drawn row by row (else column by column). */
inline bool stretch_by_rows(int64_t dw, int64_t dh) { return dw > dh; }

/*
** Row j of a map cell cw x ch at (x, y) showing a w x h sprite, scaled, or
** transposed (rows and columns exchanged), with the cell's flips.
*/
tline_plan cell_line(int64_t w, int64_t h, int64_t x, int64_t y, int64_t cw, int64_t ch, bool transposed,
                     bool flip_x, bool flip_y, int64_t j);

#endif
