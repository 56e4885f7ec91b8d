// Process table and lifecycle: slots, ids, creation fields, syntax errors,
// child completion, restart and the running chain.
#include <cstring>

#include "runtime_fixture.h"

using Lifecycle = RuntimeTest;

TEST_F(Lifecycle, KillingTheFirstOfThreeMovesTheOthersDownAndKeepsTheirIdsAndRecords) {
    process_rec *a = spawn("", "a");
    process_rec *b = spawn("", "b");
    process_rec *c = spawn("", "c");
    int64_t bid = b->id, cid = c->id;
    kill_process(a);
    ASSERT_EQ(get_process_count(), 2);
    EXPECT_EQ(get_process_by_index(0), b);
    EXPECT_EQ(get_process_by_index(1), c);
    EXPECT_EQ(get_process_by_index(2), nullptr);
    EXPECT_EQ(get_process(bid), b);
    EXPECT_EQ(get_process(cid), c);
    EXPECT_EQ(c->id, cid);
    EXPECT_STREQ(c->name, "c");
    // Ids and indices naming nothing are ignored.
    kill_process_by_id(99);
    kill_process_by_index(-1);
    kill_process_by_index(2);
    kill_process(nullptr);
    EXPECT_EQ(get_process_count(), 2);
}

TEST_F(Lifecycle, ASyntaxErrorUsesUpTheIdReportsToTheWindowManagerAndLogsTwoLines) {
    spawn("", "kernel");
    spawn("", "two");
    process_rec *wm = spawn("", "wm");
    ASSERT_EQ(wm->id, 3);
    drain(wm);
    fake_host::set_time(1234);
    EXPECT_EQ(spawn("x = = 1", "bad", "/system/bad.lua"), nullptr);
    EXPECT_EQ(get_process_count(), 3);
    process_rec *next = spawn("", "next");
    EXPECT_EQ(next->id, 5);

    auto msgs = drain(wm);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0],
              "{event=\"report_error\",content=\"*syntax error\",_from=4,_sent_t=1234,_flags=1}");
    EXPECT_NE(msgs[1].find("content=\"bad:1: unexpected symbol near '='\""), std::string::npos)
        << msgs[1];
    std::string log = fake_host::log_text();
    EXPECT_NE(log.find("creating process 4 bad /system/bad.lua\n"), std::string::npos);
    EXPECT_NE(log.find("syntax error. ** could not create process **\nbad:1: unexpected symbol "
                       "near '='\n"),
              std::string::npos)
        << log;
}

TEST_F(Lifecycle, PrecompiledChunksAreRefusedAsSyntaxErrors) {
    EXPECT_EQ(spawn(std::string("\x1bLua\x54\x00", 6) + "rest", "bin"), nullptr);
    EXPECT_NE(fake_host::log_text().find("could not create process"), std::string::npos);
}

TEST_F(Lifecycle, ChildCompletionGoesOnceToALiveParentOnly) {
    process_rec *parent = spawn("", "parent");  // stays current: none was
    process_rec *child = spawn("", "child");
    process_rec *orphan = spawn("", "orphan");
    EXPECT_EQ(child->parent_id, parent->id);
    fake_host::set_time(77);
    kill_process(child);
    auto msgs = drain(parent);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0], "{event=\"child_completed\",_from=2,_sent_t=77,proc_id=2}");

    // A dead parent gets nothing (and nothing breaks).
    kill_process(parent);
    kill_process(orphan);
    EXPECT_EQ(get_process_count(), 0);
}

TEST_F(Lifecycle, AParentWhoseInboxIsOverTheCapLosesTheCompletion) {
    process_rec *parent = spawn("", "parent");
    process_rec *child = spawn("", "child");
    std::string big(INBOX_CAP, 'x');
    ASSERT_GT(send_process_message_string(parent, big.c_str()), 0);  // now over the cap
    kill_process(child);
    auto msgs = drain(parent);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].size(), big.size());
}

