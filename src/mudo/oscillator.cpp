// Pitch to phase step, the wavetable oscillator and the per-kind render.
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine.h"

extern "C" uint64_t mudo_get_dx_for_note(int32_t pitch, int32_t fine) {
    int32_t F = wadd32(int32_t((uint32_t(pitch) & 0xFFFF) << 8), fine);
    int32_t I = int32_t(uint32_t(pitch) & 0xFFFF0000u);
    // Whole semitones carried out of the fraction (F >> 24 is floor(F / 2^24)).
    int32_t carry = F >> 24;
    F = int32_t(uint32_t(F) & 0xFFFFFF);
    I = wadd32(I, wmul32(carry, 0x10000));
    int32_t S = I >> 16;
    int32_t o = S >= 0 ? S / 12 : -((-S + 11) / 12);
    int32_t t = S - 12 * o;
    int32_t h = o + 21;
    if (h < 0) h = 0;
    if (h > 52) h = 52;
    int64_t lo = (mudo_note_dx[t] << h) / 44100;
    int64_t hi = (mudo_note_dx[t + 1] << h) / 44100;
    int64_t f = F >> 8;
    return uint64_t((f * hi + (0x10000 - f) * lo) >> 16);
}

namespace {

// A wave lying wholly inside the memory copy (with two bytes to spare) is
// read through a plain pointer, a sample and its successor in one load; one
// that straddles the end wraps every read at 16 MB.
struct direct_wave {
    const uint8_t *p;
    uint32_t last;  // index of the last sample
    void pair(uint32_t i, int32_t &s0, int32_t &s1) const {
        uint32_t v;
        std::memcpy(&v, p + size_t(i) * 2, 4);
        s0 = int16_t(v);
        s1 = i == last ? int16_t(uint16_t(p[0] | p[1] << 8)) : int16_t(v >> 16);
    }
};

struct wrapped_wave {
    uint32_t base;
    uint32_t last;
    void pair(uint32_t i, int32_t &s0, int32_t &s1) const {
        s0 = int16_t(ram_u16(base + i * 2));
        s1 = int16_t(ram_u16(base + ((i + 1) & last) * 2));
    }
};

// The mask keeps fewer than 32 bits, so the phase runs in 32-bit arithmetic:
// the low bits of every sum are those of the 64-bit rule.
template <bool FM, class Wave>
uint32_t osc_loop(const Wave &w, uint32_t p, uint32_t M, uint32_t step, int32_t g, int16_t *out,
                  const int16_t *fm, int fm_shift, int32_t n) {
    for (int32_t k = 0; k < n; k++) {
        uint32_t q = p & M;
        int32_t s0, s1;
        w.pair(q >> 16, s0, s1);  // s1: the next sample, the first after the last
        int32_t y = s0 + int32_t((int64_t(q & 0xFFFF) * (s1 - s0)) >> 16);
        out[k] = int16_t(uint32_t((y * g) >> 14));
        p = q + step;
        if (FM) p += uint32_t(int32_t(fm[k])) << fm_shift;
    }
    return p;
}

#if defined(__x86_64__)
// Without frequency modulation the phase of sample k is p + k * step, so
// eight samples go at once: one 32-bit gather fetches each sample with its
// successor (the wave has two bytes to spare after it), the last sample's
// successor is the first. The interpolation's product, up to 33 bits, is
// split in two 8-bit halves of the fraction:
// (f * d) >> 16 == ((f >> 8) * d + (((f & 255) * d) >> 8)) >> 8.
__attribute__((target("avx2"))) uint32_t osc_plain_avx2(const uint8_t *wave, uint32_t last, uint32_t p, uint32_t M,
                                                        uint32_t step, int32_t g, int16_t *out, int32_t n) {
    const __m256i lane_steps = _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(int(step)));
    const __m256i mask = _mm256_set1_epi32(int(M)), lastv = _mm256_set1_epi32(int(last));
    const __m256i first = _mm256_set1_epi32(int16_t(uint16_t(wave[0] | wave[1] << 8)));
    const __m256i low16 = _mm256_set1_epi32(0xFFFF), low8 = _mm256_set1_epi32(255), gv = _mm256_set1_epi32(g);
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        __m256i q = _mm256_and_si256(_mm256_add_epi32(_mm256_set1_epi32(int(p)), lane_steps), mask);
        __m256i idx = _mm256_srli_epi32(q, 16);
        __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int *>(wave), idx, 2);
        __m256i s0 = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
        __m256i s1 = _mm256_srai_epi32(v, 16);
        s1 = _mm256_blendv_epi8(s1, first, _mm256_cmpeq_epi32(idx, lastv));
        __m256i d = _mm256_sub_epi32(s1, s0), f = _mm256_and_si256(q, low16);
        __m256i hi = _mm256_mullo_epi32(_mm256_srli_epi32(f, 8), d);
        __m256i lo = _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_and_si256(f, low8), d), 8);
        __m256i y = _mm256_add_epi32(s0, _mm256_srai_epi32(_mm256_add_epi32(hi, lo), 8));
        __m256i o = _mm256_srai_epi32(_mm256_mullo_epi32(y, gv), 14);
        o = _mm256_srai_epi32(_mm256_slli_epi32(o, 16), 16);  // the low 16 bits, sign-extended
        __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(o), _mm256_extracti128_si256(o, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + k), packed);
        p = (p & M) + 8 * step;  // the phase as the one-by-one loop leaves it
    }
    return osc_loop<false>(direct_wave{wave, last}, p, M, step, g, out + k, nullptr, 0, n - k);
}

