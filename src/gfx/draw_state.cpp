// The pixel pipeline: mask loading, the clip rebuild, single pixels and
// horizontal spans.
#include <cstring>

#include "pixel_rule.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define HAVE_AVX2_SPANS 1
#endif

uint32_t read_mask = 0;
uint32_t write_mask = 0;
uint32_t target_mask = 0;
int gfx_force_plain_paths = 0;
int gfx_narrow_vectors = 0;

namespace gfx {

namespace {

// 0xFF in byte k of the word for every set bit k of 'bits'.
inline uint64_t byte_select(uint8_t bits) {
    uint64_t w = 0;
    for (int k = 0; k < 8; k++)
        if (bits >> k & 1) w |= uint64_t(0xFF) << (8 * k);
    return w;
}

// Spans shorter than this draw by the rule directly rather than build the
// 512-entry tables of a span_lut.
inline constexpr int64_t LUT_MIN_SPAN = 32;

inline uint64_t splat(uint8_t b) {
    return 0x0101010101010101ull * b;
}

// Merges 'groups' 8-byte groups at p: (old & keep) | put.
void merge_groups(uint8_t *p, int64_t groups, uint64_t keep, uint64_t put) {
    for (int64_t g = 0; g < groups; g++) {
        uint64_t old;
        std::memcpy(&old, p + g * 8, 8);
        old = (old & keep) | put;
        std::memcpy(p + g * 8, &old, 8);
    }
}

#if HAVE_AVX2_SPANS
[[gnu::target("avx2")]] void merge_groups_avx2(uint8_t *p, int64_t groups, uint64_t keep,
                                               uint64_t put) {
    const __m256i k = _mm256_set1_epi64x(int64_t(keep)), v = _mm256_set1_epi64x(int64_t(put));
    int64_t g = 0;
    for (; g + 4 <= groups; g += 4) {
        __m256i *q = reinterpret_cast<__m256i *>(p + g * 8);
        _mm256_storeu_si256(q, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(q), k), v));
    }
    merge_groups(p + g * 8, groups - g, keep, put);
}

// The same 64 bytes at a time, the last part under a lane mask.
[[gnu::target("avx512f")]] void merge_groups_avx512(uint8_t *p, int64_t groups, uint64_t keep,
                                                    uint64_t put) {
    constexpr int OLD_AND_KEEP_OR_PUT = 0xEA;  // ternary logic of (a & b) | c
    const __m512i k = _mm512_set1_epi64(int64_t(keep)), v = _mm512_set1_epi64(int64_t(put));
    int64_t g = 0;
    for (; g + 8 <= groups; g += 8) {
        __m512i old = _mm512_loadu_si512(p + g * 8);
        _mm512_storeu_si512(p + g * 8, _mm512_ternarylogic_epi64(old, k, v, OLD_AND_KEEP_OR_PUT));
    }
    if (g < groups) {
        __mmask8 m = __mmask8((1u << (groups - g)) - 1);
        __m512i old = _mm512_maskz_loadu_epi64(m, p + g * 8);
        _mm512_mask_storeu_epi64(p + g * 8, m,
                                 _mm512_ternarylogic_epi64(old, k, v, OLD_AND_KEEP_OR_PUT));
    }
}

// The groups of 'rows' rows from p, 'stride' bytes apart, the first being
// row y0: row y takes words[y & 7] through the write mask.
[[gnu::target("avx512f")]] void box_groups_avx512(uint8_t *p, uint64_t stride, int64_t rows,
                                                  int64_t groups, const uint64_t words[8],
                                                  int64_t y0, uint8_t wm) {
    constexpr int OLD_AND_KEEP_OR_PUT = 0xEA;
    const uint64_t wmw = splat(wm);
    const __m512i k = _mm512_set1_epi64(int64_t(~wmw));
    const __mmask8 last = __mmask8((1u << (groups & 7)) - 1);
    for (int64_t r = 0; r < rows; r++, p += stride) {
        const __m512i v = _mm512_set1_epi64(int64_t(words[(y0 + r) & 7] & wmw));
        int64_t g = 0;
        if (wm == 0xFF) {
            for (; g + 8 <= groups; g += 8) _mm512_storeu_si512(p + g * 8, v);
            if (last) _mm512_mask_storeu_epi64(p + g * 8, last, v);
            continue;
        }
        for (; g + 8 <= groups; g += 8) {
            __m512i old = _mm512_loadu_si512(p + g * 8);
            _mm512_storeu_si512(p + g * 8,
                                _mm512_ternarylogic_epi64(old, k, v, OLD_AND_KEEP_OR_PUT));
        }
        if (last) {
            __m512i old = _mm512_maskz_loadu_epi64(last, p + g * 8);
            _mm512_mask_storeu_epi64(p + g * 8, last,
                                     _mm512_ternarylogic_epi64(old, k, v, OLD_AND_KEEP_OR_PUT));
        }
    }
}

