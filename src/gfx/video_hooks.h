/*
** The graphics entry points that start-up and the frame loop call: the
** boot screen's reset, the default colour tables and video out. C linkage.
*/
#ifndef QUILLMAR_GFX_VIDEO_HOOKS_H
#define QUILLMAR_GFX_VIDEO_HOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Resets the boot screen's start marker; every (re)boot. */
void boot_init(void);

/* Builds the default colour tables and palettes; every (re)boot. */
void init_default_coltabs(void);

/* Converts process 3's display (or the boot screen) into a 480 x 270 frame
   of 0x00RRGGBB pixels and returns it with its size, or null when no new
   frame is to be shown. Never called when headless. */
uint32_t *generate_video_out(int32_t *width, int32_t *height);

#ifdef __cplusplus
}
#endif

#endif
