// Fuzz target: base64_decode_block over arbitrary text cut into pieces chosen
// by the input, against a one-call decode and a plain reference; the same
// bytes also round-trip through the encoder.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base64.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "base64: %s\n", what);
    abort();
}

// The alphabet characters' bits, eight at a time.
std::vector<uint8_t> reference_decode(const char *in, size_t n) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int have = 0;
    for (size_t i = 0; i < n; i++) {
        const int v = base64_decode_value(in[i]);
        if (v == BASE64_INVALID) continue;
        bits = (bits << 6 | static_cast<uint32_t>(v)) & 0xFFFFFF;
        have += 6;
        if (have >= 8) {
            have -= 8;
            out.push_back(static_cast<uint8_t>(bits >> have));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const uint32_t seed = data[0];
    const char *text = reinterpret_cast<const char *>(data + 1);
    const size_t n = size - 1;

    const std::vector<uint8_t> want = reference_decode(text, n);
    std::vector<uint8_t> out(n + 8);
    base64_decodestate st;
    base64_init_decodestate(&st);
    // Piece lengths from a small generator seeded by the first byte.
    uint32_t x = seed * 2654435761u + 1;
    size_t at = 0, got = 0;
    while (at < n) {
        x = x * 1103515245u + 12345u;
        const size_t piece = std::min(n - at, static_cast<size_t>(x >> 16) % 13);
        const int64_t w = base64_decode_block(text + at, static_cast<int64_t>(piece), out.data() + got, &st);
        if (w < 0 || static_cast<size_t>(w) > (3 * piece + 3) / 4) fail("decode count out of range");
        got += static_cast<size_t>(w);
        at += piece;
    }
    if (got != want.size() || (got && memcmp(out.data(), want.data(), got) != 0)) fail("pieces differ from reference");

    // The raw input as bytes: encode and decode back.
    std::vector<char> enc(4 * ((n + 2) / 3) + 4);
    base64_encodestate es;
    base64_init_encodestate(&es);
    int64_t e = base64_encode_block(data + 1, static_cast<int64_t>(n), enc.data(), &es);
    e += base64_encode_blockend(enc.data() + e, &es);
    if (static_cast<size_t>(e) != 4 * ((n + 2) / 3)) fail("encoded length");
    std::vector<uint8_t> back(n + 4);
    base64_init_decodestate(&st);
    const int64_t d = base64_decode_block(enc.data(), e, back.data(), &st);
    if (static_cast<size_t>(d) != n || memcmp(back.data(), data + 1, n) != 0) fail("round trip");
    return 0;
}
