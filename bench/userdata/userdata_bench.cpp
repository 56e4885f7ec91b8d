// Typed-array element access against a Lua table: `a[i] = a[i] + 1` over 1M
// elements of a u8 and an f64 array and over a 1M-number table, each run in
// its own thread resumed with one frame's budget refilled at every budget
// yield (as qlua runs scripts), in turns within one run. Prints
// "userdata <u8|f64> element access ratio: R" per type and a last line
// "userdata element access goal: ratio <= 8 (ok|MISSED)". A missed goal is
// only reported; a failing loop ends the benchmark with status 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
#include "vm_hooks.h"
}
#include "typed_ud.h"

namespace {

inline constexpr int kElements = 1000000;  // elements of each array and of the table
inline constexpr int kRuns = 9;            // measured runs per loop; fastest and slowest dropped
inline constexpr double kGoal = 8.0;       // largest ratio to the table loop that meets the goal

// The loop under test; the table runs over 1..n, the arrays over 0..n-1.
const char *const kLoop = R"(
local a, lo, hi = ...
for i = lo, hi do a[i] = a[i] + 1 end
)";

[[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "bench_userdata: %s\n", what);
    std::exit(1);
}

void *bench_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

// Budget of one slice: a whole frame, nothing spent.
void refill_budget() {
    cpu_cycles = 0;
    cpu_cycles_max = VM_FRAME_CYCLES;
    cpu_superyielding = 0;
}

// One subject of the loop: the value at registry reference 'ref' and its bounds.
struct subject {
    const char *name;  // "table", "u8" or "f64"
    int ref;           // registry reference of the table or array
    int lo, hi;        // first and last index the loop visits
};

// Runs the loop (registry reference 'loop') once over 's' in a new thread to
// its end, refilling the budget at every yield; returns the seconds taken and
// adds the budget yields to '*yields'.
double run_loop(lua_State *L, int loop, const subject &s, long *yields) {
    lua_State *co = lua_newthread(L);
    lua_rawgeti(co, LUA_REGISTRYINDEX, loop);
    lua_rawgeti(co, LUA_REGISTRYINDEX, s.ref);
    lua_pushinteger(co, s.lo);
    lua_pushinteger(co, s.hi);
    int nargs = 3;
    int status;
    auto t0 = std::chrono::steady_clock::now();
    do {
        int nres = 0;
        refill_budget();
        status = lua_resume(co, nullptr, nargs, &nres);
        nargs = 0;
        if (status == LUA_YIELD) {
            lua_pop(co, nres);
            ++*yields;
        }
    } while (status == LUA_YIELD);
    auto t1 = std::chrono::steady_clock::now();
    if (status != LUA_OK) die(lua_tostring(co, -1));
    lua_pop(L, 1);  // the thread
    return std::chrono::duration<double>(t1 - t0).count();
}

// Mean of the runs without the fastest and the slowest.
double trimmed_mean(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (size_t i = 1; i + 1 < v.size(); i++) sum += v[i];
    return sum / double(v.size() - 2);
}

// Pushes a new array of 'type' with kElements zeroed elements and returns its reference.
int new_array(lua_State *L, const char *type) {
    refill_budget();
    if (!create_userdata(L, type, 1, kElements, 1, 1, nullptr)) die("cannot create an array");
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

}  // namespace

int main() {
    lua_State *L = lua_newstate(bench_alloc, nullptr);
    if (!L) die("cannot create a state");
    refill_budget();
    luaL_openlibs(L);
    add_userdata_metatable_functions(L);

    if (luaL_loadstring(L, kLoop) != LUA_OK) die(lua_tostring(L, -1));
    int loop = luaL_ref(L, LUA_REGISTRYINDEX);

    lua_createtable(L, kElements, 0);
    for (int i = 1; i <= kElements; i++) {
        lua_pushinteger(L, 0);
        lua_rawseti(L, -2, i);
    }
    subject subjects[] = {
        {"table", luaL_ref(L, LUA_REGISTRYINDEX), 1, kElements},
        {"u8", new_array(L, "u8"), 0, kElements - 1},
        {"f64", new_array(L, "f64"), 0, kElements - 1},
    };
    constexpr int kSubjects = sizeof subjects / sizeof subjects[0];

    std::vector<double> secs[kSubjects];
    long yields[kSubjects] = {};
    for (int run = 0; run <= kRuns; run++) {  // run 0 warms up
        for (int k = 0; k < kSubjects; k++) {
            double t = run_loop(L, loop, subjects[k], &yields[k]);
            if (run > 0) secs[k].push_back(t);
        }
        lua_gc(L, LUA_GCCOLLECT);  // the finished threads, outside the timings
    }

    // Every element was incremented once per run, warm-up included.
    lua_rawgeti(L, LUA_REGISTRYINDEX, subjects[2].ref);
    lua_geti(L, -1, kElements - 1);
    if (lua_tonumber(L, -1) != double(kRuns + 1)) die("the f64 loop did not count every run");
    lua_pop(L, 2);

    double table = trimmed_mean(secs[0]);
    std::printf("userdata: %d elements, %d runs per loop, fastest and slowest dropped; "
                "table loop %.2f ms, %ld budget yields per run\n", kElements, kRuns, table * 1e3,
                yields[0] / (kRuns + 1));
    double worst = 0;
    for (int k = 1; k < kSubjects; k++) {
        double mean = trimmed_mean(secs[k]);
        double ratio = mean / table;
        worst = std::max(worst, ratio);
        std::printf("userdata %s element access ms: %.2f, %ld budget yields per run\n",
                    subjects[k].name, mean * 1e3, yields[k] / (kRuns + 1));
        std::printf("userdata %s element access ratio: %.3f\n", subjects[k].name, ratio);
    }
    std::printf("userdata element access goal: ratio <= %.1f (%s)\n", kGoal,
                worst <= kGoal ? "ok" : "MISSED");
    lua_close(L);
    return 0;
}
