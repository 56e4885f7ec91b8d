/*
** The text printer: zenscii text into a bitmap for the current process,
** with its control codes 0-15 and the one-letter commands behind code 6.
** All state lives in the process's print context and its registers.
*/
#pragma once

#include <cstddef>
#include <cstdint>

#include "print_ctx.h"
#include "process.h"

struct typed_ud_rec;

/* Largest cursor x and y seen during the current print; print_max_set is 0
   until the first item of a print has run. */
extern int64_t print_max_x;
extern int64_t print_max_y;
extern int print_max_set;

/* print_zenscii flags: glyphs wrap at the clip's right edge. */
inline constexpr int PRINT_WRAP = 0x10;

/*
** Prints the 'len' bytes of 'text' (NULs allowed; the first one ends the
** print) into 'target' for the current process, from its cursor. Colours:
** bits 0-5 the glyph colour, bits 8-13 the background. Returns 0 when the
** whole text was interpreted, 1 when a pause or character delay suspended it
** (the rest stays in the context until the next print drops it). A null text
** only resets the extent.
*/
int print_zenscii(typed_ud_rec *target, const void *text, size_t len, int flags, int colours);

/* Resumes the current process's suspended print: 0 when there is none (or
   its target is no longer the process's draw target, which drops it), 1
   while its pause counts down, else as print_zenscii. */
int continue_print_text(void);

/* Interprets one item at the context's read position; non-zero suspends. */
int tekla_print_char(print_ctx_rec *ctx);

/* Loads attributes, font, sizes and offsets from the current process's
   registers and font. */
void reset_print_context(print_ctx_rec *ctx);

/* Frees the current process's print buffers and zeroes its context. */
void init_print_context(void);

/* Frees the context's print buffer (keeping the larger of it and the spare
   one, up to 4 KiB, for the next print) and clears the pointer. */
void destroy_print_buffer(print_ctx_rec *ctx);

/* The parameter digit of a byte: '0'-'9' give 0-9, bytes from 'a' up give
   c - 87, anything else 0. */
inline int print_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    return c >= 'a' ? c - 87 : 0;
}

/* A byte of the current process's space by the access rule, without making
   pages: 0 where nothing is mapped or owned. */
uint8_t font_byte(const process_rec *p, uint32_t addr);
