// The paged address space: the access rule against a byte-at-a-time model,
// the documented edge cases and costs, overlapping copies, page copies
// between processes, and the peek operators.
#include <cstdlib>
#include <random>

#include "address_space_ops.h"
#include "runtime_fixture.h"

namespace {

// A zeroed record outside the table, current while it lives.
struct BareProcess {
    BareProcess() : rec(static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)))) {
        saved = cproc;
        cproc = rec;
    }
    ~BareProcess() {
        cproc = saved;
        free_own_pages(rec);
        std::free(rec);
    }
    process_rec *rec;
    process_rec *saved;
};

}  // namespace

TEST(AddressSpaceModelTest, RandomOperationSequencesMatchTheByteRule) {
    std::mt19937 rng(12345);
    for (int run = 0; run < 20; run++) {
        std::vector<uint8_t> ops(4000);
        for (auto &b : ops) b = static_cast<uint8_t>(rng());
        // Every 25th operation a full comparison.
        for (size_t i = 0; i < ops.size(); i += 160) ops[i] = 6;
        std::string err = address_space_ops::run(ops.data(), ops.size());
        ASSERT_EQ(err, "") << "run " << run;
    }
}

TEST(AddressSpace, DocumentedEdgeCases) {
    BareProcess bp;
    process_rec *r = bp.rec;

    EXPECT_EQ(peek(0x20000), 0);
    EXPECT_EQ(r->own_page_bytes, 4096u) << "a read makes the page";
    EXPECT_EQ(peek(0x20FFF), 0);
    EXPECT_EQ(r->own_page_bytes, 4096u);
    EXPECT_EQ(r->page_flags[0x20], 0) << "a read flags nothing";

    poke2(0x1FFF, 0x1234);
    EXPECT_EQ(peek(0x1FFF), 0x34);
    EXPECT_EQ(peek(0x2000), 0x12);
    EXPECT_EQ(r->page_flags[1], 255);
    EXPECT_EQ(r->page_flags[2], 255);
    EXPECT_EQ(peek2(0x1FFF), 0x1234);

    poke(0x1000123, 7);
    EXPECT_EQ(peek(0x123), 7);

    poke2(0x100, 0xFFFF);
    EXPECT_EQ(peek2(0x100), -1);
    EXPECT_EQ(peek(0x100), 255);

    poke4(0xFFFFFE, 0x11223344);
    EXPECT_EQ(peek(0xFFFFFE), 0x44);
    EXPECT_EQ(peek(0xFFFFFF), 0x33);
    EXPECT_EQ(peek(0x000000), 0x22);
    EXPECT_EQ(peek(0x000001), 0x11);
    EXPECT_EQ(peek4(0xFFFFFE), 0x11223344);

    poke8(0x5000, INT64_MIN + 5);
    EXPECT_EQ(peek8(0x5000), INT64_MIN + 5);
    poke4(0x6000, 0x80000000LL);
    EXPECT_EQ(peek4(0x6000), INT32_MIN);
}

TEST(AddressSpace, BulkCostsFollowSegmentsAndOverlaps) {
    BareProcess bp;
    process_rec *r = bp.rec;
    for (int i = 0; i < 101; i++) poke(0x10000 + i, i);

    EXPECT_EQ(kiv_memcpy(0x10000, 0x10001, 100), 12u);
    for (int i = 0; i < 100; i++) ASSERT_EQ(peek(0x10000 + i), i + 1) << i;
    EXPECT_EQ(kiv_memcpy(0x10001, 0x10000, 100), 12u);
    for (int i = 0; i < 100; i++) ASSERT_EQ(peek(0x10001 + i), i + 1) << i;

    kiv_memset(0x20000, 1, 8192);
    kiv_memset(0x30000, 2, 8192);
    EXPECT_EQ(kiv_memcpy(0x20000, 0x30000, 8192), 66u);
    EXPECT_EQ(peek(0x21FFF), 2);

    r->page_flags[8] = 2;
    EXPECT_EQ(kiv_memset(0x8000, 3, 0), 0u);
    EXPECT_EQ(r->page_flags[8], 2);
    EXPECT_EQ(kiv_memset(0x8000, 3, -4), 0u);
    EXPECT_EQ(kiv_memcpy(0x8000, 0x8000, 100), 0u);
    EXPECT_EQ(kiv_memcpy(0x8000, 0x1008000, 100), 0u) << "the same address modulo 16 MB";
    EXPECT_EQ(kiv_memcpy(0x9000, 0x8000, 0), 0u);
    EXPECT_EQ(r->page_flags[9], 0);

    std::vector<uint8_t> array(1000, 0);
    map_page(r, 0x50, array.data(), 1000);
    EXPECT_EQ(kiv_memset(0x50000, 9, 4096), 1000u / 128 + 1 + 3096u / 128 + 1);
    EXPECT_EQ(array[999], 9);
    EXPECT_EQ(r->page_own[0x50][1000], 9);
    EXPECT_EQ(r->page_own[0x50][999], 0) << "the array hides the own page's first bytes";
    unmap_page(r, 0x50);
    EXPECT_EQ(peek(0x50000), 0);
    EXPECT_EQ(peek(0x503E8), 9);
    EXPECT_EQ(r->mapped_pages[1], 0u);
}

