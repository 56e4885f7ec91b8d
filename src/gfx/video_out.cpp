// Video out: the shown process, its display colours and row banks, the
// display bytes through them, and the scaled video modes.
#include "video_out.h"
#include "video_hooks.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "boot_screen.h"
#include "draw_state.h"
#include "host.h"
#include "pixel_rule.h"

uint32_t back_page[VIDEO_W * VIDEO_H];
uint32_t display_pal[DISPLAY_PAL_ENTRIES];

namespace {

inline constexpr uint8_t FLAG_NO_FRAME = 2;  // bit 1 of 0x547F
inline constexpr uint32_t DIM_MASK = 0x7F7F7F7F;

// The record whose display is shown: the window manager once the boot
// screen is over, else the boot screen, drawn at most once per call.
process_rec *shown_process() {
    process_rec *boot = nullptr;
    auto boot_screen = [&]() {
        if (!boot) boot = draw_boot();
        return boot;
    };
    process_rec *wm = nullptr;
    for (int32_t i = 0; i < num_processes; i++)
        if (process[i] && process[i]->id == WM_PID) {
            wm = process[i];
            break;
        }
    process_rec *shown;
    if (wm && int32_t(boot_get_time()) >= int32_t(BOOT_SCREEN_MS)) {
        if (!app.boot_done) {
            codo_debug("@@ finished_boot_sequence\n");
            app.boot_done = 1;
        }
        shown = wm;
    } else {
        shown = boot_screen();
    }
    if (!app.boot_release) shown = boot_screen();
    return shown;
}

void compose_colours(const process_rec *rec) {
    uint8_t screen[64];
    uint32_t rgb[256];
    for (int i = 0; i < 64; i++)
        screen[i] = gfx::read_byte_nocreate(rec, REG_SCREEN_PALETTE + uint32_t(i)) & 63;
    for (int i = 0; i < 256; i++)
        rgb[i] = uint32_t(gfx::read_value_nocreate(rec, REG_RGB_PALETTE + 4 * uint32_t(i), 4));
    for (int i = 0; i < 256; i++) display_pal[i] = rgb[(i & 0xC0) | screen[i & 63]];
    if (app.reboot_requested)
        for (int i = 0; i < 256; i++) display_pal[i] = (display_pal[i] >> 1) & DIM_MASK;
    for (int y = 0; y < VIDEO_H; y++) {
        uint8_t b = gfx::read_byte_nocreate(rec, REG_ROW_BANKS + uint32_t(y >> 2));
        display_pal[256 + y] = (b >> ((2 * y) & 6)) & 3;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define HAVE_AVX2_VIDEO 1

// The 64 colours of one bank as byte planes for table lookups: plane p
// (byte p of each colour), chunk k (entries 16k..16k+15), in both lanes.
struct bank_planes {
    __m256i t[4][4];
};

[[gnu::target("avx2")]] void build_planes(bank_planes &bp, const uint32_t *pal) {
    for (int p = 0; p < 4; p++)
        for (int k = 0; k < 4; k++) {
            alignas(16) uint8_t b[16];
            for (int i = 0; i < 16; i++) b[i] = uint8_t(pal[16 * k + i] >> (8 * p));
            __m128i x = _mm_load_si128(reinterpret_cast<const __m128i *>(b));
            bp.t[p][k] = _mm256_broadcastsi128_si256(x);
        }
}

// Pixels for n display bytes (n a multiple of 32): each byte's low 6 bits
// pick a colour of the bank, looked up 32 at a time by byte shuffles.
[[gnu::target("avx2")]] void convert_avx2(uint32_t *out, const uint8_t *src, int32_t n,
                                          const bank_planes &bp) {
    const __m256i six = _mm256_set1_epi8(63), lo4 = _mm256_set1_epi8(15);
    for (int32_t i = 0; i < n; i += 32) {
        __m256i idx =
            _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i)), six);
        __m256i hi = _mm256_and_si256(_mm256_srli_epi16(idx, 4), lo4);
        __m256i m1 = _mm256_cmpeq_epi8(hi, _mm256_set1_epi8(1));
        __m256i m2 = _mm256_cmpeq_epi8(hi, _mm256_set1_epi8(2));
        __m256i m3 = _mm256_cmpeq_epi8(hi, _mm256_set1_epi8(3));
        __m256i plane[4];
        for (int p = 0; p < 4; p++) {
            __m256i r = _mm256_shuffle_epi8(bp.t[p][0], idx);
            r = _mm256_blendv_epi8(r, _mm256_shuffle_epi8(bp.t[p][1], idx), m1);
            r = _mm256_blendv_epi8(r, _mm256_shuffle_epi8(bp.t[p][2], idx), m2);
            plane[p] = _mm256_blendv_epi8(r, _mm256_shuffle_epi8(bp.t[p][3], idx), m3);
        }
        __m256i a_lo = _mm256_unpacklo_epi8(plane[0], plane[1]),
                a_hi = _mm256_unpackhi_epi8(plane[0], plane[1]);
        __m256i b_lo = _mm256_unpacklo_epi8(plane[2], plane[3]),
                b_hi = _mm256_unpackhi_epi8(plane[2], plane[3]);
        __m256i q0 = _mm256_unpacklo_epi16(a_lo, b_lo), q1 = _mm256_unpackhi_epi16(a_lo, b_lo);
        __m256i q2 = _mm256_unpacklo_epi16(a_hi, b_hi), q3 = _mm256_unpackhi_epi16(a_hi, b_hi);
        __m256i *o = reinterpret_cast<__m256i *>(out + i);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(q0, q1, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(q2, q3, 0x20));
        _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(q0, q1, 0x31));
        _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(q2, q3, 0x31));
    }
}

