// qlua end to end: runs scripts through the built tool and checks its exit
// status, standard output and standard error.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifndef QLUA_PATH
#error "QLUA_PATH must name the qlua executable"
#endif

namespace {

struct ToolRun {
    int status = -1;   // exit status, or -1 when the tool did not exit normally
    std::string out;   // standard output
    std::string err;   // standard error
};

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string temp_path(const std::string &name) {
    return ::testing::TempDir() + "qlua_e2e_" + std::to_string(::getpid()) + "_" + name;
}

// Writes `script` to a file and runs qlua on it with `args` (already quoted).
ToolRun run_qlua(const std::string &script, const std::string &args = "") {
    std::string src = temp_path("script.lua");
    std::string out = temp_path("out.txt");
    std::string err = temp_path("err.txt");
    {
        std::ofstream f(src, std::ios::binary);
        f << script;
    }
    std::string cmd = std::string("'") + QLUA_PATH + "' '" + src + "' " + args + " >'" + out +
                      "' 2>'" + err + "'";
    int rc = std::system(cmd.c_str());
    ToolRun r;
    if (rc != -1 && WIFEXITED(rc)) r.status = WEXITSTATUS(rc);
    r.out = slurp(out);
    r.err = slurp(err);
    std::remove(src.c_str());
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

bool contains(const std::string &s, const std::string &part) {
    return s.find(part) != std::string::npos;
}

}  // namespace

TEST(Qlua, RunsAScriptAndExitsWithZero) {
    ToolRun r = run_qlua("local t = {} for i = 1, 3 do t[i] = i * i end print(t[1], t[2], t[3])\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\t4\t9\n");
    EXPECT_EQ(r.err, "");
}

TEST(Qlua, ARuntimeErrorExitsWithOneAndTheMessageOnStandardError) {
    ToolRun r = run_qlua("print('before')\nerror('boom')\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "before\n");
    EXPECT_TRUE(contains(r.err, "script.lua:2: boom")) << r.err;
    EXPECT_TRUE(contains(r.err, "stack traceback:")) << r.err;
}

TEST(Qlua, ErrorObjectsThatAreNotStringsAreDescribed) {
    ToolRun r = run_qlua("error({})\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "(error object is a table value)")) << r.err;
    r = run_qlua("error(setmetatable({}, {__tostring = function() return 'custom' end}))\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "custom")) << r.err;
}

TEST(Qlua, ASyntaxErrorExitsWithOne) {
    ToolRun r = run_qlua("x = = 1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "script.lua:1: unexpected symbol near '='")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Qlua, AMissingFileOrNoArgumentExitsWithOne) {
    std::string cmd = std::string("'") + QLUA_PATH + "' /nonexistent/file.lua 2>/dev/null";
    int rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 1);
    cmd = std::string("'") + QLUA_PATH + "' 2>/dev/null";
    rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 1);
}

TEST(Qlua, PassesArgumentsAsVarargsAndInArg) {
    ToolRun r = run_qlua("print(...) print(arg[1], arg[2], arg[3], select('#', ...))\n",
                         "one 'two words'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "one\ttwo words\none\ttwo words\tnil\t2\n");
}

TEST(Qlua, GivesTheLibrarySetAndATextOnlyLoad) {
    ToolRun r = run_qlua(
        "print(io, os, require, dofile, loadfile, xpcall, string.dump, table.sort)\n"
        "print(_VERSION, tonum('0x10'))\n"
        "print(load('return 1 + 2')())\n"
        "print(load('\\27Lua'))\n"
        "local parts, i = {'return ', '4', ' * 5'}, 0\n"
        "print(load(function() i = i + 1 return parts[i] end)())\n"
        "local env = {x = 7}\n"
        "print(load('return x', 'chunk', 't', env)())\n"
        "print(load('return +', '=named'))\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "nil\tnil\tnil\tnil\tnil\tnil\tnil\tnil\n"
              "Lua 5.4\t16\n"
              "3\n"
              "nil\tattempt to load a binary chunk (mode is 'bt')\n"
              "20\n"
              "7\n"
              "nil\tnamed:1: unexpected symbol near '+'\n");
}

TEST(Qlua, LongRunningScriptsCompleteAcrossManyBudgetYields) {
    // about 20 frames of cycles: the budget is refilled at every yield
    ToolRun r = run_qlua(
        "local x = 0\n"
        "for i = 1, 2000000 do x = x + i end\n"
        "local co = coroutine.wrap(function() for i = 1, 3 do coroutine.yield(i) end end)\n"
        "print(x, co(), co(), co())\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2000001000000\t1\t2\t3\n");
}

TEST(Qlua, AnErrorOutsideProtectedCodeIsLoggedAndExitsWithOne) {
    // the error object's __tostring raises while the tool reports the error,
    // outside any protected call: the panic handler takes over
    ToolRun r = run_qlua("error(setmetatable({}, {__tostring = function() error('inner') end}))\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "PANIC: unprotected error in call to Lua API (")) << r.err;
    EXPECT_TRUE(contains(r.err, "script.lua:1: inner")) << r.err;
}

TEST(Qlua, IsBuiltDirectlyInTheToolsFolder) {
    // scripts and the benchmarks call it as <build>/tools/qlua
    std::string path = QLUA_PATH;
    EXPECT_TRUE(path.size() > 11 && path.compare(path.size() - 11, 11, "/tools/qlua") == 0) << path;
}
