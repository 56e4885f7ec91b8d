// String functions: `chr`, `ord`, `split`, `_md5` and `_strindex`.
#include <md5.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "api_args.h"
#include "api_functions.h"
#include "host_call.h"
#include "intp.h"
#include "lua.hpp"
#include "saturate.h"
#include "vm_hooks.h"

namespace {

inline constexpr int64_t MAX_ORD_VALUES = 65536;
inline constexpr int CHR_STACK_BYTES = 64;       /* codes gathered without a Lua buffer */
inline constexpr size_t NUMERAL_STACK_BYTES = 128; /* fields converted from a stack copy */
inline constexpr const char *DEFAULT_SEPARATOR = ",";

void charge_length(size_t n) { spend_cpu(n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n)); }

/* A position or count argument: numbers and numeric strings truncated
   toward zero, saturating; anything else 0. */
int64_t truncated64(lua_State *L, int index) {
    int ok = 0;
    const lua_Integer i = lua_tointegerx(L, index, &ok);  // integral values, exactly
    if (ok) return i;
    const lua_Number v = lua_tonumberx(L, index, &ok);
    return ok ? saturate_double_to_i64(v) : 0;
}

/* kiv_intp (default 0) with its first reading inline: one call for the
   common integer argument. */
inline int64_t code_arg(lua_State *L, int index) {
    int ok = 0;
    const lua_Integer i = lua_tointegerx(L, index, &ok);
    return ok ? i : kiv_intp(L, index, 0);
}

/* A table size for n entries, as lua_createtable takes it. */
int entries_hint(size_t n) { return static_cast<int>(std::min<size_t>(n, INT_MAX)); }

/* Whether the 'len' bytes at 's' may be a numeral: after blanks, a digit, a
   sign or a point comes first in every text the numeral reader accepts. */
bool may_be_numeral(const char *s, size_t len) {
    size_t i = 0;
    while (i < len && std::strchr(" \t\n\v\f\r", s[i]) && s[i]) i++;
    return i < len && ((s[i] >= '0' && s[i] <= '9') || s[i] == '+' || s[i] == '-' || s[i] == '.');
}

/* Pushes the 'len' bytes at 's' as an entry value: with 'convert', a text
   the language reads whole as a numeral becomes that number. Texts holding a
   NUL stay texts (the numeral reader would stop at the NUL). */
void push_field(lua_State *L, const char *s, size_t len, bool convert) {
    if (convert && may_be_numeral(s, len) && !std::memchr(s, 0, len)) {
        if (len < NUMERAL_STACK_BYTES) {
            char text[NUMERAL_STACK_BYTES];
            std::memcpy(text, s, len);
            text[len] = '\0';
            if (lua_stringtonumber(L, text) == len + 1) return;
        } else {
            lua_pushlstring(L, s, len);
            if (lua_stringtonumber(L, lua_tostring(L, -1)) == len + 1) {
                lua_remove(L, -2);
                return;
            }
            return;
        }
    }
    lua_pushlstring(L, s, len);
}

/* Pushes the table of the single bytes of s, digits as integers with
   'convert'. The string of each distinct byte is made first and kept on the
   stack below the table; the table is made at its final size, so filling
   it allocates nothing and cannot raise, and the collector waits meanwhile
   (its steps would go over the growing table again and again). */
void push_bytes(lua_State *L, const char *s, size_t len, bool convert) {
    const int base = lua_gettop(L);
    if (!lua_checkstack(L, 256 + 2)) luaL_error(L, "stack overflow");
    bool used[256] = {};
    for (size_t at = 0; at < len; at++) used[static_cast<unsigned char>(s[at])] = true;
    for (int c = 0; c < 256; c++) {  // base + 1 + byte: its string
        const char byte = static_cast<char>(c);
        if (used[c]) lua_pushlstring(L, &byte, 1);
        else lua_pushnil(L);
    }
    lua_createtable(L, entries_hint(len), 0);
    const int t = lua_gettop(L);
    const int took = host_gc_hold(L);
    for (size_t at = 0; at < len; at++) {
        const unsigned char c = static_cast<unsigned char>(s[at]);
        if (convert && c >= '0' && c <= '9') lua_pushinteger(L, c - '0');
        else lua_pushvalue(L, base + 1 + c);
        lua_rawseti(L, t, static_cast<lua_Integer>(at + 1));
    }
    host_gc_release(L, took);
    lua_replace(L, base + 1);
    lua_settop(L, base + 1);
}

}  // namespace

int lua54_chr(lua_State *L) {
    const int n = lua_gettop(L);
    spend_cpu(n);
    if (n <= CHR_STACK_BYTES) {
        char bytes[CHR_STACK_BYTES];
        for (int i = 0; i < n; i++) bytes[i] = static_cast<char>(code_arg(L, i + 1));
        lua_pushlstring(L, bytes, static_cast<size_t>(n));
        return 1;
    }
    luaL_Buffer b;
    char *out = luaL_buffinitsize(L, &b, static_cast<size_t>(n));
    for (int i = 0; i < n; i++) out[i] = static_cast<char>(code_arg(L, i + 1));
    luaL_pushresultsize(&b, static_cast<size_t>(n));
    return 1;
}