bool cpu_has_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

const bool use_avx512_spans = cpu_has_avx512();

bool cpu_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool use_avx2_spans = cpu_has_avx2();
#endif

// Span cost by the case table: target mask, target width and pixel count.
inline int32_t span_cost(const pixel_ctx &c, const typed_ud_rec *target, int64_t n) {
    if (c.tm != 0) return int32_t(n);
    if (target->width % 8 == 0 && n >= 16) return int32_t(((n - 1) >> 3) + 3);
    return int32_t(((n - 1) >> 2) + 2);
}

void build_lut(span_lut &l, const pixel_ctx &c, int32_t colour) {
    uint32_t sp = uint32_t(colour) & c.rm, sq = uint32_t(colour >> 8) & c.rm;
    for (int d = 0; d < 256; d++) {
        uint32_t t = uint32_t(d) & c.tm;
        l.plain[d] = merge(c, lookup(c, sp, t, (sp | t) >> 6), uint8_t(d));
        l.pat[d] = merge(c, lookup(c, sq, t, (sq | t) >> 6), uint8_t(d));
    }
    l.colour = colour;
    l.valid = true;
}

// Pixels a..b (inclusive, a <= b) of 'row' with the target mask 0: two
// values, blended per pixel; whole 8-pixel groups as one word, 'word' when
// the caller has it (the two values laid out by the pattern row), else 0.
void fill_unmasked(uint8_t *row, int64_t a, int64_t b, uint8_t prow, uint8_t plain, uint8_t patv,
                   uint8_t wm, uint64_t word = 0) {
    int64_t x = a;
    if (!gfx_force_plain_paths) {
        for (; x <= b && (x & 7); x++) {
            uint8_t v = (prow >> (x & 7) & 1) ? patv : plain;
            row[x] = uint8_t((v & wm) | (row[x] & ~wm));
        }
        int64_t groups = (b + 1 - x) >> 3;
        if (groups > 0) {
            if (!word) {
                uint64_t sel = byte_select(prow);
                word = (splat(patv) & sel) | (splat(plain) & ~sel);
            }
            uint8_t *p = row + x;
            if (wm == 0xFF) {
                if (word == splat(plain)) {
                    std::memset(p, plain, size_t(groups) * 8);
                } else {
                    for (int64_t g = 0; g < groups; g++) std::memcpy(p + g * 8, &word, 8);
                }
            } else {
                uint64_t keep = ~splat(wm), put = word & splat(wm);
#if HAVE_AVX2_SPANS
                if (use_avx512_spans && !gfx_narrow_vectors)
                    merge_groups_avx512(p, groups, keep, put);
                else if (use_avx2_spans)
                    merge_groups_avx2(p, groups, keep, put);
                else
#endif
                    merge_groups(p, groups, keep, put);
            }
            x += groups * 8;
        }
    }
    for (; x <= b; x++) {
        uint8_t v = (prow >> (x & 7) & 1) ? patv : plain;
        row[x] = uint8_t((v & wm) | (row[x] & ~wm));
    }
}

}  // namespace

