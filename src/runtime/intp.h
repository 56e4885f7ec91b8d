/*
** The integer reading of a Lua argument used by host functions. C linkage.
*/
#ifndef QUILLMAR_RUNTIME_INTP_H
#define QUILLMAR_RUNTIME_INTP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#include "lua.h"

/* Argument 'index' of L as a signed 64-bit integer: an integer, or a string
   holding one, as it is; any other number or numeric string floored, with
   NaN, infinities and values outside the 64-bit range giving INT64_MIN;
   anything else (nil, absent, boolean, table, function, userdata,
   non-numeric string) gives 'def'. Never raises and never touches the
   stack, so any host function may call it. */
int64_t kiv_intp(lua_State *L, int index, int64_t def);

#ifdef __cplusplus
}
#endif

#endif
