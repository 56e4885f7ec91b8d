// Raw blits between typed arrays, and copies of another process's display.
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "blits.h"
#include "pixel_rule.h"

using namespace gfx;

extern "C" int32_t blit(typed_ud_rec *src, typed_ud_rec *dst, int32_t sx, int32_t sy, int32_t dx,
                        int32_t dy, int32_t w, int32_t h) {
    if (!src || !dst || !cproc || ud_type(src) != ud_type(dst) || w < 1 || h < 1) return 0;
    clip_box box = clip_for(cproc, dst);
    int64_t x = sx, y = sy, px = dx, py = dy, ww = w, hh = h;
    // The destination side.
    if (box.x0 > px) ww -= box.x0 - px, x += box.x0 - px, px = box.x0;
    if (box.y0 > py) hh -= box.y0 - py, y += box.y0 - py, py = box.y0;
    if (px + ww > box.x1) ww = box.x1 - px;
    if (py + hh > box.y1) hh = box.y1 - py;
    if (ww < 1 || hh < 1) return 0;
    // The source side.
    if (x < 0) ww += x, px -= x, x = 0;
    if (y < 0) hh += y, py -= y, y = 0;
    if (x + ww > int64_t(src->width)) ww = int64_t(src->width) - x;
    if (y + hh > int64_t(src->height)) hh = int64_t(src->height) - y;
    if (ww < 1 || hh < 1) return 0;

    const uint64_t es = utype_size(ud_type(src));
    const uint64_t sstride = src->width * es, dstride = dst->width * es;
    uint8_t *s = ud_elements(src) + uint64_t(y) * sstride + uint64_t(x) * es;
    uint8_t *d = ud_elements(dst) + uint64_t(py) * dstride + uint64_t(px) * es;
    const size_t row = size_t(uint64_t(ww) * es);
    bool same = src == dst;
    if (same && py > y) {
        for (int64_t j = hh - 1; j >= 0; j--)
            std::memmove(d + uint64_t(j) * dstride, s + uint64_t(j) * sstride, row);
    } else {
        for (int64_t j = 0; j < hh; j++)
            std::memmove(d + uint64_t(j) * dstride, s + uint64_t(j) * sstride, row);
    }
    // By the bytes a row moves: a large copy's time is its bytes' whatever the type.
    const int64_t bytes = int64_t(row);
    int64_t cost = same && py == y ? (4 * bytes + 256) * hh : (bytes + 64) * hh;
    return int32_t(std::min<int64_t>(cost, INT32_MAX));
}

#if defined(__x86_64__) && defined(__GNUC__)
#define HAVE_AVX2_ALPHA 1

namespace {

// 32 bytes at a time: each destination byte takes the source byte where that
// has a mask bit. Returns the bytes done (a multiple of 32).
[[gnu::target("avx2")]] size_t alpha_avx2(uint8_t *dst, const uint8_t *src, size_t n, uint8_t m) {
    const __m256i mv = _mm256_set1_epi8(char(m)), zero = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
        __m256i skip = _mm256_cmpeq_epi8(_mm256_and_si256(s, mv), zero);
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dst + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_blendv_epi8(s, d, skip));
    }
    return i;
}

bool cpu_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool use_avx2_alpha = cpu_has_avx2();

}  // namespace
#endif

extern "C" void alpha_bits_memcpy(uint8_t *dst, const uint8_t *src, size_t n, uint32_t mask) {
    const uint8_t m = uint8_t(mask);
    size_t i = 0;
#if HAVE_AVX2_ALPHA
    // Only apart: overlapping ranges keep the byte-by-byte forward order.
    bool apart = dst + n <= src || src + n <= dst;
    if (use_avx2_alpha && apart && !gfx_force_plain_paths) i = alpha_avx2(dst, src, n, m);
#endif
    if (!gfx_force_plain_paths) {
        const uint64_t mw = 0x0101010101010101ull * m;
        for (; i + 8 <= n; i += 8) {  // groups without a mask bit are skipped
            uint64_t v;
            std::memcpy(&v, src + i, 8);
            if (!(v & mw)) continue;  // no byte of the group has a mask bit
            for (size_t k = i; k < i + 8; k++)
                if (src[k] & m) dst[k] = src[k];
        }
    }
    for (; i < n; i++)
        if (src[i] & m) dst[i] = src[i];
}

namespace {

inline constexpr uint8_t UNSERVED_COLOUR = 8;  // bytes no page serves

}  // namespace

extern "C" int32_t blit_from_ram(process_rec *proc, uint32_t base, typed_ud_rec *target, int32_t sx,
                                 int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h,
                                 uint32_t mask) {
    if (!proc || !target || !cproc) return 0;
    int64_t stride = int16_t(uint16_t(read_value_nocreate(proc, REG_DISPLAY_WIDTH, 2)));
    clip_box box = clip_for(cproc, target);
    int64_t x = sx, y = sy, px = dx, py = dy, ww = w, hh = h;
    if (px < box.x0) ww -= box.x0 - px, x += box.x0 - px, px = box.x0;
    if (py < box.y0) hh -= box.y0 - py, y += box.y0 - py, py = box.y0;
    ww = std::min<int64_t>(ww, int64_t(box.x1) - px);
    hh = std::min<int64_t>(hh, int64_t(box.y1) - py);
    if (ww < 1 || hh < 1) return 0;
    const uint8_t m = uint8_t(mask);
    for (int64_t j = 0; j < hh; j++) {
        uint32_t a = uint32_t(uint64_t(int64_t(base) + x + (y + j) * stride) & ADDRESS_MASK);
        uint8_t *d = row_of(target, py + j) + px;
        int64_t left = ww;
        while (left > 0) {
            uint32_t p = a >> PAGE_SHIFT;
            int32_t o = int32_t(a & (PAGE_BYTES - 1));
            int64_t run = std::min<int64_t>(PAGE_BYTES - o, left);
            int32_t served = std::min(proc->page_len[p], PAGE_BYTES);
            if (served > o) {
                run = std::min<int64_t>(run, served - o);
                const uint8_t *s = proc->page[p] + o;
                if (m == 0)
                    std::memmove(d, s, size_t(run));
                else
                    alpha_bits_memcpy(d, s, size_t(run), m);
            } else {
                std::memset(d, UNSERVED_COLOUR, size_t(run));
            }
            d += run;
            left -= run;
            a = (a + uint32_t(run)) & ADDRESS_MASK;
        }
    }
    return int32_t(std::min<int64_t>(ww * hh / 4, INT32_MAX));
}
