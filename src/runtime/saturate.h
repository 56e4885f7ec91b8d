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

#ifdef __cplusplus
}
#endif

#endif
