// A scripted SDL behind the seam: keyboard, events, pointer and buttons,
// window, output and desktop sizes, failures of each create or open call, a
// recording renderer and the clipboard. As under X11, each warp queues a
// motion event and the pointer moves only when that event is polled.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "audio_device.h"
#include "controllers.h"
#include "event_pump.h"
#include "sdl_seam.h"
#include "window.h"

namespace platform_test {

struct FakeSdl {
    // ---- scripted input ----
    static inline Uint8 keys[SDL_NUM_SCANCODES];
    static inline std::deque<SDL_Event> events;
    static inline int px = 0, py = 0;  // pointer, window coordinates
    static inline Uint32 buttons = 0;

    // ---- window and outputs ----
    static inline int win_w = 0, win_h = 0, win_x = 0, win_y = 0;
    static inline int out_scale = 1;  // renderer output pixels per window coordinate
    static inline int desktop_w = 1920, desktop_h = 1080;
    static inline bool desktop_fails = false;
    static inline bool window_fails = false, vsync_fails = false, software_fails = false, texture_fails = false;
    static inline bool audio_fails = false;

    // ---- records ----
    struct created_window {
        std::string title;
        int x, y, w, h;
        Uint32 flags;
    };
    static inline std::vector<created_window> windows;
    static inline std::vector<Uint32> renderer_flags;  // every create attempt
    static inline std::map<std::string, std::string> hints;
    static inline std::vector<std::string> hint_log;  // "name=value" in order
    static inline int texture_w = 0, texture_h = 0;
    static inline Uint32 texture_format = 0;
    static inline std::vector<uint8_t> upload;  // the last upload's bytes
    static inline int upload_pitch = 0, uploads = 0;
    static inline SDL_Rect copy_rect = {0, 0, 0, 0};
    static inline int copies = 0, presents = 0, clears = 0;
    static inline float scale_x = 0, scale_y = 0;
    static inline std::vector<std::pair<int, int>> warps;
    static inline std::string title;
    static inline std::vector<uint32_t> icon;  // the last icon's pixels
    static inline int icons = 0, minimised = 0, raised = 0, freed = 0;
    static inline std::string clipboard;
    static inline int audio_locks = 0, audio_unlocks = 0, audio_closes = 0;
    static inline int live_windows = 0;

    static inline char window_obj, renderer_obj, texture_obj;

    static SDL_Window *window_handle() { return reinterpret_cast<SDL_Window *>(&window_obj); }

    static void reset() {
        memset(keys, 0, sizeof keys);
        events.clear();
        px = py = 0;
        buttons = 0;
        win_w = win_h = win_x = win_y = 0;
        out_scale = 1;
        desktop_w = 1920;
        desktop_h = 1080;
        desktop_fails = window_fails = vsync_fails = software_fails = texture_fails = audio_fails = false;
        windows.clear();
        renderer_flags.clear();
        hints.clear();
        hint_log.clear();
        texture_w = texture_h = 0;
        texture_format = 0;
        upload.clear();
        upload_pitch = uploads = 0;
        copy_rect = {0, 0, 0, 0};
        copies = presents = clears = 0;
        scale_x = scale_y = 0;
        warps.clear();
        title.clear();
        icon.clear();
        icons = minimised = raised = freed = 0;
        clipboard.clear();
        audio_locks = audio_unlocks = audio_closes = 0;
        live_windows = 0;
    }

