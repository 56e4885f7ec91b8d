/*
** Protected calls of the host's internal helpers.
*/
#include "host_call.h"

#include <stddef.h>

#include "lauxlib.h"
#include "ldo.h"
#include "lstate.h"

/*
** The helper call about to start: the state, the frame it is called from,
** its function's slot and what it runs. Only the main thread runs Lua, so
** one record serves; a nested call saves the outer one. The trampoline takes
** the record as it starts, so a program's own call of it (the trampoline
** reached through the debug library, from a metamethod or finalizer run
** inside a helper) finds none, or one that is not for its frame.
*/
typedef struct armed_call {
    lua_State *L;
    CallInfo *caller;
    ptrdiff_t func; /* the trampoline's slot, from the stack's bottom */
    lua_CFunction body;
    void *ctx;
} armed_call;

static armed_call armed;

static int trampoline(lua_State *L) {
    armed_call call = armed;
    armed.L = NULL;
    if (call.L != L || L->ci->previous != call.caller || savestack(L, L->ci->func) != call.func)
        return luaL_error(L, "a host helper was called outside the host's call");
    lua_pushlightuserdata(L, call.ctx);
    lua_insert(L, 1);
    return call.body(L);
}

int host_pcall(lua_State *L, lua_CFunction body, void *ctx, int nargs, int nresults) {
    const armed_call outer = armed;
    const lu_byte allowhook = L->allowhook;
    int status;
    lua_pushcfunction(L, trampoline);
    lua_insert(L, -(nargs + 1));
    armed.L = L;
    armed.caller = L->ci;
    armed.func = savestack(L, L->top - (nargs + 1));
    armed.body = body;
    armed.ctx = ctx;
    L->allowhook = 0;
    status = lua_pcall(L, nargs, nresults, 0);
    L->allowhook = allowhook;
    armed = outer;
    return status;
}

int host_gc_hold(lua_State *L) { return lua_gc(L, LUA_GCHOLD) == 1; }

void host_gc_release(lua_State *L, int took) {
    if (took) lua_gc(L, LUA_GCRELEASE);
}
