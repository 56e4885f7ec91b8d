/*
** The default colour tables and palettes every (re)boot builds, the palette
** entry setter and the 4 x 4 fill-pattern form. C linkage.
*/
#ifndef QUILLMAR_GFX_COLOUR_TABLES_H
#define QUILLMAR_GFX_COLOUR_TABLES_H

#include <stdint.h>

#include "system_palette.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Four colour tables of 4096 bytes, entry [s * 64 + d]: what the palette
   reset copies to 0x8000-0xBFFF. */
extern uint8_t default_coltabs[16384];

/* The screen palette 0, 1, ..., 63 (for 0x5480). */
extern uint8_t default_indexed_pal[64];

/* The RGB palette (for 0x5000): entry i = system_palette[i & 63]. */
extern uint32_t default_system_pal[256];

/* Fills the three defaults above. */
void init_default_coltabs(void);

/*
** With m = mode & 63: m 0 fills row c & 63 of colour table
** ((mode | c) >> 6) & 3 with value | 0xC0 (a kiv_memset, marking the page
** written); m 1 sets screen-palette byte 0x5480 + (c & 63) to value & 63;
** m 2 stores value as RGB entry c & 255. Modes 1 and 2 write the register
** page directly, leaving its flags. Other modes do nothing. Acts on the
** running process.
*/
void set_palette_entry(int32_t c, int32_t value, int32_t mode);

/* Writes the 4 x 4 pattern p (bit 15 the top-left pixel) into the eight
   fill-pattern rows 0x5500-0x5507 of the running process. */
void fillp_16(int32_t p);

#ifdef __cplusplus
}
#endif

#endif
