// Fuzz target: PNG decoding of any bytes through the glue (run with
// -malloc_limit_mb=256: a hostile header or stream must not make it hold more).
//
// The decoder is a system library built without coverage, so the target
// reports what it can see of each decode as extra counters: the decoder's
// result, by the format asked for and by the header's colour type, and the
// colour type, depth, interlace and size classes of every header it takes. The last byte chooses the format asked for
// (bits 0-1) and, while bit 2 is clear, has the chunk CRCs recomputed first,
// so that a mutated header or palette reaches the decoder's own checks
// instead of failing at its CRC. A picture decoded to RGBA, grey or RGB must
// encode and decode again to the same pixels.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "png_buffer.h"

namespace {

struct kind_rec {
    int colour_type, bit_depth;
    size_t pixel_bytes;  /* 0: not round-tripped (a palette needs one to encode) */
};
constexpr kind_rec KINDS[4] = {{6, 8, 4}, {0, 8, 1}, {2, 16, 6}, {3, 8, 0}};

inline constexpr unsigned RESULTS = 128;          /* decoder results told apart; larger ones share the last */
inline constexpr uint64_t ROUND_TRIP_PIXELS = 65536; /* larger pictures are only decoded */

// libFuzzer adds these to its coverage; it clears them before every input.
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t result_seen[4][RESULTS];
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t type_result_seen[8][RESULTS];
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t header_seen[8][17][2];
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t width_seen[33];
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t height_seen[33];

uint32_t be32(const uint8_t *p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

int log2_class(uint32_t v) { return v ? 32 - __builtin_clz(v) : 0; }

// Rewrites the CRC of every whole chunk after the signature.
void fix_crcs(std::vector<uint8_t> &png) {
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint64_t len = be32(&png[at]);
        if (len > png.size() - at - 12) break;
        const uLong crc = crc32(0, &png[at + 4], static_cast<uInt>(len + 4));
        for (int i = 0; i < 4; i++) png[at + 8 + len + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + len;
    }
}

// The header's colour type (0-7), once the decoder has taken the header; -1
// before. Its depth, interlace and size classes are noted.
int note_header(const std::vector<uint8_t> &png) {
    uint32_t w = 0, h = 0;
    if (!png_picture_size(png.data(), png.size(), &w, &h)) return -1;
    const uint8_t depth = png[24], type = png[25] & 7, interlace = png[28] & 1;
    header_seen[type][depth > 16 ? 0 : depth][interlace] = 1;
    width_seen[log2_class(w)] = 1;
    height_seen[log2_class(h)] = 1;
    return type;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const uint8_t last = size ? data[size - 1] : 0;
    const kind_rec &kind = KINDS[last % 4];
    std::vector<uint8_t> png(data, data + size);
    if (!(last & 4)) fix_crcs(png);
    const int type = note_header(png);

    uint8_t *px = nullptr;
    uint32_t w = 0, h = 0;
    const uint32_t err = png_decode_bytes(&px, &w, &h, png.data(), png.size(), kind.colour_type, kind.bit_depth);
    const unsigned result = err < RESULTS ? err : RESULTS - 1;
    result_seen[last % 4][result] = 1;
    if (type >= 0) type_result_seen[type][result] = 1;
    if (err == 0 && (uint64_t{w} * h > PNG_MAX_PIXELS || !px)) std::abort();
    if (err != 0 && px) std::abort();

    if (err == 0 && kind.pixel_bytes && uint64_t{w} * h <= ROUND_TRIP_PIXELS) {
        buffer_rec *b = create_buffer_2(0, 'x');
        if (LodePNG_encode_pbuffer(px, w, h, kind.colour_type, kind.bit_depth, b) != 0) std::abort();
        uint8_t *again = nullptr;
        uint32_t w2 = 0, h2 = 0;
        if (LodePNG_decode_pbuffer(&again, &w2, &h2, b, kind.colour_type, kind.bit_depth) != 0 || w2 != w ||
            h2 != h || std::memcmp(again, px, size_t{w} * h * kind.pixel_bytes) != 0)
            std::abort();
        std::free(again);
        destroy_buffer(b);
    }
    std::free(px);
    return 0;
}
