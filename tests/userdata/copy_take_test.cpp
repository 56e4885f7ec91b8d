// copy (fills, clones, spans; a gather when the second argument is i32),
// take with its steps, runs and fresh outputs, and clear.
#include <ctime>
#include <cstring>
#include <random>
#include <string>

#include "ud_diff.h"
#include "ud_fixture.h"

namespace {

using CopyTake = UdTest;

struct eval_case {
    const char *setup, *expr, *want;
};

TEST_F(CopyTake, CopyTakeAndClearFollowTheirRules) {
    const eval_case cases[] = {
        {"A = vec('u8', 1, 2, 3)", "dump(A:copy()), A:copy() ~= A, dump(A:copy(5))", "3x1 u8 1: 1 2 3\ttrue\t3x1 u8 1: 5 5 5"},
        {"A = vec('u8', 1, 2, 3) A:copy(256, true)", "dump(A)", "3x1 u8 1: 0 0 0"},
        {"A = vec('i16', 1, 2, 3) B = vec('i16', 9, 8)", "dump(A:copy(B))", "3x1 i16 1: 9 8 3"},
        {"A = vec('i16', 1, 2, 3) B = vec('i16', 9, 8) A:copy(B, true)", "dump(A)", "3x1 i16 1: 9 8 3"},
        // dst:copy(src, true, s, d, n) and a rectangle through the span arguments.
        {"D = vec('i16', 0, 0, 0, 0, 0) S = vec('i16', 1, 2, 3, 4) D:copy(S, true, 1, 2, 2)", "dump(D)",
         "5x1 i16 1: 0 0 2 3 0"},
        {"D = t_create('u8', 2, 4, 3) S = t_create('u8', 2, 3, 3) for i = 0, 8 do S[i] = i + 1 end "
         "D:copy(S, true, 0, 1, 2, 3, 4, 3)",
         "dump(D)", "4x3 u8 2: 0 1 2 0 0 4 5 0 0 7 8 0"},
        // An i32 second argument makes copy a gather, also between two i32 arrays.
        {"A = vec('f64', 10, 11, 12, 13) I = vec('i32', 3, 0)", "dump(A:copy(I))", "2x1 f64 1: 13.0 10.0"},
        {"A = vec('i32', 10, 11, 12, 13) J = vec('i32', 2, 2, 1)", "dump(A:copy(J))", "3x1 i32 1: 12 12 11"},
        // take: indices outside src leave 0; runs cut at the end of src, or start before it.
        {"S = vec('u8', 1, 2, 3, 4, 5, 6, 7, 8) I = vec('i32', 3, 0, 7, -1, 8)", "dump(S:take(I))",
         "5x1 u8 1: 4 1 8 0 0"},
        {"S = vec('u8', 1, 2, 3, 4, 5, 6) I = vec('i32', 4, -2)", "dump(S:take(I, nil, 0, 0, 4))",
         "4x2 u8 2: 5 6 0 0 1 2 0 0"},
        // idx_stride 3 from 2 on 10 indices: two steps (positions 2 and 5).
        {"S = vec('i16', 0, 10, 20, 30, 40, 50, 60, 70, 80, 90) I = seq('i32', 10) O = seq('i16', 3, function() return -1 end)",
         "dump(S:take(I, O, 2, 0, 1, 3))", "3x1 i16 1: 20 50 -1"},
        // idx_stride 0: no steps, the output unchanged, one cycle.
        {"S = vec('u8', 1, 2) I = vec('i32', 1, 0) O = vec('u8', 7, 7)", "dump(S:take(I, O, 0, 0, 1, 0))", "2x1 u8 1: 7 7"},
        // Refusals: a non-i32 index array, an out of another type.
        {"S = vec('u8', 1, 2) I = vec('i16', 1, 0)", "select('#', S:take(I)), dump(S:copy(vec('u8', 9)))",
         "0\t2x1 u8 1: 9 2"},
        {"S = vec('u8', 1, 2) I = vec('i32', 1, 0) O = vec('i16', 0, 0)", "select('#', S:take(I, O))", "0"},
        // Steps that would write more than 2^28 elements raise before writing
        // (they stopped there and returned the output as if complete).
        {"S = seq('u8', 4096) I = t_create('i32', 1, 70000) O = t_create('u8', 1, 4096)",
         "(function() local ok, e = pcall(S.take, S, I, O, 0, 0, 4096, 1, 0) return ok, e, O[4095] end)()",
         "false\ttake: the steps write up to 286720000 elements, past the bound of 268435456 elements\t0"},
        // A fresh 2-D output above 16 MiB: 4097 rows of 4096.
        {"S = vec('u8', 1, 2) I = vec('i32', 0)", "select('#', S:take(I, nil, 0, 0, 4096, 1, 4096, 4097))", "0"},
        // clear zeroes and returns nothing.
        {"A = vec('i64', 1, -2, 3)", "select('#', A:clear()), dump(A)", "0\t3x1 i64 1: 0 0 0"},
    };
    exec("function seq(ty, n, f) local a = t_create(ty, 1, n, 1, 1) for i = 0, n - 1 do a[i] = f and f(i) or i end return a end");
    for (const eval_case &c : cases) {
        exec(c.setup);
        EXPECT_EQ(eval(c.expr), c.want) << c.setup << " | " << c.expr;
    }
}

TEST_F(CopyTake, Charges) {
    exec("S = t_create('u8', 1, 10, 1, 1) I = t_create('i32', 1, 5, 1, 1) O = t_create('u8', 1, 5, 1, 1) "
         "A = t_create('u8', 1, 1000, 1, 1) F = t_create('f64', 1, 1000, 1, 1) Z = t_create('i32', 1, 100, 1, 1)");
    EXPECT_EQ(charge("take", "S, I, O"), 5 / 24 + 5 / 2);
    EXPECT_EQ(charge("take", "S, I, O, 0, 0, 1, 0"), 1);  // idx_stride 0
    // 4096 steps of 16 into S itself: only steps 0 to 9 copy anything (55
    // elements); the runs the others would cut below nothing take nothing
    // off the steps' half cycles.
    exec("Y = t_create('i32', 1, 4096, 1, 1)");
    EXPECT_EQ(charge("take", "S, Y, true, 0, 0, 16, 1, 1"), 55 / 24 + 4096 / 2);
    // 4096 runs of 70,000 could pass the write bound, so they are counted
    // first (half a cycle a step): 100 apart, only the first 700 copy.
    exec("B = t_create('u8', 1, 70000, 1, 1)");
    EXPECT_EQ(charge("take", "B, Y, true, 0, 0, 70000, 1, 100"), 4096 / 2 + 24535000 / 24 + 4096 / 2);
    EXPECT_EQ(charge("clear", "A"), 15);
    EXPECT_EQ(charge("clear", "F"), 125);
    EXPECT_EQ(charge("copy", "A, 7, true"), 1000 / 24);
    EXPECT_EQ(charge("copy", "F"), (1000 >> 7) + 1000 / 12);
    // idx_offset past the end with idx_count 2^31 - 1: every step lies outside
    // idx, so nothing runs, but the steps are charged.
    const std::clock_t t0 = std::clock();
    EXPECT_EQ(charge("take", "S, Z, O, 1000, 0, 1, 1, 1, 2147483647"), 2147483647 / 2);
    EXPECT_LT(double(std::clock() - t0) / CLOCKS_PER_SEC, 3.0);
}

// take writing into src or into idx, with overlapping runs: steps run in
// order, each index read just before its run is copied.
TEST_F(CopyTake, TakeIntoItsOwnOperandsFollowsStepOrder) {
    uddiff::runner r(L());
    for (int seed = 0; seed < 200; seed++) {
        udref::array src, idx;
        src.code = 13;
        src.width = 40;
        src.data.resize(160);
        idx.code = 13;
        idx.width = 12;
        idx.data.resize(48);
        for (int k = 0; k < 40; k++) {
            int32_t v = (k * 7 + seed) % 45 - 3;
            std::memcpy(src.data.data() + 4 * k, &v, 4);
        }
        for (int k = 0; k < 12; k++) {
            int32_t v = (k * 5 + seed * 3) % 44 - 2;
            std::memcpy(idx.data.data() + 4 * k, &v, 4);
        }
        r.load({src, idx});
        const int span = 1 + seed % 6, out_stride = seed % 5 - 1;
        for (int into = 0; into < 3; into++) {
            std::vector<udref::value> args = {
                udref::value::Arr(into == 2 ? 1 : 0), udref::value::Arr(1),
                into == 0 ? udref::value::Bool(true) : udref::value::Arr(into == 1 ? 1 : 0),
                udref::value::Int(seed % 3), udref::value::Int(seed % 7 - 2), udref::value::Int(span),
                udref::value::Int(1 + seed % 2), udref::value::Int(out_stride)};
            ASSERT_EQ(r.check("take", args), "");
        }
    }
}

// A run a few elements ahead of its source within one array repeats the
// source's first elements; one behind it moves the source down. Every type,
// short periods and long runs, against the reference's element-by-element copy.
TEST_F(CopyTake, RunsOverlappingTheirSourceFollowElementOrder) {
    std::mt19937 gen(11);
    uddiff::runner r(L());
    for (int code : {3, 12, 13, 14, 22}) {
        udref::array src, idx;
        src.code = code;
        src.width = 700;
        src.data.resize(size_t(src.count() * src.size()));
        for (auto &byte : src.data) byte = uint8_t(gen());
        idx.code = 13;
        idx.width = 1;
        idx.data.assign(4, 0);
        for (int32_t e : {0, 37}) {
            std::memcpy(idx.data.data(), &e, 4);
            for (int d : {1, 2, 3, 5, 8, -1, -2, -3}) {
                for (int span : {2, 3, 9, 64, 333, 700}) {
                    r.load({src, idx});
                    using V = udref::value;
                    ASSERT_EQ(r.check("take", {V::Arr(0), V::Arr(1), V::Bool(true), V::Int(0), V::Int(e + d), V::Int(span)}), "")
                        << "type " << code << " index " << e << " distance " << d << " span " << span;
                }
            }
        }
    }
}

}  // namespace
