// Tracks: starting one on a channel (with the automatic channel choice and
// the four commands) and stepping it tick by tick and row by row.
#include "engine.h"
#include "mudo.h"

namespace {

int32_t clamp32(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

void release_note(mudo_channel_rec *chan) {
    mudo_set_note(chan->index, 255, 255, 255, 255, 255, 0, MUDO_KEEP_PAN);
}

void track_command(mudo_channel_rec *chan, int32_t track, int32_t start_row) {
    switch (track) {
    case -1: kill_channel(chan, 0); break;
    case -2: kill_channel(chan, 1); break;
    case -3: chan->loop_end = 0; break;
    case -4: chan->mix_vol = clamp32(start_row, 0, 255); break;
    default: break;
    }
}

bool music_bit(int c) { return (mixer.music_mask >> c) & 1; }

int32_t choose_channel(int32_t track) {
    choose_offset = (choose_offset + 1) & 15;
    int32_t o = choose_offset;
    for (int i = 0; i < 16; i++) {
        int c = (o + i) & 15;
        const mudo_channel_rec &ch = mixer.channels[c];
        if (!ch.music_owned && ch.track_on && ch.track == track) return c;
    }
    for (int i = 0; i < 8; i++) {
        int c = 8 + ((o + i) & 7);
        if (!music_bit(c) && !mixer.channels[c].track_on) return c;
    }
    for (int i = 0; i < 16; i++) {
        int c = (o - i) & 15;
        if (!music_bit(c)) return c;
    }
    return -1;
}

// Moves v by step toward target without passing it; a zero step stays.
int32_t slide_toward(int32_t v, int32_t step, int32_t target) {
    if (step > 0) {
        int64_t n = int64_t(v) + step;
        return n > target ? target : int32_t(n);
    }
    if (step < 0) {
        int64_t n = int64_t(v) + step;
        return n < target ? target : int32_t(n);
    }
    return v;
}

}  // namespace

extern "C" int32_t mudo_play_track(int32_t track, int32_t ch, int32_t start_row, int32_t rows, int32_t keep_state,
                                   int32_t pan, int32_t mix_vol, int32_t base) {
    if (track < 0) {
        if (ch == -1) {
            for (int c = 0; c < MUDO_CHANNELS; c++) track_command(&mixer.channels[c], track, start_row);
        } else {
            track_command(&mixer.channels[clamp32(ch, 0, 15)], track, start_row);
        }
        return -1;
    }
    if (ch == -1) {
        ch = choose_channel(track);
        if (ch < 0) return -1;
    } else if (uint32_t(ch) > 15u) {
        return -1;
    }
    mudo_channel_rec *chan = &mixer.channels[ch];
    if (!keep_state) {
        chan->inst = 255;
        chan->vol = 0;
        chan->pan = 0;
        chan->pitch = 48;
        chan->fine = 0;
        chan->slide_pitch = 48 * 65536;
        chan->gate = 0;
        chan->slide_vol = 0;
        chan->note_inst = 255;
    }
    chan->track_on = 1;
    chan->track = track;
    chan->base_addr = base;
    chan->track_addr = int32_t(uint32_t(track) * 328u + uint32_t(base) + 0x20000u);
    uint32_t a = uint32_t(chan->track_addr);
    int32_t L = ram_u16(a);
    chan->track_len = L ? L : 1;
    int32_t spd = ram_u8(a + 2);
    chan->speed = spd ? spd : 16;
    chan->loop_start = ram_u8(a + 3);
    chan->loop_end = ram_u8(a + 4);
    chan->delay = ram_u8(a + 5);
    chan->row = start_row;
    chan->row_tick = 0;
    chan->track_ticks = 0;
    chan->end_row = rows ? wadd32(start_row, rows) : 0;
    chan->play_len = (chan->loop_start && chan->loop_start >= chan->loop_end)
                         ? (chan->track_len < chan->loop_start ? chan->track_len : chan->loop_start)
                         : chan->track_len;
    if (pan != MUDO_KEEP_PAN) chan->pan = clamp32(pan, -128, 127);
    chan->mix_vol = clamp32(mix_vol, 0, 255);
    return ch;
}

void update_channel_track_tick(mudo_channel_rec *chan) {
    grab_node_tree(chan);
    if (!chan->track_on) return;
    int32_t r = chan->row;
    uint32_t row_addr = uint32_t(chan->track_addr) + 8u + uint32_t(r);
    uint32_t L = uint32_t(chan->track_len);
    int32_t col[5];
    for (uint32_t k = 0; k < 5; k++) col[k] = ram_u8(row_addr + k * L);
    auto note = [&](int32_t retrig) {
        mudo_set_note(chan->index, col[0], col[1], col[2], col[3], col[4], retrig, MUDO_KEEP_PAN);
    };
    if (chan->row_tick != 0) {
        if (chan->row_fx == 'd' && chan->row_tick == chan->row_fx_param)
            note(1);
        else if (chan->fx == 'r' && chan->fx_param > 0 && chan->row_tick % chan->fx_param == 0)
            note(1);
    } else if (chan->delay > 0) {
        chan->delay--;
    } else if (r < 0 || r >= chan->play_len) {
        release_note(chan);
        chan->row_fx = chan->row_fx_param = 0;
        if (r >= chan->play_len && chan->loop_start >= chan->loop_end) {
            release_note(chan);
            chan->track_on = 0;
        }
    } else {
        chan->row_fx = col[3];
        chan->row_fx_param = col[4];
        if (!(col[3] == 'd' && col[4] != 0)) note(0);
    }

    int32_t target_pitch = wmul32(chan->pitch, 65536), target_vol = wmul32(chan->vol, 65536);
    int32_t p = chan->fx_param;
    switch (chan->fx) {
    case 'c':
        if (chan->row_tick == p) {
            chan->inst = 255;
            grab_node_tree(chan);
            prepare_nodes_for_new_instrument(chan);
        }
        return;
    case '+': {
        int64_t v = int64_t(chan->slide_pitch) + int64_t(track_time(p ? p : 16)) * 128;
        chan->slide_pitch = int32_t(v > 0xFFFFFF ? 0xFFFFFF : v < INT32_MIN ? INT32_MIN : v);
        chan->slide_vol = target_vol;
        return;
    }
    case '-': {
        int64_t v = int64_t(chan->slide_pitch) - int64_t(track_time(p ? p : 240)) * 128;
        chan->slide_pitch = int32_t(v < 0 ? 0 : v > INT32_MAX ? INT32_MAX : v);
        chan->slide_vol = target_vol;
        return;
    }
    case 's':
    case 'f':
        if (chan->row_tick == 0) {
            if (p == 0) {
                int32_t speed = chan->speed > 0 ? chan->speed : 1;
                chan->slide_pitch_step = int32_t((int64_t(target_pitch) - chan->slide_pitch) / speed);
                chan->slide_vol_step = int32_t((int64_t(target_vol) - chan->slide_vol) / speed);
            } else {
                int32_t step = wmul32(track_time(p), 256);
                chan->slide_pitch_step = target_pitch >= chan->slide_pitch ? step : wsub32(0, step);
                chan->slide_vol_step = target_vol >= chan->slide_vol ? step : wsub32(0, step);
            }
        }
        if (chan->fx == 's')
            chan->slide_pitch = slide_toward(chan->slide_pitch, chan->slide_pitch_step, target_pitch);
        else
            chan->slide_pitch = target_pitch;
        chan->slide_vol = slide_toward(chan->slide_vol, chan->slide_vol_step, target_vol);
        return;
    default:
        chan->slide_pitch = target_pitch;
        chan->slide_vol = target_vol;
        return;
    }
}

void advance_channel_track_row(mudo_channel_rec *chan) {
    if (!chan->track_on) return;
    chan->row_tick++;
    chan->track_ticks = wadd32(chan->track_ticks, 1);
    if (chan->row_tick < chan->speed) return;
    chan->row = wadd32(chan->row, 1);
    if (chan->end_row != 0 && chan->row == chan->end_row) {
        release_note(chan);
        chan->track_on = 0;
    }
    if (chan->row >= chan->loop_end && chan->loop_end > chan->loop_start) chan->row = chan->loop_start;
    chan->row_tick = 0;
}
