// The audio device, its callback and the nesting audio lock.
#include "audio_device.h"

#include <atomic>
#include <cassert>
#include <cstdio>

#include "app_state.h"
#include "mudo.h"
#include "buffer.h"
#include "captures.h"
#include "host.h"

SDL_AudioDeviceID audio_device = 0;
uint32_t lock_level = 0;

namespace {

int32_t (*mixer)(int16_t *, int32_t) = mudo_mix;
bool device_locked = false;  // the outermost lock took the device's lock

}  // namespace

void audio_device_set_mixer(int32_t (*mix)(int16_t *, int32_t)) { mixer = mix ? mix : mudo_mix; }

extern "C" void sdl2_mixer_callback(void *userdata, Uint8 *stream, int length) {
    (void)userdata;
    if (length <= 0) return;
    const int32_t frames = length / AUDIO_FRAME_BYTES;
    int16_t *out = reinterpret_cast<int16_t *>(stream);
    for (int32_t done = 0; done < frames;) {
        const int32_t n = frames - done < MIX_CHUNK_FRAMES ? frames - done : MIX_CHUNK_FRAMES;
        mixer(out + size_t(done) * AUDIO_CHANNELS, n);
        done += n;
    }
    audio_capture_append(stream, length);
}

void audio_init_failed(const char *error) {
    printf("** audio init failed");
    printf(" %s\n", error);
    char line[600];
    snprintf(line, sizeof line, "** audio init failed %s\n", error);
    codo_debug(line);
}

int audio_device_open(void) {
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = AUDIO_RATE;
    want.format = AUDIO_S16LSB;
    want.channels = AUDIO_CHANNELS;
    want.samples = AUDIO_BUFFER_FRAMES;
    want.callback = sdl2_mixer_callback;
    want.userdata = nullptr;
    audio_device = sdl.OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (audio_device == 0) {
        audio_init_failed(sdl.GetError());
        return 0;
    }
    sdl.PauseAudioDevice(audio_device, 0);
    return 1;
}

void audio_device_close(void) {
    if (device_locked) sdl.UnlockAudioDevice(audio_device);
    device_locked = false;
    lock_level = 0;
    if (audio_device) sdl.CloseAudioDevice(audio_device);
    audio_device = 0;
}

extern "C" void os_lock_audio(void) {
    if (lock_level == 0 && audio_device) {
        sdl.LockAudioDevice(audio_device);
        device_locked = true;
    }
    lock_level++;
}

extern "C" void os_unlock_audio(void) {
    assert(lock_level > 0 && "audio unlock without a lock");
    if (lock_level == 0) return;
    lock_level--;
    if (lock_level == 0 && device_locked) {
        sdl.UnlockAudioDevice(audio_device);
        device_locked = false;
    }
}
