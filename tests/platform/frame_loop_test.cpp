// The frame loop over a booted ROM: pacing with a fake clock, video out,
// reboot and exit requests, and the end of the root process.
#include <SDL.h>
#include <csignal>

#include "boot_fixture.h"
#include "boot_hooks.h"

namespace {

using namespace platform_test;

/* ---- pacing ---- */

struct pacing_case {
    const char *name;
    uint32_t start;        // tick count at the end of the previous frame
    uint32_t work_ms;      // time the frame's work takes before its end
    uint32_t battery_saver;
    uint32_t boot_done;
    uint32_t input_age;    // ms since the last host input
    bool stuck;            // the clock does not move while sleeping
    int sleeps;            // expected 1 ms sleeps
    uint32_t frame_ms;     // expected time from the previous frame end to this one
    uint32_t idle;         // expected idle flag
};

void PrintTo(const pacing_case &c, std::ostream *os) { *os << c.name; }

class Pacing : public BootedMachine, public ::testing::WithParamInterface<pacing_case> {};

TEST_P(Pacing, HoldsTheFramePeriod) {
    const pacing_case &c = GetParam();
    boot();
    system_frame();  // the platform start, whose own events count as input
    config.battery_saver = c.battery_saver;
    fake_clock::reset(uint64_t(c.start) + c.work_ms);
    fake_clock::stuck = c.stuck;
    last_t = c.start;
    app.boot_done = c.boot_done;
    app.last_input_t = uint64_t(fake_clock::now) - c.input_age;

    system_frame();

    EXPECT_EQ(fake_clock::sleeps, c.sleeps);
    EXPECT_EQ(uint32_t(last_t - c.start), c.frame_ms);
    EXPECT_EQ(last_t, fake_clock::now);
    EXPECT_EQ(app.idle, c.idle);
}

INSTANTIATE_TEST_SUITE_P(
    FrameEnd, Pacing,
    ::testing::Values(
        pacing_case{"FiveMsOfWorkIsPacedToSixteen", 5000, 5, 0, 1, 0, false, 11, 16, 0},
        pacing_case{"TwentyMsOfWorkGetsNoSleep", 5000, 20, 0, 1, 0, false, 0, 20, 0},
        pacing_case{"AllFourIdleConditionsGiveThirtyTwo", 5000, 5, 1, 1, 501, false, 27, 32, 1},
        pacing_case{"InputWithinFiveHundredMsIsNotIdle", 5000, 5, 1, 1, 500, false, 11, 16, 0},
        pacing_case{"BootNotDoneGivesSixteen", 5000, 5, 1, 0, 10000, false, 11, 16, 0},
        pacing_case{"BatterySaverOffGivesSixteen", 5000, 5, 0, 1, 10000, false, 11, 16, 0},
        pacing_case{"AStuckClockStopsAfterOneHundredSleeps", 5000, 5, 0, 1, 0, true, 100, 5, 0},
        // Across 2^32 ms, where the tick count was 32 bits and wrapped (the
        // end of the period then wrapped below the clock: 100 sleeps).
        pacing_case{"AcrossTheWrapOfTheTickCount", 0xFFFFFFF8u, 5, 0, 1, 0, false, 11, 16, 0},
        pacing_case{"WorkEndingAfterTheWrap", 0xFFFFFFF8u, 10, 0, 1, 0, false, 6, 16, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BootedMachine, ConsecutiveFramesAreSixteenMsApart) {
    boot();
    system_frame();
    const uint64_t first = last_t;
    for (int i = 0; i < 5; i++) system_frame();
    EXPECT_EQ(last_t - first, 5 * FRAME_PERIOD_MS);
}

/* ---- video out ---- */

int video_out_calls = 0;
uint32_t frame_pixels[480 * 270];

uint32_t *counting_video_out(int32_t *width, int32_t *height) {
    video_out_calls++;
    *width = 480;
    *height = 270;
    return frame_pixels;
}

TEST_F(BootedMachine, HeadlessFramesNeverCallVideoOutOthersCallItOnce) {
    boot();
    frame_set_video_out(counting_video_out);
    video_out_calls = 0;
    for (int i = 0; i < 3; i++) system_frame();
    EXPECT_EQ(video_out_calls, 0);
    config.headless = 0;
    for (int i = 0; i < 3; i++) system_frame();
    EXPECT_EQ(video_out_calls, 3);
}

/* ---- reboot ---- */

TEST_F(BootedMachine, ARebootDuringAnExclusiveRunIsServedOnTheFirstFrameAfterTheRelease) {
    boot();
    system_frame();
    ASSERT_NE(create_process_from_code("coroutine.yield()", "marker", "/ram/marker.lua", ""), nullptr);
    app.exclusive_pid = 2;
    app.reboot_requested = 1;
    for (int i = 0; i < 3; i++) system_frame();
    EXPECT_EQ(app.reboot_requested, 1u);
    EXPECT_NE(get_process(2), nullptr);
    EXPECT_EQ(log_text().find("--- rebooting ---"), std::string::npos);

    app.exclusive_pid = 0;
    system_frame();
    EXPECT_EQ(app.reboot_requested, 0u);
    EXPECT_EQ(get_process(2), nullptr) << "the reset emptied the process table";
    ASSERT_NE(get_process(ROOT_PID), nullptr);
    EXPECT_EQ(root_process, get_process(ROOT_PID));
    EXPECT_NE(log_text().find("] --- rebooting ---\n\n"), std::string::npos);
}

TEST_F(BootedMachine, ARebootKeepsSettingsAndBlocksZeroesTheStateAndRestoresTheRom) {
    boot(kYieldingKernel, {{"system/readme.txt", "as packed", false}});
    system_frame();
    ASSERT_EQ(system_inited, 1);
    SDL_Quit();  // a platform start by the reboot would bring the events back

    config.volume = 77;
    buffer_rec *const rom_block = dat_file[1];
    app.signal36_flag = 1;
    app.gif_recording = 1;
    app.boot_alt_colours = 1;
    app.audio_focus = 9;
    app.last_input_t = 1234;
    app.frame_count = 500;
    write_vfile("/system/readme.txt", "changed");
    write_vfile("/system/extra.txt", "new");
    write_vfile("/ram/scratch.txt", "gone after the reboot");
    app.reboot_requested = 1;

    system_frame();

    EXPECT_EQ(config.volume, 77u);
    EXPECT_EQ(config.headless, 1u);
    EXPECT_EQ(dat_files, 2);
    EXPECT_EQ(dat_file[1], rom_block);
    EXPECT_EQ(app.signal36_flag, 0u);
    EXPECT_EQ(app.gif_recording, 0u);
    EXPECT_EQ(app.boot_alt_colours, 0u);
    EXPECT_EQ(app.last_input_t, 0u);
    EXPECT_EQ(app.audio_focus, -2);
    EXPECT_EQ(app.audio_synced_pid, -3);
    EXPECT_EQ(app.frame_count, 1u) << "counted again from the reboot";
    EXPECT_EQ(vfile("/system/readme.txt"), "as packed");
    EXPECT_EQ(vfile("/system/extra.txt"), "<missing>");
    EXPECT_EQ(vfile("/ram/scratch.txt"), "<missing>");
    EXPECT_EQ(vfile("/system/boot.lua"), kYieldingKernel);
    EXPECT_EQ(system_inited, 1);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_EVENTS), 0u) << "the platform was started again";
}

/* ---- the event pump ---- */

TEST_F(BootedMachine, TheQuitEventAndSigtermBecomeAnExitRequestOtherEventsAreDropped) {
    os_system_init();
    ASSERT_NE(SDL_WasInit(SDL_INIT_EVENTS), 0u);
    SDL_Event e{};
    e.type = SDL_USEREVENT;
    SDL_PushEvent(&e);
    handle_sdl_messages();
    EXPECT_EQ(app.exit_requested, 0u);
    EXPECT_EQ(SDL_PollEvent(&e), 0) << "the pump drains the queue";

    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
    handle_sdl_messages();
    EXPECT_EQ(app.exit_requested, 1u);

    app.exit_requested = 0;
    raise(SIGTERM);
    handle_sdl_messages();
    EXPECT_EQ(app.exit_requested, 1u);
    SDL_Quit();
}

/* ---- exit requests and the end of the root (the program exits) ---- */

using BootedMachineDeathTest = BootedMachine;

// Runs frames, writing "frame N" before each, until the program exits.
[[noreturn]] void frames_until_exit(int limit) {
    for (int i = 1; i <= limit; i++) {
        fprintf(stderr, "frame %d\n", i);
        system_frame();
    }
    fprintf(stderr, "still running\n");
    exit(3);
}

TEST_F(BootedMachineDeathTest, AnExitRequestEndsTheNextFrameWithStatusZero) {
    boot();
    EXPECT_EXIT(
        {
            system_frame();
            app.exit_requested = 1;
            frames_until_exit(5);
        },
        ::testing::ExitedWithCode(0), "frame 1\n$");
}

TEST_F(BootedMachineDeathTest, AnExitRequestWaitsSixtyFramesForAnExclusiveProcess) {
    boot();
    EXPECT_EXIT(
        {
            app.exclusive_pid = 77;  // never released
            app.exit_requested = 1;
            frames_until_exit(100);
        },
        ::testing::ExitedWithCode(0), "frame 61\n$");
}

TEST_F(BootedMachineDeathTest, AnExitRequestIsServedOnTheFrameAfterTheExclusiveRelease) {
    boot();
    EXPECT_EXIT(
        {
            app.exclusive_pid = 77;
            app.exit_requested = 1;
            for (int i = 0; i < 10; i++) system_frame();
            app.exclusive_pid = 0;
            frames_until_exit(5);
        },
        ::testing::ExitedWithCode(0), "frame 1\n$");
}

struct root_end_case {
    const char *name;
    const char *boot_lua;
    void (*after_first_frame)();
    const char *last_frame;  // "frame N" printed before the frame that ends the program
};

void PrintTo(const root_end_case &c, std::ostream *os) { *os << c.name; }

class RootEnd : public BootedMachine, public ::testing::WithParamInterface<root_end_case> {};

TEST_P(RootEnd, EndsTheProgramWithStatusOneBeforeItsNextSlice) {
    const root_end_case &c = GetParam();
    boot(c.boot_lua);
    EXPECT_EXIT(
        {
            dup2(2, 1);
            system_frame();
            if (c.after_first_frame) c.after_first_frame();
            frames_until_exit(3);
        },
        ::testing::ExitedWithCode(1), std::string(c.last_frame) + "\n\\*\\* root process ended\n$");
    EXPECT_NE(log_text().find("] ** root process ended\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    FrameLoop, RootEnd,
    ::testing::Values(root_end_case{"ItReturned", "coroutine.yield() return", nullptr, "frame 2"},
                      root_end_case{"ItWasKilled", kYieldingKernel, [] { kill_process_by_id(ROOT_PID); }, "frame 1"},
                      root_end_case{"ItWasHalted", kYieldingKernel,
                                    [] { get_process(ROOT_PID)->state = PROC_ENDED; }, "frame 1"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
