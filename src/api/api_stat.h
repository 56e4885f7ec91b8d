/*
** Limits of the statistics call that its tests share.
*/
#ifndef QUILLMAR_API_API_STAT_H
#define QUILLMAR_API_API_STAT_H

#include <stdint.h>

/* Samples the mixer may copy for one query: 256 KB of int16. */
inline constexpr int64_t AUDIO_DAT_SAMPLES = 131072;

#endif