int lua54_ord(lua_State *L) {
    const int top = lua_gettop(L);
    size_t len = 0;
    const char *s = top >= 1 ? api_string(L, 1, &len) : nullptr;
    if (!s) len = 0;
    const int64_t i = top >= 2 ? truncated64(L, 2) : 1;
    const int64_t n = top >= 3 ? truncated64(L, 3) : 1;
    if (n < 1 || n > MAX_ORD_VALUES) return 0;
    spend_cpu(static_cast<int32_t>(n));
    if (!lua_checkstack(L, static_cast<int>(n))) return 0;
    // Positions i .. i + n - 1: nils before the string, its bytes, nils after.
    // i may lie anywhere in 64 bits; the differences are taken in 128.
    const __int128 first = i, last = static_cast<__int128>(i) + n - 1;
    const __int128 lo = first < 1 ? 1 : first;
    const __int128 hi = last > static_cast<__int128>(len) ? static_cast<__int128>(len) : last;
    const int64_t before = static_cast<int64_t>(lo - first < n ? lo - first : n);
    for (int64_t k = 0; k < before; k++) lua_pushnil(L);
    int64_t pushed = before;
    if (lo <= hi) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(s);
        for (auto pos = static_cast<int64_t>(lo); pos <= static_cast<int64_t>(hi); pos++)
            lua_pushinteger(L, bytes[pos - 1]);
        pushed += static_cast<int64_t>(hi - lo + 1);
    }
    for (; pushed < n; pushed++) lua_pushnil(L);
    return static_cast<int>(n);
}

int lua54_split(lua_State *L) {
    const int top = lua_gettop(L);
    size_t len = 0;
    const char *s = api_string(L, 1, &len);
    if (!s) return 0;
    charge_length(len);
    const bool convert = top >= 3 ? lua_toboolean(L, 3) : true;
    lua_Integer k = 0;

    if (lua_type(L, 2) == LUA_TNUMBER) {
        int64_t width = kiv_intp(L, 2, 0);
        if (width > static_cast<int64_t>(len)) width = static_cast<int64_t>(len);
        if (width < 2) {
            push_bytes(L, s, len, convert);
            return 1;
        }
        // The table is made at its final size: a megabyte split by two
        // bytes would otherwise grow it twenty times.
        lua_createtable(L, entries_hint((len + static_cast<size_t>(width) - 1) / static_cast<size_t>(width)), 0);
        const int t = lua_gettop(L);
        for (size_t at = 0; at < len; at += static_cast<size_t>(width)) {
            const size_t chunk = len - at < static_cast<size_t>(width) ? len - at : static_cast<size_t>(width);
            push_field(L, s + at, chunk, convert);
            lua_rawseti(L, t, ++k);
        }
        return 1;
    }

    size_t seplen = 1;
    const char *sep = DEFAULT_SEPARATOR;
    if (lua_type(L, 2) == LUA_TSTRING) sep = lua_tolstring(L, 2, &seplen);
    if (seplen == 0) {
        push_bytes(L, s, len, convert);
        return 1;
    }
    lua_createtable(L, 0, 0);
    const int t = lua_gettop(L);

    size_t start = 0;
    if (seplen == 1) {  // one separator byte: memchr finds each
        const char c = sep[0];
        while (const void *hit = std::memchr(s + start, c, len - start)) {
            const size_t at = static_cast<size_t>(static_cast<const char *>(hit) - s);
            push_field(L, s + start, at - start, convert);
            lua_rawseti(L, t, ++k);
            start = at + 1;
        }
        push_field(L, s + start, len - start, convert);
        lua_rawseti(L, t, ++k);
        return 1;
    }

    // A set of single-byte separators: a table of 256 flags, each byte of
    // the set read once.
    if (seplen >= 8) charge_length(seplen / 8);
    bool is_sep[256] = {};
    for (size_t j = 0; j < seplen; j++) is_sep[static_cast<unsigned char>(sep[j])] = true;
    for (size_t at = 0; at < len; at++) {
        if (!is_sep[static_cast<unsigned char>(s[at])]) continue;
        push_field(L, s + start, at - start, convert);
        lua_rawseti(L, t, ++k);
        start = at + 1;
    }
    push_field(L, s + start, len - start, convert);
    lua_rawseti(L, t, ++k);
    return 1;
}

int lua54__md5(lua_State *L) {
    size_t len = 0;
    const char *s = api_string(L, 1, &len);
    if (!s) return 0;
    charge_length(len / 2);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const uint8_t *>(s), len);
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &ctx);
    static const char hex[] = "0123456789abcdef";
    char text[2 * MD5_DIGEST_LENGTH];
    for (int j = 0; j < MD5_DIGEST_LENGTH; j++) {
        text[2 * j] = hex[digest[j] >> 4];
        text[2 * j + 1] = hex[digest[j] & 15];
    }
    lua_pushlstring(L, text, sizeof text);
    return 1;
}

int lua54__strindex(lua_State *L) {
    size_t len = 0;
    const char *s = api_string(L, 1, &len);
    const int64_t i = kiv_intp(L, 2, -1);
    if (!s || i < 1 || static_cast<uint64_t>(i) > len) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushlstring(L, s + i - 1, 1);
    return 1;
}
