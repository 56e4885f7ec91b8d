/*
** What start-up, the frame loop and the exit path call in subsystems that
** fill them in later: the boot screen and colour tables, video out and the
** mixer (declared by their own folders), the window, the platform start and
** event pump, sockets and captures. Each has an empty (or headless) body
** until its subsystem provides the real one. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_BOOT_HOOKS_H
#define QUILLMAR_PLATFORM_BOOT_HOOKS_H

#include <stdint.h>

#include "mudo_init.h"    /* mudo_init */
#include "video_hooks.h"  /* boot_init, init_default_coltabs, generate_video_out */

#ifdef __cplusplus
extern "C" {
#endif

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
