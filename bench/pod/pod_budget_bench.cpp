// Pod calls against the CPU budget: for each case, the host CPU time of one
// write or read divided by the cycles it charges, with the collector running
// as it would in a process (median of 5 runs of many calls). A whole frame's
// budget (279620 cycles) of a call must cost under 12 ms of host time, so
// the goal is at most 12 ms / 279620 = 42.9 ns per cycle. Prints
// "pod_budget <case> <write|read> ns/cycle: X" per case and last
// "pod_budget worst ns/cycle: X".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
}
#include "buffer.h"
#include "pod_reader.h"
#include "pod_writer.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

inline constexpr int kRounds = 5;              // timed runs per case; the median counts
inline constexpr int64_t kCyclesPerRun = 4000000;  // charges one run spends, about 14 frames

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

[[noreturn]] void die(const char *what) {
    fprintf(stderr, "bench_pod_budget: %s\n", what);
    exit(1);
}

void *bench_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        free(ptr);
        return nullptr;
    }
    return realloc(ptr, nsize);
}

struct pod_case {
    const char *name;  // case name in the output
    const char *make;  // Lua code returning the value
    int flags;         // write flags
};

// Host nanoseconds per cycle charged over calls that together charge about
// kCyclesPerRun.
double ns_per_cycle(lua_State *L, buffer_rec *out, buffer_rec *text, int flags, bool read) {
    std::vector<double> runs;
    for (int round = 0; round < kRounds; round++) {
        cpu_cycles = 0;
        const double t0 = cpu_seconds();
        while (cpu_cycles < kCyclesPerRun) {
            if (read) {
                if (destringify_object(L, reinterpret_cast<const char *>(text->data), text->length) != 1)
                    die("a pod text did not read back");
                lua_pop(L, 1);
            } else {
                bclear(out);
                stringify_object(L, -1, out, 0, flags);
            }
        }
        runs.push_back((cpu_seconds() - t0) * 1e9 / double(cpu_cycles));
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

}  // namespace

int main() {
    lua_State *L = lua_newstate(bench_alloc, nullptr);
    luaL_openlibs(L);
    cpu_cycles_max = INT32_MAX;  // accounting on, budget unlimited
    const pod_case cases[] = {
        {"keys_short", "local t = {} for i = 1, 2000 do t['k' .. i] = i end return t", 0},
        {"keys_long", "local t = {} for i = 1, 2000 do t[string.rep('key', 12) .. i] = i end return t", 0},
        {"keys_bracketed", "local t = {} for i = 1, 2000 do t['a key ' .. i] = true end return t", 0},
        {"keys_numbers", "local t = {} for i = 1, 2000 do t[i * 7.5] = i end return t", 0},
        {"floats", "math.randomseed(3) local t = {} for i = 1, 4000 do t[i] = math.random() * 1000 end return t", 0},
        {"floats_f64", nullptr, 0},  // 4000 random f64 elements, made in C
        {"small_lz4", "return {x = 1, y = 2, name = 'a small value'}", POD_PXU | POD_LZ4},
        {"sparse", "local t = {} for e = 14, 0, -1 do t[1 << e] = e end return t", 0},
    };
    buffer_rec *out = create_buffer_2(1 << 20, 'b');
    buffer_rec *text = create_buffer_2(1 << 20, 'b');
    double worst = 0;
    for (const pod_case &c : cases) {
        if (!c.make) {
            typed_ud_rec *rec = create_userdata(L, "f64", 1, 4000, 1, 1, nullptr);
            srand(3);
            for (int i = 0; i < 4000; i++) {
                const double v = rand() / double(RAND_MAX) * 1000;
                memcpy(ud_elements(rec) + 8 * i, &v, 8);
            }
        } else if (luaL_dostring(L, c.make) != LUA_OK) {
            die(lua_tostring(L, -1));
        }
        bclear(text);
        stringify_object(L, -1, text, 0, c.flags);
        to_cstr(text);  // the reader needs the NUL after the text
        const double w = ns_per_cycle(L, out, text, c.flags, false);
        const double r = ns_per_cycle(L, out, text, c.flags, true);
        printf("pod_budget %s write ns/cycle: %.1f\n", c.name, w);
        printf("pod_budget %s read ns/cycle: %.1f\n", c.name, r);
        worst = std::max({worst, w, r});
        lua_pop(L, 1);
        fflush(stdout);
    }
    printf("pod_budget worst ns/cycle: %.1f (goal <= 42.9)\n", worst);
    destroy_buffer(out);
    destroy_buffer(text);
    lua_close(L);
    return 0;
}
