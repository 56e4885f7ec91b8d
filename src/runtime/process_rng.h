/*
** The current process's random generator (xoshiro256**), kept in its record.
*/
#ifndef QUILLMAR_RUNTIME_PROCESS_RNG_H
#define QUILLMAR_RUNTIME_PROCESS_RNG_H

#include <stdint.h>

/* The next output of the current process's generator; 0 without one. */
uint64_t xoshiro256ss_rand(void);

/* Seeds the current process's generator: {seed ^ 0xDEADBEEF, 0xFF,
   seed rotated left by 32, 0}, then eight steps discarded. */
void xoshiro256ss_srand(uint64_t seed);

#endif