TEST_F(Lifecycle, CreationSetsTheRecordFields) {
    struct Case {
        const char *prog;
        int is_system;
    } cases[] = {{"/system/apps/x.lua", 1}, {"/systemx/a.lua", 0}, {"system/a.lua", 0}};
    for (const auto &c : cases) {
        process_rec *p = spawn("", "n", c.prog);
        EXPECT_EQ(p->is_system, c.is_system) << c.prog;
    }
    std::string long_name(100, 'n');
    process_rec *p = spawn("", long_name);
    EXPECT_EQ(std::string(p->name), long_name.substr(0, 63));
    EXPECT_STREQ(p->pwd, "/");
    EXPECT_EQ(p->priority, 1.0);
    EXPECT_EQ(p->state, PROC_RUNNING);
    EXPECT_EQ(p->has_argument, 0);
    process_rec *q = create_process_from_code("", "q", "/q.lua", "arg");
    EXPECT_STREQ(q->argument, "arg");
    EXPECT_EQ(q->has_argument, 1);
}

TEST_F(Lifecycle, AProcessCreatedWithNoneCurrentHasNoParentAndStaysCurrent) {
    ASSERT_EQ(cproc, nullptr);
    process_rec *first = spawn("", "first");
    EXPECT_EQ(first->parent_id, 0);
    EXPECT_EQ(cproc, first);
    process_rec *second = spawn("", "second");
    EXPECT_EQ(second->parent_id, first->id);
    EXPECT_EQ(cproc, first);  // the remembered process is current again
}

TEST_F(Lifecycle, CreationCallsTheStateInitialisersInOrderAndKillClosesSockets) {
    process_rec *p = spawn("", "p");
    std::vector<std::string> order = {"api", "os", "userdata", "socket"};
    EXPECT_EQ(fake_host::initialisers(), order);
    int64_t id = p->id;
    kill_process(p);
    EXPECT_EQ(fake_host::deleted_socket_owners(), std::vector<int64_t>{id});
}

TEST_F(Lifecycle, The513thLiveProcessIsRefusedAndItsIdUsedUp) {
    kill_process(spawn("", "root"));  // without process 1 the processes stay small
    for (int i = 0; i < MAX_PROCESSES; i++) ASSERT_NE(spawn("", "p"), nullptr) << i;
    EXPECT_EQ(spawn("", "extra", "/extra.lua"), nullptr);
    EXPECT_EQ(get_process_count(), MAX_PROCESSES);
    std::string log = fake_host::log_text();
    EXPECT_NE(log.find("creating process 514 extra /extra.lua\n** too many processes; could not "
                       "create process **\n"),
              std::string::npos);
    kill_process_by_index(0);
    EXPECT_EQ(spawn("", "later")->id, 515);
}

TEST_F(Lifecycle, TheNullSpriteIsRewrittenOnEveryCall) {
    auto *s = reinterpret_cast<uint8_t *>(get_null_sprite());
    uint8_t header[16] = {3, 2, 0, 0, 16, 0, 0, 0, 16, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(s, header, 16), 0);
    s[16 + 5] = 9;
    s[1] = 1;
    auto *again = reinterpret_cast<uint8_t *>(get_null_sprite());
    EXPECT_EQ(again, s);
    EXPECT_EQ(std::memcmp(again, header, 16), 0);
    for (int i = 0; i < 256; i++) ASSERT_EQ(again[16 + i], 0) << i;
}

/* ---- a fresh process's address space ---- */

TEST_F(Lifecycle, AFreshProcessOwnsItsFirstPagesInstrumentPageAndACopyOfTheWavetables) {
    process_rec *root = spawn("", "root");
    process_rec *later = spawn("", "later");
    for (process_rec *p : {root, later}) {
        EXPECT_EQ(p->own_page_bytes, 0x99000u) << p->id;
        for (int pg = 0; pg < 16; pg++) {
            EXPECT_EQ(p->page_len[pg], 4096) << pg;
            EXPECT_EQ(p->page_flags[pg], (pg >= 8 && pg <= 11) ? 2 : 0) << pg;
        }
        EXPECT_EQ(p->page_flags[0x40], 255);
        for (int pg = 0xF78; pg <= 0xFFF; pg++)
            ASSERT_EQ(p->page_flags[pg], p->id == 1 ? 255 : 0) << std::hex << pg;
    }
}

