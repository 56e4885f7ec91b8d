// Protected calls and pushes for host functions that hold host resources.
#include "api_protected.h"

#include "host_call.h"

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
    // None of these pushes allocates: a copy of a stack value and a light C
    // function, within the stack space every C call has.
    if (value_index != 0) value_index = lua_absindex(L, value_index);
    if (value_index > lua_gettop(L)) value_index = 0;  // an absent value is passed as nil
    if (value_index != 0)
        lua_pushvalue(L, value_index);
    else
        lua_pushnil(L);
    return host_pcall(L, body, ctx, 1, LUA_MULTRET);
}

int api_pcall_held(lua_State *L, lua_CFunction body, void *ctx, int value_index) {
    const int took = host_gc_hold(L);
    const int status = api_pcall(L, body, ctx, value_index);
    host_gc_release(L, took);
    return status;
}

int api_push_bytes(lua_State *L, const void *bytes, size_t n) {
    bytes_ref ref{bytes, n};
    return api_pcall(L, push_bytes_body, &ref, 0);
}