int64_t fill_box(typed_ud_rec *target, const clip_box &box, const pixel_ctx &c, int64_t l,
                 int64_t r, int64_t t, int64_t b, int32_t colour, span_lut *lut) {
    t = std::max<int64_t>(t, box.y0);
    b = std::min<int64_t>(b, box.y1 - 1);
    if (c.tm != 0 || gfx_force_plain_paths) {
        int64_t cost = 0;
        for (int64_t y = t; y <= b; y++) cost += span(target, box, c, l, r, y, colour, lut);
        return cost;
    }
    // Unmasked: the two values once, and one word per pattern row.
    if (t > b || r < box.x0 || l >= box.x1) return 0;
    int64_t a = std::max<int64_t>(l, box.x0), e = std::min<int64_t>(r, box.x1 - 1);
    if (a > e) return 0;
    uint32_t sp = uint32_t(colour) & c.rm, sq = uint32_t(colour >> 8) & c.rm;
    uint8_t plain = lookup(c, sp, 0, sp >> 6), patv = lookup(c, sq, 0, sq >> 6);
    uint64_t words[8];
    for (int k = 0; k < 8; k++) {
        uint64_t sel = byte_select(c.pattern[k]);
        words[k] = (splat(patv) & sel) | (splat(plain) & ~sel);
    }
#if HAVE_AVX2_SPANS
    // The whole 8-pixel groups of every row in one call, the loose pixels at
    // either end by the rule.
    if (use_avx512_spans && !gfx_narrow_vectors) {
        int64_t g0 = std::min((a + 7) & ~int64_t(7), e + 1), groups = (e + 1 - g0) >> 3;
        int64_t g1 = g0 + groups * 8;
        for (int64_t y = t; y <= b; y++) {
            uint8_t *row = row_of(target, y), prow = c.pattern[y & 7];
            for (int64_t x = a; x < g0; x++) {
                uint8_t v = (prow >> (x & 7) & 1) ? patv : plain;
                row[x] = uint8_t((v & c.wm) | (row[x] & ~c.wm));
            }
            for (int64_t x = g1; x <= e; x++) {
                uint8_t v = (prow >> (x & 7) & 1) ? patv : plain;
                row[x] = uint8_t((v & c.wm) | (row[x] & ~c.wm));
            }
        }
        if (groups > 0)
            box_groups_avx512(row_of(target, t) + g0, target->width, b - t + 1, groups, words, t,
                              c.wm);
        return (b - t + 1) * span_cost(c, target, e - a + 1);
    }
#endif
    for (int64_t y = t; y <= b; y++)
        fill_unmasked(row_of(target, y), a, e, c.pattern[y & 7], plain, patv, c.wm, words[y & 7]);
    return (b - t + 1) * span_cost(c, target, e - a + 1);
}

int32_t span(typed_ud_rec *target, const clip_box &box, const pixel_ctx &c, int64_t x0, int64_t x1,
             int64_t y, int32_t colour, span_lut *lut) {
    if (y < box.y0 || y >= box.y1 || x1 < box.x0 || x0 >= box.x1) return 0;
    int64_t a = std::max<int64_t>(x0, box.x0);
    int64_t b = std::min<int64_t>(x1, box.x1 - 1);
    if (a > b) return 0;
    uint8_t *row = row_of(target, y);
    uint8_t prow = c.pattern[y & 7];
    if (c.tm == 0) {
        uint32_t sp = uint32_t(colour) & c.rm, sq = uint32_t(colour >> 8) & c.rm;
        fill_unmasked(row, a, b, prow, lookup(c, sp, 0, sp >> 6), lookup(c, sq, 0, sq >> 6), c.wm);
    } else if (lut && !gfx_force_plain_paths &&
               ((lut->valid && lut->colour == colour) || b - a >= LUT_MIN_SPAN)) {
        if (!lut->valid || lut->colour != colour) build_lut(*lut, c, colour);
        for (int64_t x = a; x <= b; x++)
            row[x] = ((prow >> (x & 7)) & 1 ? lut->pat : lut->plain)[row[x]];
    } else {
        for (int64_t x = a; x <= b; x++) row[x] = shape_pixel(c, x, y, colour, row[x]);
    }
    return span_cost(c, target, b - a + 1);
}

}  // namespace gfx

using namespace gfx;

/* ---- masks and clip ---- */

extern "C" void get_masks_shape(void) {
    if (!cproc) return;
    read_mask = read_byte_nocreate(cproc, REG_READ_MASK);
    write_mask = read_byte_nocreate(cproc, REG_WRITE_MASK);
    target_mask = read_byte_nocreate(cproc, REG_SHAPE_TARGET_MASK);
}

