// Saturating double-to-integer conversion.
#include "saturate.h"

#include <cmath>

int64_t saturate_double_to_i64(double v) {
    if (v != v) return 0;
    // 2^63 is exactly representable; anything at or above it saturates.
    if (v >= 9223372036854775808.0) return INT64_MAX;
    if (v <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(v);
}

int32_t saturate_double_to_i32(double v) {
    if (v != v) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t floor_double_to_i64_or_min(double v) {
    const double f = std::floor(v);
    // -2^63 is exact as a double; 2^63 is the first value out of range.
    if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(f);
}

int64_t ceil_double_to_i64_or_min(double v) {
    const double c = std::ceil(v);
    if (!(c >= -9223372036854775808.0 && c < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(c);
}
