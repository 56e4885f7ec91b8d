// The script API's pod writing and reading.
//
// STAND-IN: until the runtime's pod writer and reader exist, this file
// carries a minimal pod of its own: scalars (strings, numbers, booleans) and
// flat tables of them under string or integer keys. Anything else is left
// out when written and refused when read; flags are ignored. Replace the
// stand_in_* calls with the runtime's stringify_object, destringify_object,
// destringify_object_metadata and find_metadata_length.
#include "pod_bridge.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "buffer.h"
#include "lua.hpp"

namespace {

/* ---- stand-in writer (Lua value -> text) ---- */

inline constexpr int NUMBER_TEXT_MAX = 48; /* "%.17g" of any double, and a sign */

bool is_identifier(const char *s, size_t n) {
    if (n == 0 || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (size_t i = 1; i < n; i++)
        if (!(std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) return false;
    return true;
}

// Writes the scalar at 'index'; false (nothing written) for other values.
bool write_scalar(lua_State *L, int index, buffer_rec *b) {
    char num[NUMBER_TEXT_MAX];
    switch (lua_type(L, index)) {
        case LUA_TBOOLEAN:
            bappend_str(b, lua_toboolean(L, index) ? "true" : "false");
            return true;
        case LUA_TNUMBER:
            if (lua_isinteger(L, index)) {
                std::snprintf(num, sizeof num, "%lld",
                              static_cast<long long>(lua_tointeger(L, index)));
            } else {
                const double d = lua_tonumber(L, index);
                if (!std::isfinite(d)) return false;
                std::snprintf(num, sizeof num, "%.17g", d);
                if (!std::strpbrk(num, ".e")) std::strcat(num, ".0");
            }
            bappend_str(b, num);
            return true;
        case LUA_TSTRING: {
            size_t n = 0;
            const char *s = lua_tolstring(L, index, &n);
            bappend_str(b, "\"");
            bwrite_escaped_string(s, b, static_cast<int64_t>(n));
            bappend_str(b, "\"");
            return true;
        }
        default:
            return false;
    }
}

// Writes key = value for the pair on top of the stack (key at -2, value at
// -1); false when either cannot be written.
bool write_pair(lua_State *L, buffer_rec *b, bool first) {
    const int key = lua_absindex(L, -2), value = lua_absindex(L, -1);
    const int kt = lua_type(L, key), vt = lua_type(L, value);
    if (vt != LUA_TBOOLEAN && vt != LUA_TNUMBER && vt != LUA_TSTRING) return false;
    if (vt == LUA_TNUMBER && !lua_isinteger(L, value) && !std::isfinite(lua_tonumber(L, value)))
        return false;
    if (kt == LUA_TSTRING) {
        size_t n = 0;
        const char *k = lua_tolstring(L, key, &n);
        if (!first) bappend_str(b, ",");
        if (is_identifier(k, n)) {
            bwrite(k, 1, static_cast<int64_t>(n), b);
        } else {
            bappend_str(b, "[");
            write_scalar(L, key, b);
            bappend_str(b, "]");
        }
    } else if (kt == LUA_TNUMBER && lua_isinteger(L, key)) {
        if (!first) bappend_str(b, ",");
        bappend_str(b, "[");
        write_scalar(L, key, b);
        bappend_str(b, "]");
    } else {
        return false;
    }
    bappend_str(b, "=");
    write_scalar(L, value, b);
    return true;
}

// Runs protected: upvalue-free C function with (light b, value).
int stand_in_write(lua_State *L) {
    auto *b = static_cast<buffer_rec *>(lua_touserdata(L, 1));
    if (lua_type(L, 2) != LUA_TTABLE) {
        write_scalar(L, 2, b);
        return 0;
    }
    bappend_str(b, "{");
    bool first = true;
    lua_pushnil(L);
    while (lua_next(L, 2)) {
        if (write_pair(L, b, first)) first = false;
        lua_pop(L, 1);
    }
    bappend_str(b, "}");
    return 0;
}

/* ---- stand-in reader (text -> Lua value) ---- */

// A cursor over [p, end).
struct text_cursor {
    const char *p;   /* next character */
    const char *end; /* one past the last */
};

void skip_space(text_cursor &c) {
    while (c.p < c.end && (*c.p == ' ' || *c.p == '\t' || *c.p == '\n' || *c.p == '\r')) c.p++;
}

bool take(text_cursor &c, char ch) {
    skip_space(c);
    if (c.p < c.end && *c.p == ch) {
        c.p++;
        return true;
    }
    return false;
}

// Pushes the quoted string at the cursor; false with nothing pushed when
// it is not one. Escapes: \n, \ddd (decimal), and \ before any other byte.
bool read_string(lua_State *L, text_cursor &c) {
    skip_space(c);
    if (c.p >= c.end || *c.p != '"') return false;
    const char *q = c.p + 1;
    luaL_Buffer buf;
    luaL_buffinit(L, &buf);
    while (q < c.end && *q != '"') {
        char ch = *q++;
        if (ch == '\\') {
            if (q >= c.end) break;
            if (std::isdigit(static_cast<unsigned char>(*q))) {
                int v = 0;
                for (int i = 0; i < 3 && q < c.end && std::isdigit(static_cast<unsigned char>(*q)); i++)
                    v = v * 10 + (*q++ - '0');
                ch = static_cast<char>(v & 0xFF);
            } else {
                ch = *q == 'n' ? '\n' : *q;
                q++;
            }
        }
        luaL_addchar(&buf, ch);
    }
    luaL_pushresult(&buf);
    if (q >= c.end) {  // no closing quote
        lua_pop(L, 1);
        return false;
    }
    c.p = q + 1;
    return true;
}

// Pushes the scalar at the cursor; false with nothing pushed otherwise.
bool read_scalar(lua_State *L, text_cursor &c) {
    skip_space(c);
    if (c.p >= c.end) return false;
    if (*c.p == '"') return read_string(L, c);
    char tok[NUMBER_TEXT_MAX];
    size_t n = 0;
    while (c.p + n < c.end && n < sizeof tok - 1 &&
           (std::isalnum(static_cast<unsigned char>(c.p[n])) || std::strchr("+-._", c.p[n])))
        n++;
    if (n == 0) return false;
    std::memcpy(tok, c.p, n);
    tok[n] = 0;
    if (std::strcmp(tok, "true") == 0 || std::strcmp(tok, "false") == 0) {
        lua_pushboolean(L, tok[0] == 't');
    } else if (lua_stringtonumber(L, tok) == 0) {
        return false;
    }
    c.p += n;
    return true;
}

// Pushes a key written as an identifier; false with nothing pushed otherwise.
bool read_identifier(lua_State *L, text_cursor &c) {
    skip_space(c);
    const char *q = c.p;
    if (q >= c.end || !(std::isalpha(static_cast<unsigned char>(*q)) || *q == '_')) return false;
    while (q < c.end && (std::isalnum(static_cast<unsigned char>(*q)) || *q == '_')) q++;
    text_cursor after{q, c.end};
    if (!take(after, '=')) return false;
    lua_pushlstring(L, c.p, static_cast<size_t>(q - c.p));
    c.p = q;
    return true;
}

// One table entry at the cursor into the table at 'table'.
bool read_entry(lua_State *L, text_cursor &c, int table, lua_Integer &next_item) {
    if (take(c, '[')) {
        if (!read_scalar(L, c)) return false;
        if (!take(c, ']') || !take(c, '=') || !read_scalar(L, c)) {
            lua_pop(L, 1);
            return false;
        }
        lua_rawset(L, table);
        return true;
    }
    if (read_identifier(L, c)) {
        if (!take(c, '=') || !read_scalar(L, c)) {
            lua_pop(L, 1);
            return false;
        }
        lua_rawset(L, table);
        return true;
    }
    if (!read_scalar(L, c)) return false;
    lua_rawseti(L, table, next_item++);
    return true;
}

int stand_in_read(lua_State *L, const char *text, size_t len) {
    const int top = lua_gettop(L);
    text_cursor c{text, text + len};
    skip_space(c);
    if (c.p < c.end && *c.p != '{') {
        if (!read_scalar(L, c)) return 0;
        skip_space(c);
        if (c.p != c.end) {
            lua_settop(L, top);
            return 0;
        }
        return 1;
    }
    if (!take(c, '{')) return 0;
    lua_newtable(L);
    const int table = lua_gettop(L);
    lua_Integer next_item = 1;
    bool ok = true;
    if (!take(c, '}')) {
        for (;;) {
            if (!read_entry(L, c, table, next_item)) {
                ok = false;
                break;
            }
            if (take(c, '}')) break;
            if (!take(c, ',')) {
                ok = false;
                break;
            }
            if (take(c, '}')) break;  // a trailing comma
        }
    }
    skip_space(c);
    if (!ok || c.p != c.end) {
        lua_settop(L, top);
        return 0;
    }
    return 1;
}

}  // namespace

int api_pod_write(lua_State *L, int index, buffer_rec *b, int flags) {
    (void)flags;
    index = lua_absindex(L, index);
    lua_pushcfunction(L, stand_in_write);
    lua_pushlightuserdata(L, b);
    lua_pushvalue(L, index);
    return lua_pcall(L, 2, 0, 0);
}

int api_pod_read(lua_State *L, const char *text, size_t len) {
    const int64_t header = api_pod_metadata_length(text, static_cast<int64_t>(len));
    return stand_in_read(L, text + header, len - static_cast<size_t>(header));
}

int api_pod_read_metadata(lua_State *L, const char *text, size_t len) {
    const int64_t header = api_pod_metadata_length(text, static_cast<int64_t>(len));
    const char *end = header >= 9 ? static_cast<const char *>(std::memchr(text + 7, ']', header - 7)) : nullptr;
    if (end && end[1] == ']') {
        lua_pushlstring(L, "{", 1);
        lua_pushlstring(L, text + 7, static_cast<size_t>(end - (text + 7)));
        lua_pushlstring(L, "}", 1);
        lua_concat(L, 3);
        size_t n = 0;
        const char *body = lua_tolstring(L, -1, &n);
        const int ok = stand_in_read(L, body, n);
        lua_remove(L, ok ? -2 : -1);
        if (ok) return 1;
    }
    lua_newtable(L);
    return 1;
}

int64_t api_pod_metadata_length(const char *text, int64_t len) {
    if (!text || len < 7 || std::memcmp(text, "--[[pod", 7) != 0) return 0;
    for (int64_t i = 7; i + 1 < len; i++) {
        if (text[i] == ']' && text[i + 1] == ']') return i + 2 < len && text[i + 2] == '\n' ? i + 3 : i + 2;
    }
    return len;
}
