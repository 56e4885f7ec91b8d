// The interpreter's cycle accounting: what each instruction costs, when a
// thread yields on its own, how resumes make progress, and what happens to a
// thread that cannot yield.
#include <gtest/gtest.h>
#include <time.h>

#include <ostream>
#include <string>
#include <vector>

#include "lua_harness.h"
#include "vm_probe.h"

namespace {

constexpr int32_t kUnlimited = 0x7FFFFFFF;

// Resumes made by the running resume loop, for scripts to read.
int g_resume_count = 0;

// setcycles(n): sets the slice's cycle count, as a host charge would.
int l_setcycles(lua_State *L) {
    cpu_cycles = static_cast<int32_t>(luaL_checkinteger(L, 1));
    return 0;
}

// cycles(): the slice's cycle count.
int l_cycles(lua_State *L) {
    lua_pushinteger(L, cpu_cycles);
    return 1;
}

// superyield(): ends the slice at the next instruction fetch.
int l_superyield(lua_State *) {
    cpu_superyielding = VM_SUPERYIELD;
    return 0;
}

// escapeflag(): yielded_to_escape_slice of the calling thread.
int l_escapeflag(lua_State *L) {
    lua_pushinteger(L, vm_probe_escape_flag(L));
    return 1;
}

// resumecount(): how many resumes the host has made so far.
int l_resumecount(lua_State *L) {
    lua_pushinteger(L, g_resume_count);
    return 1;
}

void add_host_functions(lua_State *L) {
    lua_register(L, "setcycles", l_setcycles);
    lua_register(L, "cycles", l_cycles);
    lua_register(L, "superyield", l_superyield);
    lua_register(L, "escapeflag", l_escapeflag);
    lua_register(L, "resumecount", l_resumecount);
}

// Replaces every "N" token of `tmpl` (delimited by non-identifier characters)
// with the number `n`.
std::string with_n(const std::string &tmpl, int n) {
    std::string out;
    for (size_t i = 0; i < tmpl.size(); i++) {
        bool alone = tmpl[i] == 'N' && (i == 0 || !isalnum((unsigned char)tmpl[i - 1])) &&
                     (i + 1 == tmpl.size() || !isalnum((unsigned char)tmpl[i + 1]));
        if (alone)
            out += std::to_string(n);
        else
            out += tmpl[i];
    }
    return out;
}

// Runs `src` to completion in one resume with an unlimited budget and returns
// the cycles it was charged.
int64_t cycles_to_run(const std::string &src) {
    LuaHarness h;
    add_host_functions(h.L());
    EXPECT_EQ(h.compile(src), "") << src;
    cpu_cycles = 0;
    cpu_cycles_max = kUnlimited;
    cpu_superyielding = 0;
    int nres = 0;
    int status = lua_resume(h.L(), nullptr, 0, &nres);
    EXPECT_EQ(status, LUA_OK) << (status != LUA_OK ? lua_tostring(h.L(), -1) : "") << "\n" << src;
    return cpu_cycles;
}

// One resume of the loaded chunk or suspended thread L; returns its status.
int resume_once(lua_State *L, int *nres) {
    g_resume_count++;
    int status = lua_resume(L, nullptr, 0, nres);
    if (status == LUA_YIELD) lua_pop(L, *nres);
    return status;
}

struct CycleCase {
    const char *what;
    const char *loop;   // a loop of N iterations
    int per_iteration;  // cycles per iteration
};

void PrintTo(const CycleCase &c, std::ostream *os) { *os << c.what; }

class CyclesPerIteration : public ::testing::TestWithParam<CycleCase> {};

// Measured by difference, N against 2N iterations, so the set-up cancels out.
TEST_P(CyclesPerIteration, AreChargedExactly) {
    const CycleCase &c = GetParam();
    const int n = 1000;
    int64_t once = cycles_to_run(with_n(c.loop, n));
    int64_t twice = cycles_to_run(with_n(c.loop, 2 * n));
    EXPECT_EQ(twice - once, int64_t(n) * c.per_iteration) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Interpreter, CyclesPerIteration,
    ::testing::Values(
        CycleCase{"x = x + i costs ADD 1 and FORLOOP 2",
                  "local x = 0 for i = 1, N do x = x + i end", 3},
        CycleCase{"a body of MOVEs costs 1 per MOVE",
                  "local a, b, c = 1, 2, 3 for i = 1, N do a = b b = c c = a end", 3 + 2},
        CycleCase{"ADD falling back to __add costs 1 plus MMBIN 2",
                  "local a = setmetatable({}, {__add = rawlen}) local y "
                  "for i = 1, N do y = a + i end",
                  3 + 2},
        CycleCase{"ADDI falling back to __add costs 1 plus MMBINI 2",
                  "local a = setmetatable({}, {__add = rawlen}) local y "
                  "for i = 1, N do y = a + 1 end",
                  3 + 2},
        CycleCase{"the loads of integers, constants, nil and booleans cost 1",
                  "local a, b, c, d, e for i = 1, N do a = 1 b = 's' c = nil d = true e = false end",
                  5 + 2},
        CycleCase{"LOADF costs 2", "local f for i = 1, N do f = 1.0 end", 2 + 2},
        CycleCase{"bitwise operations with constants and UNM cost 1",
                  "local x = 5 for i = 1, N do x = x & 7 x = x | 1 x = x ~ 2 x = x >> 1 "
                  "x = x << 1 x = -x end",
                  6 + 2},
        CycleCase{"register bitwise operations and SUB cost 1",
                  "local x, y = 5, 3 for i = 1, N do x = x & y x = x | y x = x ~ y "
                  "x = x << y x = x >> y x = x - y end",
                  6 + 2},
        CycleCase{"SUBK and ADDK cost 1",
                  "local x = 0.5 for i = 1, N do x = x - 2.5 x = x + 2.5 end", 2 + 2},
        CycleCase{"multiplying, dividing and power cost 2",
                  "local x = 3 for i = 1, N do x = x * 1 x = x // 1 x = x % 7 end", 6 + 2},
        CycleCase{"a call of an empty function costs MOVE 1, CALL 2 and RETURN0 2",
                  "local function f() end for i = 1, N do f() end", 5 + 2},
        CycleCase{"a call of a C function costs MOVE 1, LOADI 1 and CALL 2, nothing more",
                  "local f = math.abs for i = 1, N do f(1) end", 4 + 2},
        CycleCase{"so does a tail call of one: MOVE 1, CALL 2, GETTABUP 1, GETFIELD 1, LOADI 1, TAILCALL 2, "
                  "RETURN 2",
                  "local function g() return math.abs(1) end for i = 1, N do g() end",
                  10 + 2}),
    [](const auto &info) { return "Case" + std::to_string(info.index); });

// A count hook that ends the slice after its count of instructions.
void stop_after_count(lua_State *, lua_Debug *) { cpu_superyielding = VM_SUPERYIELD; }

// `while true do end` never ends; a superyield raised by a count hook stops it
// after k jumps, and the count shows what those jumps cost.
int64_t cycles_of_endless_loop(int k) {
    LuaHarness h;
    EXPECT_EQ(h.compile("while true do end"), "");
    lua_sethook(h.L(), stop_after_count, LUA_MASKCOUNT, k);
    cpu_cycles = 0;
    cpu_cycles_max = VM_FRAME_CYCLES;
    cpu_superyielding = 0;
    int nres = 0;
    EXPECT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_YIELD);
    EXPECT_EQ(nres, 0);
    return cpu_cycles;
}

