// Resume/yield pair benchmark: a `while true do end` loop resumed 1M times
// with a spent budget, so each resume runs one instruction and the
// interpreter's budget yield hands control back. Prints the time per pair in
// nanoseconds; the last line reads "yield pair ns: T".
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

namespace {

inline constexpr int kPairs = 1000000;  // resume/yield pairs per measured run
inline constexpr int kRuns = 7;         // measured runs; fastest and slowest dropped

extern "C" void *bench_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                             size_t account_size) {
    (void)ud; (void)osize; (void)fail_hard; (void)account_size;
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

// A budget that is already spent: the next resume runs one instruction.
void spend_budget() {
    cpu_cycles = 0;
    cpu_cycles_max = 0;
    cpu_superyielding = 0;
}

// A new thread of L with `src` loaded, left on L's stack (which anchors it).
lua_State *thread_with(lua_State *L, const char *src) {
    lua_State *co = lua_newthread(L);
    if (luaL_loadstring(co, src) != LUA_OK) {
        std::fprintf(stderr, "yield: %s\n", lua_tostring(co, -1));
        std::exit(1);
    }
    return co;
}

}  // namespace

int main() {
    lua_State *L = lua_newstate(bench_alloc, nullptr);
    if (!L) return 1;
    luaL_openlibs(L);

    // An interpreter without the budget yield would loop for ever below.
    lua_State *probe = thread_with(L, "local n = 0 while n < 3000000 do n = n + 1 end");
    int nres = 0;
    spend_budget();
    if (lua_resume(probe, nullptr, 0, &nres) != LUA_YIELD) {
        std::printf("yield: the interpreter does not yield when the budget is spent; nothing to measure\n");
        lua_close(L);
        return 0;
    }

    lua_State *co = thread_with(L, "while true do end");
    std::vector<double> ns;
    for (int run = 0; run <= kRuns; run++) {  // run 0 warms up
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kPairs; i++) {
            spend_budget();
            int status = lua_resume(co, nullptr, 0, &nres);
            if (status != LUA_YIELD) {
                std::fprintf(stderr, "yield: resume %d ended with status %d\n", i, status);
                return 1;
            }
            lua_pop(co, nres);
        }
        auto t1 = std::chrono::steady_clock::now();
        if (run > 0)
            ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kPairs);
    }
    std::sort(ns.begin(), ns.end());
    double sum = 0;
    for (size_t i = 1; i + 1 < ns.size(); i++) sum += ns[i];
    double mean = sum / double(ns.size() - 2);
    std::printf("yield: %d resume/yield pairs per run, %d runs, fastest and slowest dropped "
                "(fastest run %.1f ns per pair)\n", kPairs, kRuns, ns.front());
    std::printf("yield pair ns: %.1f\n", mean);
    lua_close(L);
    return 0;
}
