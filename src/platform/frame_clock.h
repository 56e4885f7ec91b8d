/*
** The system's clock and the frame pacing's view of it. os_get_time (in
** host.h) is SDL's 64-bit tick count. Pacing reads ticks and
** sleeps through two replaceable functions, which only tests and the
** benchmarks swap. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_FRAME_CLOCK_H
#define QUILLMAR_PLATFORM_FRAME_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The tick count the frame loop reads (SDL's unless replaced), in ms. */
uint64_t get_ticks(void);

/* Sleeps the calling thread for 'ms' milliseconds (SDL's delay unless
   replaced). */
void os_sleep(uint32_t ms);

/* Replaces the two functions above; a null argument restores SDL's. */
void frame_clock_set(uint64_t (*ticks)(void), void (*sleep_ms)(uint32_t));

#ifdef __cplusplus
}
#endif

#endif
