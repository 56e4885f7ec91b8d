/*
** The base library's load, which the dialect's library set leaves out:
** load(chunk [, chunkname [, mode [, env]]]) with chunk a string or a reader
** function. The core refuses precompiled chunks whatever 'mode' says.
** Returns the function, or fail and the message.
*/
#ifndef QUILLMAR_TEXT_LOAD_H
#define QUILLMAR_TEXT_LOAD_H

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

int luaB_load0(lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
