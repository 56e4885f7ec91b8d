// The window's services, empty until the window layer exists (it replaces
// this file).
#include "host_open.h"
#include "settings.h"

extern "C" void os_apply_video_config(void) {}

extern "C" void os_minimise_window(void) {}
