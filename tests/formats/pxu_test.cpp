// pxu image coding: the record vectors, the legacy and unknown formats, bit
// counts, round trips over run lengths at the code's edges, and truncation.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pxu.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes write_record(const Bytes &elements, uint32_t width, uint32_t height, int bits, uint8_t dims = 2) {
    buffer_rec *b = create_buffer_2(0, 't');
    const pxu_head head{3, dims, 0, width, height, 1};
    const int64_t n = pxu_write(&head, elements.data(), b, bits);
    Bytes out(b->data, b->data + b->length);
    EXPECT_EQ(n, b->length);
    destroy_buffer(b);
    return out;
}

struct read_result {
    bool ok = false;
    pxu_head head{};
    Bytes elements;
    size_t used = 0;  // record bytes consumed
};

// Reads 'record' from an array of exactly its size, so ASan sees any read
// past its end.
read_result read_record(const Bytes &record) {
    read_result r;
    auto *exact = new uint8_t[record.size() ? record.size() : 1];
    std::copy(record.begin(), record.end(), exact);
    const uint8_t *end = exact + record.size();
    const uint8_t *body = pxu_read_head(exact, end, &r.head);
    if (body) {
        const uint64_t count = pxu_element_count(&r.head);
        if (count <= (1u << 24)) {
            r.elements.assign(static_cast<size_t>(count), 0);
            const uint8_t *after = pxu_read_body(&r.head, body, end, r.elements.data(), count);
            if (after) {
                r.ok = true;
                r.used = static_cast<size_t>(after - exact);
            }
        }
    }
    delete[] exact;
    return r;
}

Bytes head_2d(uint8_t format, uint8_t w, uint8_t h) { return {'p', 'x', 'u', 0, 0x43, format, w, h}; }

Bytes cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Pxu, WritesTheCodeVectors) {
    const struct {
        const char *what;
        Bytes elements;
        Bytes codes;  // after the sizes: the bit count, then the codes
    } cases[] = {
        {"four sevens in slot 7", Bytes(4, 7), {4, 0x37}},
        {"twenty zeros with one extension byte", Bytes(20, 0), {4, 0xF0, 4}},
        {"excess of exactly 255", Bytes(15 + 1 + 255, 0), {4, 0xF0, 255, 0}},
        {"excess of 254", Bytes(15 + 1 + 254, 0), {4, 0xF0, 254}},
        {"literal 200 takes the entry of slot 14", {200, 5, 200}, {4, 0x0F, 200, 0x05, 0x0E}},
        {"a literal replaces the entry the slot list names last",
         {14, 200, 13, 200},
         {4, 0x0E, 0x0F, 200, 0x0F, 13, 0x0F, 200}},
    };
    for (const auto &c : cases) {
        const uint32_t w = static_cast<uint32_t>(c.elements.size());
        const Bytes rec = write_record(c.elements, w, 1, 4);
        const Bytes want = cat(w < 256 ? head_2d(0x20, static_cast<uint8_t>(w), 1)
                                       : Bytes{'p', 'x', 'u', 0, 0x43, 0x28, static_cast<uint8_t>(w),
                                               static_cast<uint8_t>(w >> 8), 0, 0, 1, 0, 0, 0},
                               c.codes);
        EXPECT_EQ(rec, want) << c.what;
        const read_result r = read_record(rec);
        ASSERT_TRUE(r.ok) << c.what;
        EXPECT_EQ(r.elements, c.elements) << c.what;
        EXPECT_EQ(r.used, rec.size()) << c.what;
    }
}

