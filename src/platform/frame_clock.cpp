// The replaceable ticks and sleep of the frame pacing.
#include "frame_clock.h"

#include "host.h"
#include "sdl_seam.h"

namespace {
uint64_t (*clock_ticks)(void) = sdl_seam_ticks;      // what get_ticks reads
void (*clock_sleep)(uint32_t) = sdl_seam_delay;      // what os_sleep calls
}  // namespace

extern "C" uint64_t get_ticks(void) { return clock_ticks(); }

extern "C" void os_sleep(uint32_t ms) { clock_sleep(ms); }

extern "C" void frame_clock_set(uint64_t (*ticks)(void), void (*sleep_ms)(uint32_t)) {
    clock_ticks = ticks ? ticks : sdl_seam_ticks;
    clock_sleep = sleep_ms ? sleep_ms : sdl_seam_delay;
}
