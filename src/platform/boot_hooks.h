/*
** What start-up, the frame loop and the exit path call in subsystems that
** fill them in later: the boot screen and colour tables, video out, the
** mixer, the window, the platform start and event pump, sockets and
** captures. Each has an empty (or headless) body until its subsystem
** provides the real one. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_BOOT_HOOKS_H
#define QUILLMAR_PLATFORM_BOOT_HOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- graphics ---- */

/* Resets the boot screen's start marker; every (re)boot. */
void boot_init(void);

/* Builds the default colour tables and palettes; every (re)boot. */
void init_default_coltabs(void);

/* Converts process 3's display (or the boot screen) into a 480 x 270 frame
   of 0x00RRGGBB pixels and returns it with its size, or null when no new
   frame is to be shown. Never called when headless. */
uint32_t *generate_video_out(int32_t *width, int32_t *height);

/* ---- audio engine ---- */

/* Initialises the mixer; only the first call of a run does anything. */
void mudo_init(void);

/* Renders 'frames' (at most 8192) interleaved signed 16-bit stereo sample
   frames at 44100 Hz into 'out'; called on SDL's audio thread. */
void mudo_mix(int16_t *out, int32_t frames);

/* ---- window ---- */

/* Presents a frame of 'width' pixels per row in the window. */
void blit_to_sdl_window_hardware(const uint32_t *frame, int32_t width);

/* ---- platform start and event pump ---- */

/* Starts the platform layer; the first frame calls it once per run. */
void os_system_init(void);

/* Turns every pending host event into what the system acts on. */
void handle_sdl_messages(void);

/* ---- sockets ---- */

/* Once, on the first frame. */
void sockets_init(void);

/* On the exit path, after every socket is closed. */
void sockets_exit(void);

/* ---- captures ---- */

/* Stops any running capture and releases its buffers; called by every
   (re)boot before the application state is zeroed. */
void captures_reset(void);

#ifdef __cplusplus
}
#endif

#endif
