// Slices: budget, debt, nesting, gating, what ends a process, the allocator
// and the memory limit, and the frame start and end bookkeeping.
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "runtime_fixture.h"

namespace {

int t_budget(lua_State *L) {
    lua_pushinteger(L, cpu_cycles_max);
    return 1;
}

int t_set_cycles(lua_State *L) {
    cpu_cycles = static_cast<int32_t>(lua_tointeger(L, 1));
    return 0;
}

// Runs a nested slice of 'pid' and tells whether the caller's three counters
// and current process came back exactly.
int t_nested_keeps_counters(lua_State *L) {
    int64_t pid = lua_tointeger(L, 1);
    int32_t c = cpu_cycles, m = cpu_cycles_max, s = cpu_superyielding;
    process_rec *me = cproc;
    uint32_t used = run_process_slice(get_process(pid), 0.5);
    bool same = c == cpu_cycles && m == cpu_cycles_max && s == cpu_superyielding && me == cproc;
    lua_pushboolean(L, same && used > 0);
    return 1;
}

int64_t seen_figure = 0;  // the memory figure a script noted

long max_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

using Slices = RuntimeTest;

/* ---- budget and debt ---- */

TEST_F(Slices, HalfAFrameIsABudgetOf139810) {
    spawn("", "root");
    process_rec *p = spawn("t_poke4(0x30000, t_budget()) while true do t_flip() end", "p");
    define(p, "t_poke4", [](lua_State *L) {
        poke4(static_cast<uint32_t>(lua_tointeger(L, 1)), lua_tointeger(L, 2));
        return 0;
    });
    define(p, "t_budget", t_budget);
    run_process_slice(p, 0.5);
    EXPECT_EQ(peek4_proc(p, 0x30000), 139810);
}

TEST_F(Slices, ASpentFrameRunsNothing) {
    spawn("", "root");
    process_rec *p = spawn("t_poke(0x30000, 1) while true do t_flip() end", "p");
    total_frame_cycles = FRAME_CYCLES;
    EXPECT_EQ(run_process_slice(p, 1.0), 0u);
    EXPECT_EQ(peek_proc(p, 0x30000), 0);
    total_frame_cycles = 0;
    EXPECT_GT(run_process_slice(p, 1.0), 0u);
    EXPECT_EQ(peek_proc(p, 0x30000), 1);
}

TEST_F(Slices, FractionsThatGiveNoCycleRunNothing) {
    spawn("", "root");
    process_rec *p = spawn("t_poke(0x30000, 1) while true do t_flip() end", "p");
    for (double f : {0.0, -1.0, 1e-9, std::nan("")}) EXPECT_EQ(run_process_slice(p, f), 0u) << f;
    EXPECT_EQ(peek_proc(p, 0x30000), 0);
}

TEST_F(Slices, ALargeDebtStartsTheCounterAtTheBudgetAndIsCappedAtTenFrames) {
    spawn("", "root");
    process_rec *p = spawn("while true do t_flip() end", "p");
    p->cycle_debt = 5000000;
    // The counter starts at the budget, so only the +1 of the overshoot counts.
    EXPECT_EQ(run_process_slice(p, 0.5), 1u);
    int32_t left = 2796200 - 139810;
    EXPECT_GT(p->cycle_debt, left);
    EXPECT_LE(p->cycle_debt, left + 2) << "plus the one instruction's overshoot";
}

TEST_F(Slices, AnOvershootBecomesDebtAndCountsAsBudgetPlusOneMinusTheStart) {
    spawn("", "root");
    process_rec *p = spawn("t_set_cycles(t_budget() + 100) t_poke(0x30000, 1)", "p");
    define(p, "t_budget", t_budget);
    define(p, "t_set_cycles", t_set_cycles);
    p->cycle_debt = 1000;
    EXPECT_EQ(run_process_slice(p, 1.0), FRAME_CYCLES + 1 - 1000);
    EXPECT_EQ(p->cycle_debt, 100);
    EXPECT_EQ(peek_proc(p, 0x30000), 0) << "the slice ended before the next instruction";
    total_frame_cycles = 0;
    run_process_slice(p, 1.0);
    EXPECT_EQ(get_process(2), nullptr) << "finishing ends the process";
}

/* ---- nesting ---- */

TEST_F(Slices, ANestedSliceRestoresTheCallersCountersAndCurrentProcessExactly) {
    process_rec *root =
        spawn("t_poke(0x30000, t_nested_keeps_counters(2) and 1 or 0) while true do t_flip() end",
              "root");
    spawn("t_spend(5000) while true do t_flip() end", "child");
    define(root, "t_nested_keeps_counters", t_nested_keeps_counters);
    frame();
    EXPECT_EQ(peek_proc(root, 0x30000), 1);
}

TEST_F(Slices, NestedCyclesCountOnceForTheChildOnceForTheCallerAndOnceInTheTotals) {
    process_rec *root = spawn("t_run(2, 0.5) while true do t_flip() end", "root");
    process_rec *child = spawn("t_spend(5000) while true do t_flip() end", "child");
    prepare_processes_for_frame();
    uint32_t root_used = run_process_slice(root, 1.0);
    uint32_t child_used = child->cycles_this_frame;
    EXPECT_GT(child_used, 5000u);
    EXPECT_EQ(child->cycles_since_flip, child_used);
    EXPECT_EQ(root->cycles_this_frame, root_used + child_used) << "the root's own slice once";
    EXPECT_EQ(root->cycles_since_flip, root_used + child_used);
    EXPECT_EQ(total_frame_cycles, root_used + child_used);
    EXPECT_EQ(total_frame_cycles_since_wm_flip, root_used + child_used);
    EXPECT_LT(root_used, 5000u) << "the child's cycles do not use up the caller's budget";
    update_processes_after_frame();
}

TEST_F(Slices, AProcessRunsThousandsOfSlicesWithoutExhaustingTheCStack) {
    spawn("", "root");
    process_rec *p = spawn("local n = 0 while true do n = n + 1 t_flip() end", "p");
    for (int i = 0; i < 1500; i++) {
        total_frame_cycles = 0;
        ASSERT_GT(run_process_slice(p, 1.0), 0u) << i;
    }
    EXPECT_EQ(p->state, PROC_RUNNING);
    EXPECT_EQ(p->slices_run, 1500u);
}

/* ---- gating ---- */

TEST_F(Slices, UserProcessesWaitForBootTimeExclusiveRunsAndTheirOwnState) {
    spawn("", "root");
    spawn("", "two");
    process_rec *wm = spawn("while true do t_flip() end", "wm");
    spawn("", "four");
    process_rec *p = spawn("while true do t_flip() end", "five");
    ASSERT_EQ(p->id, 5);
    struct Case {
        uint32_t headless;
        uint32_t boot_ms;
        uint64_t exclusive;
        bool user_runs;
        bool wm_runs;
    } cases[] = {
        {0, 2199, 0, false, true}, {0, 2200, 0, true, true}, {1, 0, 0, true, true},
        {1, 0, 9, false, true},    {1, 0, 5, true, true},    {0, 0, 3, false, true},
    };
    for (const auto &c : cases) {
        config.headless = c.headless;
        fake_host::set_boot_time(c.boot_ms);
        app.exclusive_pid = c.exclusive;
        total_frame_cycles = 0;
        EXPECT_EQ(run_process_slice(p, 1.0) > 0, c.user_runs)
            << c.headless << " " << c.boot_ms << " " << c.exclusive;
        EXPECT_EQ(run_process_slice(wm, 1.0) > 0, c.wm_runs);
    }
}

/* ---- what ends a process ---- */

TEST_F(Slices, AFinishedChunkEndsAndRemovesTheProcess) {
    spawn("", "root");
    process_rec *p = spawn("x = 1", "p");
    int64_t id = p->id;
    EXPECT_GT(run_process_slice(p, 1.0), 0u);
    EXPECT_EQ(get_process(id), nullptr);
}

TEST_F(Slices, RuntimeErrorsReportThreeEventsAndLogTheErrorAndTraceback) {
    spawn("", "kernel");
    spawn("", "two");
    process_rec *wm = spawn("while true do t_flip() end", "wm");
    drain(wm);
    // A function of 'n' locals that indexes a nil global, called with
    // 'args' arguments (as varargs): with the right counts its frame ends
    // exactly at the end of the stack, or at the stack's limit.
    const auto full_stack = [](int n, int args) {
        std::string code = "local function f(...)\nlocal a1";
        for (int i = 2; i <= n; i++) code += ", a" + std::to_string(i);
        code += "\nreturn x.y\nend\n";
        if (args == 0) return code + "f()";
        return code + "local t = {} for i = 1, " + std::to_string(args) + " do t[i] = i end f(table.unpack(t))";
    };
    const auto repeated = [](const std::string &text, int n) {
        std::string all;
        for (int i = 0; i < n; i++) all += text;
        return all;
    };
    const std::string full_frames = "stack traceback:\\010\\009user:3: in local 'f'\\010\\009user:5: in main chunk";
    const std::string nil_global = "user:3: attempt to index a nil value (global 'x')";
    struct Case {
        const char *name;
        std::string code;
        std::string where;     // the error event's content
        std::string filtered;  // the traceback event's content
    } cases[] = {
        {"/system/apps/x.lua", "local a = 1\nerror('boom')", "/system/apps/x.lua:2: boom",
         "stack traceback:\\010\\009[C]: in function 'error'\\010\\009"},
        {"user", "local a = 1\nerror('boom')", "user:2: boom",
         "stack traceback:\\010\\009[C]: in function 'error'\\010\\009user:2: in main chunk"},
        // The frame ends at the stack's end; at its limit, it cannot grow.
        {"user", full_stack(190, 0), nil_global, full_frames},
        {"user", full_stack(150, 99838), nil_global, full_frames},
        {"user", full_stack(150, 99840), nil_global, full_frames},
        {"user", full_stack(150, 99842), nil_global, full_frames},
        // A host or library function is named as the names it had before
        // the program ran.
        {"user", "local function f() string.rep() end\nf()",
         "user:1: bad argument #1 to 'rep' (string expected, got no value)",
         "stack traceback:\\010\\009[C]: in function 'string.rep'\\010\\009user:1: in local 'f'"
         "\\010\\009user:2: in main chunk"},
        // Past the watchdog's margin, the report still names a frame from
        // the 2,000 instructions that called it: it has a margin of its own.
        {"user",
         "local function f() string.gsub('a', 'a', function() while true do end end) end\nlocal a if a then " +
             repeated("a = 1 ", 2000) + "end\nf()",
         std::string("user:1: ") + VM_WATCHDOG_MESSAGE,
         "stack traceback:\\010\\009user:1: in function <user:1>\\010\\009[C]: in function 'string.gsub'"
         "\\010\\009user:1: in local 'f'\\010\\009user:3: in main chunk"},
        // A message is kept to its first TRACEBACK_MAX characters; a stack
        // deeper than 22 frames shows its first 10 and its last 11.
        {"user", "error(string.rep('x', " + std::to_string(TRACEBACK_MAX + 100) + "), 0)",
         std::string(TRACEBACK_MAX, 'x'),
         "stack traceback:\\010\\009[C]: in function 'error'\\010\\009user:1: in main chunk"},
        {"user", "local function f(n) if n == 0 then error('deep') end f(n - 1) end\nf(40)", "user:1: deep",
         "stack traceback:\\010\\009[C]: in function 'error'" + repeated("\\010\\009user:1: in upvalue 'f'", 9) +
             "\\010\\009...\\009(skipping 21 levels)" + repeated("\\010\\009user:1: in upvalue 'f'", 9) +
             "\\010\\009user:1: in local 'f'\\010\\009user:2: in main chunk"},
        // What the program does to the tables it can reach does not reach
        // the report: it reads none.
        {"user",
         "local r = debug.getregistry() r._LOADED = nil r['_UBOX*'] = nil\n"
         "setmetatable(r, {__index = function() coroutine.yield() error('in the report') end})\n"
         "setmetatable(package or {}, {__index = function() while true do end end}) error('boom')",
         "user:3: boom",
         "stack traceback:\\010\\009[C]: in function 'error'\\010\\009user:3: in main chunk"},
    };
    for (const auto &c : cases) {
        fake_host::reset();
        SCOPED_TRACE(c.code.substr(0, 200));
        process_rec *p = spawn(c.code, c.name);
        int64_t id = p->id;
        for (int i = 0; i < 10 && get_process(id); i++) {
            prepare_processes_for_frame();
            run_process_slice(p, 1.0);
        }
        EXPECT_EQ(get_process(id), nullptr) << "user processes are killed";
        auto msgs = drain(wm);
        ASSERT_EQ(msgs.size(), 3u);
        std::string tail = "\",_from=" + std::to_string(id) + ",_sent_t=0,_flags=0}";
        EXPECT_EQ(msgs[0], "{event=\"report_error\",content=\"*runtime error" + tail);
        const std::string &where = c.where;
        EXPECT_EQ(msgs[1], "{event=\"report_error\",content=\"" + where + tail);
        EXPECT_EQ(msgs[2], "{event=\"report_error\",content=\"" + c.filtered + tail);
        std::string log = fake_host::log_text();
        std::string head = "run_process_slice() for process " + std::to_string(id) +
                           " error: 2 " + where + "\n--------\ntraceback:\nstack traceback:";
        EXPECT_NE(log.find(head), std::string::npos) << log;
        EXPECT_NE(log.find("\n---------\n"), std::string::npos);
        EXPECT_NE(log.find("SYSTEM ERROR: *runtime error\n"), std::string::npos);
    }
}

TEST_F(Slices, ARuntimeErrorLeavesASystemProcessStoppedInItsSlot) {
    spawn("", "kernel");
    process_rec *two = spawn("error('x')", "two");
    run_process_slice(two, 1.0);
    EXPECT_EQ(get_process(2), two);
    EXPECT_EQ(two->state, PROC_STOPPED);
    EXPECT_EQ(run_process_slice(two, 1.0), 0u) << "no further slices";
}

TEST_F(Slices, ARuntimeErrorInTheKernelEndsTheProgramWithStatus1) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            fake_host::echo_log(true);
            process_rec *k = spawn("error('kaput')", "kernel");
            run_process_slice(k, 1.0);
        },
        ::testing::ExitedWithCode(1),
        "SYSTEM ERROR: \\*runtime error\n.*\\*\\* RUNTIME ERROR IN KERNEL \\*\\*\n"
        "\\*\\* RUNTIME ERROR IN KERNEL \\*\\*\nkernel:1: kaput\n$");
}

