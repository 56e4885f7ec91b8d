// The captures' reset and per-frame hooks, empty until screenshots, GIF recordings and audio
// captures exist (they replace this file).
#include "boot_hooks.h"
#include "host.h"

extern "C" void captures_reset(void) {}

extern "C" void update_gif_recording(const uint32_t *display_pal) { (void)display_pal; }

extern "C" void update_screenshot(const uint32_t *frame) { (void)frame; }
