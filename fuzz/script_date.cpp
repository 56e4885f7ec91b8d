// date with random formats, date texts and offsets: the result is a string
// whose every conversion took at most 250 bytes, a table, or one of the
// errors date names; nothing else may happen.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api_functions.h"
#include "script_call.h"

namespace {

inline constexpr size_t CONVERSION_SPACE = 250;

const char *const kErrors[] = {
    "invalid conversion specifier '%",
    "date text shorter than 19 characters",
    "time result cannot be represented in this installation",
    "date result cannot be represented in this installation",
    "number has no integer representation",
    "number expected, got",
    "string expected, got",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    lua_State *L = script_call::begin();
    const size_t flen = std::min<size_t>(data[1], size - 4);
    const std::string format(reinterpret_cast<const char *>(data) + 4, flen);
    const std::string rest(reinterpret_cast<const char *>(data) + 4 + flen, size - 4 - flen);

    lua_pushcfunction(L, lua54_date);
    if (data[0] & 1) lua_pushlstring(L, format.data(), format.size());
    else lua_pushnil(L);
    switch ((data[0] >> 1) & 3) {
        case 0: lua_pushnil(L); break;
        case 1: lua_pushlstring(L, rest.data(), rest.size()); break;
        case 2: {
            int64_t when = 0;
            std::memcpy(&when, rest.data(), std::min<size_t>(rest.size(), 8));
            lua_pushinteger(L, when);
            break;
        }
        default: lua_pushnumber(L, static_cast<double>(static_cast<int8_t>(data[2])) * 0.75); break;
    }
    if (data[0] & 8) lua_pushinteger(L, static_cast<lua_Integer>(static_cast<int8_t>(data[3])) << (data[2] & 63));
    else lua_pushnil(L);

    if (lua_pcall(L, 3, 1, 0) != LUA_OK) {
        const char *message = lua_tostring(L, -1);
        bool listed = false;
        for (const char *e : kErrors) listed |= message && std::strstr(message, e) != nullptr;
        if (!listed) {
            std::fprintf(stderr, "date raised: %s\n", message ? message : "(not a string)");
            std::abort();
        }
        return 0;
    }
    if (lua_type(L, -1) == LUA_TTABLE) return 0;
    if (lua_type(L, -1) != LUA_TSTRING) std::abort();
    size_t len = 0;
    lua_tolstring(L, -1, &len);
    const std::string used = data[0] & 1 ? format : std::string("!%Y-%m-%d %H:%M:%S");
    const size_t conversions = std::count(used.begin(), used.end(), '%');
    const size_t limit = used.size() + conversions * CONVERSION_SPACE;
    if (len > limit) {
        std::fprintf(stderr, "date gave %zu bytes for a format of %zu\n", len, format.size());
        std::abort();
    }
    return 0;
}
