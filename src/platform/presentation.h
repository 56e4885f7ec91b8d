/*
** Presenting video out's 480 x 270 frames in the window: the enlargement
** by whole factors, the 3-to-8 resampling to 1280 x 720, the upload and the
** copy into the picture's rectangle.
*/
#ifndef QUILLMAR_PLATFORM_PRESENTATION_H
#define QUILLMAR_PLATFORM_PRESENTATION_H

#include <stdint.h>

/* Enlarges the 480 x 270 frame (row length 'width' pixels) into 'out', each
   pixel a scale x scale block; out's rows are 480 x scale pixels. */
void preblit_frame(const uint32_t *frame, int32_t width, int32_t scale, uint32_t *out);

/* Resamples the 480 x 270 frame (row length 'width') to 1280 x 720 into
   'out': every 3 pixels a, b, c of a row become a, a, 3/4 a + 1/4 b, b, b,
   1/2 b + 1/2 c, c, c, and the rows are then combined in the same pattern,
   each channel by per-byte shifts. */
void resample_720p(const uint32_t *frame, int32_t width, uint32_t *out);

/* Presents a frame; 'width' must be 480 (any other value drops it). */
extern "C" void blit_to_sdl_window_hardware(const uint32_t *frame, int32_t width);

/* The same as blit_to_sdl_window_hardware. */
extern "C" void blit_to_sdl_window(const uint32_t *frame, int32_t width);

#endif
