// The dialect's lexer: its tokens and their names, the end-of-line token of
// shorthand statements, and the extra string escapes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lua_harness.h"
#include "lua_internals.h"

using lua_internals::lex;
using lua_internals::LexToken;

namespace {

std::vector<int> codes_of(const std::vector<LexToken> &toks) {
    std::vector<int> codes;
    for (const LexToken &t : toks) codes.push_back(t.code);
    return codes;
}

}  // namespace

TEST(LuaLexer, TokenCodesFollowTheStandardOnes) {
    EXPECT_EQ(TK_STRING, 292);
    EXPECT_EQ(TK_NE2, 293);
    EXPECT_EQ(TK_PRINT, 294);
    EXPECT_EQ(TK_EOL, 295);
    EXPECT_EQ(TK_ADDEQ, 296);
    EXPECT_EQ(TK_CONCATEQ, 311);
    EXPECT_EQ(NUM_TOKENS, 56);
}

TEST(LuaLexer, TokenNamesAreQuotedOnlyBelowEof) {
    LuaHarness h;
    const std::vector<std::string> expected = {
        "'and'", "'break'", "'do'", "'else'", "'elseif'", "'end'", "'false'", "'for'",
        "'function'", "'goto'", "'if'", "'in'", "'local'", "'nil'", "'not'", "'or'",
        "'repeat'", "'return'", "'then'", "'true'", "'until'", "'while'",
        "'//'", "'..'", "'...'", "'=='", "'>='", "'<='", "'~='", "'<<'", "'>>'", "'::'",
        "<eof>", "<number>", "<integer>", "<name>", "<string>",
        "!=", "?", "<eol>",
        "+=", "-=", "*=", "/=", "%=", "^=", "\\=", "&=", "|=", "^^=", "<<=", ">>=",
        ">>>=", "<<>=", ">><=", "..="};
    EXPECT_EQ(lua_internals::all_token_names(h.L()), expected);
}

struct TokenCase {
    const char *src;
    std::vector<int> codes;  // without the final <eof>
};

TEST(LuaLexer, ReadsEveryOperatorTokenOfTheDialect) {
    const TokenCase cases[] = {
        {"a != b", {TK_NAME, TK_NE2, TK_NAME}},
        {"a ~= b", {TK_NAME, TK_NE, TK_NAME}},
        {"!a", {'!', TK_NAME}},
        {"7 \\ 2", {TK_INT, '\\', TK_INT}},
        {"5 ^^ 3", {TK_INT, '~', TK_INT}},
        {"^^5", {'~', TK_INT}},
        {"~5", {'~', TK_INT}},
        {"2 ^ 3", {TK_INT, '^', TK_INT}},
        {"x += 1", {TK_NAME, TK_ADDEQ, TK_INT}},
        {"x -= 1", {TK_NAME, TK_SUBEQ, TK_INT}},
        {"x -1", {TK_NAME, '-', TK_INT}},
        {"x *= 1", {TK_NAME, TK_MULEQ, TK_INT}},
        {"x /= 1", {TK_NAME, TK_DIVEQ, TK_INT}},
        {"x %= 1", {TK_NAME, TK_MODEQ, TK_INT}},
        {"x ^= 1", {TK_NAME, TK_POWEQ, TK_INT}},
        {"x \\= 1", {TK_NAME, TK_IDIVEQ, TK_INT}},
        {"x &= 1", {TK_NAME, TK_BANDEQ, TK_INT}},
        {"x |= 1", {TK_NAME, TK_BOREQ, TK_INT}},
        {"x ^^= 1", {TK_NAME, TK_BXOREQ, TK_INT}},
        {"x <<= 1", {TK_NAME, TK_SHLEQ, TK_INT}},
        {"x >>= 1", {TK_NAME, TK_SHREQ, TK_INT}},
        {"x ..= 's'", {TK_NAME, TK_CONCATEQ, TK_STRING}},
        // never one token: the three named-only codes, and '//='
        {"x >>>= 1", {TK_NAME, TK_SHR, TK_GE, TK_INT}},
        {"x <<>= 1", {TK_NAME, TK_SHL, TK_GE, TK_INT}},
        {"x >><= 1", {TK_NAME, TK_SHR, TK_LE, TK_INT}},
        {"x //= 1", {TK_NAME, TK_IDIV, '=', TK_INT}},
        // standard tokens keep their meaning
        {"a // b", {TK_NAME, TK_IDIV, TK_NAME}},
        {"a .. b ... c", {TK_NAME, TK_CONCAT, TK_NAME, TK_DOTS, TK_NAME}},
        {"...=", {TK_DOTS, '='}},
        {"a<=b<<c>=d>>e==f", {TK_NAME, TK_LE, TK_NAME, TK_SHL, TK_NAME, TK_GE, TK_NAME, TK_SHR,
                              TK_NAME, TK_EQ, TK_NAME}},
        {"a--[[x]]-b", {TK_NAME, '-', TK_NAME}},
        // prefix symbols of the peek operators
        {"@a %b $c *d", {'@', TK_NAME, '%', TK_NAME, '$', TK_NAME, '*', TK_NAME}},
        {"? a", {TK_PRINT, TK_NAME}},
    };
    LuaHarness h;
    for (const TokenCase &c : cases) {
        std::vector<int> expected = c.codes;
        expected.push_back(TK_EOS);
        EXPECT_EQ(codes_of(lex(h.L(), c.src)), expected) << c.src;
    }
}

