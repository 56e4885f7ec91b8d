// Fuzz target: random events, window sizes, display flags, mouse locks and
// sensitivities through the event pump on a scripted SDL, with processes 1
// to 3 live. Every text queued for the window manager must stay under 256
// bytes and read back through the pod reader.
//
// Input: a sequence of operations, each a byte choosing it and the bytes it
// reads after it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../tests/platform/fake_sdl.h"
#include "app_state.h"
#include "buffer.h"
#include "frame_clock.h"
#include "host_services.h"
#include "lua.hpp"
#include "messages.h"
#include "pod_reader.h"
#include "process.h"
#include "settings.h"
#include "vm_hooks.h"

using platform_test::FakeSdl;

namespace {

struct reader {
    const uint8_t *p, *end;
    int32_t u8() { return p < end ? *p++ : 0; }
    int32_t i16() { return int16_t(uint16_t(u8() | u8() << 8)); }
    int32_t i32() { return int32_t(uint32_t(u8() | u8() << 8 | u8() << 16 | uint32_t(u8()) << 24)); }
};

uint64_t now = 1000;
uint64_t ticks() { return now; }
void sleep_ms(uint32_t ms) { now += ms; }

lua_State *checker = nullptr;

void fail(const char *what, const char *text) {
    fprintf(stderr, "event pump: %s: %s\n", what, text);
    abort();
}

void check_texts() {
    process_rec *wm = get_process(3);
    if (!wm) fail("window manager", "gone");
    while (buffer_rec *b = read_process_message(wm, nullptr)) {
        const char *text = to_cstr(b);
        const size_t n = strlen(text);
        if (n >= 256) fail("text too long", text);
        // The checker's reads are charged on a count of their own, far from
        // the watchdog's margin whatever the frames before charged.
        const int32_t saved = cpu_cycles;
        cpu_cycles = 0;
        if (destringify_object(checker, text, int64_t(n)) != 1) fail("unreadable text", text);
        cpu_cycles = saved;
        lua_settop(checker, 0);
    }
}

void setup() {
    char home[] = "/tmp/fuzz_event_pump_XXXXXX";
    if (!mkdtemp(home)) abort();
    setenv("HOME", home, 1);
    FakeSdl::install();
    frame_clock_set(ticks, sleep_ms);
    processes_init();
    for (int i = 0; i < 3; i++)
        if (!create_process_from_code("", "p", "/x.lua", "")) abort();
    checker = luaL_newstate();
}

SDL_Event blank(Uint32 type) { return FakeSdl::blank(type); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setup(), true);
    (void)ready;
    reader in{data, data + size};
    memset(&config, 0, sizeof config);
    config.pixel_perfect = 1;
    memset(&app, 0, sizeof app);
    window_reset();
    event_pump_reset();
    FakeSdl::reset();
    os_apply_video_config();
    int ops = 0;
    while (in.p < in.end && ops++ < 400) {
        switch (in.u8() % 12) {
        case 0: {
            SDL_Event e = blank(SDL_KEYDOWN);
            const int32_t sc = in.i16();
            memcpy(&e.key.keysym.scancode, &sc, sizeof sc);
            FakeSdl::events.push_back(e);
            break;
        }
        case 1: {
            SDL_Event e = blank(SDL_TEXTINPUT);
            for (char &c : e.text.text) c = char(in.u8());
            FakeSdl::events.push_back(e);
            break;
        }
        case 2: {
            SDL_Event e = blank(SDL_MOUSEWHEEL);
            e.wheel.x = in.i32();
            e.wheel.y = in.i32();
            FakeSdl::events.push_back(e);
            break;
        }
        case 3: FakeSdl::motion(in.i32(), in.i32()); break;
        case 4: FakeSdl::window_event(Uint8(in.u8())); break;
        case 5:
            FakeSdl::px = in.i32();
            FakeSdl::py = in.i32();
            FakeSdl::buttons = Uint32(in.u8());
            break;
        case 6:
            FakeSdl::win_w = in.i16();
            FakeSdl::win_h = in.i16();
            break;
        case 7: {
            const int32_t f = in.u8();
            config.fullscreen = f & 1;
            config.pixel_perfect = f >> 1 & 1;
            config.stretch = f >> 2 & 1;
            config.blit_720p = f >> 3 & 1;
            break;
        }
        case 8: {
            const int32_t flags = in.u8(), es = in.u8(), ms = in.u8();
            os_lock_mouse_cursor(flags, es, ms);
            break;
        }
        case 9:
            now += uint32_t(in.u8());
            handle_sdl_messages();
            check_texts();
            break;
        case 10: os_warp_mouse_pointer(in.i32(), in.i32()); break;
        case 11: {
            SDL_Event e = blank(SDL_DROPTEXT);
            e.drop.file = in.u8() & 1 ? SDL_strdup("text") : nullptr;
            FakeSdl::events.push_back(e);
            break;
        }
        }
        if (FakeSdl::events.size() > 1000) FakeSdl::events.clear();
    }
    handle_sdl_messages();
    check_texts();
    return 0;
}
