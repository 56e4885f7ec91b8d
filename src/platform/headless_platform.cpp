// The platform start and event pump of a host without window, sound or
// input devices: SDL's event subsystem only, so that SIGINT and SIGTERM
// arrive as SDL's quit event, and a pump that turns that event into an exit
// request and drops every other one. The window and input layers replace
// this file.
#include <cstdio>

#include "app_state.h"
#include "boot_hooks.h"
#include "host.h"
#include "host_services.h"
#include "sdl_seam.h"

extern "C" void os_system_init(void) {
    char error[512];
    if (sdl_seam_start_events(error, sizeof error) != 0) {
        char line[600];
        snprintf(line, sizeof line, "** SDL_Init failed: %s\n", error);
        codo_debug(line);
    }
}

extern "C" void handle_sdl_messages(void) {
    if (sdl_seam_drain_events() > 0) app.exit_requested = 1;
}

// No keyboard and no controllers: nothing is ever down.
extern "C" int32_t os_key_state(int32_t scancode) {
    (void)scancode;
    return 0;
}

extern "C" const char *os_key_from_scancode(int32_t scancode) {
    (void)scancode;
    return nullptr;
}

extern "C" void os_get_button_states(int32_t player, uint8_t *out) {
    (void)player;
    (void)out;
}
