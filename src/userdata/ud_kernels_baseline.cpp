// The element-wise and matrix kernels built for the x86-64 baseline
// (compile options in CMakeLists.txt).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "saturate.h"
#include "ud_float.h"
#include "ud_ops.h"

#define UD_LEVEL_TABLE ud_kernels_baseline
#include "ud_kernels.inc"
