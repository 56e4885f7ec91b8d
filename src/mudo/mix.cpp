// The mix: each channel's ticks become stereo frames (with the crossfade from
// the previous tick's continuation and the pan ramp), the channels are summed
// and the block goes out. Runs on the audio device's thread.
#include <cstddef>
#include <cstring>

#include "engine.h"
#include "mudo.h"

namespace {

constexpr int32_t MAX_PASSES = 1024;
constexpr uint32_t REG_AUDIO_FLAGS = 0x547F, REG_CHANNEL_VOL = 0x5538, REG_MUSIC_VOL = 0x5539;

int32_t mudo_mix_out32[MUDO_MIX_BLOCK * 2];

inline int16_t loud_clamp(int64_t prod, int64_t hi, int64_t lo, int64_t q) {
    if (prod >= hi) return 32767;
    if (prod < lo) return -32767;
    return int16_t(prod / q);
}

// The part of an echo ring that the ghost's 64-sample render reads: the
// read pointer's 64 (+1) samples when the delay does not glide, else all.
void copy_echo_history(const mudo_node_rec *src, mudo_node_rec *dst) {
    buffer_written(dst->output);
    int64_t d = src->val[0];
    int64_t pd = src->echo_prev_delay < 0 ? d : src->echo_prev_delay;
    int64_t D = (d * 32256) >> 8, Dp = (pd * 32256) >> 8;
    if (D != Dp) {
        std::memcpy(dst->output, src->output, MUDO_NODE_SAMPLES * 2);
        return;
    }
    uint32_t w = uint32_t(src->echo_pos) & 0x7FFF;
    uint32_t r = uint32_t(((uint64_t(int64_t(w) << 16) - uint64_t(Dp)) & 0x7FFFFFFE) >> 16);
    for (uint32_t k = 0; k <= 64; k++) dst->output[(r + k) & 0x7FFF] = src->output[(r + k) & 0x7FFF];
}

// Scales the ghost's 64 samples 'g' by 'num' / 'den' (den > 0), clamped.
void scale_ghost(int16_t *g, int32_t num, int32_t den) {
    for (int i = 0; i < 64; i++) g[i] = int16_t(clamp_sample(int64_t(g[i]) * num / den));
}

// Renders the channel's next tick. The ghost's continuation of the previous
// tick's sound was mixed at 'old_gain' and now mixes at 'new_gain' (they
// differ when the channel stopped being music in that tick): it is scaled to
// keep its level.
void start_tick(mudo_channel_rec *chan, int32_t old_gain, int32_t new_gain) {
    update_channel_track_tick(chan);
    evaluate_channel_node_parameters(chan);
    render_channel_tick(chan, chan->tick_samples);
    advance_channel_track_row(chan);

    int32_t gi = MUDO_CHANNELS + chan->index;
    mudo_channel_rec *g = &mixer.channels[gi];
    g->index = gi;
    bind_node_outputs(g, gi);
    render_channel_tick(g, 64);
    if (old_gain != new_gain && new_gain > 0) {
        scale_ghost(g->node_state[0].output, old_gain, new_gain);
        if (chan->wide) scale_ghost(g->node_state[STEREO_NODE_INDEX].output, old_gain, new_gain);
    }
    buffer_written(chan->node_state[0].output);
    buffer_written(chan->node_state[STEREO_NODE_INDEX].output);
    int16_t *n0 = chan->node_state[0].output, *g0 = g->node_state[0].output;
    for (int i = 0; i < 64; i++) n0[i] = int16_t((g0[i] * (64 - i) + n0[i] * i) >> 6);
    if (chan->wide) {
        int16_t *s = chan->node_state[STEREO_NODE_INDEX].output, *gs = g->node_state[STEREO_NODE_INDEX].output;
        for (int i = 0; i < 64; i++) s[i] = int16_t((gs[i] * (64 - i) + s[i] * i) >> 6);
    }
    chan->tick_pos = 0;
    chan->tick_len = chan->tick_samples;

    // The ghost takes the channel's record. Its saved states would equal its
    // node states (the tick has just stored them) and only the node-level
    // crossfade of an echo instrument reads them, so only those copy them.
    constexpr size_t saved_at = offsetof(mudo_channel_rec, saved_node_state);
    constexpr size_t rest_at = offsetof(mudo_channel_rec, track_on);
    std::memcpy(static_cast<void *>(g), chan, saved_at);
    std::memcpy(reinterpret_cast<char *>(g) + rest_at, reinterpret_cast<const char *>(chan) + rest_at,
                sizeof *g - rest_at);
    bool echo = false;
    for (int k = 0; k < 8; k++) echo |= chan->node_state[k].kind == 9;
    if (echo) std::memcpy(static_cast<void *>(g->saved_node_state), chan->saved_node_state, sizeof g->saved_node_state);
    g->index = gi;
    bind_node_outputs(g, gi);
    for (int k = 0; k < MUDO_MAX_CHANNEL_NODES; k++)
        if (g->node_state[k].kind == 9) copy_echo_history(&chan->node_state[k], &g->node_state[k]);
}

void mix_wide(const mudo_channel_rec *chan, int32_t G, int32_t m, int16_t *dst) {
    const int16_t *l = chan->node_state[0].output + chan->tick_pos;
    const int16_t *r = chan->node_state[STEREO_NODE_INDEX].output + chan->tick_pos;
    for (int32_t i = 0; i < m; i++) {
        int64_t pl = int64_t(l[i]) * G, pr = int64_t(r[i]) * G;
        if (G > 256) {
            dst[2 * i] = loud_clamp(pl, 0x800000, -0x7FFFFF, 256);
            dst[2 * i + 1] = loud_clamp(pr, 0x800000, -0x7FFFFF, 256);
        } else {
            dst[2 * i] = int16_t(pl / 256);
            dst[2 * i + 1] = int16_t(pr / 256);
        }
    }
}

// Truncating division by 4096.
template <typename T> inline T div4096(T p) { return (p + ((p >> (sizeof(T) * 8 - 1)) & 4095)) >> 12; }

// One frame of a mono channel at side gains g_l and g_r (1/4096 units).
// 'Wide' is the product type: g reaches 16192 * 4096 / 256 for a loud music
// channel, so g * s fits 32 bits only while G < 4096.
template <typename Wide> inline void mono_frame(int32_t g_l, int32_t g_r, int16_t s, bool loud, int16_t *dst) {
    Wide pl = Wide(g_l) * s, pr = Wide(g_r) * s;
    Wide l = div4096(pl), r = div4096(pr);
    if (loud) {
        l = pl >= 0x8000000 ? 32767 : pl < -0x7FFFFFF ? -32767 : l;
        r = pr >= 0x8000000 ? 32767 : pr < -0x7FFFFFF ? -32767 : r;
    }
    dst[0] = int16_t(l);
    dst[1] = int16_t(r);
}

// One side's frames at a constant gain g (the common case: the pan holds).
template <typename Wide>
void mono_constant(const int16_t *src, int32_t g_l, int32_t g_r, bool loud, int32_t m, int16_t *dst) {
    for (int32_t i = 0; i < m; i++) mono_frame<Wide>(g_l, g_r, src[i], loud, dst + 2 * i);
}

template <typename Wide>
void mono_ramp(const int16_t *src, int64_t al, int64_t ar, int64_t sl, int64_t sr, bool loud, int32_t m,
               int16_t *dst) {
    for (int32_t i = 0; i < m; i++, al += sl, ar += sr)
        mono_frame<Wide>(int32_t(al >> 16), int32_t(ar >> 16), src[i], loud, dst + 2 * i);
}

void mix_mono(mudo_channel_rec *chan, int32_t G, int32_t m, int16_t *dst) {
    int32_t p = chan->node_state[0].val[1] / 65536;
    uint32_t gl, gr;
    get_stereo_contributions(p, &gl, &gr);
    int64_t Al = int64_t(chan->last_gain_l) * G * 256, Bl = int64_t(gl) * G * 256;
    int64_t Ar = int64_t(chan->last_gain_r) * G * 256, Br = int64_t(gr) * G * 256;
    int64_t sl = (Bl - Al) / m, sr = (Br - Ar) / m;
    const int16_t *src = chan->node_state[0].output + chan->tick_pos;
    bool loud = G > 256, wide = G >= 4096;
    if (sl == 0 && sr == 0) {
        int32_t g_l = int32_t(Al >> 16), g_r = int32_t(Ar >> 16);
        if (wide)
            mono_constant<int64_t>(src, g_l, g_r, loud, m, dst);
        else
            mono_constant<int32_t>(src, g_l, g_r, loud, m, dst);
    } else if (wide) {
        mono_ramp<int64_t>(src, Al, Ar, sl, sr, loud, m, dst);
    } else {
        mono_ramp<int32_t>(src, Al, Ar, sl, sr, loud, m, dst);
    }
    chan->last_gain_l = int32_t(gl);
    chan->last_gain_r = int32_t(gr);
}

void write_silence(int16_t *out, int32_t frames) {
    std::memset(out, 0, size_t(frames) * 4);
    std::memset(last_mixed_out, 0, size_t(frames) * 4);
}

void mix_block(int16_t *out, int32_t frames, int32_t master, int32_t swap) {
    uint8_t flags = ram_u8(REG_AUDIO_FLAGS);
    if (flags & 4) {
        write_silence(out, frames);
        return;
    }
    last_num_samples_mixed = frames;
    int32_t c = mixer.fade_samples + frames;
    while (c >= MUDO_TICK_SAMPLES) {
        mudo_update_fade_tick();
        c -= MUDO_TICK_SAMPLES;
    }
    mixer.fade_samples = c;

    int32_t pos[MUDO_CHANNELS], left[MUDO_CHANNELS];
    for (int ch = 0; ch < MUDO_CHANNELS; ch++) pos[ch] = 0, left[ch] = frames;
    for (int pass = 0; pass < MAX_PASSES; pass++) {
        int32_t limit = frames;
        bool advanced = false;
        bool owned[MUDO_CHANNELS];
        for (int ch = 0; ch < MUDO_CHANNELS; ch++) owned[ch] = mixer.channels[ch].music_owned != 0;
        for (int round = 0; round < 2; round++) {
            for (int ch = 0; ch < MUDO_CHANNELS; ch++) {
                if (owned[ch] != (round == 0)) continue;
                int32_t want = limit < left[ch] ? limit : left[ch];
                int32_t got = mix_channel(&mixer.channels[ch], want, mixer.chan_buf[ch] + pos[ch] * 2);
                if (got < 0) got = 0;
                pos[ch] += got;
                left[ch] -= got;
                if (left[ch] > 0) {
                    advanced = true;
                    if (got < limit) limit = got;
                }
            }
        }
        if (!advanced) break;
        advance_pattern();
    }
    // A channel held back by the pass limit contributes silence for the rest.
    for (int ch = 0; ch < MUDO_CHANNELS; ch++)
        if (left[ch] > 0) std::memset(mixer.chan_buf[ch] + pos[ch] * 2, 0, size_t(left[ch]) * 4);

    if (flags & 8) {
        write_silence(out, frames);
        return;
    }
    int32_t n2 = frames * 2;
    std::memset(mudo_mix_out32, 0, size_t(n2) * 4);
    for (int ch = 0; ch < MUDO_CHANNELS; ch++) {
        const int16_t *b = mixer.chan_buf[ch];
        for (int32_t i = 0; i < n2; i++) mudo_mix_out32[i] += b[i];
    }
    if (master == 0) {
        std::memset(out, 0, size_t(n2) * 2);
    } else {
        for (int32_t f = 0; f < frames; f++) {
            int16_t l = int16_t(clamp_sample(mudo_mix_out32[2 * f]));
            int16_t r = int16_t(clamp_sample(mudo_mix_out32[2 * f + 1]));
            out[2 * f] = swap ? r : l;
            out[2 * f + 1] = swap ? l : r;
        }
    }
    std::memcpy(last_mixed_out, out, size_t(n2) * 2);
}

}  // namespace

