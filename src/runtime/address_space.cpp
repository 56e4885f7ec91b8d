// The access rule of the paged address space, single values, bulk copy and
// fill, page copies between processes, and page mapping.
#include "address_space.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vm_hooks.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HAVE_AVX2_FILL 1
#endif

// The single-value fast paths move values with one memcpy.
static_assert(std::endian::native == std::endian::little, "the address space is little-endian");

namespace {

inline uint32_t page_of(uint32_t a) { return (a >> PAGE_SHIFT) & (NUM_PAGES - 1); }
inline int32_t offset_of(uint32_t a) { return static_cast<int32_t>(a & (PAGE_BYTES - 1)); }

// The byte at address a of rec by the access rule, making the own page when
// the byte is not served by page[p] and no own page exists yet.
inline uint8_t *byte_at(process_rec *rec, uint32_t a) {
    uint32_t p = page_of(a);
    int32_t o = offset_of(a);
    if (o < rec->page_len[p]) return rec->page[p] + o;
    return own_page(rec, p) + o;
}

// Bytes from a to the end of its segment: the mapped part when a lies in it,
// else the end of the page.
inline uint32_t room(const process_rec *rec, uint32_t a) {
    uint32_t p = page_of(a);
    int32_t o = offset_of(a);
    int32_t end = o < rec->page_len[p] ? rec->page_len[p] : PAGE_BYTES;
    return static_cast<uint32_t>(end - o);
}

// The n-byte little-endian value at a (n = 1, 2, 4 or 8), zero-extended.
inline uint64_t read_value(process_rec *rec, uint32_t a, int n) {
    uint32_t p = page_of(a);
    int32_t o = offset_of(a);
    uint64_t v = 0;
    if (o + n <= rec->page_len[p]) {  // wholly inside the served segment
        std::memcpy(&v, rec->page[p] + o, n);
        return v;
    }
    for (int i = 0; i < n; i++) v |= static_cast<uint64_t>(*byte_at(rec, a + i)) << (8 * i);
    return v;
}

// Writes the low n bytes of v at a, flagging each touched page.
inline void write_value(process_rec *rec, uint32_t a, uint64_t v, int n) {
    uint32_t p = page_of(a);
    int32_t o = offset_of(a);
    if (o + n <= rec->page_len[p]) {
        rec->page_flags[p] = PAGE_WRITTEN;
        std::memcpy(rec->page[p] + o, &v, n);
        return;
    }
    for (int i = 0; i < n; i++) {
        uint32_t ai = a + i;
        uint8_t *b = byte_at(rec, ai);
        rec->page_flags[page_of(ai)] = PAGE_WRITTEN;
        *b = static_cast<uint8_t>(v >> (8 * i));
    }
}

// Copies n bytes of rec's space from a to 'out', segment by segment.
void read_segments(process_rec *rec, uint32_t a, uint8_t *out, uint32_t n) {
    a &= ADDRESS_MASK;
    while (n > 0) {
        const uint32_t chunk = std::min(n, room(rec, a));
        std::memcpy(out, byte_at(rec, a), chunk);
        out += chunk;
        a = (a + chunk) & ADDRESS_MASK;
        n -= chunk;
    }
}

inline void copy_byte(process_rec *rec, uint32_t dst, uint32_t src) {
    uint8_t v = *byte_at(rec, src);
    uint8_t *d = byte_at(rec, dst);
    rec->page_flags[page_of(dst)] = PAGE_WRITTEN;
    *d = v;
}

#if HAVE_AVX2_FILL
// Fills n >= 32 bytes with 32-byte stores, aligned but for the first and the
// last. A bulk fill is made one page at a time, and at that size a plain
// store loop beats the library's string instructions, whose start-up cost
// is paid on every page.
[[gnu::target("avx2")]] void fill_avx2(uint8_t *p, uint8_t v, size_t n) {
    const __m256i x = _mm256_set1_epi8(static_cast<char>(v));
    uint8_t *end = p + n;
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), x);
    uint8_t *q = reinterpret_cast<uint8_t *>((reinterpret_cast<uintptr_t>(p) + 32) & ~uintptr_t{31});
    for (; q + 128 <= end; q += 128) {
        _mm256_store_si256(reinterpret_cast<__m256i *>(q), x);
        _mm256_store_si256(reinterpret_cast<__m256i *>(q + 32), x);
        _mm256_store_si256(reinterpret_cast<__m256i *>(q + 64), x);
        _mm256_store_si256(reinterpret_cast<__m256i *>(q + 96), x);
    }
    for (; q + 32 <= end; q += 32) _mm256_store_si256(reinterpret_cast<__m256i *>(q), x);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(end - 32), x);
}