TEST(CycleAccounting, AnEmptyWhileLoopCostsTwoPerIteration) {
    EXPECT_EQ(cycles_of_endless_loop(2000) - cycles_of_endless_loop(1000), 2 * 1000);
}

// The first slice stops at the first fetch past the budget; a later slice
// finds its frame flagged by that yield and runs one instruction more.
TEST(CycleAccounting, AnEndlessLoopYieldsWhenItsBudgetIsSpent) {
    LuaHarness h;
    ASSERT_EQ(h.compile("while true do end"), "");
    for (int slice = 0; slice < 3; slice++) {
        cpu_cycles = 0;
        cpu_cycles_max = 1000;
        int nres = -1;
        ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_YIELD);
        EXPECT_EQ(nres, 0);
        EXPECT_EQ(cpu_cycles, slice == 0 ? 1002 : 1004) << "slice " << slice;
    }
}

// Each resume with the budget already spent runs exactly one instruction: the
// first stops before anything runs, the later ones add one instruction's cost.
TEST(CycleAccounting, ASpentBudgetLetsEachResumeRunExactlyOneInstruction) {
    LuaHarness h;
    // VARARGPREP, LOADI, LOADI, ADD (its MMBIN is skipped), RETURN
    ASSERT_EQ(h.compile("local a = 1 local b = 2 local c = a + b"), "");
    std::vector<int> charged;
    int status;
    do {
        cpu_cycles = 10;
        cpu_cycles_max = 0;
        int nres = 0;
        status = resume_once(h.L(), &nres);
        charged.push_back(cpu_cycles - 10);
    } while (status == LUA_YIELD && charged.size() < 100);
    EXPECT_EQ(status, LUA_OK);
    EXPECT_EQ(charged, (std::vector<int>{0, 2, 1, 1, 1, 2}));
    EXPECT_EQ(vm_probe_escape_flag(h.L()), 1);
}

