// The element-wise and matrix kernels built for AVX2
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

#define UD_LEVEL_TABLE ud_kernels_avx2
// The product's accumulators: 32-byte vectors, 2 per row of a group of four.
#define UD_MM_VEC_BYTES 32
#define UD_MM_NV 2
#include "ud_kernels.inc"