// Copies n >= 128 bytes between host ranges that do not overlap, 128 bytes
// per step with unaligned 32-byte loads and stores, the last 128 bytes
// ending exactly at the end. The same start-up cost as for fills makes the
// library's copy slow at page size.
[[gnu::target("avx2")]] void copy_avx2(uint8_t *d, const uint8_t *s, size_t n) {
    const uint8_t *tail = s + n - 128;
    uint8_t *dtail = d + n - 128;
    const __m256i t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tail));
    const __m256i t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tail + 32));
    const __m256i t2 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tail + 64));
    const __m256i t3 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(tail + 96));
    for (size_t i = 0; i + 128 <= n; i += 128) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i + 32));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i + 64));
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + i + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(d + i + 96), e);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dtail), t0);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dtail + 32), t1);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dtail + 64), t2);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dtail + 96), t3);
}

bool cpu_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool use_avx2_fill = cpu_has_avx2();
#endif

// memset of one segment of a bulk fill.
inline void fill_segment(uint8_t *p, uint8_t v, uint32_t n) {
#if HAVE_AVX2_FILL
    if (n >= 256 && use_avx2_fill) {
        fill_avx2(p, v, n);
        return;
    }
#endif
    std::memset(p, v, n);
}

// memmove of one chunk of a bulk copy; mapped pages may alias, so the
// vector loop only takes host ranges that do not overlap.
inline void copy_segment(uint8_t *d, const uint8_t *s, uint32_t n) {
#if HAVE_AVX2_FILL
    if (n >= 256 && use_avx2_fill && (d + n <= s || s + n <= d)) {
        copy_avx2(d, s, n);
        return;
    }
#endif
    std::memmove(d, s, n);
}

// Cost of one bulk chunk.
inline uint32_t chunk_cost(uint32_t chunk) { return chunk / 128 + 1; }

}  // namespace

/* ---- pages ---- */

uint8_t *own_page(process_rec *rec, uint32_t p) {
    uint8_t *pg = rec->page_own[p];
    if (pg) return pg;
    pg = static_cast<uint8_t *>(std::calloc(1, PAGE_BYTES));
    if (!pg) {
        std::fputs("** fatal: no host memory for a process page **\n", stderr);
        std::abort();
    }
    rec->page_own[p] = pg;
    rec->own_page_bytes += PAGE_BYTES;
    if (rec->page_len[p] == 0) {
        rec->page[p] = pg;
        rec->page_len[p] = PAGE_BYTES;
    }
    return pg;
}

void free_own_pages(process_rec *rec) {
    for (int p = 0; p < NUM_PAGES; p++) {
        uint8_t *pg = rec->page_own[p];
        if (!pg) continue;
        if (rec->page[p] == pg) {
            rec->page[p] = nullptr;
            rec->page_len[p] = 0;
        }
        std::free(pg);
        rec->page_own[p] = nullptr;
        rec->own_page_bytes -= PAGE_BYTES;
    }
}

/* ---- single values (address space -> host) ---- */

