// The event pump on the fake SDL: keys, the event texts, the mouse mapping
// and the locked mouse.
#include <fstream>

#include "dropped_file.h"
#include "fake_sdl_fixture.h"
#include "host_services.h"
#include "lua.hpp"
#include "pdisk.h"
#include "pod_reader.h"

namespace {

using namespace platform_test;

class Pump : public FakeSdlTest {
protected:
    void SetUp() override {
        FakeSdlTest::SetUp();
        start_processes();
    }
};

TEST_F(Pump, AKeyPressedAndReleasedBetweenFramesIsDownInOneFrameAndUpInTheNext) {
    FakeSdl::key_down(4);
    pump();
    auto first = wm_texts();
    ASSERT_GE(first.size(), 1u);
    EXPECT_EQ(first[0], "{event=\"keydown\",scancode=4}");
    EXPECT_EQ(os_key_state(4), 1);
    EXPECT_EQ(os_key_state(-1), 1);
    pump();
    EXPECT_EQ(wm_texts(), std::vector<std::string>{"{event=\"keyup\",scancode=4}"});
    EXPECT_EQ(os_key_state(-1), 0);
}

// Also across 2^32 ms (49.7 days), where a 32-bit tick count wrapped and
// every key then read as up for weeks.
TEST_F(Pump, KeysHeldThroughAFocusGainReadUpFor100Ms) {
    for (const uint64_t start : {uint64_t(10000), (uint64_t(1) << 32) - 50}) {
        SCOPED_TRACE(start);
        test_clock::now = start;
        FakeSdl::keys[30] = 1;
        FakeSdl::window_event(SDL_WINDOWEVENT_FOCUS_GAINED);
        pump();
        EXPECT_EQ(FakeSdl::raised, 0);  // no window to raise yet
        const uint64_t gained = app.focus_gained_t;
        EXPECT_EQ(gained, test_clock::now);
        wm_texts();
        test_clock::now = gained + 100;
        handle_sdl_messages();
        EXPECT_TRUE(wm_texts().empty());
        test_clock::now = gained + 101;
        handle_sdl_messages();
        EXPECT_EQ(wm_texts(), std::vector<std::string>{"{event=\"keydown\",scancode=30}"});
        FakeSdl::keys[30] = 0;
        handle_sdl_messages();
        wm_texts();
    }
}

TEST_F(Pump, ScancodesOutsideTheTableAreIgnored) {
    FakeSdl::key_down(600);
    FakeSdl::key_down(-3);
    pump();
    EXPECT_TRUE(wm_texts().empty());
    EXPECT_EQ(os_key_state(600), 0);
    EXPECT_EQ(os_key_state(-2), 0);
    EXPECT_EQ(os_key_from_scancode(512), nullptr);
    EXPECT_EQ(os_key_from_scancode(-1), nullptr);
}

TEST_F(Pump, EventTextsAreExactAndReadBackThroughThePodReader) {
    struct Case {
        SDL_Event event;
        std::string text;
        std::string field, value;  // a string field and its value after parsing
    };
    auto text_event = [](const char *bytes, size_t n) {
        SDL_Event e = FakeSdl::blank(SDL_TEXTINPUT);
        memcpy(e.text.text, bytes, n);
        return e;
    };
    SDL_Event wheel = FakeSdl::blank(SDL_MOUSEWHEEL);
    wheel.wheel.x = -2;
    wheel.wheel.y = 1;
    const char full[33] = "abcdefghijklmnopqrstuvwxyz012345";
    const Case cases[] = {
        {text_event("a\"b\\c\n\xC3\xA9", 9), "{event=\"textinput\",text=\"a\\034b\\092c\\010\\195\\169\"}", "text",
         "a\"b\\c\n\xC3\xA9"},
        {text_event(full, 32), std::string("{event=\"textinput\",text=\"") + full + "\"}", "text", full},
        {wheel, "{event=\"mousewheel\",wheel_x=-2,wheel_y=1}", "event", "mousewheel"},
    };
    lua_State *L = luaL_newstate();
    for (const Case &c : cases) {
        FakeSdl::events.push_back(c.event);
        pump();
        auto texts = wm_texts();
        ASSERT_EQ(texts.size(), 1u) << c.text;
        EXPECT_EQ(texts[0], c.text);
        ASSERT_EQ(destringify_object(L, texts[0].data(), int64_t(texts[0].size())), 1) << texts[0];
        lua_getfield(L, -1, c.field.c_str());
        size_t n = 0;
        const char *v = lua_tolstring(L, -1, &n);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(std::string(v, n), c.value);
        lua_settop(L, 0);
    }
    lua_close(L);
}

TEST_F(Pump, CloseAndQuitRequestExitAndNothingIsQueuedWithoutProcess3) {
    for (Uint32 type : {Uint32(SDL_QUIT), Uint32(SDL_WINDOWEVENT)}) {
        app.exit_requested = 0;
        if (type == SDL_QUIT) FakeSdl::events.push_back(FakeSdl::blank(SDL_QUIT));
        else FakeSdl::window_event(SDL_WINDOWEVENT_CLOSE);
        pump();
        EXPECT_EQ(app.exit_requested, 1u);
    }
    processes_init();
    FakeSdl::key_down(5);
    pump();
    EXPECT_EQ(get_process_count(), 0);
}

TEST_F(Pump, ADroppedFileReachesTheRamDropFolderAndItsNameIsFreed) {
    pfile_init();
    mount_ram_folder("/ram");
    const std::string host = root + "/dropped.txt";
    std::ofstream(host) << "hello";
    SDL_Event e = FakeSdl::blank(SDL_DROPFILE);
    e.drop.file = SDL_strdup(host.c_str());
    FakeSdl::events.push_back(e);
    SDL_Event none = FakeSdl::blank(SDL_DROPBEGIN);
    FakeSdl::events.push_back(none);
    SDL_Event text = FakeSdl::blank(SDL_DROPTEXT);
    text.drop.file = SDL_strdup("some text");
    FakeSdl::events.push_back(text);
    pump();
    EXPECT_EQ(FakeSdl::freed, 2);
    EXPECT_TRUE(pdisk_file_exists("/ram/drop/dropped.txt"));
    auto texts = wm_texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts[0].find("/ram/drop/dropped.txt"), std::string::npos) << texts[0];
    pdisk_shutdown();
}

