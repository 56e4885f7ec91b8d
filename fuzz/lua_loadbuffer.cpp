// Fuzzes the dialect's compiler: luaL_loadbufferx in text mode on arbitrary
// (mostly mutated dialect) sources. Every input must either compile or fail
// with an error message; nothing may crash or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}

namespace {

// Plain allocator with the dialect's signature.
void *fuzz_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lua_State *L = lua_newstate(fuzz_alloc, nullptr);
    if (L == nullptr) return 0;
    int st = luaL_loadbufferx(L, reinterpret_cast<const char *>(data), size, "=fuzz", "t");
    // syntax errors, a memory error, or "C stack overflow" for deep nesting
    if (st != LUA_OK && st != LUA_ERRSYNTAX && st != LUA_ERRMEM && st != LUA_ERRRUN &&
        st != LUA_ERRERR)
        std::abort();
    if (st != LUA_OK && lua_type(L, -1) != LUA_TSTRING) std::abort();
    lua_close(L);
    return 0;
}
