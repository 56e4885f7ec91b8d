// The default wavetables and the default instrument of a new process.
#include "default_audio.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "address_space.h"
#include "rng.h"

static_assert(std::endian::native == std::endian::little, "wt0 is stored in host order");

namespace {

inline constexpr int NOISE_SAMPLES = 16384;
inline constexpr int WAVES = 256;
inline constexpr int WAVE_SAMPLES = 1024;
inline constexpr int WT0_SAMPLES = NOISE_SAMPLES + WAVES * WAVE_SAMPLES;  // 278528
inline constexpr uint64_t NOISE_SEED = 0x12345678;
// Used as written: the waves are defined with this value, not with pi.
inline constexpr double WAVE_PI = 3.141562;
inline constexpr int PAGE_SAMPLES = PAGE_BYTES / 2;
static_assert(WT0_SAMPLES * 2 == static_cast<int>(WAVETABLES_BYTES), "wt0 fills the region");
static_assert(NOISE_SAMPLES % PAGE_SAMPLES == 0 && PAGE_SAMPLES % WAVE_SAMPLES == 0,
              "a page holds noise only or whole waves");

bool seeded_root = false;  // the first process 1 of the run has its generator state

// The default instrument's two node records, 0x40000-0x4003F.
constexpr uint8_t inst0_nodes[64] = {
    0x00, 0x01, 0x00, 0x00, 0x06, 0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
    0x02, 0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// Wavetable descriptors 0 and 1: address word 0xF800, log2 length 10, 255
// waves; address word 0xF780, log2 length 13, one table (the noise).
constexpr uint8_t wavetable_descriptors[8] = {0x00, 0xF8, 0x0A, 0xFF, 0x80, 0xF7, 0x0D, 0x01};

// Waves 0-63: sine blending into a triangle; 's' is sin(i * WAVE_PI / 512).
int16_t sine_to_triangle(int k, int i, double s) {
    int t = (i + 768) & 1023;
    int tri = (t < 512 ? t : 1024 - t) - 256;
    auto v = static_cast<int32_t>((s * -32767.0) * (64 - k) + (tri * 127.99) * k);
    return static_cast<int16_t>(v / 64);
}

// Waves 64-127: a triangle whose peak moves right.
int16_t skewed_triangle(int k, int i) {
    int p = 512 + 8 * k;
    int shift = ((64 - k) * (64 - k)) >> 4;
    int j = (i - shift) & 1023;
    double f = j <= p ? static_cast<double>(j) / p : static_cast<double>(1024 - j) / (1024 - p);
    return static_cast<int16_t>(f * 65535.0 - 32768.0);
}

// Waves 128-191: a saw with a step at the half.
int16_t stepped_saw(int k, int i) {
    double a = k * k / 4096.0;
    double x = i / 1024.0;
    double f = (1 - a) * x;
    if (x >= 0.5) f += a;
    return static_cast<int16_t>(f * 65534.0 - 32767.0);
}

// Waves 192-255: pulses of growing width.
int16_t pulse(int k, int i) {
    double x = i / 1024.0;
    return x <= 0.5 + k / 128.0 ? -32767 : 32767;
}

// The samples of wave w; 'sine' holds sin(i * WAVE_PI / 512) for each i.
void build_wave(int w, const double *sine, int16_t *out) {
    int k = w % 64;
    switch (w / 64) {
        case 0:
            for (int i = 0; i < WAVE_SAMPLES; i++) out[i] = sine_to_triangle(k, i, sine[i]);
            break;
        case 1:
            for (int i = 0; i < WAVE_SAMPLES; i++) out[i] = skewed_triangle(k, i);
            break;
        case 2:
            for (int i = 0; i < WAVE_SAMPLES; i++) out[i] = stepped_saw(k, i);
            break;
        default:
            for (int i = 0; i < WAVE_SAMPLES; i++) out[i] = pulse(k, i);
            break;
    }
}

// Writes wt0 into rec's space a page at a time, so that no copy of the
// whole table is kept; the noise comes from 'noise'.
void write_wt0(process_rec *rec, rng_state_rec *noise) {
    double sine[WAVE_SAMPLES];  // shared by the 64 blends
    for (int i = 0; i < WAVE_SAMPLES; i++) sine[i] = std::sin(i * WAVE_PI / 512);
    int16_t page[PAGE_SAMPLES];
    uint32_t a = WAVETABLES_ADDR;
    for (int n = 0; n < WT0_SAMPLES; n += PAGE_SAMPLES, a += PAGE_BYTES) {
        if (n < NOISE_SAMPLES) {
            for (int16_t &v : page) v = static_cast<int16_t>(xoshiro256ss(noise) & 0xFFFF);
        } else {
            for (int j = 0; j < PAGE_SAMPLES; j += WAVE_SAMPLES)
                build_wave((n + j - NOISE_SAMPLES) / WAVE_SAMPLES, sine, page + j);
        }
        // The samples in host order are the little-endian bytes poke2 would store.
        write_bytes_proc(rec, a, page, PAGE_BYTES);
    }
}

}  // namespace

void generate_default_wavetable(process_rec *rec) {
    if (rec->id != ROOT_PID) {
        // Later processes start with whatever process 1 holds now.
        kiv_pmemcpy_pages(get_process(ROOT_PID), rec, WAVETABLES_ADDR,
                          WAVETABLES_ADDR + WAVETABLES_BYTES);
        return;
    }
    rng_state_rec noise;
    xoshiro256ss_seed(&noise, NOISE_SEED);
    write_wt0(rec, &noise);
    // The first process 1 of the run drew the noise from its own generator
    // and keeps the state that leaves.
    if (!seeded_root) {
        rec->rng_state = noise;
        seeded_root = true;
    }
}

void generate_default_audio_data(process_rec *rec) {
    write_bytes_proc(rec, INSTRUMENT0_ADDR, inst0_nodes, sizeof inst0_nodes);
    write_bytes_proc(rec, WAVETABLE_DESC_ADDR, wavetable_descriptors, sizeof wavetable_descriptors);
}
