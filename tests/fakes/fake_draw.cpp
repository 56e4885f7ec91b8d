// Weak stand-ins for the drawing calls behind the typed-array methods set,
// get and blit, so typed-array tests and fuzz targets link without the
// script API; the API's own definitions win where it is linked.
#include "ud_draw_hooks.h"

#define FAKE_WEAK __attribute__((weak))

FAKE_WEAK int lua54_set_0(lua_State *L) { (void)L; return 0; }
FAKE_WEAK int lua54_get_0(lua_State *L) { (void)L; return 0; }
FAKE_WEAK int lua54_blit_0(lua_State *L) { (void)L; return 0; }
