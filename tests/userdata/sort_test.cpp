// sort: rows move whole, keys in order, the count of comparisons returned
// and charged, NaN keys in their fixed place.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ud_fixture.h"

namespace {

using Sort = UdTest;

struct eval_case {
    const char *setup, *expr, *want;
};

TEST_F(Sort, SortsRowsByTheirKeyColumn) {
    exec("function mat(ty, w, h, ...) local a = t_create(ty, 2, w, h, 1) for i, v in ipairs{...} do a[i - 1] = v end return a end");
    const eval_case cases[] = {
        {"A = vec('u8', 5, 200, 1) A:sort()", "dump(A)", "3x1 u8 1: 1 5 200"},
        {"A = vec('i16', 3, -2, 7) A:sort(0, true)", "dump(A)", "3x1 i16 1: 7 3 -2"},
        {"A = mat('i32', 2, 3, 1, 30, 2, 10, 3, 20) A:sort(1)", "dump(A)", "2x3 i32 2: 2 10 3 20 1 30"},
        {"A = mat('i32', 2, 3, 1, 30, 2, 10, 3, 20)", "(A:sort(2)), (A:sort(-1)), dump(A)", "nil\tnil\t2x3 i32 2: 1 30 2 10 3 20"},
        {"A = vec('u8', 2, 1)", "(A:sort(1)), dump(A)", "nil\t2x1 u8 1: 2 1"},
        {"A = vec('i64', 1, 3, 2) A:sort(0, nil)", "dump(A)", "3x1 i64 1: 1 2 3"},
        {"A = vec('i64', 1, 3, 2) A:sort(0, false)", "dump(A)", "3x1 i64 1: 1 2 3"},
        {"A = vec('i64', 1, 3, 2) A:sort(0, 0)", "dump(A)", "3x1 i64 1: 3 2 1"},
        {"A = mat('f64', 4, 1, 3, 1, 4, 2)", "(A:sort(1)), A:sort(0) >= 3, dump(A)", "nil\ttrue\t4x1 f64 2: 1.0 2.0 3.0 4.0"},
        {"A = vec('u8', 9)", "A:sort()", "0"},
        {"A = vec('i32', 1, 2)", "A:sort() >= 1", "true"},
        // NaN keys come last ascending and first descending; -0.0 equals 0.0.
        {"A = vec('f64', 0/0, 2, -1, 0/0, -1/0) A:sort()", "dump(A)", "5x1 f64 1: -inf -1.0 2.0 nan nan"},
        {"A = vec('f64', 0/0, 2, -1, 0/0, -1/0) A:sort(0, true)", "dump(A)", "5x1 f64 1: nan nan 2.0 -1.0 -inf"},
    };
    for (const eval_case &c : cases) {
        exec(c.setup);
        std::string got = eval(c.expr);
        // Lua prints NaN as "nan" or "-nan" by its sign.
        for (size_t p; (p = got.find("-nan")) != std::string::npos;) got.replace(p, 4, "nan");
        EXPECT_EQ(got, c.want) << c.setup << " | " << c.expr;
    }
}

// Every type, widths 1 to 9, every key column, both directions: the rows
// come out a permutation of the rows in with their keys in order; the
// result is at least rows - 1, and the charge is the result and, for rows
// of more than one element, the bytes of the rows moved twice / 64.
TEST_F(Sort, PermutesRowsIntoKeyOrderAndChargesItsCount) {
    std::mt19937 gen(5);
    const char *types[] = {"u8", "i16", "i32", "i64", "f64"};
    for (const char *ty : types) {
        for (int w = 1; w <= 9; w++) {
            const int h = 2 + int(gen() % 60);
            for (int key = 0; key < w; key++) {
                for (int desc = 0; desc < 2; desc++) {
                    std::string setup = std::string("A = t_create('") + ty + "', 2, " + std::to_string(w) + ", " +
                                        std::to_string(h) + ", 1) for i = 0, #A - 1 do A[i] = ";
                    setup += std::string(ty) == "f64" ? "math.random(-4, 4) / 2 end" : "math.random(-5, 300) end";
                    exec("math.randomseed(" + std::to_string(gen()) + ") " + setup);
                    exec("BEFORE = {} for r = 0, " + std::to_string(h - 1) + " do local t = {} for c = 0, " +
                         std::to_string(w - 1) + " do t[#t + 1] = tostring(A[r * " + std::to_string(w) +
                         " + c]) end BEFORE[#BEFORE + 1] = table.concat(t, ',') end");
                    const std::string args = "A, " + std::to_string(key) + (desc ? ", true" : ", false");
                    exec("N = A:sort(" + std::to_string(key) + (desc ? ", true)" : ", false)"));
                    const std::string check = R"((function()
                      local w, h, key, desc = )" + std::to_string(w) + ", " + std::to_string(h) + ", " +
                                              std::to_string(key) + ", " + (desc ? "true" : "false") + R"(
                      local after = {}
                      for r = 0, h - 1 do
                        local t = {}
                        for c = 0, w - 1 do t[#t + 1] = tostring(A[r * w + c]) end
                        after[#after + 1] = table.concat(t, ',')
                        if r > 0 then
                          local p, q = A[(r - 1) * w + key], A[r * w + key]
                          if (desc and p < q) or (not desc and p > q) then return 'order at row ' .. r end
                        end
                      end
                      local count = {}
                      for i = 1, h do count[BEFORE[i]] = (count[BEFORE[i]] or 0) + 1 end
                      for i = 1, h do
                        if not count[after[i]] or count[after[i]] == 0 then return 'rows differ' end
                        count[after[i]] = count[after[i]] - 1
                      end
                      if N < h - 1 then return 'count ' .. N end
                      return 'ok'
                    end)())";
                    ASSERT_EQ(eval(check), "ok") << ty << " w " << w << " key " << key << " desc " << desc;
                    // The same sort again (now on sorted rows) charges what it returns.
                    exec("N2 = A:sort(" + std::to_string(key) + (desc ? ", true)" : ", false)"));
                    const int32_t n2 = int32_t(std::stoll(eval("N2")));
                    const int size = std::string(ty) == "u8" ? 1 : std::string(ty) == "i16" ? 2 : std::string(ty) == "i32" ? 4 : 8;
                    const int32_t moved = w > 1 ? h * w * size / 16 + h : 0;
                    EXPECT_EQ(charge("sort", args), std::max(n2 + moved, 1)) << ty;
                }
            }
        }
    }
}

// Sorted and all-equal arrays of 2^20 elements finish quickly.
TEST_F(Sort, SortedAndEqualKeysFinishQuickly) {
    exec("A = t_create('i32', 1, 1048576, 1, 1) for i = 0, #A - 1 do A[i] = i end "
         "B = t_create('u8', 1, 1048576, 1, 1)");
    for (const char *call : {"A:sort()", "A:sort(0, true)", "B:sort()"}) {
        const std::clock_t t0 = std::clock();
        std::string n = eval(call);
        const double s = double(std::clock() - t0) / CLOCKS_PER_SEC;
        EXPECT_LT(s, 3.0) << call;
        EXPECT_LT(std::stoll(n), 1048576LL * 60) << call;
    }
    EXPECT_EQ(eval("A[0], A[1048575]"), "1048575\t0");
}

}  // namespace
