// The engine's whole state: the node and channel records and the one global
// `mixer` that holds the channels, the music registers, the memory copy and
// every sample buffer.
#pragma once

#include <atomic>
#include <cstdint>

#include "rng.h"

constexpr int MUDO_CHANNELS = 16;
constexpr int MUDO_MAX_CHANNEL_NODES = 9;
constexpr int STEREO_NODE_INDEX = 8;
constexpr int MUDO_NODE_SAMPLES = 32768;
constexpr int MUDO_MIX_BLOCK = 8192;  // frames of one mudo_mix block
constexpr int32_t MUDO_TICK_SAMPLES = 367;
constexpr uint32_t MUDO_RAM_SIZE = 0x1000000;
constexpr int32_t MUDO_KEEP_PAN = 0x7fffffff;

// One node of a channel's unpacked instrument.
struct mudo_node_rec {
    int32_t addr;
    uint64_t phase;
    uint64_t step;
    uint32_t ratio_num, ratio_den;
    int32_t val[7];
    int32_t env_t[7];
    int32_t rnd[7];
    int64_t env_held[7];
    uint8_t parent, op, kind, wave_slot, flags, aux;
    uint32_t is_copy;
    int32_t copy_index;
    int32_t depth;
    int32_t mul_shift;
    int32_t wave_addr;
    uint8_t wave_log2;
    int32_t wave_len;
    int32_t wave_count;
    // ---- not copied into a right-hand copy ----
    int64_t filt[3];
    int64_t pole2[3];
    int32_t echo_pos;
    int64_t echo_prev_delay, echo_prev_fb;
    const int16_t *fm_input;
    int16_t *output;
};

struct mudo_channel_rec {
    int32_t index, mix_vol, base_addr;
    int32_t inst, vol, pan, pitch, fine;
    int32_t slide_pitch, slide_pitch_step, slide_vol, slide_vol_step;
    int32_t prev_vol, prev_pan, prev_pitch, prev_fine;
    int32_t fx, fx_param;
    int32_t gate, held_ticks, release_ticks;
    uint32_t vib_phase;
    int32_t arp_step, arp_ticks;
    int32_t tree_depth, inst_flags, wide;
    int32_t note_inst;
    int32_t row_fx, row_fx_param;
    int32_t last_gain_l, last_gain_r;
    mudo_node_rec node_state[MUDO_MAX_CHANNEL_NODES];
    mudo_node_rec saved_node_state[MUDO_MAX_CHANNEL_NODES];
    int32_t track_on, track_ticks, row, row_tick, end_row, track, track_addr, track_len, speed;
    int32_t loop_start, loop_end, delay, play_len;
    int32_t music_owned, pattern_ticks_left;
    int32_t tick_samples, tick_pos, tick_len;
    int32_t gain_held;  // 1: the rest of this tick mixes at held_gain
    int32_t held_gain;  // G when the channel stopped being music, mid-tick
};

struct mudo_mixer_rec {
    mudo_channel_rec channels[2 * MUDO_CHANNELS];  // 16..31: the ghosts
    // Stored by the settings without the audio lock; loaded once per mix.
    std::atomic<int32_t> master_vol;
    std::atomic<int32_t> stereo_swap;
    int32_t music_base, music_mask, music_on, music_pattern;
    int32_t fade_ticks, fade_pos, fade_from, fade_to;
    int32_t music_vol, fade_samples;
    alignas(64) uint8_t audio_ram[MUDO_RAM_SIZE];
    alignas(64) int16_t node_output[2 * MUDO_CHANNELS * MUDO_MAX_CHANNEL_NODES][MUDO_NODE_SAMPLES];
    alignas(64) int16_t chan_buf[MUDO_CHANNELS][MUDO_NODE_SAMPLES * 2];
};

extern mudo_mixer_rec mixer;

// Engine globals beside the record.
extern uint16_t gain_tri[16384];
extern int32_t choose_offset;
extern int16_t last_mixed_out[MUDO_MIX_BLOCK * 2];
extern int32_t last_num_samples_mixed;
extern int16_t node_ramp_buf[MUDO_NODE_SAMPLES];
extern mudo_node_rec root_node;
extern rng_state_rec mudo_rng;

// How many leading samples of each node buffer are known to be zero, so that
// a silent node's buffer is not cleared again tick after tick. Every write
// into a node buffer other than a clear calls buffer_written first.
constexpr int MUDO_NODE_SLOTS = 2 * MUDO_CHANNELS * MUDO_MAX_CHANNEL_NODES;
extern int32_t node_zeroed[MUDO_NODE_SLOTS];
inline int32_t node_slot(const int16_t *buf) {
    const int16_t *first = &mixer.node_output[0][0];
    if (buf < first || buf >= first + size_t(MUDO_NODE_SLOTS) * MUDO_NODE_SAMPLES) return -1;
    return int32_t((buf - first) / MUDO_NODE_SAMPLES);
}
inline void buffer_written(const int16_t *buf) {
    int32_t slot = node_slot(buf);
    if (slot >= 0) node_zeroed[slot] = 0;
}

// ---- audio_ram reads: every address wraps at 16 MB ----
inline uint8_t ram_u8(uint32_t a) { return mixer.audio_ram[a & (MUDO_RAM_SIZE - 1)]; }
inline uint16_t ram_u16(uint32_t a) {
    return uint16_t(ram_u8(a) | (ram_u8(a + 1) << 8));
}
inline uint32_t ram_u32(uint32_t a) {
    return uint32_t(ram_u16(a)) | (uint32_t(ram_u16(a + 2)) << 16);
}

// ---- two's-complement arithmetic without signed overflow ----
inline int32_t wadd32(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t wsub32(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
inline int32_t wmul32(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }
inline int64_t wadd64(int64_t a, int64_t b) { return int64_t(uint64_t(a) + uint64_t(b)); }
inline int64_t wsub64(int64_t a, int64_t b) { return int64_t(uint64_t(a) - uint64_t(b)); }
inline int64_t wmul64(int64_t a, int64_t b) { return int64_t(uint64_t(a) * uint64_t(b)); }
// Left shift of a signed value as a multiplication by 2^s (0 <= s < 63).
inline int64_t wshl64(int64_t a, int s) { return int64_t(uint64_t(a) << s); }
// Truncating division that survives INT64_MIN / -1 and a zero divisor (0).
inline int64_t div64(int64_t a, int64_t b) {
    if (b == 0) return 0;
    if (b == -1) return wsub64(0, a);
    return a / b;
}

inline int32_t clamp_sample(int64_t v) {
    return v > 32767 ? 32767 : v < -32767 ? -32767 : int32_t(v);
}
