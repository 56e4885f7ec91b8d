// The drawing calls set, get and blit, as the typed-array methods reach them.
// Not built yet: they return no results.
#include "ud_draw_hooks.h"

int lua54_set_0(lua_State *L) { (void)L; return 0; }
int lua54_get_0(lua_State *L) { (void)L; return 0; }
int lua54_blit_0(lua_State *L) { (void)L; return 0; }
