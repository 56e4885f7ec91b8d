/*
** Protected calls of the host's internal helpers: C functions the host runs
** on a program's state to do part of its own work (walking a value,
** pushing bytes) so that an error inside comes back as a status. A helper
** takes its context from the host, never from an argument a program could
** forge: a program that lays hands on a helper and calls it gets an error.
** No hook runs while a helper does. C linkage.
*/
#ifndef QUILLMAR_HOST_CALL_H
#define QUILLMAR_HOST_CALL_H

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
** Calls body(L) protected, with the light userdata 'ctx' as its first
** argument followed by the 'nargs' values on top of L's stack (which it
** pops); 'nresults' as lua_pcall. Returns lua_pcall's status, with the
** results or the error object pushed. No hook of L runs until it returns,
** in the helper or in any program code the helper runs (a metamethod).
*/
int host_pcall(lua_State *L, lua_CFunction body, void *ctx, int nargs, int nresults);

/*
** Holds L's collector stopped: nothing (a program's collectgarbage
** included) steps, runs or restarts it until host_gc_release. Returns
** whether this call took the hold, to be handed to host_gc_release.
*/
int host_gc_hold(lua_State *L);
void host_gc_release(lua_State *L, int took);

#ifdef __cplusplus
}
#endif

#endif
