// PNG decoding and encoding between byte buffers and pixel arrays.
#include "png_buffer.h"

#include <lodepng.h>

#include <cstdlib>

namespace {

// Reported when the encoded picture cannot be appended to the buffer.
inline constexpr uint32_t PNG_APPEND_ERROR = 83;  /* LodePNG's "memory allocation failed" */

// Adam7 passes: first column and row, column and row steps.
inline constexpr unsigned ADAM7_IX[7] = {0, 4, 0, 2, 0, 1, 0};
inline constexpr unsigned ADAM7_IY[7] = {0, 0, 4, 0, 2, 0, 1};
inline constexpr unsigned ADAM7_DX[7] = {8, 8, 4, 4, 2, 2, 1};
inline constexpr unsigned ADAM7_DY[7] = {8, 8, 8, 4, 4, 2, 2};

// Bytes of the filtered scanlines of a w x h picture: a filter byte and the
// packed pixels per row, summed over the seven passes when interlaced.
uint64_t filtered_size(uint64_t w, uint64_t h, uint64_t bpp, bool interlaced) {
    auto rows = [bpp](uint64_t pw, uint64_t ph) { return pw && ph ? ph * (1 + (pw * bpp + 7) / 8) : 0; };
    if (!interlaced) return rows(w, h);
    uint64_t total = 0;
    for (int i = 0; i < 7; i++)
        total += rows((w + ADAM7_DX[i] - ADAM7_IX[i] - 1) / ADAM7_DX[i], (h + ADAM7_DY[i] - ADAM7_IY[i] - 1) / ADAM7_DY[i]);
    return total;
}

}  // namespace

bool png_picture_size(const uint8_t *bytes, size_t len, uint32_t *w, uint32_t *h) {
    unsigned width = 0, height = 0;
    LodePNGState state;
    lodepng_state_init(&state);
    const unsigned err = lodepng_inspect(&width, &height, &state, bytes, len);
    lodepng_state_cleanup(&state);
    *w = err ? 0 : width;
    *h = err ? 0 : height;
    return err == 0;
}

uint32_t png_decode_bytes(uint8_t **pixels, uint32_t *w, uint32_t *h, const uint8_t *bytes, size_t size,
                          int colour_type, int bit_depth) {
    *pixels = nullptr;
    *w = *h = 0;
    unsigned char *out = nullptr;
    unsigned width = 0, height = 0;
    LodePNGState state;
    lodepng_state_init(&state);
    // LodePNG reserves what the header announces before it inflates: check
    // the size first, take no text chunks, and let the image data inflate
    // to no more than the scanlines of that size.
    unsigned err = lodepng_inspect(&width, &height, &state, bytes, size);
    if (!err && static_cast<uint64_t>(width) * height > PNG_MAX_PIXELS) err = PNG_TOO_LARGE_ERROR;
    if (!err) {
        state.decoder.read_text_chunks = 0;
        state.decoder.zlibsettings.max_output_size = static_cast<size_t>(
            filtered_size(width, height, lodepng_get_bpp(&state.info_png.color), state.info_png.interlace_method != 0));
        state.info_raw.colortype = static_cast<LodePNGColorType>(colour_type);
        state.info_raw.bitdepth = static_cast<unsigned>(bit_depth);
        err = lodepng_decode(&out, &width, &height, &state, bytes, size);
    }
    lodepng_state_cleanup(&state);
    if (err) {
        std::free(out);
        return err;
    }
    *pixels = out;
    *w = width;
    *h = height;
    return 0;
}

uint32_t LodePNG_decode_pbuffer(uint8_t **pixels, uint32_t *w, uint32_t *h, buffer_rec *b,
                                int colour_type, int bit_depth) {
    *pixels = nullptr;
    *w = *h = 0;
    if (!b) return PNG_NULL_BUFFER_ERROR;
    b->cursor = 0;
    return png_decode_bytes(pixels, w, h, b->data, b->length > 0 ? static_cast<size_t>(b->length) : 0,
                            colour_type, bit_depth);
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
