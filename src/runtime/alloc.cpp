// The Lua allocator: per-process byte accounts and the memory figure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

#include "slice.h"
#include "vm_hooks.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define POISON_BYTES(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define UNPOISON_BYTES(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define POISON_BYTES(p, n) ((void)(p), (void)(n))
#define UNPOISON_BYTES(p, n) ((void)(p), (void)(n))
#endif

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

// Small blocks Lua frees wait here for the next allocation of their class
// instead of going back through free and malloc: Lua makes and drops small
// blocks more often than it does anything else. Class j holds blocks with at
// least 16 * j - 8 usable bytes, the malloc chunks of 16 * j bytes; a block
// waits with its first word linking the next one. The host is one thread.
inline constexpr size_t CACHE_CLASSES = 33;   // chunks up to 512 bytes
inline constexpr size_t CACHE_CLASS_BYTES = 0x10000;  // chunk bytes kept per class at most

struct block_cache {
    void *head[CACHE_CLASSES];
    size_t count[CACHE_CLASSES];
};
block_cache cache;

// The class that serves a block of 'bytes' (header included): the class of
// the chunk malloc would give for it.
inline size_t request_class(size_t bytes) {
    size_t j = (bytes + 23) >> 4;
    return j < 2 ? 2 : j;
}

// A block for 'bytes' (header included) from the cache, or from malloc.
inline void *take_block(size_t bytes) {
    size_t j = request_class(bytes);
    if (j < CACHE_CLASSES) {
        if (void *b = cache.head[j]) {
            UNPOISON_BYTES(static_cast<uint8_t *>(b) + HEADER, 16 * j - 8 - HEADER);
            void *next;
            std::memcpy(&next, b, sizeof next);
            cache.head[j] = next;
            cache.count[j]--;
            return b;
        }
    }
    return std::malloc(bytes);
}

// Gives a freed block to the cache, or back to malloc when its class is
// large or full.
inline void drop_block(void *block) {
    size_t usable = malloc_usable_size(block);
    size_t j = (usable + 8) >> 4;
    if (j < CACHE_CLASSES && cache.count[j] * 16 * j < CACHE_CLASS_BYTES) {
        void *next = cache.head[j];
        std::memcpy(block, &next, sizeof next);
        cache.head[j] = block;
        cache.count[j]++;
        POISON_BYTES(static_cast<uint8_t *>(block) + HEADER, usable - HEADER);
        return;
    }
    std::free(block);
}

// A block this large is mapped afresh by malloc, or taken from heap pages it
// gave back to the kernel after the last one: the kernel maps and clears
// each page at its first touch, a cycle a FRESH_BYTES_PER_CYCLE bytes.
inline constexpr uint32_t FRESH_BLOCK_BYTES = 0x10000;
inline constexpr uint32_t FRESH_BYTES_PER_CYCLE = 32;

// Charges an allocation of 'nsize' bytes to the running slice, taking the
// low 32 bits b of nsize: b / 64 + 4 cycles, and b / 32 more for a block of
// FRESH_BLOCK_BYTES or more (at most 2^26 + 2^27 + 3), saturating as
// spend_cpu does; inlined because Lua allocates more often than it calls
// anything else.
inline void charge_allocation(size_t nsize) {
    const uint32_t b = static_cast<uint32_t>(nsize);
    const int32_t n = static_cast<int32_t>(b / 64 + 4 + (b >= FRESH_BLOCK_BYTES ? b / FRESH_BYTES_PER_CYCLE : 0));
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
            drop_block(block);
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
        void *fresh = take_block(nsize + HEADER);
        return fresh ? account(fresh, account_size, 0) : allocation_failed(fail_hard);
    }
    uint8_t *block = static_cast<uint8_t *>(ptr) - HEADER;
    uint64_t old_account = read_account(block);
    if (refuse_growth(cproc, nsize > osize, old_account, account_size))
        return allocation_failed(fail_hard);
    void *fresh = std::realloc(block, nsize + HEADER);
    return fresh ? account(fresh, account_size, old_account) : allocation_failed(fail_hard);
}
