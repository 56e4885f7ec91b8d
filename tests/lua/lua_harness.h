// Test harness for the scripting core: a fresh dialect state with the library
// set, a print that records its output, and runs with or without a budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
#include "vm_hooks.h"
}

struct RunResult {
    int status = LUA_OK;   // LUA_OK, or the error status of the run
    std::string output;    // what print wrote, one line per call
    std::string error;     // the error message when status != LUA_OK
    int resumes = 0;       // lua_resume calls made by the run
};

class LuaHarness {
  public:
    LuaHarness();
    ~LuaHarness();
    LuaHarness(const LuaHarness &) = delete;
    LuaHarness &operator=(const LuaHarness &) = delete;

    lua_State *L() const { return L_; }

    // Compiles `src` in text mode; returns the error message, or "" on success
    // (the chunk is left on the stack then).
    std::string compile(const std::string &src, const char *name = "=test");

    // Runs `src` to completion as the main chunk, resuming after every budget
    // yield with `budget` fresh cycles (a budget of 0 means unlimited).
    RunResult run(const std::string &src, int32_t budget = 0);

    // Like run(), but with cpu_cycles_max below the counter at every resume,
    // so that each resume runs exactly one instruction.
    RunResult run_one_instruction_per_resume(const std::string &src);

    // The print output so far.
    const std::string &output() const { return output_; }

  private:
    RunResult resume_loop(int32_t budget, bool spent);
    static int capture_print(lua_State *L);

    lua_State *L_ = nullptr;
    std::string output_;
};

// Plain realloc/free allocator with the dialect's allocator signature.
extern "C" void *harness_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                               size_t account_size);
