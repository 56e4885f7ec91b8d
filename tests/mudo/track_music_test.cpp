// Tracks and music: rows, loops, delays, row limits, the stepper's effects,
// channel choice and commands; pattern advance, stop, fades.
#include "mudo_fixture.h"

namespace {

using namespace mt;

struct TrackTest : MudoTest {
    void SetUp() override {
        MudoTest::SetUp();
        mudo_kill_all_audio();
        node(1, 0, 0, 0, 2, 0, 0, {mval(0, 64)});
    }
    // Ticks channel c 'ticks' times; returns, per tick, the pitch held then
    // (-1 when the gate is off, -2 once the track is off).
    static std::vector<int> run(int c, int ticks) {
        std::vector<int> out;
        mudo_channel_rec *ch = &mixer.channels[c];
        for (int t = 0; t < ticks; t++) {
            update_channel_track_tick(ch);
            out.push_back(!ch->track_on ? -2 : ch->gate ? ch->pitch : -1);
            advance_channel_track_row(ch);
        }
        return out;
    }
    // Rows r with pitch 10 + r.
    static std::vector<row> numbered(int n, uint8_t fx = 0, uint8_t param = 0) {
        std::vector<row> rows;
        for (int r = 0; r < n; r++) rows.push_back({uint8_t(10 + r), 1, 64, fx, param});
        return rows;
    }
};

TEST_F(TrackTest, RowsLoopsDelaysAndLimits) {
    struct {
        const char *name;
        uint16_t len;
        uint8_t ls, le, delay;
        int start, rows;
        std::vector<int> want;  // one entry per row (speed 1)
    } cases[] = {
        {"length 0 plays one row", 0, 0, 0, 0, 0, 0, {10, -2}},
        {"loop start without end stops there", 16, 4, 0, 0, 0, 0, {10, 11, 12, 13, -2}},
        {"loop 2..6", 8, 2, 6, 0, 0, 0, {10, 11, 12, 13, 14, 15, 12, 13, 14, 15, 12}},
        {"start delay", 8, 0, 0, 2, 0, 0, {-1, -1, 12, 13}},
        {"three rows from row 5", 10, 0, 0, 0, 5, 3, {15, 16, 17, -2}},
        {"limit before the loop", 8, 2, 6, 0, 0, 6, {10, 11, 12, 13, 14, 15, -2}},
        {"limit never met", 8, 2, 6, 0, 0, 10, {10, 11, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13}},
    };
    for (auto &c : cases) {
        mudo_kill_all_audio();
        track(3, c.len, 1, c.ls, c.le, c.delay, numbered(c.len ? c.len : 1));
        EXPECT_EQ(mudo_play_track(3, 2, c.start, c.rows, 0, MUDO_KEEP_PAN, 64, 0), 2);
        std::vector<int> got = run(2, int(c.want.size()));
        // Once off, a track stays off.
        EXPECT_EQ(got, c.want) << c.name;
    }
    // The end-loops command lets the loop run out: rows 6 and 7, then the end.
    mudo_kill_all_audio();
    track(3, 8, 1, 2, 6, 0, numbered(8));
    mudo_play_track(3, 2, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    run(2, 5);
    mudo_play_track(-3, 2, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(run(2, 4), (std::vector<int>{15, 16, 17, -2}));
    // Speed byte 0 is 16 ticks a row.
    track(4, 2, 0, 0, 0, 0, numbered(2));
    mudo_play_track(4, 1, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    EXPECT_EQ(mixer.channels[1].speed, 16);
}

TEST_F(TrackTest, StepperEffects) {
    // 'd' 3 at speed 8: the note starts on the fourth tick; 'd' 9 never.
    track(0, 1, 8, 0, 0, 0, {{40, 1, 64, 'd', 3}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    EXPECT_EQ(run(0, 8), (std::vector<int>{-1, -1, -1, 40, 40, 40, 40, 40}));
    track(0, 1, 8, 0, 0, 0, {{40, 1, 64, 'd', 9}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    EXPECT_EQ(run(0, 8), (std::vector<int>(8, -1)));
    // 'r' 2 at speed 6 retriggers at ticks 0, 2 and 4.
    track(0, 1, 6, 0, 0, 0, {{40, 1, 64, 'r', 2}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    mudo_channel_rec *ch = &mixer.channels[0];
    std::vector<int> starts;
    for (int t = 0; t < 6; t++) {
        update_channel_track_tick(ch);
        if (ch->node_state[0].phase == 0) starts.push_back(t);
        ch->node_state[0].phase = 99;
        advance_channel_track_row(ch);
    }
    EXPECT_EQ(starts, (std::vector<int>{0, 2, 4}));
    // 'c' 0 silences on the row's first tick.
    track(0, 1, 4, 0, 0, 0, {{40, 1, 64, 'c', 0}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    update_channel_track_tick(ch);
    EXPECT_EQ(ch->inst, 255);
    EXPECT_EQ(ch->node_state[0].kind, 0);
    // '+' 0 and '-' 0 per tick; never below 0.
    track(0, 1, 4, 0, 0, 0, {{40, 1, 64, '+', 0}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    update_channel_track_tick(ch);
    EXPECT_EQ(ch->slide_pitch, 40 * 65536 + 2048);
    track(0, 1, 4, 0, 0, 0, {{2, 1, 64, '-', 0}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    update_channel_track_tick(ch);
    EXPECT_EQ(ch->slide_pitch, 0);
    // 's' with parameter 0 reaches the new note after one row.
    track(0, 2, 4, 0, 0, 0, {{40, 1, 64, 0, 0}, {48, 1, 64, 's', 0}});
    mudo_play_track(0, 0, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    std::vector<int32_t> slide;
    for (int t = 0; t < 8; t++) {
        update_channel_track_tick(ch);
        slide.push_back(ch->slide_pitch);
        advance_channel_track_row(ch);
    }
    EXPECT_EQ(slide, (std::vector<int32_t>{40 << 16, 40 << 16, 40 << 16, 40 << 16, 42 << 16, 44 << 16, 46 << 16,
                                           48 << 16}));
}

TEST_F(TrackTest, ChannelChoiceAndCommands) {
    track(5, 4, 4, 0, 0, 0, numbered(4));
    track(6, 4, 4, 0, 0, 0, numbered(4));
    int first = mudo_play_track(5, -1, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    EXPECT_GE(first, 8);  // a free channel among 8..15
    EXPECT_EQ(mudo_play_track(5, -1, 0, 0, 0, MUDO_KEEP_PAN, 64, 0), first);  // reused
    // Channels 8..15 busy: falls back downward from the round-robin start.
    for (int c = 8; c < 16; c++) mudo_play_track(6, c, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    int c = mudo_play_track(5, -1, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);
    EXPECT_EQ(c, (choose_offset) & 15);
    // Every channel in the music mask: none.
    mixer.music_mask = 0xFFFF;
    EXPECT_EQ(mudo_play_track(7, -1, 0, 0, 0, MUDO_KEEP_PAN, 64, 0), -1);
    mixer.music_mask = 0;
    // ch 99 acts on channel 15; other bad channels refuse.
    EXPECT_TRUE(mixer.channels[15].track_on);
    EXPECT_EQ(mudo_play_track(-1, 99, 0, 0, 0, 0, 0, 0), -1);
    EXPECT_FALSE(mixer.channels[15].track_on);
    EXPECT_EQ(mudo_play_track(5, 16, 0, 0, 0, 0, 0, 0), -1);
    mudo_play_track(-4, 3, 300, 0, 0, 0, 0, 0);
    EXPECT_EQ(mixer.channels[3].mix_vol, 255);
    EXPECT_EQ(mudo_play_track(5, 4, 0, 0, 0, 0, 999, 0), 4);
    EXPECT_EQ(mixer.channels[4].mix_vol, 255);
    // Huge track numbers and bases read wrapped addresses.
    EXPECT_EQ(mudo_play_track(INT32_MAX, 2, INT32_MAX, INT32_MAX, 0, 0, 64, INT32_MIN), 2);
    run(2, 50);
    mudo_play_track(-2, -1, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(mudo_get_active_channels(), 0);
}

/* ---- music ---- */

struct MusicTest : TrackTest {
    // Four-row, speed-1 tracks 0..3 (track 3 loops).
    void SetUp() override {
        TrackTest::SetUp();
        for (int t = 0; t < 3; t++) track(t, 4, 1, 0, 0, 0, numbered(4));
        track(3, 4, 1, 0, 4, 0, numbered(4));
    }
    // The pattern after advancing from p, or -1 when the music stopped.
    int after(int p) {
        mudo_play_music(p, 0, 255, 0);
        advance_pattern();
        return mixer.music_on ? mixer.music_pattern : -1;
    }
};

TEST_F(MusicTest, AdvanceTable) {
    pattern(255, {0}, 0, 1);
    EXPECT_EQ(after(255), -1);
    pattern(255, {0}, 2, 1);
    EXPECT_EQ(after(255), 0);
    pattern(4, {0}, 6, 1);
    EXPECT_EQ(after(4), -1);
    pattern(5, {0}, 3, 1);
    EXPECT_EQ(after(5), 5);
    pattern(1, {0}, 1, 1);
    pattern(3, {0}, 2, 1);
    EXPECT_EQ(after(3), 1);
    pattern(7, {0}, 0, 1);
    EXPECT_EQ(after(7), 8);
    pattern(300, {0}, 2, 1);
    EXPECT_EQ(after(300), 0);  // no loop start within 256 below
    pattern(45, {0}, 1, 1);
    EXPECT_EQ(after(300), 45);
    mudo_play_music(-5, 0, 255, 0);
    EXPECT_EQ(mixer.music_on, 1);
    EXPECT_EQ(mixer.music_pattern, -5);
    advance_pattern();
    EXPECT_EQ(mixer.music_on, 0);
}

TEST_F(MusicTest, LengthMaskAndLoopingChannels) {
    pattern(0, {0, 1, 2, 0, 0}, 0, 0x1F);
    mudo_play_track(2, 4, 0, 0, 0, MUDO_KEEP_PAN, 64, 0);  // plays as sfx on channel 4
    mudo_play_music(0, 0, 0x0F, 0);
    for (int c = 0; c < 4; c++) EXPECT_EQ(mixer.channels[c].music_owned, 1) << c;
    EXPECT_EQ(mixer.channels[4].music_owned, 0);
    EXPECT_TRUE(mixer.channels[4].track_on);
    EXPECT_EQ(mixer.channels[0].pattern_ticks_left, 4);
    EXPECT_EQ(mudo_get_music_state(1), 0);
    pattern(1, {3, 3}, 0, 3);
    mudo_play_music(1, 0, 0xFF, 0);
    EXPECT_EQ(mixer.channels[0].pattern_ticks_left, 0x7fffffff);
    EXPECT_EQ(mudo_get_music_state(1), 0);
    EXPECT_EQ(mudo_get_music_state(0), 1);
    mudo_stop_music();
    EXPECT_EQ(mudo_get_music_state(0), -1);
}

TEST_F(MusicTest, Fades) {
    pattern(0, {3}, 3, 1);
    mudo_play_music(0, 0, 1, 0);
    EXPECT_EQ(mixer.music_vol, 256);
    mudo_fade_out_music(1000);
    EXPECT_EQ(mixer.fade_ticks, 120);
    std::vector<int> vols;
    for (int i = 0; i < 120; i++) {
        mudo_update_fade_tick();
        vols.push_back(mixer.music_vol);
    }
    EXPECT_EQ(vols[0], 256);
    EXPECT_EQ(vols[1], 254);
    EXPECT_EQ(vols.back(), 0);
    EXPECT_EQ(mixer.music_on, 1);  // a finished fade-out leaves the music on
    // A fade-in during a fade-out starts from the current volume.
    mudo_fade_out_music(1000);
    for (int i = 0; i < 30; i++) mudo_update_fade_tick();
    int now = mixer.music_vol;
    mudo_play_music(0, 500, 1, 0);
    EXPECT_EQ(mixer.fade_from, now);
    // 1 ms fades take one tick.
    mudo_play_music(0, 1, 1, 0);
    mudo_update_fade_tick();
    EXPECT_EQ(mixer.music_vol, 256);
    mudo_fade_out_music(1);
    mudo_update_fade_tick();
    EXPECT_EQ(mixer.music_vol, 0);
    EXPECT_EQ(mixer.music_on, 1);
    mudo_fade_out_music(0);
    EXPECT_EQ(mixer.music_on, 0);
}

}  // namespace
