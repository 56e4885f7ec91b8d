// Compound assignment: each operator on each kind of target, evaluation
// order, const targets, and the hidden locals that hold table and key.
#include <gtest/gtest.h>

#include <string>

#include "lua_harness.h"
#include "lua_internals.h"

namespace {

struct OpCase {
    const char *op;
    const char *rhs;
    const char *result;  // tostring of 7 <op> rhs
};

const OpCase kOps[] = {
    {"+=", "2", "9"},      {"-=", "2", "5"},     {"*=", "2", "14"},     {"/=", "2", "3.5"},
    {"%=", "4", "3"},      {"^=", "2", "49.0"},  {"\\=", "2", "3"},     {"&=", "3", "3"},
    {"|=", "8", "15"},     {"^^=", "5", "2"},    {"<<=", "2", "28"},    {">>=", "1", "3"},
    {"..=", "'a'", "7a"},
};

// Each target form, written around "%s" (the compound statement) so that the
// target holds 7 before and is printed after.
const char *const kTargets[] = {
    "local x = 7 x %s print(x)",
    "x = 7 x %s print(x)",
    "local x = 7 local function f() x %s end f() print(x)",
    "local t = {x = 7} t.x %s print(t.x)",
    "local t = {7} local i = 1 t[i] %s print(t[1])",
    "local t = {{a = {7}}} t[1].a[1] %s print(t[1].a[1])",
    "t = {x = 7} t.x %s print(t.x)",
};

std::string fill(const char *pattern, const std::string &stmt) {
    std::string s = pattern;
    return s.replace(s.find("%s"), 2, stmt);
}

}  // namespace

TEST(LuaCompound, EveryOperatorOnEveryKindOfTarget) {
    for (const char *target : kTargets) {
        for (const OpCase &c : kOps) {
            std::string src = fill(target, std::string(c.op) + " " + c.rhs);
            LuaHarness h;
            RunResult r = h.run(src);
            ASSERT_EQ(r.status, LUA_OK) << src << "\n" << r.error;
            EXPECT_EQ(r.output, std::string(c.result) + "\n") << src;
        }
    }
}

TEST(LuaCompound, RightSideIsOneExpressionEvaluatedAfterTheTargetIsRead) {
    const struct {
        const char *src;
        const char *output;
    } cases[] = {
        {"local a = 10 a -= 1 + 2 print(a)", "7\n"},
        {"local a = 10 a *= 1 + 2 print(a)", "30\n"},
        {"local a = 2 a ^= 1 + 1 print(a)", "4.0\n"},
        {"local a = 'x' a ..= 'y' .. 'z' print(a)", "xyz\n"},
        {"local a = 1 a <<= 1 | 2 print(a)", "8\n"},
        {"local a = 5 a -= -a print(a)", "10\n"},
        {"local a = 1 a += a print(a)", "2\n"},
        // the target's value is read before the right side runs
        {"local t = {x = 7} t.x += (function() t.x = 100 return 1 end)() print(t.x)", "8\n"},
        {"x = 7 x += (function() x = 100 return 1 end)() print(x)", "8\n"},
        // the right side may not reuse the table and key registers
        {"local t = {0, 0} local i = 1 t[i + 1] += (function() local a, b, c = 5, 6, 7 "
         "return a end)() print(t[1], t[2])",
         "0\t5\n"},
        {"local t = {1, 2} local i = 1 t[i] += t[i + 1] * 10 print(t[1])", "21\n"},
        {"local t = {s = 'a'} local k = 's' t[k] ..= t[k] .. t[k] print(t.s)", "aaa\n"},
        // statements follow on the same line
        {"local a = 1 a += 1 a += 1 print(a)", "3\n"},
        {"local a = 1; a += 1; print(a)", "2\n"},
        // integer division by zero does not raise
        {"local a = 7 a \\= 2 print(a)", "3\n"},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        RunResult r = h.run(c.src);
        ASSERT_EQ(r.status, LUA_OK) << c.src << "\n" << r.error;
        EXPECT_EQ(r.output, c.output) << c.src;
    }
}

TEST(LuaCompound, TableAndKeyAreEvaluatedOnceAndTheFieldReadAndWrittenOnce) {
    LuaHarness h;
    RunResult r = h.run(R"(
        local gets, sets, tables, keys = 0, 0, 0, 0
        local store = {k = 10}
        local proxy = setmetatable({}, {
            __index = function(_, k) gets = gets + 1 return store[k] end,
            __newindex = function(_, k, v) sets = sets + 1 store[k] = v end,
        })
        local function tbl() tables = tables + 1 return proxy end
        local function key() keys = keys + 1 return 'k' end
        tbl()[key()] += 5
        print(tables, keys, gets, sets, store.k)
        tbl()[key()] ..= '!'
        print(tables, keys, gets, sets, store.k)
        local holder = {p = proxy}
        store.k = 15
        holder.p.k -= 1
        print(gets, sets, store.k)
    )");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "1\t1\t1\t1\t15\n2\t2\t2\t2\t15!\n3\t3\t14\n");
}

