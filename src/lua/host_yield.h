/*
** The budget stop of long host calls: a host function whose work runs in
** steps (records, rows) tests the slice's budget between two steps and
** stops there as the interpreter stops between two instructions. C linkage.
*/
#ifndef QUILLMAR_HOST_YIELD_H
#define QUILLMAR_HOST_YIELD_H

#include <stdint.h>

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Whether the running slice is over by the interpreter's test (its budget
   spent or a superyield pending), or 'count' (what the call's steps came to
   on top of the count at its entry, before any cut of a charge to 32 bits)
   is past the budget. */
int host_budget_spent(int64_t count);

/* Whether a call that cannot yield is due for the interpreter's watchdog:
   the greater of 'count' and the slice's count more than
   VM_WATCHDOG_MARGIN past the budget, or the count at VM_CYCLES_CAP. */
int host_watchdog_due(int64_t count);

/*
** Stops the running slice inside a host call: marks L's
** yielded_to_escape_slice as the interpreter's budget stop does, and yields
** L with no results; the call goes on in k(L, LUA_YIELD, ctx) when L is
** resumed. Use only as the return expression of a C function, with
** lua_isyieldable(L) true, and nothing with a destructor alive.
*/
int host_budget_yield(lua_State *L, lua_KContext ctx, lua_KFunction k);

/* Raises VM_WATCHDOG_MESSAGE in L, with the position of the calling Lua code. */
int host_watchdog_error(lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