// ---- the mouse ----

TEST_F(Pump, TheMouseMapsIntoThePictureAndReportsOnlyChanges) {
    open_window();
    wm_texts();
    struct Case {
        int fullscreen, x, y;
        Uint32 buttons;
        const char *text;  // null: nothing sent
    };
    const Case cases[] = {
        {0, 481, 271, 0, "{event=\"mouse\",mx=240,my=135,mb=0}"},  // first report
        {0, 481, 271, 0, nullptr},                                  // unchanged
        {0, 480, 270, 0, nullptr},                                  // same screen pixel
        {0, 0, 0, SDL_BUTTON_LMASK, "{event=\"mouse\",mx=0,my=0,mb=1}"},
        {0, 0, 0, SDL_BUTTON_RMASK, "{event=\"mouse\",mx=0,my=0,mb=2}"},
        {0, 0, 0, SDL_BUTTON_MMASK, "{event=\"mouse\",mx=0,my=0,mb=4}"},
        {0, 0, 0, SDL_BUTTON_LMASK | SDL_BUTTON_MMASK, "{event=\"mouse\",mx=0,my=0,mb=5}"},
    };
    for (const Case &c : cases) {
        config.fullscreen = uint32_t(c.fullscreen);
        FakeSdl::px = c.x;
        FakeSdl::py = c.y;
        FakeSdl::buttons = c.buttons;
        pump();
        auto texts = wm_texts();
        if (c.text) EXPECT_EQ(texts, std::vector<std::string>{c.text}) << c.x << "," << c.y;
        else EXPECT_TRUE(texts.empty()) << c.x << "," << c.y;
    }
}

