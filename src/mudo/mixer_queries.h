/*
** What the mixer reports to the script API's state queries. Every call is
** made inside the audio bracket (audio_op_start .. audio_op_end). C linkage.
*/
#ifndef QUILLMAR_MUDO_MIXER_QUERIES_H
#define QUILLMAR_MUDO_MIXER_QUERIES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
** Field 'field' of channel 'channel' (0..15): fields 0..15 the channel's
** state (-1 for fields 1..15 of a silent channel without a track), 16..18
** give -1. Field 19 copies the channel's last tick of stereo int16 output to
** 'dest' and returns its frame count (at most 32768); fields 20..27 copy
** node output 'field' - 20 (mono int16) and return the sample count.
** Channel -1 with field -1 copies the last mixed output (stereo) and
** returns its frame count. Anything else gives -1.
*/
int32_t mudo_get_channel_state(int32_t channel, int32_t field, uint8_t *dest);

/* Bit c set for each of the 16 channels that is playing. */
int32_t mudo_get_active_channels(void);

/* (0) the playing pattern, or -1 when no music plays; (1) the leftmost
   music channel whose track does not loop, 0 when none. */
int32_t mudo_get_music_state(int32_t which);

#ifdef __cplusplus
}
#endif

#endif
