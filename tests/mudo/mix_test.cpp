// The mix and the state queries: silence and hold flags, gains and pans,
// clamping, the stereo exchange, pattern changes inside a block, the pass
// limit, long requests, start-up and reset state.
#include <random>

#include "mudo_fixture.h"

namespace {

using namespace mt;

struct MixTest : MudoTest {
    void SetUp() override {
        MudoTest::SetUp();
        mudo_kill_all_audio();
        mudo_set_volume(256);
        poke8(0x5538, 64);
        poke8(0x5539, 64);
        triangle_wave(0x100000, 10);
        node(1, 0, 0, 0, 2, 0, 0, {mval(0, 64)});
        descriptor(1, 0, 0x1000, 10, 1);
        for (int i = 0; i < 1024; i++) poke16(0x110000 + uint32_t(i) * 2, 20000);
        node(2, 0, 0, 0, 2, 0, 0, {mval(0, 64), mval(1, 0)});  // a constant +20000, the note's pan
        descriptor(2, 0, 0x1100, 10, 1);
    }
    static void play(int ch, int inst, int pan = 0, int mix = 64) {
        mudo_set_note(ch, 48, inst, 64, 0, 0, 1, pan);
        mudo_set_channel_mix_vol(ch, mix);
    }
};

TEST_F(MixTest, ZeroFramesAndTheHoldFlags) {
    play(0, 1);
    std::vector<int16_t> out(1024, 0x7777);
    mudo_mix(out.data(), 512);
    EXPECT_EQ(last_num_samples_mixed, 512);
    EXPECT_EQ(mudo_mix(out.data(), 0), 0);
    EXPECT_EQ(last_num_samples_mixed, 0);

    track(0, 8, 1, 0, 0, 0, {{48, 1, 64, 0, 0}});
    mudo_play_track(0, 2, 0, 0, 0, 0, 64, 0);
    render(1);
    mudo_channel_rec *ch = &mixer.channels[2];
    int row = ch->row, tick = ch->row_tick, pos = ch->tick_pos;
    poke8(0x547F, 4);
    std::vector<int16_t> held = render(2);
    EXPECT_EQ(std::count(held.begin(), held.end(), 0), long(held.size()));
    EXPECT_EQ(ch->row, row);
    EXPECT_EQ(ch->row_tick, tick);
    EXPECT_EQ(ch->tick_pos, pos);
    poke8(0x547F, 8);
    std::vector<int16_t> quiet = render(2);
    EXPECT_EQ(std::count(quiet.begin(), quiet.end(), 0), long(quiet.size()));
    EXPECT_NE(ch->row, row);
    uint8_t buf[8192 * 4];
    EXPECT_EQ(mudo_get_channel_state(-1, -1, buf), 512);
    for (int i = 0; i < 512 * 4; i++) ASSERT_EQ(buf[i], 0);
}

TEST_F(MixTest, GainsClampingSwapAndMaster) {
    play(0, 2, 0, 0);  // mix volume 0: silent
    std::vector<int16_t> out = render(2);
    EXPECT_EQ(out[600], 0);
    play(0, 2, -127, 64);  // fully left
    out = render(2);
    EXPECT_EQ(out[2 * 800], 20000 * 4095 / 4096);
    EXPECT_EQ(out[2 * 800 + 1], 0);
    mudo_set_stereo_swap(1);
    out = render(1);
    EXPECT_EQ(out[2 * 300], 0);
    EXPECT_EQ(out[2 * 300 + 1], 20000 * 4095 / 4096);
    mudo_set_stereo_swap(0);
    for (int c = 1; c < 4; c++) play(c, 2, -127, 64);
    out = render(1);
    EXPECT_EQ(out[2 * 300], 32767);
    // Master: 0 silent, 1 as loud as 256; clamps.
    mudo_set_volume(1);
    std::vector<int16_t> one = render(1);
    mudo_set_volume(0);
    std::vector<int16_t> zero = render(1);
    EXPECT_EQ(std::count(zero.begin(), zero.end(), 0), long(zero.size()));
    EXPECT_EQ(one[600], 32767);
    mudo_set_volume(300);
    EXPECT_EQ(mixer.master_vol.load(), 256);
    mudo_set_volume(-5);
    EXPECT_EQ(mixer.master_vol.load(), 0);
}

// The mono ramp written straight, against mix_channel for G on both sides of
// 256, 2048 and 4096, up to 4064 for a channel of its own and 16192 (the
// largest G) for a music channel. Every fourth run holds the pan.
// A loud music channel used to come out with its sign flipped: its gain
// times the sample overflowed 32 bits.
TEST_F(MixTest, MonoGainRampAgainstReference) {
    std::mt19937 rng(17);
    struct {
        int reg, mix;
        int music_reg, music_vol;  // 0x5539 and the music volume; -1: not a music channel
    } gains[] = {{64, 63, -1, 0},    {64, 64, -1, 0},    {65, 64, -1, 0},     {128, 255, -1, 0},
                 {255, 129, -1, 0},  {255, 255, -1, 0},  {255, 254, -1, 0},   {255, 255, 64, 256},
                 {255, 255, 65, 256}, {255, 255, 128, 200}, {255, 255, 255, 256}, {128, 255, 255, 3}};
    for (auto g : gains) {
        for (int rep = 0; rep < 20; rep++) {
            mudo_channel_rec *ch = &mixer.channels[5];
            poke8(0x5538, uint8_t(g.reg));
            poke8(0x5539, uint8_t(g.music_reg < 0 ? 64 : g.music_reg));
            mixer.music_vol = g.music_vol;
            ch->mix_vol = g.mix;
            ch->wide = 0;
            ch->music_owned = g.music_reg >= 0;
            ch->pattern_ticks_left = 1;
            ch->tick_samples = 367;
            ch->tick_len = 367;
            ch->tick_pos = int32_t(rng() % 100);
            int m = 367 - ch->tick_pos;
            ch->last_gain_l = int32_t(rng() % 4097), ch->last_gain_r = int32_t(rng() % 4097);
            int pan = int(rng() % 255) - 127;
            ch->node_state[0].val[1] = pan * 65536 + int32_t(rng() % 65536) * (pan < 0 ? -1 : 1);
            int16_t *src = mixer.node_output[5 * MUDO_MAX_CHANNEL_NODES];
            for (int i = 0; i < 367; i++) src[i] = rng() % 5 == 0 ? -32768 : int16_t(rng());
            int64_t G = (int64_t(g.reg) * g.mix) >> 4;
            if (g.music_reg >= 0) G = G * g.music_reg * g.music_vol / 16384;
            int p = std::clamp(ch->node_state[0].val[1] / 65536, -127, 127);
            if (rep % 4 == 0) {
                ch->last_gain_l = int32_t(stereo_contrib[128 + p]);
                ch->last_gain_r = int32_t(stereo_contrib[128 - p]);
            }
            __int128 Al = __int128(ch->last_gain_l) * G * 256, Bl = __int128(stereo_contrib[128 + p]) * G * 256;
            __int128 Ar = __int128(ch->last_gain_r) * G * 256, Br = __int128(stereo_contrib[128 - p]) * G * 256;
            __int128 sl = (Bl - Al) / m, sr = (Br - Ar) / m;
            std::vector<int16_t> want(size_t(m) * 2);
            for (int i = 0; i < m; i++) {
                int32_t s = src[ch->tick_pos + i];
                for (int side = 0; side < 2; side++) {
                    __int128 gg = ((side ? Ar : Al) + i * (side ? sr : sl)) >> 16, prod = gg * s;
                    int16_t v = int16_t(prod / 4096);
                    if (G > 256) v = prod >= 0x8000000 ? 32767 : prod < -0x7FFFFFF ? -32767 : v;
                    want[size_t(2 * i + side)] = v;
                }
            }
            std::vector<int16_t> got(size_t(m) * 2);
            ASSERT_EQ(mix_channel(ch, m, got.data()), m);
            ASSERT_EQ(got, want) << "G " << G;
        }
    }
}

// Music faded out to silence and then stopped stays silent. The part of the
// tick rendered before the stop used to play at full level: the stop made
// the channel its own, at its own gain.
TEST_F(MixTest, StoppingMusicFadedToSilenceStaysSilent) {
    track(0, 8, 1, 0, 8, 0, {{48, 2, 64, 0, 0}});  // the constant +20000, looping
    pattern(0, {0}, 0, 1);
    mudo_play_music(0, 0, 1, 0);
    mudo_fade_out_music(100);
    render(20);
    ASSERT_EQ(mixer.music_vol, 0);
    std::vector<int16_t> out = render(1, 200);  // ends inside a tick
    ASSERT_LT(mixer.channels[0].tick_pos, mixer.channels[0].tick_len);
    mudo_fade_out_music(0);
    out = render(2);
    int loud = 0;
    for (int16_t v : out) loud += v != 0;
    EXPECT_EQ(loud, 0);
}

TEST_F(MixTest, PatternChangeInsideABlockAndThePassLimit) {
    for (int t = 0; t < 2; t++) track(t, 1, 1, 0, 0, 0, {{48, 1, 64, 0, 0}});
    pattern(0, {0, 0}, 0, 3);
    pattern(1, {1, 1}, 0, 3);
    pattern(2, {1, 1}, 4, 3);
    mudo_play_music(0, 0, 3, 0);
    play(8, 1);
    std::vector<int16_t> out(1024);
    mudo_mix(out.data(), 512);
    EXPECT_EQ(mixer.music_pattern, 1);
    EXPECT_EQ(mixer.channels[0].tick_pos, 512 - 367);
    EXPECT_EQ(mixer.channels[1].tick_pos, 512 - 367);
    EXPECT_EQ(mixer.channels[8].tick_pos, 512 - 367);
    mudo_mix(out.data(), 512);
    EXPECT_EQ(mixer.music_pattern, 2);
    mudo_mix(out.data(), 512);
    EXPECT_EQ(mixer.music_on, 0);  // pattern 2 stops at its end (frame 1101)

    // A music channel with no ticks left and no music to advance: 1024
    // passes, then silence for the rest of the block.
    mudo_kill_all_audio();
    play(0, 2, -127);
    mixer.channels[0].music_owned = 1;
    mixer.channels[0].pattern_ticks_left = 0;
    mixer.channels[0].tick_pos = mixer.channels[0].tick_len = 0;
    std::fill(mixer.chan_buf[0], mixer.chan_buf[0] + 1024, int16_t(12345));
    mudo_mix(out.data(), 512);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), 1024);
}

