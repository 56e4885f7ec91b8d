// The element-wise and matrix kernels built for AVX-512 (F, BW, DQ, VL)
// (compile options in CMakeLists.txt).
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "saturate.h"
#include "ud_float.h"
#include "ud_ops.h"

#define UD_LEVEL_TABLE ud_kernels_avx512
// Element-wise loops stream through memory and run best on 256-bit registers
// (a 512-bit access at an 8-byte-aligned address splits a cache line every
// time); the product is bound by arithmetic and uses the full width.
#define UD_MATMUL_ATTR __attribute__((target("prefer-vector-width=512")))
// The product's accumulators: 64-byte vectors, 4 per row of a group of four.
#define UD_MM_VEC_BYTES 64
#define UD_MM_NV 4
#include "ud_kernels.inc"