    static void install() {
        reset();
        sdl.SetHint = [](const char *n, const char *v) {
            hints[n] = v;
            hint_log.push_back(std::string(n) + "=" + v);
            return SDL_TRUE;
        };
        sdl.InitSubSystem = [](Uint32) { return 0; };
        sdl.GetError = []() { return "fake failure"; };
        sdl.free = [](void *p) {
            freed++;
            SDL_free(p);
        };
        sdl.PollEvent = [](SDL_Event *e) {
            if (events.empty()) return 0;
            *e = events.front();
            events.pop_front();
            if (e->type == SDL_MOUSEMOTION) {
                px = e->motion.x;
                py = e->motion.y;
            }
            return 1;
        };
        sdl.GetKeyboardState = [](int *n) -> const Uint8 * {
            if (n) *n = SDL_NUM_SCANCODES;
            return keys;
        };
        sdl.ShowCursor = [](int) { return 0; };
        sdl.GetMouseState = [](int *x, int *y) {
            if (x) *x = px;
            if (y) *y = py;
            return buttons;
        };
        sdl.WarpMouseInWindow = [](SDL_Window *, int x, int y) {
            warps.push_back({x, y});
            // Where the pointer will be once the queue is drained; like SDL,
            // no motion event for a move by nothing.
            int ax = px, ay = py;
            for (const SDL_Event &q : events)
                if (q.type == SDL_MOUSEMOTION) ax = q.motion.x, ay = q.motion.y;
            if (ax == x && ay == y) return;
            SDL_Event e;
            memset(&e, 0, sizeof e);
            e.type = SDL_MOUSEMOTION;
            e.motion.x = x;
            e.motion.y = y;
            events.push_back(e);
        };
        sdl.CreateWindow = [](const char *t, int x, int y, int w, int h, Uint32 flags) -> SDL_Window * {
            windows.push_back({t, x, y, w, h, flags});
            if (window_fails) return nullptr;
            win_w = w;
            win_h = h;
            win_x = x;
            win_y = y;
            title = t;
            live_windows++;
            return window_handle();
        };
        sdl.DestroyWindow = [](SDL_Window *) { live_windows--; };
        sdl.GetWindowPosition = [](SDL_Window *, int *x, int *y) {
            *x = win_x;
            *y = win_y;
        };
        sdl.GetWindowSize = [](SDL_Window *w, int *x, int *y) {
            *x = w ? win_w : 0;
            *y = w ? win_h : 0;
        };
        sdl.GetDesktopDisplayMode = [](int, SDL_DisplayMode *m) {
            if (desktop_fails) return -1;
            m->w = desktop_w;
            m->h = desktop_h;
            return 0;
        };
        sdl.RaiseWindow = [](SDL_Window *) { raised++; };
        sdl.MinimizeWindow = [](SDL_Window *) { minimised++; };
        sdl.SetWindowTitle = [](SDL_Window *, const char *t) { title = t; };
        sdl.SetWindowIcon = [](SDL_Window *, SDL_Surface *s) {
            icons++;
            const uint32_t *p = static_cast<const uint32_t *>(s->pixels);
            icon.assign(p, p + s->w * s->h);
        };
        sdl.CreateRenderer = [](SDL_Window *w, int, Uint32 flags) -> SDL_Renderer * {
            renderer_flags.push_back(flags);
            if (!w) return nullptr;
            if (flags & SDL_RENDERER_PRESENTVSYNC ? vsync_fails : software_fails) return nullptr;
            return reinterpret_cast<SDL_Renderer *>(&renderer_obj);
        };
        sdl.DestroyRenderer = [](SDL_Renderer *) {};
        sdl.GetRendererOutputSize = [](SDL_Renderer *, int *w, int *h) {
            *w = win_w * out_scale;
            *h = win_h * out_scale;
            return 0;
        };
        sdl.RenderSetScale = [](SDL_Renderer *, float x, float y) {
            scale_x = x;
            scale_y = y;
            return 0;
        };
        sdl.SetRenderDrawColor = [](SDL_Renderer *, Uint8, Uint8, Uint8, Uint8) { return 0; };
        sdl.SetRenderDrawBlendMode = [](SDL_Renderer *, SDL_BlendMode) { return 0; };
        sdl.RenderClear = [](SDL_Renderer *) {
            clears++;
            return 0;
        };
        sdl.RenderFillRect = [](SDL_Renderer *, const SDL_Rect *) { return 0; };
        sdl.RenderCopy = [](SDL_Renderer *, SDL_Texture *, const SDL_Rect *, const SDL_Rect *d) {
            copies++;
            copy_rect = *d;
            return 0;
        };
        sdl.RenderPresent = [](SDL_Renderer *) { presents++; };
        sdl.CreateTexture = [](SDL_Renderer *, Uint32 format, int, int w, int h) -> SDL_Texture * {
            if (texture_fails) return nullptr;
            texture_w = w;
            texture_h = h;
            texture_format = format;
            return reinterpret_cast<SDL_Texture *>(&texture_obj);
        };
        sdl.DestroyTexture = [](SDL_Texture *) {};
        sdl.UpdateTexture = [](SDL_Texture *, const SDL_Rect *, const void *p, int pitch) {
            uploads++;
            upload_pitch = pitch;
            const uint8_t *b = static_cast<const uint8_t *>(p);
            upload.assign(b, b + size_t(pitch) * size_t(texture_h));
            return 0;
        };
        sdl.OpenAudioDevice = [](const char *, int, const SDL_AudioSpec *, SDL_AudioSpec *,
                                 int) -> SDL_AudioDeviceID { return audio_fails ? 0 : 7; };
        sdl.PauseAudioDevice = [](SDL_AudioDeviceID, int) {};
        sdl.CloseAudioDevice = [](SDL_AudioDeviceID) { audio_closes++; };
        sdl.LockAudioDevice = [](SDL_AudioDeviceID) { audio_locks++; };
        sdl.UnlockAudioDevice = [](SDL_AudioDeviceID) { audio_unlocks++; };
        sdl.GetClipboardText = []() { return SDL_strdup(clipboard.c_str()); };
        sdl.SetClipboardText = [](const char *t) {
            clipboard = t;
            return 0;
        };
        sdl.NumJoysticks = []() { return 0; };
    }

    static void restore() { sdl = sdl_default; }

    // ---- event helpers ----
    static SDL_Event blank(Uint32 type) {
        SDL_Event e;
        memset(&e, 0, sizeof e);
        e.type = type;
        return e;
    }
    static void key_down(int scancode) {
        SDL_Event e = blank(SDL_KEYDOWN);
        e.key.keysym.scancode = SDL_Scancode(scancode);
        events.push_back(e);
    }
    static void window_event(Uint8 what) {
        SDL_Event e = blank(SDL_WINDOWEVENT);
        e.window.event = what;
        events.push_back(e);
    }
    static void motion(int x, int y) {
        SDL_Event e = blank(SDL_MOUSEMOTION);
        e.motion.x = x;
        e.motion.y = y;
        events.push_back(e);
    }
};

}  // namespace platform_test