TEST_F(Slices, ARuntimeErrorInTheWindowManagerEndsTheProgramWithStatus1) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            spawn("", "kernel");
            spawn("", "two");
            process_rec *wm = spawn("error('kaput')", "wm");
            fake_host::echo_log(true);
            run_process_slice(wm, 1.0);
        },
        ::testing::ExitedWithCode(1),
        "\\*\\* RUNTIME ERROR IN WINDOW MANAGER \\*\\*\nwm:1: kaput\n"
        "\\*\\* RUNTIME ERROR IN WINDOW MANAGER \\*\\*\nwm:1: kaput\n$");
}

TEST_F(Slices, TracebacksAreCutBeforeSystemPathsAndToTheBufferSize) {
    EXPECT_STREQ(filter_system_traceback_lines("a\n/system/b\nc"), "a\n");
    EXPECT_STREQ(filter_system_traceback_lines("plain"), "plain");
    std::string huge(20000, 'y');
    EXPECT_EQ(std::strlen(filter_system_traceback_lines(huge.c_str())), 16383u);
    EXPECT_STREQ(filter_system_traceback_lines(nullptr), "");
}

/* ---- the allocator and the memory limit ---- */

TEST_F(Slices, TheAllocatorChargesPerBlockAndCountsAccountSizesBothWays) {
    process_rec *p = spawn("", "p");
    cproc = p;
    cpu_cycles = 0;
    uint64_t before = p->lua_bytes;
    void *b = l_alloc(nullptr, nullptr, 0, 64000, 0, 64000);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(cpu_cycles, 1004);
    EXPECT_EQ(p->lua_bytes, before + 64000);
    b = l_alloc(nullptr, b, 64000, 100, 0, 3200);
    EXPECT_EQ(p->lua_bytes, before + 3200);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);
    cpu_cycles = 0;
    EXPECT_EQ(l_alloc(nullptr, b, 100, 0, 0, 0), nullptr);
    EXPECT_EQ(cpu_cycles, 0) << "a free charges nothing";
    EXPECT_EQ(p->lua_bytes, before);
}

