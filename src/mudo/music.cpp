// Music: patterns of up to eight tracks on channels 0..7, the advance from
// one pattern to the next, stopping, and fades of the music volume.
#include "engine.h"
#include "mudo.h"

namespace {

uint32_t pattern_addr(int32_t p) { return uint32_t(mixer.music_base) + 0x100u + uint32_t(p) * 20u; }

// The advance looks back at most this many patterns for a loop start.
constexpr int32_t LOOP_SEARCH_LIMIT = 256;

}  // namespace

int32_t ms_to_ticks(int32_t ms) {
    int64_t t = int64_t(ms) * 120 / 1000;
    if (ms >= 1 && t == 0) t = 1;
    return int32_t(t);
}

mudo_channel_rec *get_leftmost_nonlooping_channel() {
    for (int c = 0; c < 8; c++) {
        mudo_channel_rec *ch = &mixer.channels[c];
        if (ch->track_on && ((mixer.music_mask >> c) & 1) && ch->loop_start >= ch->loop_end) return ch;
    }
    return nullptr;
}

int32_t calc_pattern_ticks_to_play() {
    mudo_channel_rec *ch = get_leftmost_nonlooping_channel();
    if (!ch) return 0x7fffffff;
    int64_t speed = ch->speed < 2 ? 1 : ch->speed;
    int64_t t = speed * ch->play_len;
    return t > 0x7fffffff ? 0x7fffffff : t < INT32_MIN ? INT32_MIN : int32_t(t);
}

extern "C" void mudo_play_pattern(int32_t p) {
    if (p < 0) return;
    uint32_t a = pattern_addr(p);
    uint8_t enable = ram_u8(a + 9);
    mixer.music_on = 1;
    mixer.music_pattern = p;
    int32_t owned[MUDO_CHANNELS];
    for (int c = 0; c < MUDO_CHANNELS; c++) {
        owned[c] = mixer.channels[c].music_owned;
        mixer.channels[c].music_owned = 0;
    }
    for (int c = 0; c < 8; c++) {
        if (!((mixer.music_mask >> c) & 1)) continue;
        mudo_channel_rec *ch = &mixer.channels[c];
        if ((enable >> c) & 1) {
            mudo_play_track(ram_u8(a + uint32_t(c)), c, 0, 0, owned[c], MUDO_KEEP_PAN, 64, mixer.music_base);
            ch->music_owned = 1;
        } else {
            kill_channel(ch, 0);
        }
    }
    int32_t ticks = calc_pattern_ticks_to_play();
    for (int c = 0; c < 8; c++)
        if (mixer.channels[c].music_owned) mixer.channels[c].pattern_ticks_left = ticks;
}

extern "C" void mudo_play_music(int32_t pattern, int32_t fade_ms, int32_t mask, int32_t base) {
    mixer.music_mask = mask;
    mixer.music_on = 1;
    mixer.music_pattern = pattern;
    mixer.music_base = base;
    mudo_play_pattern(pattern);
    if (fade_ms < 1) {
        mixer.fade_ticks = 0;
        mixer.music_vol = 256;
        return;
    }
    mixer.fade_pos = 0;
    mixer.fade_from = mixer.fade_ticks != 0 ? mixer.music_vol : 0;
    mixer.fade_to = 256;
    mixer.fade_ticks = ms_to_ticks(fade_ms);
    mixer.music_vol = mixer.fade_from;
}

// The part of the current tick already rendered still plays; it keeps the
// gain it had as music, so that a silent (faded) tune does not sound out.
void end_music_ownership(mudo_channel_rec *chan) {
    if (chan->tick_pos < chan->tick_len && !chan->gain_held) {
        chan->held_gain = channel_gain(chan);
        chan->gain_held = 1;
    }
    chan->music_owned = 0;
    chan->pattern_ticks_left = 0;
}

extern "C" void mudo_stop_music(void) {
    for (int c = 0; c < 8; c++) {
        mudo_channel_rec *ch = &mixer.channels[c];
        if (!ch->music_owned) continue;
        kill_channel(ch, 1);
        end_music_ownership(ch);
    }
    mixer.music_mask = mixer.music_on = mixer.music_pattern = 0;
}

extern "C" void mudo_fade_out_music(int32_t ms) {
    if (ms == 0) {
        mudo_stop_music();  // first: the channels keep the gain they had
        mixer.fade_ticks = 0;
        mixer.music_vol = 0;
        return;
    }
    mixer.fade_from = mixer.fade_ticks != 0 ? mixer.music_vol : 256;
    mixer.fade_to = 0;
    mixer.fade_pos = 0;
    mixer.fade_ticks = ms_to_ticks(ms);
    mixer.music_vol = mixer.fade_from;
}

void advance_pattern() {
    if (!mixer.music_on) return;
    int32_t p = mixer.music_pattern;
    if (p < 0) {
        mudo_stop_music();
        return;
    }
    uint8_t F = ram_u8(pattern_addr(p) + 8);
    if (F & 4) {
        mudo_stop_music();
    } else if (F & 2) {
        if ((F & 1) || p <= 0) {
            mudo_play_pattern(p);
        } else {
            int32_t q = 0;
            int32_t lowest = p - LOOP_SEARCH_LIMIT > 0 ? p - LOOP_SEARCH_LIMIT : 0;
            for (int32_t k = p - 1; k >= lowest; k--) {
                if (ram_u8(pattern_addr(k) + 8) & 1) {
                    q = k;
                    break;
                }
            }
            mixer.music_pattern = q;
            mudo_play_pattern(q);
        }
    } else if (p == 255) {
        mudo_stop_music();
    } else {
        mixer.music_pattern = wadd32(p, 1);
        mudo_play_pattern(mixer.music_pattern);
    }
}

void mudo_update_fade_tick() {
    if (mixer.fade_ticks == 0) return;
    int64_t v = mixer.fade_from + (int64_t(mixer.fade_to) - mixer.fade_from) * mixer.fade_pos / mixer.fade_ticks;
    mixer.music_vol = int32_t(v < 0 ? 0 : v > 256 ? 256 : v);
    mixer.fade_pos++;
    if (mixer.fade_pos >= mixer.fade_ticks) {
        mixer.fade_ticks = 0;
        mixer.music_vol = mixer.fade_to;
    }
}
