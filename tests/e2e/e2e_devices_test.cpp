// The real program's audio device: SDL's disk driver receives the mixer's
// stream at its rate, and a driver that does not exist leaves the system
// running silent; SIGTERM ends both with status 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "e2e_driver.h"

namespace {

using namespace e2e;

int64_t file_size(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

TEST(AudioDevice, TheDiskDriverGrowsAtTheStreamsRateUntilSigterm) {
    sandbox s;
    s.pack();
    const std::string file = s.dir + "/audio.raw";
    std::atomic<int64_t> grown{-1};
    std::thread timer;
    const run_result r = s.run(
        [&](const std::string &line, int pid) {
            if (line != "kernel: boot" || timer.joinable()) return;
            timer = std::thread([&, pid] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                const int64_t a = file_size(file);
                std::this_thread::sleep_for(std::chrono::seconds(2));
                grown = file_size(file) - a;
                kill(pid, SIGTERM);
            });
        },
        {false, {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", file}}});
    if (timer.joinable()) timer.join();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    const double per_second = double(grown) / 2.0;
    EXPECT_GT(per_second, 176400.0 / 2) << grown;
    EXPECT_LT(per_second, 176400.0 * 2) << grown;
}

TEST(AudioDevice, AMissingDriverIsReportedAndTheSystemStillBootsAndEnds) {
    sandbox s;
    s.pack();
    const run_result r = s.run(
        [](const std::string &line, int pid) {
            if (line == "kernel: boot") kill(pid, SIGTERM);
        },
        {false, {{"SDL_AUDIODRIVER", "nosuch"}}});
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("** audio init failed "), std::string::npos) << diagnostics(r);
    EXPECT_NE(r.out.find("nosuch"), std::string::npos) << diagnostics(r);
    EXPECT_NE(r.out.find("kernel: boot"), std::string::npos) << diagnostics(r);
}

}  // namespace
