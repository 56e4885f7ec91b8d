// Numerals: the string-to-number conversion shared by the lexer, coercions
// and tonum (binary integers and floats beside Lua's decimal and hex forms),
// and numerals written in source.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "lua_harness.h"

namespace {

enum class Kind { None, Int, Float };

struct Converted {
    Kind kind = Kind::None;
    int64_t i = 0;
    double f = 0;
};

// lua_stringtonumber, which is luaO_str2num, on `s`.
Converted convert(lua_State *L, const std::string &s) {
    Converted c;
    size_t n = lua_stringtonumber(L, s.c_str());
    if (n == 0) return c;
    EXPECT_EQ(n, s.size() + 1) << s;
    if (lua_isinteger(L, -1)) {
        c.kind = Kind::Int;
        c.i = lua_tointeger(L, -1);
    } else {
        c.kind = Kind::Float;
        c.f = lua_tonumber(L, -1);
    }
    lua_pop(L, 1);
    return c;
}

struct NumCase {
    std::string text;
    Kind kind;
    int64_t i;  // expected integer
    double f;   // expected float (compared bit for bit)
};

NumCase none(std::string s) { return {std::move(s), Kind::None, 0, 0}; }
NumCase integer(std::string s, int64_t i) { return {std::move(s), Kind::Int, i, 0}; }
NumCase flt(std::string s, double f) { return {std::move(s), Kind::Float, 0, f}; }

std::string rep(const char *s, int n) {
    std::string r;
    for (int i = 0; i < n; i++) r += s;
    return r;
}

void check_cases(const std::vector<NumCase> &cases) {
    LuaHarness h;
    for (const NumCase &c : cases) {
        Converted got = convert(h.L(), c.text);
        ASSERT_EQ(int(got.kind), int(c.kind)) << "'" << c.text << "'";
        if (c.kind == Kind::Int) EXPECT_EQ(got.i, c.i) << "'" << c.text << "'";
        if (c.kind == Kind::Float) {
            EXPECT_EQ(std::memcmp(&got.f, &c.f, sizeof(double)), 0)
                << "'" << c.text << "' gave " << got.f << " (" << std::hexfloat << got.f
                << "), expected " << c.f;
        }
    }
}

const double kInf = std::numeric_limits<double>::infinity();
const double kTiny = std::ldexp(1.0, -1074);  // smallest subnormal

}  // namespace

TEST(LuaNumerals, BinaryIntegersWrapModulo2To64) {
    check_cases({
        integer("0b101", 5),
        integer("0B11", 3),
        integer("-0b1", -1),
        integer("+0b1", 1),
        integer("  0b110 \t", 6),
        integer("0b0", 0),
        integer("0b" + rep("1", 63), INT64_MAX),
        integer("0b1" + rep("0", 63), INT64_MIN),
        integer("0b" + rep("1", 64), -1),
        integer("0b" + rep("1", 65), -1),
        integer("0b1" + rep("0", 64), 0),
        integer("-0b1" + rep("0", 63), INT64_MIN),
        none("0b"),
        none("0b12"),
        none("0b2"),
        none("0b 1"),
        none("0b1 1"),
        none("00b1"),
        none("b1"),
        none("1b"),
    });
}

TEST(LuaNumerals, BinaryFloatsReadAPointAndAPowerOfTwo) {
    check_cases({
        flt("0b1.1", 1.5),
        flt("0b1.1p3", 12.0),
        flt("0b.1", 0.5),
        flt("0b1.", 1.0),
        flt("0B10.01", 2.25),
        flt("0b1p2", 4.0),
        flt("0b1P+2", 4.0),
        flt("0b1p-2", 0.25),
        flt("0b1p0", 1.0),
        flt("-0b0.1", -0.5),
        flt("+0b0.1", 0.5),
        flt("\t 0b1.1  ", 1.5),
        flt("0b0.0", 0.0),
        flt("-0b0.0", -0.0),
        flt("0b000.0010", 0.125),
        flt("0b1" + rep("0", 70) + ".", std::ldexp(1.0, 70)),
        none("0b1p"),
        none("0b1p+"),
        none("0b1e2"),
        none("0b1.1.1"),
        none("0b."),
        none("0b.p1"),
        none("0bp1"),
        none("0b1p1.5"),
        none("0b1.2"),
        none("0b1.1 x"),
    });
}

