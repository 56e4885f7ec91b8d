/*
** The host's 64 display colours (0x00RRGGBB): the default palette, also the
** colours of the window icon. Entries 32 to 63 are black.
*/
#ifndef QUILLMAR_GFX_SYSTEM_PALETTE_H
#define QUILLMAR_GFX_SYSTEM_PALETTE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SYSTEM_PALETTE_ENTRIES 64

extern const uint32_t system_palette[SYSTEM_PALETTE_ENTRIES];

#ifdef __cplusplus
}
#endif

#endif
