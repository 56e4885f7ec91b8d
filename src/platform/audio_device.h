/*
** The audio device: the callback that feeds it from the mixer (and the
** audio capture), its opening at platform start and closing at exit, and
** the nesting audio lock over it.
*/
#ifndef QUILLMAR_PLATFORM_AUDIO_DEVICE_H
#define QUILLMAR_PLATFORM_AUDIO_DEVICE_H

#include <stdint.h>

#include "sdl_seam.h"

inline constexpr int AUDIO_RATE = 44100;
inline constexpr int AUDIO_CHANNELS = 2;
inline constexpr int AUDIO_BUFFER_FRAMES = 512;
inline constexpr int AUDIO_FRAME_BYTES = 4;  // signed 16-bit stereo

/* The mixer renders at most this many frames per call. */
inline constexpr int32_t MIX_CHUNK_FRAMES = 4096;

extern SDL_AudioDeviceID audio_device;  // 0 while no device is open
extern uint32_t lock_level;             // nesting depth of the audio lock

/* SDL's callback: fills 'length' bytes of 'stream' from the mixer and
   appends them to the capture buffer while a capture runs. */
extern "C" void sdl2_mixer_callback(void *userdata, Uint8 *stream, int length);

/* Opens the device (44100 Hz, s16 stereo, 512 frames) and starts it; on
   failure prints and logs "** audio init failed" and SDL's text. Returns
   1 when the device plays. */
int audio_device_open(void);

/* Prints "** audio init failed" and SDL's text 'error', and logs them. */
void audio_init_failed(const char *error);

/* Releases every audio-lock level still held, then closes the device. */
void audio_device_close(void);

/* Replaces the mixer the callback calls (tests); null restores mudo_mix. */
void audio_device_set_mixer(int32_t (*mix)(int16_t *out, int32_t frames));

#endif
