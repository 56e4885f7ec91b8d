// The element-wise frame and its operations through Lua: operand shapes,
// outputs, span walks, per-type rules, by-zero and overflow cases, shifts,
// charges, aliasing at every kernel level and the work bound.
#include <ctime>
#include <cstring>
#include <random>
#include <string>

#include "ud_diff.h"
#include "ud_fixture.h"
#include "ud_ops.h"

namespace {

class Elementwise : public UdTest {
  protected:
    Elementwise() {
        exec(R"(
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
          -- "ok" when element i of a equals want(i) for every i, else the first that does not.
          function agree(a, want)
            for i = 0, #a - 1 do
              if a[i] ~= want(i) then return i .. ": " .. tostring(a[i]) .. " not " .. tostring(want(i)) end
            end
            return "ok"
          end
          -- Column x of M (w wide, h high) folded by f from its first element.
          function fold_column(M, w, h, x, f)
            local s = M[x]
            for y = 1, h - 1 do s = f(s, M[y * w + x]) end
            return s
          end
          function seq(ty, n, f)
            local a = t_create(ty, 1, n, 1, 1)
            for i = 0, n - 1 do a[i] = f and f(i) or i end
            return a
          end
        )");
    }

    // Runs 'setup', then evaluates 'expr'.
    std::string after(const std::string &setup, const std::string &expr) {
        exec(setup);
        return eval(expr);
    }
};

struct eval_case {
    const char *setup, *expr, *want;
};

TEST_F(Elementwise, FrameChoosesOperandsOutputsAndSpans) {
    const eval_case cases[] = {
        // Fresh output; the receiver is unchanged.
        {"A = vec('u8', 1, 2, 3) R = A:add(5)", "dump(R), dump(A), R ~= A", "3x1 u8 1: 6 7 8\t3x1 u8 1: 1 2 3\ttrue"},
        // true and 0 both mean in place.
        {"A = vec('u8', 1, 2, 3) R = A:add(5, true)", "R == A, dump(A)", "true\t3x1 u8 1: 6 7 8"},
        {"A = vec('u8', 1, 2, 3) R = A:add(5, 0)", "R == A, dump(A)", "true\t3x1 u8 1: 6 7 8"},
        // The scalar on the left, in place.
        {"A = vec('i32', 1, 2, 3) R = USERDATA.sub(5, A, true)", "R == A, dump(A)", "true\t3x1 i32 1: 4 3 2"},
        // Type mismatch, missing operand, string operand.
        {"A = vec('u8', 1, 2) B = vec('i16', 1, 2)", "select('#', A:add(B))", "0"},
        {"A = vec('u8', 1, 2)", "select('#', A:add()), select('#', A:add(nil))", "0\t0"},
        {"A = vec('u8', 1, 2)", "dump(A:add('7'))", "2x1 u8 1: 1 2"},
        {"A = vec('u8', 10, 20)", "dump(A:div()), dump(A:mod())", "2x1 u8 1: 255 255\t2x1 u8 1: 0 0"},
        // An explicit out of another width, height or type is refused and untouched.
        {"A = vec('u8', 1, 2, 3) O = vec('u8', 9, 9)", "select('#', A:add(1, O)), dump(O)", "0\t2x1 u8 1: 9 9"},
        {"A = vec('u8', 1, 2, 3) O = t_create('u8', 2, 3, 2)", "select('#', A:add(1, O))", "0"},
        {"A = vec('u8', 1, 2, 3) O = vec('i16', 9, 9, 9)", "select('#', A:add(1, O)), dump(O)", "0\t3x1 i16 1: 9 9 9"},
        {"A = vec('u8', 1, 2, 3) O = vec('u8', 9, 9, 9)", "A:add(1, O) == O, dump(O)", "true\t3x1 u8 1: 2 3 4"},
        // A shorter b: a fresh output keeps a's values past it, an explicit out its own.
        {"A = vec('i16', 1, 2, 3, 4) B = vec('i16', 10, 20)", "dump(A:add(B))", "4x1 i16 1: 11 22 3 4"},
        {"A = vec('i16', 1, 2, 3, 4) B = vec('i16', 10, 20) O = vec('i16', 0, 0, 0, 0)", "dump(A:add(B, O))",
         "4x1 i16 1: 11 22 0 0"},
        // A column walk: offset x, count 1, stride w, spans h.
        {"A = t_create('i32', 2, 3, 3) for i = 0, 8 do A[i] = i end", "dump(A:add(100, nil, 0, 1, 1, 0, 3, 3))",
         "3x3 i32 2: 0 101 2 3 104 5 6 107 8"},
        // offset -3 with count 10: a and out start at 0, the span is 10 - 3 - 3 = 4; b starts at b_offset.
        {"A = seq('i32', 100) B = seq('i32', 100, function(i) return 1000 + i end)",
         "exact(A:add(B, nil, 5, -3, 10)):sub(1, 40)", "1005 1007 1009 1011 4 5 6 7 8 9 10 11 12"},
        // offset past the end: nothing changes, the output is still returned.
        {"A = vec('u8', 1, 2)", "dump(A:add(1, nil, 0, 5))", "2x1 u8 1: 1 2"},
        // 8 / 10 / 5 on 25 elements: spans at 0, 10 and 20, the third short, so the walk ends.
        {"A = seq('u8', 25)", "exact(A:add(100, nil, 0, 0, 8, 1, 10, 5))",
         "100 101 102 103 104 105 106 107 8 9 110 111 112 113 114 115 116 117 18 19 120 121 122 123 124"},
        // A running sum through the output behind b... b behind out.
        {"A = vec('i32', 1, 1, 1, 1, 1)", "dump(A:add(A, true, 0, 1))", "5x1 i32 1: 1 2 3 4 5"},
        {"A = vec('u8', 7, 1, 2, 3)", "dump(A:copy(A, true, 0, 1))", "4x1 u8 1: 7 7 7 7"},
        // Walks through b while out stays put complete, however many rows b
        // has: they stopped at 16 passes over out (136 of 270 rows summed).
        {"M = t_create('i32', 2, 480, 270) M:add(1, true) S = t_create('i32', 1, 480) "
         "S:add(M, true, 0, 0, 480, 480, 0, 270)",
         "agree(S, function() return 270 end)", "ok"},
        {"M = t_create('i32', 2, 480, 1000) for i = 0, #M - 1 do M[i] = i % 13 - 6 end "
         "S = t_create('i32', 1, 480) S:add(M, true, 0, 0, 480, 480, 0, 1000)",
         "agree(S, function(x) return fold_column(M, 480, 1000, x, function(s, v) return s + v end) end)", "ok"},
        {"M = t_create('f64', 2, 64, 1000) for i = 0, #M - 1 do M[i] = i * 0.25 end "
         "S = t_create('f64', 1, 64) S:add(M, true, 0, 0, 64, 64, 0, 1000)",
         "agree(S, function(x) return 0.0 + fold_column(M, 64, 1000, x, function(s, v) return s + v end) end)", "ok"},
        {"M = t_create('u8', 2, 4, 20000) for i = 0, #M - 1 do M[i] = i * 7 end "
         "S = t_create('u8', 1, 4) S:add(M, true, 0, 0, 4, 4, 0, 20000)",
         "agree(S, function(x) return fold_column(M, 4, 20000, x, function(s, v) return (s + v) % 256 end) end)", "ok"},
        {"M = t_create('i16', 2, 100, 3000) for i = 0, #M - 1 do M[i] = (i * 7919) % 20011 - 10000 end "
         "S = t_create('i16', 1, 100) S:copy(M, true) S:max(M, true, 100, 0, 100, 100, 0, 2999)",
         "agree(S, function(x) return fold_column(M, 100, 3000, x, math.max) end)", "ok"},
        // One column summed into one element: 100000 spans of one.
        {"M = t_create('i64', 2, 2, 100000) for i = 0, #M - 1 do M[i] = i end "
         "S = t_create('i64', 1, 1) S:add(M, true, 0, 0, 1, 2, 0, 100000)",
         "agree(S, function() return fold_column(M, 2, 100000, 0, function(s, v) return s + v end) end)", "ok"},
        // One row broadcast over every row.
        {"M = t_create('f64', 2, 64, 1000) for i = 0, #M - 1 do M[i] = i end R = seq('f64', 64, function(i) return -i end) "
         "M:add(R, true, 0, 0, 64, 0, 64, 1000)",
         "agree(M, function(i) return 0.0 + i - i % 64 end)", "ok"},
    };
    for (const eval_case &c : cases) EXPECT_EQ(after(c.setup, c.expr), c.want) << c.setup << " | " << c.expr;
}

TEST_F(Elementwise, ArithmeticFollowsTheRulesOfEachType) {
    const eval_case cases[] = {
        {"A = vec('u8', 200, 5, 20) B = vec('u8', 100, 10, 20)", "exact(A + B), exact(A - B), exact(A * B)",
         "44 15 40\t100 251 0\t32 50 144"},
        {"A = vec('u8', 7, 7, 9)", "exact(A:add(257)), exact(A:div(256)), exact(A:div(2)), exact(A:mod(0))",
         "8 8 10\t255 255 255\t3 3 4\t0 0 0"},
        {"A = vec('i16', 7, -7, -32768) B = vec('i16', 0, 0, -1)", "exact(A / B), exact(A:div(65536))",
         "32767 -32767 -32768\t32767 -32767 -32767"},
        {"A = vec('i32', 5, -5, -2147483648) B = vec('i32', 0, 0, -1)", "exact(A / B), exact(A // B), exact(A % B)",
         "2147483647 -2147483647 -2147483648\t2147483647 -2147483647 -2147483648\t0 0 0"},
        {"A = vec('i64', 5, -5, math.mininteger) B = vec('i64', 0, 0, -1)", "exact(A / B), exact(A // B), exact(A % B)",
         "140737488355327 -140737488355327 -9223372036854775808\t"
         "140737488355327 -140737488355327 -9223372036854775808\t0 0 0"},
        // The minimum divided by -1 with the scalar on either side.
        {"A = vec('i64', math.mininteger) M = vec('i64', -1)",
         "exact(A / -1), exact(A // -1), exact(A % -1), exact(USERDATA.div(math.mininteger, M))",
         "-9223372036854775808\t-9223372036854775808\t0\t-9223372036854775808"},
        {"A = vec('i16', -32768) M = vec('i16', -1)", "exact(A / -1), exact(A % -1), exact(USERDATA.idiv(-32768, M))",
         "-32768\t0\t-32768"},
        {"A = vec('f64', 1, -1, 0, 0/0)", "exact(A / 0), exact(A // 0), exact(A % 0)",
         "1.7976931348623157e+308 -1.7976931348623157e+308 1.7976931348623157e+308 1.7976931348623157e+308\t"
         "1.7976931348623157e+308 -1.7976931348623157e+308 1.7976931348623157e+308 1.7976931348623157e+308\t"
         "0 0 0 0"},
        {"A = vec('i32', -7, 7, -7, 7) B = vec('i32', 2, -3, 3, 0)", "exact(A // B), exact(A % B)",
         "-3 -2 -2 2147483647\t1 -2 2 0"},
        {"A = vec('f64', -7, -7.5, 5) B = vec('f64', 2, 2, 0)", "exact(A // B), exact(A % B)", "-4 -4 1.7976931348623157e+308\t1 0.5 0"},
        {"A = vec('u8', 2, 3)", "exact(A:pow(8)), exact(A:pow(5))", "0 161\t32 243"},
        {"A = vec('i16', 2)", "exact(A:pow(-1))", "0"},
        {"A = vec('i32', 2, 65536, 65536)", "exact(A:pow(31)), exact(A ^ 2), exact(A:pow(3))",
         "-2147483648 -2147483648 -2147483648\t4 0 0\t8 -2147483648 -2147483648"},
        {"A = vec('f64', 2)", "exact(A:pow(0.5))", "1.4142135623730951"},
        // The wrapped square 9223372036854775297 rounds to 2^63, which stores the minimum.
        {"A = vec('i64', 2022486633361735935)", "exact(A ^ 2)", "-9223372036854775808"},
        {"A = vec('i32', 0, 5, -2)", "exact(5 - A), exact(USERDATA.div(10, A))", "5 0 7\t2147483647 2 -5"},
        // Scalars narrow to the element type: 257, 256, 65536, NaN, 2^31, -2^31 - 1, 1e300.
        {"A = vec('u8', 10) B = vec('i16', 10) C = vec('i32', 10) D = vec('i64', 10)",
         "exact(A + 257), exact(A + 256), exact(B + 65536), exact(C + 0/0), exact(C + 2^31), exact(C + (-2^31 - 1)), "
         "exact(D + 1e300), exact(A + 0/0)",
         "11\t10\t10\t-2147483638\t-2147483638\t-2147483638\t-9223372036854775798\t10"},
    };
    for (const eval_case &c : cases) EXPECT_EQ(after(c.setup, c.expr), c.want) << c.setup << " | " << c.expr;
}

TEST_F(Elementwise, BitwiseShiftExtremumAndSignRules) {
    const eval_case cases[] = {
        {"A = vec('u8', 0x5a, 0xff)", "exact(A:band(15)), exact(A:band()), exact(A:bor()), exact(A:shl())",
         "10 15\t0 0\t90 255\t90 255"},
        {"F = vec('f64', 1)", "F:band(1), F << 1, select('#', F:bxor(F))", "nil\tnil\t0"},
        {"A = vec('u8', 1, 129, 128, 200)", "exact(A << 1), exact(A >> 1), exact(A:shl(8)), exact(A:shr(8))",
         "2 2 0 144\t0 64 64 100\t0 0 0 0\t0 0 0 0"},
        {"A = vec('u8', 0, 5)", "exact(A:abs()), exact(A:sgn()), exact(A:sgn0()), exact(A:max(-1)), exact(A:max(300))",
         "0 5\t1 1\t0 1\t255 255\t44 44"},
        {"A = vec('i16', -2, -32768, 16384)", "exact(A >> 1), exact(A:shr(15)), exact(A << 1), exact(A:abs())",
         "-1 -16384 8192\t-1 -1 0\t-4 0 -32768\t2 -32768 16384"},
        {"A = vec('i32', 0, 1, 2, 3)", "exact(2 << A), exact(A << 2)", "2 4 8 16\t0 4 8 12"},
        {"A = vec('i64', 1, -8)", "exact(A << 63), exact(A >> 2)", "-9223372036854775808 0\t0 -2"},
        {"A = vec('i32', 3, -4) B = vec('i32', -5, 2)",
         "exact(A:abs(-5)), exact(A:sgn(-5)), exact(USERDATA.abs(-5, A)), exact(A:abs(B)), exact(A:max()), exact(A:abs(nil, true)), exact(A)",
         "5 5\t-1 -1\t3 4\t5 2\tnil\t3 4\t3 4"},
        {"A = vec('f64', -0.0, 0/0, 1, -3)", "exact(A:abs()), exact(A:sgn()), exact(A:sgn0())",
         "-0 nan 1 3\t1 -1 1 -1\t0 -1 1 -1"},
        // f64 max and min give position 2's value for NaN and for equal values.
        {"A = vec('f64', 0/0, 1, 0.0, -0.0) B = vec('f64', 1, 0/0, -0.0, 0.0)",
         "exact(A:max(B)), exact(B:max(A)), exact(A:min(B)), exact(B:min(A))",
         "1 nan -0 0\tnan 1 0 -0\t1 nan -0 0\tnan 1 0 -0"},
        // The one-operand forms with b = a at an offset.
        {"A = vec('i16', -1, -2, -3, -4)", "exact(A:abs(A, nil, 1)), exact(A:sgn0(A, true, 2, 0, 2))",
         "2 3 4 -4\t-1 -1 -3 -4"},
    };
    for (const eval_case &c : cases) EXPECT_EQ(after(c.setup, c.expr), c.want) << c.setup << " | " << c.expr;
}

// Shift counts inside and outside the computing width, as arrays and as
// scalars, on every type: a count is unsigned, and one at or above the width
// gives 0 (shl, u8 shr) or the sign fill (arithmetic shr).
TEST_F(Elementwise, ShiftCountsOutsideTheWidth) {
    exec("COUNTS = {0, 7, 8, 15, 16, 31, 32, 33, 63, 64, 255, -1}");
    struct Case { const char *type, *value, *shl, *shr; } cases[] = {
        {"u8", "0x81", "129 128 0 0 0 0 0 0 0 0 0 0", "129 1 0 0 0 0 0 0 0 0 0 0"},
        {"i16", "-32767", "-32767 128 256 -32768 0 0 0 0 0 0 0 0",
         "-32767 -256 -128 -1 -1 -1 -1 -1 -1 -1 -1 -1"},
        {"i32", "-2147483647", "-2147483647 128 256 32768 65536 -2147483648 0 0 0 0 0 0",
         "-2147483647 -16777216 -8388608 -65536 -32768 -1 -1 -1 -1 -1 -1 -1"},
        {"i64", "-9223372036854775807", "-9223372036854775807 128 256 32768 65536 2147483648 4294967296 8589934592 "
                                        "-9223372036854775808 0 0 0",
         "-9223372036854775807 -72057594037927936 -36028797018963968 -281474976710656 -140737488355328 "
         "-4294967296 -2147483648 -1073741824 -1 -1 -1 -1"},
    };
    for (const Case &c : cases) {
        exec(std::string("T = '") + c.type + "' V = " + c.value +
             " N = #COUNTS A = t_create(T, 1, N, 1, 1) S = t_create(T, 1, N, 1, 1) "
             "for i = 1, N do A[i - 1] = V S[i - 1] = COUNTS[i] end");
        EXPECT_EQ(eval("exact(A:shl(S))"), c.shl) << c.type;
        EXPECT_EQ(eval("exact(A:shr(S))"), c.shr) << c.type;
        // The same counts as scalars, one call each (a scalar narrows to the type first).
        EXPECT_EQ(eval("(function() local t = {} for i = 1, N do t[i] = tostring(A:shl(COUNTS[i])[0]) end "
                       "return table.concat(t, ' ') end)()"),
                  c.shl)
            << c.type;
        EXPECT_EQ(eval("(function() local t = {} for i = 1, N do t[i] = tostring(A:shr(COUNTS[i])[0]) end "
                       "return table.concat(t, ' ') end)()"),
                  c.shr)
            << c.type;
    }
}

// Fresh outputs of N elements charge max(N >> 7, 1) + max(N / D, 1), or
// N x C for a negative D = -C (cycles an element).
TEST_F(Elementwise, ChargesFollowTheDivisorOfEachOperationAndType) {
    struct Row { const char *op; int d[5]; } rows[] = {
        {"add", {24, 24, 24, 12, 12}}, {"sub", {24, 24, 24, 12, 12}}, {"mul", {16, 16, 16, 8, 8}},
        {"div", {4, 4, 4, 2, 4}},      {"idiv", {4, 4, 4, 2, 4}},     {"mod", {4, 4, 4, 2, -6}},
        {"pow", {-4, -4, -4, -4, -4}},      {"band", {24, 24, 24, 12, 0}}, {"bor", {24, 24, 24, 12, 0}},
        {"bxor", {24, 24, 24, 12, 0}}, {"shl", {24, 24, 24, 12, 0}},  {"shr", {24, 24, 24, 12, 0}},
        {"max", {4, 4, 4, 2, 2}},      {"min", {4, 4, 4, 2, 2}},      {"abs", {4, 4, 4, 2, 2}},
        {"sgn", {4, 4, 4, 2, 2}},      {"sgn0", {4, 4, 4, 2, 2}},     {"copy", {24, 24, 24, 12, 12}},
    };
    const char *types[] = {"u8", "i16", "i32", "i64", "f64"};
    const int n = 1000;
    for (int t = 0; t < 5; t++) {
        exec(std::string("A = t_create('") + types[t] + "', 1, 1000, 1, 1)");
        for (const Row &r : rows) {
            int32_t want = r.d[t] > 0 ? (n >> 7) + n / r.d[t] : r.d[t] < 0 ? (n >> 7) + n * -r.d[t] : 0;
            EXPECT_EQ(charge(r.op, "A, 3"), want) << r.op << " " << types[t];
        }
    }
    exec("A = t_create('u8', 1, 1000, 1, 1)");
    EXPECT_EQ(charge("band", "A, 15"), 7 + 41);
    EXPECT_EQ(charge("add", "A, 1, true, 0, 0, 1, 1, 1, 0"), 1);        // spans 0
    EXPECT_EQ(charge("add", "A, 1, true, 0, 0, 0, 1, 1, 1000"), 500);   // count 0: spans / 2 only
    EXPECT_EQ(charge("add", "A, 1, true, 0, 0, 0, 1, 1, -7"), 0);       // a negative charge is ignored
}

// b 1 to 70 elements behind or ahead of out within one array, against the
// reference, at every kernel level.
TEST_F(Elementwise, AliasedOperandsFollowElementOrderAtEveryLevel) {
    std::mt19937 gen(7);
    const int codes[] = {3, 12, 13, 14, 22};
    const char *ops[] = {"add", "sub", "mul", "copy", "max", "bxor", "div", "abs"};
    for (int level = 0; level <= ud_simd_level_available(); level++) {
        ud_force_simd_level(level);
        uddiff::runner r(L());
        for (int code : codes) {
            udref::array a;
            a.code = code;
            a.width = 200;
            a.data.resize(size_t(a.count() * a.size()));
            for (auto &byte : a.data) byte = uint8_t(gen());
            if (code == 22)  // finite values only, so every path sees the same operands
                for (int64_t k = 0; k < a.count(); k++) {
                    double v = double(int32_t(gen())) / 7.0;
                    std::memcpy(a.data.data() + k * 8, &v, 8);
                }
            r.load({a});
            for (const char *op : ops) {
                if (code == 22 && std::string(op) == "bxor") continue;
                for (int d = 1; d <= 70; d++) {
                    for (int ahead = 0; ahead < 2; ahead++) {
                        const int64_t b_off = ahead ? 10 + d : 10, off = ahead ? 10 : 10 + d;
                        std::vector<udref::value> args = {udref::value::Arr(0), udref::value::Arr(0),
                                                          udref::value::Bool(true), udref::value::Int(b_off),
                                                          udref::value::Int(off), udref::value::Int(100)};
                        std::string err = r.check(op, args);
                        ASSERT_EQ(err, "") << "level " << level;
                    }
                }
            }
        }
    }
    ud_force_simd_level(-1);
}

// Runs of a megabyte and more take the path that streams results past the
// caches: every shape and an unaligned start, against the reference.
TEST_F(Elementwise, LongRunsAgreeWithTheReferenceAtEveryLevel) {
    std::mt19937 gen(3);
    for (int level = 0; level <= ud_simd_level_available(); level++) {
        ud_force_simd_level(level);
        uddiff::runner r(L());
        for (int code : {3, 12, 22}) {
            udref::array a, b;
            a.code = b.code = code;
            a.width = b.width = code == 3 ? (1u << 21) + 77 : (1u << 18) + 77;
            a.data.resize(size_t(a.count() * a.size()));
            b.data.resize(a.data.size());
            for (auto &byte : a.data) byte = uint8_t(gen() % 97);  // finite doubles only
            for (auto &byte : b.data) byte = uint8_t(gen() % 97);
            r.load({a, b});
            using V = udref::value;
            const std::vector<std::vector<V>> calls = {
                {V::Arr(0), V::Arr(1), V::Arr(1), V::Int(0), V::Int(3)},   // b and out one array, same start
                {V::Arr(0), V::Arr(1), V::Bool(true), V::Int(5), V::Int(1)},  // in place, b ahead
                {V::Arr(0), V::Int(7)},                                    // fresh, scalar right
                {V::Arr(0), V::Arr(0), V::Bool(true), V::Int(9), V::Int(2)},  // one array, b ahead of out
                {V::Arr(0), V::Arr(0), V::Bool(true)},                     // one array, same start
                {V::Int(7), V::Arr(0), V::Arr(1), V::Int(0), V::Int(1)},   // scalar left
            };
            for (const char *op : {"sub", "max", "copy", "abs"})
                for (const auto &args : calls) ASSERT_EQ(r.check(op, args), "") << "level " << level;
        }
    }
    ud_force_simd_level(-1);
}

// Integer division by scalars divides in doubles: every divisor size, both
// signs and the extremes, on random and extreme dividends.
TEST_F(Elementwise, ScalarDivisionAgreesWithTheReferenceAtEveryLevel) {
    std::mt19937 gen(9);
    const int64_t divisors[] = {1, -1, 2, -2, 3, 7, -7, 10, 255, 256, 32767, -32768, 65535, 1 << 20,
                                (1 << 30) + 3, 2147483647, -2147483647 - 1, -1000003, 46341, 12345678};
    for (int level = 0; level <= ud_simd_level_available(); level++) {
        ud_force_simd_level(level);
        uddiff::runner r(L());
        for (int code : {3, 12, 13}) {
            udref::array a;
            a.code = code;
            a.width = 600;
            a.data.resize(size_t(a.count() * a.size()));
            for (auto &byte : a.data) byte = uint8_t(gen());
            const int32_t extremes[] = {0, 1, -1, INT32_MAX, INT32_MIN, 32767, -32768, 255, 65535, INT32_MIN + 1};
            for (int k = 0; k < 10; k++) std::memcpy(a.data.data() + k * a.size(), &extremes[k], size_t(a.size()));
            r.load({a});
            for (int64_t d : divisors)
                for (const char *op : {"div", "idiv"})
                    ASSERT_EQ(r.check(op, {udref::value::Arr(0), udref::value::Int(d)}), "") << "level " << level;
        }
    }
    ud_force_simd_level(-1);
}

// i64 powers worked out in integers, and those left to pow, against the
// reference's pow of the two doubles: both signs, 0 and 1, the extremes,
// powers around 2^53 and 2^64, and every small exponent, at every level.
TEST_F(Elementwise, IntegerPowersAgreeWithTheReferenceAtEveryLevel) {
    std::mt19937_64 gen(5);
    const int64_t bases[] = {0, 1, -1, 2, -2, 3, -3, 7, 10, 255, 1 << 17, 208063, 208065, -208065, 2097151, 2097153,
                             94906265, 94906267, 3037000499, 4294967296, INT64_MAX, INT64_MIN, INT64_MIN + 1,
                             int64_t(1) << 53, (int64_t(1) << 53) + 1};
    const int64_t exps[] = {0, 1, 2, 3, 4, 5, 6, 7, 31, 32, 52, 53, 62, 63, 64, 65, -1, -2, -3, INT64_MAX, INT64_MIN,
                            (int64_t(1) << 53) + 1, -(int64_t(1) << 53) - 1};
    udref::array x, y;
    x.code = y.code = 14;
    x.width = y.width = 4000;
    x.data.resize(32000);
    y.data.resize(32000);
    for (int k = 0; k < 4000; k++) {
        int64_t b = k < 25 * 23 ? bases[k % 25] : int64_t(gen()) >> (gen() % 64);
        int64_t e = k < 25 * 23 ? exps[k / 25] : int64_t(gen() % 80) - 8;
        std::memcpy(x.data.data() + 8 * k, &b, 8);
        std::memcpy(y.data.data() + 8 * k, &e, 8);
    }
    for (int level = 0; level <= ud_simd_level_available(); level++) {
        ud_force_simd_level(level);
        uddiff::runner r(L());
        r.load({x, y});
        using V = udref::value;
        ASSERT_EQ(r.check("pow", {V::Arr(0), V::Arr(1)}), "") << "level " << level;
        for (int64_t e : {0, 1, 3, 5, 13, 63, 64, -1})
            ASSERT_EQ(r.check("pow", {V::Arr(0), V::Int(e)}), "") << "level " << level << " exponent " << e;
        for (int64_t b : {-3, -1, 2, 7})
            ASSERT_EQ(r.check("pow", {V::Int(b), V::Arr(1)}), "") << "level " << level << " base " << b;
    }
    ud_force_simd_level(-1);
}

// Calls that would ask for billions of element steps stop at the bound and
// finish quickly, also in the sanitizer build (processor time, so a busy
// machine does not fail them; unbounded work would take minutes).
TEST_F(Elementwise, WorkIsBoundedWhateverTheSpans) {
    exec("A = t_create('u8', 1, 4096, 1, 1) B = t_create('f64', 1, 100, 1, 1)");
    // Walks that end by themselves, and walks past the bound, which raise.
    struct Case { const char *call, *result; } cases[] = {
        {"A:add(1, true, 0, 0, 0, 1, 1, 2147483647)", "1"},   // count 0: the walk is skipped
        {"A:add(1, true, 0, 0, -5, 1, 1, 2147483647)", "1"},  // count below 0
        {"A:copy(A, true, 2147483647, -2147483648, 4096, 2147483647, -2147483648, 2147483647)", "1"},
        {"A:add(1, true, 0, -2147483648, 2147483647, 2147483647, 2147483647, 2147483647)", "1"},
        // Stride 0, whole spans; one-element spans over one place (these
        // visited 2^28 spans, seconds of pow, before there was a bound).
        {"A:add(A, true, 0, 0, 4096, 0, 0, 2147483647)",
         "add: the spans ask for 8796093018112 elements in 2147483647 spans, past the bound of 65536 elements in "
         "65536 spans"},
        {"B:add(B, true, 0, 0, 100, 0, 0, 2147483647)",
         "add: the spans ask for 214748364700 elements in 2147483647 spans, past the bound of 32768 elements in "
         "65536 spans"},
        {"B:pow(B, true, 0, 0, 1, 0, 0, 2147483647)",
         "pow: the spans ask for 2147483647 elements in 2147483647 spans, past the bound of 10922 elements in "
         "65536 spans"},
        {"A:copy(A, true, 0, 0, 1, 0, 0, 2147483647)",
         "copy: the spans ask for 2147483647 elements in 2147483647 spans, past the bound of 65536 elements in "
         "65536 spans"},
    };
    for (const Case &c : cases) {
        const std::clock_t t0 = std::clock();
        const std::string got = eval(std::string("pcall(function() return select('#', ") + c.call + ") end)");
        EXPECT_EQ(got, c.result[0] == '1' ? std::string("true\t1") : std::string("false\ttest:1: ") + c.result)
            << c.call;
        const double s = double(std::clock() - t0) / CLOCKS_PER_SEC;
        EXPECT_LT(s, 3.0) << c.call;
    }
    // The bounds: 16 passes over the largest array for the cheapest
    // operations, so 16 spans of 4096; 16 / 12 passes for pow on u8, so ten
    // spans of 512 and not eleven; as many spans of one as the largest
    // array's 65536 elements. A walk past them changes and charges nothing.
    exec("A:clear()");
    EXPECT_EQ(charge("add", "A, 1, true, 0, 0, 4096, 1, 0, 16"), 65536 / 24 + 16 / 2);
    EXPECT_EQ(eval("A[0], A[4095]"), "16\t16");
    EXPECT_EQ(eval("pcall(USERDATA.add, A, 1, true, 0, 0, 4096, 1, 0, 17)"),
              "false\tadd: the spans ask for 69632 elements in 17 spans, past the bound of 65536 elements in "
              "65536 spans");
    EXPECT_EQ(eval("A[0], A[4095]"), "16\t16");
    exec("A:clear() C = t_create('u8', 1, 4096) C:add(2, true) A:add(1, true, 0, 0, 4096, 1, 0, 7)");
    EXPECT_EQ(charge("pow", "A, C, true, 0, 0, 512, 0, 0, 10"), 4 * 5120 + 10 / 2);
    EXPECT_EQ(eval("A[0], A[511], A[512]"), "1\t1\t7");  // 7, 49, 97, 193, 129, then 1 in u8
    EXPECT_EQ(eval("select('#', pcall(A.pow, A, C, true, 0, 0, 512, 0, 0, 11)), A[0]"), "2\t1");
    exec("D = t_create('u8', 1, 65536)");
    EXPECT_EQ(charge("add", "D, 1, true, 0, 0, 1, 0, 0, 65536"), 65536 / 24 + 65536 / 2);
    exec("D:clear()");
    EXPECT_EQ(eval("D[0], pcall(D.add, D, 1, true, 0, 0, 1, 0, 0, 65537)"),
              "0\tfalse\tadd: the spans ask for 65537 elements in 65537 spans, past the bound of 1048576 elements in "
              "65536 spans");
    EXPECT_EQ(eval("D[0]"), "0");
}

}  // namespace
