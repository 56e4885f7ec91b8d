// `tokenoid`: one token of Lua-like source text at a time, resumable inside
// long comments and long strings that a line leaves open.
#include <cstring>

#include "api_args.h"
#include "api_functions.h"
#include "api_tokenoid.h"
#include "intp.h"
#include "lua.hpp"
#include "saturate.h"
#include "vm_hooks.h"

namespace {

inline constexpr int CAT_BLANKS = 0;
inline constexpr int CAT_WORD = 1;
inline constexpr int CAT_NUMBER = 2;
inline constexpr int CAT_COMMENT = 3;
inline constexpr int CAT_STRING = 4;
inline constexpr int CAT_OTHER = 5;

/* Identifier characters: 0x1E, 0x1F, 'A'-'Z', '_', 'a'-'z' and 0x80-0xFF. */
constexpr bool identifier_byte(unsigned c) {
    return c == 0x1E || c == 0x1F || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') ||
           c >= 0x80;
}

struct alpha_table {
    bool v[256];
    constexpr alpha_table() : v() {
        for (unsigned c = 0; c < 256; c++) v[c] = identifier_byte(c);
    }
};
constexpr alpha_table is_alpha_dat;

bool is_identifier_char(int c) { return c >= 0 && c <= 255 && is_alpha_dat.v[c]; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_alphanumeric_char(int c) { return is_identifier_char(c) || is_digit(c); }
bool is_whitespace_char(int c) { return c == ' ' || c == '\t'; }

/* Whether byte c continues a number token of which n bytes are taken. */
bool is_number_char(int c, size_t n) {
    if (is_digit(c)) return true;
    if (c == '.') return n >= 1;
    if (c == 'b' || c == 'x') return n == 1 || (c == 'b' && n >= 2);
    return c >= 'a' && c <= 'f' && n >= 2;
}

/* The level of the opening long bracket at s[at] ('[', 0-60 '=', '['), or
   -1 when there is none before 'end'. '*after' receives the offset past it. */
int64_t opening_level(const unsigned char *s, size_t at, size_t end, size_t *after) {
    if (at >= end || s[at] != '[') return -1;
    size_t j = at + 1;
    while (j < end && s[j] == '=') j++;  // a NUL is no '=' and no '['

    const size_t level = j - at - 1;
    if (j >= end || s[j] != '[' || level > TOKENOID_MAX_LEVEL) return -1;
    *after = j + 1;
    return static_cast<int64_t>(level);
}

/* Looks for the closing bracket of 'level' (']', level '=', ']') from 'at'
   up to 'end' or a NUL. Returns the offset past it, or with '*found' false
   the offset of the NUL or 'end'. */
size_t find_multiline_end(const unsigned char *s, size_t at, size_t end, int64_t level, bool *found) {
    size_t p = at;
    while (p < end) {
        if (s[p] != ']') {
            if (s[p] == '\0') break;  // the text ends here
            p++;
            continue;
        }
        size_t j = p + 1;
        while (j < end && s[j] == '=') j++;
        if (static_cast<int64_t>(j - p - 1) == level && j < end && s[j] == ']') {
            *found = true;
            return j + 1;
        }
        p = j;  // the '=' run holds no ']'
    }
    *found = false;
    return p;
}

/* The start position: (pos - 1) truncated toward zero; pos defaults to 1. */
int64_t start_index(lua_State *L) {
    int ok = 0;
    const lua_Integer pos = lua_tointegerx(L, 2, &ok);  // integral values, exactly
    if (ok) return pos == LUA_MININTEGER ? LUA_MININTEGER : pos - 1;
    const lua_Number v = lua_tonumberx(L, 2, &ok);
    return ok ? saturate_double_to_i64(v - 1.0) : 0;
}

/* The state argument: kiv_intp (default 0) with its first reading inline. */
int64_t state_arg(lua_State *L) {
    int ok = 0;
    const lua_Integer v = lua_tointegerx(L, 3, &ok);
    return ok ? v : kiv_intp(L, 3, 0);
}

}  // namespace

int lua54_tokenoid(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    if (!text) return 0;
    const int64_t i = start_index(L);
    if (i < 0 || static_cast<uint64_t>(i) >= len) return 0;
    const int64_t state = state_arg(L);
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    const size_t start = static_cast<size_t>(i);
    // The text ends at its first NUL from the start on: every run below
    // stops at a NUL or at the length, without looking further.
    const size_t limit = len;
    size_t end = start + 1;
    int64_t category = CAT_OTHER;
    int64_t open_state = 0;  // returned when not 0
    const bool resuming = (state & TOKENOID_OPEN_MASK) != 0;

    if (s[start] == '\0') {
        // A NUL at the start is a token of its own; an open construct stays open.
        if (resuming) {
            category = state >> 8;
            open_state = state;
        }
    } else if (resuming) {
        category = state >> 8;
        bool found = false;
        end = find_multiline_end(s, start, limit, state & 0xFF, &found);
        if (!found) open_state = state;
    } else {
        const unsigned c = s[start];
        size_t after = 0;
        int64_t level = -1;
        if (is_whitespace_char(static_cast<int>(c))) {
            category = CAT_BLANKS;
            while (end < limit && is_whitespace_char(s[end])) end++;  // a NUL is none of these
        } else if (c == '[' && (level = opening_level(s, start, limit, &after)) >= 0) {
            category = CAT_STRING;
            bool found = false;
            end = find_multiline_end(s, after, limit, level, &found);
            if (!found) open_state = TOKENOID_LONG_STRING + level;
        } else if (is_identifier_char(static_cast<int>(c))) {
            category = CAT_WORD;
            while (end < limit && is_alphanumeric_char(s[end])) end++;
        } else if (is_digit(static_cast<int>(c))) {
            category = CAT_NUMBER;
            while (end < limit && is_number_char(s[end], end - start)) end++;
        } else if (c == '"') {
            category = CAT_STRING;
            while (end < limit && s[end] != '"' && s[end] != '\0') {
                if (s[end] == '\\' && end + 1 < limit && (s[end + 1] == '\\' || s[end + 1] == '"'))
                    end += 2;
                else end++;
            }
            if (end < limit && s[end] == '"') end++;  // the closing quote
        } else if (c == '-' && start + 1 < limit && s[start + 1] == '-') {
            category = CAT_COMMENT;
            if ((level = opening_level(s, start + 2, limit, &after)) >= 0) {
                bool found = false;
                end = find_multiline_end(s, after, limit, level, &found);
                if (!found) open_state = TOKENOID_LONG_COMMENT + level;
            } else {
                end = start + 2;
                while (end < limit && s[end] != '\n' && s[end] != '\0') end++;
            }
        }
    }

    spend_cpu(static_cast<int32_t>(end - start > INT32_MAX ? INT32_MAX : end - start));
    lua_pushlstring(L, text + start, end - start);
    lua_pushinteger(L, static_cast<lua_Integer>(end) + 1);
    lua_pushinteger(L, category);
    if (!open_state) return 3;
    lua_pushinteger(L, open_state);
    return 4;
}
