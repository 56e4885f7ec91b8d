// Scratch copies of f64 operands for the matrix operations whose output array
// is also an input: two process-wide byte buffers, made on first use and kept.
#include <cstring>

#include "buffer.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

// Initial bytes of each scratch buffer, and its group tag.
inline constexpr int32_t dat_initial_bytes = 1024;
inline constexpr int32_t dat_tag = 's';

buffer_rec *dat_storage[2];   // slots 0 and 1; never freed
bool temp_dat_inited = false; // both buffers exist

}  // namespace

double *copy_dat(int slot, const double *src, int32_t n) {
    if (!temp_dat_inited) {
        dat_storage[0] = create_buffer_2(dat_initial_bytes, dat_tag);
        dat_storage[1] = create_buffer_2(dat_initial_bytes, dat_tag);
        if (!dat_storage[0] || !dat_storage[1]) {
            destroy_buffer(dat_storage[0]);
            destroy_buffer(dat_storage[1]);
            dat_storage[0] = dat_storage[1] = nullptr;
            return nullptr;
        }
        temp_dat_inited = true;
    }
    if (slot < 0 || slot > 1 || n < 0) return nullptr;
    buffer_rec *b = dat_storage[slot];
    int64_t bytes = int64_t(n) * 8;
    ballocate(b, bytes);
    if (b->capacity < uint64_t(bytes) + 1) return nullptr;
    if (bytes > 0) std::memcpy(b->data, src, size_t(bytes));
    spend_cpu(n >> 8);
    return reinterpret_cast<double *>(b->data);
}
