// pxa decompressor: literals through the move-to-front table, back-references,
// raw runs, and streams that break the rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pxa.h"

namespace {

// Builds a pxa stream bit by bit, least significant bit first.
struct stream {
    std::vector<uint8_t> bits;

    stream &put(uint32_t value, int n) {
        for (int i = 0; i < n; i++) bits.push_back((value >> i) & 1);
        return *this;
    }
    // A literal of table index v + 16 x (2^k - 1).
    stream &literal(int k, uint32_t v) {
        put(1, 1);
        for (int i = 0; i < k; i++) put(1, 1);
        if (k < 16) put(0, 1);
        return put(v, 4 + k);
    }
    // A back-reference with an offset of 'width' bits (5, 10 or 15) and
    // length fields given as they are.
    stream &backref(int width, uint32_t offset, std::vector<uint32_t> fields) {
        put(0, 1);
        if (width == 15) put(0, 1);
        if (width == 10) put(1, 1).put(0, 1);
        if (width == 5) put(1, 1).put(1, 1);
        put(offset, width);
        for (uint32_t f : fields) put(f, 3);
        return *this;
    }
    stream &raw_run(const std::string &bytes_with_zero) {
        put(0, 1).put(1, 1).put(0, 1).put(0, 10);
        for (unsigned char c : bytes_with_zero) put(c, 8);
        return *this;
    }

    // The whole input; compressed_len 0 means "the real length".
    std::vector<uint8_t> bytes(int raw_len, int compressed_len = 0) const {
        std::vector<uint8_t> in = {0, 'p', 'x', 'a', 0, 0, 0, 0};
        in.resize(8 + (bits.size() + 7) / 8);
        for (size_t i = 0; i < bits.size(); i++) in[8 + i / 8] |= bits[i] << (i % 8);
        if (compressed_len == 0) compressed_len = static_cast<int>(in.size());
        in[4] = static_cast<uint8_t>(raw_len >> 8), in[5] = static_cast<uint8_t>(raw_len);
        in[6] = static_cast<uint8_t>(compressed_len >> 8), in[7] = static_cast<uint8_t>(compressed_len);
        return in;
    }
};

struct decoded {
    int result;
    std::string text;
};

// Decompresses into an area of exactly capacity + 1 bytes, so any write past
// it is caught by the address sanitizer.
decoded decode(const std::vector<uint8_t> &in, int capacity = 65536) {
    std::vector<uint8_t> area(static_cast<size_t>(capacity) + 1, 0xEE);
    const int r = pxa_decompress(in.data(), in.size(), area.data(), capacity);
    const auto end = std::find(area.begin(), area.end(), 0);
    EXPECT_NE(end, area.end()) << "output not terminated";
    return {r, std::string(area.begin(), end)};
}

}  // namespace

TEST(Pxa, ALiteralReadsTheTableAndMovesItsByteToTheFront) {
    // k = 2, v = 17 is index 65; afterwards 'A' sits at index 0.
    const decoded d = decode(stream().literal(2, 17).literal(0, 0).bytes(2));
    EXPECT_EQ(d.result, PXA_OK);
    EXPECT_EQ(d.text, "AA");
}

TEST(Pxa, TheTableShiftsUpBehindAMovedByte) {
    // 'A' (65) to the front, then index 66 is still 'B' and index 1 is 0.
    const decoded d = decode(stream().literal(2, 17).literal(2, 18).literal(0, 1).bytes(3));
    EXPECT_EQ(d.text, "ABA");
}

TEST(Pxa, BackReferencesCopyOverlappingRecentBytes) {
    const struct {
        const char *name;
        stream s;
        int raw_len;
        const char *text;
    } cases[] = {
        {"distance 1, length 5 after one A", stream().literal(2, 17).backref(5, 0, {2}), 6, "AAAAAA"},
        {"a 15-bit offset", stream().literal(2, 17).literal(2, 18).backref(15, 1, {0}), 5, "ABABA"},
    };
    for (const auto &c : cases) {
        const decoded d = decode(c.s.bytes(c.raw_len));
        EXPECT_EQ(d.result, PXA_OK) << c.name;
        EXPECT_EQ(d.text, c.text) << c.name;
    }
    // A length field of 7 reads another: distance 2 over "AB", 3 + 7 + 1 bytes.
    const decoded d = decode(stream().literal(2, 17).literal(2, 18).backref(10, 1, {7, 1}).bytes(13));
    EXPECT_EQ(d.result, PXA_OK);
    EXPECT_EQ(d.text, "ABABABABABABA");
}

TEST(Pxa, ARawRunStoresBytesUpToItsZeroAndDecodingGoesOn) {
    const decoded d = decode(stream().raw_run(std::string("h\xE9!\0", 4)).literal(2, 17).bytes(4));
    EXPECT_EQ(d.result, PXA_OK);
    EXPECT_EQ(d.text, "h\xE9!A");
    // A run that reaches the raw length ends the decompression there.
    const decoded cut = decode(stream().raw_run("abcdef").bytes(3));
    EXPECT_EQ(cut.result, PXA_OK);
    EXPECT_EQ(cut.text, "abc");
}

TEST(Pxa, DecodingStopsAtTheRawLengthAndTheCapacity) {
    const stream s = stream().literal(2, 17).backref(5, 0, {7, 7, 0});
    EXPECT_EQ(decode(s.bytes(1)).text, "A");
    const decoded capped = decode(stream().literal(2, 17).literal(0, 0).literal(0, 0).bytes(3), 2);
    EXPECT_EQ(capped.result, PXA_OK);
    EXPECT_EQ(capped.text, "AA");
}

TEST(Pxa, EmptyHeadersProduceNothing) {
    const stream s = stream().literal(2, 17);
    EXPECT_EQ(decode(s.bytes(1, 8)).text, "");   // compressed length 8
    EXPECT_EQ(decode(s.bytes(0)).text, "");      // raw length 0
    EXPECT_EQ(decode(s.bytes(1), 0).text, "");   // capacity 0
    EXPECT_EQ(decode(s.bytes(1)).text, "A");
}

TEST(Pxa, StreamsThatBreakTheRulesStopAndReportMalformed) {
    const struct {
        const char *name;
        std::vector<uint8_t> in;
        int capacity;
        const char *text;  // what was decoded before the fault
    } cases[] = {
        {"a back-reference before the start", stream().backref(5, 0, {0}).bytes(10), 100, ""},
        {"a back-reference further back than the output", stream().literal(2, 17).backref(5, 1, {0}).bytes(10),
         100, "A"},
        {"a copy past the capacity", stream().literal(2, 17).backref(5, 0, {2}).bytes(10), 5, "A"},
        {"a raw run past the capacity", stream().raw_run("abcdef").bytes(10), 3, "abc"},
        {"a table index above 255", stream().literal(2, 17).literal(5, 0).bytes(10), 100, "A"},
        {"a stream shorter than its raw length", stream().literal(2, 17).bytes(50), 100, "A"},
        {"a compressed length beyond the input", stream().literal(2, 17).literal(0, 0).bytes(50, 400), 100, "AA"},
        {"an input shorter than its header", std::vector<uint8_t>{0, 'p', 'x', 'a', 0}, 100, ""},
    };
    for (const auto &c : cases) {
        const decoded d = decode(c.in, c.capacity);
        EXPECT_EQ(d.result, PXA_MALFORMED) << c.name;
        EXPECT_EQ(d.text, c.text) << c.name;
    }
}
