// One process whose state the string and date fuzz targets call API
// functions in, from C: the arguments pushed, the function called under
// pcall, the allocator's own charge left out so that the call's charge can be
// read exactly.
#pragma once

#include <cstdlib>

#include "fake_host.h"
#include "lua.hpp"
#include "process.h"
#include "vm_hooks.h"

namespace script_call {

inline process_rec *proc = nullptr;
inline lua_Alloc charged = nullptr;

inline void *uncharged(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard, size_t account) {
    const int32_t before = cpu_cycles;
    void *r = charged(ud, ptr, osize, nsize, fail_hard, account);
    cpu_cycles = before;
    return r;
}

// Makes the process (once) and returns its state, current, with an empty
// stack and a fresh budget.
inline lua_State *begin() {
    if (!proc) {
        fake_host::reset();
        processes_init();
        proc = create_process_from_code("", "fuzz", "/fuzz.lua", "");
        if (!proc) std::abort();
        void *ud = nullptr;
        charged = lua_getallocf(proc->lua_state, &ud);
        lua_setallocf(proc->lua_state, uncharged, ud);
    }
    cproc = proc;
    lua_State *L = proc->lua_state;
    lua_settop(L, 0);
    cpu_cycles = 0;
    cpu_cycles_max = 0x10000000;
    return L;
}

}  // namespace script_call