TEST(LuaNumerals, BinaryExponentsSaturateInsteadOfOverflowing) {
    check_cases({
        flt("0b1p1023", std::ldexp(1.0, 1023)),
        flt("0b1.1p1023", std::ldexp(1.5, 1023)),
        flt("0b11p1023", kInf),
        flt("0b1." + rep("1", 53) + "p1023", kInf),  // rounds up past the largest
        flt("0b1p1024", kInf),
        flt("0b1." + rep("1", 52) + "p1023", std::numeric_limits<double>::max()),
        flt("0b1p100001", kInf),
        flt("0b1p99999999999999999999999", kInf),
        flt("-0b1p99999999999999999999999", -kInf),
        flt("0b1p-99999999999999999999999", 0.0),
        // a huge exponent cannot be brought back by digits
        flt("0b0." + rep("0", 100) + "1p99999999999999999999", kInf),
    });
}

TEST(LuaNumerals, BinaryFloatsRoundOnceToNearestEven) {
    const double two53 = std::ldexp(1.0, 53);
    check_cases({
        // 54 significant bits: ties go to the even neighbour
        flt("0b1" + rep("0", 52) + "1.0", two53),
        flt("0b1" + rep("0", 51) + "11.0", two53 + 4),
        flt("0b1" + rep("0", 52) + "1.1", two53 + 2),
        // digits past the 64th still decide a tie (they are not just cut off)
        flt("0b1" + rep("0", 52) + "1" + rep("0", 21) + ".", std::ldexp(1.0, 74)),
        flt("0b1" + rep("0", 52) + "1" + rep("0", 20) + "1.", std::ldexp(two53 + 2, 21)),
        flt("0b1" + rep("0", 52) + "1." + rep("0", 20) + "1", two53 + 2),
        // 64 ones round up to 2^64
        flt("0b" + rep("1", 64) + ".", std::ldexp(1.0, 64)),
    });
}

TEST(LuaNumerals, SubnormalBinaryFloatsRoundAtTheirOwnLastBit) {
    check_cases({
        flt("0b1p-1022", std::numeric_limits<double>::min()),
        flt("0b1p-1074", kTiny),
        flt("0b0.1p-1073", kTiny),
        flt("0b1p-1075", 0.0),                      // half the smallest: even is zero
        flt("0b11p-1076", kTiny),                   // three quarters
        flt("0b1.1p-1075", kTiny),
        flt("0b11p-1075", 2 * kTiny),               // one and a half: even is two
        flt("0b101p-1076", kTiny),                  // one and a quarter
        flt("-0b1p-1074", -kTiny),
        // rounding to 64 bits first and to the subnormal after would give zero
        flt("0b1" + rep("0", 62) + "1p-1138", kTiny),
        flt("0b1" + rep("0", 63) + "1p-1139", kTiny),
        flt("0b1p-1200", 0.0),
    });
}

TEST(LuaNumerals, DecimalAndHexadecimalFormsAreUnchanged) {
    check_cases({
        integer("10", 10),
        integer("  -7 ", -7),
        integer("0x10", 16),
        integer("0x1b", 27),  // the x comes before the b
        integer("0XfF", 255),
        integer("0x" + rep("f", 17), -1),
        integer("9223372036854775807", INT64_MAX),
        flt("9223372036854775808", 9223372036854775808.0),
        flt("1e5", 1e5),
        flt(".5", 0.5),
        flt("5.", 5.0),
        flt("0x1p4", 16.0),
        flt("0x1.8", 1.5),
        flt("1e400", kInf),
        none(""),
        none("  "),
        none("inf"),
        none("nan"),
        none("1e"),
        none("0x"),
        none("1e5b"),
        none("0x1g"),
    });
}

TEST(LuaNumerals, StringsCoerceThroughTheSameConversion) {
    LuaHarness h;
    RunResult r = h.run(R"(print("0b11" + 1, "0b1.1" * 2, tonumber("0b101"), tonumber("0b2")))");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "4\t3.0\t5\tnil\n");
}

TEST(LuaNumerals, SourceNumeralsUseTheConversion) {
    const struct {
        std::string numeral;
        const char *output;  // math.type and value, or the syntax error
    } cases[] = {
        {"0b101", "integer\t5\n"},
        {"0B11", "integer\t3\n"},
        {"-0b1", "integer\t-1\n"},
        {"0b" + rep("1", 65), "integer\t-1\n"},
        {"0x1b", "integer\t27\n"},
        {"0b1.1", "float\t1.5\n"},
        {"0b.1", "float\t0.5\n"},
        {"0b", "test:1: malformed number near '0b'"},
        {"0b12", "test:1: malformed number near '0b12'"},
        {"0b1p3", "test:1: malformed number near '0b1p'"},  // no exponent in source
        {"0b1e2", "test:1: malformed number near '0b1e2'"},
        {"0b1x", "test:1: malformed number near '0b1x'"},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        RunResult r = h.run("local n = " + c.numeral + " print(math.type(n), n)");
        if (r.status == LUA_OK)
            EXPECT_EQ(r.output, c.output) << c.numeral;
        else
            EXPECT_EQ(r.error, c.output) << c.numeral;
    }
}
