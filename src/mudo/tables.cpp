// The engine's constant tables, the time codes and its random generator.
#include <array>

#include "engine.h"

const int64_t mudo_note_dx[13] = {523, 554, 587, 622, 659, 698, 740, 784, 831, 880, 932, 985, 1046};

namespace {

// Pan gains in 1/4096: straight lines between the fixed points.
constexpr std::array<uint32_t, 256> make_stereo_contrib() {
    constexpr int pts[][2] = {{0, 4096}, {1, 4095},   {64, 3927}, {127, 3289}, {128, 3272},
                              {129, 3256}, {200, 1636}, {254, 31},  {255, 0}};
    std::array<uint32_t, 256> t{};
    for (int k = 0; k + 1 < int(sizeof pts / sizeof pts[0]); k++) {
        int a = pts[k][0], va = pts[k][1], b = pts[k + 1][0], vb = pts[k + 1][1];
        for (int i = a; i <= b; i++) t[i] = uint32_t(va + ((vb - va) * (i - a)) / (b - a));
    }
    return t;
}

constexpr std::array<uint32_t, 256> stereo_table = make_stereo_contrib();

// Rows kind & 3 (kinds 0..4), columns m & 7: parameters read as signed bytes.
constexpr uint8_t mval_signed_dat[4][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 1, 1, 0, 0, 0, 0},
    {0, 1, 1, 1, 0, 1, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0},
};

}  // namespace

const uint32_t stereo_contrib[256] = {
#define R8(i) stereo_table[i], stereo_table[i + 1], stereo_table[i + 2], stereo_table[i + 3], \
              stereo_table[i + 4], stereo_table[i + 5], stereo_table[i + 6], stereo_table[i + 7]
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
};

const uint32_t vib_mag[16] = {16, 20, 24, 28, 32, 36, 40, 44, 48, 56, 64, 80, 96, 128, 192, 256};
const uint32_t trem_mag[16] = {16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256};
const uint32_t vib_spd[16] = {0, 1, 2, 3, 4, 6, 8, 10, 12, 14, 16, 20, 24, 32, 48, 64};
const uint32_t fade_spd[16] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12, 16, 20, 24, 32, 48, 64};

int is_mval_signed(int kind, int m) {
    if (kind > 4 || kind < 0) return 0;
    return mval_signed_dat[kind & 3][m & 7];
}

void build_gain_tri() {
    for (int k = 0; k < 8192; k++) {
        gain_tri[k] = uint16_t(32767 - 4 * k);
        gain_tri[8192 + k] = uint16_t(4 * k);
    }
}

int32_t track_time(int32_t v) {
    int64_t x = v;
    int64_t t = x < 16 ? x : x < 32 ? 2 * x - 16 : x < 64 ? 4 * x - 80 : x < 128 ? 8 * x - 336 : 16 * x - 1360;
    return t > INT32_MAX ? INT32_MAX : int32_t(t);
}

int32_t get_env_duration(int32_t code) { return track_time(code & 0xFF); }

int32_t get_channel_spd(const mudo_channel_rec *chan) {
    if (chan->track_on && chan->speed > 0) return chan->speed;
    return 16;
}

int32_t get_spd(int32_t code, const mudo_channel_rec *chan) {
    return (code & 0xFF) == 0 ? get_channel_spd(chan) : get_env_duration(code);
}

uint64_t mudo_rand() { return xoshiro256ss(&mudo_rng); }
