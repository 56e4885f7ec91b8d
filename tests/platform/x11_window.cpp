// The real window under X11 in a virtual X server: title, geometry and
// frames read back through Xlib, and input injected with XTest on the
// test's own connection.
#include <algorithm>
#include <random>

// The test framework first: the X headers define None, Bool and Status.
#include "fake_sdl_fixture.h"
#include "host.h"
#include "host_services.h"
#include "lua.hpp"
#include "presentation.h"

#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace platform_test;

class X11Window : public FakeSdlTest {
protected:
    void SetUp() override {
        FakeSdlTest::SetUp();
        FakeSdl::restore();
        frame_clock_set(nullptr, nullptr);  // real time: SDL's events carry it
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS | SDL_INIT_VIDEO), 0) << SDL_GetError();
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        start_processes();
        config.fullscreen = 0;
        config.pixel_perfect = 1;
        config.pixel_scale = 2;
        quillmar_apply_settings();
        ASSERT_NE(sdl_window, nullptr);
        settle();
    }
    void TearDown() override {
        if (display) XCloseDisplay(display);
        window_reset();
        video_hash0 = 0xFFFFFFFFu;
        SDL_QuitSubSystem(SDL_INIT_EVENTS | SDL_INIT_VIDEO);
        FakeSdlTest::TearDown();
    }

    Window xwindow() const {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        EXPECT_TRUE(SDL_GetWindowWMInfo(sdl_window, &info));
        return info.info.x11.window;
    }

    // Pumps for 'ms' milliseconds, collecting the window manager's texts
    // (those a move_to pumped first).
    std::vector<std::string> pump_for(int ms) {
        std::vector<std::string> all;
        all.swap(pending_);
        const uint32_t end = SDL_GetTicks() + uint32_t(ms);
        while (SDL_GetTicks() < end) {
            handle_sdl_messages();
            for (auto &t : wm_texts()) all.push_back(t);
            SDL_Delay(5);
        }
        return all;
    }

    // Pumps until 'text' arrives (at most kStallMs); the texts up to it
    // (those a move_to pumped first).
    std::vector<std::string> pump_until(const std::string &text) {
        std::vector<std::string> all;
        all.swap(pending_);
        const uint32_t end = SDL_GetTicks() + uint32_t(kStallMs);
        while (SDL_GetTicks() < end) {
            handle_sdl_messages();
            for (auto &t : wm_texts()) all.push_back(t);
            if (std::find(all.begin(), all.end(), text) != all.end()) return all;
            SDL_Delay(5);
        }
        ADD_FAILURE() << "no " << text;
        return all;
    }

    // Lets the window appear and take focus, the pointer reach it, and the
    // keys' delay after the last focus gain pass.
    void settle() {
        XSync(display, False);
        EXPECT_TRUE(eventually([&] {
            pump_for(10);
            return (SDL_GetWindowFlags(sdl_window) & SDL_WINDOW_INPUT_FOCUS) != 0;
        })) << "the window never took the focus";
        move_to(10, 10);
        EXPECT_TRUE(eventually([&] {
            pump_for(10);
            return get_ticks() > app.focus_gained_t + FOCUS_KEY_DELAY_MS;
        }));
    }

    // The pointer to window position (x, y), pumped until SDL has it there.
    void move_to(int x, int y) {
        int rx = 0, ry = 0;
        Window child;
        XTranslateCoordinates(display, xwindow(), DefaultRootWindow(display), 0, 0, &rx, &ry, &child);
        XTestFakeMotionEvent(display, -1, rx + x, ry + y, 0);
        XSync(display, False);
        std::vector<std::string> texts;
        EXPECT_TRUE(eventually([&] {
            for (auto &t : pump_for(10)) texts.push_back(t);
            int at_x = -1, at_y = -1;
            SDL_GetMouseState(&at_x, &at_y);
            return at_x == x && at_y == y;
        })) << "the pointer never reached " << x << "," << y;
        pending_ = std::move(texts);
    }

    void click(unsigned button, bool down) {
        XTestFakeButtonEvent(display, button, down, 0);
        XSync(display, False);
    }

    Display *display = nullptr;
    std::vector<std::string> pending_;  // texts pumped by move_to, not yet taken
};

TEST_F(X11Window, TitleGeometryAndRecreation) {
    const Window w = xwindow();
    char *name = nullptr;
    ASSERT_TRUE(XFetchName(display, w, &name));
    EXPECT_STREQ(name, "Quillmar");
    XFree(name);
    XWindowAttributes a;
    XGetWindowAttributes(display, w, &a);
    EXPECT_EQ(a.width, 960);
    EXPECT_EQ(a.height, 540);

    quillmar_apply_settings();  // the same settings keep the window
    EXPECT_EQ(xwindow(), w);
    SDL_SetWindowSize(sdl_window, 1000, 600);
    pump_for(100);
    config.stretch = 1;
    quillmar_apply_settings();
    const Window again = xwindow();
    EXPECT_NE(again, w);
    XGetWindowAttributes(display, again, &a);
    EXPECT_EQ(a.width, 1000);
    EXPECT_EQ(a.height, 600);
}

