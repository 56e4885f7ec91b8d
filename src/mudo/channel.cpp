// Channels: the note call, unpacking an instrument into node states, the
// per-tick parameter pass and the rendering of one tick.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "engine.h"
#include "mudo.h"

namespace {

constexpr int32_t DEFAULT_INST = 255, DEFAULT_VOL = 0, DEFAULT_PAN = 0, DEFAULT_PITCH = 48;

inline uint32_t node_mval(const mudo_node_rec *node, int m) { return ram_u32(uint32_t(node->addr) + 4u + uint32_t(m) * 4u); }

inline bool channel_ok(int32_t ch) { return uint32_t(ch) < uint32_t(MUDO_CHANNELS); }

void release_note(mudo_channel_rec *chan) {
    mudo_set_note(chan->index, 255, 255, 255, 255, 255, 0, MUDO_KEEP_PAN);
}

int32_t clamp32(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

void bind_node_outputs(mudo_channel_rec *chan, int32_t record) {
    for (int k = 0; k < MUDO_MAX_CHANNEL_NODES; k++)
        chan->node_state[k].output = mixer.node_output[record * MUDO_MAX_CHANNEL_NODES + k];
}

void reset_channel_state(mudo_channel_rec *chan) {
    chan->fine = 0;
    chan->slide_pitch = DEFAULT_PITCH * 65536;
    chan->gate = 0;
    chan->slide_vol = 0;
    chan->note_inst = 255;
    chan->inst = DEFAULT_INST;
    chan->vol = DEFAULT_VOL;
    chan->pan = DEFAULT_PAN;
    chan->pitch = DEFAULT_PITCH;
}

void kill_channel(mudo_channel_rec *chan, int reset) {
    release_note(chan);
    chan->track_on = 0;
    if (!reset) return;
    reset_channel_state(chan);
    grab_node_tree(chan);
    prepare_nodes_for_new_instrument(chan);
}

void grab_node_tree(mudo_channel_rec *chan) {
    chan->tree_depth = 0;
    if (chan->inst == 255) {
        for (int n = 0; n < 8; n++) chan->node_state[n].kind = 0;
        return;
    }
    uint32_t A = uint32_t(chan->inst) * 512u + uint32_t(chan->base_addr) + 0x10000u;
    chan->inst_flags = ram_u8(A + 479);
    chan->wide = chan->inst_flags & 2;
    for (int n = 0; n < 8; n++) {
        mudo_node_rec *s = &chan->node_state[n];
        uint32_t a = A + uint32_t(n) * 32u;
        uint8_t b0 = ram_u8(a), b1 = ram_u8(a + 1);
        s->addr = int32_t(a);
        s->parent = b0 & 15;
        s->op = b0 >> 4;
        s->kind = b1 & 15;
        s->wave_slot = b1 >> 4;
        s->flags = ram_u8(a + 2);
        s->aux = ram_u8(a + 3);
        s->is_copy = 0;
        s->copy_index = -1;
        s->depth = n > s->parent ? chan->node_state[s->parent].depth + 1 : 0;
        if (s->depth > chan->tree_depth) chan->tree_depth = s->depth;
        if (s->kind == 2) {
            uint32_t D = A + 480 + (s->wave_slot & 3u) * 4u;
            s->wave_addr = int32_t(uint32_t(ram_u16(D)) * 256u);
            uint8_t lg = ram_u8(D + 2);
            s->wave_log2 = lg > 15 ? 15 : lg;
            s->wave_len = 1 << s->wave_log2;
            uint8_t cnt = ram_u8(D + 3);
            s->wave_count = cnt == 0 ? 256 : cnt;
        }
    }
    mudo_node_rec *st = &chan->node_state[STEREO_NODE_INDEX];
    std::memset(static_cast<void *>(st), 0, sizeof *st);
    st->output = mixer.node_output[chan->index * MUDO_MAX_CHANNEL_NODES + STEREO_NODE_INDEX];
    if (!chan->wide) return;
    for (int i = 0; i < 7; i++) {
        mudo_node_rec *src = &chan->node_state[i];
        if (src->depth != 1 || src->kind < 8 || src->is_copy) continue;
        for (int j = i + 1; j < 8; j++) {
            mudo_node_rec *dst = &chan->node_state[j];
            if (dst->kind != 0) continue;
            // The fields from addr through wave_count.
            std::memcpy(static_cast<void *>(dst), src, offsetof(mudo_node_rec, filt));
            dst->is_copy = 1;
            dst->parent = 8;
            src->copy_index = j;
            break;
        }
    }
}

void prepare_nodes_for_new_instrument(mudo_channel_rec *chan) {
    for (int k = 0; k < MUDO_MAX_CHANNEL_NODES; k++) {
        mudo_node_rec *s = &chan->node_state[k];
        s->echo_prev_delay = s->echo_prev_fb = -1;
        if (s->kind == 9 && s->output) {
            std::memset(s->output, 0, MUDO_NODE_SAMPLES * 2);
            int32_t slot = node_slot(s->output);
            if (slot >= 0) node_zeroed[slot] = MUDO_NODE_SAMPLES;
        }
        s->echo_pos = 0;
    }
}

extern "C" void mudo_set_note(int32_t ch, int32_t pitch, int32_t inst, int32_t vol, int32_t fx, int32_t param,
                              int32_t retrig, int32_t pan) {
    if (ch == -1) {
        for (int c = 0; c < MUDO_CHANNELS; c++) kill_channel(&mixer.channels[c], 1);
        for (int c = 0; c < 8; c++) {
            mudo_channel_rec *chan = &mixer.channels[c];
            if (!chan->music_owned) continue;
            kill_channel(chan, 1);
            end_music_ownership(chan);
        }
        mixer.music_mask = mixer.music_on = mixer.music_pattern = 0;
        return;
    }
    if (!channel_ok(ch)) return;
    mudo_channel_rec *chan = &mixer.channels[ch];
    chan->tick_samples = MUDO_TICK_SAMPLES;
    if (uint32_t(inst) > 255u) {
        kill_channel(chan, 1);
        return;
    }
    int32_t old_inst = chan->inst, old_pitch = chan->pitch, old_gate = chan->gate;
    chan->prev_vol = chan->vol;
    chan->prev_pan = chan->pan;
    chan->prev_pitch = chan->pitch;
    chan->prev_fine = chan->fine;
    chan->note_inst = inst;
    if (pitch != 255) chan->pitch = pitch;
    if (inst != 255) chan->inst = inst;
    if (vol != 255) chan->vol = vol;
    if (fx != 255) {
        chan->fx = fx;
        chan->fx_param = param;
    }
    if (chan->fx >= 49 && chan->fx <= 53) chan->fx = "sv-<>"[chan->fx - 49];
    chan->gate = pitch != 255;
    if (!chan->gate && old_gate) chan->release_ticks = 0;
    if (chan->gate && !old_gate) chan->held_ticks = 0;
    if (chan->inst != old_inst) {
        grab_node_tree(chan);
        prepare_nodes_for_new_instrument(chan);
    }
    if (!chan->track_on) {
        chan->slide_pitch = wmul32(chan->pitch, 65536);
        chan->slide_vol = wmul32(chan->vol, 65536);
    } else if (chan->row_tick == 0 && chan->fx != 's') {
        chan->slide_pitch = wmul32(chan->pitch, 65536);
        if (chan->fx != 'f') chan->slide_vol = wmul32(chan->vol, 65536);
    }
    bool keep = old_gate && (old_pitch == chan->pitch || chan->fx == 's' || chan->note_inst == 255) &&
                old_inst == chan->inst && (!(chan->inst_flags & 1) || chan->note_inst == 255) && retrig == 0 &&
                chan->fx != 'r';
    if (chan->gate && !keep) {
        chan->fine = 0;
        chan->vib_phase = 0;
        for (int n = 0; n < 8; n++) {
            mudo_node_rec *s = &chan->node_state[n];
            if (!(s->flags & 8)) s->phase = 0;
            for (int m = 0; m < 7; m++) {
                uint32_t mv = node_mval(s, m);
                if ((mv & 4) && !(mv & 8)) retrigger_mval_env_tick(chan, s, m, mv);
                s->rnd[m] = int32_t(mudo_rand() % 65280);
            }
        }
    }
    if (pan == MUDO_KEEP_PAN) {
        if (chan->fx == 'p') chan->pan = wsub32(chan->fx_param, 128);
    } else {
        chan->pan = clamp32(pan, -127, 127);
        if (chan->fx == 'p') chan->pan = wsub32(chan->fx_param, 128);
    }
}

extern "C" void mudo_set_channel_mix_vol(int32_t ch, int32_t v) {
    if (channel_ok(ch)) mixer.channels[ch].mix_vol = clamp32(v, 0, 255);
}

extern "C" void mudo_set_channel_base_addr(int32_t ch, int32_t addr) {
    if (channel_ok(ch)) mixer.channels[ch].base_addr = clamp32(addr, 0, 0xF00000);
}

// ---- the parameter pass ----

namespace {

int32_t vibrato_sine(uint32_t phase) {
    return int32_t(std::trunc(std::sin(((double(phase) * 3.141562) * 2) / 65536) * 65536));
}

void apply_effect_column(mudo_channel_rec *chan) {
    mudo_node_rec &r = root_node;
    int32_t V = chan->slide_vol, P = chan->fx_param;
    int32_t fx = chan->fx;
    bool tracked = chan->track_on != 0;
    int32_t speed = chan->speed > 0 ? chan->speed : 1;
    if ((fx == '<' || fx == '>') && tracked) {
        int32_t F = wmul32(chan->vol, 65536);
        int32_t base = wmul32((P >> 4) & 15, F) >> 4;
        int32_t step = (P & 15) ? wmul32(wmul32(chan->vol, int32_t(fade_spd[P & 15])), 256)
                                : int32_t(int64_t(wsub32(F, base)) / speed);
        int32_t moved = wmul32(step, chan->row_tick);
        if (fx == '<') {
            int32_t v = wadd32(moved, base);
            r.val[0] = F < v ? F : v;
        } else {
            int32_t v = wsub32(F, moved);
            r.val[0] = base > v ? base : v;
        }
        if (chan->row_tick == chan->speed - 1) {
            chan->vol = r.val[0] >> 16;
            chan->slide_vol = r.val[0];
        }
    } else if (fx == 't' || fx == 'v' || fx == 'w') {
        int32_t si = (P >> 4) & 15, di = P & 15;
        if (P == 0) si = 10, di = 6;
        int32_t s = vibrato_sine(chan->vib_phase);
        if (fx == 'v' || fx == 'w') r.val[3] = wadd32(r.val[3], wmul32(wmul32(int32_t(vib_mag[di]), s), 2));
        if (fx == 't' || fx == 'w') {
            int64_t trem = (int64_t(V >> 8) * (s >> 8) * int64_t(trem_mag[di])) / 256;
            r.val[0] = int32_t(uint32_t(uint64_t(trem) + uint32_t(V)));
        }
        if (si == 0)
            chan->vib_phase += uint32_t(65536 / (tracked ? speed : 16));
        else
            chan->vib_phase += vib_spd[si] * 256;
        chan->arp_step = chan->arp_ticks = 0;
    } else if ((fx == 'a' || fx == 'b') && tracked) {
        int32_t period = fx == 'a' ? 4 : 8;
        if (chan->speed < 9) period /= 2;
        if (P != 0) {
            if (chan->arp_step == 1) r.val[2] = wadd32(r.val[2], wmul32(P >> 4, 65536));
            if (chan->arp_step == 2) r.val[2] = wadd32(r.val[2], wmul32(P & 15, 65536));
            if (++chan->arp_ticks >= period) {
                chan->arp_ticks = 0;
                chan->arp_step = (chan->arp_step + 1) % 3;
            }
        } else {
            uint32_t a = uint32_t(chan->track_addr) + 8u + uint32_t(chan->row & ~3) +
                         uint32_t((chan->track_ticks / period) % 4);
            uint8_t p = ram_u8(a);
            if (p == 255) {
                r.val[0] = r.val[2] = 0;
            } else {
                r.val[2] = int32_t(p) * 65536;
            }
        }
    } else {
        chan->arp_step = chan->arp_ticks = 0;
    }
}

}  // namespace

void evaluate_channel_node_parameters(mudo_channel_rec *chan) {
    std::memset(static_cast<void *>(&root_node), 0, sizeof root_node);
    root_node.val[0] = chan->slide_vol;
    root_node.val[1] = wmul32(chan->pan, 65536);
    root_node.val[2] = ((chan->slide_pitch >> 16) & 0xFF) * 65536;
    root_node.val[3] = (chan->slide_pitch & 0xFFFF) * 256;
    root_node.ratio_num = root_node.ratio_den = 1;
    apply_effect_column(chan);
    for (int n = 0; n < 8; n++) {
        mudo_node_rec *s = &chan->node_state[n];
        if (s->kind == 0) continue;
        s->fm_input = nullptr;
        const mudo_node_rec *Q = n > s->parent ? &chan->node_state[s->parent] : &root_node;
        bool pitched = s->kind == 1 || s->kind == 2;
        if (pitched) {
            s->ratio_num = Q->ratio_num ? Q->ratio_num : 1;
            s->ratio_den = Q->ratio_den ? Q->ratio_den : 1;
        }
        for (int m = 0; m < 7; m++) {
            uint32_t mv = node_mval(s, m);
            int64_t base = Q->val[m];
            if (s->kind == 8 && m == 2) base = s->val[0];
            if (s->kind == 10 && m == 3) base = chan->node_state[0].val[0];
            if (pitched && m == 2 && (mv & 2)) {
                s->val[2] = int32_t(base);
                int64_t v = evaluate_mval2(chan, s, m, mv, uint8_t(mv >> 16), uint8_t(mv >> 8));
                int64_t q = v >> 16;
                if (q > 255) q = 255;
                if (q < 1) q = 0;
                uint32_t num = uint32_t(q & 15) + 1, den = uint32_t(q >> 4) + 1;
                uint8_t b3 = uint8_t(mv >> 24);
                if (b3 >= 64) {
                    uint32_t factor = (b3 & 64 ? 4u : 1u) * (b3 & 128 ? 16u : 1u);
                    if (b3 & 32)
                        den *= factor;
                    else
                        num *= factor;
                }
                s->ratio_num *= num;
                s->ratio_den *= den;
            } else {
                s->val[m] = eval_mval(chan, s, m, mv, base);
            }
            advance_env_clock(chan, s, m, mv);
        }
        if (pitched) {
            int64_t dx = int32_t(uint32_t(mudo_get_dx_for_note(s->val[2], s->val[3])));
            int64_t den = s->ratio_den ? s->ratio_den : 1;
            s->step = uint64_t((dx * int64_t(s->ratio_num)) / den);
        }
    }
}

// ---- one tick ----

namespace {

void combine_child(mudo_channel_rec *chan, mudo_node_rec *parent, int i, mudo_node_rec *child, int32_t n) {
    buffer_written(parent->output);
    if (i == 0 && chan->wide) {
        buffer_written(chan->node_state[STEREO_NODE_INDEX].output);
        uint32_t gl, gr;
        get_stereo_contributions(child->val[1] / 65536, &gl, &gr);
        int16_t *left = parent->output, *right = chan->node_state[STEREO_NODE_INDEX].output;
        switch (child->op) {
        case 0: add_buffer_split(left, right, gl, gr, child->output, n); break;
        case 2: mul_buffer_split(left, right, gl, gr, child->output, n, child->mul_shift); break;
        case 3: xor_buffer_split(left, right, gl, gr, child->output, n); break;
        case 4: or_buffer_split(left, right, gl, gr, child->output, n); break;
        default: break;
        }
        return;
    }
    switch (child->op) {
    case 0: add_buffer(parent->output, child->output, n); break;
    case 2: mul_buffer(parent->output, child->output, n, child->mul_shift); break;
    case 3: xor_buffer(parent->output, child->output, n); break;
    case 4: or_buffer(parent->output, child->output, n); break;
    default: break;
    }
}

void check_stereo_binding(mudo_channel_rec *chan) {
    int16_t *own = mixer.node_output[chan->index * MUDO_MAX_CHANNEL_NODES + STEREO_NODE_INDEX];
    if (chan->node_state[STEREO_NODE_INDEX].output == own) return;
    std::printf("\n** ASSERT failed: %s :: %s:%d in %s()\n\n",
                "chan->node_state[STEREO_NODE_INDEX].output == mixer.node_output[chan->index * "
                "MUDO_MAX_CHANNEL_NODES + STEREO_NODE_INDEX]",
                "mudo", 1802, "render_channel_tick");
    std::fflush(stdout);
    chan->node_state[STEREO_NODE_INDEX].output = own;
}

}  // namespace

void render_channel_tick(mudo_channel_rec *chan, int32_t n) {
    check_stereo_binding(chan);
    for (int k : {STEREO_NODE_INDEX, 0}) {
        int16_t *out = chan->node_state[k].output;
        int32_t slot = node_slot(out);
        if (slot >= 0 && node_zeroed[slot] >= n) continue;
        std::memset(out, 0, size_t(n) * 2);
        if (slot >= 0) node_zeroed[slot] = n;
    }
    bool echo = false;
    for (int i = 0; i < 8; i++) echo |= chan->node_state[i].kind == 9;
    for (int d = 7; d >= 0; d--) {
        for (int i = 0; i < 8; i++) {
            mudo_node_rec *s = &chan->node_state[i];
            if (s->depth != d) continue;
            mudo_node_rec *saved = &chan->saved_node_state[i];
            bool fade = echo && saved->addr == s->addr;
            if (fade) std::memcpy(node_ramp_buf, s->output, size_t(n) * 2);
            render_node_tick(s, 0, n);
            if (fade) {
                buffer_written(s->output);
                saved->output = node_ramp_buf;
                saved->fm_input = s->fm_input;
                int32_t k64 = n < 64 ? n : 64;
                if (saved->flags & 2 || saved->kind == 0)
                    std::memset(node_ramp_buf, 0, size_t(k64) * 2);
                else if (saved->kind == 2)
                    render_node_tick_osc(saved, k64);
                for (int32_t k = 0; k < k64; k++)
                    s->output[k] = int16_t(uint32_t((s->output[k] * k + node_ramp_buf[k] * (64 - k)) >> 6));
            }
            if (s->kind == 2 && s->op == 1 && s->parent < i) {
                chan->node_state[s->parent].fm_input = s->output;
                chan->node_state[s->parent].mul_shift = s->mul_shift;
            }
            for (int j = i + 1; j < 8; j++) {
                mudo_node_rec *c = &chan->node_state[j];
                if (c->parent != i || (c->flags & 2)) continue;
                if (c->kind == 2) {
                    combine_child(chan, s, i, c, n);
                } else if (c->kind >= 8 && c->kind <= 10) {
                    mudo_node_rec *right = &chan->node_state[STEREO_NODE_INDEX];
                    mudo_node_rec *copy = c->copy_index != -1 ? &chan->node_state[c->copy_index] : nullptr;
                    if (copy && c->kind == 8 && copy->kind == 8) {
                        apply_fx_filter_pair(s, c, right, copy, n);  // left and right side by side
                    } else {
                        apply_fx_node(s, c, n);
                        if (copy) apply_fx_node(right, copy, n);
                    }
                }
            }
        }
    }
    if (chan->gate)
        chan->held_ticks++;
    else
        chan->release_ticks++;
    // A ghost's saved states are replaced from its channel before it renders
    // again, so only audible channels keep them.
    if (chan->index < MUDO_CHANNELS)
        std::memcpy(static_cast<void *>(chan->saved_node_state), chan->node_state, sizeof chan->node_state);
}
