// The sound path end to end: a window manager (a system process, so the
// audio bracket grants it) writes an instrument and a looping track into its
// own memory and plays it; SDL's disk driver takes the device's stream. The
// stream must carry sound, and an audio capture must hold whole device
// buffers cut from that same stream.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "e2e_driver.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

// One device buffer: 512 frames of two 16-bit samples.
constexpr size_t DEVICE_BUFFER_BYTES = 512 * 4;

// How long a case waits for sound before it gives up (a stall: sound comes
// a few device buffers after the track starts).
constexpr auto SOUND_WAIT = std::chrono::seconds(20);

// The volumes, the audio base (64 KB units: instruments at 0x40000, tracks at
// 0x50000), instrument 1 as one oscillator over the default wavetable's first
// wave, and track 0: four notes of instrument 1 looping for ever, started on
// channel 0.
constexpr const char *PLAY_A_TRACK =
    "poke(0x5538, 64) poke(0x5539, 64) poke(0x553A, 64) poke(0x553C, 3)\n"
    "local inst = 0x40000 + 512\n"
    "poke(inst, 0x00, 0x02, 0, 0)\n"
    "poke4(inst + 4, 0x4000, 1, 1, 1, 0, 0, 0)\n"
    "poke2(inst + 480, 0xF800) poke(inst + 482, 10, 255)\n"
    "local t = 0x50000\n"
    "poke2(t, 4) poke(t + 2, 6, 0, 4, 0)\n"
    "poke(t + 8, 48, 52, 55, 60,  1, 1, 1, 1,  64, 64, 64, 64,  0, 0, 0, 0,  0, 0, 0, 0)\n"
    "sfx(0, 0)\n";

// True when 'bytes' holds a sample other than zero.
bool has_sound(const std::string &bytes) {
    for (char c : bytes)
        if (c != 0) return true;
    return false;
}

TEST(AudioCalls, AnInstrumentAndATrackWrittenByTheWindowManagerReachTheDevice) {
    sandbox s;
    s.pack({{"system/wm.lua", std::string(PLAY_A_TRACK) + "_printh(\"wm: playing\") while true do flip() end\n"}});
    const std::string file = s.dir + "/device.raw";
    std::atomic<bool> heard{false};
    std::thread watcher;
    const run_result r = s.run(
        [&](const std::string &line, int pid) {
            if (line != "wm: playing" || watcher.joinable()) return;
            watcher = std::thread([&, pid] {
                const auto until = std::chrono::steady_clock::now() + SOUND_WAIT;
                while (!heard && std::chrono::steady_clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    heard = has_sound(read_file(file));
                }
                kill(pid, SIGTERM);
            });
        },
        {false, {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", file}}});
    if (watcher.joinable()) watcher.join();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("wm: playing"), std::string::npos) << diagnostics(r);
    EXPECT_TRUE(heard) << "the device's samples are all zero (" << read_file(file).size() << " bytes)";
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
}

TEST(Captures, AnAudioCaptureIsOneRunOfWholeDeviceBuffersFromTheDeviceStream) {
    sandbox s;
    s.pack({{"system/wm.lua",
             std::string("_signal(65)\n") + PLAY_A_TRACK +
                 "for i = 1, 20 do flip() end\n"
                 "_signal(16) _printh(\"wm: capturing\")\n"
                 "for i = 1, 60 do flip() end\n"
                 "_signal(16) _printh(\"wm: captured\")\n"
                 "for i = 1, 20 do flip() end\n"
                 "_signal(33) while true do flip() end\n"}});
    fs::create_directories(s.home + "/Desktop");
    const std::string file = s.dir + "/device.raw";
    const run_result r = s.run(nullptr, {false, {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", file}}});
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("wm: captured"), std::string::npos) << diagnostics(r);
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;

    const std::string captured = read_file(s.home + "/Desktop/quillmar_desktop/audio.raw");
    const std::string stream = read_file(file);
    ASSERT_FALSE(captured.empty()) << diagnostics(r);
    EXPECT_EQ(captured.size() % DEVICE_BUFFER_BYTES, 0u) << captured.size();
    EXPECT_TRUE(has_sound(captured)) << "the capture holds silence only";
    // About 60 frames of sound: well over a tenth of a second, under ten.
    EXPECT_GT(captured.size(), size_t(176400 / 10)) << captured.size();
    EXPECT_LT(captured.size(), size_t(176400 * 10)) << captured.size();

    // The capture begins at some device buffer of the stream and goes on
    // without a gap or a repeat.
    bool found = false;
    for (size_t at = 0; !found && at + captured.size() <= stream.size(); at += DEVICE_BUFFER_BYTES)
        found = std::memcmp(stream.data() + at, captured.data(), captured.size()) == 0;
    EXPECT_TRUE(found) << "capture of " << captured.size() << " bytes, stream of " << stream.size();
}

}  // namespace