TEST(Pxu, WidthOf300TakesU32Sizes) {
    const Bytes elements(300, 9);
    const Bytes rec = write_record(elements, 300, 1, 0);
    EXPECT_EQ(Bytes(rec.begin(), rec.begin() + 14), (Bytes{'p', 'x', 'u', 0, 0x43, 0x18, 0x2C, 1, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(rec.size(), 14u + 300);
    const read_result r = read_record(rec);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.head.width, 300u);
    EXPECT_EQ(r.head.height, 1u);
    EXPECT_EQ(r.elements, elements);
}

TEST(Pxu, OneDimensionWritesOnlyTheWidthUnlessItHasRows) {
    EXPECT_EQ(write_record({1, 2}, 2, 1, 0, 1), (Bytes{'p', 'x', 'u', 0, 0x03, 0x10, 2, 1, 2}));
    // A one-dimensional header with several rows keeps them.
    EXPECT_EQ(write_record({1, 2, 3, 4}, 2, 2, 0, 1), (Bytes{'p', 'x', 'u', 0, 0x43, 0x10, 2, 2, 1, 2, 3, 4}));
}

TEST(Pxu, WriterClampsTheBitCount) {
    const Bytes elements = {1, 1, 2};
    const struct {
        int bits;
        uint8_t written;
    } cases[] = {{7, 6}, {100, 6}, {6, 6}, {1, 1}, {-3, 1}, {4, 4}};
    for (const auto &c : cases) {
        const Bytes rec = write_record(elements, 3, 1, c.bits);
        EXPECT_EQ(rec[5], 0x20);
        EXPECT_EQ(rec[8], c.written) << c.bits;
        EXPECT_EQ(read_record(rec).elements, elements) << c.bits;
    }
}

TEST(Pxu, ReaderRefusesBitCountsOutsideOneToSix) {
    for (uint8_t b : {0, 7, 8, 255}) {
        EXPECT_FALSE(read_record(cat(head_2d(0x20, 2, 1), {b, 0x00})).ok) << int(b);
    }
    for (uint8_t b = 1; b <= 6; b++) {
        // A literal code: slot m, then the value; the run covers both elements.
        const uint8_t m = static_cast<uint8_t>((1 << b) - 1);
        const read_result r = read_record(cat(head_2d(0x20, 2, 1), {b, static_cast<uint8_t>(1 << b | m), 77}));
        ASSERT_TRUE(r.ok) << int(b);
        EXPECT_EQ(r.elements, (Bytes{77, 77}));
    }
}

TEST(Pxu, ReadsLegacyRecords) {
    // u32 width 3, height 2, depth 1, type 3, b = 4, one run of six 9s.
    const Bytes rec = {'p', 'x', 'u', 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 3, 4, 0x59, 0xEE};
    const read_result r = read_record(rec);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.head.dims, 2);
    EXPECT_EQ(r.head.type, 3);
    EXPECT_EQ(r.head.width, 3u);
    EXPECT_EQ(r.head.height, 2u);
    EXPECT_EQ(r.elements, Bytes(6, 9));
    EXPECT_EQ(r.used, rec.size() - 1);  // ends after the code that filled the array
}

TEST(Pxu, UnknownFormatGivesZerosAndEndsAfterTheSizes) {
    const read_result r = read_record(cat(head_2d(0x30, 2, 2), {1, 2, 3, 4}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.elements, Bytes(4, 0));
    EXPECT_EQ(r.used, 8u);
}

TEST(Pxu, RunsStopAtTheLastElement) {
    // fmax with long extensions, summed past any 8-bit or 32-bit field.
    Bytes codes = {4, 0xF3};
    codes.insert(codes.end(), 1000, 255);
    codes.push_back(0);
    const read_result r = read_record(cat(head_2d(0x20, 5, 1), codes));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.elements, Bytes(5, 3));
    EXPECT_EQ(r.used, 8u + codes.size());
}

TEST(Pxu, ReadsThreeDimensionSizes) {
    const Bytes rec = {'p', 'x', 'u', 0, 0x83, 0x10, 2, 1, 2, 5, 6, 7, 8};
    const read_result r = read_record(rec);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.head.dims, 3);
    EXPECT_EQ(r.head.depth, 2u);
    EXPECT_EQ(r.elements, (Bytes{5, 6, 7, 8}));
}

TEST(Pxu, RoundTripsRunsAtTheCodeEdgesForEveryBitCount) {
    std::mt19937 rng(21);
    for (int b = 1; b <= 6; b++) {
        const uint64_t fmax = (1u << (8 - b)) - 1;
        const uint64_t runs[] = {1, fmax, fmax + 1, fmax + 255, fmax + 256};
        for (int values = 1; values <= 300; values += (values < 20 ? 1 : 37)) {
            Bytes e;
            for (int k = 0; k < values; k++) {
                // Few distinct values keep slots busy; many force literals.
                const uint8_t v = static_cast<uint8_t>(k % 3 == 0 ? rng() % 4 : rng());
                e.insert(e.end(), runs[rng() % 5], v);
            }
            const uint32_t w = static_cast<uint32_t>(e.size());
            const Bytes rec = write_record(e, w, 1, b);
            EXPECT_EQ(rec[5], w >= 256 ? 0x28 : 0x20);
            const read_result r = read_record(rec);
            ASSERT_TRUE(r.ok) << b << " " << values;
            ASSERT_EQ(r.elements, e) << b << " " << values;
            ASSERT_EQ(r.used, rec.size());
        }
    }
}

TEST(Pxu, EveryTruncationFailsCleanly) {
    std::mt19937 rng(5);
    Bytes e;
    for (int k = 0; k < 60; k++) e.insert(e.end(), 1 + rng() % 40, static_cast<uint8_t>(rng() % 50 + 100 * (k % 2)));
    const Bytes legacy = {'p', 'x', 'u', 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 3, 4, 0x59};
    for (const Bytes &rec : {write_record(e, static_cast<uint32_t>(e.size()), 1, 4),
                             write_record(e, static_cast<uint32_t>(e.size()), 1, 0),
                             write_record(Bytes(4000, 1), 4000, 1, 1), legacy}) {
        ASSERT_TRUE(read_record(rec).ok);
        for (size_t n = 0; n < rec.size(); n++) EXPECT_FALSE(read_record(Bytes(rec.begin(), rec.begin() + n)).ok) << n;
    }
}

TEST(Pxu, ElementCountSaturates) {
    const pxu_head big{3, 3, PXU_CODED, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(pxu_element_count(&big), UINT64_MAX);
    const pxu_head small{3, 2, PXU_CODED, 300, 2, 1};
    EXPECT_EQ(pxu_element_count(&small), 600u);
}
