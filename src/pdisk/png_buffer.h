/*
** PNG pictures to and from byte buffers, over LodePNG.
*/
#pragma once

#include <cstdint>

#include "buffer.h"

/* Result of the decoders and encoders for a null buffer. */
inline constexpr uint32_t PNG_NULL_BUFFER_ERROR = 100;

/*
** Decodes the PNG bytes of 'b' (its cursor set to 0 first) into a new pixel
** array of the given LodePNG colour type and bit depth; '*w' and '*h'
** receive the size. Returns LodePNG's error code (0 on success); on success
** '*pixels' holds the array, which the caller releases with free(), else
** null.
*/
uint32_t LodePNG_decode_pbuffer(uint8_t **pixels, uint32_t *w, uint32_t *h, buffer_rec *b,
                                int colour_type, int bit_depth);

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
