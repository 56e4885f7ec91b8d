// split against a plain reference written here: random texts cut by a
// separator set, by an empty separator, or by a width, with and without
// conversion; every entry must agree in type and value, and the charge must
// be the text's length and little more.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api_functions.h"
#include "script_call.h"
#include "vm_hooks.h"

namespace {

struct entry {
    int type;         // LUA_TSTRING or LUA_TNUMBER
    bool is_integer;  // for numbers
    std::string text; // strings
    lua_Integer i;
    lua_Number f;
};

// The entry a piece becomes: with 'convert', a piece without zero bytes that
// the language reads whole as a numeral becomes that number.
entry piece(lua_State *L, const std::string &s, bool convert) {
    entry e{LUA_TSTRING, false, s, 0, 0};
    if (convert && !s.empty() && s.find('\0') == std::string::npos &&
        lua_stringtonumber(L, s.c_str()) == s.size() + 1) {
        e.type = LUA_TNUMBER;
        e.is_integer = lua_isinteger(L, -1);
        if (e.is_integer) e.i = lua_tointeger(L, -1);
        else e.f = lua_tonumber(L, -1);
        lua_pop(L, 1);
    }
    return e;
}

std::vector<entry> reference(lua_State *L, const std::string &s, int kind, const std::string &sep,
                             int64_t width, bool convert) {
    std::vector<entry> out;
    if (kind == 0) {  // width
        if (width > static_cast<int64_t>(s.size())) width = static_cast<int64_t>(s.size());
        if (width < 2) width = 1;
        for (size_t at = 0; at < s.size(); at += static_cast<size_t>(width))
            out.push_back(piece(L, s.substr(at, static_cast<size_t>(width)), convert));
    } else if (sep.empty()) {
        for (char c : s) {
            entry e{LUA_TSTRING, false, std::string(1, c), 0, 0};
            if (convert && c >= '0' && c <= '9') e = entry{LUA_TNUMBER, true, "", c - '0', 0};
            out.push_back(e);
        }
    } else {
        std::string field;
        for (char c : s) {
            if (sep.find(c) != std::string::npos) {
                out.push_back(piece(L, field, convert));
                field.clear();
            } else {
                field += c;
            }
        }
        out.push_back(piece(L, field, convert));
    }
    return out;
}

[[noreturn]] void fail(const char *what, size_t k) {
    std::fprintf(stderr, "split: %s at entry %zu\n", what, k);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    lua_State *L = script_call::begin();
    const int kind = data[0] % 3;  // 0 width, 1 separator set, 2 empty separator
    const bool convert = data[0] & 4;
    const size_t seplen = kind == 1 ? 1 + data[1] % 4 : 0;
    if (size < 3 + seplen) return 0;
    const std::string sep(reinterpret_cast<const char *>(data) + 3, seplen);
    const std::string text(reinterpret_cast<const char *>(data) + 3 + seplen, size - 3 - seplen);
    const int64_t width = static_cast<int8_t>(data[2]);

    lua_pushcfunction(L, lua54_split);
    lua_pushlstring(L, text.data(), text.size());
    if (kind == 0) lua_pushinteger(L, width);
    else lua_pushlstring(L, sep.data(), sep.size());
    lua_pushboolean(L, convert);
    lua_gc(L, LUA_GCSTOP);  // the collector's steps, charged to whichever call allocates, wait
    cpu_cycles = 0;
    if (lua_pcall(L, 3, 1, 0) != LUA_OK) fail("raised", 0);
    const uint64_t charged = static_cast<uint64_t>(cpu_cycles);
    lua_gc(L, LUA_GCRESTART);
    const std::vector<entry> want = reference(L, text, kind, sep, width, convert);
    // The text's length, and besides it at most the table's growth.
    const uint64_t least = text.empty() ? 1 : text.size();
    if (charged < least || charged > 3 * least + 64) fail("charge", 0);
    if (lua_rawlen(L, 1) != want.size()) fail("count", want.size());
    for (size_t k = 0; k < want.size(); k++) {
        const int type = lua_rawgeti(L, 1, static_cast<lua_Integer>(k + 1));
        const entry &e = want[k];
        if (type != e.type) fail("type", k);
        if (type == LUA_TSTRING) {
            size_t len = 0;
            const char *s = lua_tolstring(L, -1, &len);
            if (std::string(s, len) != e.text) fail("text", k);
        } else if (static_cast<bool>(lua_isinteger(L, -1)) != e.is_integer) {
            fail("number kind", k);
        } else if (e.is_integer ? lua_tointeger(L, -1) != e.i
                                : !(lua_tonumber(L, -1) == e.f || (e.f != e.f && lua_tonumber(L, -1) != lua_tonumber(L, -1)))) {
            fail("number", k);
        }
        lua_pop(L, 1);
    }
    return 0;
}
