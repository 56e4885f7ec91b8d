// _print_zenscii: text at the print cursor through the printer.
#include "api_args.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "lua.hpp"
#include "printer.h"
#include "saturate.h"

namespace {

/* A cursor coordinate from argument i when it is a number or a string
   (truncated toward zero, saturating), else 'current'. */
int32_t cursor_coordinate(lua_State *L, int i, int32_t current) {
    const int type = lua_type(L, i);
    if (type != LUA_TNUMBER && type != LUA_TSTRING) return current;
    int isnum = 0;
    const double v = lua_tonumberx(L, i, &isnum);
    return isnum ? saturate_double_to_i32(v) : 0;
}

}  // namespace

int lua54__print_zenscii(lua_State *L) {
    if (!cproc || !cproc->draw_target) return 0;
    // A number's text is made first: making it may run finalizers, which may
    // switch the target, change the clip or draw with other masks. The text
    // stays at argument 1.
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    get_masks_shape();
    if (!text) return 0;
    const int n = lua_gettop(L);
    int colour_at = 0;
    int32_t x = reg_i32(cproc, REG_CURSOR_X), y = reg_i32(cproc, REG_CURSOR_Y);
    if (n == 4 && lua_isnil(L, 3) && lua_isnil(L, 4)) {
        colour_at = 2;
    } else if (n < 3) {
        colour_at = n == 2 ? 2 : 0;
    } else {
        x = cursor_coordinate(L, 2, x);
        y = cursor_coordinate(L, 3, y);
        reg_write(cproc, REG_CURSOR_X, uint32_t(x) | uint64_t(uint32_t(y)) << 32, 8, true);
        colour_at = 4;
    }
    reg_write(cproc, REG_HOME_X, uint32_t(x), 4, true);
    if (colour_at && lua_type(L, colour_at) == LUA_TNUMBER) set_colp(kiv_intp(L, colour_at, 0));
    const int flags = reg_u8(cproc, REG_PRINT_FLAGS) & 0x80 ? PRINT_WRAP : 0;
    print_zenscii(t, text, len, flags, pen());
    if (print_max_set) {
        lua_pushinteger(L, print_max_x);
        lua_pushinteger(L, print_max_y);
    } else {
        lua_pushinteger(L, reg_i32(cproc, REG_CURSOR_X));
        lua_pushinteger(L, reg_i32(cproc, REG_CURSOR_Y));
    }
    return 2;
}
