/*
** The per-process random generator: xoshiro256** over a four-word state that
** the process record embeds. C linkage.
*/
#ifndef QUILLMAR_RUNTIME_RNG_H
#define QUILLMAR_RUNTIME_RNG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Generator state. All zero in a fresh process record, which then draws 0
   for ever (the all-zero state maps to itself). */
typedef struct rng_state_rec {
    uint64_t s[4];  /* s0, s1, s2, s3 */
} rng_state_rec;

/* x rotated left by k bits, 0 <= k < 64. */
static inline uint64_t rol64(uint64_t x, int k) {
    return (x << k) | (x >> ((64 - k) & 63));
}

/* Advances 'state' by one step and returns the step's output. */
uint64_t xoshiro256ss(rng_state_rec *state);

/* Replaces all four words: s0 = seed ^ 0xDEADBEEF, s1 = 0xFF,
   s2 = rol64(seed, 32), s3 = 0, then eight steps with outputs discarded. */
void xoshiro256ss_seed(rng_state_rec *state, uint64_t seed);

#ifdef __cplusplus
}
#endif

#endif
