/*
** The audio engine's calls: what the bracket, the script API, the state
** queries, the settings and the audio device use. C linkage. Every call but
** mudo_init, mudo_set_volume, mudo_set_stereo_swap and mudo_kill_all_audio
** expects the audio device excluded (the caller holds the audio lock, or is
** the device's own thread in mudo_mix).
*/
#ifndef QUILLMAR_MUDO_MUDO_H
#define QUILLMAR_MUDO_MUDO_H

#include <stdint.h>

#include "mudo_init.h" /* mudo_init: once per run, before the device opens */

#ifdef __cplusplus
extern "C" {
#endif

/* Renders 'frames' interleaved signed 16-bit stereo frames at 44100 Hz into
   'out'. Requests above 8192 frames are served 8192 at a time. Returns 0. */
int32_t mudo_mix(int16_t *out, int32_t frames);

/* The mixer's copy of the audio-focus process's memory. The caller keeps
   offset .. offset + n inside 0..0x1000000. */
void mudo_memcpy(uint32_t offset, const void *src, uint32_t n);
void mudo_memset(uint32_t offset, int32_t byte, uint32_t n);

/* Master volume 0..256 (clamped; 0 is silence, any other value plays
   unscaled) and the left/right exchange. Made without the audio lock. */
void mudo_set_volume(int32_t volume);
void mudo_set_stereo_swap(int32_t flag);

/* Resets every channel and stops the music; takes one audio-lock level
   itself. */
void mudo_kill_all_audio(void);

/* A note on channel ch (-1: every channel and the music stop). 255 in pitch,
   inst, vol or fx keeps that value (pitch 255 releases the note); pan
   0x7fffffff keeps the pan. */
void mudo_set_note(int32_t ch, int32_t pitch, int32_t inst, int32_t vol, int32_t fx,
                   int32_t param, int32_t retrig, int32_t pan);
void mudo_set_channel_mix_vol(int32_t ch, int32_t v);
void mudo_set_channel_base_addr(int32_t ch, int32_t addr);

/* Starts a track (track >= 0) on channel ch (-1 chooses one) and returns the
   channel, or -1; tracks -1..-4 are the stop, kill, end-loops and mix-volume
   commands. */
int32_t mudo_play_track(int32_t track, int32_t ch, int32_t start_row, int32_t rows,
                        int32_t keep_state, int32_t pan, int32_t mix_vol, int32_t base);

/* Music: patterns at base + 0x100 + p * 20. */
void mudo_play_music(int32_t pattern, int32_t fade_ms, int32_t mask, int32_t base);
void mudo_fade_out_music(int32_t ms);
void mudo_play_pattern(int32_t p);
void mudo_stop_music(void);

/* State queries. */
int32_t mudo_get_channel_state(int32_t ch, int32_t code, uint8_t *buf);
int32_t mudo_get_active_channels(void);
int32_t mudo_get_music_state(int32_t which);

/* The audio bracket: 0 with one audio-lock level held for audio_op_end, or
   1 without it. 'pid' 0 means the current audio focus. */
int audio_op_start(int64_t pid, int32_t force);
void audio_op_end(void);

#ifdef __cplusplus
}
#endif

#endif