TEST_F(Lifecycle, WithoutProcessOneTheWavetableRegionStaysUntouched) {
    spawn("", "root");
    process_rec *p = spawn("", "p");
    kill_process_by_id(1);
    process_rec *q = spawn("", "q");
    EXPECT_EQ(q->own_page_bytes, 0x11000u);
    EXPECT_EQ(q->page[0xF78], nullptr);
    EXPECT_EQ(peek_proc(q, 0xF80200), 0);
    EXPECT_NE(p, q);
}

/* ---- restart ---- */

TEST_F(Lifecycle, RestartKeepsIdSlotAndRecordAndClearsEverythingElse) {
    spawn("", "root");
    process_rec *p = spawn("x = 1 t_poke(0x20000, 9)", "p");
    run_process_slice(p, 1.0);
    ASSERT_EQ(get_process_count(), 1) << "a finished chunk ends the process";
    p = spawn("x = 1 t_poke(0x20000, 9) while true do t_flip() end", "p");
    int64_t id = p->id;
    run_process_slice(p, 1.0);
    ASSERT_EQ(peek_proc(p, 0x20000), 9);
    send_process_message_string(p, "hello");
    app.audio_focus = id;
    app.audio_synced_pid = id;

    restart_process(p);
    EXPECT_EQ(get_process(id), p);
    EXPECT_EQ(process_slot(p), 1);
    EXPECT_EQ(p->state, PROC_RUNNING);
    EXPECT_EQ(peek_proc(p, 0x547F), 1);
    EXPECT_EQ(peek_proc(p, 0x20000), 0);
    EXPECT_EQ(drain(p).size(), 0u);
    cproc = p;  // the lookup may allocate, charged to the owner
    lua_getglobal(p->lua_state, "x");
    EXPECT_TRUE(lua_isnil(p->lua_state, -1));
    lua_pop(p->lua_state, 1);
    EXPECT_EQ(app.audio_focus, -2);
    EXPECT_EQ(app.audio_synced_pid, -3);
    EXPECT_EQ(fake_host::kill_all_audio_calls(), 1);
}

TEST_F(Lifecycle, RestartDropsTheFocusWhoeverHeldIt) {
    spawn("", "root");
    process_rec *p = spawn("", "p");
    app.audio_focus = 1;
    app.audio_synced_pid = 1;
    restart_process(p);
    EXPECT_EQ(app.audio_focus, -2);
    EXPECT_EQ(app.audio_synced_pid, 1);
    EXPECT_EQ(fake_host::kill_all_audio_calls(), 0);
}

TEST_F(Lifecycle, ARestartThatNoLongerLoadsSurvivesSendsFramesAndSlices) {
    spawn("while true do t_flip() end", "root");
    process_rec *p = spawn("", "p");
    std::strcpy(p->source, "x = = 1");  // the text no longer compiles
    restart_process(p);
    ASSERT_EQ(get_process(2), p);
    EXPECT_EQ(p->lua_state, nullptr);
    EXPECT_EQ(p->state, PROC_RUNNING);
    EXPECT_EQ(send_process_message_string(p, "hi"), 0);
    EXPECT_EQ(drain(p).size(), 0u);
    EXPECT_EQ(run_process_slice(p, 1.0), 0u);
    poke_proc(p, 0x547F, 1);
    frame();
    frame();
    EXPECT_EQ(get_process(2), p);
    kill_process(p);
    EXPECT_EQ(get_process_count(), 1);
}

/* ---- the running chain ---- */

