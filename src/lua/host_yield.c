/*
** The budget stop of long host calls.
*/
#include "host_yield.h"

#include "lauxlib.h"
#include "lstate.h"
#include "vm_hooks.h"

void host_step_end(lua_State *L, int64_t count, const host_kept *kept, int n, lua_KContext ctx,
                   lua_KFunction k) {
    if ((cpu_cycles | cpu_superyielding) <= cpu_cycles_max && count <= cpu_cycles_max) return;
    if (lua_isyieldable(L)) {
        for (int i = 0; i < n; i++) {
            lua_pushinteger(L, kept[i].value);
            lua_replace(L, kept[i].slot);
        }
        L->yielded_to_escape_slice = 1;
        lua_yieldk(L, 0, ctx, k); /* from a C function, a yield does not return */
    }
    if (count < cpu_cycles) count = cpu_cycles;
    if (count - cpu_cycles_max > VM_WATCHDOG_MARGIN || cpu_cycles >= VM_CYCLES_CAP)
        luaL_error(L, "%s", VM_WATCHDOG_MESSAGE);
}

void host_charge_check(lua_State *L, int32_t n) {
    spend_cpu(n);
    if ((int64_t)cpu_cycles - cpu_cycles_max > VM_WATCHDOG_MARGIN || cpu_cycles >= VM_CYCLES_CAP)
        luaL_error(L, "%s", VM_WATCHDOG_MESSAGE);
}

void host_charge_units(lua_State *L, size_t units, size_t per_cycle) {
    const size_t cycles = units / per_cycle;
    if (cycles > 0) host_charge_check(L, cycles > VM_CYCLES_CAP ? VM_CYCLES_CAP : (int32_t)cycles);
}
