// The boot clock: milliseconds of boot time counted in frames.
#include "boot_screen.h"
#include "video_hooks.h"
#include "host.h"
#include "saturate.h"

// Milliseconds per frame of boot time.
inline constexpr double boot_ms_per_frame = 16.6;

// Callers compare the clock as a signed value: it stops at the largest one
// rather than wrapping back into the boot screen's range.
inline constexpr int64_t boot_time_max = INT32_MAX;

// The first reading with a non-zero frame count latches the start; a latch
// of 0 counts as not latched, so the clock starts on the first counted frame.
extern "C" uint32_t boot_get_time(void) {
    uint64_t f = app.frame_count;
    if (app.boot_start_frame == 0) app.boot_start_frame = f;
    double ms = static_cast<double>(f - app.boot_start_frame) * boot_ms_per_frame;
    int64_t t = saturate_double_to_i64(ms);
    return static_cast<uint32_t>(t < boot_time_max ? t : boot_time_max);
}

extern "C" void boot_init(void) {
    app.boot_start_frame = 0;
}
