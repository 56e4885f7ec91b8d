// convert makes retyped copies or indices and a palette; mutate retypes and
// reshapes in place within the bytes the array covers.
#include <string>

#include "ud_fixture.h"

namespace {

using Convert = UdTest;
using Mutate = UdTest;

// exact(a): the elements with floats in 17 digits and every NaN as "nan".
const char *exact_dump = R"(
function exact(a)
  if a == nil then return "nil" end
  local t = {}
  for i = 0, #a - 1 do
    local v = a[i]
    if v ~= v then t[i + 1] = "nan"
    elseif math.type(v) == "float" then t[i + 1] = string.format("%.17g", v)
    else t[i + 1] = tostring(v) end
  end
  return table.concat(t, " ")
end
)";

TEST_F(Convert, ElementsFollowTheConversionMatrix) {
    exec(exact_dump);
    exec(R"(
      SRC = {
        u8 = vec('u8', 0, 200, 255),
        i16 = vec('i16', -1, 300, -32768),
        i32 = vec('i32', -1, 70000, -2147483648),
        i64 = vec('i64', -1, 1099511628076, 9007199254740993),
        f64 = vec('f64', 2.7, -2.5, 255.9, 0/0, 1/0, -1/0, 1e300, -1e300, 300, 65535.5, -0.5),
      })");
    struct Case { const char *from, *to, *want; } cases[] = {
        {"u8", "u8", "0 200 255"},
        {"u8", "i16", "0 200 255"},
        {"u8", "i32", "0 200 255"},
        {"u8", "i64", "0 200 255"},
        {"u8", "f64", "0 200 255"},
        {"i16", "u8", "255 44 0"},
        {"i16", "i32", "-1 300 -32768"},
        {"i16", "i64", "-1 300 -32768"},
        {"i16", "f64", "-1 300 -32768"},
        {"i32", "u8", "255 112 0"},
        {"i32", "i16", "-1 4464 0"},
        {"i32", "i64", "-1 70000 -2147483648"},
        {"i32", "f64", "-1 70000 -2147483648"},
        {"i64", "u8", "255 44 1"},
        {"i64", "i16", "-1 300 1"},
        {"i64", "i32", "-1 300 1"},
        {"i64", "f64", "-1 1099511628076 9007199254740992"},
        // Floored to 64 bits (NaN, infinities and values out of range give
        // -2^63), then the low bits.
        {"f64", "u8", "2 253 255 0 0 0 0 0 44 255 255"},
        {"f64", "i16", "2 -3 255 0 0 0 0 0 300 -1 -1"},
        {"f64", "i32", "2 -3 255 0 0 0 0 0 300 65535 -1"},
        {"f64", "i64",
         "2 -3 255 -9223372036854775808 -9223372036854775808 -9223372036854775808 "
         "-9223372036854775808 -9223372036854775808 300 65535 -1"},
        {"f64", "f64",
         "2.7000000000000002 -2.5 255.90000000000001 nan inf -inf 1.0000000000000001e+300 "
         "-1.0000000000000001e+300 300 65535.5 -0.5"},
    };
    for (const auto &c : cases) {
        std::string expr = std::string("SRC.") + c.from + ":convert('" + c.to + "')";
        EXPECT_EQ(eval("(select(3, " + expr + ":attribs()))"), c.to) << expr;
        EXPECT_EQ(eval("exact(" + expr + ")"), c.want) << expr;
    }
}

TEST_F(Convert, ResultsAreIndependentCopiesWithTheReceiversShape) {
    exec("A = t_create('i16', 2, 3, 2, 1, '000100020003000400050006')");
    struct Case { const char *expr; const char *want; } cases[] = {
        {"dump(A:convert('i16'))", "3x2 i16 2: 1 2 3 4 5 6"},
        {"dump(A:convert('f32'))", "3x2 i32 2: 1 2 3 4 5 6"},
        {"dump(A:convert())", "3x2 u8 2: 1 2 3 4 5 6"},
        {"dump(A:convert(13))", "3x2 i32 2: 1 2 3 4 5 6"},
        {"dump(A:convert('[gfx]0101z'))", "3x2 u8 2: 1 2 3 4 5 6"},
        {"dump(A:convert('[map]0404'))", "3x2 u8 2: 1 2 3 4 5 6"},
        {"select('#', A:convert('u8'))", "1"},
        {"select('#', A:convert('u8x', true))", "1"},
        {"select('#', A:convert('u8', false))", "1"},
        {"(function() local b = A:convert('i16') b[0] = 9 return A[0], b[0] end)()", "1\t9"},
        {"getmetatable(A:convert('u8')) == USERDATA", "true"},
    };
    for (const auto &c : cases) EXPECT_EQ(eval(c.expr), c.want) << c.expr;
}

