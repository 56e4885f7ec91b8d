/*
** Charges for work that does not depend on what a value holds: resolving a
** path through the mounts and copying bytes into or out of a file.
*/
#ifndef QUILLMAR_API_CHARGES_H
#define QUILLMAR_API_CHARGES_H

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "vm_hooks.h"

inline constexpr int32_t PATH_CYCLES = 32;          /* resolving a path through the mounts */
inline constexpr size_t PATH_BYTES_PER_CYCLE = 8;   /* and for its length */
inline constexpr size_t FILE_BYTES_PER_CYCLE = 64;  /* bytes copied into or out of a file */

/* Charges 'n' / 'per_cycle' cycles, nothing when that is 0. */
inline void charge_bytes(size_t n, size_t per_cycle) {
    const size_t cycles = n / per_cycle;
    if (cycles > 0) spend_cpu(static_cast<int32_t>(std::min<size_t>(cycles, INT32_MAX / 2)));
}

/* Charges the resolution of a path argument of 'len' bytes. */
inline void charge_path(size_t len) {
    spend_cpu(PATH_CYCLES + static_cast<int32_t>(std::min<size_t>(len / PATH_BYTES_PER_CYCLE, INT32_MAX / 2)));
}

#endif
