/*
** The math functions' program-wide state, for their tests.
*/
#ifndef QUILLMAR_API_API_MATH_H
#define QUILLMAR_API_API_MATH_H

#include <stdint.h>

/* The entropy word srand mixes on every call; 0x011848D4 at start. */
extern uint32_t seed_entropy;

#endif
