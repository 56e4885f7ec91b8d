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

// Written without branches, so loops of it run on whole vector registers.
[[maybe_unused]] inline double ud_pin(double x, double y, double r) {
    uint64_t xb, yb, rb;
    std::memcpy(&xb, &x, 8);
    std::memcpy(&yb, &y, 8);
    std::memcpy(&rb, &r, 8);
    const uint64_t nan_bits = ((x != x) ? xb : (y != y) ? yb : ud_default_nan_bits) | (uint64_t(1) << 51);
    const uint64_t bits = (r != r) ? nan_bits : rb;
    double out;
    std::memcpy(&out, &bits, 8);
    return out;
}

[[maybe_unused]] inline double ud_fadd(double x, double y) { return ud_pin(x, y, x + y); }
[[maybe_unused]] inline double ud_fsub(double x, double y) { return ud_pin(x, y, x - y); }
[[maybe_unused]] inline double ud_fmul(double x, double y) { return ud_pin(x, y, x * y); }
[[maybe_unused]] inline double ud_fdiv(double x, double y) { return ud_pin(x, y, x / y); }

}  // namespace
