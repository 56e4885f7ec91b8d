// The Lua allocator: per-process byte accounts and the memory figure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "slice.h"
#include "vm_hooks.h"

namespace {

// Every block starts with its account size; Lua gets the byte after it.
// Eight bytes keep Lua's blocks aligned for its widest value.
inline constexpr size_t HEADER = 8;
static_assert(alignof(std::max_align_t) >= HEADER, "malloc alignment covers the header");

inline uint64_t read_account(const uint8_t *block) {
    uint64_t v;
    std::memcpy(&v, block, sizeof v);
    return v;
}

// Charges an allocation of 'nsize' bytes to the running slice, the low 32
// bits of nsize / 64 + 4 cycles (4 to 2^26 + 3), saturating as spend_cpu
// does; inlined because Lua allocates more often than it calls anything else.
inline void charge_allocation(size_t nsize) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(nsize) / 64 + 4);
    if (cpu_cycles >= VM_CYCLES_CAP - n)
        cpu_cycles = VM_CYCLES_CAP;
    else
        cpu_cycles += n;
}

// True when growing 'rec' from 'old_account' to 'account_size' bytes would
// take its memory figure beyond the hard ceiling while its own slice runs.
// Host work outside slices (creation, the traceback, collections, closing)
// is never refused.
inline bool refuse_growth(const process_rec *rec, bool grows, uint64_t old_account,
                          size_t account_size) {
    if (!rec || rec->resume_depth == 0 || !grows || account_size <= old_account) return false;
    int64_t after = memory_figure(rec) + static_cast<int64_t>(account_size - old_account);
    return after > MEMORY_HARD_CEILING;
}

// What a refused or failed allocation leaves behind: a final failure
// ('fail_hard' 1) marks the current process and ends its slice. Null.
[[gnu::cold, gnu::noinline]] void *allocation_failed(int fail_hard) {
    if (fail_hard == 1 && cproc) {
        cproc->out_of_memory = 1;
        cpu_superyielding = VM_SUPERYIELD;  // end the slice at the next instruction
    }
    return nullptr;
}

// Writes the account into the header of the new block 'fresh' and counts
// its growth from 'old_account' to the current process; Lua's pointer.
inline void *account(void *fresh, size_t account_size, uint64_t old_account) {
    uint64_t v = account_size;
    std::memcpy(fresh, &v, sizeof v);
    if (process_rec *rec = cproc) rec->lua_bytes += v - old_account;
    return static_cast<uint8_t *>(fresh) + HEADER;
}

}  // namespace

int64_t memory_figure(const process_rec *rec) {
    uint64_t sum = rec->own_page_bytes + rec->lua_bytes - rec->memory_baseline +
                   static_cast<uint64_t>(MEMORY_FIXED_CHARGE);
    return static_cast<int64_t>(sum);
}

void *l_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
              size_t account_size) {
    (void)ud;
    if (nsize == 0) {
        if (ptr) {
            uint8_t *block = static_cast<uint8_t *>(ptr) - HEADER;
            if (process_rec *rec = cproc) rec->lua_bytes -= read_account(block);
            std::free(block);
        }
        return nullptr;
    }

    charge_allocation(nsize);
    if (nsize > SIZE_MAX - HEADER) return allocation_failed(fail_hard);

    // A running process may not grow past the hard ceiling; refusing here,
    // before the host allocates, keeps a runaway script from taking the
    // host's memory. The old block stays valid whenever null is returned.
    if (!ptr) {
        if (refuse_growth(cproc, true, 0, account_size)) return allocation_failed(fail_hard);
        void *fresh = std::malloc(nsize + HEADER);
        return fresh ? account(fresh, account_size, 0) : allocation_failed(fail_hard);
    }
    uint8_t *block = static_cast<uint8_t *>(ptr) - HEADER;
    uint64_t old_account = read_account(block);
    if (refuse_growth(cproc, nsize > osize, old_account, account_size))
        return allocation_failed(fail_hard);
    void *fresh = std::realloc(block, nsize + HEADER);
    return fresh ? account(fresh, account_size, old_account) : allocation_failed(fail_hard);
}
