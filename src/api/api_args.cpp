// The truncated-number, integer-conversion and string readings of arguments.
#include "api_args.h"

#include <cstring>

#include "api_charges.h"
#include "lua.hpp"
#include "saturate.h"

int32_t api_truncated(lua_State *L, int index, int32_t def) {
    int ok = 0;
    const lua_Number n = lua_tonumberx(L, index, &ok);  // numbers and numeric strings only
    return ok ? saturate_double_to_i32(n) : def;
}

int64_t api_integer(lua_State *L, int index) {
    int ok = 0;
    const lua_Integer i = lua_tointegerx(L, index, &ok);
    return ok ? i : 0;
}

const char *api_string(lua_State *L, int index, size_t *len) {
    const int type = lua_type(L, index);
    if (type != LUA_TSTRING && type != LUA_TNUMBER) {
        if (len) *len = 0;
        return nullptr;
    }
    return lua_tolstring(L, index, len);
}

const char *api_path(lua_State *L, int index, size_t *len) {
    size_t n = 0;
    const char *s = api_string(L, index, &n);
    // The text is read through for a zero byte: charged here, so a path
    // refused afterwards has paid for it (charge_path counts it as paid).
    if (s && n >= PATH_SCAN_BYTES_PER_CYCLE) spend_cpu(static_cast<int32_t>(std::min<size_t>(n / PATH_SCAN_BYTES_PER_CYCLE, INT32_MAX / 2)));
    if (s && std::memchr(s, 0, n)) s = nullptr;
    if (len) *len = s ? n : 0;
    return s;
}
