// The three integer readings of arguments and the string reading, over the
// values a script can pass.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "api_args.h"
#include "lua.hpp"

namespace {

constexpr int64_t kDefault = -99;

// A bare state with the value of the Lua expression 'expr' at index 1
// ("none" leaves the stack empty).
lua_State *state_with(const std::string &expr) {
    lua_State *L = luaL_newstate();
    if (expr != "none") {
        EXPECT_EQ(luaL_dostring(L, ("return " + expr).c_str()), LUA_OK) << expr;
        lua_settop(L, 1);
    }
    return L;
}

}  // namespace

TEST(IntegerReadings, EachReadingOverTheValuesAScriptCanPass) {
    struct Case {
        const char *expr;
        int64_t intp;       // kiv_intp: floored, else the default
        int32_t truncated;  // truncated toward zero to 32 bits, else the default
        int64_t integer;    // exact integers only, else 0
    } cases[] = {
        {"7", 7, 7, 7},
        {"-2.7", -3, -2, 0},
        {"'3.5'", 3, 3, 0},
        {"'0x10'", 16, 16, 16},
        {"'abc'", kDefault, kDefault, 0},
        {"nil", kDefault, kDefault, 0},
        {"none", kDefault, kDefault, 0},
        {"true", kDefault, kDefault, 0},
        {"{}", kDefault, kDefault, 0},
        {"0/0", INT64_MIN, 0, 0},
        {"1/0", INT64_MIN, INT32_MAX, 0},
        {"-1/0", INT64_MIN, INT32_MIN, 0},
        {"2^63", INT64_MIN, INT32_MAX, 0},
        {"7.0", 7, 7, 7},
        {"-2^31 - 1", -2147483649LL, INT32_MIN, -2147483649LL},
        {"9223372036854775807", INT64_MAX, INT32_MAX, INT64_MAX},
    };
    for (const Case &c : cases) {
        lua_State *L = state_with(c.expr);
        const int top = lua_gettop(L);
        EXPECT_EQ(kiv_intp(L, 1, kDefault), c.intp) << c.expr;
        EXPECT_EQ(api_truncated(L, 1, static_cast<int32_t>(kDefault)), c.truncated) << c.expr;
        EXPECT_EQ(api_integer(L, 1), c.integer) << c.expr;
        EXPECT_EQ(lua_gettop(L), top) << c.expr << ": a reading changed the stack";
        lua_close(L);
    }
}

TEST(StringReading, StringsAndNumbersGiveTextOtherValuesNone) {
    struct Case {
        const char *expr;
        const char *want;  // null: no text
    } cases[] = {
        {"'abc'", "abc"}, {"12", "12"}, {"1.5", "1.5"}, {"''", ""},
        {"{}", nullptr},  {"true", nullptr}, {"nil", nullptr}, {"none", nullptr},
    };
    for (const Case &c : cases) {
        lua_State *L = state_with(c.expr);
        size_t len = 77;
        const char *s = api_string(L, 1, &len);
        if (c.want) {
            ASSERT_NE(s, nullptr) << c.expr;
            EXPECT_STREQ(s, c.want) << c.expr;
            EXPECT_EQ(len, std::string(c.want).size()) << c.expr;
        } else {
            EXPECT_EQ(s, nullptr) << c.expr;
            EXPECT_EQ(len, 0u) << c.expr;
        }
        lua_close(L);
    }
}
