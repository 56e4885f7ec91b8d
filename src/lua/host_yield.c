/*
** The budget stop of long host calls.
*/
#include "host_yield.h"

#include "lauxlib.h"
#include "lstate.h"
#include "vm_hooks.h"

int host_budget_spent(int64_t count) {
    return (cpu_cycles | cpu_superyielding) > cpu_cycles_max || count > cpu_cycles_max;
}

int host_watchdog_due(int64_t count) {
    if (count < cpu_cycles) count = cpu_cycles;
    return count - cpu_cycles_max > VM_WATCHDOG_MARGIN || cpu_cycles >= VM_CYCLES_CAP;
}

int host_budget_yield(lua_State *L, lua_KContext ctx, lua_KFunction k) {
    L->yielded_to_escape_slice = 1;
    return lua_yieldk(L, 0, ctx, k);
}

int host_watchdog_error(lua_State *L) { return luaL_error(L, "%s", VM_WATCHDOG_MESSAGE); }
