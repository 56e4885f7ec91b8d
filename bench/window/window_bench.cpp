// Window benchmarks. Presentation: SDL's software renderer under the dummy
// video driver, through the real os_apply_video_config and
// blit_to_sdl_window_hardware, a fixed random frame, 100 warm-up and 1,000
// measured presents per mode, interleaved with the baseline: in the same
// window and renderer, SDL_UpdateTexture of a buffer of the texture's size
// prepared beforehand, SDL_RenderClear, SDL_RenderCopy into the same
// rectangle and SDL_RenderPresent. The enlargement and the resampler alone
// against memcpy of their output size.
//
// Lines: "window present <mode> vs upload: R", "window present <mode> vs
// frame: R" (time per present over the 16 ms frame), "window preblit 4x vs
// memcpy: R", "window resample 720p vs memcpy: R"; the last line is
// "window worst goal margin: M", the largest ratio divided by its goal.
// Without a display it runs itself again under xvfb-run.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "address_space.h"
#include "app_state.h"
#include "frame_loop.h"
#include "pdisk.h"
#include "presentation.h"
#include "process.h"
#include "settings.h"
#include "startup.h"
#include "window.h"

namespace {

using clock_type = std::chrono::steady_clock;

double worst_margin = 0;

void report(const std::string &what, double ratio, double goal) {
    printf("window %s: %.3f (goal %.2f)\n", what.c_str(), ratio, goal);
    worst_margin = std::max(worst_margin, ratio / goal);
}

double seconds_since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

struct mode {
    const char *name;
    int perfect, hd, w, h;
    double goal_upload, goal_frame;
};

void bench_present(const std::vector<uint32_t> &frame) {
    const mode modes[] = {
        {"1x", 1, 0, 960, 540, 1.05, 0.02},   {"2x", 0, 0, 800, 450, 1.15, 0.04},
        {"3x", 0, 0, 960, 540, 1.15, 0.08},   {"4x", 0, 0, 1920, 1080, 1.15, 0.12},
        {"720p", 0, 1, 1280, 720, 1.25, 0.06},
    };
    for (const mode &m : modes) {
        window_reset();
        memset(&config, 0, sizeof config);
        config.pixel_perfect = uint32_t(m.perfect);
        config.blit_720p = uint32_t(m.hd);
        last_win_w = m.w;
        last_win_h = m.h;
        os_apply_video_config();
        if (!sdl_texture) {
            printf("window present %s: no texture\n", m.name);
            exit(1);
        }
        std::vector<uint32_t> prepared(size_t(texture_w) * size_t(texture_h), 0x123456);
        SDL_Rect rect;
        get_dest_rect(&rect);
        auto ours = [&] { blit_to_sdl_window_hardware(frame.data(), SCREEN_W); };
        auto base = [&] {
            SDL_UpdateTexture(sdl_texture, nullptr, prepared.data(), texture_w * 4);
            SDL_RenderClear(sdl_renderer);
            SDL_RenderCopy(sdl_renderer, sdl_texture, nullptr, &rect);
            SDL_RenderPresent(sdl_renderer);
        };
        for (int i = 0; i < 100; i++) {
            ours();
            base();
        }
        double t_ours = 0, t_base = 0;
        for (int round = 0; round < 10; round++) {
            auto t0 = clock_type::now();
            for (int i = 0; i < 100; i++) ours();
            t_ours += seconds_since(t0);
            t0 = clock_type::now();
            for (int i = 0; i < 100; i++) base();
            t_base += seconds_since(t0);
        }
        report(std::string("present ") + m.name + " vs upload", t_ours / t_base, m.goal_upload);
        report(std::string("present ") + m.name + " vs frame", (t_ours / 1000) / 0.016, m.goal_frame);
    }
    window_reset();
}

template <typename F, typename G>
double ratio_of(F f, G g, int reps) {
    double a = 0, b = 0;
    for (int round = 0; round < 10; round++) {
        auto t0 = clock_type::now();
        for (int i = 0; i < reps; i++) f();
        a += seconds_since(t0);
        t0 = clock_type::now();
        for (int i = 0; i < reps; i++) g();
        b += seconds_since(t0);
    }
    return a / b;
}

void bench_scaling(const std::vector<uint32_t> &frame) {
    std::vector<uint32_t> out(1920 * 1080), src(1920 * 1080, 7);
    report("preblit 4x vs memcpy",
           ratio_of([&] { preblit_frame(frame.data(), SCREEN_W, 4, out.data()); },
                    [&] { memcpy(out.data(), src.data(), 1920 * 1080 * 4); }, 50),
           1.3);
    report("resample 720p vs memcpy",
           ratio_of([&] { resample_720p(frame.data(), SCREEN_W, out.data()); },
                    [&] { memcpy(out.data(), src.data(), 1280 * 720 * 4); }, 50),
           2.0);
}

// ---- input latency ----

// The benchmark's window manager: counts key-downs, left-button presses and
// presses of button 4 (first action) and pokes the three counts each frame.
const char *kLatencyWm = R"lua(
_printh("wm: ready " .. pid())
local keys, clicks, pads = 0, 0, 0
local held, was = false, false
while true do
	_update_buttons(true)
	local m = _read_message()
	while m ~= nil do
		if m.event == "keydown" then keys = keys + 1 end
		if m.event == "mouse" then
			local down = (m.mb & 1) == 1
			if down and not held then clicks = clicks + 1 end
			held = down
		end
		m = _read_message()
	end
	local b = btn(4) and true or false
	if b and not was then pads = pads + 1 end
	was = b
	poke4(0x80000, keys)
	poke4(0x80004, clicks)
	poke4(0x80008, pads)
	flip()
end
)lua";

