// The event pump, the key table and the locked mouse.
#include "event_pump.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app_state.h"
#include "boot_hooks.h"
#include "buffer.h"
#include "controllers.h"
#include "dropped_file.h"
#include "frame_clock.h"
#include "host.h"
#include "host_services.h"
#include "messages.h"
#include "process.h"
#include "saturate.h"
#include "window.h"

uint32_t key_state[KEY_COUNT];
uint32_t last_key_state[KEY_COUNT];
int32_t last_mx = -1, last_my = -1, last_mb = -1;
float virtual_mx = 0, virtual_my = 0;
int32_t last_locked_host_mx = 0, last_locked_host_my = 0;
uint32_t event_sensitivity = 64, move_sensitivity = 64;

namespace {

constexpr int64_t WM_PID = 3;
constexpr size_t EVENT_TEXT_SIZE = 256;

void send_to_wm(const char *text) { send_process_message_string(get_process(WM_PID), text); }

void send_wm_event(const char *format, ...) __attribute__((format(printf, 1, 2)));
void send_wm_event(const char *format, ...) {
    char text[EVENT_TEXT_SIZE];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    send_to_wm(text);
}

int32_t clamp_int(int64_t v) { return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : int32_t(v); }

int32_t add_saturating(int32_t a, int32_t b) { return clamp_int(int64_t(a) + int64_t(b)); }

void warp(int64_t x, int64_t y) {
    if (sdl_window) sdl.WarpMouseInWindow(sdl_window, clamp_int(x), clamp_int(y));
}

// Warps to the window's centre and remembers it as the last warp position.
void warp_to_centre() {
    last_locked_host_mx = sdl_window_w / 2;
    last_locked_host_my = sdl_window_h / 2;
    warp(last_locked_host_mx, last_locked_host_my);
}

// The host position of screen position (sx, sy) in 'rect'.
void warp_to_screen(const SDL_Rect &rect, double sx, double sy) {
    warp(saturate_double_to_i64(rect.x + rect.w * sx / SCREEN_W), saturate_double_to_i64(rect.y + rect.h * sy / SCREEN_H));
}

void send_text_input(const char (&raw)[SDL_TEXTINPUTEVENT_TEXT_SIZE]) {
    char text[SDL_TEXTINPUTEVENT_TEXT_SIZE + 1];
    memcpy(text, raw, sizeof raw);
    text[sizeof raw] = '\0';
    char event[EVENT_TEXT_SIZE];
    snprintf(event, sizeof event, "{event=\"textinput\",text=\"%s\"}", escape_lua_string(text));
    send_to_wm(event);
}

void raise_window() {
    if (sdl_window) sdl.RaiseWindow(sdl_window);
}

void handle_window_event(const SDL_WindowEvent &e) {
    switch (e.event) {
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        app.focus_gained_t = get_ticks();
        raise_window();
        break;
    case SDL_WINDOWEVENT_CLOSE: app.exit_requested = 1; break;
    default: break;
    }
}

void handle_event(const SDL_Event &e) {
    switch (e.type) {
    case SDL_KEYDOWN: {
        int32_t sc;  // read as an integer: any value may arrive
        memcpy(&sc, &e.key.keysym.scancode, sizeof sc);
        if (sc >= 0 && sc < KEY_COUNT) key_state[sc] = 1;
        break;
    }
    case SDL_TEXTINPUT: send_text_input(e.text.text); break;
    case SDL_MOUSEWHEEL:
        send_wm_event("{event=\"mousewheel\",wheel_x=%d,wheel_y=%d}", e.wheel.x, e.wheel.y);
        break;
    case SDL_MOUSEMOTION:
        if (app.mouse_locked) locked_motion(e.motion.x, e.motion.y);
        break;
    case SDL_WINDOWEVENT: handle_window_event(e.window); break;
    case SDL_QUIT: app.exit_requested = 1; break;
    case SDL_DROPFILE:
        if (e.drop.file) {
            process_dropped_file(e.drop.file);
            sdl.free(e.drop.file);
            raise_window();
        }
        break;
    case SDL_DROPTEXT:
        if (e.drop.file) sdl.free(e.drop.file);
        break;
    case SDL_CONTROLLERDEVICEADDED:
        repack_metacon();
        connect_joystick(e.cdevice.which);
        break;
    case SDL_CONTROLLERDEVICEREMOVED:
        if (!disconnect_joystick(e.cdevice.which, 0)) codo_debug("** failed to disconnect joystick\n");
        repack_metacon();
        break;
    case SDL_JOYDEVICEREMOVED:
        if (disconnect_joystick(e.jdevice.which, 1)) repack_metacon();
        break;
    default: break;
    }
}

void pump_mouse() {
    SDL_Rect rect;
    get_dest_rect(&rect);
    if (sdl_window_w <= 0 || sdl_window_h <= 0) return;

    int x = 0, y = 0;
    const Uint32 buttons = sdl.GetMouseState(&x, &y);
    if (buttons) app.last_input_t = get_ticks();
    const int32_t mb = (buttons & SDL_BUTTON_LMASK ? 1 : 0) | (buttons & SDL_BUTTON_RMASK ? 2 : 0) |
                       (buttons & SDL_BUTTON_MMASK ? 4 : 0);

    int32_t mx = x, my = y;
    if (rect.w > 0 && rect.h > 0) {
        mx = clamp_int((int64_t(x) - rect.x) * SCREEN_W / rect.w);
        my = clamp_int((int64_t(y) - rect.y) * SCREEN_H / rect.h);
        if (config.fullscreen) {
            mx = mx < 0 ? 0 : mx > SCREEN_W - 1 ? SCREEN_W - 1 : mx;
            my = my < 0 ? 0 : my > SCREEN_H - 1 ? SCREEN_H - 1 : my;
        }
    }
    if (app.mouse_locked) {
        mx = saturate_double_to_i32(virtual_mx);
        my = saturate_double_to_i32(virtual_my);
    }
    if (mx != last_mx || my != last_my || mb != last_mb)
        send_wm_event("{event=\"mouse\",mx=%d,my=%d,mb=%d}", mx, my, mb);
    last_mx = mx;
    last_my = my;
    last_mb = mb;

    if (app.mouse_locked) {
        const int32_t dx = app.locked_dx_acc / LOCKED_STEP;
        const int32_t dy = app.locked_dy_acc / LOCKED_STEP;
        app.locked_dx_acc -= dx * LOCKED_STEP;
        app.locked_dy_acc -= dy * LOCKED_STEP;
        if (dx || dy) send_wm_event("{event=\"mouselockedmove\",locked_dx=%d,locked_dy=%d}", dx, dy);
    } else {
        app.locked_dx_acc = 0;
        app.locked_dy_acc = 0;
    }
}

}  // namespace

