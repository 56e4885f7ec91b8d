// Every global of the registration table and every typed-array method,
// called with extreme values at each of the first eight argument positions
// over a few ordinary argument lists: each call must return within
// kCallLimitNs of the thread's CPU time. A call that does not return within
// kStallNs, or that trips a sanitizer, ends the test with its name and
// arguments on standard error.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "colour_tables.h"
#include "draw_state.h"
#include "env.h"
#include "pfile.h"
#include "pmount.h"
#include "seam_fakes.h"
#include "typed_ud.h"
#include "ud_methods.h"

namespace {

inline constexpr int64_t kCallLimitNs = 100'000'000;  // CPU time one call may take
inline constexpr int64_t kStallNs = 5'000'000'000;    // a call still running then never returns
inline constexpr int kPositions = 8;                  // argument positions tried
inline constexpr int kSlices = 4;                     // test cases per baseline

// The extreme values, as Lua expressions made afresh for each call (a call
// may change a table it is given).
struct value {
    const char *label;
    const char *expr;
};
const value kValues[] = {
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
};

// The call under way, for the watchdog and the sanitizers' last words.
char current_call[512];

void say_current_call() {
    const char head[] = "\nhostile arguments: the call under way: ";
    (void)!write(2, head, sizeof head - 1);
    (void)!write(2, current_call, std::strlen(current_call));
    (void)!write(2, "\n", 1);
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

std::string describe(const callee &c, const baseline &b, int position, const value &v) {
    std::string s = c.method ? "USERDATA." + c.name + "(" : c.name + "(";
    const char *const *args = c.method ? b.methods : b.globals;
    for (int i = 0; i < kPositions; i++) {
        if (i) s += ", ";
        s += i == position ? v.label : args[i];
    }
    return s + ")";
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
        std::string code = "BIG = string.rep('x', 1 << 20) "
                           "function MAP() local m = userdata('i16', 32, 32) "
                           "for i = 0, 1023 do m[i] = i % 7 end return m end "
                           "T = userdata('u8', 480, 270) "
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
        const bool ok = luaL_dostring(L, code.c_str()) == LUA_OK;
        EXPECT_TRUE(ok) << lua_tostring(L, -1);
        lua_settop(L, 0);
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
    // its arguments could not be made).
    int64_t call(process_rec *p, const callee &c, int base, int position, int v) {
        lua_State *L = p->lua_state;
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
        lua_getglobal(L, "VALUES");
        lua_rawgeti(L, -1, v + 1);
        lua_remove(L, -2);
        if (lua_pcall(L, 0, 1, 0) != LUA_OK) return -1;
        lua_replace(L, 2 + position);
        const int state = p->state;
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        const itimerspec arm{{0, 0}, {kStallNs / 1'000'000'000, kStallNs % 1'000'000'000}};
        timer_settime(watchdog_, 0, &arm, nullptr);
        const int64_t start = thread_cpu_ns();
        lua_pcall(L, kPositions, 0, 0);
        const int64_t took = thread_cpu_ns() - start;
        const itimerspec disarm{};
        timer_settime(watchdog_, 0, &disarm, nullptr);
        lua_settop(L, 0);
        // _halt and flip end the slice; processes a call made go.
        cpu_superyielding = 0;
        p->state = state;
        for (int32_t i = num_processes - 1; i >= 0; i--)
            if (process[i] != p) kill_process_by_index(i);
        return took;
    }

    std::string root_;
    int stdout_ = -1;
    timer_t watchdog_{};
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
    quiet();
    for (size_t k = size_t(slice); k < callees.size(); k += kSlices) {
        const callee &c = callees[k];
        restore_machine(p);
        for (int position = 0; position < kPositions; position++)
            for (int v = 0; v < int(std::size(kValues)); v++) {
                std::snprintf(current_call, sizeof current_call, "%s [%s]",
                              describe(c, b, position, kValues[v]).c_str(), b.name);
                int64_t took = call(p, c, base, position, v);
                if (took > kCallLimitNs) {
                    // Once more after a full collection: the collector's
                    // steps are charged to whichever call they fall in.
                    lua_gc(p->lua_state, LUA_GCCOLLECT, 0);
                    took = std::min(took, call(p, c, base, position, v));
                }
                if (took < 0) {
                    unmade.push_back(current_call);
                    continue;
                }
                calls++;
                if (took > kCallLimitNs)
                    slow.push_back(std::string(current_call) + ": " + std::to_string(took / 1'000'000) + " ms");
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
    EXPECT_TRUE(slow.empty()) << slow.size() << " calls took longer than "
                              << kCallLimitNs / 1'000'000 << " ms:" << list;
}

std::string case_name(const ::testing::TestParamInfo<std::tuple<int, int>> &info) {
    return std::string(kBaselines[std::get<0>(info.param)].name) + "_" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Baselines, HostileArguments,
                         ::testing::Combine(::testing::Range(0, int(std::size(kBaselines))),
                                            ::testing::Range(0, kSlices)),
                         case_name);

}  // namespace
