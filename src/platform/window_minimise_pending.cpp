// Minimising the window, empty until the window layer exists (it replaces
// this file). Apart from window_pending.cpp so that host-opening tests can
// record the call while the settings code links the window's other services.
#include "host_open.h"

extern "C" void os_minimise_window(void) {}
