// The current process's random generator.
#include "process_rng.h"

#include "process.h"

namespace {

inline uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> ((64 - k) & 63)); }

uint64_t step(uint64_t *s) {
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

}  // namespace

uint64_t xoshiro256ss_rand(void) { return cproc ? step(cproc->rng_state) : 0; }

void xoshiro256ss_srand(uint64_t seed) {
    if (!cproc) return;
    uint64_t *s = cproc->rng_state;
    s[0] = seed ^ 0xDEADBEEFu;
    s[1] = 0xFF;
    s[2] = rotl(seed, 32);
    s[3] = 0;
    for (int i = 0; i < 8; i++) step(s);
}
