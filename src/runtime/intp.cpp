// The integer reading of a Lua argument.
#include "intp.h"

#include <cmath>

namespace {

// floor(v) as an i64; NaN, infinities and values out of range give INT64_MIN.
int64_t floor_to_i64(double v) {
    const double f = std::floor(v);
    // -2^63 is exact as a double; 2^63 is the first value out of range.
    if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(f);
}

}  // namespace

int64_t kiv_intp(lua_State *L, int index, int64_t def) {
    const int type = lua_type(L, index);
    if (type != LUA_TNUMBER && type != LUA_TSTRING) return def;
    // Integers, integral floats and strings naming an integer stay exact;
    // the conversions read the value in place and cannot raise.
    int ok = 0;
    const lua_Integer i = lua_tointegerx(L, index, &ok);
    if (ok) return i;
    const lua_Number n = lua_tonumberx(L, index, &ok);
    if (ok) return floor_to_i64(n);
    return def;
}