TEST(AddressSpace, OverlapsByAliasOrWrapCopyAsMemmove) {
    struct Case {
        uint32_t dst, src;
        int32_t len;
    } cases[] = {
        {0x1000011, 0x10, 32},      // the same space, one address above 2^24
        {0x000008, 0xFFFFF0, 32},   // source wraps past the end onto the destination
        {0xFFFFF0, 0x000008, 32},   // and the other way round
        {0x10, 0x1000011, 32},
        {0xFFFFFFF8u, 0x4, 64},     // a negative destination
        {0x0, 0x1, 0x1000000},      // the whole space one byte down: a rotation
    };
    for (const auto &c : cases) {
        BareProcess bp;
        std::vector<uint8_t> flat(0x1000000);
        for (uint32_t a = 0xFFFF00; a != 0x100; a = (a + 1) & 0xFFFFFF) {
            uint8_t v = static_cast<uint8_t>(a * 13 + 1);
            poke(a, v);
            flat[a] = v;
        }
        uint32_t d = c.dst & 0xFFFFFF, s = c.src & 0xFFFFFF;
        std::vector<uint8_t> tmp(c.len);
        for (int i = 0; i < c.len; i++) tmp[i] = flat[(s + i) & 0xFFFFFF];
        for (int i = 0; i < c.len; i++) flat[(d + i) & 0xFFFFFF] = tmp[i];
        EXPECT_EQ(kiv_memcpy(c.dst, c.src, c.len), uint32_t(c.len / 8));
        for (uint32_t a = 0xFFFF00; a != 0x100; a = (a + 1) & 0xFFFFFF)
            ASSERT_EQ(peek(a), flat[a]) << std::hex << c.dst << " <- " << c.src << " at " << a;
    }
}

TEST(AddressSpace, PageCopiesReadShortMappingsByTheAccessRule) {
    BareProcess src_bp;
    process_rec *src = src_bp.rec;
    auto *dst = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
    // Exactly 100 bytes on the heap: a read past them is an ASan report.
    auto *array = static_cast<uint8_t *>(std::malloc(100));
    for (int i = 0; i < 100; i++) array[i] = static_cast<uint8_t>(i + 1);
    poke(0x7000 + 200, 0x55);  // the own page behind the mapping
    map_page(src, 7, array, 100);
    poke(0x9000, 0x66);
    kiv_pmemcpy_pages(src, dst, 0x6000, 0xB000);
    EXPECT_EQ(dst->page_own[6], nullptr) << "pages the source lacks are skipped";
    ASSERT_NE(dst->page_own[7], nullptr);
    EXPECT_EQ(dst->page_len[7], 4096);
    EXPECT_EQ(dst->page_own[7][0], 1);
    EXPECT_EQ(dst->page_own[7][99], 100);
    EXPECT_EQ(dst->page_own[7][200], 0x55);
    EXPECT_EQ(dst->page_own[9][0], 0x66);
    EXPECT_EQ(dst->page_own[0xA], nullptr);
    EXPECT_EQ(dst->own_page_bytes, 2u * 4096);
    EXPECT_EQ(dst->page_flags[7], 0) << "flags are left alone";

    // A mapped page with no own page behind it reads zeros past the mapping.
    std::vector<uint8_t> other(100, 7);
    map_page(src, 0x20, other.data(), 100);
    kiv_pmemcpy_pages(src, dst, 0x20000, 0x21000);
    EXPECT_EQ(dst->page_own[0x20][99], 7);
    EXPECT_EQ(dst->page_own[0x20][100], 0);
    free_own_pages(dst);
    std::free(dst);
    std::free(array);
}

using PeekOperators = RuntimeTest;

TEST_F(PeekOperators, ReadWhatPokesWrote) {
    spawn("", "root");
    process_rec *p = spawn(
        "t_poke(0x30000, 0xFFFF, 2) t_poke(0x30004, 0x80000000, 4) t_poke(0x30010, 200) "
        "t_poke(0x30100, @0x30010) t_poke(0x30108, %0x30000, 8) t_poke(0x30110, $0x30004, 8) "
        "while true do t_flip() end",
        "p");
    ASSERT_NE(p, nullptr) << "the peek operators must compile";
    run_process_slice(p, 1.0);
    EXPECT_EQ(peek_proc(p, 0x30100), 200);
    EXPECT_EQ(peek8_proc(p, 0x30108), -1);
    EXPECT_EQ(peek8_proc(p, 0x30110), INT32_MIN);
}