// One line break in each of the four styles Lua accepts.
static const char *const kLineEnds[] = {"\n", "\r", "\r\n", "\n\r"};

struct EolCase {
    const char *src;          // source, each '|' a line break in the style tested
    int pending;              // open shorthand statements at the start
    std::vector<LexToken> toks;  // expected tokens (line counter after each)
};

TEST(LuaLexer, EndOfLineTokensFollowTheOpenShorthandStatementsInEveryLineEndStyle) {
    const EolCase cases[] = {
        // nothing open: the break is white space
        {"a|b", 0, {{TK_NAME, 1}, {TK_NAME, 2}, {TK_EOS, 2}}},
        // one open: its <eol> consumes the break
        {"a|b", 1, {{TK_NAME, 1}, {TK_EOL, 2}, {TK_NAME, 2}, {TK_EOS, 2}}},
        // two open: the first <eol> leaves the break, the second consumes it
        {"a|b", 2, {{TK_NAME, 1}, {TK_EOL, 1}, {TK_EOL, 2}, {TK_NAME, 2}, {TK_EOS, 2}}},
        {"a|b", 3, {{TK_NAME, 1}, {TK_EOL, 1}, {TK_EOL, 1}, {TK_EOL, 2}, {TK_NAME, 2}, {TK_EOS, 2}}},
        // trailing spaces and a short comment change nothing
        {"a  \t|b", 1, {{TK_NAME, 1}, {TK_EOL, 2}, {TK_NAME, 2}, {TK_EOS, 2}}},
        {"a -- note|b", 2, {{TK_NAME, 1}, {TK_EOL, 1}, {TK_EOL, 2}, {TK_NAME, 2}, {TK_EOS, 2}}},
        // '?' opens a statement of its own
        {"? a|b", 0, {{TK_PRINT, 1}, {TK_NAME, 1}, {TK_EOL, 2}, {TK_NAME, 2}, {TK_EOS, 2}}},
        {"? ? a|b", 0,
         {{TK_PRINT, 1}, {TK_PRINT, 1}, {TK_NAME, 1}, {TK_EOL, 1}, {TK_EOL, 2}, {TK_NAME, 2},
          {TK_EOS, 2}}},
        // only one break is taken: the next one is white space again
        {"a||b", 1, {{TK_NAME, 1}, {TK_EOL, 2}, {TK_NAME, 3}, {TK_EOS, 3}}},
        // at the end of the stream <eof> comes whatever is open
        {"a", 2, {{TK_NAME, 1}, {TK_EOS, 1}}},
        {"a|", 0, {{TK_NAME, 1}, {TK_EOS, 2}}},
    };
    LuaHarness h;
    for (const char *eol : kLineEnds) {
        for (const EolCase &c : cases) {
            std::string src;
            for (const char *p = c.src; *p; p++) src += (*p == '|') ? std::string(eol) : std::string(1, *p);
            EXPECT_EQ(lex(h.L(), src, c.pending), c.toks)
                << "source " << testing::PrintToString(src) << " pending " << c.pending;
        }
    }
}

