// The library set of a fresh state: which libraries and functions exist, and
// which of the standard ones are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lua_harness.h"

namespace {

// The names, sorted, one per line.
std::string lines(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    std::string s;
    for (size_t i = 0; i < names.size(); i++) s += (i ? "\n" : "") + names[i];
    return s;
}

// The keys of the table that `expr` evaluates to, sorted, one per line.
std::string sorted_keys(LuaHarness &h, const std::string &expr) {
    lua_State *L = h.L();
    std::string err = h.compile("return " + expr);
    if (!err.empty()) return err;
    if (lua_pcall(L, 0, 1, 0) != LUA_OK || !lua_istable(L, -1)) {
        std::string what = lua_tostring(L, -1) ? lua_tostring(L, -1) : "not a table";
        lua_pop(L, 1);
        return what;
    }
    std::vector<std::string> keys;
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        lua_pop(L, 1);
        keys.push_back(lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "<non-string key>");
    }
    lua_pop(L, 1);
    return lines(keys);
}

struct LibraryCase {
    const char *expr;                 // Lua expression giving the library table
    std::vector<std::string> names;   // every key it must hold, no more
};

const LibraryCase kLibraries[] = {
    {"_G",
     {"assert", "collectgarbage", "error", "getmetatable", "ipairs", "next", "pairs", "pcall",
      "print", "warn", "rawequal", "rawlen", "rawget", "rawset", "select", "setmetatable",
      "tonumber", "tonum", "tostring", "type", "_G", "_VERSION", "coroutine", "table", "string",
      "math", "utf8", "debug"}},
    {"string",
     {"byte", "char", "find", "format", "gmatch", "gsub", "len", "lower", "match", "rep",
      "reverse", "sub", "upper", "pack", "packsize", "unpack"}},
    {"table", {"concat", "insert", "pack", "unpack", "remove", "move"}},
    {"coroutine",
     {"create", "resume", "running", "status", "wrap", "yield", "isyieldable", "close"}},
    {"math",
     {"abs", "acos", "asin", "atan", "ceil", "cos", "deg", "exp", "tointeger", "floor", "fmod",
      "ult", "log", "max", "min", "modf", "rad", "sin", "sqrt", "tan", "type", "random",
      "randomseed", "pi", "huge", "maxinteger", "mininteger"}},
    {"debug",
     {"debug", "getuservalue", "gethook", "getinfo", "getlocal", "getregistry", "getmetatable",
      "getupvalue", "upvaluejoin", "upvalueid", "setuservalue", "sethook", "setlocal",
      "setmetatable", "setupvalue", "traceback"}},
    {"utf8", {"char", "charpattern", "codepoint", "codes", "len", "offset"}},
    // luaL_requiref records each opened library; nothing else is there
    {"debug.getregistry()._LOADED",
     {"_G", "coroutine", "table", "string", "math", "utf8", "debug"}},
};

}  // namespace

TEST(LibrarySet, EachLibraryHoldsExactlyItsListedNames) {
    for (const LibraryCase &c : kLibraries) {
        LuaHarness h;
        EXPECT_EQ(sorted_keys(h, c.expr), lines(c.names)) << "library " << c.expr;
    }
}

TEST(LibrarySet, LoadersModulesAndHostLibrariesAreAbsent) {
    const char *absent[] = {"load",       "dofile",      "loadfile",
                            "require",    "io",          "os",
                            "package",    "xpcall",      "string.dump",
                            "table.sort", "loadstring",  "unpack",
                            "debug.setcstacklimit"};
    for (const char *name : absent) {
        LuaHarness h;
        RunResult r = h.run(std::string("print(") + name + " == nil)");
        ASSERT_EQ(r.status, LUA_OK) << name << ": " << r.error;
        EXPECT_EQ(r.output, "true\n") << name;
    }
}

TEST(LibrarySet, VersionIsLua54) {
    LuaHarness h;
    RunResult r = h.run("print(_VERSION)");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "Lua 5.4\n");
}

TEST(LibrarySet, StringsIndexTheStringLibrary) {
    LuaHarness h;
    RunResult r = h.run("local s = 'abc' print(s:upper(), ('x'):rep(3), s:len())");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "ABC\txxx\t3\n");
}

TEST(LibrarySet, PcallStillCatchesErrorsWithoutXpcall) {
    LuaHarness h;
    RunResult r = h.run("print(pcall(error, 'x', 0)) print(pcall(function(a, b) return a + b end, 2, 3))");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "false\tx\ntrue\t5\n");
}
