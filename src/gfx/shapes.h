/*
** Shapes: rectangles (through the colour tables, raw, and the shadow form),
** lines, ellipses and rounded rectangles. Coordinates are camera-shifted;
** each primitive loads the shape masks, clips to the running process's clip
** rectangle within the target, and returns its cost (32-bit; lines and the
** walks may return 0 or less when nothing lies inside the clip). C linkage.
*/
#ifndef QUILLMAR_GFX_SHAPES_H
#define QUILLMAR_GFX_SHAPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct typed_ud_rec;

/* Semi-axes above this skip an ellipse walk (nothing drawn, cost 0): the
   walk's cost counts about rx + ry steps, and its 64-bit terms hold up to
   here. Its work is bounded by the clip rows and columns it can reach. */
#define ELLIPSE_MAX_RADIUS 0x100000

/* The box (x0, y0)-(x1, y1), corners inclusive and in any order, row by row
   through draw_hline; 0 for a null target. */
int32_t rectfill(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                 int32_t colour);

/* The same box with the low byte of colour, no tables, masks or pattern;
   returns rows x columns filled. */
int32_t rectfill_raw(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                     int32_t colour);

/* Sets bit 5 of every pixel of the clipped box. */
void rectfill_shadow(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

/* A line with both ends drawn, clipped analytically; cost = pixels drawn. */
int32_t draw_line(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                  int32_t colour);

/* The ellipse outline inside the box. */
int32_t draw_oval(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                  int32_t colour);

/* The filled ellipse inside the box, or, with the process's inverted fill,
   everything of the clip outside it. */
int32_t draw_filloval(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                      int32_t colour);

/* The four corner arcs of the box pushed apart by ex columns and ey rows. */
int32_t draw_rrect(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                   int32_t ex, int32_t ey, int32_t colour);

/* The rounded top and bottom bands of the same shape, filled (or inverted). */
int32_t draw_rrectfill(struct typed_ud_rec *target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                       int32_t ex, int32_t ey, int32_t colour);

/* The quadrant walks for semi-axes rx, ry around (cx, cy), the halves ox
   columns and oy rows apart: outline points, or filled spans. */
int32_t draw_ellipse_1(struct typed_ud_rec *target, int32_t cx, int32_t cy, int32_t rx, int32_t ry,
                       int32_t ox, int32_t oy, int32_t colour);
int32_t fill_ellipse_1(struct typed_ud_rec *target, int32_t cx, int32_t cy, int32_t rx, int32_t ry,
                       int32_t ox, int32_t oy, int32_t colour);

#ifdef __cplusplus
}
#endif

#endif
