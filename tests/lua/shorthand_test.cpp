// Shorthand statements: if and while with a parenthesised condition and a
// body that ends with the line, and the print statement '?'.
#include <gtest/gtest.h>

#include <string>

#include "lua_harness.h"

namespace {

struct ScriptCase {
    const char *src;
    const char *expected;  // print output, or the error message
};

void run_cases(const ScriptCase *begin, const ScriptCase *end) {
    for (const ScriptCase *c = begin; c != end; c++) {
        LuaHarness h;
        RunResult r = h.run(c->src);
        if (r.status == LUA_OK)
            EXPECT_EQ(r.output, c->expected) << c->src;
        else
            EXPECT_EQ(r.error, c->expected) << c->src;
    }
}

template <size_t N> void run_cases(const ScriptCase (&cases)[N]) { run_cases(cases, cases + N); }

}  // namespace

TEST(LuaShorthand, IfBodyRunsToTheEndOfItsLine) {
    const ScriptCase cases[] = {
        {"local a = true\nif (a) print('b') print('c')\nprint('next')", "b\nc\nnext\n"},
        {"local a = false\nif (a) print('b') print('c')\nprint('next')", "next\n"},
        {"local a = false\nif (a) print(1) else print(2) print(3)\nprint(4)", "2\n3\n4\n"},
        {"local a = true\nif (a) print(1) else print(2)\nprint(4)", "1\n4\n"},
        {"if (1 < 2) then print('normal') end", "normal\n"},
        {"if (false) print(1)\nelseif_ = 5 print(elseif_)", "5\n"},
        // a condition of nested parentheses is still one parenthesised expression
        {"if ((1 + 2) * (3)) print('yes')", "yes\n"},
        // the end of the chunk ends the body too
        {"if (true) print('last')", "last\n"},
        {"if (true) print('last') -- note", "last\n"},
        // comments and trailing spaces before the break
        {"if (true) print(1) -- note  \nprint(2)", "1\n2\n"},
        {"if (true) print(1)   \t\nprint(2)", "1\n2\n"},
        // lines counted correctly after the shorthand
        {"if (true) print(1)\nerror('here')", "test:2: here"},
        {"if (true) print(1)\n\n\nerror('here')", "test:4: here"},
        // semicolons and several statements on the line
        {"if (true) ; print(1) ; print(2) ;\nprint(3)", "1\n2\n3\n"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, LineEndStylesAllEndTheBody) {
    for (const char *eol : {"\n", "\r", "\r\n", "\n\r"}) {
        LuaHarness h;
        std::string src = std::string("if (false) print(1)") + eol + "print(2)" + eol +
                          "if (true) ? 3" + eol + "error('x')";
        RunResult r = h.run(src);
        EXPECT_EQ(r.output, "2\n3\n") << testing::PrintToString(src);
        EXPECT_EQ(r.error, "test:4: x") << testing::PrintToString(src);
    }
}

TEST(LuaShorthand, NestedShorthandStatementsShareOneLineBreak) {
    const ScriptCase cases[] = {
        {"if (true) if (true) print(1)\nprint(2)", "1\n2\n"},
        {"if (true) if (false) print(1)\nprint(2)", "2\n"},
        {"if (false) if (true) print(1)\nprint(2)", "2\n"},
        {"if (true) ? 'a'\nprint('b')", "a\nb\n"},
        {"if (false) ? 'a'\nprint('b')", "b\n"},
        {"if (true) ? 'a'\nerror('x')", "test:2: x"},
        {"local i = 0\nwhile (i < 3) i += 1 if (i == 2) ? 'two'\nprint(i)", "two\n3\n"},
        {"if (true) if (true) ? 1\n? 2", "1\n2\n"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, AClosingKeywordOnTheLineEndsTheBodyAndStaysWithItsBlock) {
    const ScriptCase cases[] = {
        {"local function f(x) if (x) print('in') end\nf(true) f(false) print('out')",
         "in\nout\n"},
        {"do if (true) print(1) end print(2)\nprint(3)", "1\n2\n3\n"},
        {"local i = 0 repeat i = i + 1 if (i > 5) print('no') until i == 2\nprint(i)", "2\n"},
        {"for i = 1, 2 do while (false) print('x') end\nprint('done')", "done\n"},
        {"if true then if (false) print(1) else print(2) end\nprint(3)", "2\n3\n"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, IfBreakAndReturnBodies) {
    const ScriptCase cases[] = {
        {"for i = 1, 5 do if (i == 3) break\nprint(i) end", "1\n2\n"},
        {"for i = 1, 5 do if (i == 3) break; \nprint(i) end", "1\n2\n"},
        {"for i = 1, 3 do if (i == 2) break print('never')\nprint(i) end", "1\n"},
        {"local function f(x) if (x) return 'a'\nreturn 'b' end print(f(true), f(false))",
         "a\tb\n"},
        {"local function f(x) if (x) return\nreturn 'b' end print(f(true), f(false))",
         "nil\tb\n"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, WhileBodyLoopsOnOneLine) {
    const ScriptCase cases[] = {
        {"local i = 0\nwhile (i < 10) i += 1\nprint(i)", "10\n"},
        {"local i, s = 0, ''\nwhile (i < 3) i += 1 s ..= i\nprint(s)", "123\n"},
        {"local i = 0\nwhile (i < 3) do i = i + 1 end print(i)", "3\n"},
        {"local n = 0\nwhile (n < 10) n += 1 if (n == 4) break\nprint(n)", "4\n"},
        {"while (false) print(1)", ""},
    };
    run_cases(cases);
}

TEST(LuaShorthand, LongStringsSpanningLinesDoNotEndTheBody) {
    const ScriptCase cases[] = {
        {"if (true) print([[a\nb]]) print('c')\nprint('d')", "a\nb\nc\nd\n"},
        {"if (true) print('a') --[[ x\ny ]] print('b')\nprint('c')", "a\nb\nc\n"},
        {"if (true) print('a\\\nb') print('c')\nprint('d')", "a\nb\nc\nd\n"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, ConditionsThatCannotBeShorthandWantThenOrDo) {
    const ScriptCase cases[] = {
        {"if a print(1)", "test:1: 'then' expected near 'print'"},
        {"if (a) and (b) print(1)", "test:1: 'then' expected near 'print'"},
        {"if (a) (f)() print(1)", "test:1: 'then' expected near 'print'"},
        {"if (f)(x) print(1)", "test:1: 'then' expected near 'print'"},
        {"if (a)\nprint(1) end", "test:2: 'then' expected near 'print'"},
        {"if (a\n) print(1)", "test:2: 'then' expected near 'print'"},
        {"if (a) print(1) elseif (c) print(2)", "test:1: 'then' expected near 'print'"},
        {"if (a)", "test:1: 'then' expected near <eof>"},
        {"while a f()", "test:1: 'do' expected near 'f'"},
        {"while (a) (f)() g()", "test:1: 'do' expected near 'g'"},
        {"while (a)\nf() end", "test:2: 'do' expected near 'f'"},
        {"while (a)", "test:1: 'do' expected near <eof>"},
        {"if (a) then print(1)", "test:1: 'end' expected near <eof>"},
        {"if (a) then print(1)\nprint(2)", "test:2: 'end' expected (to close 'if' at line 1) near <eof>"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, BodiesMustEndWithTheirLine) {
    const ScriptCase cases[] = {
        {"local function f() if (true) return 1 2 end", "test:1: <eol> expected near '2'"},
        {"local function f() if (true) return [[\n]] 2 end",
         "test:2: <eol> expected (to close 'if' at line 1) near '2'"},
        {"local function f() while (true) return 1 2 end", "test:1: <eol> expected near '2'"},
        {"local function f() while (true) return [[\n]] 2 end",
         "test:2: <eol> expected (to close 'while' at line 1) near '2'"},
        // the end of line has been read when these are found: line 2
        {"if (true) f(\n1)", "test:2: unexpected symbol near <eol>"},
        {"if (true) x = 1 +\n2", "test:2: unexpected symbol near <eol>"},
        {"if (true) if b then\nf() end",
         "test:2: 'end' expected (to close 'if' at line 1) near <eol>"},
        {"local function f(...) ? ... end", "test:1: <eol> expected near 'end'"},
        {"? 1 2", "test:1: <eol> expected near '2'"},
        {"? [[\n]] 2", "test:2: <eol> expected (to close '?' at line 1) near '2'"},
        {"? 1)", "test:1: <eol> expected near ')'"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, QuestionMarkPrintsTheRestOfTheLine) {
    const ScriptCase cases[] = {
        {"?", "\n"},
        {"?\nprint('x')", "\nx\n"},
        {"? 1", "1\n"},
        {"? 1, 'a', nil", "1\ta\tnil\n"},
        {"local function f() return 2, 3 end\n? 1, f()", "1\t2\t3\n"},
        {"local function f() return 2, 3 end\n? f(), 1", "2\t1\n"},
        {"local function f(...) ? ...\nend f(4, 5)", "4\t5\n"},
        {"x = 1 ? x + 1", "2\n"},
        {"? 1 + 2 * 3, 'a' .. 'b'", "7\tab\n"},
        {"? 1\n? 2\r\n? 3", "1\n2\n3\n"},
        {"? 1 -- note\n? 2", "1\n2\n"},
        // 'print' is resolved like any name
        {"local p = print local print = function(x) p('local', x) end\n? 5", "local\t5\n"},
        {"local p = print print = function(x) p('global', x) end\n? 5", "global\t5\n"},
        {"local p = print local function g() ? 6\nend print = nil g()",
         "test:1: attempt to call a nil value (global 'print')"},
        {"local print = 1\n? 5", "test:2: attempt to call a number value (local 'print')"},
    };
    run_cases(cases);
}

TEST(LuaShorthand, QuestionMarkAsAnOperandPrintsAndGivesNil) {
    const ScriptCase cases[] = {
        {"local y = ? 'hi'\nprint(y)", "hi\nnil\n"},
        // the value is the call's own register, not a local below it
        {"local a = 1\nlocal b = ? 'x'\nprint(a, b)", "x\n1\tnil\n"},
        {"local a, b = 1, 2\nlocal c = ? 'x'\nprint(a, b, c)", "x\n1\t2\tnil\n"},
        {"local t = {1, 2, ? 'x'\n}\nprint(#t, t[1], t[2], t[3])", "x\n2\t1\t2\tnil\n"},
        {"print(1, ? 2\n)", "2\n1\tnil\n"},
        {"x = ? 'g'\nprint(x)", "g\nnil\n"},
        {"local x = not ? 'n'\nprint(x)", "n\ntrue\n"},
    };
    run_cases(cases);
}