uint8_t peek_proc(process_rec *rec, uint32_t a) {
    return rec ? static_cast<uint8_t>(read_value(rec, a, 1)) : 0;
}
int16_t peek2_proc(process_rec *rec, uint32_t a) {
    return rec ? static_cast<int16_t>(read_value(rec, a, 2)) : 0;
}
int32_t peek4_proc(process_rec *rec, uint32_t a) {
    return rec ? static_cast<int32_t>(read_value(rec, a, 4)) : 0;
}
int64_t peek8_proc(process_rec *rec, uint32_t a) {
    return rec ? static_cast<int64_t>(read_value(rec, a, 8)) : 0;
}

uint8_t peek(uint32_t a) { return peek_proc(cproc, a); }
int16_t peek2(uint32_t a) { return peek2_proc(cproc, a); }
int32_t peek4(uint32_t a) { return peek4_proc(cproc, a); }
int64_t peek8(uint32_t a) { return peek8_proc(cproc, a); }

/* ---- single values (host -> address space) ---- */

void poke_proc(process_rec *rec, uint32_t a, int64_t v) {
    if (rec) write_value(rec, a, static_cast<uint64_t>(v), 1);
}
void poke2_proc(process_rec *rec, uint32_t a, int64_t v) {
    if (rec) write_value(rec, a, static_cast<uint64_t>(v), 2);
}
void poke4_proc(process_rec *rec, uint32_t a, int64_t v) {
    if (rec) write_value(rec, a, static_cast<uint64_t>(v), 4);
}
void poke8_proc(process_rec *rec, uint32_t a, int64_t v) {
    if (rec) write_value(rec, a, static_cast<uint64_t>(v), 8);
}

void poke(uint32_t a, int64_t v) { poke_proc(cproc, a, v); }
void poke2(uint32_t a, int64_t v) { poke2_proc(cproc, a, v); }
void poke4(uint32_t a, int64_t v) { poke4_proc(cproc, a, v); }
void poke8(uint32_t a, int64_t v) { poke8_proc(cproc, a, v); }

/* ---- bulk ---- */

uint32_t kiv_memcpy(uint32_t dst, uint32_t src, int32_t len) {
    process_rec *rec = cproc;
    if (!rec || len < 1) return 0;
    uint32_t n = std::min(static_cast<uint32_t>(len), ADDRESS_SPACE_BYTES);
    uint32_t d = dst & ADDRESS_MASK, s = src & ADDRESS_MASK;
    if (d == s) return 0;
    // Overlap is judged on the 16 MB circle: dst lies within len bytes after
    // src, or src within len bytes after dst. The source is then read whole
    // before anything is written, as memmove would, also when the ranges
    // wrap onto each other; byte by byte only when no copy can be made.
    const bool dst_after = ((d - s) & ADDRESS_MASK) < n;
    if (dst_after || ((s - d) & ADDRESS_MASK) < n) {
        if (uint8_t *copy = static_cast<uint8_t *>(std::malloc(n))) {
            read_segments(rec, s, copy, n);
            write_bytes_proc(rec, d, copy, n);
            std::free(copy);
        } else if (dst_after) {
            for (uint32_t i = n; i-- > 0;) copy_byte(rec, d + i, s + i);
        } else {
            for (uint32_t i = 0; i < n; i++) copy_byte(rec, d + i, s + i);
        }
        return n / 8;
    }
    uint32_t cost = 0;
    while (n > 0) {
        uint32_t chunk = std::min({n, room(rec, s), room(rec, d)});
        uint8_t *sp = byte_at(rec, s);
        uint8_t *dp = byte_at(rec, d);
        rec->page_flags[page_of(d)] = PAGE_WRITTEN;
        copy_segment(dp, sp, chunk);
        cost += chunk_cost(chunk);
        s = (s + chunk) & ADDRESS_MASK;
        d = (d + chunk) & ADDRESS_MASK;
        n -= chunk;
    }
    return cost;
}