// Reads the processor model the runtime filled in at start-up: no lock, no
// first-call guard on the audio thread.
bool have_avx2() { return __builtin_cpu_supports("avx2"); }
#endif

template <class Wave>
uint32_t osc_run(const Wave &w, const mudo_node_rec *node, uint32_t p, uint32_t M, int32_t g, int32_t n) {
    uint32_t step = uint32_t(node->step);
#if defined(__x86_64__)
    if constexpr (std::is_same_v<Wave, direct_wave>)
        if (!node->fm_input && have_avx2()) return osc_plain_avx2(w.p, w.last, p, M, step, g, node->output, n);
#endif
    if (!node->fm_input) return osc_loop<false>(w, p, M, step, g, node->output, nullptr, 0, n);
    int sh = node->mul_shift + 6 > 2 ? node->mul_shift + 6 : 2;
    if (sh > 31) return osc_loop<false>(w, p, M, step, g, node->output, nullptr, 0, n);  // shifted out
    return osc_loop<true>(w, p, M, step, g, node->output, node->fm_input, sh, n);
}

}  // namespace

void render_node_tick_osc(mudo_node_rec *node, int32_t n) {
    int32_t L = node->wave_log2;
    uint32_t wcount = uint32_t(node->wave_count);
    uint32_t w = ((uint32_t(node->val[4]) >> 16 & 0xFF) * wcount) >> 8;
    uint32_t base = (uint32_t(node->wave_addr) + w * uint32_t(node->wave_len) * 2u) & (MUDO_RAM_SIZE - 1);
    uint64_t wave_bytes = uint64_t(1) << (L + 1);
    uint64_t M = uint64_t(int64_t(int32_t((uint32_t(1) << (L + 16)) - 1)));
    int32_t g = int32_t(uint32_t(node->val[0]) << 8) >> 16;
    int64_t O = int64_t(int16_t(uint32_t(node->val[5]) >> 16) + 128) * (int64_t(1) << (L + 8));
    uint32_t p = uint32_t(node->phase & M) - uint32_t(uint64_t(O));
    uint32_t last = uint32_t(M >> 16);
    if (base + wave_bytes + 2 <= MUDO_RAM_SIZE)
        p = osc_run(direct_wave{mixer.audio_ram + base, last}, node, p, uint32_t(M), g, n);
    else
        p = osc_run(wrapped_wave{base, last}, node, p, uint32_t(M), g, n);
    node->phase = (uint64_t(p) + uint64_t(O)) & M;
}

void render_node_tick(mudo_node_rec *node, int32_t, int32_t n) {
    if ((node->flags & 2) || node->kind == 0) {
        int32_t slot = node_slot(node->output);
        if (slot >= 0 && node_zeroed[slot] >= n) return;  // still silent from an earlier tick
        std::memset(node->output, 0, size_t(n) * 2);
        if (slot >= 0) node_zeroed[slot] = n;
        return;
    }
    if (node->kind == 2) {
        buffer_written(node->output);
        render_node_tick_osc(node, n);
    }
}