TEST_F(Slices, AFinalAllocationFailureMarksTheProcessAndEndsItsSlice) {
    process_rec *p = spawn("", "p");
    cproc = p;
    cpu_superyielding = 0;
    EXPECT_EQ(l_alloc(nullptr, nullptr, 0, SIZE_MAX - 4, 0, 64), nullptr);
    EXPECT_EQ(p->out_of_memory, 0u) << "a first try may fail quietly";
    EXPECT_EQ(l_alloc(nullptr, nullptr, 0, SIZE_MAX - 4, 1, 64), nullptr);
    EXPECT_EQ(p->out_of_memory, 1u);
    EXPECT_EQ(cpu_superyielding, VM_SUPERYIELD);
    cpu_superyielding = 0;
}

TEST_F(Slices, TheHardCeilingRefusesGrowthOnlyInsideTheProcessesOwnSlice) {
    process_rec *p = spawn("", "p");
    cproc = p;
    // A figure of exactly the ceiling.
    p->memory_baseline = p->own_page_bytes + p->lua_bytes + MEMORY_FIXED_CHARGE -
                         static_cast<uint64_t>(MEMORY_HARD_CEILING);
    ASSERT_EQ(memory_figure(p), MEMORY_HARD_CEILING);
    void *outside = l_alloc(nullptr, nullptr, 0, 64, 1, 64);
    EXPECT_NE(outside, nullptr) << "host work outside the slice is never refused";
    l_alloc(nullptr, outside, 64, 0, 0, 0);
    p->resume_depth = 1;  // as while its slice runs
    EXPECT_EQ(l_alloc(nullptr, nullptr, 0, 64, 0, 64), nullptr);
    EXPECT_EQ(p->out_of_memory, 0u);
    EXPECT_EQ(l_alloc(nullptr, nullptr, 0, 64, 1, 64), nullptr);
    EXPECT_EQ(p->out_of_memory, 1u);
    p->resume_depth = 0;
    cpu_superyielding = 0;
}

