// The boot clock counts 16.6 ms per frame from its first reading after a
// reset with a non-zero frame count.
#include <gtest/gtest.h>

#include "boot_screen.h"
#include "host.h"

TEST(BootClock, StartsAtTheFirstCountedFrameAndAdvances16Point6MsAFrame) {
    app = app_state_rec{};
    EXPECT_EQ(boot_get_time(), 0u) << "frame 0 latches nothing";
    EXPECT_EQ(app.boot_start_frame, 0u);
    app.frame_count = 5;
    EXPECT_EQ(boot_get_time(), 0u);
    EXPECT_EQ(app.boot_start_frame, 5u);
    struct Case {
        uint64_t frame;
        uint32_t ms;
    } cases[] = {{6, 16}, {10, 83}, {65, 996}, {137, 2191}, {138, 2207}};
    for (const auto &c : cases) {
        app.frame_count = c.frame;
        EXPECT_EQ(boot_get_time(), c.ms) << c.frame;
    }
}

TEST(BootClock, TheGateOpensAtTheFrameThatReaches2200Ms) {
    app = app_state_rec{};
    app.frame_count = 1;
    boot_get_time();
    app.frame_count = 1 + 132;  // 2191.2 ms
    EXPECT_LT(static_cast<int32_t>(boot_get_time()), 2200);
    app.frame_count = 1 + 133;  // 2207.8 ms
    EXPECT_GE(static_cast<int32_t>(boot_get_time()), 2200);
}

TEST(BootClock, SaturatesInsteadOfWrappingAndBootInitRestartsIt) {
    app = app_state_rec{};
    app.frame_count = 1;
    boot_get_time();
    struct Case {
        uint64_t frames;
        uint32_t ms;
    } cases[] = {{129366484, 2147483634u}, {129366485, 0x7FFFFFFFu}, {1ull << 40, 0x7FFFFFFFu}, {~0ull, 0x7FFFFFFFu}};
    for (const auto &c : cases) {
        app.frame_count = 1 + c.frames;
        EXPECT_EQ(boot_get_time(), c.ms) << c.frames;
    }
    boot_init();
    EXPECT_EQ(app.boot_start_frame, 0u);
    EXPECT_EQ(boot_get_time(), 0u);
}
