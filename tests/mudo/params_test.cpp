// Parameter values and envelopes: eval_mval against a plain reference over
// every flag, mode and scale, and the hand-derived anchors.
#include <cmath>
#include <random>

#include "mudo_fixture.h"

namespace {

using namespace mt;

struct ParamsTest : MudoTest {
    mudo_channel_rec *chan = &mixer.channels[0];
    mudo_node_rec *node = &chan->node_state[0];

    void SetUp() override {
        MudoTest::SetUp();
        chan->inst = 1;
        chan->base_addr = 0;
        chan->gate = 1;
        node->kind = 2;
    }
    // Envelope slot 0 of instrument 1.
    uint32_t env() const { return inst_addr(1) + 256; }
};

// The evaluation written straight, taking the envelope value from the
// engine's own (tested separately below).
int32_t ref_eval(mudo_channel_rec *chan, mudo_node_rec node, int m, uint32_t mv, int64_t base, int *shift_out) {
    int64_t A = uint8_t(mv >> 8), B = uint8_t(mv >> 16);
    if (node.kind < 5 && is_mval_signed(node.kind, m)) A = int8_t(A), B = int8_t(B);
    int64_t v;
    if (mv & 4) {
        int64_t e = evaluate_envelope(mval_envelope_addr(chan, mv), node.env_t[m], chan, node.env_held[m]);
        v = ((65280 - e) * B + A * e) * 256 / 255;
    } else if (mv & 16) {
        int64_t r = node.rnd[m];
        v = (A * r + B * (65280 - r)) * 256 / 255;
    } else {
        v = A * 65536;
    }
    uint8_t b3 = uint8_t(mv >> 24);
    int s = b3 < 64 ? 0 : ((b3 & 64) ? 2 : 0) + ((b3 & 128) ? 4 : 0);
    if (b3 & 32) s = -s;
    if (m == 0 && node.kind == 2 && (node.op == 1 || node.op == 2)) {
        *shift_out = s;
    } else {
        v = s >= 0 ? v * (int64_t(1) << s) : v / (int64_t(1) << -s);
    }
    if ((mv & 3) == 1) v = v + base;
    if ((mv & 3) == 2) v = (v >> 11) * (base >> 11);
    if (mv & 32) v = v & ~int64_t(0xFFFF);
    return int32_t(uint32_t(uint64_t(v)));
}

TEST_F(ParamsTest, EvalMatchesReferenceOverFlagsModesScalesAndEnvelopes) {
    std::mt19937 rng(21);
    for (int iter = 0; iter < 40000; iter++) {
        std::vector<uint8_t> data(16);
        for (auto &d : data) d = uint8_t(rng());
        envelope(1, int(rng() % 4), uint8_t(rng() % 5), uint8_t(rng()), uint8_t(rng() % 40), uint8_t(rng() % 16),
                 uint8_t(rng() % 16), uint8_t(rng() % 16), data);
        node->kind = uint8_t(rng() % 11);
        node->op = uint8_t(rng() % 5);
        int m = int(rng() % 7);
        node->env_t[m] = int32_t(rng() % 3000);
        node->env_held[m] = rng() % 65281;
        node->rnd[m] = int32_t(rng() % 65280);
        chan->gate = int32_t(rng() & 1);
        chan->release_ticks = int32_t(rng() % 100);
        uint32_t mv = uint32_t(rng() & 63) | (rng() & 0xFFFF) << 8 | uint32_t(rng() & 0xE3) << 24;
        int64_t base = int32_t(rng());
        mudo_node_rec before = *node;
        int shift_ref = node->mul_shift;
        int32_t want = ref_eval(chan, before, m, mv, base, &shift_ref);
        int32_t got = eval_mval(chan, node, m, mv, base);
        ASSERT_EQ(got, want) << std::hex << "mval " << mv << " kind " << int(node->kind);
        ASSERT_EQ(node->mul_shift, shift_ref);
    }
}

TEST_F(ParamsTest, EvalAnchors) {
    struct {
        uint32_t mv;
        int64_t base;
        int32_t want;
    } rows[] = {
        {mval(0, 64), 0, 0x400000},
        {mval(0, 1, 0, 0xC0), 0, 0x10000 << 6},
        {mval(0, 64, 0, 0xE0), 0, 0x400000 >> 6},
        {mval(0, 1, 0, 0x20), 0, 0x10000},
        {mval(1, 2), 0x300000, 0x320000},
        {mval(2, 1), 0x300000, 0xC000},
        {mval(1 | 32, 0), -0x18000, -0x20000},
    };
    node->kind = 8;
    for (auto r : rows) EXPECT_EQ(eval_mval(chan, node, 0, r.mv, r.base), r.want) << std::hex << r.mv;
    // Signedness: pan byte 0xFF reads -1, wave select 255.
    node->kind = 2;
    EXPECT_EQ(eval_mval(chan, node, 1, mval(0, 0xFF), 0), -65536);
    EXPECT_EQ(eval_mval(chan, node, 4, mval(0, 0xFF), 0), 255 * 65536);
    // Envelope at 65280 gives A, at 0 gives B (a data envelope of one level).
    envelope(1, 0, 2, 0, 1, 0, 0, 0, {255, 0});
    node->env_t[0] = 0;
    EXPECT_EQ(eval_mval(chan, node, 6, mval(4, 255, 0), 0), 255 * 65536);
    node->env_t[6] = 1;
    EXPECT_EQ(eval_mval(chan, node, 6, mval(4, 255, 0), 0), 0);
}

TEST_F(ParamsTest, EnvelopeKinds) {
    // ADSR: attack 0 starts in decay at full level; sustain 255 with decay 0 holds.
    envelope(1, 0, 0, 0, 0, 0, 0, 0, {0, 0, 255, 0});
    for (int t : {0, 1, 50}) EXPECT_EQ(evaluate_envelope(env(), t, chan, 0), 65280);
    chan->gate = 0;
    EXPECT_EQ(evaluate_envelope(env(), 5, chan, 65280), 0);  // release code 0
    envelope(1, 0, 0, 0, 0, 0, 0, 0, {4, 4, 128, 10});
    chan->gate = 1;
    EXPECT_EQ(evaluate_envelope(env(), 0, chan, 0), 65280 / 5);
    EXPECT_EQ(evaluate_envelope(env(), 3, chan, 0), 4 * 65280 / 5);
    EXPECT_EQ(evaluate_envelope(env(), 4, chan, 0), 65280);
    EXPECT_EQ(evaluate_envelope(env(), 9, chan, 0), 32768);
    chan->gate = 0, chan->release_ticks = 5;
    EXPECT_EQ(evaluate_envelope(env(), 99, chan, 32768), 5 * 32768 / 11);
    // LFO without a track: a 16-tick period.
    envelope(1, 0, 1, 0, 0, 0, 0, 0, {0, 0, 0, 0, 0, 0, 64});
    for (int t = 0; t < 20; t++) {
        double x = std::sin(((t * 3.141562) * 2.0) / 16 + (64 * 0.00390625) * 6.283124);
        EXPECT_EQ(evaluate_envelope(env(), t, chan, 0), int64_t(std::trunc(x * 32640)) + 32640) << t;
    }
    // Data: one level per step; past step 15 nothing.
    envelope(1, 0, 2, 0, 2, 0, 0, 0, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160});
    EXPECT_EQ(evaluate_envelope(env(), 3, chan, 0), 20 * 256);
    EXPECT_EQ(evaluate_envelope(env(), 32, chan, 0), 0);
    // Interpolation across the loop end blends toward the loop start level.
    envelope(1, 0, 2, 1, 4, 1, 3, 0, {0, 100, 50, 200});
    EXPECT_EQ(evaluate_envelope(env(), 4 + 2, chan, 0), 128 * (50 - 100) + 100 * 256);
    EXPECT_EQ(evaluate_envelope(env(), 8 + 2, chan, 0), 128 * (100 - 50) + 50 * 256);
    // Map and unknown kinds.
    envelope(1, 0, 3, 0, 0, 0, 0, 0, {255});
    EXPECT_EQ(evaluate_envelope(env(), 0, chan, 0), 0);
    envelope(1, 0, 7, 0, 0, 0, 0, 0, {255});
    EXPECT_EQ(evaluate_envelope(env(), 0, chan, 0), 0);
}

