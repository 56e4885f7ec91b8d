// The math functions: exact results, snapped angles, signs of zero, result
// types, and the per-process generator with the shared entropy word.
#include <cmath>

#include "api_math.h"
#include "seam_fakes.h"

using MathCalls = SeamTest;

namespace {

// Distance in units in the last place between two finite doubles.
int64_t ulps(double a, double b) {
    int64_t ia, ib;
    std::memcpy(&ia, &a, 8);
    std::memcpy(&ib, &b, 8);
    if (ia < 0) ia = INT64_MIN - ia;
    if (ib < 0) ib = INT64_MIN - ib;
    return ia > ib ? ia - ib : ib - ia;
}

}  // namespace

TEST_F(MathCalls, TrigonometryInTurnsWithinOneUlpAndSnappedQuarters) {
    process_rec *p = spawn("");
    struct Case {
        const char *expr;
        double want;
    } cases[] = {
        {"cos(0.125)", 0.7071122000060868},     {"sin(0.1)", -0.5877802924264107},
        {"atan2(1, 1)", -0.1250012196794856},   {"atan2(0, -1)", 0.2500024393589712},
        {"atan2(0, 1)", -0.2500024393589712},   {"atan2(-1, 0)", -0.5000048787179424},
        {"atan2(-1, -0.0)", 0.5000048787179424}, {"cos(-0.25)", 1.532679489603634e-05},
        {"cos(0)", 1.0}, {"cos(1)", 1.0}, {"cos(-1)", 1.0}, {"cos(0.5)", -1.0}, {"cos(2.5)", -1.0},
        {"cos(0.25)", 0.0}, {"cos(0.75)", 0.0}, {"sin(0.25)", -1.0}, {"sin(0.75)", 1.0},
        {"sin(0.5)", 0.0}, {"cos('0.5')", -1.0}, {"cos()", 1.0}, {"sin({})", 0.0},
    };
    for (const Case &c : cases) {
        const double got = std::strtod(eval(p, std::string("string.format('%.17g', ") + c.expr + ")").c_str(), nullptr);
        EXPECT_LE(ulps(got, c.want), 1) << c.expr << " = " << got;
    }
    // Signs of zero, exactly.
    EXPECT_EQ(eval(p, "1 / sin(0.5), 1 / sin(0), 1 / sin(-1), 1 / atan2(1, 0), 1 / cos(0.25)"),
              "inf,inf,inf,-inf,inf");
}

TEST_F(MathCalls, ValuesAndTypesOfTheNumericCalls) {
    process_rec *p = spawn("");
    struct Case {
        const char *expr;
        const char *want;
    } cases[] = {
        {"abs(-5), math.type(abs(-5)), abs(-2.5), abs(math.mininteger), abs('-3')",
         "5,integer,2.5,9223372036854775807,3.0"},
        {"select(2, pcall(abs, nil))", "bad argument #1 to 'abs' (number expected, got nil)"},
        {"select(2, pcall(abs))", "bad argument #1 to 'abs' (number expected, got no value)"},
        {"select(2, pcall(abs, 'x'))", "bad argument #1 to 'abs' (number expected, got string)"},
        {"sgn(0), sgn(-0.5), sgn({}), sgn(-7), sgn(0/0), sgn('-2'), sgn('x'), sgn(), sgn(-0.0)",
         "1,-1,1,-1,1,-1,1,1,1"},
        {"math.type(sgn(-0.5))", "integer"},
        {"max(3, 5), math.type(max(3, 5)), max(2, 3.5), max(1.5), max(-1.5), max(nil, 4), min(7)",
         "5,integer,3.5,1.5,0.0,4.0,0"},
        {"max(-3), min(5), max(2, '7'), math.type(max(2, '7')), min(2, {}), math.type(min(2.0, 1))",
         "0,0,7,integer,0,float"},
        {"max(0/0, 1), max(1, 0/0) ~= max(1, 0/0), min(0/0, 1)", "1.0,true,1.0"},
        {"mid(5, 1, 3), mid(5), mid(1.5), mid(2, 2, 9), math.type(mid(1, 2, 3)), math.type(mid(1, 2.0, 3))",
         "3,0,0.0,2,integer,float"},
        {"mid(3, 1, 2), mid(1, 3, 2), mid(2, 3, 1), mid(-1, '5', 2)", "2,2,2,2"},
        {"sqrt(4), sqrt(), sqrt(-1) ~= sqrt(-1), math.type(sqrt(4))", "2.0,0.0,true,float"},
        {"flr(3.7), flr(-3.2), flr('2.5'), flr(nil), flr(7), ceil(3.2), ceil(-3.7), ceil(7)",
         "3,-4,2,0,7,4,-3,7"},
        {"flr(1e300), ceil(-1/0), flr(0/0), ceil(2^63), ceil(-2^63)",
         "-9223372036854775808,-9223372036854775808,-9223372036854775808,-9223372036854775808,"
         "-9223372036854775808"},
        {"math.type(flr(2.0)), math.type(ceil('3'))", "integer,integer"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, c.expr), c.want) << c.expr;
}

