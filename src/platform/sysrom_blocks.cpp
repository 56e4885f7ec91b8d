// The sysrom.dat block reader and the block table.
#include "sysrom_blocks.h"

#include <cstring>

#include "buffer.h"
#include "host.h"

buffer_rec *dat_file[SYSROM_MAX_BLOCKS];
int dat_files;

namespace {

uint32_t read_u32_be(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// A new block buffer of capacity length + 8 holding 'n' bytes of 'src'.
buffer_rec *new_block(uint32_t length, const uint8_t *src, uint32_t n) {
    buffer_rec *b = create_buffer_2(int32_t(length + 7), 'i');
    if (!b) return nullptr;
    if (n) memcpy(b->data, src, n);
    b->length = int32_t(n);
    b->cursor = 0;
    return b;
}

}  // namespace

extern "C" int sysrom_split_blocks(const uint8_t *bytes, size_t size, buffer_rec **out, int max) {
    if (max < 0) max = 0;
    if (max > SYSROM_MAX_BLOCKS) max = SYSROM_MAX_BLOCKS;
    if (!bytes) size = 0;
    int count = 0;
    size_t pos = 0;
    while (size - pos >= 4) {
        const uint32_t length = read_u32_be(bytes + pos);
        if (length > SYSROM_MAX_BLOCK_LENGTH) break;
        if (count == max) {
            codo_debug(SYSROM_TOO_MANY_BLOCKS_MESSAGE);
            break;
        }
        pos += 4;
        const bool whole = uint64_t(length) <= uint64_t(size - pos);
        buffer_rec *b = new_block(length, bytes + pos, whole ? length : 0);
        if (!b) break;  // the allocation failure is already logged
        out[count++] = b;
        if (!whole) break;
        pos += length;
    }
    return count;
}

extern "C" void free_dat_files(void) {
    for (int i = 0; i < dat_files; i++) {
        destroy_buffer(dat_file[i]);
        dat_file[i] = nullptr;
    }
    dat_files = 0;
}

extern "C" int load_dat_files(const char *path) {
    free_dat_files();
    buffer_rec *whole = create_buffer_from_file(path);
    if (!whole) return 0;
    dat_files = sysrom_split_blocks(whole->data, size_t(whole->length), dat_file, SYSROM_MAX_BLOCKS);
    destroy_buffer(whole);
    return dat_files;
}

extern "C" buffer_rec *get_dat_file(int n) {
    if (n < 0 || n >= dat_files) return nullptr;
    dat_file[n]->cursor = 0;
    return dat_file[n];
}
