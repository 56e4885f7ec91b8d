// The captures' reset, empty until screenshots, GIF recordings and audio
// captures exist (they replace this file).
#include "boot_hooks.h"

extern "C" void captures_reset(void) {}
