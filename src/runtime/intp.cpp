// The integer reading of a Lua argument.
#include "intp.h"

#include "saturate.h"

int64_t kiv_intp(lua_State *L, int index, int64_t def) {
    const int type = lua_type(L, index);
    if (type != LUA_TNUMBER && type != LUA_TSTRING) return def;
    // Integers, integral floats and strings naming an integer stay exact;
    // the conversions read the value in place and cannot raise.
    int ok = 0;
    const lua_Integer i = lua_tointegerx(L, index, &ok);
    if (ok) return i;
    const lua_Number n = lua_tonumberx(L, index, &ok);
    if (ok) return floor_double_to_i64_or_min(n);
    return def;
}
