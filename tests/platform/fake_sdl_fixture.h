// The fixture of the tests on the fake SDL: the seam swapped, the window,
// pump and controller state cleared, default settings, a fake clock, and
// optionally processes 1 to 3 so that event texts reach a window manager.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "buffer.h"
#include "fake_sdl.h"
#include "frame_clock.h"
#include "messages.h"
#include "platform_fixture.h"
#include "process.h"
#include "settings.h"

namespace platform_test {

struct test_clock {
    static inline uint64_t now = 0;
    static uint64_t ticks() { return now; }
    static void sleep(uint32_t ms) { now += ms; }
};

class FakeSdlTest : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        FakeSdl::install();
        window_reset();
        event_pump_reset();
        controllers_reset();
        memset(&app, 0, sizeof app);
        memset(&config, 0, sizeof config);
        config.fullscreen = 0;
        config.pixel_perfect = 1;
        config.volume = 192;
        test_clock::now = 10000;
        frame_clock_set(test_clock::ticks, test_clock::sleep);
    }

    void TearDown() override {
        processes_init();
        window_reset();
        audio_device_close();
        FakeSdl::restore();
        frame_clock_set(nullptr, nullptr);
        TempHome::TearDown();
    }

    // Processes 1 to 3, idle; process 3 receives the event texts.
    void start_processes() {
        processes_init();
        for (const char *name : {"root", "idle", "wm"})
            ASSERT_NE(create_process_from_code("", name, "/x.lua", ""), nullptr);
        ASSERT_NE(get_process(3), nullptr);
    }

    // A windowed, pixel-perfect w x h window.
    void open_window(int w = 960, int h = 540) {
        config.fullscreen = 0;
        os_apply_video_config();
        FakeSdl::win_w = w;
        FakeSdl::win_h = h;
    }

    // Every text queued for process 3 since the last call.
    static std::vector<std::string> wm_texts() {
        std::vector<std::string> out;
        process_rec *wm = get_process(3);
        if (!wm) return out;
        while (buffer_rec *b = read_process_message(wm, nullptr)) out.push_back(to_cstr(b));
        return out;
    }

    // One pump with the clock moved on by 'ms' first.
    static void pump(uint32_t ms = 16) {
        test_clock::now += ms;
        handle_sdl_messages();
    }
};

}  // namespace platform_test
