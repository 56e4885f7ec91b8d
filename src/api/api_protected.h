/*
** Protected steps for host functions that hold host resources (open file
** slots, byte buffers, malloc'd pixels) while they push Lua values. Each
** step runs under lua_pcall and reports an error instead of raising it, so
** the caller can release what it holds first and then raise the error again
** with lua_error. Nothing here raises.
*/
#ifndef QUILLMAR_API_PROTECTED_H
#define QUILLMAR_API_PROTECTED_H

#include <stddef.h>

#include "lua.hpp"

/*
** Calls 'body' protected (host_pcall: no hook runs, and a program cannot
** call it) with two arguments: the light userdata 'ctx' and a copy of the
** value at 'value_index' (nil when 'value_index' is 0 or names no value on
** the stack). Returns
** LUA_OK with every result of 'body' pushed, or the error status with the
** error object pushed.
*/
int api_pcall(lua_State *L, lua_CFunction body, void *ctx, int value_index);

/*
** As api_pcall, with the collector held for the call (host_gc_hold; let go
** afterwards, also after an error): no finalizer runs inside 'body', so what
** it reads before an allocation is still so after it, whatever program code
** 'body' runs.
*/
int api_pcall_held(lua_State *L, lua_CFunction body, void *ctx, int value_index);

/* Pushes the 'n' bytes at 'bytes' as one Lua string; LUA_OK, or the error
   status with the error object pushed. */
int api_push_bytes(lua_State *L, const void *bytes, size_t n);

#endif
