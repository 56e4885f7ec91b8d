// Typed arrays behave as Lua values: length, shape queries, element reads and
// writes by key with their conversions, and the text form.
#include <cstdio>

#include "ud_fixture.h"

namespace {

using Access = UdTest;

TEST_F(Access, LengthAndShapeQueriesReportTheHeader) {
    exec("A = t_create('u8', 2, 16, 16) B = t_create('f64', 1, 5) C = t_create('i16', 2, 3, 2)");
    struct Case { const char *expr; const char *want; } cases[] = {
        {"#A", "256"},
        {"USERDATA.__len(B)", "5"},
        {"A:width(), A:height()", "16\t16"},
        {"B:width(), B:height()", "5\tnil"},
        {"A:attribs()", "16\t16\tu8\t2"},
        {"B:attribs()", "5\t1\tf64\t1"},
        {"C:attribs()", "3\t2\ti16\t2"},
        {"math.type(#C), math.type(C:width())", "integer\tinteger"},
    };
    for (const auto &c : cases) EXPECT_EQ(eval(c.expr), c.want) << c.expr;
}

TEST_F(Access, ReadKeysNameElementsLettersOrMethods) {
    // Seven elements 10..16; a three-element array has no 't'.
    exec("A = vec('f64', 10, 11, 12, 13, 14, 15, 16) B = vec('i32', 1, 2, 3)");
    struct Case { const char *expr; const char *want; } cases[] = {
        {"A[0], A[6]", "10.0\t16.0"},
        {"A[7], A[-1]", "nil\tnil"},
        {"A[1.0], A[-0.0]", "11.0\t10.0"},
        {"A[1.5], A[0/0], A[math.huge]", "nil\tnil\tnil"},
        {"A[math.mininteger], A[2^53]", "nil\tnil"},
        {"A.x, A.y, A.z, A.u, A.v, A.w, A.t", "10.0\t11.0\t12.0\t13.0\t14.0\t15.0\t16.0"},
        {"B.z, B.u, B.t", "3\tnil\tnil"},
        {"A.a, A[''], A['0'], A['10']", "nil\tnil\tnil\tnil"},
        {"A.foo, A.xy", "nil\tnil"},
        {"A[true], A[{}], A[print]", "nil\tnil\tnil"},
        {"A.width == USERDATA.width, A.__index == USERDATA.__index", "true\ttrue"},
        {"A:width()", "7"},
        {"math.type(A[0]), math.type(B[0])", "float\tinteger"},
    };
    for (const auto &c : cases) EXPECT_EQ(eval(c.expr), c.want) << c.expr;
}

TEST_F(Access, ElementReadsGiveEachTypesValues) {
    struct Case { const char *type; const char *init; const char *want; } cases[] = {
        {"u8", "00ff80", "0\t255\t128"},
        {"i16", "00007fff8000", "0\t32767\t-32768"},
        {"i32", "00000001ffffffff80000000", "1\t-1\t-2147483648"},
        {"i64", "00000000000000018000000000000000ffffffffffffffff",
         "1\t-9223372036854775808\t-1"},
        {"f64", "0.5,-2,1e300", "0.5\t-2.0\t1e+300"},
    };
    for (const auto &c : cases) {
        exec("A = t_create('" + std::string(c.type) + "', 1, 3, 1, 1, '" + c.init + "')");
        EXPECT_EQ(eval("A[0], A[1], A[2]"), c.want) << c.type;
    }
}

TEST_F(Access, WriteKeysStoreOnlyIntoExistingElements) {
    struct Case { const char *stmt; const char *want; } cases[] = {
        {"A[0] = 7", "7 1 2 3"},
        {"A[3] = 7", "0 1 2 7"},
        {"A[1.5] = 7", "0 7 2 3"},
        {"A[2.7] = 7", "0 1 7 3"},
        {"A['x'] = 7", "7 1 2 3"},
        {"A.u = 7", "0 1 2 7"},
        {"A.t = 7", "0 1 2 3"},
        {"A[4] = 7", "0 1 2 3"},
        {"A[-1] = 7", "0 1 2 3"},
        {"A[-0.5] = 7", "0 1 2 3"},
        {"A[0/0] = 7", "0 1 2 3"},
        {"A[math.huge] = 7", "0 1 2 3"},
        {"A[math.mininteger] = 7", "0 1 2 3"},
        {"A.foo = 7", "0 1 2 3"},
        {"A['1'] = 7", "0 1 2 3"},
        {"A['10'] = 7", "0 1 2 3"},
        {"A[''] = 7", "0 1 2 3"},
        {"A[true] = 7", "0 1 2 3"},
        {"A[{}] = 7", "0 1 2 3"},
    };
    for (const auto &c : cases) {
        exec("A = vec('u8', 0, 1, 2, 3)");
        exec(c.stmt);
        EXPECT_EQ(eval("dump(A)"), "4x1 u8 1: " + std::string(c.want)) << c.stmt;
    }
    // Names longer than one character are stored nowhere.
    exec("A = vec('u8', 0) A.foo = 3 A.width = 3");
    EXPECT_EQ(eval("A.foo, rawget(USERDATA, 'foo'), A:width()"), "nil\tnil\t1");
}

TEST_F(Access, WrittenValuesAreConvertedToTheElementType) {
    struct Case { const char *type; const char *value; const char *want; } cases[] = {
        {"u8", "300", "44"},
        {"u8", "-1", "255"},
        {"u8", "2.7", "2"},
        {"u8", "-0.5", "255"},
        {"u8", "'12'", "12"},
        {"u8", "' 2.7 '", "2"},
        {"u8", "'0x1ff'", "255"},
        {"u8", "true", "0"},
        {"u8", "nil", "0"},
        {"u8", "'abc'", "0"},
        {"u8", "{}", "0"},
        {"u8", "0/0", "0"},
        {"i16", "-1", "-1"},
        {"i16", "40000", "-25536"},
        {"i32", "2^32 + 5", "5"},
        {"i32", "0x80000000", "-2147483648"},
        {"i64", "math.mininteger", "-9223372036854775808"},
        {"i64", "2^63", "-9223372036854775808"},
        {"i64", "-1e300", "-9223372036854775808"},
        {"f64", "'2.5'", "2.5"},
        {"f64", "3", "3.0"},
        {"f64", "'0x10'", "16.0"},
        {"f64", "true", "0.0"},
        {"f64", "'abc'", "0.0"},
        {"f64", "nil", "0.0"},
        {"f64", "-1/0", "-inf"},
    };
    for (const auto &c : cases) {
        exec("A = vec('" + std::string(c.type) + "', 77) A[0] = " + c.value);
        EXPECT_EQ(eval("A[0]"), c.want) << c.type << " <- " << c.value;
    }
    exec("A = vec('f64', 1) A[0] = 0/0");
    EXPECT_EQ(eval("A[0] ~= A[0]"), "true");
}

TEST_F(Access, F64RowsAndMatricesShowTheirNumbers) {
    struct Case { int dims, w, h; const char *init; const char *want; } cases[] = {
        {1, 2, 1, "1,2.5", "(1, 2.5)"},
        {1, 3, 1, "1,2.5,3", "(1, 2.5, 3)"},
        {1, 4, 1, "0.1,-0,1e300,0.3333333333333333", "(0.1, -0, 1e+300, 0.33333333333333)"},
        {1, 5, 1, "1,2,3,4,5", "(1, 2, 3, 4, 5)"},
        {2, 3, 2, "1,2,3,4,5,6", "(1, 2, 3)"},
        {2, 2, 3, "1,2,3,4,5,6", "(1, 2)"},
        {2, 3, 4, "1,2,3,4,5,6,7,8,9,10,11,12",
         "(1, 2, 3),\n(4, 5, 6),\n(7, 8, 9),\n(10, 11, 12)"},
        {1, 3, 1, "nan,-nan,inf", "(nan, nan, inf)"},
        {1, 2, 1, "-inf,123456789012345678", "(-inf, 1.2345678901235e+17)"},
    };
    for (const auto &c : cases) {
        std::string make = "t_create('f64', " + std::to_string(c.dims) + ", " +
                           std::to_string(c.w) + ", " + std::to_string(c.h) + ", 1, '" + c.init + "')";
        EXPECT_EQ(eval("tostring(" + make + ")"), c.want) << make;
    }
    // A NaN of either sign made by arithmetic prints the same.
    exec("A = vec('f64', 0/0, -(0/0))");
    EXPECT_EQ(eval("tostring(A)"), "(nan, nan)");
}

TEST_F(Access, OtherArraysShowTheirAddress) {
    const char *makes[] = {
        "t_create('f64', 1, 1)", "t_create('f64', 1, 6)", "t_create('u8', 1, 3)",
        "t_create('i64', 1, 3)", "t_create('i32', 2, 3, 4)",
    };
    for (const char *make : makes) {
        exec(std::string("A = ") + make);
        lua_getglobal(L(), "A");
        char want[64];
        std::snprintf(want, sizeof want, "userdata: 0x%x",
                      unsigned(uint32_t(reinterpret_cast<uintptr_t>(lua_touserdata(L(), -1)))));
        lua_pop(L(), 1);
        EXPECT_EQ(eval("tostring(A)"), want) << make;
    }
}

}  // namespace
