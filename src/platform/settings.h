/*
** Settings from the user-land: the key table over `config`, and applying
** the display and sound settings to the host. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_SETTINGS_H
#define QUILLMAR_PLATFORM_SETTINGS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The video hash last applied; all bits set until the first apply, so the
   first quillmar_apply_settings always configures the window. */
extern uint32_t video_hash0;

/* The 6-bit hash of the display settings that need a new window: bit 0
   fullscreen, 1 pixel_perfect, 2 allow_highdpi, 3 stretch,
   4 fullscreen_window, 5 blit_720p (each 0 or 1). */
uint32_t settings_video_hash(void);

/*
** Stores setting 'key' in `config`: the on/off settings as 0 or 1, volume
** and deadzone clamped to 0..256, pixel_scale and sdl_render_driver as
** given; an unknown or null key changes nothing. Returns 1 when "anywhen"
** went from 0 to on (the caller raises the history event), else 0.
*/
int settings_store(const char *key, int32_t value);

/* settings_store, then the history event when "anywhen" was turned on. */
void quillmar_apply_setting(const char *key, int32_t value);

/*
** Applies the stored settings: a new window (os_apply_video_config) when
** the video hash differs from video_hash0, then the mixer's volume (0 when
** muted) and stereo swap.
*/
void quillmar_apply_settings(void);

/* ---- what applying calls; empty until the window and the mixer exist ---- */

/* (Re-)creates the window, renderer and texture from `config`. */
void os_apply_video_config(void);

/* The mixer's master volume, 0..256. */
void mudo_set_volume(int32_t volume);

/* Non-zero exchanges the mixer's left and right outputs. */
void mudo_set_stereo_swap(int32_t flag);

#ifdef __cplusplus
}
#endif

#endif