TEST_F(Convert, OneDimensionalArraysWithSeveralRowsKeepEveryElement) {
    exec("A = t_create('u8', 2, 4, 2, 1, '0102030405060708')");
    lua_getglobal(L(), "A");
    to_typed_ud(L(), -1)->dims = 1;
    lua_pop(L(), 1);
    EXPECT_EQ(eval("dump(A:convert('i16'))"), "4x2 i16 1: 1 2 3 4 5 6 7 8");
    EXPECT_EQ(eval("dump(A:convert('u8', true))"), "4x2 u8 1: 0 1 2 3 4 5 6 7");
}

TEST_F(Convert, ResultsThatCannotBeMadeGiveNothing) {
    exec("BIG = t_create('u8', 2, 4096, 4096)");
    EXPECT_EQ(eval("select('#', BIG:convert('f64'))"), "0");
    EXPECT_EQ(eval("select('#', BIG:convert('i16'))"), "0");
    EXPECT_EQ(eval("(select(3, BIG:convert('u8'):attribs()))"), "u8");
    // mutate can round an array down to no elements.
    exec("E = vec('u8', 5) E:mutate('i16')");
    EXPECT_EQ(eval("#E, select('#', E:convert('u8', true)), select('#', E:convert('i32'))"),
              "0\t0\t0");
}

TEST_F(Convert, PaletteModeSplitsIntoIndicesAndDistinctValues) {
    exec(exact_dump);
    struct Case { const char *make, *indices, *palette; } cases[] = {
        {"vec('u8', 5, 7, 5, 9)", "4x1 u8 1: 0 1 0 2", "3x1 u8 1: 5 7 9"},
        {"vec('f64', 1.9, 1.2, -1.5)", "3x1 u8 1: 0 0 1", "2x1 f64 1: 1.0 -1.0"},
        {"vec('i64', -1, 1 << 62, -1)", "3x1 u8 1: 0 1 0", "2x1 i64 1: -1 4611686018427387904"},
        {"vec('i16', -7, -7)", "2x1 u8 1: 0 0", "1x1 i16 1: -7"},
        // Truncated toward zero; NaN and the infinities all give -2^63.
        {"vec('f64', 0/0, 1/0, -1/0, 0, -0.9)", "5x1 u8 1: 0 0 0 1 1",
         "2x1 f64 1: -9.2233720368548e+18 0.0"},
        {"t_create('u8', 2, 2, 2, 1, '01020201')", "2x2 u8 2: 0 1 1 0", "2x1 u8 1: 1 2"},
    };
    for (const auto &c : cases) {
        exec(std::string("I, P = ") + c.make + ":convert('u8', true)");
        EXPECT_EQ(eval("dump(I)"), c.indices) << c.make;
        EXPECT_EQ(eval("dump(P)"), c.palette) << c.make;
    }
}

TEST_F(Convert, PalettesKeepTheFirst256ValuesAndMapTheRestTo255) {
    exec(exact_dump);
    exec("A = t_create('i16', 1, 300) for i = 0, 299 do A[i] = i * 3 - 400 end "
         "I, P = A:convert('u8', 'yes')");
    std::string want_i, want_p;
    for (int i = 0; i < 300; i++) want_i += (i ? " " : "") + std::to_string(i < 256 ? i : 255);
    for (int i = 0; i < 256; i++) want_p += (i ? " " : "") + std::to_string(i * 3 - 400);
    EXPECT_EQ(eval("exact(I)"), want_i);
    EXPECT_EQ(eval("exact(P)"), want_p);
    EXPECT_EQ(eval("P:attribs()"), "256\t1\ti16\t1");
}

