// Process and message calls, each run in real processes: the kernel-like
// root (pid 1) drives the others through the calls under test.
#include <cstring>

#include "api_fixture.h"
#include "thread_flag.h"

using ProcessCalls = ApiTest;

namespace {

constexpr const char *kIdle = "while true do flip() end";

}  // namespace

/* ---- messages ---- */

TEST_F(ProcessCalls, MessagesArriveInOrderWithTheThreeFieldsSetOnArgumentTwoAlone) {
    fake_host::set_time(1234);
    start(R"(
        local m1, m2, extra = {n = 1}, {n = 2, s = "a\"b"}, {}
        send_message(2, m1)
        _send_message(2, m2, extra)
        out(m1._from, m1._sent_t, m1._flags, m2._from, extra._from)
        while true do flip() end
    )", "root", "/system/kernel.lua");
    process_rec *p = start(R"(
        while true do
            local m = _read_message()
            if m then out(m.n, m.s, m._from, m._sent_t, m._flags) else out() end
            flip()
        end
    )", "reader", "/apps/reader.lua");
    frame();
    for (int i = 0; i < 3; i++) run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"5:1,1234,1,1,nil", "5:1,nil,1,1234,1", "5:2,a\"b,1,1234,1", "0:"}));
}

TEST_F(ProcessCalls, PidZeroOrAnUnknownIdQueuesNothingAndLeavesTheTableAlone) {
    start(R"(
        local m = {}
        out(select('#', send_message(0, m)), select('#', send_message(99999, m)),
            select('#', send_message(0.9, m)), select('#', send_message("x", m)),
            select('#', send_message({}, m)), m._from)
        send_message("2.7", {a = 1})
        while true do flip() end
    )", "root");
    process_rec *p = spawn(kIdle);
    frame();
    EXPECT_EQ(output(), (Lines{"6:0,0,0,0,0,nil"}));
    EXPECT_EQ(inbox_unread_bytes(get_process(1)), 0);
    EXPECT_EQ(drain(p).size(), 1u) << "a numeric string is truncated to the pid";
}

TEST_F(ProcessCalls, AMessageThatIsNotATableRaisesTheIndexingErrorAndQueuesNothing) {
    start(R"(
        out(pcall(send_message, 2, 5))
        out(pcall(send_message, 2, "text"))
        out(pcall(send_message, 2))
        out(pcall(send_message, 99999, 5))
        while true do flip() end
    )", "root");
    process_rec *p = spawn(kIdle);
    frame();
    EXPECT_EQ(output(), (Lines{"2:false,attempt to index a number value",
                               "2:false,attempt to index a string value",
                               "2:false,attempt to index a nil value", "1:true"}));
    EXPECT_TRUE(drain(p).empty());
}

