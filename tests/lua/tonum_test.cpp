// tonum: numbers as they are, booleans as 1 or 0, whole numerals as their
// number, and no value at all for anything else; it never raises.
#include <gtest/gtest.h>

#include <string>

#include "lua_harness.h"

namespace {

struct TonumCase {
    const char *args;      // Lua source of tonum's argument list
    const char *expected;  // "<math.type> <tostring>", or "none" for no value
};

// Runs tonum(args) and describes its results: "none" when there are none,
// else the subtype and text of the first, with "+N" for any extra results.
std::string describe_tonum(const std::string &args) {
    LuaHarness h;
    RunResult r = h.run("local function show(...)\n"
                        "  local n = select('#', ...)\n"
                        "  if n == 0 then return 'none' end\n"
                        "  local v = ...\n"
                        "  local s = tostring(math.type(v)) .. ' ' .. tostring(v)\n"
                        "  if n > 1 then s = s .. ' +' .. (n - 1) end\n"
                        "  return s\n"
                        "end\n"
                        "print(show(tonum(" + args + ")))");
    if (r.status != LUA_OK) return "error: " + r.error;
    std::string out = r.output;
    if (!out.empty()) out.pop_back();
    return out;
}

void check_cases(const TonumCase *cases, size_t n) {
    for (size_t i = 0; i < n; i++)
        EXPECT_EQ(describe_tonum(cases[i].args), cases[i].expected) << "tonum(" << cases[i].args << ")";
}

// True when the string-to-number conversion reads binary numerals. The binary
// cases below skip (and say so) on a tree whose conversion does not have them.
bool binary_numerals_supported() {
    LuaHarness h;
    return lua_stringtonumber(h.L(), "0b101") != 0;
}

}  // namespace

TEST(Tonum, NumbersAndBooleansConvertAsDocumented) {
    const TonumCase cases[] = {
        {"7", "integer 7"},
        {"-7", "integer -7"},
        {"3.0", "float 3.0"},
        {"-0.5", "float -0.5"},
        {"1/0", "float inf"},
        {"math.mininteger", "integer -9223372036854775808"},
        {"true", "integer 1"},
        {"false", "integer 0"},
        // only the first argument counts; there is no base argument
        {"'10', 16", "integer 10"},
        {"5, 6, 7", "integer 5"},
    };
    check_cases(cases, std::size(cases));
}

TEST(Tonum, WholeNumeralStringsGiveTheirNumber) {
    const TonumCase cases[] = {
        {"' 12 '", "integer 12"},
        {"'\\t12\\n'", "integer 12"},
        {"'0x10'", "integer 16"},
        {"'0X1b'", "integer 27"},  // the x comes before the b: hexadecimal
        {"'1e2'", "float 100.0"},
        {"'-7'", "integer -7"},
        {"'+7'", "integer 7"},
        {"'.5'", "float 0.5"},
        {"'0x1p4'", "float 16.0"},
        {"'0xffffffffffffffff'", "integer -1"},  // hexadecimal integers wrap
        {"'9223372036854775807'", "integer 9223372036854775807"},
        {"'9223372036854775808'", "float 9.2233720368548e+18"},  // past the integer range
    };
    check_cases(cases, std::size(cases));
}

TEST(Tonum, AnythingElseGivesNoValueAndNeverRaises) {
    const TonumCase cases[] = {
        {"", "none"},
        {"nil", "none"},
        {"'12abc'", "none"},
        {"'inf'", "none"},
        {"'nan'", "none"},
        {"'-inf'", "none"},
        {"'1\\0'", "none"},   // an embedded zero byte stops the numeral short
        {"'1\\0 2'", "none"},
        {"''", "none"},
        {"'   '", "none"},
        {"'1 2'", "none"},
        {"'0x'", "none"},
        {"'1e'", "none"},
        {"{}", "none"},
        {"print", "none"},
        {"coroutine.create(print)", "none"},
        {"setmetatable({}, {__tostring = function() return '5' end})", "none"},
        {"setmetatable({}, {__index = function() error('touched') end})", "none"},
    };
    check_cases(cases, std::size(cases));
}

TEST(Tonum, BinaryNumeralStringsGiveTheirNumber) {
    if (!binary_numerals_supported())
        GTEST_SKIP() << "the string-to-number conversion does not read binary numerals yet";
    const TonumCase cases[] = {
        {"'0b101'", "integer 5"},
        {"'0B11'", "integer 3"},
        {"'-0b1'", "integer -1"},
        {"' 0b101 '", "integer 5"},
        {"'0b' .. ('1'):rep(65)", "integer -1"},  // binary integers wrap
        {"'0b1.1'", "float 1.5"},
        {"'0b1.1p3'", "float 12.0"},
        {"'0b1p-1'", "float 0.5"},
        {"'0b.1'", "float 0.5"},
        {"'-0b1.1'", "float -1.5"},
    };
    check_cases(cases, std::size(cases));
}

TEST(Tonum, MalformedBinaryNumeralStringsGiveNoValue) {
    if (!binary_numerals_supported())
        GTEST_SKIP() << "the string-to-number conversion does not read binary numerals yet";
    const TonumCase cases[] = {
        {"'0b'", "none"},
        {"'0b12'", "none"},
        {"'0b1p'", "none"},
        {"'0b1e2'", "none"},
        {"'0b.'", "none"},
        {"'0b1.1.1'", "none"},
    };
    check_cases(cases, std::size(cases));
}