void event_pump_reset(void) {
    memset(key_state, 0, sizeof key_state);
    memset(last_key_state, 0, sizeof last_key_state);
    last_mx = last_my = last_mb = -1;
    virtual_mx = virtual_my = 0;
    last_locked_host_mx = last_locked_host_my = 0;
    event_sensitivity = move_sensitivity = 64;
}

void locked_motion(int32_t x, int32_t y) {
    if (sdl_window_w < 2 || sdl_window_h < 2) {
        last_locked_host_mx = x;
        last_locked_host_my = y;
        return;
    }
    SDL_Rect rect;
    get_dest_rect(&rect);
    double sx = double(rect.w) / SCREEN_W, sy = double(rect.h) / SCREEN_H;
    if (sx < 0.1) sx = 0.1;
    if (sy < 0.1) sy = 0.1;
    const double dx = (double(x) - last_locked_host_mx) / sx;
    const double dy = (double(y) - last_locked_host_my) / sy;

    if (app.skip_next_motion) {
        app.locked_dx_acc = 0;
        app.locked_dy_acc = 0;
        app.skip_next_motion = 0;
    } else {
        app.locked_dx_acc = add_saturating(app.locked_dx_acc, saturate_double_to_i32(event_sensitivity * dx));
        app.locked_dy_acc = add_saturating(app.locked_dy_acc, saturate_double_to_i32(event_sensitivity * dy));
    }

    double vx = virtual_mx + dx * move_sensitivity / 64.0;
    double vy = virtual_my + dy * move_sensitivity / 64.0;
    virtual_mx = float(vx < 0 ? 0 : vx > SCREEN_W - 1 ? SCREEN_W - 1 : vx);
    virtual_my = float(vy < 0 ? 0 : vy > SCREEN_H - 1 ? SCREEN_H - 1 : vy);

    warp_to_centre();
}

