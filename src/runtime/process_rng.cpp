// The current process's random generator.
#include "process_rng.h"

#include "process.h"
#include "rng.h"

uint64_t xoshiro256ss_rand(void) { return cproc ? xoshiro256ss(&cproc->rng_state) : 0; }

void xoshiro256ss_srand(uint64_t seed) {
    if (cproc) xoshiro256ss_seed(&cproc->rng_state, seed);
}
