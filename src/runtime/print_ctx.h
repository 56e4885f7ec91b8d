/*
** The printer's state between the bytes of one print: one inside every
** process record, zeroed with it.
*/
#ifndef QUILLMAR_RUNTIME_PRINT_CTX_H
#define QUILLMAR_RUNTIME_PRINT_CTX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct typed_ud_rec;

typedef struct print_ctx_rec {
    uint8_t *buffer;              /* owned copy of the text being printed; null when idle */
    uint8_t *read;                /* next byte to interpret */
    uint8_t *end;                 /* one past the caller's last byte */
    uint32_t font;                /* address of the current font in the process's space */
    int32_t wrap;                 /* non-zero: glyphs wrap at wrap_right */
    int32_t wrap_right;           /* right edge for wrapping, target pixels */
    int32_t home_x;               /* x that newline and carriage return go back to */
    int32_t home_y;               /* y stored with home_x */
    int32_t fg;                   /* glyph colour, 0-63 */
    int32_t bg;                   /* background colour, 0-63 */
    struct typed_ud_rec *target;  /* the bitmap printed into */
    int32_t line_height;          /* tallest glyph on the current line; 0 at a line start */
    int32_t wait_frames;          /* frames still to wait before a suspended print goes on */
    int32_t wide, tall, stripey, pinball, border, solid_bg, invert; /* glyph styles, 0 or not */
    int32_t char_w;               /* advance of codes 0-127 */
    int32_t char_w_hi;            /* advance of codes 128-255 */
    int32_t char_h;               /* glyph height; advance of an empty line */
    int32_t saved_x, saved_y;     /* cursor before the last glyph */
    int32_t last_advance;         /* width of the last glyph drawn */
    int32_t tab_w;                /* tab width in pixels; 0 takes the font's */
    int32_t decorate;             /* set for the next glyph */
    int32_t repeat;               /* remaining repetitions of the current item */
    int32_t offset_x, offset_y;   /* offsets added to every glyph position */
    int32_t char_delay;           /* frames to pause after every glyph */
    int32_t outline_mask;         /* 9-bit outline neighbourhood */
    int32_t outline_col;          /* outline colour */
    uint32_t buffer_size;         /* bytes allocated at buffer */
    uint8_t *spare;               /* a small idle allocation kept for the next print */
    uint32_t spare_size;          /* its bytes */
} print_ctx_rec;

#ifdef __cplusplus
}
#endif

#endif
