// CRC-32: carry-less multiplication folding on x86-64 processors that have
// it, else eight bytes per step over eight lookup tables (slicing-by-8).
#include "crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define CRC32_HAVE_CLMUL 1
#endif

namespace {

inline constexpr uint32_t kPolynomial = 0xEDB88320u;

using Tables = std::array<std::array<uint32_t, 256>, 8>;

// Table k gives the CRC contribution of a byte followed by k zero bytes.
constexpr Tables make_tables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; bit++) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; i++) {
        for (int k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
}
constexpr Tables kTables = make_tables();

inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Advances the register 'crc' (not complemented) over [p, end) with tables.
uint32_t crc_tables(uint32_t crc, const uint8_t *p, const uint8_t *end) {
    while (end - p >= 8) {
        const uint32_t lo = load_le32(p) ^ crc;
        const uint32_t hi = load_le32(p + 4);
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^
              kTables[5][(lo >> 16) & 0xFF] ^ kTables[4][lo >> 24] ^
              kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
              kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
    }
    while (p < end) crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFF];
    return crc;
}

#if CRC32_HAVE_CLMUL

// Folding needs at least this many bytes; shorter inputs use the tables.
inline constexpr int64_t kFoldMinimum = 64;

/*
** Folding constants in the bit-reflected domain: x^n mod P reflected and
** shifted left by one, for n = 512 + 32 and 512 - 32 (four blocks at a time),
** 128 + 32 and 128 - 32 (one block), and 64; then P itself and
** floor(x^64 / P), both reflected over 33 bits, for the Barrett reduction.
*/
inline constexpr uint64_t kFold4[2] = {0x154442bd4, 0x1c6e41596};
inline constexpr uint64_t kFold1[2] = {0x1751997d0, 0x0ccaa009e};
inline constexpr uint64_t kFold64 = 0x163cd6124;
inline constexpr uint64_t kBarrett[2] = {0x1db710641, 0x1f7011641};

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i load(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Advances the register 'crc' over the n bytes at p (n >= 64, a multiple of
// 16) by folding 128-bit blocks.
__attribute__((target("pclmul,sse4.1"))) uint32_t crc_fold(uint32_t crc, const uint8_t *p, int64_t n) {
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    __m128i k = _mm_set_epi64x(static_cast<long long>(kFold4[1]), static_cast<long long>(kFold4[0]));
    for (; n >= 64; p += 64, n -= 64) {
        x0 = fold(x0, k, load(p));
        x1 = fold(x1, k, load(p + 16));
        x2 = fold(x2, k, load(p + 32));
        x3 = fold(x3, k, load(p + 48));
    }
    k = _mm_set_epi64x(static_cast<long long>(kFold1[1]), static_cast<long long>(kFold1[0]));
    x0 = fold(x0, k, x1);
    x0 = fold(x0, k, x2);
    x0 = fold(x0, k, x3);
    for (; n >= 16; p += 16, n -= 16) x0 = fold(x0, k, load(p));

    // 128 bits to 64, then to 32 with x^64, then the Barrett reduction.
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    x0 = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, k, 0x10));
    const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
    x0 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x0, low32), k64, 0x00), _mm_srli_si128(x0, 4));
    const __m128i b = _mm_set_epi64x(static_cast<long long>(kBarrett[1]), static_cast<long long>(kBarrett[0]));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x0, low32), b, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), b, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x0, t), 1));
}

bool have_clmul() {
    static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return yes;
}

#endif

}  // namespace

uint32_t crc32b(const uint8_t *bytes, int64_t n) {
    if (n < 1) return 0;
    const uint8_t *p = bytes;
    const uint8_t *const end = bytes + n;
    uint32_t crc = 0xFFFFFFFFu;
#if CRC32_HAVE_CLMUL
    if (n >= kFoldMinimum && have_clmul()) {
        const int64_t blocks = n & ~int64_t{15};
        crc = crc_fold(crc, p, blocks);
        p += blocks;
    }
#endif
    return ~crc_tables(crc, p, end);
}
