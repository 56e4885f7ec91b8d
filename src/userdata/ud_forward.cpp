// Typed arrays: the methods set, get and blit, which are the drawing calls
// of the same names with the array as their first argument.
#include "ud_draw_hooks.h"
#include "ud_methods.h"

int lua54_ud_set(lua_State *L) { return lua54_set_0(L); }
int lua54_ud_get(lua_State *L) { return lua54_get_0(L); }
int lua54_ud_blit(lua_State *L) { return lua54_blit_0(L); }
