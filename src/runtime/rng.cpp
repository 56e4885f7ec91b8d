// The xoshiro256** generator.
#include "rng.h"

namespace {

// Steps taken and discarded after seeding, to spread a small seed.
inline constexpr int kSeedWarmupSteps = 8;

}  // namespace

uint64_t xoshiro256ss(rng_state_rec *state) {
    uint64_t *s = state->s;
    const uint64_t result = rol64(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rol64(s[3], 45);
    return result;
}

void xoshiro256ss_seed(rng_state_rec *state, uint64_t seed) {
    state->s[0] = seed ^ 0xDEADBEEFu;
    state->s[1] = 0xFF;
    state->s[2] = rol64(seed, 32);
    state->s[3] = 0;
    for (int i = 0; i < kSeedWarmupSteps; i++) xoshiro256ss(state);
}
