// Double arithmetic with one NaN rule on every instruction-set level: when a
// result is NaN, it is the left operand's NaN if that is one, else the right
// operand's, quieted, else the processor's default NaN (sign set). Compilers
// may swap the operands of a commutative operation, and the processor keeps
// the NaN of whichever operand comes first, so without this rule two NaNs
// meeting would give different bits on different vector paths.
// Everything here has internal linkage: the kernels of every level include it.
#pragma once

#include <cstdint>
#include <cstring>

namespace {

inline constexpr uint64_t ud_default_nan_bits = 0xfff8000000000000ull;

[[maybe_unused]] inline double ud_quiet(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    b |= uint64_t(1) << 51;
    std::memcpy(&v, &b, 8);
    return v;
}

[[maybe_unused]] inline double ud_pin(double x, double y, double r) {
    if (r == r) return r;
    if (x != x) return ud_quiet(x);
    if (y != y) return ud_quiet(y);
    double d;
    std::memcpy(&d, &ud_default_nan_bits, 8);
    return d;
}

[[maybe_unused]] inline double ud_fadd(double x, double y) { return ud_pin(x, y, x + y); }
[[maybe_unused]] inline double ud_fsub(double x, double y) { return ud_pin(x, y, x - y); }
[[maybe_unused]] inline double ud_fmul(double x, double y) { return ud_pin(x, y, x * y); }
[[maybe_unused]] inline double ud_fdiv(double x, double y) { return ud_pin(x, y, x / y); }

}  // namespace
