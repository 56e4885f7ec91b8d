// What scripts may read of the engine: channel fields and buffers, the
// playing channels and the music's position.
#include <cstring>

#include "engine.h"
#include "mudo.h"

namespace {

int32_t clamp_count(int32_t n) { return n < 0 ? 0 : n > MUDO_NODE_SAMPLES ? MUDO_NODE_SAMPLES : n; }

}  // namespace

extern "C" int32_t mudo_get_channel_state(int32_t ch, int32_t code, uint8_t *buf) {
    if (ch == -1 && code == -1) {
        if (buf) std::memcpy(buf, last_mixed_out, size_t(last_num_samples_mixed) * 4);
        return last_num_samples_mixed;
    }
    if (uint32_t(ch) >= uint32_t(MUDO_CHANNELS)) return -1;
    const mudo_channel_rec *c = &mixer.channels[ch];
    if (code == 0) return c->gate;
    if (code >= 1 && code <= 15) {
        if (!c->track_on && c->inst == 255) return -1;
        switch (code) {
        case 1: return c->inst;
        case 2: return c->vol;
        case 3: return c->pan;
        case 4: return c->pitch;
        case 5: return c->fine;
        case 6: return c->fx;
        case 7: return c->fx_param;
        case 8: return c->tick_samples;
        case 9: return c->row;
        case 10: return c->row_tick;
        case 11: return c->track_ticks;
        case 12: return c->track_on ? c->track : -1;
        case 13: return c->track;
        case 14: return c->mix_vol;
        default: return c->base_addr;
        }
    }
    if (code == 19) {
        int32_t n = clamp_count(c->tick_samples);
        if (buf) std::memcpy(buf, mixer.chan_buf[ch], size_t(n) * 4);
        return n;
    }
    if (code >= 20 && code <= 27 && buf) {
        int32_t n = clamp_count(c->tick_samples);
        const int16_t *src = c->node_state[code - 20].output;
        if (src) std::memcpy(buf, src, size_t(n) * 2);
        return n;
    }
    return -1;
}

extern "C" int32_t mudo_get_active_channels(void) {
    int32_t mask = 0;
    for (int c = 0; c < MUDO_CHANNELS; c++)
        if (mixer.channels[c].track_on) mask |= 1 << c;
    return mask;
}

extern "C" int32_t mudo_get_music_state(int32_t which) {
    if (which == 0) return mixer.music_on ? mixer.music_pattern : -1;
    if (which == 1) {
        const mudo_channel_rec *c = get_leftmost_nonlooping_channel();
        return c ? c->index : 0;
    }
    return -1;
}