TEST_F(Slices, AFigureOfExactly32MBRunsOnAndOneByteMoreStopsTheProcess) {
    spawn("while true do t_flip() end", "root");
    process_rec *wm_like = spawn("", "two");
    process_rec *wm = spawn("while true do t_flip() end", "wm");
    process_rec *p = spawn("while true do t_flip() end", "p");
    (void)wm_like;
    run_process_slice(p, 1.0);
    cproc = p;
    lua_gc(p->lua_state, LUA_GCCOLLECT);
    lua_gc(p->lua_state, LUA_GCCOLLECT);
    drain(wm);
    // baseline chosen so that the figure is exactly the limit
    p->memory_baseline = p->own_page_bytes + p->lua_bytes + MEMORY_FIXED_CHARGE - MEMORY_LIMIT;
    ASSERT_EQ(memory_figure(p), MEMORY_LIMIT);
    total_frame_cycles = 0;
    run_process_slice(p, 1.0);
    ASSERT_EQ(get_process(4), p);
    p->memory_baseline -= 1;
    total_frame_cycles = 0;
    run_process_slice(p, 1.0);
    EXPECT_EQ(get_process(4), nullptr);
    auto msgs = drain(wm);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].find("content=\"*runtime error: out of memory\",_from=4"),
              std::string::npos);
}

