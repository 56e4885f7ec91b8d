/*
** Textured lines: a line of pixels whose colours come from a texture, drawn
** by the sprite rule and clipped analytically like draw_line. C linkage.
*/
#ifndef QUILLMAR_GFX_TEXTURED_LINES_H
#define QUILLMAR_GFX_TEXTURED_LINES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct typed_ud_rec;

/* Flags of draw_tline3d. */
#define TLINE_DROP_LAST 0x100 /* leave out the line's last pixel */
#define TLINE_SUBPIXEL 0x200  /* align the texture to the sub-pixel start */

/*
** A perspective textured line from (x0, y0) with texture coordinates
** (tu0, tv0) and depth w0 to (x1, y1) with (tu1, tv1, w1). The texture is a
** u8 bitmap, or an i16 map whose cells name sprite slots of the running
** process; texel coordinates wrap by the registers 0x5530-0x5536. Returns the
** pixel count (halved in the unmasked, unpatterned u8 case); 0 for a null or
** empty source or target, another source type, or a non-finite coordinate.
*/
int32_t draw_tline3d(struct typed_ud_rec *src, struct typed_ud_rec *target, int32_t flags,
                     double x0, double y0, double x1, double y1, double tu0, double tv0, double tu1,
                     double tv1, double w0, double w1);

/* draw_tline3d for a drawing call that may read its own target: the texture,
   and the sprite of every map cell, that is before->target is read from the
   copy 'before' makes (blits.h). */
struct target_before;
int32_t draw_tline3d_reading(struct target_before *before, struct typed_ud_rec *src,
                             struct typed_ud_rec *target, int32_t flags, double x0, double y0,
                             double x1, double y1, double tu0, double tv0, double tu1, double tv1,
                             double w0, double w1);

/* An affine textured line over a u8 bitmap, texel (floor(u), floor(v));
   texels outside the bitmap leave their pixel alone. Returns the pixel count;
   0 for a null or empty source, a null target or a source that is not u8. */
int32_t draw_tline_sspr(struct typed_ud_rec *src, struct typed_ud_rec *target, int32_t x0,
                        int32_t y0, int32_t x1, int32_t y1, double tu0, double tv0, double tu1,
                        double tv1);

#ifdef __cplusplus
}
#endif

#endif
