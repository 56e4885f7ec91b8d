/*
** The budget stop of long host calls: a host function whose work runs in
** steps (records, rows) tests the slice's budget between two steps and
** stops there as the interpreter stops between two instructions. C linkage.
*/
#ifndef QUILLMAR_HOST_YIELD_H
#define QUILLMAR_HOST_YIELD_H

#include <stddef.h>
#include <stdint.h>

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A count a long call keeps in a slot of its own stack across a stop. */
typedef struct host_kept {
    int slot;      /* stack index, already holding a value */
    int64_t value; /* stored there as an integer */
} host_kept;

/*
** Between two steps of a long host call whose steps came to 'count' (the
** slice's count at its entry plus what it charged since, before any cut of
** a charge to 32 bits): returns when the call goes on now. When the slice
** is over (its budget spent, or a superyield pending) and L can yield, it
** stores the 'n' counts of 'kept' in their slots, marks L's
** yielded_to_escape_slice as the interpreter's budget stop does and stops
** L there, to go on in k(L, LUA_YIELD, ctx) in its next slice. Where L
** cannot yield, it raises VM_WATCHDOG_MESSAGE once the count is more than
** VM_WATCHDOG_MARGIN past the budget or the slice's count is at
** VM_CYCLES_CAP, as the interpreter does. Nothing with a destructor may be
** alive in the caller.
*/
void host_step_end(lua_State *L, int64_t count, const host_kept *kept, int n, lua_KContext ctx,
                   lua_KFunction k);

/*
** Charges 'n' cycles (as spend_cpu) for work a host or library function
** does in a loop it cannot leave between steps, and raises
** VM_WATCHDOG_MESSAGE once the slice's count is more than
** VM_WATCHDOG_MARGIN past its budget, yieldable or not: a call that cannot
** stop between steps ends there instead of holding the host. Nothing with
** a destructor may be alive in the caller.
*/
void host_charge_check(lua_State *L, int32_t n);

/* host_charge_check for 'units' of work at 'per_cycle' units a cycle; a
   count that rounds to no cycle charges nothing. */
void host_charge_units(lua_State *L, size_t units, size_t per_cycle);

#ifdef __cplusplus
}
#endif

#endif
