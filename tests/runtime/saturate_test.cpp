// Untrusted doubles become integers without undefined conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "saturate.h"

TEST(Saturate, ClampsNaNInfinitiesAndOutOfRangeValues) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { double in; int64_t i64; int32_t i32; } cases[] = {
        {std::nan(""), 0, 0},
        {inf, INT64_MAX, INT32_MAX},
        {-inf, INT64_MIN, INT32_MIN},
        {1e300, INT64_MAX, INT32_MAX},
        {-1e300, INT64_MIN, INT32_MIN},
        {9223372036854775808.0, INT64_MAX, INT32_MAX},
        {-9223372036854775808.0, INT64_MIN, INT32_MIN},
        {7.9, 7, 7},
        {-7.9, -7, -7},
        {3e9, 3000000000, INT32_MAX},
        {-3e9, -3000000000, INT32_MIN},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(saturate_double_to_i64(c.in), c.i64) << c.in;
        EXPECT_EQ(saturate_double_to_i32(c.in), c.i32) << c.in;
    }
}
