// The baseline of the exec-to-first-frame benchmark: a program linked with
// the host's libraries that starts SDL's event subsystem and prints a line.
#include <SDL.h>

#include <cstdio>

int main() {
    SDL_Init(SDL_INIT_EVENTS);
    printf("sdl: ready\n");
    fflush(stdout);
    return 0;
}