// The flag of a frame resumed with a fresh budget stays until the budget is
// next found spent: that test lets one more instruction run before yielding.
TEST(CycleAccounting, AResumedFrameRunsOneInstructionPastItsNextSpentBudget) {
    LuaHarness h;
    add_host_functions(h.L());
    // VARARGPREP, then a call of setcycles that spends the budget, then two
    // LOADIs and the RETURN
    ASSERT_EQ(h.compile("setcycles(5000) local a = 1 local b = 2"), "");
    cpu_cycles = 10;
    cpu_cycles_max = 0;
    int nres = 0;
    ASSERT_EQ(resume_once(h.L(), &nres), LUA_YIELD);  // stopped before VARARGPREP
    EXPECT_EQ(cpu_cycles, 10);
    cpu_cycles = 0;
    cpu_cycles_max = 1000;
    ASSERT_EQ(resume_once(h.L(), &nres), LUA_YIELD);
    // VARARGPREP, GETTABUP, LOADI and CALL run; setcycles spends the budget;
    // the next test finds the flag, clears it and runs one LOADI (1 cycle)
    EXPECT_EQ(cpu_cycles, 5000 + 1);
}

TEST(Superyield, FromAHostFunctionYieldsAtTheNextFetchWithNoResults) {
    LuaHarness h;
    add_host_functions(h.L());
    ASSERT_EQ(h.compile("x = 1 superyield() x = 2"), "");
    vm_probe_set_escape_flag(h.L(), 0);
    cpu_cycles = 0;
    cpu_cycles_max = VM_FRAME_CYCLES;
    cpu_superyielding = 0;
    int nres = -1;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_YIELD);
    EXPECT_EQ(nres, 0);
    EXPECT_EQ(vm_probe_escape_flag(h.L()), 1);
    lua_getglobal(h.L(), "x");
    EXPECT_EQ(lua_tointeger(h.L(), -1), 1);
    lua_pop(h.L(), 1);

    cpu_superyielding = 0;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_OK);
    lua_getglobal(h.L(), "x");
    EXPECT_EQ(lua_tointeger(h.L(), -1), 2);
}