constexpr int KINDS = 3;
constexpr const char *kKindNames[KINDS] = {"key", "mouse", "controller"};
constexpr int EVENTS_PER_KIND = 200;

std::atomic<uint64_t> frames_begun{0};
std::mutex pending_lock;
struct pending_event {
    bool active = false;
    int kind = 0;
    uint64_t begun_at = 0;  // frames begun when it was injected
    int32_t target = 0;     // the count that shows it arrived
} pending;
std::vector<double> latencies[KINDS];
std::atomic<bool> injector_done{false};
std::string latency_home;  // the run's HOME, removed at the end

int32_t wm_count(int kind) {
    process_rec *wm = get_process(3);
    return wm ? peek4_proc(wm, 0x80000 + uint32_t(kind) * 4) : 0;
}

void injector(Window window, SDL_Joystick *pad) {
    Display *d = XOpenDisplay(nullptr);
    if (!d) {
        injector_done = true;
        return;
    }
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
    XTestFakeMotionEvent(d, -1, rx + 200, ry + 200, 0);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const KeyCode a = XKeysymToKeycode(d, XK_a);
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> wait_us(0, 48000);
    int32_t counts[KINDS] = {0, 0, 0};
    for (int i = 0; i < EVENTS_PER_KIND * KINDS; i++) {
        const int kind = i % KINDS;
        std::this_thread::sleep_for(std::chrono::microseconds(wait_us(rng)));
        {
            std::lock_guard<std::mutex> g(pending_lock);
            pending = {true, kind, frames_begun.load(), ++counts[kind]};
        }
        if (kind == 0) {
            XTestFakeKeyEvent(d, a, True, 0);
            XSync(d, False);
        } else if (kind == 1) {
            XTestFakeButtonEvent(d, 1, True, 0);
            XSync(d, False);
        } else {
            SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 1);
        }
        for (int w = 0; w < 2000; w++) {  // at most 2 s
            {
                std::lock_guard<std::mutex> g(pending_lock);
                if (!pending.active) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (kind == 0) XTestFakeKeyEvent(d, a, False, 0);
        else if (kind == 1) XTestFakeButtonEvent(d, 1, False, 0);
        else SDL_JoystickSetVirtualButton(pad, SDL_CONTROLLER_BUTTON_A, 0);
        XSync(d, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(70));  // the release arrives
    }
    XCloseDisplay(d);
    injector_done = true;
}

// Runs the shipped kernel with the benchmark window manager under X11 and
// measures the frames each injected event takes to reach it.
void bench_latency() {
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    static char home[] = "/tmp/quillmar_bench_window_XXXXXX";
    if (!mkdtemp(home)) return;
    latency_home = home;
    setenv("HOME", home, 1);
    std::string argv0 = QUILLMAR_BIN;
    char *argv[] = {argv0.data(), nullptr};
    quillmar_start(1, argv);
    pfile_rec *f = pfopen("/system/wm.lua", "w");
    if (!f) {
        printf("window latency: could not replace the window manager\n");
        return;
    }
    pfwrite(kLatencyWm, 1, int64_t(strlen(kLatencyWm)), f);
    pfclose(f);

    for (int i = 0; i < 30; i++) {
        frames_begun++;
        system_frame();
    }
    if (!sdl_window) {
        printf("window latency: no window\n");
        return;
    }
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "bench pad";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    SDL_Joystick *pad = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    for (int i = 0; i < 10; i++) {
        frames_begun++;
        system_frame();
    }
    Window xwin = 0;
    {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(sdl_window, &info)) xwin = info.info.x11.window;
    }
    std::thread t(injector, xwin, pad);
    while (!injector_done) {
        frames_begun++;
        system_frame();
        std::lock_guard<std::mutex> g(pending_lock);
        if (pending.active && wm_count(pending.kind) >= pending.target) {
            latencies[pending.kind].push_back(double(frames_begun.load() - pending.begun_at));
            pending.active = false;
        }
    }
    t.join();
    for (int k = 0; k < KINDS; k++) {
        const std::vector<double> &v = latencies[k];
        if (v.empty()) {
            printf("window latency %s: no events arrived\n", kKindNames[k]);
            worst_margin = std::max(worst_margin, 99.0);
            continue;
        }
        double sum = 0, worst = 0;
        for (double x : v) {
            sum += x;
            worst = std::max(worst, x);
        }
        report(std::string("latency ") + kKindNames[k], sum / double(v.size()), 1.05);
        printf("window latency %s worst: %.0f frames over %zu events\n", kKindNames[k], worst, v.size());
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (!getenv("DISPLAY") && !getenv("QUILLMAR_BENCH_NESTED")) {
        setenv("QUILLMAR_BENCH_NESTED", "1", 1);
        std::vector<char *> args = {const_cast<char *>("xvfb-run"), const_cast<char *>("-a"),
                                    const_cast<char *>("-s"), const_cast<char *>("-screen 0 1920x1080x24")};
        for (int i = 0; i < argc; i++) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        perror("xvfb-run");
        return 1;
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        printf("window: no video: %s\n", SDL_GetError());
        return 1;
    }
    std::mt19937 rng(11);
    std::vector<uint32_t> frame(SCREEN_W * SCREEN_H);
    for (uint32_t &p : frame) p = rng() & 0xFFFFFF;
    bench_present(frame);
    bench_scaling(frame);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    fflush(stdout);
    bench_latency();
    if (!latency_home.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(latency_home, ec);
    }
    printf("window worst goal margin: %.3f\n", worst_margin);
    return 0;
}
