// The audio bracket over real processes: permission, focus moves, full and
// dirty-page copies into the mixer's memory, mapped pages, a vanished focus,
// and the lock levels it leaves (the fake host counts them).
#include <cstring>

#include "mudo.h"
#include "mudo_testing.h"
#include "runtime_fixture.h"

namespace {

struct BracketTest : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        mudo_reinit_for_tests();
    }
    static uint8_t ram(uint32_t a) { return mixer.audio_ram[a]; }
};

TEST_F(BracketTest, PermissionAndLockLevels) {
    spawn("", "root");
    skip_to_pid(7);
    process_rec *seven = spawn("", "seven");
    ASSERT_EQ(seven->id, 7);
    process_rec *nine = spawn("", "nine");
    skip_to_pid(9);
    ASSERT_EQ(nine->id, 8);
    app.audio_focus = 9;
    EXPECT_EQ(audio_op_start(7, 1), 1);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
    EXPECT_EQ(app.audio_focus, 9);
    app.audio_allowed_pid = 7;
    EXPECT_EQ(audio_op_start(7, 1), 0);
    EXPECT_EQ(fake_host::audio_lock_level(), 1);
    EXPECT_EQ(app.audio_focus, 7);
    audio_op_end();
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
    // System ids always pass; pid 0 means the focus.
    EXPECT_EQ(audio_op_start(0, 0), 0);
    audio_op_end();
    EXPECT_EQ(audio_op_start(1, 0), 0);
    audio_op_end();
    EXPECT_EQ(app.audio_focus, 1);
    EXPECT_EQ(audio_op_start(3, 0), 1);  // no process 3: the focus drops
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
    EXPECT_EQ(app.audio_focus, -2);
}

TEST_F(BracketTest, FullCopyThenDirtyPagesOnly) {
    process_rec *root = spawn("", "root");
    poke_proc(root, 0x123456, 0xAB);
    mixer.channels[2].inst = 5;
    ASSERT_EQ(audio_op_start(1, 0), 0);
    audio_op_end();
    EXPECT_EQ(ram(0x123456), 0xAB);
    EXPECT_EQ(ram(0xF80200 + 1), uint8_t(peek_proc(root, 0xF80201)));  // the wavetables came along
    EXPECT_EQ(mixer.channels[2].inst, 255);                              // every channel reset
    EXPECT_EQ(app.audio_synced_pid, 1);
    for (int p = 0; p < NUM_PAGES; p++) ASSERT_EQ(root->page_flags[p] & 1, 0) << p;

    poke_proc(root, 0x200000, 7);
    mixer.audio_ram[0x300000] = 99;  // a page the process did not write
    mixer.channels[2].inst = 5;
    ASSERT_EQ(audio_op_start(0, 0), 0);  // force 0: nothing copied
    audio_op_end();
    EXPECT_EQ(ram(0x200000), 0);
    ASSERT_EQ(audio_op_start(0, 1), 0);
    audio_op_end();
    EXPECT_EQ(ram(0x200000), 7);
    EXPECT_EQ(ram(0x300000), 99);
    EXPECT_EQ(mixer.channels[2].inst, 5);  // same focus: no reset
    EXPECT_EQ(root->page_flags[0x200], 254);
}

TEST_F(BracketTest, MappedPageCopiesArrayBytesThenOwnBytesOrZeros) {
    process_rec *root = spawn("", "root");
    std::vector<uint8_t> array(1000, 0x5A);
    poke_proc(root, 0x7000 + 2000, 0x11);  // an own byte past the mapped part
    map_page(root, 7, array.data(), 1000);
    std::vector<uint8_t> other(1000, 0x6B);
    map_page(root, 9, other.data(), 1000);  // no own page behind it
    std::memset(mixer.audio_ram + 0x9000, 0xEE, 4096);
    ASSERT_EQ(audio_op_start(1, 0), 0);
    audio_op_end();
    EXPECT_EQ(ram(0x7000), 0x5A);
    EXPECT_EQ(ram(0x7000 + 999), 0x5A);
    EXPECT_EQ(ram(0x7000 + 1000), 0);
    EXPECT_EQ(ram(0x7000 + 2000), 0x11);
    EXPECT_EQ(ram(0x9000 + 999), 0x6B);
    EXPECT_EQ(ram(0x9000 + 1000), 0);
    EXPECT_EQ(ram(0x9FFF), 0);
    unmap_page(root, 7);
    unmap_page(root, 9);
}

TEST_F(BracketTest, DeadFocusClearsOnceAndRestartLocksAroundTheKill) {
    spawn("", "root");
    process_rec *p = spawn("", "p");
    int64_t id = p->id;
    poke_proc(p, 0x50000, 3);
    ASSERT_EQ(audio_op_start(id, 1), 0);
    audio_op_end();
    EXPECT_EQ(ram(0x50000), 3);
    kill_process_by_id(id);
    EXPECT_EQ(audio_op_start(0, 1), 1);
    EXPECT_EQ(ram(0x50000), 0);
    EXPECT_EQ(app.audio_focus, -2);
    mixer.audio_ram[0x50000] = 8;
    EXPECT_EQ(audio_op_start(0, 1), 1);  // already none: nothing cleared again
    EXPECT_EQ(ram(0x50000), 8);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);

    process_rec *q = spawn("", "q");
    ASSERT_EQ(audio_op_start(q->id, 1), 0);
    audio_op_end();
    mixer.channels[1].inst = 4;
    int calls = fake_host::audio_lock_calls();
    restart_process(q);
    EXPECT_EQ(fake_host::audio_lock_calls(), calls + 1);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
    EXPECT_EQ(mixer.channels[1].inst, 255);
}

}  // namespace