// A node that stops sounding (kind 0, or muted) reads as silence again, and
// one that starts again sounds: the engine skips clearing buffers it knows
// to be silent.
TEST_F(MixTest, SilencedNodesReadAsSilence) {
    node(9, 0, 0, 0, 1, 0, 0, {mval(1, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
    node(9, 1, 0, 0, 2, 0, 0, {mval(0, 64), mval(1, 0), mval(1, 0), mval(1, 0)});
    descriptor(9, 0, 0x1000, 10, 1);
    play(0, 9);
    std::vector<int16_t> buf(367);
    auto node1_silent = [&] {
        render(2);
        EXPECT_EQ(mudo_get_channel_state(0, 21, reinterpret_cast<uint8_t *>(buf.data())), 367);
        return std::count(buf.begin(), buf.end(), 0) == 367;
    };
    EXPECT_FALSE(node1_silent());
    node(9, 1, 0, 0, 0);  // the memory copy changes: node 1 is empty now
    EXPECT_TRUE(node1_silent());
    node(9, 1, 0, 0, 2, 0, 0, {mval(0, 64), mval(1, 0), mval(1, 0), mval(1, 0)});
    EXPECT_FALSE(node1_silent());
    node(9, 1, 0, 0, 2, 0, 2, {mval(0, 64), mval(1, 0), mval(1, 0), mval(1, 0)});  // muted
    EXPECT_TRUE(node1_silent());
    // A silent node 0 with an oscillator child still carries the child.
    node(9, 0, 0, 0, 0);
    node(9, 1, 0, 0, 2, 0, 0, {mval(0, 64), mval(1, 0), mval(1, 0), mval(1, 0)});
    render(2);
    EXPECT_EQ(mudo_get_channel_state(0, 20, reinterpret_cast<uint8_t *>(buf.data())), 367);
    EXPECT_LT(std::count(buf.begin(), buf.end(), 0), 367);
}

TEST_F(MixTest, LongRequestsWriteEveryFrame) {
    play(0, 1, 40);
    for (int n : {4097, 8192, 10000}) {
        std::vector<int16_t> out(size_t(n) * 2 + 8, 0x7777);
        mudo_mix(out.data(), n);
        int untouched = 0;
        for (int i = 0; i < n * 2; i++) untouched += out[size_t(i)] == 0x7777;
        EXPECT_EQ(untouched, 0) << n;
        EXPECT_EQ(out[size_t(n) * 2], 0x7777) << n;
        EXPECT_EQ(last_num_samples_mixed, n > 8192 ? n - 8192 : n);
    }
}

TEST_F(MixTest, StartUpResetAndQueries) {
    mudo_reinit_for_tests();
    std::vector<int16_t> out = render(1);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), long(out.size()));  // master 0 until the settings
    EXPECT_EQ(mudo_get_channel_state(3, 1, nullptr), 0);                // instrument 0
    uint8_t buf[32768 * 4];
    EXPECT_EQ(mudo_get_channel_state(3, 19, buf), 367);  // the mix has run a tick
    mixer.channels[3].tick_samples = 0;
    EXPECT_EQ(mudo_get_channel_state(3, 19, buf), 0);
    mixer.channels[3].mix_vol = 77;
    mixer.channels[3].base_addr = 0x30000;
    mudo_kill_all_audio();
    EXPECT_EQ(mudo_get_channel_state(3, 1, nullptr), -1);
    EXPECT_EQ(mudo_get_channel_state(3, 0, nullptr), 0);
    const mudo_channel_rec &c3 = mixer.channels[3];
    EXPECT_EQ(c3.inst, 255);
    EXPECT_EQ(c3.vol, 0);
    EXPECT_EQ(c3.pan, 0);
    EXPECT_EQ(c3.pitch, 48);
    EXPECT_EQ(c3.mix_vol, 77);
    EXPECT_EQ(c3.base_addr, 0x30000);
    // A second mudo_init changes nothing.
    mixer.channels[4].inst = 9;
    mudo_init();
    mudo_init();
    EXPECT_EQ(mixer.channels[4].inst, 9);

    // A stopped track keeps its fields; code 12 gives -1, 13 the track.
    SetUp();
    track(7, 4, 2, 0, 0, 0, {{50, 1, 40, 'v', 3}});
    mudo_play_track(7, 6, 0, 0, 0, 20, 99, 0x0);
    render(1);
    mudo_play_track(-1, 6, 0, 0, 0, 0, 0, 0);
    struct {
        int code, want;
    } rows[] = {{0, 0},  {1, 1},  {2, 40}, {3, 20},  {4, 50}, {5, 0},  {6, 'v'}, {7, 3},
                {8, 367}, {12, -1}, {13, 7}, {14, 99}, {15, 0}, {16, -1}, {18, -1}, {28, -1}, {-3, -1}};
    for (auto r : rows) EXPECT_EQ(mudo_get_channel_state(6, r.code, buf), r.want) << r.code;
    EXPECT_EQ(mudo_get_channel_state(6, 20, nullptr), -1);
    EXPECT_EQ(mudo_get_channel_state(6, 20, buf), 367);
    EXPECT_EQ(mudo_get_channel_state(16, 0, buf), -1);
    EXPECT_EQ(mudo_get_channel_state(-1, 5, buf), -1);
    EXPECT_EQ(mudo_get_channel_state(-1, -1, nullptr), 512);
    EXPECT_EQ(mudo_get_music_state(7), -1);
    mudo_play_track(7, 9, 0, 0, 0, 0, 64, 0);
    EXPECT_EQ(mudo_get_active_channels(), 1 << 9);
}

}  // namespace