// The palette's lookups against the plain search from slot 0: values drawn
// from pools of more than 256 (so later new values all get 255), with
// repeats, extremes and, for f64, values that truncate alike.
TEST_F(Convert, PaletteIndicesEqualThoseOfAPlainSearch) {
    exec(R"(
      function plain_palette(a, float)
        local slots, n, idx = {}, 0, {}
        for i = 0, #a - 1 do
          local v = a[i]
          if float then v = math.tointeger(v >= 0 and math.floor(v) or math.ceil(v)) or math.mininteger end
          local k
          for s = 1, n do if slots[s] == v then k = s - 1 break end end
          if not k then
            if n < 256 then n = n + 1 slots[n] = v k = n - 1 else k = 255 end
          end
          idx[i + 1] = k
        end
        return idx, slots
      end
      function compare(ty, pool, len)
        local a = t_create(ty, 1, len)
        for i = 0, len - 1 do a[i] = pool[math.random(#pool)] end
        local I, P = a:convert('u8', true)
        local idx, slots = plain_palette(a, ty == 'f64')
        if #P ~= #slots then return ty .. ': palette of ' .. #P .. ', want ' .. #slots end
        for k = 0, #P - 1 do
          if P[k] ~= slots[k + 1] then return ty .. ': palette slot ' .. k end
        end
        for i = 0, len - 1 do
          if I[i] ~= idx[i + 1] then return ty .. ': index ' .. i .. ' is ' .. I[i] .. ', want ' .. idx[i + 1] end
        end
        return 'ok'
      end
      math.randomseed(17)
      function pool(n, f) local t = {} for i = 1, n do t[i] = f(i) end return t end
      EXTREMES = {0, -1, 1, math.mininteger, math.maxinteger, 255, -32768, 32767}
      function with_extremes(t) for _, v in ipairs(EXTREMES) do t[#t + 1] = v end return t end
    )");
    const char *cases[] = {
        "compare('u8', pool(256, function(i) return i - 1 end), 5000)",
        "compare('i16', pool(300, function() return math.random(-32768, 32767) end), 5000)",
        "compare('i16', pool(40, function() return math.random(-5, 5) end), 2000)",
        "compare('i32', with_extremes(pool(400, function() return math.random(-2^31, 2^31 - 1) end)), 8000)",
        "compare('i64', with_extremes(pool(320, function() return math.random(math.mininteger, math.maxinteger) end)), 8000)",
        // Multiples of 2^56 and of small steps: values that share hash bits.
        "compare('i64', pool(300, function(i) return (i % 2 == 0 and i << 56 or i * 256) end), 6000)",
        "compare('f64', pool(300, function(i) return (math.random() - 0.5) * 600 end), 6000)",
        "compare('f64', {0/0, 1/0, -1/0, -0.0, 0.0, 0.9, -0.9, 1.5, -1.5, 2^63, -2^63, 1e300, 2^53 + 2}, 3000)",
    };
    for (const char *c : cases) EXPECT_EQ(eval(c), "ok") << c;
}

TEST_F(Convert, ConversionsAreChargedByTheirWidestType) {
    exec("U = t_create('u8', 1, 400) S = t_create('i16', 1, 400) L = t_create('i64', 1, 400) "
         "F = t_create('f64', 1, 400) ONE = t_create('u8', 1, 1)");
    struct Case { const char *method, *args; int32_t cycles; } cases[] = {
        {"convert", "U, 'i16'", 200},
        {"convert", "S, 'i32'", 200},
        {"convert", "ONE, 'i16'", 1},
        {"convert", "S, 'i64'", 400},
        {"convert", "L, 'u8'", 400},
        {"convert", "U, 'f64'", 800},
        {"convert", "F, 'i32'", 800},
        {"convert", "U, 'u8'", 400 / 32},  // a copy: 32 bytes a cycle
        {"convert", "F, 'f64'", 3200 / 32},
        {"convert", "U, 'u8', true", 400},
        {"convert", "F, 'u8', true", 400},
        {"convert", "U, 'nope', true", 400 / 32},  // an unknown name is u8: a copy
        {"mutate", "U, 'i16'", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(charge(c.method, c.args), c.cycles) << c.method << "(" << c.args << ")";
}

TEST_F(Mutate, RetypesAndReshapesOverTheSameBytes) {
    struct Case { const char *make, *call, *result, *shape; } cases[] = {
        {"t_create('u8', 2, 16, 16)", "'i16'", "", "8\t16\ti16\t2"},
        {"t_create('u8', 2, 16, 16)", "'i16', 4", "", "4\t1\ti16\t1"},
        {"t_create('u8', 2, 16, 16)", "'i32', 8, 8", "", "8\t8\ti32\t2"},
        {"t_create('u8', 2, 16, 16)", "'i32', 9, 8", "new size is larger than old size",
         "16\t16\tu8\t2"},
        {"t_create('f64', 1, 4)", "'i64'", "can not mutate between integer and float data types",
         "4\t1\tf64\t1"},
        {"t_create('u8', 1, 16)", "'f64'", "can not mutate between integer and float data types",
         "16\t1\tu8\t1"},
        {"t_create('f64', 1, 4)", "'f64', 2", "", "2\t1\tf64\t1"},
        {"t_create('f64', 2, 2, 2)", "'f64', 4", "", "4\t1\tf64\t1"},
        {"t_create('u8', 1, 10)", "'i16'", "", "5\t1\ti16\t1"},
        {"t_create('u8', 1, 9)", "'i16'", "", "4\t1\ti16\t1"},
        {"t_create('i16', 2, 4, 2)", "", "", "8\t2\tu8\t2"},
        {"t_create('u8', 2, 16, 16)", "'u8', nil, 8", "", "16\t8\tu8\t2"},
        {"t_create('u8', 2, 16, 16)", "'u8', nil, 17", "new size is larger than old size",
         "16\t16\tu8\t2"},
        {"t_create('u8', 1, 16)", "'u8', '4', '2'", "", "4\t2\tu8\t2"},
        {"t_create('u8', 1, 16)", "'u8', 4.9, 2.9", "", "4\t2\tu8\t2"},
        {"t_create('u8', 2, 4, 4)", "'u8', -3", "", "4\t1\tu8\t1"},
        {"t_create('u8', 2, 4, 4)", "'u8', 'abc'", "", "4\t4\tu8\t2"},
        {"t_create('u8', 2, 4, 4)", "'u8', 0, 0", "", "4\t4\tu8\t2"},
        {"t_create('u8', 1, 16)", "'u8', 2^40", "new size is larger than old size", "16\t1\tu8\t1"},
        {"t_create('u8', 1, 16)", "'u8', 1, 2^33", "new size is larger than old size", "16\t1\tu8\t1"},
        {"t_create('u8', 1, 16)", "'u8', 65536, 65536", "new size is larger than old size",
         "16\t1\tu8\t1"},
        {"t_create('u8', 1, 1)", "'i16'", "", "0\t1\ti16\t1"},
    };
    for (const auto &c : cases) {
        exec(std::string("A = ") + c.make);
        std::string call = std::string("A:mutate(") + c.call + ")";
        EXPECT_EQ(eval("(function(...) return select('#', ...) == 0 and '' or ... end)(" + call + ")"),
                  c.result)
            << c.make << " " << call;
        EXPECT_EQ(eval("A:attribs()"), c.shape) << c.make << " " << call;
    }
}

TEST_F(Mutate, ElementBytesAreReinterpretedNotConverted) {
    exec("A = t_create('u8', 2, 4, 4, 1, '0102030405060708090a0b0c0d0e0f10') A:mutate('i32')");
    EXPECT_EQ(eval("A[0] == 0x04030201, A[3] == 0x100f0e0d, #A"), "true\ttrue\t4");
    exec("A:mutate('i64', 1)");
    EXPECT_EQ(eval("A[0] == 0x0807060504030201, #A"), "true\t1");
}

TEST_F(Mutate, ShrunkArraysCannotGrowAgain) {
    exec("A = t_create('u8', 1, 16) A:mutate('u8', 4)");
    EXPECT_EQ(eval("A:mutate('u8', 16)"), "new size is larger than old size");
    EXPECT_EQ(eval("A:mutate('u8', 2, 2)"), "");
    EXPECT_EQ(eval("A:attribs()"), "2\t2\tu8\t2");
    // The block keeps its size, and a copy holds only what the header covers.
    exec("B = A:convert('u8')");
    EXPECT_EQ(eval("#B"), "4");
}

}  // namespace
