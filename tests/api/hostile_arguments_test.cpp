// Every global of the registration table and every typed-array method,
// called with 0 to 8 arguments and extreme values at each of them over a few
// ordinary argument lists: each call must return within kCallLimitLoops
// times the thread CPU time of a plain loop over the bytes of the largest
// argument, measured in the same run (so the limit follows the machine, the
// build and the load), and never less than kCallFloorNs. A call that does
// not return within kStallNs, or that trips a sanitizer, ends the test with
// its name and arguments on standard error.
//
// The collector-stress pass makes the same calls with the collector stepping
// at every allocation and a ring of finalizers due inside the call's first
// few allocations: in turn they grow, shrink, clear and re-metatable the
// argument tables, mutate the argument arrays to other types and shapes,
// switch the draw target to an argument array and back, map and unmap the
// argument arrays, and write the drawing registers and palette; each leaves
// a successor for the collector's next cycle; one more extreme value runs
// the ring's steps from its metamethods. No call may then trip a sanitizer,
// stall, or leave the collector stopped.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "address_space.h"
#include "api_draw_state.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "env.h"
#include "finalizer_ring.h"
#include "pfile.h"
#include "pmount.h"
#include "seam_fakes.h"
#include "typed_ud.h"
#include "ud_methods.h"

namespace {

inline constexpr int64_t kCallLimitLoops = 60;        // one call's CPU time, in plain loops (below)
inline constexpr int64_t kCallFloorNs = 100'000'000;   // the limit is never tighter than this
inline constexpr int64_t kStallNs = 5'000'000'000;     // a call still running then never returns
inline constexpr size_t kBigBytes = size_t{1} << 20;   // the largest argument: BIG, a 1 MB string
inline constexpr int kPositions = 8;                  // argument positions tried
inline constexpr int kSlices = 4;                     // test cases per baseline
inline constexpr int kStressSlices = 8;               // collector-stress test cases per baseline
inline constexpr int kRingPending = 3;                // ring finalizers due in each stress call
inline constexpr int kRingDelays = 4;                 // the first is due at allocation step 1 to 4
inline constexpr int kRingSteps = 11;                 // the ring's length (RING below)

// The extreme values, as Lua expressions made afresh for each call (a call
// may change a table it is given).
struct value {
    const char *label;
    const char *expr;
};
const value kValues[] = {
    {"nil", "nil"},  // a method's output argument absent: a new array
    {"0/0", "0/0"},
    {"1/0", "1/0"},
    {"-1/0", "-1/0"},
    {"math.maxinteger", "math.maxinteger"},
    {"math.mininteger", "math.mininteger"},
    {"2^40", "2^40"},
    {"-2^31", "-2^31"},
    {"-0.0", "-0.0"},
    {"1 MB string", "BIG"},
    {"sparse table, border 2^40", "(function() local t = {} for e = 40, 0, -1 do t[1 << e] = e end return t end)()"},
    {"lying __len 2^40", "setmetatable({1, 2, 3}, {__len = function() return 1 << 40 end})"},
    {"metamethods running the ring", "RING_VALUE()"},  // the ring's steps under collector stress
};

// The ordinary argument lists: eight expressions each. A method's receiver
// is an array in every list.
struct baseline {
    const char *name;
    const char *globals[kPositions];
    const char *methods[kPositions];
};
const baseline kBaselines[] = {
    {"zeros",
     {"0", "0", "0", "0", "0", "0", "0", "0"},
     {"userdata('f64', 4, 4)", "0", "0", "0", "0", "0", "0", "0"}},
    {"u8",
     {"userdata('u8', 16, 16)", "1", "2", "3", "4", "5", "6", "7"},
     {"userdata('u8', 16, 16)", "1", "2", "3", "4", "5", "6", "7"}},
    {"map",
     {"MAP()", "0", "0", "8", "8", "4", "4", "0"},
     {"MAP()", "0", "0", "8", "8", "4", "4", "0"}},
    {"string",
     {"'/ram/h.txt'", "1", "2", "3", "4", "5", "6", "7"},
     {"userdata('i32', 5, 3)", "'/ram/h.txt'", "1", "2", "3", "4", "5", "6"}},
    // Second operands, and the index and batch forms.
    {"arrays",
     {"userdata('u8', 8, 8)", "userdata('u8', 8, 8)", "0", "0", "8", "8", "0", "0"},
     {"userdata('f64', 4, 4)", "userdata('f64', 4, 4)", "nil", "0", "0", "4", "4", "1"}},
    {"index",
     {"userdata('f64', 6, 4)", "0", "0", "userdata('u8', 8, 8)", "8", "8", "0", "0"},
     {"userdata('i32', 6, 2)", "userdata('i32', 4, 1, '000000000000000b0000000500000007')", "nil", "0", "1", "2", "3",
      "4"}},
};

// The call under way, for the watchdog and the sanitizers' last words, and
// the ring's steps run inside it so far.
char current_call[512];
char ring_steps[512];
size_t ring_steps_len = 0;
int ring_steps_run = 0;

void say_current_call() {
    const char head[] = "\nhostile arguments: the call under way: ";
    (void)!write(2, head, sizeof head - 1);
    (void)!write(2, current_call, std::strlen(current_call));
    if (ring_steps_len) {
        const char ring[] = "\n  ring steps run inside it: ";
        (void)!write(2, ring, sizeof ring - 1);
        (void)!write(2, ring_steps, ring_steps_len);
    }
    (void)!write(2, "\n", 1);
}

// RING_NOTE(name): a ring step is about to run.
int ring_note(lua_State *L) {
    size_t n = 0;
    const char *name = lua_tolstring(L, 1, &n);
    if (name && ring_steps_len + n + 2 < sizeof ring_steps) {
        if (ring_steps_len) ring_steps[ring_steps_len++] = ',';
        std::memcpy(ring_steps + ring_steps_len, name, n);
        ring_steps_len += n;
    }
    ring_steps_run++;
    return 0;
}

// The probes' finalizer: counts, allocates nothing.
int probes_run = 0;
int probe_gc(lua_State *) {
    probes_run++;
    return 0;
}

void on_stall(int) {
    const char head[] = "\nhostile arguments: a call did not return within the stall limit";
    (void)!write(2, head, sizeof head - 1);
    say_current_call();
    _exit(1);
}

// The address and undefined-behaviour sanitizers may be separate runtimes,
// each with its own death callback; a build without them has neither.
void set_death_callbacks(void (*f)()) {
    using setter = void (*)(void (*)());
    if (auto set = reinterpret_cast<setter>(dlsym(RTLD_DEFAULT, "__sanitizer_set_death_callback"))) set(f);
    if (void *ub = dlopen("libubsan.so.1", RTLD_LAZY | RTLD_NOLOAD)) {
        if (auto set = reinterpret_cast<setter>(dlsym(ub, "__sanitizer_set_death_callback"))) set(f);
        dlclose(ub);
    }
}

int64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// The thread CPU time of a plain loop over kBigBytes bytes, as a host call
// walks a string it is given: a table lookup, a store and a running hash for
// each byte. The median of five runs; the test's calls are measured against
// it.
int64_t plain_loop_ns() {
    static std::vector<uint8_t> in(kBigBytes, 'x'), out(kBigBytes);
    static uint8_t table[256];
    for (int i = 0; i < 256; i++) table[i] = uint8_t(i * 7 + 1);
    int64_t runs[5];
    for (int64_t &ns : runs) {
        const int64_t start = thread_cpu_ns();
        uint32_t hash = 0;
        for (size_t i = 0; i < kBigBytes; i++) {
            const uint8_t b = table[in[i] ^ uint8_t(hash)];
            out[i] = b;
            hash = hash * 31 + b;
        }
        volatile uint32_t sink = hash;
        (void)sink;
        ns = thread_cpu_ns() - start;
    }
    std::sort(std::begin(runs), std::end(runs));
    return runs[2];
}

// The CPU time one call may take: kCallLimitLoops plain loops measured now,
// and never less than the floor.
int64_t call_limit_ns() { return std::max(kCallLimitLoops * plain_loop_ns(), kCallFloorNs); }

// A function under test: a global, or a method looked up in USERDATA.
struct callee {
    std::string name;
    bool method;
};

// Every distinct function of the registration table and of the method table,
// each once (aliases and metamethods share their function).
std::vector<callee> all_callees() {
    std::vector<callee> out;
    std::set<lua_CFunction> seen;
    for (const api_entry &e : api_table)
        if (e.fn && seen.insert(e.fn).second) out.push_back({e.name, false});
    for (const ud_method &m : userdata_methods)
        if (m.fn && seen.insert(m.fn).second) out.push_back({m.name, true});
    return out;
}

// One call of a function: its argument count, and the position given an
// extreme value (-1 for none).
struct shot {
    int arity, position, value;
};

// Every arity, with its ordinary arguments and with the extreme values at
// each of its positions (a function that checks its arity is reached past
// the check).
std::vector<shot> shots() {
    std::vector<shot> out;
    for (int arity = 0; arity <= kPositions; arity++) {
        out.push_back({arity, -1, 0});
        for (int position = 0; position < arity; position++)
            for (int v = 0; v < int(std::size(kValues)); v++) out.push_back({arity, position, v});
    }
    return out;
}

std::string describe(const callee &c, const baseline &b, const shot &s) {
    std::string d = c.method ? "USERDATA." + c.name + "(" : c.name + "(";
    const char *const *args = c.method ? b.methods : b.globals;
    for (int i = 0; i < s.arity; i++) {
        if (i) d += ", ";
        d += i == s.position ? kValues[s.value].label : args[i];
    }
    return d + ")";
}

class HostileArguments : public RuntimeTest, public ::testing::WithParamInterface<std::tuple<int, int>> {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        init_default_coltabs();
        seam_fakes::install();
        char tmpl[] = "/tmp/api_hostile_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        std::snprintf(config.home_path, sizeof config.home_path, "%s/", root_.c_str());
        pdisk_set_pwd_source(process_pwd);
        pdisk_set_appdata_folder(root_ + "/");
        pfile_init();
        pfile_reset();
        mount_ram_folder("/");
        mount_ram_folder("/ram");
        set_death_callbacks(say_current_call);
        signal(SIGXCPU, on_stall);
        sigevent ev{};
        ev.sigev_notify = SIGEV_SIGNAL;
        ev.sigev_signo = SIGXCPU;
        ASSERT_EQ(timer_create(CLOCK_THREAD_CPUTIME_ID, &ev, &watchdog_), 0);
    }