uint32_t kiv_memset(uint32_t a, int32_t v, int32_t len) {
    process_rec *rec = cproc;
    if (!rec || len < 1) return 0;
    uint32_t n = std::min(static_cast<uint32_t>(len), ADDRESS_SPACE_BYTES);
    uint32_t cost = 0;
    a &= ADDRESS_MASK;
    while (n > 0) {
        uint32_t chunk = std::min(n, room(rec, a));
        uint8_t *p = byte_at(rec, a);
        rec->page_flags[page_of(a)] = PAGE_WRITTEN;
        fill_segment(p, static_cast<uint8_t>(v & 0xFF), chunk);
        cost += chunk_cost(chunk);
        a = (a + chunk) & ADDRESS_MASK;
        n -= chunk;
    }
    return cost;
}

void write_bytes_proc(process_rec *rec, uint32_t a, const void *src, uint32_t len) {
    const uint8_t *from = static_cast<const uint8_t *>(src);
    uint32_t n = std::min(len, ADDRESS_SPACE_BYTES);
    a &= ADDRESS_MASK;
    while (n > 0) {
        uint32_t chunk = std::min(n, room(rec, a));
        uint8_t *p = byte_at(rec, a);
        rec->page_flags[page_of(a)] = PAGE_WRITTEN;
        std::memcpy(p, from, chunk);
        from += chunk;
        a = (a + chunk) & ADDRESS_MASK;
        n -= chunk;
    }
}

void kiv_pmemcpy_pages(process_rec *src_rec, process_rec *dst_rec, uint32_t from, uint32_t to) {
    if (!src_rec || !dst_rec) return;
    uint32_t first = from >> PAGE_SHIFT;
    uint32_t end = std::min(to >> PAGE_SHIFT, static_cast<uint32_t>(NUM_PAGES));
    for (uint32_t p = first; p < end; p++) {
        if (!src_rec->page[p] && !src_rec->page_own[p]) continue;  // no such page in the source
        uint8_t *dst = own_page(dst_rec, p);
        int32_t mapped = std::clamp(src_rec->page_len[p], 0, PAGE_BYTES);
        if (mapped > 0) std::memcpy(dst, src_rec->page[p], mapped);
        if (mapped < PAGE_BYTES) {
            if (src_rec->page_own[p])
                std::memcpy(dst + mapped, src_rec->page_own[p] + mapped, PAGE_BYTES - mapped);
            else
                std::memset(dst + mapped, 0, PAGE_BYTES - mapped);
        }
        dst_rec->page[p] = dst;
        dst_rec->page_len[p] = PAGE_BYTES;
    }
}

/* ---- mapping ---- */

void map_page(process_rec *rec, int32_t p, uint8_t *data, int32_t len) {
    if (!rec || p < 0 || p >= NUM_PAGES || len < 1 || !data) return;
    rec->page[p] = data;
    rec->page_len[p] = std::min(len, PAGE_BYTES);
    rec->mapped_pages[p >> 6] |= uint64_t{1} << (p & 63);
    rec->page_flags[p] = PAGE_WRITTEN;
}

void unmap_page(process_rec *rec, int32_t p) {
    if (!rec || p < 0 || p >= NUM_PAGES) return;
    rec->page[p] = rec->page_own[p];
    rec->page_len[p] = 0;
    rec->mapped_pages[p >> 6] &= ~(uint64_t{1} << (p & 63));
    rec->page_flags[p] = PAGE_WRITTEN;
}

/* ---- the peek operators ---- */

namespace {
uint8_t hook_peek(uint32_t a) { return peek(a); }
int16_t hook_peek2(uint32_t a) { return peek2(a); }
int32_t hook_peek4(uint32_t a) { return peek4(a); }
int64_t hook_peek8(uint32_t a) { return peek8(a); }
}  // namespace

void install_peek_hooks(void) {
    vm_peek.peek = hook_peek;
    vm_peek.peek2 = hook_peek2;
    vm_peek.peek4 = hook_peek4;
    vm_peek.peek8 = hook_peek8;
}
