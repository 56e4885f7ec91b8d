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

#include "host_yield.h"
#include "pmount.h"
#include "vm_hooks.h"

inline constexpr int32_t PATH_CYCLES = 32;          /* resolving a path through the mounts */
inline constexpr size_t PATH_BYTES_PER_CYCLE = 1;   /* and for its length: each byte read, split and looked up */
inline constexpr size_t PATH_SCAN_BYTES_PER_CYCLE = 32;  /* of that, the scan for a zero byte (api_path) */
inline constexpr size_t FILE_BYTES_PER_CYCLE = 32;  /* bytes copied into or out of a file */
/* Each leading part of a path that names a cartridge is tested for a file
   to mount (a host folder and file test each) at every resolution: cycles
   a part, and its bytes per cycle. */
inline constexpr int64_t CART_PREFIX_CYCLES = 128;
inline constexpr uint64_t CART_PREFIX_BYTES_PER_CYCLE = 4;

/* Charges 'n' / 'per_cycle' cycles, nothing when that is 0. */
inline void charge_bytes(size_t n, size_t per_cycle) {
    const size_t cycles = n / per_cycle;
    if (cycles > 0) spend_cpu(static_cast<int32_t>(std::min<size_t>(cycles, INT32_MAX / 2)));
}

/* As charge_bytes for work about to be done in one piece: a charge past
   the watchdog's margin raises its error (host_charge_check) before it. */
inline void charge_bytes_first(lua_State *L, size_t n, size_t per_cycle) {
    const size_t cycles = n / per_cycle;
    if (cycles > 0) host_charge_check(L, static_cast<int32_t>(std::min<size_t>(cycles, INT32_MAX / 2)));
}

/* Charges the reading of a path argument of 'len' bytes that is not
   resolved (normalised at most). */
inline void charge_path_text(size_t len) {
    spend_cpu(PATH_CYCLES + static_cast<int32_t>(std::min<size_t>(
                                len / PATH_BYTES_PER_CYCLE - len / PATH_SCAN_BYTES_PER_CYCLE, INT32_MAX / 2)));
}

/*
** Charges the resolution of the path argument 'path' of 'len' bytes: its
** bytes, and the leading parts that name cartridges, whose tests grow with
** the square of their count. A charge that passes the watchdog's margin
** raises its error here, before anything is done.
*/
inline void charge_path(lua_State *L, const char *path, size_t len) {
    uint64_t parts = 0, part_bytes = 0;
    pdisk_cart_prefix_work(path, len, &parts, &part_bytes);
    const uint64_t cycles = PATH_CYCLES + len / PATH_BYTES_PER_CYCLE - len / PATH_SCAN_BYTES_PER_CYCLE +
                            parts * CART_PREFIX_CYCLES +
                            part_bytes / CART_PREFIX_BYTES_PER_CYCLE;
    host_charge_check(L, static_cast<int32_t>(std::min<uint64_t>(cycles, INT32_MAX / 2)));
}

#endif
