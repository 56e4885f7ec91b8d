// Fuzz target: the pxa decompressor, with the reader's capacity and with a
// small one taken from the input's last byte, so that breaches of small
// outputs are tried too. The output area is exactly capacity + 1 bytes, so
// the sanitizer sees any write past it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "pxa.h"

namespace {

void decompress(const uint8_t *data, size_t size, int capacity) {
    auto out = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity) + 1);
    memset(out.get(), 0xAA, static_cast<size_t>(capacity) + 1);
    const int r = pxa_decompress(data, size, out.get(), capacity);
    if (r != PXA_OK && r != PXA_MALFORMED) abort();
    if (!memchr(out.get(), 0, static_cast<size_t>(capacity) + 1)) {
        fprintf(stderr, "pxa: output not terminated\n");
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    decompress(data, size, 65536);
    if (size > 0) decompress(data, size, data[size - 1] % 64);
    return 0;
}
