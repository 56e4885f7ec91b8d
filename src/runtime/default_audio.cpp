// The default wavetables and the default instrument of a new process.
#include "default_audio.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "address_space.h"
#include "process_rng.h"

static_assert(std::endian::native == std::endian::little, "wt0 is stored in host order");

namespace {

inline constexpr int NOISE_SAMPLES = 16384;
inline constexpr int WAVES = 256;
inline constexpr int WAVE_SAMPLES = 1024;
inline constexpr int WT0_SAMPLES = NOISE_SAMPLES + WAVES * WAVE_SAMPLES;  // 278528
inline constexpr uint64_t NOISE_SEED = 0x12345678;
// Used as written: the waves are defined with this value, not with pi.
inline constexpr double WAVE_PI = 3.141562;
static_assert(WT0_SAMPLES * 2 == static_cast<int>(WAVETABLES_BYTES), "wt0 fills the region");

int16_t wt0[WT0_SAMPLES];  // built once per run
bool generated_wt0 = false;

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

// Waves 0-63: sine blending into a triangle.
int16_t sine_to_triangle(int k, int i) {
    double s = std::sin(i * WAVE_PI / 512);
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

void build_wt0(process_rec *owner) {
    // The noise comes from the owner's (process 1's) generator, which keeps
    // the state this leaves.
    xoshiro256ss_srand(NOISE_SEED);
    for (int n = 0; n < NOISE_SAMPLES; n++)
        wt0[n] = static_cast<int16_t>(xoshiro256ss_rand() & 0xFFFF);
    (void)owner;
    for (int w = 0; w < WAVES; w++) {
        int k = w % 64;
        int16_t *wave = wt0 + NOISE_SAMPLES + w * WAVE_SAMPLES;
        for (int i = 0; i < WAVE_SAMPLES; i++) {
            switch (w / 64) {
                case 0: wave[i] = sine_to_triangle(k, i); break;
                case 1: wave[i] = skewed_triangle(k, i); break;
                case 2: wave[i] = stepped_saw(k, i); break;
                default: wave[i] = pulse(k, i); break;
            }
        }
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
    remembered_process prev = remember_current_process();
    cproc = rec;
    if (!generated_wt0) {
        build_wt0(rec);
        generated_wt0 = true;
    }
    // The samples in host order are the little-endian bytes poke2 would store.
    write_bytes_proc(rec, WAVETABLES_ADDR, wt0, WAVETABLES_BYTES);
    restore_current_process(prev);
}

void generate_default_audio_data(process_rec *rec) {
    write_bytes_proc(rec, INSTRUMENT0_ADDR, inst0_nodes, sizeof inst0_nodes);
    write_bytes_proc(rec, WAVETABLE_DESC_ADDR, wavetable_descriptors, sizeof wavetable_descriptors);
}
