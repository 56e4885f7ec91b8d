// The combine ops of a child's buffer into its parent's, mono and split into
// a left and a right buffer by pan gains. Written as plain loops over
// non-overlapping buffers so that the compiler processes several samples per
// instruction; results equal the one-by-one rule.
#include "engine.h"

// Where the processor has wider vectors, a second build of each op uses them.
#if defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define VECTOR_OP __attribute__((target_clones("avx2", "default")))
#else
#define VECTOR_OP
#endif

namespace {

inline int16_t clamp16(int32_t v) { return int16_t(v > 32767 ? 32767 : v < -32767 ? -32767 : v); }

inline int32_t scaled(int32_t c, uint32_t g) { return (c * int32_t(g)) / 4096; }

}  // namespace

VECTOR_OP void add_buffer(int16_t *__restrict dst, const int16_t *__restrict src, int32_t n) {
    for (int32_t k = 0; k < n; k++) dst[k] = clamp16(int32_t(dst[k]) + src[k]);
}

VECTOR_OP void mul_buffer(int16_t *__restrict dst, const int16_t *__restrict src, int32_t n, int32_t shift) {
    int sh = 15 - shift;
    for (int32_t k = 0; k < n; k++) {
        int32_t v = (int32_t(src[k]) * dst[k]) >> sh;
        dst[k] = clamp16(v);
    }
}

VECTOR_OP void xor_buffer(int16_t *__restrict dst, const int16_t *__restrict src, int32_t n) {
    for (int32_t k = 0; k < n; k++) dst[k] = int16_t(dst[k] ^ src[k]);
}

VECTOR_OP void or_buffer(int16_t *__restrict dst, const int16_t *__restrict src, int32_t n) {
    for (int32_t k = 0; k < n; k++) dst[k] = int16_t(dst[k] | src[k]);
}

VECTOR_OP void add_buffer_split(int16_t *__restrict left, int16_t *__restrict right, uint32_t gl, uint32_t gr,
                      const int16_t *__restrict src, int32_t n) {
    for (int32_t k = 0; k < n; k++) {
        left[k] = clamp16(int32_t(left[k]) + scaled(src[k], gl));
        right[k] = clamp16(int32_t(right[k]) + scaled(src[k], gr));
    }
}

VECTOR_OP void mul_buffer_split(int16_t *__restrict left, int16_t *__restrict right, uint32_t gl, uint32_t gr,
                      const int16_t *__restrict src, int32_t n, int32_t shift) {
    int sh = 15 - shift;
    for (int32_t k = 0; k < n; k++) {
        left[k] = clamp16((scaled(src[k], gl) * int32_t(left[k])) >> sh);
        right[k] = clamp16((scaled(src[k], gr) * int32_t(right[k])) >> sh);
    }
}

VECTOR_OP void xor_buffer_split(int16_t *__restrict left, int16_t *__restrict right, uint32_t gl, uint32_t gr,
                      const int16_t *__restrict src, int32_t n) {
    for (int32_t k = 0; k < n; k++) {
        left[k] = int16_t(left[k] ^ scaled(src[k], gl));
        right[k] = int16_t(right[k] ^ scaled(src[k], gr));
    }
}

VECTOR_OP void or_buffer_split(int16_t *__restrict left, int16_t *__restrict right, uint32_t gl, uint32_t gr,
                     const int16_t *__restrict src, int32_t n) {
    for (int32_t k = 0; k < n; k++) {
        left[k] = int16_t(left[k] | scaled(src[k], gl));
        right[k] = int16_t(right[k] | scaled(src[k], gr));
    }
}

void get_stereo_contributions(int32_t pan, uint32_t *left, uint32_t *right) {
    int32_t p = pan > 127 ? 127 : pan < -127 ? -127 : pan;
    *left = stereo_contrib[128 + p];
    *right = stereo_contrib[128 - p];
}
