// Notes and ticks: when a note retriggers, releases, pans and base
// addresses, wide instruments' right-hand copies, the effect column, the
// node-level crossfade and the stereo binding check.
#include <cmath>

#include "mudo_fixture.h"

namespace {

using namespace mt;

struct ChannelTest : MudoTest {
    mudo_channel_rec *chan = &mixer.channels[0];
    void SetUp() override {
        MudoTest::SetUp();
        mudo_kill_all_audio();
        // Instrument 1: node 0 an oscillator with an enveloped volume; node 1
        // an oscillator child keeping its phase on retrigger.
        node(1, 0, 0, 0, 2, 0, 0, {mval(4, 64)});
        node(1, 1, 0, 0, 2, 0, 8, {mval(0, 64)});
        descriptor(1, 0, 0x1000, 10, 1);
        envelope(1, 0, 0, 0, 0, 0, 0, 0, {0, 0, 255, 0});
        node(2, 0, 0, 0, 2, 0, 0, {mval(4, 64)});
        inst_flags(2, 1);
    }
    void note(int pitch, int inst, int fx = 255, int retrig = 0, int pan = MUDO_KEEP_PAN, int param = 0) {
        mudo_set_note(0, pitch, inst, 64, fx, param, retrig, pan);
    }
    void mark() {
        for (int n = 0; n < 2; n++) {
            chan->node_state[n].phase = 12345;
            chan->node_state[n].env_t[0] = 77;
            for (int m = 0; m < 7; m++) chan->node_state[n].rnd[m] = -5;
        }
    }
};

TEST_F(ChannelTest, RetriggerMatrix) {
    struct {
        const char *name;
        int first_inst, pitch, inst, fx, retrig;
        bool released_first;
        bool retriggers;
    } rows[] = {
        {"same pitch and instrument", 1, 48, 1, 0, 0, false, false},
        {"retrig 1", 1, 48, 1, 0, 1, false, true},
        {"effect r", 1, 48, 1, 'r', 0, false, true},
        {"other pitch", 1, 50, 1, 0, 0, false, true},
        {"other pitch with slide", 1, 50, 1, 's', 0, false, false},
        {"other instrument", 1, 48, 2, 0, 0, false, true},
        {"instrument flag bit 0", 2, 48, 2, 0, 0, false, true},
        {"no instrument argument", 2, 48, 255, 0, 0, false, false},
        {"after a release", 1, 48, 1, 0, 0, true, true},
    };
    for (auto &r : rows) {
        mudo_kill_all_audio();
        note(48, r.first_inst, 0);
        if (r.released_first) note(255, 255);
        mark();
        note(r.pitch, r.inst, r.fx, r.retrig);
        mudo_node_rec &n0 = chan->node_state[0], &n1 = chan->node_state[1];
        EXPECT_EQ(n0.phase == 0, r.retriggers) << r.name;
        EXPECT_EQ(n0.env_t[0] == 0, r.retriggers) << r.name;
        EXPECT_EQ(n0.rnd[3] != -5, r.retriggers) << r.name;
        // Node 1 of instrument 1 keeps its phase (flag 8) through a retrigger;
        // instrument 2 has no node 1, whose phase a retrigger clears.
        EXPECT_EQ(n1.phase, r.retriggers && (r.inst == 2 || r.first_inst == 2) ? 0u : 12345u) << r.name;
        EXPECT_EQ(chan->gate, 1) << r.name;
    }
}

TEST_F(ChannelTest, ReleaseFxTranslationPansAndBases) {
    note(48, 1);
    chan->release_ticks = 40;
    note(255, 255);
    EXPECT_EQ(chan->gate, 0);
    EXPECT_EQ(chan->release_ticks, 0);
    EXPECT_EQ(chan->inst, 1);
    mudo_set_note(0, 48, 1, 64, '4', 9, 0, MUDO_KEEP_PAN);
    EXPECT_EQ(chan->fx, '<');
    EXPECT_EQ(chan->fx_param, 9);
    struct {
        int pan, fx, param, want;
    } pans[] = {{200, 0, 0, 127}, {-300, 0, 0, -127}, {MUDO_KEEP_PAN, 'p', 0, -128}, {5, 'p', 200, 72},
                {17, 0, 0, 17}};
    for (auto p : pans) {
        note(48, 1, p.fx, 0, p.pan, p.param);
        EXPECT_EQ(chan->pan, p.want) << p.pan;
    }
    struct {
        int32_t addr, want;
    } bases[] = {{0x1000000, 0xF00000}, {-1, 0}, {0x20000, 0x20000}};
    for (auto b : bases) {
        mudo_set_channel_base_addr(3, b.addr);
        EXPECT_EQ(mixer.channels[3].base_addr, b.want);
    }
    mudo_set_channel_mix_vol(3, 300);
    EXPECT_EQ(mixer.channels[3].mix_vol, 255);
    mudo_set_channel_mix_vol(16, 3);  // ignored
    mudo_set_note(16, 48, 1, 64, 0, 0, 0, 0);
    EXPECT_EQ(mixer.channels[15].inst, 255);
}

TEST_F(ChannelTest, WideCopiesGetTheirOwnEchoRing) {
    // Node 0 a group, node 1 an echo child, node 2 an oscillator; node 3 free.
    node(3, 0, 0, 0, 1);
    node(3, 1, 0, 0, 9, 0, 0, {mval(0, 2), mval(0, 100)});
    node(3, 2, 0, 0, 2);
    node(3, 3, 0, 0, 0);
    inst_flags(3, 2);
    note(48, 3);
    EXPECT_EQ(chan->wide, 2);
    EXPECT_EQ(chan->node_state[1].copy_index, 3);
    EXPECT_EQ(chan->node_state[3].is_copy, 1u);
    EXPECT_EQ(chan->node_state[3].parent, 8);
    EXPECT_EQ(chan->node_state[3].kind, 9);
    EXPECT_NE(chan->node_state[3].output, chan->node_state[1].output);
    // Every slot taken: no copy.
    for (int n = 3; n < 8; n++) node(4, n, 0, 0, 2);
    node(4, 0, 0, 0, 1);
    node(4, 1, 0, 0, 9);
    node(4, 2, 0, 0, 2);
    inst_flags(4, 2);
    note(48, 4);
    EXPECT_EQ(chan->node_state[1].copy_index, -1);
    // The stereo node is cleared and bound on every unpack.
    EXPECT_EQ(chan->node_state[STEREO_NODE_INDEX].output, mixer.node_output[STEREO_NODE_INDEX]);
}

TEST_F(ChannelTest, ParentIndexAboveOwnIsARoot) {
    node(5, 0, 0, 0, 1);
    node(5, 1, 0, 0, 2);
    node(5, 2, 1, 0, 2);
    node(5, 3, 15, 0, 2);
    node(5, 5, 2, 0, 2);
    note(48, 5);
    EXPECT_EQ(chan->node_state[3].depth, 0);
    EXPECT_EQ(chan->node_state[5].depth, 3);
    EXPECT_EQ(chan->tree_depth, 3);
}

// Runs the parameter pass of 'ticks' ticks of a track on channel 0, logging
// the root node's pitch value.
std::vector<int32_t> root_pitches(mudo_channel_rec *chan, int ticks) {
    std::vector<int32_t> out;
    for (int t = 0; t < ticks; t++) {
        update_channel_track_tick(chan);
        evaluate_channel_node_parameters(chan);
        out.push_back(root_node.val[2] >> 16);
        advance_channel_track_row(chan);
    }
    return out;
}

TEST_F(ChannelTest, ArpeggioVibratoAndTremolo) {
    track(0, 4, 8, 0, 0, 0, {{48, 1, 64, 'a', 0x37}, {48, 1, 64, 'a', 0x37}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    std::vector<int32_t> want = {48, 48, 51, 51, 55, 55, 48, 48, 51, 51};
    EXPECT_EQ(root_pitches(chan, 10), want);
    // Parameter 0 reads the notes from the track's pitch column, four rows a group.
    track(1, 4, 8, 0, 0, 0, {{40, 1, 64, 'a', 0}, {43, 1, 64, 'a', 0}, {47, 1, 64, 'a', 0}, {255, 1, 64, 'a', 0}});
    mudo_play_track(1, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    std::vector<int32_t> got = root_pitches(chan, 8);
    EXPECT_EQ(got, (std::vector<int32_t>{40, 40, 43, 43, 47, 47, 0, 0}));

    // Vibrato with parameter 0: speed index 10, depth index 6.
    mudo_play_track(-2, 0, 0, 0, 0, 0, 0, 0);
    mudo_set_note(0, 48, 1, 64, 'v', 0, 0, MUDO_KEEP_PAN);
    evaluate_channel_node_parameters(chan);
    EXPECT_EQ(chan->vib_phase, 16u * 256);
    evaluate_channel_node_parameters(chan);
    int32_t s = int32_t(std::trunc(std::sin(((4096.0 * 3.141562) * 2) / 65536) * 65536));
    EXPECT_EQ(root_node.val[3], 40 * s * 2);
    // Deep tremolo at volume 200 does not flip the sign.
    mudo_set_note(0, 48, 1, 200, 't', 0x0F, 1, MUDO_KEEP_PAN);
    for (int i = 0; i < 16; i++) {
        evaluate_channel_node_parameters(chan);
        EXPECT_GE(root_node.val[0], 0);
    }
}

TEST_F(ChannelTest, FrequencyRatios) {
    // Node 0 at 2/3 of the note's step, times 4 on the numerator (byte 3 bit 6).
    node(7, 0, 0, 0, 2, 0, 0, {mval(0, 64), mval(1, 0), mval(2, 0x21, 0, 0x40), mval(1, 0)});
    descriptor(7, 0, 0x1000, 10, 1);
    note(48, 7);
    evaluate_channel_node_parameters(chan);
    mudo_node_rec &n0 = chan->node_state[0];
    EXPECT_EQ(n0.ratio_num, 8u);
    EXPECT_EQ(n0.ratio_den, 3u);
    EXPECT_EQ(n0.val[2], 48 << 16);  // the base, unchanged
    EXPECT_EQ(n0.step, uint64_t(397935ll * 8 / 3));
    // Four nested ratios of 1/1024 wrap the denominator to 0, which counts as 1.
    for (int n = 0; n < 5; n++)
        node(8, n, n == 0 ? 0 : n - 1, 0, n < 4 ? 1 : 2, 0, 0, {mval(0, 64), mval(1, 0), mval(2, 0xF0, 0, 0xE0), mval(1, 0)});
    descriptor(8, 0, 0x1000, 10, 1);
    note(48, 8);
    evaluate_channel_node_parameters(chan);
    EXPECT_EQ(chan->node_state[3].ratio_den, 0u);
    EXPECT_EQ(chan->node_state[4].ratio_den, 1024u);  // 0 inherited as 1, times its own 1024
    EXPECT_EQ(chan->node_state[3].step, uint64_t(mudo_get_dx_for_note(48 << 16, 0)));
}

TEST_F(ChannelTest, NodeCrossfadeOnEchoInstruments) {
    for (int i = 0; i < 1024; i++) poke16(0x100000 + uint32_t(i) * 2, 1000);
    node(6, 0, 0, 0, 2, 0, 0, {mval(0, 64)});
    node(6, 1, 0, 0, 9, 0, 0, {mval(0, 0), mval(0, 0)});
    descriptor(6, 0, 0x1000, 10, 1);
    note(48, 6);
    evaluate_channel_node_parameters(chan);
    render_channel_tick(chan, 367);
    EXPECT_EQ(chan->node_state[0].output[100], 1000);
    node(6, 0, 0, 0, 2, 0, 0, {mval(0, 32)});
    evaluate_channel_node_parameters(chan);
    render_channel_tick(chan, 367);
    const int16_t *o = chan->node_state[0].output;
    EXPECT_EQ(o[0], 1000);
    EXPECT_EQ(o[63], (500 * 63 + 1000 * 1) >> 6);
    EXPECT_EQ(o[64], 500);
}

TEST_F(ChannelTest, StereoBindingCheckPrintsAndRebinds) {
    note(48, 1);
    evaluate_channel_node_parameters(chan);
    chan->node_state[STEREO_NODE_INDEX].output = node_ramp_buf;
    testing::internal::CaptureStdout();
    render_channel_tick(chan, 367);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\n** ASSERT failed: chan->node_state[STEREO_NODE_INDEX].output == "
              "mixer.node_output[chan->index * MUDO_MAX_CHANNEL_NODES + STEREO_NODE_INDEX] :: mudo:1802 in "
              "render_channel_tick()\n\n");
    EXPECT_EQ(chan->node_state[STEREO_NODE_INDEX].output, mixer.node_output[STEREO_NODE_INDEX]);
}

}  // namespace
