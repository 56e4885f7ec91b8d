// A Lua state with USERDATA and test-only globals for typed-array tests:
// t_create(type, dims, w, h, d, init) calls create_userdata directly.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "lua_harness.h"
#include "typed_ud.h"

class UdTest : public ::testing::Test {
  protected:
    UdTest();

    lua_State *L() const { return h_.L(); }

    // Runs a chunk in a new thread; "" on success, else the error message.
    std::string run(const std::string &code);

    // Runs a chunk that must succeed.
    void exec(const std::string &code);

    // What print(<expr>) writes, without the line break; "error: <message>"
    // when evaluating raises.
    std::string eval(const std::string &expr);

    // Cycles charged by calling USERDATA[method] with the values of the Lua
    // expression list 'args' (evaluated beforehand, so only the call counts).
    int32_t charge(const std::string &method, const std::string &args);

    LuaHarness h_;
};