TEST_F(Pump, LeftOfThePictureIsNegativeInAWindowAndZeroInFullScreen) {
    open_window(1000, 540);  // picture at x 20
    FakeSdl::px = 4;
    FakeSdl::py = 10;
    pump();
    EXPECT_EQ(wm_texts(), std::vector<std::string>{"{event=\"mouse\",mx=-8,my=5,mb=0}"});
    config.fullscreen = 1;
    pump();
    EXPECT_EQ(wm_texts(), std::vector<std::string>{"{event=\"mouse\",mx=0,my=5,mb=0}"});
}

TEST_F(Pump, AZeroRectangleReportsTheWindowPositionUnmapped) {
    config.stretch = 1;  // pixel-perfect with stretch: nothing fits in 300 x 200
    open_window(300, 200);
    FakeSdl::px = 123;
    FakeSdl::py = 45;
    pump();
    EXPECT_EQ(wm_texts(), std::vector<std::string>{"{event=\"mouse\",mx=123,my=45,mb=0}"});
}

TEST_F(Pump, AnyEventAndAHeldButtonCountAsInput) {
    open_window();
    FakeSdl::events.push_back(FakeSdl::blank(SDL_USEREVENT));
    pump();
    EXPECT_EQ(app.last_input_t, test_clock::now);
    pump();
    EXPECT_LT(app.last_input_t, test_clock::now);
    FakeSdl::buttons = SDL_BUTTON_LMASK;
    pump();
    EXPECT_EQ(app.last_input_t, test_clock::now);
}

// ---- the locked mouse ----

class Lock : public Pump {
protected:
    void SetUp() override {
        Pump::SetUp();
        open_window();  // 960 x 540, picture scale 2
        FakeSdl::px = 100;
        FakeSdl::py = 100;
        pump();
        wm_texts();
    }
    // Locks at sensitivity es, ms and lets the centring warp arrive.
    void lock(int es, int ms = 64) {
        os_lock_mouse_cursor(4, es, ms);
        pump();
        wm_texts();
    }
    // Host motion by (dx, dy) from the centre, then a frame; the texts.
    std::vector<std::string> move(int dx, int dy) {
        FakeSdl::motion(480 + dx, 270 + dy);
        pump();
        return wm_texts();
    }
    static std::string locked(int dx, int dy) {
        return "{event=\"mouselockedmove\",locked_dx=" + std::to_string(dx) + ",locked_dy=" + std::to_string(dy) +
               "}";
    }
};

TEST_F(Lock, StepsFollowTheSensitivityAndKeepRemainders) {
    lock(64);
    for (auto w : FakeSdl::warps) EXPECT_EQ(w, (std::pair<int, int>{480, 270}));
    auto t = move(6, -6);                       // 3 screen pixels each way
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.back(), locked(3, -3));

    os_lock_mouse_cursor(4, 32, 64);
    t = move(6, 0);
    EXPECT_EQ(t.back(), locked(1, 0));
    t = move(2, 0);  // one more pixel: the half step left over makes a whole one
    EXPECT_EQ(t.back(), locked(1, 0));
}

TEST_F(Lock, TheFirstMotionAfterLockingAddsNothing) {
    os_lock_mouse_cursor(4, 64, 64);
    FakeSdl::events.clear();  // the centring warp's motion never arrives
    auto t = move(20, 20);
    for (const std::string &s : t) EXPECT_EQ(s.find("mouselockedmove"), std::string::npos) << s;
    EXPECT_EQ(app.locked_dx_acc, 0);
}

TEST_F(Lock, TheMouseEventReportsTheVirtualPosition) {
    lock(64);
    // locked at host (100, 100): screen (50, 50)
    move(0, 0);
    auto t = move(20, 10);
    EXPECT_NE(std::find(t.begin(), t.end(), "{event=\"mouse\",mx=60,my=55,mb=0}"), t.end());
}

TEST_F(Lock, UnlockingWarpsBackToTheVirtualPosition) {
    lock(64);
    move(0, 0);
    move(40, 20);  // virtual (70, 60)
    FakeSdl::warps.clear();
    os_lock_mouse_cursor(0, 64, 64);
    EXPECT_EQ(app.mouse_locked, 0u);
    EXPECT_EQ(FakeSdl::warps, (std::vector<std::pair<int, int>>{{140, 120}}));
    pump();
    app.locked_dx_acc = 77;
    pump();
    EXPECT_EQ(app.locked_dx_acc, 0);  // accumulators cleared while unlocked
}