extern "C" void get_masks_sprite(void) {
    if (!cproc) return;
    read_mask = read_byte_nocreate(cproc, REG_READ_MASK);
    write_mask = read_byte_nocreate(cproc, REG_WRITE_MASK);
    target_mask = read_byte_nocreate(cproc, REG_SPRITE_TARGET_MASK);
}

extern "C" void refresh_clip(process_rec *rec) {
    if (!rec) return;
    uint64_t bytes = read_value_nocreate(rec, REG_CLIP_X0, 8);
    typed_ud_rec *t = rec->draw_target;
    uint32_t w = t ? t->width : 0, h = t ? t->height : 0;
    if (bytes == rec->clip_source && t == rec->clip_target && w == rec->clip_target_w &&
        h == rec->clip_target_h)
        return;
    auto reg = [&](int i) { return int16_t(uint16_t(bytes >> (16 * i))); };
    rec->clip_x0 = reg(0) > 0 ? reg(0) : 0;
    rec->clip_y0 = reg(1) > 0 ? reg(1) : 0;
    rec->clip_x1 = int32_t(std::min(w, uint32_t(int32_t(reg(2)))));
    rec->clip_y1 = int32_t(std::min(h, uint32_t(int32_t(reg(3)))));
    rec->clip_source = bytes;
    rec->clip_target = t;
    rec->clip_target_w = w;
    rec->clip_target_h = h;
}

/* ---- single pixels ---- */

extern "C" void putpixel(typed_ud_rec *target, int32_t x, int32_t y, int32_t colour) {
    if (!target || !cproc) return;
    clip_box box = clip_for(cproc, target);
    if (x < box.x0 || x >= box.x1 || y < box.y0 || y >= box.y1) return;
    putpixel_noclip(target, x, y, colour);
}

extern "C" void putpixel_noclip(typed_ud_rec *target, int32_t x, int32_t y, int32_t colour) {
    if (!target || !cproc) return;
    pixel_ctx c;
    load_ctx_globals(c, cproc);
    uint8_t *p = row_of(target, y) + x;
    *p = shape_pixel(c, x, y, colour, *p);
}

extern "C" uint8_t put_texture_pixel_noclip(typed_ud_rec *target, int32_t x, int32_t y,
                                            int32_t colour) {
    if (!target || !cproc) return 0;
    pixel_ctx c;
    load_ctx_globals(c, cproc);
    uint8_t *p = row_of(target, y) + x;
    *p = texture_pixel(c, x, y, uint32_t(colour), *p);
    return *p;
}

extern "C" uint8_t getpixel(const typed_ud_rec *bitmap, int32_t x, int32_t y) {
    if (!bitmap || x < 0 || y < 0 || uint32_t(x) >= bitmap->width || uint32_t(y) >= bitmap->height)
        return 0;
    return ud_elements(
        const_cast<typed_ud_rec *>(bitmap))[uint64_t(y) * bitmap->width + uint32_t(x)];
}

/* ---- spans ---- */

extern "C" int32_t draw_hline(typed_ud_rec *target, int32_t x0, int32_t x1, int32_t y,
                              int32_t colour) {
    if (!target || !cproc) return 0;
    clip_box box = clip_for(cproc, target);
    if (box.empty()) return 0;
    pixel_ctx c;
    load_ctx(c, cproc, REG_SHAPE_TARGET_MASK);
    return span(target, box, c, x0, x1, y, colour, nullptr);
}

extern "C" int32_t draw_hline_inv(typed_ud_rec *target, int32_t x0, int32_t x1, int32_t y,
                                  int32_t colour) {
    if (!target || !cproc) return 0;
    clip_box box = clip_for(cproc, target);
    if (box.empty()) return 0;
    pixel_ctx c;
    load_ctx(c, cproc, REG_SHAPE_TARGET_MASK);
    int64_t lo = std::min(x0, x1), hi = std::max(x0, x1);
    int32_t cost = span(target, box, c, int64_t(cproc->clip_x0) - 1, lo - 1, y, colour, nullptr);
    return int32_t(
        uint32_t(cost) +
        uint32_t(span(target, box, c, hi + 1, int64_t(cproc->clip_x1) + 1, y, colour, nullptr)));
}
