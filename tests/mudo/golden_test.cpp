// Golden renders: six scenes built by engine calls between 512-frame mixes,
// each compared by CRC-32 with the output recorded once the engine's other
// tests passed, and rendered twice from a fresh engine to the same bytes,
// and once more after another scene and a reset of only what it changed.
// A changed constant needs a commit that says why.
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "mudo_fixture.h"

namespace {

using namespace mt;

void common_setup() {
    mudo_kill_all_audio();
    mudo_set_volume(256);
    poke8(0x5538, 64);
    poke8(0x5539, 64);
    triangle_wave(0x100000, 10);
    // A second table of four waves: saws of rising steepness.
    for (int w = 0; w < 4; w++)
        for (int i = 0; i < 256; i++)
            poke16(0x108000 + uint32_t(w * 256 + i) * 2, uint16_t(int16_t((i - 128) * 200 * (w + 1) / 4)));
}

// Mixes 'blocks' blocks after 'reinit', calling step(b) before block b.
std::vector<int16_t> scene(int blocks, const std::function<void()> &setup, const std::function<void(int)> &step,
                           void (*reinit)() = mudo_reinit_for_tests) {
    reinit();
    common_setup();
    setup();
    std::vector<int16_t> out;
    std::vector<int16_t> block(1024);
    for (int b = 0; b < blocks; b++) {
        step(b);
        mudo_mix(block.data(), 512);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

// Whether the 'n' bytes at 'p' are all zero.
bool all_zero(const void *p, size_t n) {
    static const std::vector<uint8_t> zeros(size_t(1) << 20);
    for (size_t at = 0; at < n; at += zeros.size())
        if (std::memcmp(static_cast<const uint8_t *>(p) + at, zeros.data(), std::min(n - at, zeros.size())) != 0)
            return false;
    return true;
}

struct golden {
    const char *name;
    int blocks;
    std::function<void()> setup;
    std::function<void(int)> step;
    uint32_t crc;
};

void no_step(int) {}

std::vector<golden> goldens() {
    return {
        {"one oscillator", 40,
         [] {
             node(1, 0, 0, 0, 2, 0, 0, {mval(0, 64), mval(1, 0), mval(1, 0), mval(1, 0)});
             descriptor(1, 0, 0x1000, 10, 1);
             mudo_set_note(0, 48, 1, 64, 0, 0, 1, 0);
             mudo_set_channel_mix_vol(0, 64);
         },
         no_step, 0xF2E70E8C},
        {"fm and multiply with adsr and lfo", 60,
         [] {
             node(1, 0, 0, 0, 1, 0, 0, {mval(4 | 1, 255, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
             envelope(1, 0, 0, 0, 0, 0, 0, 0, {8, 20, 120, 12});
             node(1, 1, 0, 0, 2, 0, 0, {mval(0, 48), mval(1, 0), mval(1, 0), mval(4 | 1, 40, 0, 1)});
             envelope(1, 1, 1, 0, 0, 0, 0, 0, {0, 0, 0, 0, 40, 0, 64});
             node(1, 2, 1, 1, 2, 1, 0, {mval(0, 20, 0, 0x40), mval(1, 0), mval(1, 12), mval(1, 0), mval(0, 128)});
             node(1, 3, 0, 2, 2, 0, 0, {mval(0, 64), mval(1, 0), mval(1, 5), mval(1, 0)});
             descriptor(1, 0, 0x1000, 10, 1);
             descriptor(1, 1, 0x1080, 8, 4);
             mudo_set_channel_mix_vol(1, 64);
         },
         [](int b) {
             if (b == 0) mudo_set_note(1, 48, 1, 64, 0, 0, 1, 0);
             if (b == 30) mudo_set_note(1, 255, 255, 255, 255, 255, 0, MUDO_KEEP_PAN);
             if (b == 45) mudo_set_note(1, 55, 1, 64, 0, 0, 1, 0);
         },
         0x15EEC78E},
        {"wide with filter, echo and gain fold", 60,
         [] {
             inst_flags(2, 2);
             node(2, 0, 0, 0, 1, 0, 0, {mval(1, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
             node(2, 1, 0, 0, 2, 0, 0, {mval(0, 50), mval(1, 0), mval(1, 0), mval(1, 0)});
             node(2, 2, 0, 0, 8, 0, 0, {mval(0, 120), mval(0, 10), mval(1, 40)});
             node(2, 3, 0, 0, 9, 0, 0, {mval(0, 3), mval(0, 150)});
             node(2, 4, 0, 0, 10, 0, 0, {mval(0, 200), mval(0, 255), mval(0, 60), mval(1, 0)});
             node(2, 5, 0, 0, 2, 1, 0, {mval(0, 40), mval(0, 100, 0), mval(1, 7), mval(1, 0), mval(0, 200)});
             descriptor(2, 0, 0x1000, 10, 1);
             descriptor(2, 1, 0x1080, 8, 4);
             mudo_set_channel_mix_vol(2, 64);
             mudo_set_note(2, 45, 2, 64, 0, 0, 1, -127);
         },
         [](int b) { mudo_set_note(2, 45, 2, 64, 0, 0, 0, -127 + b * 254 / 59); }, 0xAA51D69B},
        {"a track with every effect", 120,
         [] {
             node(1, 0, 0, 0, 2, 0, 0, {mval(1, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
             descriptor(1, 0, 0x1000, 10, 1);
             node(3, 0, 0, 0, 2, 0, 0, {mval(1, 0), mval(1, 0), mval(1, 12), mval(1, 0)});
             node(3, 1, 0, 0, 9, 0, 0, {mval(0, 2), mval(0, 90)});
             descriptor(3, 0, 0x1080, 8, 4);
             std::vector<row> rows = {{48, 1, 64, 0, 0},    {52, 1, 50, 's', 0},  {40, 1, 60, 's', 20},
                                      {40, 1, 20, 'f', 0},  {255, 255, 60, 'f', 9}, {44, 1, 64, '+', 0},
                                      {44, 1, 64, '-', 30}, {47, 1, 64, 'd', 2},  {47, 1, 64, 'r', 1},
                                      {50, 1, 64, 'c', 2},  {50, 1, 64, 'v', 0},  {50, 1, 64, 't', 0x4C},
                                      {50, 3, 64, 'w', 0x26}, {50, 1, 64, 'a', 0x37}, {50, 1, 64, 'b', 0},
                                      {50, 1, 64, '<', 0x42}, {50, 1, 64, '>', 0x20}, {50, 1, 64, 'p', 30},
                                      {50, 3, 64, '1', 0},  {255, 255, 255, 255, 255}, {53, 1, 64, '5', 0x10}};
             track(0, 24, 4, 0, 0, 0, rows);
             mudo_play_track(0, 3, 0, 0, 0, 10, 64, 0);
         },
         no_step, 0x75736B11},
        {"music with loops, a fade, hold flags and swap", 150,
         [] {
             node(1, 0, 0, 0, 2, 0, 0, {mval(1, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
             descriptor(1, 0, 0x1000, 10, 1);
             track(0, 3, 5, 0, 0, 0, {{48, 1, 20, 0, 0}, {51, 1, 20, 0, 0}, {55, 1, 20, 0, 0}});
             track(1, 4, 3, 0, 0, 0, {{36, 1, 25, 0, 0}, {255, 255, 255, 0, 0}, {43, 1, 25, 0, 0}});
             track(2, 2, 7, 0, 2, 0, {{60, 1, 12, 0, 0}, {67, 1, 12, 0, 0}});  // loops
             pattern(0, {0, 1, 2}, 0, 7);
             pattern(1, {1, 0, 2}, 1, 5);
             pattern(2, {0, 0, 2}, 2, 3);
             mudo_play_music(0, 300, 7, 0);
         },
         [](int b) {
             if (b == 40) poke8(0x547F, 4);
             if (b == 50) poke8(0x547F, 8);
             if (b == 60) poke8(0x547F, 0);
             if (b == 70) mudo_set_stereo_swap(1);
             if (b == 120) mudo_fade_out_music(200);
         },
         0xA01383E0},
        {"random parameters and starts", 60,
         [] {
             node(1, 0, 0, 0, 2, 0, 0, {mval(16 | 1, 60, 20), mval(16, 100, 156), mval(16 | 1, 3, 0), mval(1, 0), mval(16, 255, 0)});
             descriptor(1, 0, 0x1080, 8, 4);
             node(1, 1, 0, 0, 2, 0, 0, {mval(4, 64, 0, 2), mval(1, 0), mval(4 | 1, 12, 0, 3), mval(1, 0)});
             envelope(1, 2, 2, 8 | 1, 2, 1, 6, 5, {255, 30, 200, 90, 10, 160, 240, 0});
             envelope(1, 3, 2, 8, 3, 0, 4, 3, {0, 2, 5, 7});
             descriptor(1, 0, 0x1000, 10, 1);
             mudo_set_channel_mix_vol(4, 64);
         },
         [](int b) {
             if (b % 6 == 0) mudo_set_note(4, 40 + b / 6, 1, 64, 0, 0, 1, 0);
         },
         0x3D823174},
    };
}

TEST(Golden, RendersMatchRecordedOutput) {
    const std::vector<golden> all = goldens();
    for (size_t i = 0; i < all.size(); i++) {
        const golden &g = all[i], &other = all[(i + 1) % all.size()];
        std::vector<int16_t> a = scene(g.blocks, g.setup, g.step);
        std::vector<int16_t> b = scene(g.blocks, g.setup, g.step);
        EXPECT_EQ(a, b) << g.name;
        scene(other.blocks, other.setup, other.step);
        mudo_reinit_changed_for_tests();
        EXPECT_TRUE(all_zero(mixer.audio_ram, sizeof mixer.audio_ram) &&
                    all_zero(mixer.node_output, sizeof mixer.node_output) &&
                    all_zero(mixer.chan_buf, sizeof mixer.chan_buf))
            << other.name << ": memory or buffers left after a reset of what it changed";
        std::vector<int16_t> c = scene(g.blocks, g.setup, g.step, mudo_reinit_changed_for_tests);
        EXPECT_EQ(a, c) << g.name << " after " << other.name << " and a reset of what it changed";
        long silent = std::count(a.begin(), a.end(), 0);
        EXPECT_LT(silent, long(a.size()) * 3 / 4) << g.name << ": mostly silent";
        int peak = 0, clipped = 0;
        for (int16_t s : a) peak = std::max(peak, std::abs(int(s))), clipped += std::abs(int(s)) >= 32767;
        std::printf("golden %-50s crc 0x%08X peak %d clipped %d\n", g.name, crc_of(a), peak, clipped);
        EXPECT_EQ(crc_of(a), g.crc) << g.name;
    }
}

}  // namespace
