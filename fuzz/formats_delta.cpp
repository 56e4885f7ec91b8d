// Fuzz target: apply_diff over containers and bare streams. The first byte
// picks a mode, the next two (little-endian) the source length, and the
// source and the rest follow:
//   0  the rest taken as it is (a container when it starts with the tag);
//   1  a bare stream whose source CRC is set to the source's, so the
//      operations are read;
//   2  the same stream packed into a container with LZ4;
//   3  generate_diff from source to the rest, applied back: must rebuild it.
#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crc32.h"
#include "delta.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "delta: %s\n", what);
    abort();
}

void store_le32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void apply_and_check(const uint8_t *src, size_t src_len, const uint8_t *delta, size_t delta_len) {
    buffer_rec *out = apply_diff(src, static_cast<int64_t>(src_len), delta, static_cast<int64_t>(delta_len));
    if (!out) return;
    // A returned result is always the declared destination.
    const uint8_t *stream = delta;
    std::vector<uint8_t> unpacked;
    if (delta_len >= 8 && memcmp(delta, "dst", 4) == 0) {
        uint32_t n;
        memcpy(&n, delta + 4, 4);
        unpacked.resize(n);
        const int got = LZ4_decompress_safe(reinterpret_cast<const char *>(delta + 8),
                                            reinterpret_cast<char *>(unpacked.data()),
                                            static_cast<int>(delta_len - 8), static_cast<int>(n));
        if (got < 12) fail("result from a container that does not decode");
        stream = unpacked.data();
    }
    uint32_t len, crc;
    memcpy(&len, stream, 4);
    memcpy(&crc, stream + 8, 4);
    if (static_cast<uint32_t>(out->length) != len || crc32b(out->data, out->length) != crc)
        fail("result is not the declared destination");
    destroy_buffer(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const int mode = data[0] % 4;
    const size_t rest = size - 3;
    const size_t src_len = std::min<size_t>(rest, data[1] | data[2] << 8);
    const uint8_t *src = data + 3;
    std::vector<uint8_t> tail(src + src_len, data + size);

    if (mode == 0) {
        apply_and_check(src, src_len, tail.data(), tail.size());
    } else if (mode == 1 || mode == 2) {
        if (tail.size() < 12) tail.resize(12);
        store_le32(tail.data() + 4, crc32b(src, static_cast<int64_t>(src_len)));
        if (mode == 1) {
            apply_and_check(src, src_len, tail.data(), tail.size());
        } else {
            std::vector<uint8_t> packed(8 + static_cast<size_t>(LZ4_compressBound(static_cast<int>(tail.size()))));
            memcpy(packed.data(), "dst", 4);
            store_le32(packed.data() + 4, static_cast<uint32_t>(tail.size()));
            const int n = LZ4_compress_default(reinterpret_cast<const char *>(tail.data()),
                                               reinterpret_cast<char *>(packed.data() + 8),
                                               static_cast<int>(tail.size()), static_cast<int>(packed.size() - 8));
            packed.resize(8 + static_cast<size_t>(n));
            apply_and_check(src, src_len, packed.data(), packed.size());
        }
    } else {
        buffer_rec *delta = generate_diff(src, static_cast<int64_t>(src_len), tail.data(),
                                          static_cast<int64_t>(tail.size()));
        if (!delta) fail("generate_diff failed");
        buffer_rec *out = apply_diff(src, static_cast<int64_t>(src_len), delta->data, delta->length);
        if (!out || static_cast<size_t>(out->length) != tail.size() ||
            (out->length && memcmp(out->data, tail.data(), tail.size()) != 0))
            fail("generated delta does not rebuild the destination");
        destroy_buffer(out);
        destroy_buffer(delta);
    }
    return 0;
}
