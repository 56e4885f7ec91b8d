// The captures, empty until screenshots, GIF recordings and audio captures
// exist (they replace this file): nothing is armed, no recording opens, and
// an audio capture has nowhere to be stored.
#include "boot_hooks.h"
#include "host_services.h"

extern "C" void captures_reset(void) {}

extern "C" void request_screenshot(void) {}

extern "C" int32_t gif_start(void) { return 1; }

extern "C" int32_t gif_end(void) { return 0; }

extern "C" int32_t audio_capture_start(void) { return 0; }

extern "C" int32_t audio_capture_end(void) { return 1; }