TEST_F(Lifecycle, AProcessThatKillsItselfEndsItsSliceAndIsRemovedAfterwards) {
    spawn("while true do t_flip() end", "root");
    process_rec *p = spawn("t_kill(t_pid(), 0) t_poke(0x20000, 1) while true do end", "p");
    run_process_slice(p, 1.0);
    EXPECT_EQ(get_process(2), nullptr);
    EXPECT_EQ(get_process_count(), 1);
}

TEST_F(Lifecycle, AProcessThatRestartsItselfStartsOverInPlace) {
    spawn("", "root");
    // Byte 0x547F is 1 only after a restart.
    process_rec *p = spawn(
        "if t_peek(0x547F) == 0 then t_poke(0x30000, 7) t_kill(t_pid(), 1) t_poke(0x30002, 1) end "
        "t_poke(0x30001, 5) while true do t_flip() end",
        "p");
    run_process_slice(p, 1.0);
    ASSERT_EQ(get_process(2), p);
    EXPECT_EQ(p->state, PROC_RUNNING);
    EXPECT_EQ(peek_proc(p, 0x30000), 0);  // the old memory went with the old incarnation
    EXPECT_EQ(peek_proc(p, 0x547F), 1);
    EXPECT_EQ(p->parent_id, p->id);
    run_process_slice(p, 1.0);
    EXPECT_EQ(peek_proc(p, 0x30001), 5);
    EXPECT_EQ(peek_proc(p, 0x30002), 0);
}

TEST_F(Lifecycle, RunningAProcessAlreadyOnTheChainGivesNoSlice) {
    process_rec *root = spawn(
        "t_poke(0x30000, t_run(1, 1.0)) t_poke(0x30001, 1) t_poke(0x30004, t_run(2, 1.0)) "
        "while true do t_flip() end",
        "root");
    spawn("t_poke(0x30000, t_run(1, 1.0) + 1) t_poke(0x30001, 1) while true do t_flip() end",
          "child");
    process_rec *child = get_process(2);
    frame();
    EXPECT_EQ(peek_proc(root, 0x30000), 0);   // itself
    EXPECT_EQ(peek_proc(root, 0x30001), 1);
    EXPECT_EQ(peek_proc(child, 0x30000), 1);  // its ancestor: 0 + 1
    EXPECT_EQ(peek_proc(child, 0x30001), 1);
    EXPECT_GT(peek4_proc(root, 0x30004), 0);
}

TEST_F(Lifecycle, TheWindowManagerCanKillTheKernelThatRunsIt) {
    spawn("t_run(3, 1.0) t_poke(0x30000, 1) while true do t_flip() end", "kernel");
    spawn("", "two");
    spawn("t_kill(1, 0) t_poke(0x30000, 2) while true do t_flip() end", "wm");
    frame();
    EXPECT_EQ(get_process(1), nullptr);
    ASSERT_NE(get_process(3), nullptr);
    EXPECT_EQ(peek_proc(get_process(3), 0x30000), 0) << "its slice ended at the kill";
    EXPECT_EQ(get_process_count(), 2);
    EXPECT_EQ(cproc, get_process_by_index(0));
    frame();
}

TEST_F(Lifecycle, AProcessThatKillsALowerSlotKeepsItsOwnSpaceAndId) {
    spawn("while true do t_flip() end", "root");
    spawn("while true do t_flip() end", "victim");
    process_rec *p = spawn(
        "t_kill(2, 0) t_poke(0x30000, 42) t_poke(0x30001, t_peek(0x30000) + 1) "
        "t_poke(0x30002, t_pid()) while true do t_flip() end",
        "killer");
    run_process_slice(p, 1.0);
    EXPECT_EQ(get_process(2), nullptr);
    EXPECT_EQ(process_slot(p), 1);
    EXPECT_EQ(peek_proc(p, 0x30000), 42);
    EXPECT_EQ(peek_proc(p, 0x30001), 43);
    EXPECT_EQ(peek_proc(p, 0x30002), 3);
}
