/*
** PNG pictures to and from byte buffers, over LodePNG.
*/
#pragma once

#include <cstddef>
#include <cstdint>

#include "buffer.h"

/* Result of the decoders and encoders for a null buffer. */
inline constexpr uint32_t PNG_NULL_BUFFER_ERROR = 100;

/* Result of the decoders for a picture of more than PNG_MAX_PIXELS. */
inline constexpr uint32_t PNG_TOO_LARGE_ERROR = 101;

/* Largest picture the decoders take, in pixels: no caller needs more. */
inline constexpr uint64_t PNG_MAX_PIXELS = 0x1000000;

/*
** Decodes the PNG bytes of 'b' (its cursor set to 0 first) into a new pixel
** array of the given LodePNG colour type and bit depth; '*w' and '*h'
** receive the size. Pictures of more than PNG_MAX_PIXELS are refused before
** any pixel memory is taken, text chunks are skipped, and the image data may
** inflate to no more than the scanlines the header announces, so the memory
** a decode holds stays near the picture's own size. Returns LodePNG's error code (0 on success); on success
** '*pixels' holds the array, which the caller releases with free(), else
** null.
*/
uint32_t LodePNG_decode_pbuffer(uint8_t **pixels, uint32_t *w, uint32_t *h, buffer_rec *b,
                                int colour_type, int bit_depth);

/* LodePNG_decode_pbuffer over 'size' bytes at 'bytes'. */
uint32_t png_decode_bytes(uint8_t **pixels, uint32_t *w, uint32_t *h, const uint8_t *bytes, size_t size,
                          int colour_type, int bit_depth);

/* The width and height a PNG's header announces; false (and 0 x 0) when the
   bytes do not begin a PNG. Decodes nothing. */
bool png_picture_size(const uint8_t *bytes, size_t len, uint32_t *w, uint32_t *h);

/* LodePNG_decode_pbuffer for RGBA, 8 bits per channel. */
uint32_t LodePNG_decode32_pbuffer(uint8_t **pixels, uint32_t *w, uint32_t *h, buffer_rec *b);

/*
** Encodes the w x h pixels of the given colour type and bit depth as a PNG
** appended to 'out' at its cursor. Returns LodePNG's error code (0 on
** success; nothing is appended on failure).
*/
uint32_t LodePNG_encode_pbuffer(const uint8_t *pixels, uint32_t w, uint32_t h, int colour_type,
                                int bit_depth, buffer_rec *out);

/* LodePNG_encode_pbuffer for RGBA, 8 bits per channel. */
uint32_t LodePNG_encode32_pbuffer(const uint8_t *pixels, uint32_t w, uint32_t h, buffer_rec *out);