bool cpu_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const bool use_avx2_video = cpu_has_avx2();
bank_planes planes[4];
#endif

// The first n pixels of display row y of rec through the row's bank, a page
// run at a time; black where no bytes are served.
void convert_row(const process_rec *rec, int y, int n, uint32_t *out, bool simd) {
    const uint32_t *pal = display_pal + 64 * display_pal[256 + y];
    uint32_t a = DISPLAY_ADDR + uint32_t(y * VIDEO_W);
    int x = 0;
    while (x < n) {
        uint32_t p = (a >> PAGE_SHIFT) & (NUM_PAGES - 1);
        int32_t o = int32_t(a & (PAGE_BYTES - 1));
        int32_t run = std::min(PAGE_BYTES - o, n - x);
        int32_t served = std::min(rec->page_len[p], PAGE_BYTES);
        if (served > o) {
            run = std::min(run, served - o);
            const uint8_t *src = rec->page[p] + o;
            int32_t i = 0;
#if HAVE_AVX2_VIDEO
            if (simd) {
                i = run & ~31;
                convert_avx2(out + x, src, i, planes[display_pal[256 + y]]);
            }
#endif
            for (; i + 4 <= run; i += 4) {
                out[x + i] = pal[src[i] & 63];
                out[x + i + 1] = pal[src[i + 1] & 63];
                out[x + i + 2] = pal[src[i + 2] & 63];
                out[x + i + 3] = pal[src[i + 3] & 63];
            }
            for (; i < run; i++) out[x + i] = pal[src[i] & 63];
        } else {
            std::memset(out + x, 0, size_t(run) * 4);
        }
        x += run;
        a += uint32_t(run);
    }
}

// The frame scaled s times (1, 2 or 3; 480 is a multiple of both): pixel (x, y) shows display pixel
// (x / s, y / s), and row y takes the bank of row y / s. Each group of s
// rows is built once from its display row and copied to the others.
void convert_display(const process_rec *rec, int s) {
    bool simd = false;
#if HAVE_AVX2_VIDEO
    simd = use_avx2_video && !gfx_force_plain_paths;
    if (simd)
        for (int b = 0; b < 4; b++) build_planes(planes[b], display_pal + 64 * b);
#endif
    uint32_t row[VIDEO_W];
    for (int top = 0; top < VIDEO_H; top += s) {
        uint32_t *dst = back_page + top * VIDEO_W;
        int sy = top / s;
        if (s == 1) {
            convert_row(rec, sy, VIDEO_W, dst, simd);
        } else {
            convert_row(rec, sy, (VIDEO_W + s - 1) / s, row, simd);
            if (s == 2) {
                for (int i = 0; i < VIDEO_W / 2; i++) dst[2 * i] = dst[2 * i + 1] = row[i];
            } else {
                for (int i = 0; i < VIDEO_W / 3; i++)
                    dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = row[i];
            }
        }
        for (int y = top + 1; y < std::min(top + s, VIDEO_H); y++)
            std::memcpy(back_page + y * VIDEO_W, dst, VIDEO_W * 4);
    }
    // Row banks last: the rows above were converted through their own banks.
    for (int y = VIDEO_H - 1; y >= 0; y--) display_pal[256 + y] = display_pal[256 + y / s];
}

}  // namespace

extern "C" uint32_t *generate_video_out(int32_t *out_width, int32_t *out_height) {
    process_rec *rec = shown_process();
    if (!rec) return nullptr;
    if (gfx::read_byte_nocreate(rec, REG_PROCESS_FLAGS) & FLAG_NO_FRAME) return nullptr;
    compose_colours(rec);
    if (out_width) *out_width = VIDEO_W;
    if (out_height) *out_height = VIDEO_H;
    uint8_t mode = gfx::read_byte_nocreate(rec, REG_VIDEO_MODE);
    convert_display(rec, mode == 3 ? 2 : mode == 4 ? 3 : 1);
    update_gif_recording(display_pal);
    update_screenshot(back_page);
    return back_page;
}