    void TearDown() override {
        timer_delete(watchdog_);
        signal(SIGXCPU, SIG_DFL);
        set_death_callbacks(nullptr);
        api_host_reset();
        RuntimeTest::TearDown();
        pdisk_shutdown();
        pdisk_set_pwd_source(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    // Standard output goes nowhere while calls are made (_printh and norm
    // print, a megabyte at a time), and comes back for the test's messages.
    void quiet() {
        std::fflush(stdout);
        stdout_ = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    void speak() {
        std::fflush(stdout);
        dup2(stdout_, 1);
        close(stdout_);
    }

    static const char *process_pwd() { return cproc ? cproc->pwd : "/"; }

    // The process the calls are made in: a user process with a draw target,
    // the default colour tables and masks, and the Lua helpers below.
    process_rec *caller() {
        skip_to_pid(20);  // no small number of an argument list names it
        process_rec *p = spawn("");
        if (!p) return nullptr;
        std::string code = "BIG = string.rep('x', " + std::to_string(kBigBytes) + ") "
                           "local cells = {} for i = 0, 1023 do cells[i + 1] = string.format('%04x', i % 7) end "
                           "cells = table.concat(cells) "
                           "function MAP() return userdata('i16', 32, 32, cells) end "
                           "assert(MAP()[1022] == 0 and MAP()[1023] == 1 and MAP()[6] == 6) "
                           "T = userdata('u8', 480, 270) RING_HOME = T "
                           "function RESET() _set_draw_target(T) camera() clip() end "
                           "VALUES = {";
        for (const value &v : kValues) code += "function() return " + std::string(v.expr) + " end, ";
        code += "} GLOBALS, METHODS = {}, {} ";
        for (const baseline &b : kBaselines) {
            std::string g, m;
            for (int i = 0; i < kPositions; i++) {
                g += (i ? ", " : "") + std::string(b.globals[i]);
                m += (i ? ", " : "") + std::string(b.methods[i]);
            }
            code += "GLOBALS[#GLOBALS + 1] = function() return " + g + " end ";
            code += "METHODS[#METHODS + 1] = function() return " + m + " end ";
        }
        remembered_process prev = remember_current_process();
        cproc = p;
        lua_State *L = p->lua_state;
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        lua_register(L, "RING_NOTE", ring_note);
        const bool ok = luaL_dostring(L, code.c_str()) == LUA_OK && luaL_dostring(L, kFinalizerRing) == LUA_OK;
        EXPECT_TRUE(ok) << lua_tostring(L, -1);
        lua_settop(L, 0);
        lua_createtable(L, 0, 1);
        lua_pushcfunction(L, probe_gc);
        lua_setfield(L, -2, "__gc");
        lua_setglobal(L, "PROBE_MT");
        restore_current_process(prev);
        return ok ? p : nullptr;
    }

    // What a call may have changed that later calls rely on.
    static void restore_machine(process_rec *p) {
        write_bytes_proc(p, 0x8000, default_coltabs, sizeof default_coltabs);
        const uint8_t masks[4] = {0x3F, 0x3F, 0x3F, 0x3F};
        write_bytes_proc(p, REG_READ_MASK, masks, 4);
    }

    // Makes one call in p and returns the thread CPU time it took (-1 when
    // its arguments could not be made). With 'stress', the ring is armed with
    // its first step due at allocation step delay + 1 of the call (the
    // collector is held everywhere else).
    int64_t call(process_rec *p, const callee &c, int base, const shot &s, bool stress = false, int delay = 0) {
        lua_State *L = p->lua_state;
        if (stress) finish_cycle(L);
        lua_settop(L, 0);
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        lua_getglobal(L, "RESET");
        lua_pcall(L, 0, 0, 0);
        lua_settop(L, 0);
        if (c.method) {
            lua_getglobal(L, "USERDATA");
            lua_getfield(L, -1, c.name.c_str());
            lua_remove(L, 1);
        } else {
            lua_getglobal(L, c.name.c_str());
        }
        lua_getglobal(L, c.method ? "METHODS" : "GLOBALS");
        lua_rawgeti(L, -1, base + 1);
        lua_remove(L, 2);
        if (lua_pcall(L, 0, kPositions, 0) != LUA_OK) return -1;
        if (s.position >= 0) {
            lua_getglobal(L, "VALUES");
            lua_rawgeti(L, -1, s.value + 1);
            lua_remove(L, -2);
            if (lua_pcall(L, 0, 1, 0) != LUA_OK) return -1;
            lua_replace(L, 2 + s.position);
        }
        lua_settop(L, 1 + s.arity);
        if (stress) arm_ring(L, s.arity, delay);
        const int state = p->state;
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        const itimerspec arm{{0, 0}, {kStallNs / 1'000'000'000, kStallNs % 1'000'000'000}};
        timer_settime(watchdog_, 0, &arm, nullptr);
        const int64_t start = thread_cpu_ns();
        if (stress) lua_gc(L, LUA_GCRESTART);
        lua_pcall(L, s.arity, 0, 0);
        if (stress) {
            collector_left_stopped_ = lua_gc(L, LUA_GCISRUNNING) == 0;
            lua_gc(L, LUA_GCSTOP);
        }
        const int64_t took = thread_cpu_ns() - start;
        const itimerspec disarm{};
        timer_settime(watchdog_, 0, &disarm, nullptr);
        lua_settop(L, 0);
        if (stress) disarm_ring(p);
        // _halt and flip end the slice; processes a call made go.
        cpu_superyielding = 0;
        p->state = state;
        for (int32_t i = num_processes - 1; i >= 0; i--)
            if (process[i] != p) kill_process_by_index(i);
        return took;
    }

    // The collector-stress pass holds the collector between calls; each
    // call finds it stepping at every allocation.
    void start_stress(process_rec *p) {
        lua_State *L = p->lua_state;
        ASSERT_EQ(luaL_dostring(L, "collectgarbage('incremental', 1, 100, 1)"), LUA_OK);
        lua_gc(L, LUA_GCSTOP);
        for (uint32_t i = 0; i < sizeof registers_; i++) registers_[i] = uint8_t(peek_proc(p, DRAW_STATE_ADDR + i));
        map_ = p->map;
    }

    // Ends the collector's cycle under way: the finalizers due run (the
    // ring's disarmed: they leave no successor).
    static void finish_cycle(lua_State *L) {
        while (lua_gc(L, LUA_GCSTEP, 0) == 0) {
        }
    }

    static lua_Integer ring_position(process_rec *p) {
        lua_getglobal(p->lua_state, "RING_POS");
        const lua_Integer n = lua_tointeger(p->lua_state, -1);
        lua_pop(p->lua_state, 1);
        return n;
    }

    static void set_ring_position(process_rec *p, lua_Integer n) {
        lua_pushinteger(p->lua_state, n);
        lua_setglobal(p->lua_state, "RING_POS");
    }

    static void make_finalized(lua_State *L, const char *metatable) {
        lua_createtable(L, 0, 0);
        lua_getglobal(L, metatable);
        lua_setmetatable(L, -2);
        lua_pop(L, 1);
    }

    // With the collector at the start of a cycle: the call's arguments as
    // RING_ARGS, and the ring's finalizers made so that the collector's next
    // finalizing steps run 10 probes, then 10 x delay more, then the ring's
    // first step with 9 probes, its second with 9, its third. (A step runs
    // ten finalizers, the newest first.) The collector is stepped to just
    // after the first ten probes; the call's first allocation steps next.
    void arm_ring(lua_State *L, int arity, int delay) {
        lua_createtable(L, arity, 1);
        for (int i = 1; i <= arity; i++) {
            lua_pushvalue(L, 1 + i);
            lua_rawseti(L, -2, i);
        }
        lua_pushinteger(L, arity);
        lua_setfield(L, -2, "n");
        lua_setglobal(L, "RING_ARGS");
        for (int r = 0; r < kRingPending; r++) {
            make_finalized(L, "RING_MT");
            if (r + 1 < kRingPending)
                for (int i = 0; i < 9; i++) make_finalized(L, "PROBE_MT");
        }
        for (int i = 0; i < 10 * delay + 10; i++) make_finalized(L, "PROBE_MT");
        probes_run = 0;
        for (int steps = 0; probes_run < 10; steps++) {
            if (steps > 10'000'000) {
                ADD_FAILURE() << "the probes were never finalized";
                break;
            }
            lua_gc(L, LUA_GCSTEP, 0);
        }
        lua_pushboolean(L, 1);
        lua_setglobal(L, "ARMED");
        ring_steps_len = 0;
        ring_steps_run = 0;
    }

    // Puts back what the ring may have changed: the mappings, the map, the
    // draw-state registers and palette, the colour tables.
    void disarm_ring(process_rec *p) {
        lua_State *L = p->lua_state;
        lua_pushboolean(L, 0);
        lua_setglobal(L, "ARMED");
        lua_pushnil(L);
        lua_setglobal(L, "RING_ARGS");
        for (int w = 0; w < NUM_PAGES / 64; w++)
            for (uint64_t bits = p->mapped_pages[w]; bits; bits &= bits - 1) {
                const int pg = w * 64 + __builtin_ctzll(bits);
                unmap_page(p, pg);
                anchor_clear(L, ANCHOR_PAGE + pg);
            }
        if (p->map != map_) {
            p->map = map_;
            if (!map_) anchor_clear(L, ANCHOR_MAP);
        }
        write_bytes_proc(p, DRAW_STATE_ADDR, registers_, sizeof registers_);
        restore_machine(p);
    }

    std::string root_;
    int stdout_ = -1;
    timer_t watchdog_{};
    bool collector_left_stopped_ = false;
    uint8_t registers_[0x1000];
    typed_ud_rec *map_ = nullptr;
};

TEST_P(HostileArguments, EveryCallReturnsWithinItsTimeWhateverItsArguments) {
    const auto [base, slice] = GetParam();
    const baseline &b = kBaselines[base];
    process_rec *p = caller();
    ASSERT_NE(p, nullptr);
    const std::vector<callee> callees = all_callees();
    ASSERT_GT(callees.size(), size_t{150});
    remembered_process prev = remember_current_process();
    cproc = p;
    std::vector<std::string> slow, unmade;
    int calls = 0;
    const std::vector<shot> plan = shots();
    const int64_t limit = call_limit_ns();
    quiet();
    for (size_t k = size_t(slice); k < callees.size(); k += kSlices) {
        const callee &c = callees[k];
        restore_machine(p);
        for (const shot &s : plan) {
            std::snprintf(current_call, sizeof current_call, "%s [%s]", describe(c, b, s).c_str(), b.name);
            int64_t took = call(p, c, base, s), limit_now = limit;
            if (took > limit) {
                // Once more after a full collection: the collector's
                // steps are charged to whichever call they fall in. The
                // plain loop is measured again next to it: the machine's
                // speed may have changed since (load, frequency).
                lua_gc(p->lua_state, LUA_GCCOLLECT, 0);
                took = std::min(took, call(p, c, base, s));
                limit_now = std::max(limit, call_limit_ns());
            }
            if (took < 0) {
                unmade.push_back(current_call);
                continue;
            }
            calls++;
            if (took > limit_now)
                slow.push_back(std::string(current_call) + ": " + std::to_string(took / 1'000'000) + " ms, limit " +
                               std::to_string(limit_now / 1'000'000) + " ms");
            if (lua_gc(p->lua_state, LUA_GCCOUNT, 0) > 16 * 1024) lua_gc(p->lua_state, LUA_GCCOLLECT, 0);
        }
    }
    speak();
    restore_current_process(prev);
    EXPECT_GT(calls, 0);
    EXPECT_TRUE(unmade.empty()) << "the arguments of " << unmade.size() << " calls could not be made, as of "
                                << (unmade.empty() ? "" : unmade[0]);
    std::string list;
    for (const std::string &s : slow) list += "\n  " + s;
    EXPECT_TRUE(slow.empty()) << slow.size() << " calls took longer than " << kCallLimitLoops
                              << " plain loops over " << kBigBytes << " bytes (" << limit / 1'000'000
                              << " ms, at least " << kCallFloorNs / 1'000'000 << " ms):" << list;
}

class HostileArgumentsUnderTheCollector : public HostileArguments {};

// The same calls with the ring due inside them. The first ring step falls
// at allocation step 1 to kRingDelays in turn, and the ring's position moves
// on by the steps each call runs, so successive calls of a function meet
// different steps at different points.
TEST_P(HostileArgumentsUnderTheCollector, NoFinalizerMakesACallFail) {
    const auto [base, slice] = GetParam();
    const baseline &b = kBaselines[base];
    process_rec *p = caller();
    ASSERT_NE(p, nullptr);
    const std::vector<callee> callees = all_callees();
    remembered_process prev = remember_current_process();
    cproc = p;
    start_stress(p);
    std::vector<std::string> unmade, stopped;
    int calls = 0, with_ring = 0, delay = 0;
    const std::vector<shot> plan = shots();
    quiet();
    for (size_t k = size_t(slice); k < callees.size(); k += kStressSlices) {
        const callee &c = callees[k];
        restore_machine(p);
        for (const shot &s : plan) {
            // A call the ring reached is made again with each of the ring's
            // other steps first.
            const lua_Integer start = ring_position(p);
            for (int turn = 0; turn < kRingSteps; turn++) {
                set_ring_position(p, start + turn);
                std::snprintf(current_call, sizeof current_call,
                              "%s [%s], ring from its step %d at allocation step %d", describe(c, b, s).c_str(),
                              b.name, int((start + turn) % kRingSteps), delay + 1);
                const int64_t took = call(p, c, base, s, true, delay);
                delay = (delay + 1) % kRingDelays;
                if (took < 0) {
                    unmade.push_back(current_call);
                    break;
                }
                calls++;
                const bool reached = ring_steps_run > 0;
                with_ring += reached;
                if (collector_left_stopped_) {
                    stopped.push_back(std::string(current_call) + " (ring steps run: " +
                                      std::string(ring_steps, ring_steps_len) + ")");
                    lua_gc(p->lua_state, LUA_GCSTOP);
                }
                ring_steps_len = 0;
                if (!reached) break;
            }
        }
    }
    speak();
    lua_gc(p->lua_state, LUA_GCRESTART);
    restore_current_process(prev);
    EXPECT_GT(calls, 0);
    // Many calls allocate nothing; the ring runs inside every call that
    // allocates often enough to reach its first step.
    EXPECT_GT(with_ring, calls / 40) << "the ring ran inside " << with_ring << " of " << calls << " calls";
    EXPECT_TRUE(unmade.empty()) << "the arguments of " << unmade.size() << " calls could not be made, as of "
                                << (unmade.empty() ? "" : unmade[0]);
    std::string names;
    for (size_t i = 0; i < stopped.size() && i < 20; i++) names += "\n  " + stopped[i];
    EXPECT_TRUE(stopped.empty()) << stopped.size() << " calls left the collector stopped, as of:" << names;
}

std::string case_name(const ::testing::TestParamInfo<std::tuple<int, int>> &info) {
    return std::string(kBaselines[std::get<0>(info.param)].name) + "_" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Baselines, HostileArguments,
                         ::testing::Combine(::testing::Range(0, int(std::size(kBaselines))),
                                            ::testing::Range(0, kSlices)),
                         case_name);

INSTANTIATE_TEST_SUITE_P(Baselines, HostileArgumentsUnderTheCollector,
                         ::testing::Combine(::testing::Range(0, int(std::size(kBaselines))),
                                            ::testing::Range(0, kStressSlices)),
                         case_name);

}  // namespace
