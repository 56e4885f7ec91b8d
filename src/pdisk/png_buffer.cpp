// PNG decoding and encoding between byte buffers and pixel arrays.
#include "png_buffer.h"

#include <lodepng.h>

#include <cstdlib>

namespace {

// Reported when the encoded picture cannot be appended to the buffer.
inline constexpr uint32_t PNG_APPEND_ERROR = 83;  /* LodePNG's "memory allocation failed" */

}  // namespace

uint32_t LodePNG_decode_pbuffer(uint8_t **pixels, uint32_t *w, uint32_t *h, buffer_rec *b,
                                int colour_type, int bit_depth) {
    *pixels = nullptr;
    *w = *h = 0;
    if (!b) return PNG_NULL_BUFFER_ERROR;
    b->cursor = 0;
    unsigned char *out = nullptr;
    unsigned width = 0, height = 0;
    const unsigned err = lodepng_decode_memory(&out, &width, &height, b->data,
                                               static_cast<size_t>(b->length),
                                               static_cast<LodePNGColorType>(colour_type),
                                               static_cast<unsigned>(bit_depth));
    if (err) {
        std::free(out);
        return err;
    }
    *pixels = out;
    *w = width;
    *h = height;
    return 0;
}

uint32_t LodePNG_decode32_pbuffer(uint8_t **pixels, uint32_t *w, uint32_t *h, buffer_rec *b) {
    return LodePNG_decode_pbuffer(pixels, w, h, b, LCT_RGBA, 8);
}

uint32_t LodePNG_encode_pbuffer(const uint8_t *pixels, uint32_t w, uint32_t h, int colour_type,
                                int bit_depth, buffer_rec *out) {
    if (!out) return PNG_NULL_BUFFER_ERROR;
    unsigned char *png = nullptr;
    size_t size = 0;
    const unsigned err = lodepng_encode_memory(&png, &size, pixels, w, h,
                                               static_cast<LodePNGColorType>(colour_type),
                                               static_cast<unsigned>(bit_depth));
    uint32_t result = err;
    if (!err && bwrite(png, 1, static_cast<int64_t>(size), out) != static_cast<int64_t>(size))
        result = PNG_APPEND_ERROR;
    std::free(png);
    return result;
}

uint32_t LodePNG_encode32_pbuffer(const uint8_t *pixels, uint32_t w, uint32_t h, buffer_rec *out) {
    return LodePNG_encode_pbuffer(pixels, w, h, LCT_RGBA, 8, out);
}
