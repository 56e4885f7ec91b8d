// Fuzz target: PNG decoding of any bytes through the glue (run with
// -malloc_limit_mb=256: a hostile header or stream must not make it hold more).
#include <cstdlib>

#include "png_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int kinds[][2] = {{6, 8}, {0, 8}, {2, 16}, {3, 8}};
    const int *kind = kinds[size ? data[size - 1] % 4 : 0];
    uint8_t *px = nullptr;
    uint32_t w = 0, h = 0;
    const uint32_t err = png_decode_bytes(&px, &w, &h, data, size, kind[0], kind[1]);
    if (err == 0 && (uint64_t{w} * h > PNG_MAX_PIXELS || !px)) std::abort();
    if (err != 0 && px) std::abort();
    std::free(px);
    return 0;
}