extern "C" void handle_sdl_messages(void) {
    int count = 0;
    const Uint8 *keys = sdl.GetKeyboardState(&count);
    if (count > KEY_COUNT) count = KEY_COUNT;
    if (!keys) count = 0;
    sdl.ShowCursor(SDL_DISABLE);
    memcpy(last_key_state, key_state, sizeof key_state);
    for (int32_t i = 0; i < KEY_COUNT; i++) key_state[i] = i < count ? keys[i] : 0;

    SDL_Event e;
    while (sdl.PollEvent(&e)) {
        app.last_input_t = get_ticks();
        handle_event(e);
    }

    if (get_ticks() <= app.focus_gained_t + FOCUS_KEY_DELAY_MS) memset(key_state, 0, sizeof key_state);

    for (int32_t sc = 0; sc < KEY_COUNT; sc++) {
        if (key_state[sc] && !last_key_state[sc]) send_wm_event("{event=\"keydown\",scancode=%d}", sc);
        else if (!key_state[sc] && last_key_state[sc]) send_wm_event("{event=\"keyup\",scancode=%d}", sc);
    }

    pump_mouse();
}

extern "C" void os_lock_mouse_cursor(int32_t flags, int32_t es, int32_t ms) {
    event_sensitivity = uint32_t(es);
    move_sensitivity = uint32_t(ms);
    const bool want = (flags & 4) != 0;
    SDL_Rect rect;
    get_dest_rect(&rect);

    if (want && !app.mouse_locked) {
        int x = 0, y = 0;
        sdl.GetMouseState(&x, &y);
        if (rect.w > 0 && rect.h > 0) {
            virtual_mx = float((double(x) - rect.x) * SCREEN_W / rect.w);
            virtual_my = float((double(y) - rect.y) * SCREEN_H / rect.h);
        } else {
            virtual_mx = float(x);
            virtual_my = float(y);
        }
        if (sdl_window_w >= 2 && sdl_window_h >= 2) warp_to_centre();
        app.skip_next_motion = 1;
        app.mouse_locked = 4;
        return;
    }
    if (!want && app.mouse_locked) {
        warp_to_screen(rect, virtual_mx, virtual_my);
        app.mouse_locked = 0;
        return;
    }
    if (config.fullscreen && rect.w > 0 && rect.h > 0) {
        int x = 0, y = 0;
        sdl.GetMouseState(&x, &y);
        const int cx = x < rect.x ? rect.x : x > rect.x + rect.w - 1 ? rect.x + rect.w - 1 : x;
        const int cy = y < rect.y ? rect.y : y > rect.y + rect.h - 1 ? rect.y + rect.h - 1 : y;
        if (cx != x || cy != y) warp(cx, cy);
    }
    app.mouse_locked = flags & 4;
}

extern "C" int32_t os_key_state(int32_t scancode) {
    if (scancode == -1) {
        for (uint32_t k : key_state)
            if (k) return 1;
        return 0;
    }
    if (scancode < 0 || scancode >= KEY_COUNT) return 0;
    return key_state[scancode] ? 1 : 0;
}

extern "C" const char *os_key_from_scancode(int32_t scancode) {
    if (scancode < 0 || scancode >= KEY_COUNT) return nullptr;
    const char *name = sdl.GetKeyName(sdl.GetKeyFromScancode(SDL_Scancode(scancode)));
    return name && name[0] ? name : nullptr;
}

extern "C" void os_warp_mouse_pointer(int32_t x, int32_t y) {
    virtual_mx = float(x);
    virtual_my = float(y);
    SDL_Rect rect;
    get_dest_rect(&rect);
    warp_to_screen(rect, x, y);
}