// The coroutine yields to its resumer, which sees a yield with no values and
// yields in turn at its next instruction; both threads are marked.
TEST(Superyield, InsideACoroutineYieldsTheCoroutineThenItsResumer) {
    LuaHarness h;
    add_host_functions(h.L());
    ASSERT_EQ(h.compile("co = coroutine.create(function() superyield() return 'done' end) "
                        "local r = table.pack(coroutine.resume(co)) "
                        "n, ok, status = r.n, r[1], coroutine.status(co) "
                        "r = table.pack(coroutine.resume(co)) "
                        "second = r[2]"),
              "");
    cpu_cycles = 0;
    cpu_cycles_max = VM_FRAME_CYCLES;
    cpu_superyielding = 0;
    int nres = -1;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_YIELD);
    EXPECT_EQ(nres, 0);
    lua_getglobal(h.L(), "n");
    EXPECT_TRUE(lua_isnil(h.L(), -1)) << "the resumer yielded before its next statement";
    lua_getglobal(h.L(), "co");
    lua_State *co = lua_tothread(h.L(), -1);
    ASSERT_NE(co, nullptr);
    EXPECT_EQ(vm_probe_escape_flag(co), 1);
    EXPECT_EQ(vm_probe_escape_flag(h.L()), 1);
    lua_pop(h.L(), 2);

    cpu_superyielding = 0;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_OK);
    lua_getglobal(h.L(), "n");
    lua_getglobal(h.L(), "ok");
    lua_getglobal(h.L(), "status");
    lua_getglobal(h.L(), "second");
    EXPECT_EQ(lua_tointeger(h.L(), -4), 1) << "coroutine.resume returned true alone";
    EXPECT_TRUE(lua_toboolean(h.L(), -3));
    EXPECT_STREQ(lua_tostring(h.L(), -2), "suspended");
    EXPECT_STREQ(lua_tostring(h.L(), -1), "done");
}

// Scripts in which a Lua function is called from C without a continuation;
// each calls burn() there, which spends the slice's budget and runs on,
// checking that no resume happened meanwhile and noting the escape flag.
struct NonYieldableCase {
    const char *what;
    const char *script;  // sets `result` to "ok"
};

const char *const kBurn =
    "function burn() "
    "  local before = resumecount() "
    "  setcycles(100000) "
    "  local s = 0 for i = 1, 200 do s = s + i end "
    "  assert(resumecount() == before, 'yielded inside a call that cannot yield') "
    "  flags = (flags or '') .. escapeflag() "
    "  return s "
    "end ";

void PrintTo(const NonYieldableCase &c, std::ostream *os) { *os << c.what; }

class NonYieldable : public ::testing::TestWithParam<NonYieldableCase> {};

TEST_P(NonYieldable, CallsOverrunTheBudgetWithoutYieldingOrMarkingTheThread) {
    const NonYieldableCase &c = GetParam();
    LuaHarness h;
    add_host_functions(h.L());
    ASSERT_EQ(h.compile(std::string(kBurn) + c.script), "");
    int status;
    int resumes = 0;
    do {
        vm_probe_set_escape_flag(h.L(), 0);
        cpu_cycles = 0;
        cpu_cycles_max = 1000;
        cpu_superyielding = 0;
        int nres = 0;
        status = resume_once(h.L(), &nres);
        resumes++;
    } while (status == LUA_YIELD && resumes < 100);
    ASSERT_EQ(status, LUA_OK) << lua_tostring(h.L(), -1);
    EXPECT_EQ(resumes, 2) << "one yield, right after the call from C returned";
    lua_getglobal(h.L(), "result");
    EXPECT_STREQ(lua_tostring(h.L(), -1), "ok") << c.what;
    lua_getglobal(h.L(), "flags");
    ASSERT_TRUE(lua_isstring(h.L(), -1));
    std::string flags = lua_tostring(h.L(), -1);
    EXPECT_EQ(flags.find_first_not_of('0'), std::string::npos) << flags;
}

INSTANTIATE_TEST_SUITE_P(
    Budget, NonYieldable,
    ::testing::Values(
        NonYieldableCase{"a gsub callback",
                         "local r = string.gsub('ab', '%w', function(c) burn() return c end) "
                         "result = r == 'ab' and 'ok' or r"},
        NonYieldableCase{"__tostring called by tostring",
                         "local t = setmetatable({}, {__tostring = function() burn() return 'ok' end}) "
                         "result = tostring(t)"},
        NonYieldableCase{"__index called by table.concat",
                         "local t = setmetatable({}, {__index = function(_, i) burn() return 'k' end}) "
                         "result = table.concat(t, '', 1, 2) == 'kk' and 'ok' or 'bad'"}),
    [](const auto &info) { return "Case" + std::to_string(info.index); });

// The watchdog: a call that cannot yield is stopped with an error once it is
// more than VM_WATCHDOG_MARGIN past its budget.
struct WatchdogCase {
    const char *what;
    const char *call;  // runs spin() where it cannot yield
    int line;          // the line the error names
};

void PrintTo(const WatchdogCase &c, std::ostream *os) { *os << c.what; }