TEST_F(Lock, FullScreenClampsThePointerIntoThePictureWarpingOnlyWhenItMoved) {
    config.fullscreen = 1;
    FakeSdl::win_w = 1000;  // picture 960 x 540 at (20, 0)
    FakeSdl::px = 500;
    FakeSdl::py = 300;
    FakeSdl::warps.clear();
    os_lock_mouse_cursor(0, 64, 64);
    EXPECT_TRUE(FakeSdl::warps.empty());
    FakeSdl::px = 5;
    os_lock_mouse_cursor(0, 64, 64);
    EXPECT_EQ(FakeSdl::warps, (std::vector<std::pair<int, int>>{{20, 300}}));
}

TEST_F(Lock, LockingInFullScreenWithThePointerInTheBlackBarWarpsOnce) {
    config.fullscreen = 1;
    FakeSdl::win_w = 1000;
    FakeSdl::px = 3;  // in the bar
    FakeSdl::warps.clear();
    os_lock_mouse_cursor(4, 64, 64);
    EXPECT_EQ(FakeSdl::warps, (std::vector<std::pair<int, int>>{{500, 270}}));
    pump();
    os_lock_mouse_cursor(4, 64, 64);
    pump();
    // Only re-centring after that: never the edge of the picture.
    for (auto w : FakeSdl::warps) EXPECT_EQ(w, (std::pair<int, int>{500, 270}));
    EXPECT_EQ(virtual_mx, 0.0f);  // (3 - 20) / 2, clamped by the first motion
}

TEST_F(Lock, DegenerateWindowsAndHugeMotionsStayDefined) {
    struct Case {
        int w, h, dx, es, ms;
    };
    const Case cases[] = {
        {960, 540, 10000, 255, 255}, {960, 540, -10000, 255, 255}, {1, 1, 500, 255, 255},
        {300, 200, 10000, 255, 255},  // zero rectangle with stretch
        {960, 540, 7, 0, 0},
    };
    for (const Case &c : cases) {
        config.stretch = c.w == 300;
        FakeSdl::win_w = c.w;
        FakeSdl::win_h = c.h;
        app.mouse_locked = 0;
        os_lock_mouse_cursor(4, c.es, c.ms);
        for (int i = 0; i < 50; i++) {
            FakeSdl::motion(c.w / 2 + c.dx, c.h / 2 + c.dx);
            pump();
        }
        if (c.w > 1) {
            EXPECT_GE(virtual_mx, 0.0f);
            EXPECT_LE(virtual_mx, 479.0f);
        }
        wm_texts();
        if (c.es == 0) EXPECT_EQ(app.locked_dx_acc, 0);
    }
    app.locked_dx_acc = INT32_MAX - 10;
    app.skip_next_motion = 0;
    FakeSdl::win_w = 960;
    FakeSdl::win_h = 540;
    config.stretch = 0;
    os_lock_mouse_cursor(4, 255, 64);
    locked_motion(480 + 10000, 270);
    EXPECT_EQ(app.locked_dx_acc, INT32_MAX);
}

TEST_F(Pump, WarpingMapsScreenToWindowAndNeedsAWindow) {
    os_warp_mouse_pointer(10, 10);
    EXPECT_TRUE(FakeSdl::warps.empty());
    open_window(1000, 600);  // picture 960 x 540 at (20, 30)
    os_warp_mouse_pointer(240, 135);
    EXPECT_EQ(FakeSdl::warps, (std::vector<std::pair<int, int>>{{500, 300}}));
    EXPECT_EQ(virtual_mx, 240.0f);
    os_warp_mouse_pointer(INT32_MAX, INT32_MIN);
    EXPECT_EQ(FakeSdl::warps.back(), (std::pair<int, int>{INT32_MAX, INT32_MIN}));
}

}  // namespace