TEST_F(Slices, AHugeStringStopsTheProcessWithoutTheHostAllocatingIt) {
    spawn("while true do t_flip() end", "root");
    spawn("", "two");
    process_rec *wm = spawn("while true do t_flip() end", "wm");
    process_rec *p = spawn("t_unbounded() local s = string.rep('x', 100000000) t_poke(0x30000, 1)", "p");
    define(p, "t_unbounded", [](lua_State *) {
        cpu_cycles_max = VM_CYCLES_CAP / 2;
        return 0;
    });
    drain(wm);
    long before = max_rss_kb();
    run_process_slice(p, 1.0);
    EXPECT_LT(max_rss_kb() - before, 50 * 1024) << "kB";
    EXPECT_EQ(get_process(4), nullptr);
    auto msgs = drain(wm);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].find("*runtime error: out of memory"), std::string::npos);
}

TEST_F(Slices, AnErrorAtAbout63MBStillReportsItsTraceback) {
    spawn("while true do t_flip() end", "root");
    spawn("", "two");
    process_rec *wm = spawn("while true do t_flip() end", "wm");
    // Inside a metamethod called from a host function the script cannot
    // yield, so one slice (whose budget leaves the watchdog out of it)
    // reaches about 63 MB before it fails; the string is garbage by then,
    // so the collection after the slice brings the process back under its
    // limit and the error is reported as an error.
    process_rec *p = spawn(
        "local o = setmetatable({}, {__tostring = function() t_unbounded() "
        "  local n = string.len(string.rep('x', 31000000) .. 'y') t_note_figure() "
        "  error('late') end}) "
        "tostring(o)",
        "p");
    define(p, "t_note_figure", [](lua_State *) {
        seen_figure = memory_figure(cproc);
        return 0;
    });
    define(p, "t_unbounded", [](lua_State *) {
        cpu_cycles_max = VM_CYCLES_CAP / 2;
        return 0;
    });
    drain(wm);
    int64_t id = p->id;
    run_process_slice(p, 1.0);
    EXPECT_EQ(get_process(id), nullptr);
    auto msgs = drain(wm);
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_NE(msgs[1].find("p:1: late"), std::string::npos) << msgs[1];
    EXPECT_NE(msgs[2].find("stack traceback:"), std::string::npos);
    EXPECT_NE(fake_host::log_text().find("--------\ntraceback:\nstack traceback:"),
              std::string::npos);
    EXPECT_GT(seen_figure, 62000000);
    EXPECT_LT(seen_figure, MEMORY_HARD_CEILING);
}

