// The scripting core builds, opens its libraries and runs a script.
#include <gtest/gtest.h>

#include "lua_harness.h"

TEST(LuaSmoke, RunsAScriptAndCapturesPrint) {
    LuaHarness h;
    RunResult r = h.run("local t = {} for i = 1, 3 do t[i] = i * i end print(t[1], t[2], t[3])");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "1\t4\t9\n");
}

TEST(LuaSmoke, ReportsRuntimeErrors) {
    LuaHarness h;
    RunResult r = h.run("local x = nil; return x.y");
    EXPECT_EQ(r.status, LUA_ERRRUN);
    EXPECT_NE(r.error.find("attempt to index a nil value"), std::string::npos);
}