TEST(LuaLexer, LineBreaksInsideLongStringsCommentsAndEscapesNeverEndAStatement) {
    const struct {
        const char *src;
        std::vector<LexToken> toks;
    } cases[] = {
        {"a [[x\ny]] b\nc",
         {{TK_NAME, 1}, {TK_STRING, 2}, {TK_NAME, 2}, {TK_EOL, 3}, {TK_NAME, 3}, {TK_EOS, 3}}},
        {"a --[[x\ny]] b\nc",
         {{TK_NAME, 1}, {TK_NAME, 2}, {TK_EOL, 3}, {TK_NAME, 3}, {TK_EOS, 3}}},
        {"'x\\\ny' b\nc", {{TK_STRING, 2}, {TK_NAME, 2}, {TK_EOL, 3}, {TK_NAME, 3}, {TK_EOS, 3}}},
        {"'x\\z\n  y'\nc", {{TK_STRING, 2}, {TK_EOL, 3}, {TK_NAME, 3}, {TK_EOS, 3}}},
    };
    LuaHarness h;
    for (const auto &c : cases)
        EXPECT_EQ(lex(h.L(), c.src, 1), c.toks) << testing::PrintToString(c.src);
}

TEST(LuaLexer, SixExtraEscapesGiveTheControlBytesOneToSix) {
    LuaHarness h;
    RunResult r = h.run(R"(
        local s = "\*\#\-\|\+\^"
        print(#s, s:byte(1, -1))
        print('\*' == "\1", '\^' == '\6', "a\-b" == "a\3b")
    )");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "6\t1\t2\t3\t4\t5\t6\ntrue\ttrue\ttrue\n");
}

TEST(LuaLexer, StandardEscapesAreUnchanged) {
    LuaHarness h;
    RunResult r = h.run(R"(
        local s = "\a\b\f\n\r\t\v\\\"\'\x41\65\u{48}\z
                   !"
        print(s:byte(1, -1))
    )");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "7\t8\t12\t10\t13\t9\t11\t92\t34\t39\t65\t65\t72\t33\n");
}

TEST(LuaLexer, EscapeErrorsKeepTheirMessages) {
    const struct {
        const char *src;
        const char *error;
    } cases[] = {
        {R"(x = "\q")", "test:1: invalid escape sequence near '\"\\q'"},
        {R"(x = "\!")", "test:1: invalid escape sequence near '\"\\!'"},
        {R"(x = "\400")", "test:1: decimal escape too large near '\"\\400\"'"},
        {R"(x = "\xZZ")", "test:1: hexadecimal digit expected near '\"\\xZ'"},
        {R"(x = "\u{110000000}")", "test:1: UTF-8 value too large near '\"\\u{110000000'"},
        {"x = \"abc\ny", "test:1: unfinished string near '\"abc'"},
        {"x = \"abc", "test:1: unfinished string near <eof>"},
        {"x = [==[abc", "test:1: unfinished long string (starting at line 1) near <eof>"},
        {"x = [=abc", "test:1: invalid long string delimiter near '[='"},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        EXPECT_EQ(h.compile(c.src), c.error) << c.src;
    }
}

TEST(LuaLexer, ALoneBangIsAnUnexpectedSymbol) {
    LuaHarness h;
    EXPECT_EQ(h.compile("x = !a"), "test:1: unexpected symbol near '!'");
    EXPECT_EQ(h.compile("!a()"), "test:1: unexpected symbol near '!'");
}

TEST(LuaLexer, NamesAreAsciiOnly) {
    LuaHarness h;
    EXPECT_EQ(h.compile("local \xC3\xA9 = 1"), "test:1: <name> expected near '<\\195>'");
}

TEST(LuaLexer, OnlyZeroAndOneAreBinaryDigitsAndHighBytesHaveNoClass) {
    for (int c = 0; c < 256; c++) {
        EXPECT_EQ(lisbdigit(c) != 0, c == '0' || c == '1') << c;
        if (c >= 0x80) EXPECT_EQ(luai_ctype_[c + 1], 0) << c;
    }
    EXPECT_EQ(luai_ctype_['0' + 1], 0x36);
    EXPECT_EQ(luai_ctype_['1' + 1], 0x36);
    EXPECT_EQ(luai_ctype_['2' + 1], 0x16);
    EXPECT_FALSE(lisbdigit(EOZ));
}
