// The SDL calls of the frame clock and the headless platform start.
#include "sdl_seam.h"

#include <SDL.h>

#include <cstdio>

extern "C" uint32_t sdl_seam_ticks(void) { return SDL_GetTicks(); }

extern "C" void sdl_seam_delay(uint32_t ms) { SDL_Delay(ms); }

extern "C" int sdl_seam_start_events(char *error, size_t size) {
    if (SDL_Init(SDL_INIT_EVENTS | SDL_INIT_TIMER) == 0) return 0;
    if (error && size) snprintf(error, size, "%s", SDL_GetError());
    return -1;
}

extern "C" int sdl_seam_drain_events(void) {
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
    int quits = 0;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_QUIT) quits++;
    }
    return quits;
}
