// The window's services, empty until the window layer exists (it replaces
// this file).
#include "boot_hooks.h"
#include "host_open.h"
#include "settings.h"

extern "C" void os_apply_video_config(void) {}

// No window yet: every frame is dropped.
extern "C" void blit_to_sdl_window_hardware(const uint32_t *frame, int32_t width) {
    (void)frame;
    (void)width;
}
