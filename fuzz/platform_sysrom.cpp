// Fuzz target: the sysrom.dat block reader over arbitrary bytes. Every block
// kept must lie inside the input in order, at most 64 are kept, and only the
// last may be a cut-short (empty) block.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "buffer.h"
#include "sysrom_blocks.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "sysrom: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    buffer_rec *blocks[SYSROM_MAX_BLOCKS] = {};
    const int n = sysrom_split_blocks(data, size, blocks, SYSROM_MAX_BLOCKS);
    if (n < 0 || n > SYSROM_MAX_BLOCKS) fail("block count out of range");
    size_t pos = 0;
    for (int i = 0; i < n; i++) {
        if (size - pos < 4) fail("a block without its length");
        const uint32_t length = uint32_t(data[pos]) << 24 | uint32_t(data[pos + 1]) << 16 |
                                uint32_t(data[pos + 2]) << 8 | data[pos + 3];
        pos += 4;
        if (length > SYSROM_MAX_BLOCK_LENGTH) fail("a block over the limit");
        if (blocks[i]->capacity != uint64_t(length) + 8) fail("capacity is not length + 8");
        if (blocks[i]->cursor != 0) fail("cursor not at 0");
        if (uint32_t(blocks[i]->length) == length && length <= size - pos) {
            if (length && memcmp(blocks[i]->data, data + pos, length) != 0) fail("payload differs");
            pos += length;
        } else if (blocks[i]->length != 0 || length <= size - pos || i != n - 1) {
            fail("a cut-short block that is not the empty last one");
        }
        if (blocks[i]->data[blocks[i]->length] != 0) fail("payload not terminated");
    }
    for (int i = 0; i < n; i++) destroy_buffer(blocks[i]);
    return 0;
}
