// Typed arrays as Lua values: length, text form, element reads and writes by
// key, and the shape queries.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ud_elem.h"
#include "ud_methods.h"
#include "intp.h"
#include "vm_hooks.h"

namespace {

/* A number of a small array's text, written by printf's float conversion. */
inline constexpr int32_t NUMBER_TEXT_CYCLES = 48;

// Element of a one-character key: x y z u v w t are elements 0 to 6; -1 otherwise.
int letter_index(char c) {
    switch (c) {
    case 'x': return 0;
    case 'y': return 1;
    case 'z': return 2;
    case 'u': return 3;
    case 'v': return 4;
    case 'w': return 5;
    case 't': return 6;
    default: return -1;
    }
}

// Appends one number as "%0.14g" at 'out' (room 'n'); every NaN is "nan".
int format_number(char *out, size_t n, double v) {
    if (std::isnan(v)) return std::snprintf(out, n, "nan");
    return std::snprintf(out, n, "%0.14g", v);
}

// Writes "(a, b, ...)" of 'count' elements starting at 'first' into 'out'.
size_t format_row(char *out, size_t room, const uint8_t *area, uint64_t first, int count) {
    size_t len = 0;
    out[len++] = '(';
    for (int i = 0; i < count; i++) {
        if (i > 0) {
            out[len++] = ',';
            out[len++] = ' ';
        }
        len += size_t(format_number(out + len, room - len, ud_read_f64(area, first + i)));
    }
    out[len++] = ')';
    out[len] = 0;
    return len;
}

}  // namespace

/* ---- shape (array -> Lua) ---- */

int lua54_ud_len(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    lua_pushinteger(L, lua_Integer(ud_count(rec)));
    return 1;
}

int lua54_ud_width(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    lua_pushinteger(L, rec->width);
    return 1;
}

int lua54_ud_height(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    if (rec->dims > 1) {
        lua_pushinteger(L, rec->height);
    } else {
        lua_pushnil(L);
    }
    return 1;
}

int lua54_ud_attribs(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    // All four read at once: pushing the name may run finalizers.
    const typed_ud_rec seen = *rec;
    lua_pushinteger(L, seen.width);
    lua_pushinteger(L, seen.height);
    lua_pushstring(L, get_utype_string(ud_type(&seen)));
    lua_pushinteger(L, seen.dims);
    return 4;
}

/* ---- text form ---- */

int lua54_ud_tostring(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    // Each number takes at most 24 characters with its separator, so 12 of
    // them and the line breaks fit easily.
    char text[1024];
    uint64_t count = ud_count(rec);
    const uint8_t *area = ud_elements(rec);
    uint32_t w = rec->width;
    if (ud_type(rec) == UTYPE_F64 && w == 3 && rec->height == 4 && count >= 12) {
        size_t len = 0;
        for (int row = 0; row < 4; row++) {
            if (row > 0) {
                std::memcpy(text + len, ",\n", 2);
                len += 2;
            }
            len += format_row(text + len, sizeof text - len, area, uint64_t(row) * 3, 3);
        }
        spend_cpu(12 * NUMBER_TEXT_CYCLES);
    } else if (ud_type(rec) == UTYPE_F64 && w >= 2 && w <= 5 && count >= w) {
        format_row(text, sizeof text, area, 0, int(w));
        spend_cpu(int32_t(w) * NUMBER_TEXT_CYCLES);
    } else {
        std::snprintf(text, sizeof text, "userdata: 0x%x",
                      unsigned(uint32_t(reinterpret_cast<uintptr_t>(rec))));
    }
    lua_pushstring(L, text);
    return 1;
}

/* ---- elements (array <-> Lua) ---- */

int lua54_ud_index(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    int64_t i;
    switch (lua_type(L, 2)) {
    case LUA_TNUMBER: {
        int exact = 0;
        i = lua_tointegerx(L, 2, &exact);
        if (!exact) return 0;  // 1.5 and NaN name no element
        break;
    }
    case LUA_TSTRING: {
        size_t len;
        const char *key = lua_tolstring(L, 2, &len);
        if (len == 1) {
            i = letter_index(key[0]);
            break;
        }
        // Method lookup in the array's own metatable, at call time.
        if (!lua_getmetatable(L, 1)) return 0;
        lua_pushvalue(L, 2);
        lua_rawget(L, -2);
        return 1;
    }
    default:
        return 0;
    }
    if (i < 0 || uint64_t(i) >= ud_count(rec)) return 0;
    const uint8_t *area = ud_elements(rec);
    int code = ud_type(rec);
    if (code == UTYPE_F64) {
        lua_pushnumber(L, ud_read_f64(area, uint64_t(i)));
    } else {
        lua_pushinteger(L, ud_read_int(area, code, uint64_t(i)));
    }
    return 1;
}

int lua54_ud_newindex(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    int64_t i;
    switch (lua_type(L, 2)) {
    case LUA_TNUMBER:
        i = kiv_intp(L, 2, -1);  // floored: 2.7 writes element 2
        break;
    case LUA_TSTRING: {
        size_t len;
        const char *key = lua_tolstring(L, 2, &len);
        if (len != 1) return 0;  // other names store nothing anywhere
        i = letter_index(key[0]);
        break;
    }
    default:
        return 0;
    }
    if (i < 0 || uint64_t(i) >= ud_count(rec)) return 0;
    uint8_t *area = ud_elements(rec);
    int code = ud_type(rec);
    if (code == UTYPE_F64) {
        int isnum = 0;
        double v = lua_tonumberx(L, 3, &isnum);
        ud_write_f64(area, uint64_t(i), isnum ? v : 0.0);
    } else {
        ud_write_int(area, code, uint64_t(i), kiv_intp(L, 3, 0));
    }
    return 0;
}
