// Typed arrays: the element-wise operations, their kernels and the kernel
// tables of each instruction-set level.
#pragma once

#include <cstdint>

#include "typed_ud.h"

extern "C" {
#include "lua.h"
}

// The element-wise operations that run the frame.
enum ud_op {
    UD_ADD, UD_SUB, UD_MUL, UD_DIV, UD_IDIV, UD_MOD, UD_POW,
    UD_BAND, UD_BOR, UD_BXOR, UD_SHL, UD_SHR,
    UD_MAX, UD_MIN, UD_ABS, UD_SGN, UD_SGN0,
    UD_COPY,
    UD_OP_COUNT
};

// Operand shapes: array with array, scalar on the right, scalar on the left.
enum ud_shape { UD_ARRAY, UD_RIGHT, UD_LEFT, UD_SHAPE_COUNT };

// Index of an element type in the kernel tables: u8, i16, i32, i64, f64; -1 for others.
inline int ud_type_slot(int code) {
    switch (code) {
    case UTYPE_U8: return 0;
    case UTYPE_I16: return 1;
    case UTYPE_I32: return 2;
    case UTYPE_I64: return 3;
    case UTYPE_F64: return 4;
    default: return -1;
    }
}

// One span: out[k] = op(a[k], b[k]) (array), op(a[k], s) (right) or
// op(s, a[k]) (left) for k from 0 to n - 1 in increasing order, each result
// stored before the next operands are read. 'si' is the scalar of the integer
// types (the element type keeps its low bits), 'sf' that of f64.
using ud_span_fn = void (*)(uint8_t *out, const uint8_t *a, const uint8_t *b, int64_t si,
                            double sf, int64_t n);

// out (rows x cols) = a (rows x inner) times b (inner x cols), every sum taken
// in increasing k from 0.0. The three areas do not overlap.
using ud_matmul_fn = void (*)(double *out, const double *a, const double *b, int64_t rows,
                              int64_t inner, int64_t cols);

struct ud_kernel_set {
    ud_span_fn span[UD_OP_COUNT][5][UD_SHAPE_COUNT];  // null where the type has no such operation
    ud_matmul_fn matmul;
};

// Instruction-set levels: 0 the x86-64 baseline, 1 AVX2, 2 AVX-512 (F, BW, DQ, VL).
const ud_kernel_set &ud_kernels_baseline();
const ud_kernel_set &ud_kernels_avx2();
const ud_kernel_set &ud_kernels_avx512();

// The kernels of the level in use: the best the processor has, unless forced.
const ud_kernel_set &ud_kernels();

// What the level choice reads from the processor.
struct ud_cpu_features {
    bool avx2 = false;    /* AVX2, with the OS saving its registers */
    bool avx512 = false;  /* AVX-512 F, BW, DQ and VL together */
    bool bmi2 = false;    /* BMI2, which both vector levels are built with */
};

// The best level a processor with features 'f' runs.
int ud_simd_level_for(ud_cpu_features f);

// The best level this processor runs.
int ud_simd_level_available();

// Test hook: use 'level' (clamped to what the processor runs); -1 goes back to the best.
void ud_force_simd_level(int level);

// The element-wise frame shared by every operation above.
int ud_frame(lua_State *L, ud_op op);

// Gathering through an i32 index array (also copy's form with an i32 second argument).
int ud_take(lua_State *L);

// Charges a 64-bit cycle count: negative counts are ignored, counts above
// INT32_MAX charge INT32_MAX.
void ud_charge(int64_t n);

// Most elements one take writes: 16 passes over the largest array there can
// be. Steps that would write more raise an error before writing anything.
inline constexpr int64_t ud_write_bound = int64_t(1) << 28;

// How far one call of the element-wise frame walks: at most ud_span_passes
// times the element count of the largest array it was given (a, b or out)
// in spans, and at most ud_walk_passes times that count in elements weighted
// by their cost (24 / D for the operation's CPU divisor D: 1 for the
// cheapest, 12 for the dearest), or ud_walk_floor of either when that is
// more. Every walk that goes through its arrays once, in spans of any length
// and whichever array advances (row sums into one row, one row over many,
// columns), fits; what repeats a pass over the same elements many times
// ends within a few tenths of a second even on the largest arrays. The size
// of a walk is known from its arguments before it starts: a walk past the
// bound raises an error and writes nothing. lerp raises for interiors
// beyond the span bound.
inline constexpr int64_t ud_walk_passes = 16;
inline constexpr int64_t ud_span_passes = 1;
inline constexpr int64_t ud_walk_floor = int64_t(1) << 16;
