// The integer reading of Lua arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}

#include "intp.h"

namespace {

constexpr int64_t kDefault = -99;

// kiv_intp of one pushed value, checking that the stack is left alone.
int64_t read_pushed(const std::function<void(lua_State *)> &push) {
    lua_State *L = luaL_newstate();
    push(L);
    const int top = lua_gettop(L);
    const int64_t v = kiv_intp(L, 1, kDefault);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_EQ(lua_type(L, 1), top ? lua_type(L, 1) : LUA_TNONE);
    lua_close(L);
    return v;
}

}  // namespace

TEST(KivIntp, ReadsIntegersNumbersAndNumericStrings) {
    struct Case { const char *what; std::function<void(lua_State *)> push; int64_t want; };
    const Case cases[] = {
        {"7", [](lua_State *L) { lua_pushinteger(L, 7); }, 7},
        {"7.9", [](lua_State *L) { lua_pushnumber(L, 7.9); }, 7},
        {"-7.5", [](lua_State *L) { lua_pushnumber(L, -7.5); }, -8},
        {"-0.5", [](lua_State *L) { lua_pushnumber(L, -0.5); }, -1},
        {"7.0", [](lua_State *L) { lua_pushnumber(L, 7.0); }, 7},
        {"maxinteger", [](lua_State *L) { lua_pushinteger(L, LUA_MAXINTEGER); }, INT64_MAX},
        {"mininteger", [](lua_State *L) { lua_pushinteger(L, LUA_MININTEGER); }, INT64_MIN},
        {"-2^63 as a float", [](lua_State *L) { lua_pushnumber(L, -0x1p63); }, INT64_MIN},
        {"\"12\"", [](lua_State *L) { lua_pushstring(L, "12"); }, 12},
        {"\"0x10\"", [](lua_State *L) { lua_pushstring(L, "0x10"); }, 16},
        {"\" -2.5 \"", [](lua_State *L) { lua_pushstring(L, " -2.5 "); }, -3},
        {"\"9007199254740993\"", [](lua_State *L) { lua_pushstring(L, "9007199254740993"); },
         9007199254740993LL},
    };
    for (const auto &c : cases) EXPECT_EQ(read_pushed(c.push), c.want) << c.what;
}

TEST(KivIntp, NaNInfinitiesAndOutOfRangeValuesGiveTheLowestInteger) {
    struct Case { const char *what; std::function<void(lua_State *)> push; };
    const Case cases[] = {
        {"NaN", [](lua_State *L) { lua_pushnumber(L, std::nan("")); }},
        {"inf", [](lua_State *L) { lua_pushnumber(L, HUGE_VAL); }},
        {"-inf", [](lua_State *L) { lua_pushnumber(L, -HUGE_VAL); }},
        {"1e300", [](lua_State *L) { lua_pushnumber(L, 1e300); }},
        {"-1e300", [](lua_State *L) { lua_pushnumber(L, -1e300); }},
        {"2^63", [](lua_State *L) { lua_pushnumber(L, 0x1p63); }},
        {"\"1e300\"", [](lua_State *L) { lua_pushstring(L, "1e300"); }},
    };
    for (const auto &c : cases) EXPECT_EQ(read_pushed(c.push), INT64_MIN) << c.what;
}

TEST(KivIntp, AnythingElseGivesTheDefault) {
    struct Case { const char *what; std::function<void(lua_State *)> push; };
    const Case cases[] = {
        {"absent", [](lua_State *) {}},
        {"nil", [](lua_State *L) { lua_pushnil(L); }},
        {"true", [](lua_State *L) { lua_pushboolean(L, 1); }},
        {"{}", [](lua_State *L) { lua_newtable(L); }},
        {"\"abc\"", [](lua_State *L) { lua_pushstring(L, "abc"); }},
        {"\"\"", [](lua_State *L) { lua_pushstring(L, ""); }},
        {"a function", [](lua_State *L) { lua_pushcfunction(L, [](lua_State *) { return 0; }); }},
        {"userdata", [](lua_State *L) { lua_newuserdatauv(L, 8, 0); }},
    };
    for (const auto &c : cases) EXPECT_EQ(read_pushed(c.push), kDefault) << c.what;
}

TEST(KivIntp, ReadsBinaryNumeralStrings) {
    EXPECT_EQ(read_pushed([](lua_State *L) { lua_pushstring(L, "0b101"); }), 5);
}
