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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app_state.h"
#include "presentation.h"
#include "settings.h"
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
    printf("window latency key: not measured (the window manager's button and poke calls are not built)\n");
    printf("window latency mouse: not measured\n");
    printf("window latency controller: not measured\n");
    printf("window worst goal margin: %.3f\n", worst_margin);
    return 0;
}
