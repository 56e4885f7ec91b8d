/*
** The drawing calls behind the methods set, get and blit. They are the
** script API's own functions, reached directly (never through the Lua
** globals, which a script may replace). C linkage.
*/
#ifndef QUILLMAR_USERDATA_UD_DRAW_HOOKS_H
#define QUILLMAR_USERDATA_UD_DRAW_HOOKS_H

#ifdef __cplusplus
extern "C" {
#endif

#include "lua.h"

int lua54_set_0(lua_State *L);
int lua54_get_0(lua_State *L);
int lua54_blit_0(lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
