// Hex element readers over a text cursor (stand-in until the byte buffer's
// readers are available).
#pragma once

#include <cstdint>

inline int ud_hex_digit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

inline uint64_t ud_read_hex(const char **cursor, int digits) {
    const char *p = *cursor;
    uint64_t v = 0;
    for (int i = 0; i < digits; i++) {
        if (!p[i]) { *cursor = p + i; return 0; }
        v = v << 4 | uint64_t(ud_hex_digit((unsigned char)p[i]));
    }
    *cursor = p + digits;
    return v;
}

inline uint8_t read_u8_from_hex_str(const char **c) { return uint8_t(ud_read_hex(c, 2)); }
inline int16_t read_i16_from_hex_str(const char **c) { return int16_t(ud_read_hex(c, 4)); }
inline uint32_t read_i32_from_hex_str(const char **c) { return uint32_t(ud_read_hex(c, 8)); }
inline uint64_t read_i64_from_hex_str(const char **c) { return ud_read_hex(c, 16); }

#include <cmath>

extern "C" {
#include "lua.h"
}

// Integer reading of a Lua argument: integers as they are, other numbers and
// numeric texts floored, NaN and out-of-range values -2^63, else 'dflt'.
inline int64_t kiv_intp(lua_State *L, int idx, int64_t dflt) {
    int t = lua_type(L, idx);
    if (t != LUA_TNUMBER && t != LUA_TSTRING) return dflt;
    if (t == LUA_TNUMBER && lua_isinteger(L, idx)) return lua_tointeger(L, idx);
    int ok = 0;
    lua_Integer i = lua_tointegerx(L, idx, &ok);
    if (ok) return i;
    double d = lua_tonumberx(L, idx, &ok);
    if (!ok) return dflt;
    d = std::floor(d);
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return int64_t(d);
}