class Watchdog : public ::testing::TestWithParam<WatchdogCase> {};

TEST_P(Watchdog, StopsARunawayCallThatCannotYield) {
    const WatchdogCase &c = GetParam();
    LuaHarness h;
    add_host_functions(h.L());
    std::string src = "local budget = " + std::to_string(1000) +
                      "\n"
                      "function spin() setcycles(budget + " +
                      std::to_string(VM_WATCHDOG_MARGIN) +
                      " - 50) while true do end end\n"
                      "local ok, err = pcall(function() " +
                      c.call +
                      " end)\n"
                      "print(ok, err)\n"
                      "print('after')";
    RunResult r = h.run(src, 1000);
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "false\ttest:" + std::to_string(c.line) + ": " + VM_WATCHDOG_MESSAGE +
                            "\nafter\n")
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Budget, Watchdog,
    ::testing::Values(
        WatchdogCase{"a gsub callback", "string.gsub('a', 'a', spin)", 2},
        WatchdogCase{"__tostring called by tostring",
                     "tostring(setmetatable({}, {__tostring = spin}))", 2},
        // the error caught inside is raised again at the callback's next
        // instruction
        WatchdogCase{"a pcall inside the callback cannot hold it",
                     "string.gsub('a', 'a', function() while true do pcall(spin) end end)", 3}),
    [](const auto &info) { return "Case" + std::to_string(info.index); });

// Work no instruction pays for ends at the margin too: a backtracking
// pattern charges its matcher's steps and a loop in a metamethod that a
// library call runs is code that cannot yield; each stops with the watchdog's
// error within a few steps of the margin, not at a margin of its own, and
// soon: a stall limit, as the slice's count alone cannot show work done for
// free. The debug library's and an error's scans in a callback's loop (of
// fewer calls than the margin holds were they free): a name sought after
// 100,000 instructions, an error's value named there, a traceback and a
// level 30,000 frames down.
TEST(Watchdog, StopsLongLibraryWorkAtTheMargin) {
    constexpr double kStallSeconds = 5;
    std::string dead;
    for (int i = 0; i < 100000; i++) dead += "a = 1 ";
    const struct {
        std::string setup;  // line 1, before the call
        const char *call;
        const char *error;  // where the error names
    } cases[] = {
        {"", "string.find(string.rep('a', 2000), string.rep('a?', 16) .. string.rep('a', 16) .. 'b')", "test:2: "},
        {"", "table.concat(setmetatable({}, {__index = function() while true do end end}), '', 1, 2)", "test:2: "},
        {"local t = {f = function() return debug.getinfo(1, 'n') end} "
         "local function G() local a if a then " + dead + " end for i = 1, 200 do t.f() end end",
         "string.gsub('a', 'a', G)", "test:1: "},
        {"local t = {} local function E() local a if a then " + dead + " end return t.nope.x end "
         "local function G() for i = 1, 200 do pcall(E) end end",
         "string.gsub('a', 'a', G)", "test:1: "},
        {"local function G() for i = 1, 1000 do debug.traceback() end end "
         "local function D(n) if n > 0 then D(n - 1) else G() end end",
         "string.gsub('a', 'a', function() D(30000) end)", "test:1: "},
        {"local function G() for i = 1, 1000 do debug.getinfo(30000, 'l') end end "
         "local function D(n) if n > 0 then D(n - 1) else G() end end",
         "string.gsub('a', 'a', function() D(30000) end)", "test:1: "},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        add_host_functions(h.L());
        const std::string src = c.setup + "\nlocal ok, err = pcall(function() return " + c.call +
                                " end)\nprint(ok, err, cycles() - 1000 <= " + std::to_string(VM_WATCHDOG_MARGIN) +
                                " + 4096)";
        timespec t0{}, t1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
        RunResult r = h.run(src, 1000);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
        ASSERT_EQ(r.status, LUA_OK) << r.error;
        EXPECT_EQ(r.output, std::string("false\t") + c.error + VM_WATCHDOG_MESSAGE + "\ttrue\n") << c.call;
        EXPECT_LT(double(t1.tv_sec - t0.tv_sec) + double(t1.tv_nsec - t0.tv_nsec) / 1e9, kStallSeconds) << c.call;
    }
}

