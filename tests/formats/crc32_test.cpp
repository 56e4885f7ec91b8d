// CRC-32: known values and agreement with a bit-at-a-time reference at every
// length and alignment around the eight-byte steps.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "crc32.h"

namespace {

uint32_t crc_bitwise(const uint8_t *p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

uint32_t crc_of(const char *s) {
    return crc32b(reinterpret_cast<const uint8_t *>(s), static_cast<int64_t>(strlen(s)));
}

}  // namespace

TEST(Crc32, KnownValues) {
    EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc_of("a"), 0xE8B7BE43u);
    EXPECT_EQ(crc_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(Crc32, NoBytesGiveZero) {
    const uint8_t b = 1;
    EXPECT_EQ(crc32b(&b, 0), 0u);
    EXPECT_EQ(crc32b(&b, -3), 0u);
    EXPECT_EQ(crc32b(nullptr, 0), 0u);
}

TEST(Crc32, MatchesTheBitwiseReferenceAtEveryLengthAndAlignment) {
    std::mt19937 rng(3);
    std::vector<uint8_t> data(300);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    for (size_t offset = 0; offset < 8; offset++) {
        for (size_t n = 1; n + offset <= data.size(); n += (n < 40 ? 1 : 13)) {
            ASSERT_EQ(crc32b(data.data() + offset, static_cast<int64_t>(n)), crc_bitwise(data.data() + offset, n))
                << offset << " " << n;
        }
    }
}
