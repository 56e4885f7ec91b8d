// The mixer's settings, empty until the audio engine provides them (it
// replaces this file).
#include "settings.h"

extern "C" void mudo_set_volume(int32_t volume) { (void)volume; }

extern "C" void mudo_set_stereo_swap(int32_t flag) { (void)flag; }
