// The engine shared between a device stand-in thread, which mixes 512 frames
// every half millisecond under the device mutex, and the main thread, which
// for two seconds, and on until both threads have done enough rounds (a slow
// machine, the sanitizers), writes a live process's pages, takes brackets,
// starts and stops notes, tracks and music, queries state, restarts and
// kills the focus process and changes the volume and the swap. Every sample
// must stay in range; `make test` also runs this under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "mudo.h"
#include "mudo_testing.h"
#include "runtime_fixture.h"

namespace {

std::mutex device_lock;
int lock_level;  // main thread only

}  // namespace

// The audio lock as the device layer provides it: a nesting level over the
// device mutex, taken at the outermost level.
extern "C" void os_lock_audio(void) {
    if (lock_level++ == 0) device_lock.lock();
}

extern "C" void os_unlock_audio(void) {
    if (--lock_level == 0) device_lock.unlock();
}

namespace {

using Concurrency = RuntimeTest;

inline constexpr long kBlocks = 100;  // device blocks mixed, at least
inline constexpr long kOps = 1000;    // main-thread operations, at least

TEST_F(Concurrency, MixerThreadAndMainThreadShareTheEngine) {
    mudo_reinit_for_tests();
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0}, bad{0};
    std::thread device([&] {
        std::vector<int16_t> out(1024);
        while (!stop.load()) {
            {
                std::lock_guard<std::mutex> g(device_lock);
                mudo_mix(out.data(), 512);
            }
            for (int16_t s : out)
                if (s < -32767) bad++;
            blocks++;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    spawn("", "root");
    std::mt19937 rng(99);
    auto fresh_focus = [&] {
        process_rec *p = spawn("", "music");
        // An instrument, a track and a pattern in the process's own memory.
        poke_proc(p, 0x5538, 64);
        poke_proc(p, 0x5539, 64);
        uint32_t inst = 0x10000 + 512;
        poke_proc(p, inst + 1, 2);
        poke4_proc(p, inst + 4, 64 << 8);
        poke2_proc(p, inst + 480, 0xF800);
        poke_proc(p, inst + 482, 10);
        poke_proc(p, inst + 483, 255);
        uint32_t t = 0x20000;
        poke2_proc(p, t, 4);
        poke_proc(p, t + 2, 3);
        for (uint32_t r = 0; r < 4; r++) {
            poke_proc(p, t + 8 + r, 40 + r * 3);
            poke_proc(p, t + 12 + r, 1);
            poke_proc(p, t + 16 + r, 50);
        }
        poke_proc(p, 0x100 + 9, 0xFF);
        return p->id;
    };
    int64_t focus = fresh_focus();
    const auto start = std::chrono::steady_clock::now();
    const auto until = start + std::chrono::seconds(2), stall = start + std::chrono::seconds(120);
    uint8_t buf[32768 * 4];
    long ops = 0;
    const auto going = [&] {
        const auto now = std::chrono::steady_clock::now();
        return now < until || ((blocks.load() <= kBlocks || ops <= kOps) && now < stall);
    };
    while (going()) {
        process_rec *p = get_process(focus);
        if (!p) focus = fresh_focus(), p = get_process(focus);
        ops++;
        poke_proc(p, 0x30000 + (rng() % 0x10000), int64_t(rng()));
        int what = int(rng() % 12);
        if (what < 7) {
            if (audio_op_start(focus, 1) != 0) continue;
            switch (what) {
            case 0: mudo_set_note(int32_t(rng() % 16), 30 + int32_t(rng() % 40), 1, 64, 0, 0, 1, 0); break;
            case 1: mudo_play_track(0, -1, 0, 0, 0, int32_t(rng() % 255) - 127, 64, 0); break;
            case 2: mudo_play_music(0, int32_t(rng() % 100), 0xFF, 0); break;
            case 3: mudo_fade_out_music(int32_t(rng() % 50)); break;
            case 4: mudo_get_channel_state(int32_t(rng() % 16), int32_t(rng() % 30), buf); break;
            case 5: mudo_get_channel_state(-1, -1, buf); break;
            default: mudo_play_track(-1 - int32_t(rng() % 4), -1, 64, 0, 0, 0, 0, 0); break;
            }
            audio_op_end();
        } else if (what == 7) {
            if (audio_op_start(0, 1) == 0) os_unlock_audio();  // the frame end's form
        } else if (what == 8 && rng() % 50 == 0) {
            restart_process(p);
        } else if (what == 9 && rng() % 80 == 0) {
            kill_process_by_id(focus);
        } else if (what == 10) {
            mudo_set_volume(int32_t(rng() % 300));
        } else {
            mudo_set_stereo_swap(int32_t(rng() & 1));
        }
        EXPECT_EQ(lock_level, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    stop = true;
    device.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(blocks.load(), kBlocks);
    EXPECT_GT(ops, kOps);
}

}  // namespace
