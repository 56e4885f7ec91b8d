// The platform start: SDL's subsystems one by one, hints, controllers, the
// key table and the audio device.
#include <cstdio>

#include "app_state.h"
#include "audio_device.h"
#include "boot_hooks.h"
#include "controllers.h"
#include "event_pump.h"
#include "host.h"
#include "window.h"

namespace {

// In this order; each is started alone so that one failing (no display, no
// sound card) leaves the others, the event subsystem above all, running.
constexpr Uint32 kSubsystems[] = {
    SDL_INIT_EVENTS,   SDL_INIT_TIMER,   SDL_INIT_VIDEO,          SDL_INIT_AUDIO,
    SDL_INIT_JOYSTICK, SDL_INIT_HAPTIC, SDL_INIT_GAMECONTROLLER, SDL_INIT_SENSOR,
};

}  // namespace

extern "C" void os_system_init(void) {
    sdl.SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    snprintf(sdl_window_title, sizeof sdl_window_title, "%s", "Quillmar");
    bool audio_ok = true;
    char audio_error[512] = "";  // SDL's text, before later calls replace it
    for (Uint32 s : kSubsystems) {
        if (sdl.InitSubSystem(s) == 0) continue;
        if (s == SDL_INIT_AUDIO) {
            audio_ok = false;
            snprintf(audio_error, sizeof audio_error, "%s", sdl.GetError());
        }
        char line[600];
        snprintf(line, sizeof line, "** SDL_Init failed: %s\n", sdl.GetError());
        codo_debug(line);
    }
    codo_joystick_init();
    if (config.sdl_render_driver == 1) sdl.SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
    event_pump_reset();
    if (audio_ok) audio_device_open();
    else audio_init_failed(audio_error);
}
