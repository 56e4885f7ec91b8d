/*
** The one conversion of untrusted doubles to integers: saturating, with NaN
** giving 0, so no value of a script can reach an undefined conversion.
*/
#ifndef QUILLMAR_RUNTIME_SATURATE_H
#define QUILLMAR_RUNTIME_SATURATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Truncates toward zero; NaN gives 0, values beyond the range the nearest bound. */
int64_t saturate_double_to_i64(double v);

/*
** floor(v) as a 64-bit integer, with NaN, infinities and values outside the
** 64-bit range giving INT64_MIN (the reading of host integer arguments and of
** f64 elements converted to integer types).
*/
int64_t floor_double_to_i64_or_min(double v);

/* ceil(v) as a 64-bit integer, with the same INT64_MIN for what does not fit. */
int64_t ceil_double_to_i64_or_min(double v);

/* As saturate_double_to_i64, within the 32-bit range. */
int32_t saturate_double_to_i32(double v);

/*
** Truncates toward zero; NaN and values outside the range give INT32_MIN or
** INT64_MIN (typed-array scalars and integer results of pow).
*/
static inline int32_t trunc_double_to_i32_or_min(double v) {
    /* Every value whose truncation lies in [-2^31, 2^31) converts; NaN fails both tests. */
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return (int32_t)v;
}
static inline int64_t trunc_double_to_i64_or_min(double v) {
    /* -2^63 is exact and in range; the first double above 2^63 - 1 is 2^63. */
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return INT64_MIN;
    return (int64_t)v;
}

#ifdef __cplusplus
}
#endif

#endif
