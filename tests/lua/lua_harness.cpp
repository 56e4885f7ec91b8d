// Test harness for the scripting core.
#include "lua_harness.h"

#include <cstdlib>

extern "C" void *harness_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                               size_t account_size) {
    (void)ud; (void)osize; (void)fail_hard; (void)account_size;
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

LuaHarness::LuaHarness() {
    L_ = lua_newstate(harness_alloc, nullptr);
    luaL_openlibs(L_);
    lua_pushlightuserdata(L_, this);
    lua_pushcclosure(L_, capture_print, 1);
    lua_setglobal(L_, "print");
    cpu_cycles = 0;
    cpu_cycles_max = 0x7FFFFFFF;
    cpu_superyielding = 0;
}

LuaHarness::~LuaHarness() {
    lua_close(L_);
    vm_reset_peek_hooks();
}

// print(...): tostring of each argument, tab-separated, one line per call.
int LuaHarness::capture_print(lua_State *L) {
    auto *self = static_cast<LuaHarness *>(lua_touserdata(L, lua_upvalueindex(1)));
    int n = lua_gettop(L);
    for (int i = 1; i <= n; i++) {
        size_t len;
        const char *s = luaL_tolstring(L, i, &len);
        if (i > 1) self->output_ += '\t';
        self->output_.append(s, len);
        lua_pop(L, 1);
    }
    self->output_ += '\n';
    return 0;
}

std::string LuaHarness::compile(const std::string &src, const char *name) {
    int st = luaL_loadbufferx(L_, src.data(), src.size(), name, "t");
    if (st == LUA_OK) return "";
    std::string msg = lua_tostring(L_, -1);
    lua_pop(L_, 1);
    return msg;
}

RunResult LuaHarness::resume_loop(int32_t budget, bool spent) {
    RunResult r;
    int status;
    do {
        int nres = 0;
        cpu_superyielding = 0;
        if (spent) {
            cpu_cycles = 10;
            cpu_cycles_max = 0;
        } else {
            cpu_cycles = 0;
            cpu_cycles_max = budget > 0 ? budget : 0x7FFFFFFF;
        }
        status = lua_resume(L_, nullptr, 0, &nres);
        r.resumes++;
        if (status == LUA_YIELD) lua_pop(L_, nres);
    } while (status == LUA_YIELD);
    r.status = status;
    if (status != LUA_OK) {
        const char *m = lua_tostring(L_, -1);
        r.error = m ? m : "(non-string error)";
        lua_pop(L_, 1);
    }
    r.output = output_;
    cpu_cycles = 0;
    cpu_cycles_max = 0x7FFFFFFF;
    return r;
}

RunResult LuaHarness::run(const std::string &src, int32_t budget) {
    std::string err = compile(src);
    if (!err.empty()) {
        RunResult r;
        r.status = LUA_ERRSYNTAX;
        r.error = err;
        return r;
    }
    return resume_loop(budget, false);
}

RunResult LuaHarness::run_one_instruction_per_resume(const std::string &src) {
    std::string err = compile(src);
    if (!err.empty()) {
        RunResult r;
        r.status = LUA_ERRSYNTAX;
        r.error = err;
        return r;
    }
    return resume_loop(0, true);
}
