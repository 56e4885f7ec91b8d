// The window calls of the script API, empty until the window layer exists
// (it replaces this file). Kept apart from window_pending.cpp so that a test
// faking the window's other services can still link these.
#include "host_services.h"

extern "C" void os_warp_mouse_pointer(int32_t x, int32_t y) {
    (void)x;
    (void)y;
}

extern "C" void os_set_window_icon(const uint8_t *pixels, int32_t width, int32_t height,
                                   const uint32_t *palette) {
    (void)pixels; (void)width; (void)height; (void)palette;
}

extern "C" void os_set_window_title(const char *title) { (void)title; }
