// The system clock: SDL's 64-bit tick count. Apart from the
// frame clock, so that code reading the frame's ticks does not bring this
// definition along where a test supplies its own clock.
#include "host.h"
#include "sdl_seam.h"

extern "C" int64_t os_get_time(void) { return static_cast<int64_t>(sdl_seam_ticks()); }
