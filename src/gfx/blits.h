/*
** Rectangle copies: sprites through the colour tables, raw blits between
** typed arrays, and copies of another process's display. Each clips its
** destination to the running process's clip rectangle within the target.
** C linkage.
*/
#ifndef QUILLMAR_GFX_BLITS_H
#define QUILLMAR_GFX_BLITS_H

#include <stddef.h>
#include <stdint.h>

#include "process.h"

#ifdef __cplusplus
extern "C" {
#endif

struct typed_ud_rec;

/* The sprite rectangle (sx, sy, w, h) to (dx, dy) by the sprite rule, the
   whole sprite mirrored first by flip_x and flip_y (a flipped sprite that
   is the target reads it as it was before the call); returns rows x
   columns drawn, 0 when nothing is drawn, a bitmap is null or memory for
   that copy runs out. */
int32_t draw_spr(struct typed_ud_rec *sprite, struct typed_ud_rec *target, int32_t sx, int32_t sy,
                 int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t flip_x, int32_t flip_y);

/*
** The draw target as it was when a drawing call began, for the sprites,
** textures and map cells of that call that are the target itself: they read
** this copy, so no pixel reads what the same call has already drawn. The
** copy (header and whole element area) is made on first use and serves the
** rest of the call; the call begins with {target, null, 0} and ends with
** target_before_end. A caller that made the copy itself (a block it holds)
** begins with {target, copy or null, 1} and does not end it.
*/
struct target_before {
    struct typed_ud_rec *target; /* the call's draw target */
    struct typed_ud_rec *copy;   /* its copy; null until made or when there is none */
    int32_t tried;               /* non-zero once the copy was attempted */
};

/* 'source', or the copy of the target when 'source' is the target (made on
   its first use); 'source' itself when memory for the copy runs out. */
struct typed_ud_rec *target_before_source(struct target_before *b, struct typed_ud_rec *source);

/* Frees the copy; returns what it costs the call: the copied width x height
   / 64, or 0 when no copy was made. */
int64_t target_before_end(struct target_before *b);

/* draw_spr's clipping on the six in-out values; *h becomes 0 when nothing
   remains. */
void clip_bitmaps(struct typed_ud_rec *src, struct typed_ud_rec *dst, int32_t *sx, int32_t *sy,
                  int32_t *dx, int32_t *dy, int32_t *w, int32_t *h);

/* Copies the w x h elements at (sx, sy) of src to (dx, dy) of dst, raw and
   safe within one array; returns the cost by the b bytes of a row copied
   ((4b + 256) x h onto the same rows of one array, else (b + 64) x h,
   saturating), 0 for a null array, different element types or an empty
   rectangle. */
int32_t blit(struct typed_ud_rec *src, struct typed_ud_rec *dst, int32_t sx, int32_t sy, int32_t dx,
             int32_t dy, int32_t w, int32_t h);

/* Copies the w x h bytes at (sx, sy) of proc's display at 'base' (row stride
   its i16 width register) to (dx, dy) of target, reading proc's page table
   without creating pages: bytes not served read as colour 8. With a mask
   only source bytes sharing a bit with it are written (colour 8 always).
   Returns (rows x columns) / 4. */
int32_t blit_from_ram(process_rec *proc, uint32_t base, struct typed_ud_rec *target, int32_t sx,
                      int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h, uint32_t mask);

/* Copies byte i of n from src to dst only when src[i] & mask is non-zero. */
void alpha_bits_memcpy(uint8_t *dst, const uint8_t *src, size_t n, uint32_t mask);

#ifdef __cplusplus
}
#endif

#endif