TEST(Watchdog, LetsACallRunUpToTheMargin) {
    LuaHarness h;
    add_host_functions(h.L());
    std::string src = "local r = string.gsub('a', 'a', function() setcycles(1000 + " +
                      std::to_string(VM_WATCHDOG_MARGIN) +
                      " - 20) local x = 1 local y = 2 return 'b' end) print(r)";
    RunResult r = h.run(src, 1000);
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "b\n");
}

// With a budget close to the cap, the margin cannot be reached: the count
// stops at the cap instead of wrapping, and the watchdog fires there.
TEST(Watchdog, FiresAtTheCapWhenTheMarginLiesBeyondIt) {
    LuaHarness h;
    add_host_functions(h.L());
    ASSERT_EQ(h.compile("local ok, err = pcall(string.gsub, 'a', 'a', function() "
                        "  setcycles(" + std::to_string(VM_CYCLES_CAP - 20) +
                        ") while true do end end) "
                        "message = err"),
              "");
    cpu_cycles = 0;
    cpu_cycles_max = VM_CYCLES_CAP - 100;
    cpu_superyielding = 0;
    int nres = 0;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_YIELD);
    EXPECT_GE(cpu_cycles, VM_CYCLES_CAP);
    EXPECT_LE(cpu_cycles, VM_CYCLES_CAP + 2);
    cpu_cycles = 0;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_OK);
    lua_getglobal(h.L(), "message");
    ASSERT_NE(lua_tostring(h.L(), -1), nullptr);
    EXPECT_NE(std::string(lua_tostring(h.L(), -1)).find(VM_WATCHDOG_MESSAGE), std::string::npos);
}

// A count pushed close to the wrap by a host charge, under a budget above the
// cap, must not wrap into a negative count that would never yield again.
TEST(CycleAccounting, ACountNearTheWrapStopsAtTheCap) {
    LuaHarness h;
    add_host_functions(h.L());
    ASSERT_EQ(h.compile("setcycles(0x7FFFFFFE) local a = 1 local b = 2"), "");
    cpu_cycles = 0;
    cpu_cycles_max = kUnlimited;
    cpu_superyielding = 0;
    int nres = 0;
    ASSERT_EQ(lua_resume(h.L(), nullptr, 0, &nres), LUA_YIELD);
    EXPECT_EQ(cpu_cycles, VM_CYCLES_CAP);
}

// Regression: resuming with the state itself as `from` counted one C call per
// slice in Lua 5.4.4, and a process died with "C stack overflow" after 200
// slices. Processes are resumed with a null `from`.
TEST(Resume, AStateResumedThousandsOfTimesThroughBudgetYieldsKeepsRunning) {
    LuaHarness h;
    RunResult r = h.run("local s = 0 for i = 1, 100000 do s = s + i end print(s)", 200);
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "5000050000\n");
    EXPECT_GT(r.resumes, 1000);
}

// A yield between a call that returns several results and the instruction
// that takes them all keeps the results (the stack top is left alone there).
TEST(Resume, AYieldBeforeAnInstructionTakingOpenResultsKeepsThem) {
    const char *src =
        "local function three() return 1, 2, 3 end\n"
        "local function count(...) return select('#', ...) end\n"
        "print(count(three()), three())\n"
        "local t = {three()} print(t[1], t[2], t[3], rawlen(t))\n"
        "local function pass(...) return ... end\n"
        "print(pass(three()))\n"
        "print(string.byte('abc', 1, -1))\n"
        "print(count(pass(nil, nil)))\n";
    const char *expected = "3\t1\t2\t3\n1\t2\t3\t3\n1\t2\t3\n97\t98\t99\n2\n";
    LuaHarness unlimited;
    RunResult a = unlimited.run(src);
    ASSERT_EQ(a.status, LUA_OK) << a.error;
    EXPECT_EQ(a.output, expected);
    LuaHarness stepped;
    RunResult b = stepped.run_one_instruction_per_resume(src);
    ASSERT_EQ(b.status, LUA_OK) << b.error;
    EXPECT_EQ(b.output, expected);
    EXPECT_GT(b.resumes, 50);
}

}  // namespace
