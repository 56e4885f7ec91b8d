// The element-wise and matrix kernels built for AVX-512 (F, BW, DQ, VL)
// (compile options in CMakeLists.txt).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "saturate.h"
#include "ud_float.h"
#include "ud_ops.h"

#define UD_LEVEL_TABLE ud_kernels_avx512
#include "ud_kernels.inc"
