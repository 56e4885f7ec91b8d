/*
** The mixer's entry point for the audio device. C linkage.
*/
#ifndef QUILLMAR_MUDO_MUDO_MIX_H
#define QUILLMAR_MUDO_MUDO_MIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Renders 'frames' (at most 8192) interleaved signed 16-bit stereo sample
   frames at 44100 Hz into 'out'; called on SDL's audio thread. */
void mudo_mix(int16_t *out, int32_t frames);

#ifdef __cplusplus
}
#endif

#endif
