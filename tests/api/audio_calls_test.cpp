// note, sfx and music from Lua in real processes, with the engine and the
// audio bracket behind them; the engine's state is read back through its
// queries and records.
#include "api_fixture.h"
#include "mudo.h"
#include "mudo_testing.h"

namespace {

struct AudioCalls : ApiTest {
    process_rec *root = nullptr;
    void SetUp() override {
        ApiTest::SetUp();
        mudo_reinit_for_tests();
        root = spawn("", "root");
    }
    // Runs 'code' in a new process, granted the audio calls unless told
    // otherwise, and returns its id (a process whose code ends is gone).
    int64_t run(const std::string &code, bool granted = true) {
        process_rec *p = start(code);
        EXPECT_NE(p, nullptr);
        int64_t id = p->id;
        if (granted) app.audio_allowed_pid = uint64_t(id);
        poke_proc(p, 0x553A, 33);
        poke_proc(p, 0x553C, 2);
        poke_proc(p, 0x553D, 5);
        run_process_slice(p, 1.0);
        EXPECT_EQ(fake_host::audio_lock_level(), 0);
        return id;
    }
    static int32_t state(int ch, int code) { return mudo_get_channel_state(ch, code, nullptr); }
};

TEST_F(AudioCalls, NoteDefaultsChannelsAndRetrigger) {
    int64_t id = run("note(48)");
    EXPECT_EQ(state(0, 4), 48);
    EXPECT_EQ(state(0, 1), 0);
    EXPECT_EQ(state(0, 2), 64);
    EXPECT_EQ(state(0, 14), 33);
    EXPECT_EQ(state(0, 15), 0x20000);
    EXPECT_EQ(app.audio_focus, id);

    run("note(60, 1, 64, 0, 0, 3)");
    EXPECT_EQ(state(3, 4), 60);
    EXPECT_EQ(state(3, 14), 33);
    EXPECT_EQ(state(3, 15), 0x20000);
    mudo_play_track(-2, -1, 0, 0, 0, 0, 0, 0);
    run("note(60, 1, 64, 0, 0, 20)");
    EXPECT_EQ(mudo_get_active_channels(), 0);
    for (int c = 0; c < 16; c++) EXPECT_EQ(state(c, 1), -1) << c;

    // Numeric strings count, tables are absent.
    run("note('61', {}, 40, 0, 0, '4')");
    EXPECT_EQ(state(4, 4), 61);
    EXPECT_EQ(state(4, 1), 0);
    EXPECT_EQ(state(4, 2), 40);
}

// One process across several slices (a new focus would reset every channel).
TEST_F(AudioCalls, RetriggerArgumentAndStopAll) {
    process_rec *p = start(
        "note(50, 1, 64, 0, 0, 1) flip() note(50, 1, 64, 0, 0, 1, false) flip() "
        "note(50, 1, 64, 0, 0, 1, true) flip() music(0) sfx(2, 9) flip() note() flip()");
    ASSERT_NE(p, nullptr);
    app.audio_allowed_pid = uint64_t(p->id);
    run_process_slice(p, 1.0);
    mixer.channels[1].node_state[0].phase = 999;
    run_process_slice(p, 1.0);
    EXPECT_EQ(mixer.channels[1].node_state[0].phase, 999u);
    run_process_slice(p, 1.0);
    EXPECT_EQ(mixer.channels[1].node_state[0].phase, 0u);
    run_process_slice(p, 1.0);
    EXPECT_EQ(mudo_get_music_state(0), 0);
    EXPECT_NE(mudo_get_active_channels(), 0);
    run_process_slice(p, 1.0);
    EXPECT_EQ(mudo_get_active_channels(), 0);
    EXPECT_EQ(mudo_get_music_state(0), -1);
    EXPECT_EQ(state(1, 1), -1);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
}

TEST_F(AudioCalls, SfxAndMusic) {
    run("sfx(5)");
    int32_t active = mudo_get_active_channels();
    ASSERT_NE(active, 0);
    int ch = __builtin_ctz(uint32_t(active));
    EXPECT_EQ(state(ch, 13), 5);
    EXPECT_EQ(state(ch, 14), 33);
    EXPECT_EQ(state(ch, 15), 0x20000);
    run("sfx(5, 2, 8, 4, -20, 70)");
    EXPECT_EQ(state(2, 9), 8);
    EXPECT_EQ(mixer.channels[2].end_row, 12);
    EXPECT_EQ(state(2, 3), -20);
    EXPECT_EQ(state(2, 14), 70);
    run("sfx(-1, 2)");
    EXPECT_EQ(state(2, 12), -1);

    run("music(0, 1000, 15)");
    EXPECT_EQ(mixer.music_mask, 15);
    EXPECT_EQ(mixer.music_base, 0x50000);
    EXPECT_EQ(mixer.fade_ticks, 120);
    EXPECT_EQ(mudo_get_music_state(0), 0);
    run("music(-1, 500)");
    EXPECT_EQ(mixer.fade_ticks, 60);
    EXPECT_EQ(mixer.fade_to, 0);
    run("music(-1)");
    EXPECT_EQ(mudo_get_music_state(0), -1);
    run("music(3, 0, 255, 0x10000000012)");  // the base's low 32 bits
    EXPECT_EQ(mixer.music_base, 0x12);
    EXPECT_EQ(mudo_get_music_state(0), 3);
    run("music(3, 0, 255, 1.5)");
    EXPECT_EQ(mixer.music_base, 1);
}

TEST_F(AudioCalls, UserProcessesNeedTheFocusOrTheGrant) {
    int64_t first = run("note(48)");
    ASSERT_EQ(app.audio_focus, first);
    mudo_kill_all_audio();
    skip_to_pid(5);
    int64_t user_id = run("note(48) sfx(1) music(0) flip()", false);
    process_rec *user = get_process(user_id);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(state(0, 1), -1);
    EXPECT_EQ(mudo_get_active_channels(), 0);
    EXPECT_EQ(mudo_get_music_state(0), -1);
    EXPECT_EQ(app.audio_focus, first);
    app.audio_allowed_pid = uint64_t(user->id);
    cproc = user;
    lua_getglobal(user->lua_state, "note");
    lua_pushinteger(user->lua_state, 52);
    lua_call(user->lua_state, 1, 0);
    EXPECT_EQ(app.audio_focus, user->id);
    EXPECT_EQ(state(0, 4), 52);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
}

}  // namespace