TEST_F(ProcessCalls, SendingChargesTheTextLengthAndAnEmptyInboxReadsAsNothing) {
    start(R"(
        out(select('#', _read_message()))
        send_message(1, {s = string.rep("x", 5000)})
        local m = _read_message()
        out(#m.s, m._from)
        while true do flip() end
    )", "root");
    frame();
    EXPECT_EQ(output(), (Lines{"1:0", "2:5000,1"}));
    EXPECT_GT(get_process(1)->cycles_last_frame + get_process(1)->cycles_this_frame, 5000u);
}

/* ---- flip ---- */

TEST_F(ProcessCalls, FlipClearsTheVideoHoldBitUnlessFlagBitZeroAndFlagsOneOrTwoRewindTheClock) {
    struct Case {
        const char *call;
        bool hold_kept;        // bit 1 of 0x547F still set
        uint64_t clock;        // from 10
        uint32_t frames_since; // from 5
    } cases[] = {
        {"flip()", false, 10, 5},  {"flip(0)", false, 10, 5}, {"flip(1)", true, 9, 0},
        {"flip(2)", false, 9, 0},  {"flip(3)", true, 9, 0},   {"_flip(4)", false, 10, 5},
        {"flip(1.5)", true, 9, 0}, {"flip('2')", false, 9, 0}, {"flip({})", false, 10, 5},
    };
    for (const Case &c : cases) {
        process_rec *p = start(std::string(c.call) + " out('after')");
        poke_proc(p, 0x547F, 0x80 | 2);
        p->clock = 10;
        p->frames_since_flip = 5;
        run_process_slice(p, 1.0);
        EXPECT_EQ(peek_proc(p, 0x547F), c.hold_kept ? 0x82 : 0x80) << c.call;
        EXPECT_EQ(p->flipped, 1u) << c.call;
        EXPECT_EQ(p->clock, c.clock) << c.call;
        EXPECT_EQ(p->frames_since_flip, c.frames_since) << c.call;
        EXPECT_TRUE(output().empty()) << c.call << ": the slice went on after the flip";
        kill_process(p);
    }
}

/* ---- slices ---- */

TEST_F(ProcessCalls, RunProcessSliceClampsItsFractionAndAZeroOrNaNFractionRunsNothing) {
    start(R"(
        out(select('#', _run_process_slice(2, 0)), select('#', _run_process_slice(2, 0/0)),
            select('#', _run_process_slice(2, -1)), select('#', _run_process_slice(2, "x")))
        local done, c = _run_process_slice(2, 5)
        out(done, math.type(c), c > 0)
        while true do flip() end
    )", "root");
    process_rec *p = start("out(t_budget()) while true do flip() end");
    define(p, "t_budget", [](lua_State *L) {
        lua_pushinteger(L, cpu_cycles_max);
        return 1;
    });
    frame();
    EXPECT_EQ(output(), (Lines{"4:0,0,0,0", "1:279620", "3:true,float,true"}));
}

TEST_F(ProcessCalls, RunProcessSliceReportsBadInvalidAndFinishedProcesses) {
    start(R"(
        out(_run_process_slice(99999, 1))
        out(_run_process_slice(3, 1))
        out(_run_process_slice(2, 1))
        out(_run_process_slice(2, 1))
        out(_run_process_slice("x", 1))
        while true do flip() end
    )", "root");
    start("out('ran')", "finishes");
    process_rec *broken = spawn("");
    std::strcpy(broken->source, "x = = 1");
    restart_process(broken);  // live, without a Lua state
    ASSERT_EQ(broken->lua_state, nullptr);
    frame();
    EXPECT_EQ(output(), (Lines{"3:true,0.0,_run_process_slice: bad process id",
                               "3:true,0.0,_run_process_slice: invalid process", "1:ran",
                               "3:true,0.0,_run_process_slice: could not find lua state",
                               "3:true,0.0,_run_process_slice: bad process id",
                               "3:true,0.0,_run_process_slice: bad process id"}));
}

TEST_F(ProcessCalls, RunProcessSliceTellsFlippedFromYieldedAndNeverResumesTheRunningChain) {
    start(R"(
        local done, c = _run_process_slice(2, 1)
        out(done, math.type(c))
        out(_run_process_slice(2, 1))
        done, c = _run_process_slice(3, 0.01)
        out(done, c > 0)
        out(_run_process_slice(1, 1))
        _run_process_slice(4, 1)
        while true do flip() end
    )", "root");
    process_rec *flipper = start("out('flipper') while true do flip() end");
    start("while true do end", "spinner");
    start("out(_run_process_slice(1, 1)) out(_run_process_slice(pid(), 1)) while true do flip() end",
          "nested");
    frame();
    EXPECT_EQ(output(), (Lines{"1:flipper", "2:true,float", "2:true,0.0", "2:false,true",
                               "2:true,0.0", "2:true,0.0", "2:true,0.0"}));
    EXPECT_EQ(flipper->slices_run, 1u) << "a flipped process ran twice in one frame";
    EXPECT_EQ(get_process(1)->slices_run, 1u);
}

/* ---- kill, restart, halt ---- */

TEST_F(ProcessCalls, AProcessThatKillsItselfIsRemovedWhenItsSliceEnds) {
    const char *cases[] = {
        "_kill_process(pid(), 0) out('after') while true do end",
    };
    for (const char *code : cases) {
        processes_init();
        start(R"(
            out(_run_process_slice(2, 1))
            out(_process_state(2))
            local m = _read_message()
            out(m.event, m.proc_id)
            while true do flip() end
        )", "root");
        start(code);
        const size_t before = output().size();
        frame();
        const Lines lines = output();
        EXPECT_EQ(Lines(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
                  (Lines{"3:true,0.0,_run_process_slice: could not find lua state", "1:-1",
                         "2:child_completed,2"}))
            << code;
    }
}

TEST_F(ProcessCalls, AProcessThatRestartsItselfStartsOverWithItsId) {
    start("_run_process_slice(2, 1) _run_process_slice(2, 1) while true do flip() end", "root");
    process_rec *p = start("out('start', pid()) _kill_process(pid(), 1) out('after') while true do flip() end");
    frame();
    EXPECT_EQ(output(), (Lines{"2:start,2", "2:start,2"}));
    EXPECT_EQ(get_process(2), p);
}

// Killing a process closes its state, which runs its finalizers inside the
// killer's call: what they do to end a slice ends none but their own.
TEST_F(ProcessCalls, FinalizersOfAKilledProcessEndNoOtherSlice) {
    struct Case {
        const char *fin;  // the killed process's finalizer
        Lines want;       // what the killer prints after the kill
    } cases[] = {
        {"flip()", {"1:after kill"}},
        {"_halt()", {"1:after kill"}},
        {"flip() _kill_process(1, 1)", {}},  // a restart of the killer still ends its slice
    };
    for (const Case &c : cases) {
        processes_init();
        start("_run_process_slice(2, 1) _kill_process(2) out('after kill') while true do flip() end", "root");
        start(std::string("setmetatable({}, {__gc = function() ") + c.fin + " end}) while true do flip() end");
        const size_t before = output().size();
        frame();
        const Lines lines = output();
        EXPECT_EQ(Lines(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()), c.want) << c.fin;
    }
}

TEST_F(ProcessCalls, KillProcessModesZeroAndOneActOtherModesAndIdsDoNothing) {
    start(R"(
        _run_process_slice(4, 1)
        _kill_process(2, 2) _kill_process(2, -1) _kill_process(99999, 0) _kill_process({}, 0)
        out(_process_state(2), #_get_process_list())
        _kill_process(2) out(_process_state(2))
        _kill_process("3.9", 0) out(_process_state(3))
        _kill_process(4, 1)
        _run_process_slice(4, 1)
        out(#_get_process_list())
        while true do flip() end
    )", "root");
    spawn(kIdle);
    spawn(kIdle);
    start("out('p4 start') while true do flip() end");
    frame();
    EXPECT_EQ(output(), (Lines{"1:p4 start", "2:0,4", "1:-1", "1:-1", "1:p4 start", "1:2"}));
}

TEST_F(ProcessCalls, HaltEndsTheSliceAndLeavesTheProcessEndedAndUnscheduled) {
    start(R"(
        out(_process_state(2))
        local done, c = _run_process_slice(2, 1)
        out(done, math.type(c))
        out(_process_state(2), _process_state(99999), _process_state("2"), _process_state(2.5))
        out(_run_process_slice(2, 1))
        while true do flip() end
    )", "root");
    start("_halt() out('after') while true do end");
    frame();
    EXPECT_EQ(output(), (Lines{"1:0", "2:false,float", "4:1,-1,1,-1", "2:false,0.0"}));
}

/* ---- inspection ---- */

// Finalizers that end the oldest of a window of children and start a new
// one, run inside the calls: each list shows the window of one moment, ids
// without a gap.
TEST_F(ProcessCalls, AProcessListIsTakenFromOneStateOfTheTable) {
    start(R"(
        local kids, code = {}, 'while true do flip() end'
        for i = 1, 30 do kids[i] = _create_process_from_code(code, 'k', '/k.lua') end
        local mt = {}
        mt.__gc = function()
          _kill_process(table.remove(kids, 1))
          kids[#kids + 1] = _create_process_from_code(code, 'k', '/k.lua')
          setmetatable({}, mt)
        end
        for i = 1, 20 do setmetatable({}, mt) end
        collectgarbage('incremental', 1, 100, 1)
        local mixed = 0
        for round = 1, 10 do
          local lo, hi, n = math.huge, 0, 0
          for _, e in ipairs(_get_process_list()) do
            if e.name == 'k' then lo, hi, n = math.min(lo, e.id), math.max(hi, e.id), n + 1 end
          end
          if hi - lo + 1 ~= n then mixed = mixed + 1 end
        end
        collectgarbage('incremental', 200, 100, 13)
        out(mixed)
        while true do flip() end
    )", "root");
    for (int i = 0; i < 400 && output().empty(); i++) frame();
    EXPECT_EQ(output(), (Lines{"1:0"})) << fake_host::log_text();
}

TEST_F(ProcessCalls, TheProcessListReportsEveryFieldAndTheRulesOfPriority) {
    start(R"(
        local list = _get_process_list()
        out(#list)
        for _, e in ipairs(list) do
            out(e.id, e.name, e.prog, math.type(e.cpu), e.cpu, math.type(e.memory),
                math.type(e.priority), e.priority, e.pwd)
        end
        out(list[4].memory)
        while true do flip() end
    )", "kernel", "/system/kernel.lua");
    for (int i = 2; i <= 8; i++) spawn(kIdle, "p" + std::to_string(i), "/apps/p.lua");
    process_rec *p4 = get_process(4);
    p4->cycles_last_flip = FRAME_CYCLES / 2;
    std::strcpy(p4->pwd, "/home/x");
    get_process(5)->high_priority = 1;
    poke_proc(get_process(6), 0x547F, 32);
    poke_proc(get_process(7), 0x547F, 33);
    get_process(8)->high_priority = 1;
    app.exclusive_pid = 8;
    frame();
    Lines out = output();
    EXPECT_EQ(out, (Lines{
                       "1:8",
                       "9:1,kernel,/system/kernel.lua,float,0.0,integer,float,0.0,/",
                       "9:2,p2,/apps/p.lua,float,0.0,integer,float,0.0,/",
                       "9:3,p3,/apps/p.lua,float,0.0,integer,float,0.0,/",
                       "9:4,p4,/apps/p.lua,float,0.5,integer,float,1.0,/home/x",
                       "9:5,p5,/apps/p.lua,float,0.0,integer,float,2.0,/",
                       "9:6,p6,/apps/p.lua,float,0.0,integer,float,0.1,/",
                       "9:7,p7,/apps/p.lua,float,0.0,integer,float,1.0,/",
                       "9:8,p8,/apps/p.lua,float,0.0,integer,float,10.0,/",
                       "1:" + std::to_string(memory_figure(p4)),
                   }));
}

TEST_F(ProcessCalls, DisplaySizeIsTheSignedPairAt0x5478OrZerosForNoProcess) {
    start(R"(
        out(_get_process_display_size(2))
        out(_get_process_display_size(99999))
        out(_get_process_display_size())
        while true do flip() end
    )", "root");
    process_rec *p = spawn(kIdle);
    poke2_proc(p, 0x5478, 480);
    poke2_proc(p, 0x547A, 0xFFFF);
    frame();
    EXPECT_EQ(output(), (Lines{"2:480,-1", "2:0,0", "2:0,0"}));
}

/* ---- creation ---- */

TEST_F(ProcessCalls, CreateProcessFromCodeNeedsThreeTextsAndASyntaxErrorUsesUpTheId) {
    start(R"(
        out(_create_process_from_code("while true do flip() end", "a", "/apps/a.lua"),
            _create_process_from_code("while true do flip() end", "b", "/system/b.lua", "box"))
        out(select('#', _create_process_from_code("x", "c")),
            select('#', _create_process_from_code({}, "c", "/c.lua")),
            select('#', _create_process_from_code("x = = 1", "bad", "/bad.lua")))
        out(_create_process_from_code("", 5, 6, {}))
        while true do flip() end
    )", "root");
    frame();
    EXPECT_EQ(output(), (Lines{"2:2,3", "3:0,0,0", "1:5"}));
    process_rec *a = get_process(2), *b = get_process(3), *n = get_process(5);
    ASSERT_TRUE(a && b && n);
    EXPECT_STREQ(a->name, "a");
    EXPECT_STREQ(a->prog, "/apps/a.lua");
    EXPECT_EQ(a->has_argument, 0);
    EXPECT_EQ(a->is_system, 0);
    EXPECT_EQ(a->parent_id, 1);
    EXPECT_STREQ(b->argument, "box");
    EXPECT_EQ(b->has_argument, 1);
    EXPECT_EQ(b->is_system, 1);
    EXPECT_EQ(get_process(4), nullptr);
    EXPECT_STREQ(n->name, "5");
    EXPECT_STREQ(n->prog, "6");
    EXPECT_EQ(n->has_argument, 0);
    EXPECT_NE(fake_host::log_text().find("creating process 4 bad /bad.lua"), std::string::npos);
}

/* ---- the escape flag and host resources ---- */

TEST_F(ProcessCalls, TheEscapeFlagIsSetOnlyByOneNumberAndReadOtherwisePerThread) {
    process_rec *p = start(R"(
        out(_yielded_to_escape_slice())
        out(select('#', _yielded_to_escape_slice(5)), _yielded_to_escape_slice())
        coroutine.wrap(function() out(_yielded_to_escape_slice()) end)()
        _yielded_to_escape_slice(0) out(_yielded_to_escape_slice())
        _yielded_to_escape_slice(0.5) out(_yielded_to_escape_slice())
        out(_yielded_to_escape_slice(1, 2), _yielded_to_escape_slice("1"))
    )");
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"1:false", "2:0,true", "1:false", "1:false", "1:false",
                               "2:false,false"}));
}

TEST_F(ProcessCalls, TheEscapeFlagStoresItsFixedValue) {
    process_rec *p = start("_yielded_to_escape_slice(7) out(t_flag()) "
                           "_yielded_to_escape_slice(0) out(t_flag())");
    define(p, "t_flag", [](lua_State *L) {
        lua_pushinteger(L, api_get_escape_flag(L));
        return 1;
    });
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"1:1073741824", "1:0"}));
}

TEST_F(ProcessCalls, ClosingHostResourcesClosesTheSocketsOfALiveProcessOnly) {
    start("_close_process_host_resources(2) _close_process_host_resources(99999) "
          "out(pid()) while true do flip() end", "root");
    spawn(kIdle);
    frame();
    EXPECT_EQ(output(), (Lines{"1:1"}));
    EXPECT_EQ(fake_host::deleted_socket_owners(), (std::vector<int64_t>{2}));
}
