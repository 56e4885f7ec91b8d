// Protected calls and pushes for host functions that hold host resources.
#include "api_protected.h"

namespace {

// The copy of the bytes to push, handed over as a light userdata.
struct bytes_ref {
    const void *bytes; /* first byte */
    size_t n;          /* count */
};

int push_bytes_body(lua_State *L) {
    const auto *ref = static_cast<const bytes_ref *>(lua_touserdata(L, 1));
    lua_pushlstring(L, static_cast<const char *>(ref->bytes), ref->n);
    return 1;
}

}  // namespace

int api_pcall(lua_State *L, lua_CFunction body, void *ctx, int value_index) {
    // None of these pushes allocates: a light C function, a light userdata
    // and a copy of a stack value, within the stack space every C call has.
    if (value_index != 0) value_index = lua_absindex(L, value_index);
    if (value_index > lua_gettop(L)) value_index = 0;  // an absent value is passed as nil
    lua_pushcfunction(L, body);
    lua_pushlightuserdata(L, ctx);
    if (value_index != 0)
        lua_pushvalue(L, value_index);
    else
        lua_pushnil(L);
    return lua_pcall(L, 2, LUA_MULTRET, 0);
}

int api_pcall_held(lua_State *L, lua_CFunction body, void *ctx, int value_index) {
    // Inside a finalizer the collector cannot step anyway: lua_gc answers -1.
    const bool collecting = lua_gc(L, LUA_GCISRUNNING) == 1;
    if (collecting) lua_gc(L, LUA_GCSTOP);
    const int status = api_pcall(L, body, ctx, value_index);
    if (collecting) lua_gc(L, LUA_GCRESTART);
    return status;
}

int api_push_bytes(lua_State *L, const void *bytes, size_t n) {
    bytes_ref ref{bytes, n};
    return api_pcall(L, push_bytes_body, &ref, 0);
}