TEST(LuaCompound, MetamethodsOfTheOperatorApply) {
    LuaHarness h;
    RunResult r = h.run(R"(
        local mt = {}
        mt.__add = function(a, b) return setmetatable({v = a.v + b}, mt) end
        mt.__concat = function(a, b) return setmetatable({v = a.v .. b}, mt) end
        local o = setmetatable({v = 1}, mt)
        o += 2
        print(o.v)
        o ..= 'x'
        print(o.v)
    )");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "3\n3x\n");
}

TEST(LuaCompound, ConstantTargetsCannotBeAssigned) {
    const struct {
        const char *src;
        const char *error;
    } cases[] = {
        {"local x <const> = 1 x += 1", "test:1: attempt to assign to const variable 'x'"},
        {"local x <const> = {} x ..= 's'", "test:1: attempt to assign to const variable 'x'"},
        {"local x <close> = nil x -= 1", "test:1: attempt to assign to const variable 'x'"},
        {"local c <const> = {} local function f() c *= 2 end",
         "test:1: attempt to assign to const variable 'c'"},
        {"local c <const> = 5 local function f() c *= 2 end",
         "test:1: attempt to assign to const variable 'c'"},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        EXPECT_EQ(h.compile(c.src), c.error) << c.src;
    }
}

TEST(LuaCompound, OnlyOneAssignableTargetAndOnlyRealOperators) {
    const struct {
        const char *src;
        const char *error;
    } cases[] = {
        {"f() += 1", "test:1: syntax error near +="},
        {"(a) += 1", "test:1: syntax error near +="},
        {"a.b:c() ..= 's'", "test:1: syntax error near ..="},
        {"a, b += 1", "test:1: '=' expected near +="},
        {"x //= 2", "test:1: syntax error near '//'"},
        {"a >>>= 1", "test:1: syntax error near '>>'"},
        {"a <<>= 1", "test:1: syntax error near '<<'"},
        {"a >><= 1", "test:1: syntax error near '>>'"},
        {"a += ", "test:1: unexpected symbol near <eof>"},
        {"a + 1", "test:1: syntax error near '+'"},
        {"local a += 1", "test:1: unexpected symbol near +="},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        EXPECT_EQ(h.compile(c.src), c.error) << c.src;
    }
}

TEST(LuaCompound, HiddenLocalsHoldOnlyTheRegistersOfTableAndKey) {
    const struct {
        const char *src;
        int hidden;  // locals named "(for compound)" in the chunk
    } cases[] = {
        {"local x = 0 x += 1", 0},
        {"x = 0 x += 1", 0},
        {"local x = 0 local function f() x += 1 end", 0},
        {"local t = {} t.a = 0 t.a += 1", 0},
        {"local t, i = {0, 0}, 1 t[i] += 1", 0},
        {"local t, i = {0, 0}, 1 t[i + 1] += 1", 1},
        {"a = {b = {c = ''}} a.b.c ..= 's'", 1},
        {"t = {} t[1] = 0 t[1] += 1", 1},
        {"local t = {{0}} t[1][1] += 1 t[1][1] += 1", 2},
        {"local k = {} k[{}] = 1", 0},  // a plain assignment declares none
    };
    for (const auto &c : cases) {
        LuaHarness h;
        ASSERT_EQ(h.compile(c.src), "") << c.src;
        EXPECT_EQ(lua_internals::count_locals(lua_internals::top_proto(h.L()), "(for compound)"),
                  c.hidden)
            << c.src;
        lua_pop(h.L(), 1);
    }
}

TEST(LuaCompound, HiddenLocalsStayUntilTheEndOfTheirBlock) {
    LuaHarness h;
    // 150 in each of two blocks fit: each block's hidden locals end with it
    std::string src;
    for (int b = 0; b < 2; b++) {
        src += "do\n";
        for (int i = 0; i < 150; i++) src += "T[1] += 1\n";
        src += "end\n";
    }
    src = "T = {0}\n" + src + "print(T[1])";
    RunResult r = h.run(src);
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "300\n");
}

TEST(LuaCompound, The201stHiddenLocalExceedsTheLocalVariableLimit) {
    std::string body;
    for (int i = 0; i < 200; i++) body += "T[1] += 1\n";
    {
        LuaHarness h;
        RunResult r = h.run("T = {0}\n" + body + "print(T[1])");
        ASSERT_EQ(r.status, LUA_OK) << r.error;
        EXPECT_EQ(r.output, "200\n");
    }
    {
        LuaHarness h;
        EXPECT_EQ(h.compile(body + "T[1] += 1\n"),
                  "test:201: too many local variables (limit is 200) in main function near +=");
    }
    {
        LuaHarness h;
        EXPECT_EQ(h.compile("local function f()\n" + body + "T[1] += 1\nend"),
                  "test:202: too many local variables (limit is 200) in function at line 1 "
                  "near +=");
    }
    {
        // compound assignments to plain variables declare nothing
        std::string many = "local x = 0\n";
        for (int i = 0; i < 300; i++) many += "x += 1\n";
        LuaHarness h;
        RunResult r = h.run(many + "print(x)");
        ASSERT_EQ(r.status, LUA_OK) << r.error;
        EXPECT_EQ(r.output, "300\n");
    }
}
