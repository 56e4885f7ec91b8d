/*
** The host program's only calls into SDL outside the window, audio and
** input layers: the tick clock, the delay, starting the event subsystem and
** draining its queue. Everything above it is testable without a display.
** C linkage.
*/
#ifndef QUILLMAR_PLATFORM_SDL_SEAM_H
#define QUILLMAR_PLATFORM_SDL_SEAM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* SDL's millisecond tick count (valid before SDL is started; wraps at 2^32). */
uint32_t sdl_seam_ticks(void);

/* Sleeps the calling thread for 'ms' milliseconds. */
void sdl_seam_delay(uint32_t ms);

/*
** Starts SDL's event and timer subsystems, which also turns SIGINT and
** SIGTERM into SDL's quit event. Returns 0, or -1 with SDL's error text
** copied into 'error' ('size' bytes, NUL-terminated).
*/
int sdl_seam_start_events(char *error, size_t size);

/* Removes every pending event; returns how many of them were quit events.
   Nothing when the event subsystem is not running. */
int sdl_seam_drain_events(void);

#ifdef __cplusplus
}
#endif

#endif