int32_t channel_gain(const mudo_channel_rec *chan) {
    int32_t G = (int32_t(ram_u8(REG_CHANNEL_VOL)) * chan->mix_vol) >> 4;
    if (chan->music_owned) G = int32_t((int64_t(G) * ram_u8(REG_MUSIC_VOL) * mixer.music_vol) / 16384);
    return G;
}

int32_t mix_channel(mudo_channel_rec *chan, int32_t n, int16_t *dst) {
    bind_node_outputs(chan, chan->index);
    if (chan->tick_samples == 0) chan->tick_samples = MUDO_TICK_SAMPLES;
    int32_t G = chan->gain_held ? chan->held_gain : channel_gain(chan);
    if (n <= 0) return n;
    int32_t r = n;
    while (r > 0) {
        if (chan->tick_pos == chan->tick_len) {
            if (chan->music_owned) {
                if (chan->pattern_ticks_left <= 0) return n - r;
                chan->pattern_ticks_left--;
            }
            int32_t old_gain = G;
            if (chan->gain_held) {
                chan->gain_held = 0;
                G = channel_gain(chan);
            }
            start_tick(chan, old_gain, G);
        }
        int32_t m = chan->tick_len - chan->tick_pos;
        if (m > r) m = r;
        if (chan->wide)
            mix_wide(chan, G, m, dst);
        else
            mix_mono(chan, G, m, dst);
        chan->tick_pos += m;
        dst += 2 * m;
        r -= m;
    }
    return n;
}

extern "C" int32_t mudo_mix(int16_t *out, int32_t frames) {
    // Loaded once per call: the main thread stores them without the lock.
    int32_t master = mixer.master_vol.load(std::memory_order_relaxed);
    int32_t swap = mixer.stereo_swap.load(std::memory_order_relaxed);
    if (frames <= 0) {
        mix_block(out, 0, master, swap);
        return 0;
    }
    for (int32_t done = 0; done < frames;) {
        int32_t block = frames - done < MUDO_MIX_BLOCK ? frames - done : MUDO_MIX_BLOCK;
        mix_block(out + int64_t(done) * 2, block, master, swap);
        done += block;
    }
    return 0;
}
