/*
** Conversions between 8-bit pixels and RGBA pixels through the 64 RGB
** palette entries of the running process (0x5000-0x50FF).
*/
#ifndef QUILLMAR_GFX_BITMAP_CONVERT_H
#define QUILLMAR_GFX_BITMAP_CONVERT_H

#include <stdint.h>

/* Palette entries a conversion offers. */
inline constexpr int CONVERT_PALETTE_ENTRIES = 64;

/*
** Writes 'n' RGBA pixels (4 bytes each: R, G, B, then A = 255) to 'dst' for
** the 'n' pixel bytes at 'src'. Pixel value b gives palette entry b & 63.
** The caller makes 'dst' hold 4 * n bytes.
*/
void convert_bitmap_8_to_32(const uint8_t *src, uint8_t *dst, int64_t n);

/*
** Writes 'n' pixel bytes to 'dst' for the 'n' RGBA pixels at 'src': the index
** 0..63 of the palette entry nearest to the pixel's R, G and B (squared
** distance; the lowest index on a tie; alpha is ignored).
*/
void convert_bitmap_32_to_8(const uint8_t *src, uint8_t *dst, int64_t n);

#endif