TEST_F(MathCalls, EachProcessDrawsFromItsOwnSeedableGenerator) {
    skip_to_pid(4);  // the first process 1 keeps the generator its wavetable noise left
    process_rec *a = spawn("");
    process_rec *b = spawn("");
    EXPECT_EQ(eval(a, "rnd(), rnd(10)"), "0.0,0.0");  // never seeded
    const std::string seq = eval(a, "srand(42) return rnd(), rnd(100), rnd({1, 2, 3, 4, 5})");
    EXPECT_EQ(eval(a, "srand(42) return rnd(), rnd(100), rnd({1, 2, 3, 4, 5})"), seq);
    // Interleaved: b's draws do not disturb a's.
    eval(a, "srand(42)");
    eval(b, "srand(42)");
    const std::string a1 = eval(a, "rnd()");
    const std::string b1 = eval(b, "rnd()");
    const std::string b2 = eval(b, "rnd()");
    const std::string a2 = eval(a, "rnd()");
    EXPECT_EQ(a1, b1);
    EXPECT_EQ(a2, b2);
    EXPECT_NE(a1, a2);

    eval(a, "srand(7)");
    EXPECT_EQ(eval(a, "(function() local lo, hi = 0, -10 for i = 1, 2000 do local r = rnd(-5) "
                      "lo, hi = math.min(lo, r), math.max(hi, r) end return lo > -5, hi <= 0 end)()"),
              "true,true");
    EXPECT_EQ(eval(a, "(function() local t = setmetatable({10, 20, 30}, {__len = function() return 1000 end}) "
                      "for i = 1, 300 do local v = rnd(t) if v ~= 10 and v ~= 20 and v ~= 30 then return v end "
                      "end return 'ok' end)()"),
              "ok");
    EXPECT_EQ(eval(a, "rnd(0), rnd('a'), math.type(rnd(10)), select('#', rnd({}))"), "0.0,0.0,float,0");
    EXPECT_EQ(eval(a, "(function() for i = 1, 1000 do local r = rnd() if r < 0 or r >= 1 then return r end "
                      "end return 'ok' end)()"),
              "ok");
}

TEST_F(MathCalls, UnseededSrandStepsTheSharedEntropyWord) {
    process_rec *p = spawn("");
    seed_entropy = 0x011848D4;
    eval(p, "srand()");
    EXPECT_EQ(seed_entropy, 0xD2338735u);
    eval(p, "srand()");
    EXPECT_EQ(seed_entropy, 0xB075C3BCu);
    eval(p, "srand(5)");  // a given seed steps it too
    EXPECT_EQ(seed_entropy, 0x416A2500u);
    const std::string first = eval(p, "srand() return rnd()");
    EXPECT_NE(eval(p, "srand() return rnd()"), first);
}
