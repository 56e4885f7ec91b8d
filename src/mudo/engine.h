// The engine's internal calls, shared between its files. Everything here
// runs with the audio device excluded.
#pragma once

#include <cstdint>

#include "mixer_state.h"

// ---- tables ----
extern const int64_t mudo_note_dx[13];
extern const uint32_t stereo_contrib[256];
extern const uint32_t vib_mag[16], trem_mag[16], vib_spd[16], fade_spd[16];
int is_mval_signed(int kind, int m);
void build_gain_tri();

// ---- time codes ----
int32_t get_env_duration(int32_t code);
int32_t get_channel_spd(const mudo_channel_rec *chan);
int32_t get_spd(int32_t code, const mudo_channel_rec *chan);

// ---- the engine's random generator ----
uint64_t mudo_rand();

// ---- parameters and envelopes ----
int64_t evaluate_envelope(uint32_t address, int32_t t, const mudo_channel_rec *chan, int64_t held);
int64_t evaluate_envelope_adsr(uint32_t address, int32_t t, const mudo_channel_rec *chan, int64_t held);
int64_t evaluate_envelope_lfo(uint32_t address, int32_t t, const mudo_channel_rec *chan);
int64_t evaluate_envelope_data(uint32_t address, int32_t t, const mudo_channel_rec *chan);
uint32_t mval_envelope_addr(const mudo_channel_rec *chan, uint32_t mval);
int32_t eval_mval(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval, int64_t base);
int64_t evaluate_mval2(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval, int64_t b, int64_t a);
void advance_env_clock(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval);
void retrigger_mval_env_tick(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval);

// ---- oscillator and buffer ops ----
extern "C" uint64_t mudo_get_dx_for_note(int32_t pitch, int32_t fine);
void render_node_tick_osc(mudo_node_rec *node, int32_t n);
void render_node_tick(mudo_node_rec *node, int32_t unused, int32_t n);
void add_buffer(int16_t *dst, const int16_t *src, int32_t n);
void mul_buffer(int16_t *dst, const int16_t *src, int32_t n, int32_t shift);
void xor_buffer(int16_t *dst, const int16_t *src, int32_t n);
void or_buffer(int16_t *dst, const int16_t *src, int32_t n);
void add_buffer_split(int16_t *left, int16_t *right, uint32_t gl, uint32_t gr, const int16_t *src, int32_t n);
void mul_buffer_split(int16_t *left, int16_t *right, uint32_t gl, uint32_t gr, const int16_t *src, int32_t n,
                      int32_t shift);
void xor_buffer_split(int16_t *left, int16_t *right, uint32_t gl, uint32_t gr, const int16_t *src, int32_t n);
void or_buffer_split(int16_t *left, int16_t *right, uint32_t gl, uint32_t gr, const int16_t *src, int32_t n);
void get_stereo_contributions(int32_t pan, uint32_t *left, uint32_t *right);

// ---- effects ----
void apply_fx_filter(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n);
void apply_fx_filter_pair(mudo_node_rec *parent_a, mudo_node_rec *fx_a, mudo_node_rec *parent_b,
                          mudo_node_rec *fx_b, int32_t n);
void apply_fx_echo(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n);
void apply_fx_gain(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n);
void apply_fx_node(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n);

// ---- channels ----
void bind_node_outputs(mudo_channel_rec *chan, int32_t record);
void grab_node_tree(mudo_channel_rec *chan);
void prepare_nodes_for_new_instrument(mudo_channel_rec *chan);
void evaluate_channel_node_parameters(mudo_channel_rec *chan);
void render_channel_tick(mudo_channel_rec *chan, int32_t n);
void kill_channel(mudo_channel_rec *chan, int reset);
void reset_channel_state(mudo_channel_rec *chan);

// ---- tracks and music ----
int32_t track_time(int32_t v);  // the time-code conversion, unbounded input
void update_channel_track_tick(mudo_channel_rec *chan);
void advance_channel_track_row(mudo_channel_rec *chan);
int32_t ms_to_ticks(int32_t ms);
void advance_pattern();
mudo_channel_rec *get_leftmost_nonlooping_channel();
int32_t calc_pattern_ticks_to_play();
void end_music_ownership(mudo_channel_rec *chan);
void mudo_update_fade_tick();

// ---- mixing ----
// The gain G of 'chan' from 0x5538, its mix volume and, for music, 0x5539
// and the music volume; 256 is unity.
int32_t channel_gain(const mudo_channel_rec *chan);
int32_t mix_channel(mudo_channel_rec *chan, int32_t n, int16_t *dst);
