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

}  // namespace

int64_t memory_figure(const process_rec *rec) {
    uint64_t sum = rec->own_page_bytes + rec->lua_bytes - rec->memory_baseline +
                   static_cast<uint64_t>(MEMORY_FIXED_CHARGE);
    return static_cast<int64_t>(sum);
}

void *l_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
              size_t account_size) {
    (void)ud;
    process_rec *rec = cproc;
    uint8_t *block = ptr ? static_cast<uint8_t *>(ptr) - HEADER : nullptr;
    uint64_t old_account = block ? read_account(block) : 0;

    if (nsize == 0) {
        if (block) {
            if (rec) rec->lua_bytes -= old_account;
            std::free(block);
        }
        return nullptr;
    }

    spend_cpu(static_cast<int32_t>(static_cast<uint32_t>(nsize) / 64 + 4));

    // A running process may not grow past the hard ceiling; refusing here,
    // before the host allocates, keeps a runaway script from taking the
    // host's memory. Outside the process's own slice nothing is refused:
    // creation, tracebacks, collections and closing must not fail.
    bool refused = false;
    if (rec && rec->resume_depth > 0 && (!ptr || nsize > osize) && account_size > old_account) {
        int64_t after = memory_figure(rec) + static_cast<int64_t>(account_size - old_account);
        refused = after > MEMORY_HARD_CEILING;
    }

    void *fresh = nullptr;
    if (!refused && nsize <= SIZE_MAX - HEADER) fresh = std::realloc(block, nsize + HEADER);
    if (!fresh) {
        if (fail_hard == 1 && rec) {
            rec->out_of_memory = 1;
            cpu_superyielding = VM_SUPERYIELD;  // end the slice at the next instruction
        }
        return nullptr;  // the old block stays valid
    }
    uint64_t account = account_size;
    std::memcpy(fresh, &account, sizeof account);
    if (rec) rec->lua_bytes += account - old_account;
    return static_cast<uint8_t *>(fresh) + HEADER;
}
