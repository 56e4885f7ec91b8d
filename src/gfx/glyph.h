/*
** Fonts and the drawing of one glyph with the printer's styles.
**
** A font is 2048 bytes in a process's address space at a multiple of 256:
** header bytes 0-7 (advance of codes 0-127, advance of 128-255, height,
** x offset, y offset, flags, tab width, unused), then 8 row bytes for each
** code c at 8 c (bit x of a row is column x). With flag bit 0, the byte
** c >> 1 holds a width nibble for glyph c (low nibble for even c): bits 0-2
** change the advance by -4..3, bit 3 draws the glyph a pixel higher. Flag
** bit 1 measures tabs from the home x register.
*/
#pragma once

#include <array>
#include <cstdint>

#include "print_ctx.h"
#include "process.h"

struct typed_ud_rec;

/* Size of our built-in font image: a font and 2048 zero bytes. */
inline constexpr int LIL_FONT_BYTES = 4096;

/* Bytes of one font. */
inline constexpr int FONT_BYTES = 2048;

/* Font header fields. */
inline constexpr int FONT_CHAR_W = 0;
inline constexpr int FONT_CHAR_W_HI = 1;
inline constexpr int FONT_CHAR_H = 2;
inline constexpr int FONT_OFFSET_X = 3;
inline constexpr int FONT_OFFSET_Y = 4;
inline constexpr int FONT_FLAGS = 5;
inline constexpr int FONT_TAB_W = 6;

inline constexpr uint8_t FONT_FLAG_NIBBLES = 1;   /* per-glyph width nibbles */
inline constexpr uint8_t FONT_FLAG_HOME_TABS = 2; /* tabs measured from the home x register */

/* draw_character flags. */
inline constexpr int GLYPH_MARGIN = 1;  /* margin row and column belong to the cell */
inline constexpr int GLYPH_RAISED = 8;  /* drawn one pixel higher */

/* A signed 32-bit register of rec's register page, as peek4 reads it:
   straight from the page when its bytes serve it whole. */
int32_t register_i32(process_rec *rec, uint32_t addr);

/* Our built-in font image. */
extern const std::array<uint8_t, LIL_FONT_BYTES> lil_font_dat;

/*
** Draws the 8 row bytes at 'glyph' as one glyph of advance w and height h
** for the current process, at its print cursor (registers 0x54F0/0x54F4)
** plus the context's offsets less the camera, with the context's styles and
** colours, through putpixel (the shape masks must be loaded). Moves the
** cursor on and charges a third of the drawn cell area. Returns 1 when a
** character delay begins, else 0.
*/
int draw_character(print_ctx_rec *ctx, const uint8_t *glyph, int32_t w, int32_t h, int flags);

/*
** A run of glyphs whose cells lie wholly outside the clip rectangle, passed
** without reading their rows: the cursor, camera and styles are held here,
** so a glyph costs no register access. hidden_run_begin reads them for the
** current process and 'ctx', whose styles must not change during the run; hidden_run_pass moves the cursor past one glyph as
** draw_character would and adds its charge to 'cycles', or returns false,
** changing nothing, when the glyph's cell may show or the glyph does more
** than move (decoration, a character delay); hidden_run_end writes the
** cursor back and charges 'cycles'.
*/
struct hidden_glyph_run {
    int64_t cx, cy;              /* the cursor, as its registers hold it */
    int64_t camera_x, camera_y;  /* the camera registers */
    int64_t cycles;              /* charge so far */
    int sx, sy;                  /* pixel scales of the context's styles */
};
void hidden_run_begin(const print_ctx_rec *ctx, hidden_glyph_run *r);
bool hidden_run_pass(print_ctx_rec *ctx, hidden_glyph_run *r, int32_t w, int32_t h, int flags);
void hidden_run_end(const hidden_glyph_run *r);

/*
** Draws bit c of rows[r] (r < h, c < w) at (x + c, y + r) in 'colour' through
** putpixel, unless the whole w x h cell lies outside the current process's
** clip rectangle. Returns w x h when drawn, else 0.
*/
int64_t draw_character_bits(const uint32_t *rows, typed_ud_rec *bitmap, int64_t x, int64_t y,
                            int32_t w, int32_t h, int32_t colour);