/* ---- frame start and end ---- */

TEST_F(Slices, FramesPerSecondFollowTheFlips) {
    process_rec *root = spawn("while true do t_flip() end", "root");
    process_rec *slow = spawn("while true do for i = 1, 2 do t_spend(0) end t_flip() end", "slow");
    (void)slow;
    for (int i = 0; i < 5; i++) frame();
    EXPECT_EQ(root->fps, 60u);
    // A process that flips every third frame.
    process_rec *third =
        spawn("local n = 0 while true do n = n + 1 if n % 3 == 0 then t_flip() else "
              "t_yield() end end",
              "third");
    define(third, "t_yield", [](lua_State *) {
        cpu_superyielding = VM_SUPERYIELD;
        return 0;
    });
    for (int i = 0; i < 9; i++) {
        prepare_processes_for_frame();
        run_process_slice(third, 1.0);
        update_processes_after_frame();
    }
    EXPECT_EQ(third->fps, 20u);
}

TEST_F(Slices, TheClockAdvancesWithFlipsAndTwiceWhenIdle) {
    process_rec *root = spawn("while true do t_flip() end", "root");
    frame();
    EXPECT_EQ(root->clock, 2u) << "the frame of its creation counts too";
    frame();
    EXPECT_EQ(root->clock, 3u);
    app.idle = 1;
    frame();
    EXPECT_EQ(root->clock, 5u);
    process_rec *quiet = spawn("", "quiet");  // never runs
    frame();
    EXPECT_EQ(quiet->clock, 2u) << "not flipped, but idle frames count";
    EXPECT_EQ(root->clock, 7u);
}

TEST_F(Slices, OutOfMemoryProcessesAreRemovedAtFrameEndFromTheLastSlotDown) {
    spawn("while true do t_flip() end", "root");
    process_rec *a = spawn("", "a");
    process_rec *b = spawn("", "b");
    spawn("", "c");
    a->out_of_memory = 1;
    b->out_of_memory = 1;
    frame();
    EXPECT_EQ(get_process_count(), 2);
    EXPECT_EQ(fake_host::deleted_socket_owners(), (std::vector<int64_t>{3, 2}));
}

TEST_F(Slices, TheFrameEndPassesTheWindowManagersMouseRegistersAndPollsSocketsOnce) {
    spawn("while true do t_flip() end", "root");
    frame();
    EXPECT_TRUE(fake_host::mouse_calls().empty()) << "no process 3";
    EXPECT_EQ(fake_host::socket_updates(), 1);
    spawn("", "two");
    process_rec *wm = spawn("", "wm");
    poke_proc(wm, 0x5F2D, 4);
    poke_proc(wm, 0x5F28, 7);
    poke_proc(wm, 0x5F29, 200);
    frame();
    ASSERT_EQ(fake_host::mouse_calls().size(), 1u);
    EXPECT_EQ(fake_host::mouse_calls()[0].flags, 4);
    EXPECT_EQ(fake_host::mouse_calls()[0].event_sensitivity, 7);
    EXPECT_EQ(fake_host::mouse_calls()[0].move_sensitivity, 200);
    EXPECT_EQ(fake_host::socket_updates(), 2);
}

TEST_F(Slices, AGrantedAudioBracketAtFrameEndIsReleasedOnce) {
    spawn("while true do t_flip() end", "root");
    fake_host::set_audio_op_start_result(0);
    frame();  // checks the lock level is back to 0
    EXPECT_EQ(fake_host::audio_op_start_calls(), 1);
    fake_host::set_audio_op_start_result(1);
    frame();
    EXPECT_EQ(fake_host::audio_lock_errors(), 0);
}

TEST_F(Slices, TheFrameEndLeavesSlotZeroCurrentOrNone) {
    frame();
    EXPECT_EQ(cproc, nullptr);
    process_rec *root = spawn("while true do t_flip() end", "root");
    spawn("", "b");
    cproc = get_process(2);
    frame();
    EXPECT_EQ(cproc, root);
}
