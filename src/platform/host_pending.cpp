// Platform services the runtime calls, ahead of the platform layer proper:
// each definition here goes when the layer that owns it arrives. The
// mouse-lock and host-call hooks are empty until the window and input layers
// exist; the audio lock has no device to guard yet.
#include "boot_hooks.h"
#include "host.h"

namespace {
int audio_lock_level = 0;  // nesting level of os_lock_audio
}

extern "C" void os_lock_audio(void) { audio_lock_level++; }

extern "C" void os_unlock_audio(void) { audio_lock_level--; }

extern "C" void os_lock_mouse_cursor(int32_t flags, int32_t event_sensitivity,
                                     int32_t move_sensitivity) {
    (void)flags; (void)event_sensitivity; (void)move_sensitivity;
}

extern "C" void os_add_public_c_functions(struct lua_State *L) { (void)L; }