TEST_F(X11Window, FramesArriveExactlyInTheWindow) {
    std::mt19937 rng(5);
    std::vector<uint32_t> frame(SCREEN_W * SCREEN_H);
    for (uint32_t &p : frame) p = rng() & 0xFFFFFF;
    blit_to_sdl_window_hardware(frame.data(), SCREEN_W);
    XSync(display, False);
    // Read back until the frame is there (the renderer may present it late).
    auto shown = [&](XImage *img) {
        for (int y = 0; y < SCREEN_H; y += 23)
            for (int x = 0; x < SCREEN_W; x += 29)
                if ((uint32_t(XGetPixel(img, x * 2 + 1, y * 2 + 1)) & 0xFFFFFF) != frame[size_t(y) * SCREEN_W + x])
                    return false;
        return true;
    };
    eventually([&] {
        XImage *img = XGetImage(display, xwindow(), 0, 0, 960, 540, AllPlanes, ZPixmap);
        const bool done = img && shown(img);
        if (img) XDestroyImage(img);
        return done;
    });
    XImage *img = XGetImage(display, xwindow(), 0, 0, 960, 540, AllPlanes, ZPixmap);
    ASSERT_NE(img, nullptr);
    for (int y = 0; y < SCREEN_H; y += 23)
        for (int x = 0; x < SCREEN_W; x += 29)
            ASSERT_EQ(uint32_t(XGetPixel(img, x * 2 + 1, y * 2 + 1)) & 0xFFFFFF, frame[size_t(y) * SCREEN_W + x])
                << x << "," << y;
    XDestroyImage(img);
}

TEST_F(X11Window, KeysButtonsWheelAndPosition) {
    move_to(481, 271);
    pump_until("{event=\"mouse\",mx=240,my=135,mb=0}");

    const KeyCode a = XKeysymToKeycode(display, XK_a);
    XTestFakeKeyEvent(display, a, True, 0);
    XTestFakeKeyEvent(display, a, False, 0);
    XSync(display, False);
    auto texts = pump_until("{event=\"keyup\",scancode=4}");
    const auto down = std::find(texts.begin(), texts.end(), "{event=\"keydown\",scancode=4}");
    EXPECT_NE(down, texts.end());

    const std::pair<unsigned, int> buttons[] = {{1, 1}, {3, 2}, {2, 4}};
    for (auto [button, mb] : buttons) {
        click(button, true);
        pump_until("{event=\"mouse\",mx=240,my=135,mb=" + std::to_string(mb) + "}");
        click(button, false);
        pump_until("{event=\"mouse\",mx=240,my=135,mb=0}");
    }
    for (auto [button, dy] : {std::pair<unsigned, int>{4, 1}, {5, -1}}) {
        click(button, true);
        click(button, false);
        pump_until("{event=\"mousewheel\",wheel_x=0,wheel_y=" + std::to_string(dy) + "}");
    }
}

TEST_F(X11Window, LockedMotionCountsWholeSteps) {
    move_to(200, 200);
    os_lock_mouse_cursor(4, 64, 64);
    pump_for(100);
    int total = 0;
    auto count = [&](const std::vector<std::string> &texts) {
        for (const std::string &t : texts) {
            int dx = 0, dy = 0;
            if (sscanf(t.c_str(), "{event=\"mouselockedmove\",locked_dx=%d,locked_dy=%d}", &dx, &dy) == 2) total += dx;
        }
    };
    count(wm_texts());
    for (int i = 0; i < 5; i++) {
        XTestFakeRelativeMotionEvent(display, 8, 0, 0);
        XSync(display, False);
        count(pump_for(60));
    }
    // Steps the server delivers late still count; a count past 20 stays.
    eventually([&] {
        count(pump_for(10));
        return total >= 20;
    });
    EXPECT_EQ(total, 20);  // 40 window pixels at scale 2
    os_lock_mouse_cursor(0, 64, 64);
}

TEST_F(X11Window, DeleteWindowRequestsExit) {
    XEvent e;
    memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = xwindow();
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, xwindow(), False, NoEventMask, &e);
    XSync(display, False);
    eventually([&] {
        pump_for(10);
        return app.exit_requested != 0;
    });
    EXPECT_EQ(app.exit_requested, 1u);
}

TEST_F(X11Window, TheIconReachesTheWindowProperty) {
    uint32_t palette[64];
    for (int i = 0; i < 64; i++) palette[i] = 0x030507u * uint32_t(i);
    uint8_t pixels[256] = {};
    pixels[0] = 65;
    os_set_window_icon(pixels, 16, 16, palette);
    XSync(display, False);
    Atom type;
    int format;
    unsigned long n = 0, after = 0;
    unsigned char *data = nullptr;
    ASSERT_EQ(XGetWindowProperty(display, xwindow(), XInternAtom(display, "_NET_WM_ICON", False), 0, 1 << 20, False,
                                 AnyPropertyType, &type, &format, &n, &after, &data),
              Success);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(n, 2u + 128 * 128);
    const long *v = reinterpret_cast<const long *>(data);
    EXPECT_EQ(v[0], 128);
    EXPECT_EQ(v[1], 128);
    EXPECT_EQ(uint32_t(v[2]), palette[1] | 0xFF000000u);
    EXPECT_EQ(uint32_t(v[2 + 8]), 0u);
    XFree(data);
}

TEST_F(X11Window, TheClipboardRoundTrips) {
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    os_add_public_c_functions(L);
    ASSERT_EQ(luaL_dostring(L, "_set_host_clipboard_text('abc \\128') return _get_host_clipboard_text()"), LUA_OK);
    EXPECT_STREQ(lua_tostring(L, -1), "abc \x80");
    lua_close(L);
}

}  // namespace