TEST_F(ParamsTest, ClockLoopsWhileHeldAndRetriggerStarts) {
    uint32_t mv = mval(4, 255);
    envelope(1, 0, 2, 0, 3, 2, 5, 4, {});
    node->env_t[0] = 14;  // k * e = 15
    advance_env_clock(chan, node, 0, mv);
    EXPECT_EQ(node->env_t[0], 6);  // 15 - 9
    node->env_t[0] = 5000000;      // far past the loop: folded in one go
    advance_env_clock(chan, node, 0, mv);
    int32_t t = node->env_t[0];
    EXPECT_GE(t, 6);
    EXPECT_LT(t, 15);
    EXPECT_EQ((5000001 - t) % 9, 0);
    chan->gate = 0;
    node->env_t[0] = 14;
    advance_env_clock(chan, node, 0, mv);
    EXPECT_EQ(node->env_t[0], 15);  // released: runs on

    chan->gate = 1;
    retrigger_mval_env_tick(chan, node, 0, mv);
    EXPECT_EQ(node->env_t[0], 12);  // start step 4 * 3
    envelope(1, 0, 2, 8, 3, 2, 5, 0, {});
    retrigger_mval_env_tick(chan, node, 0, mv);
    EXPECT_EQ(node->env_t[0], 0);  // random start with start step 0
    envelope(1, 0, 2, 8, 3, 0, 0, 4, {});
    for (int i = 0; i < 50; i++) {
        retrigger_mval_env_tick(chan, node, 0, mv);
        EXPECT_LT(node->env_t[0], 12);
    }
    envelope(1, 0, 0, 0, 3, 2, 5, 4, {});  // ADSR without flag 16: restarts at 0
    node->env_t[0] = 99;
    retrigger_mval_env_tick(chan, node, 0, mv);
    EXPECT_EQ(node->env_t[0], 0);
}

}  // namespace
