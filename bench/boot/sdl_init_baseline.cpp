// The baseline of the exec-to-first-frame benchmark: a program linked with
// the host's libraries that starts every SDL subsystem one at a time and
// opens the audio device as the platform start does, then prints a line.
#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace {
void silence(void *, Uint8 *stream, int len) { memset(stream, 0, size_t(len)); }
}  // namespace

int main() {
    const Uint32 subsystems[] = {SDL_INIT_EVENTS,   SDL_INIT_TIMER,  SDL_INIT_VIDEO,          SDL_INIT_AUDIO,
                                 SDL_INIT_JOYSTICK, SDL_INIT_HAPTIC, SDL_INIT_GAMECONTROLLER, SDL_INIT_SENSOR};
    for (Uint32 s : subsystems) SDL_InitSubSystem(s);
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 512;
    want.callback = silence;
    const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (dev) SDL_PauseAudioDevice(dev, 0);
    printf("sdl: ready\n");
    fflush(stdout);
    if (dev) SDL_CloseAudioDevice(dev);
    return 0;
}
