// The boot screen, colour tables and video out as start-up and the frame
// loop call them, empty until the graphics layer provides them (it replaces
// this file): no boot screen to reset, no tables to build, no frame to show.
#include "video_hooks.h"

extern "C" void boot_init(void) {}

extern "C" void init_default_coltabs(void) {}

extern "C" uint32_t *generate_video_out(int32_t *width, int32_t *height) {
    if (width) *width = 0;
    if (height) *height = 0;
    return nullptr;
}
