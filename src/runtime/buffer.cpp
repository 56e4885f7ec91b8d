// Byte buffer: records, accounting, growth, binary writes and reads, lines
// and cropping.
#include "buffer.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "buffer_grow.h"
#include "host.h"

namespace {

// Bytes read from a host file per step while loading it.
inline constexpr size_t kFileChunk = 16384;

// Process-wide accounting. Buffers are made and freed on HTTP worker threads
// too, so the counters are atomics; nothing orders other memory by them.
std::atomic<uint64_t> total_buffer_allocation{0};  // sum of live capacities
std::atomic<int32_t> total_num_buffers{0};         // live buffers
std::atomic<int32_t> buffer_group_count[BUFFER_NUM_GROUPS];  // live buffers per tag

constexpr auto relaxed = std::memory_order_relaxed;

int32_t group_index(int32_t tag) {
    assert(tag >= 0 && tag < BUFFER_NUM_GROUPS && "buffer group tag out of range");
    return tag & (BUFFER_NUM_GROUPS - 1);
}

void refuse() { codo_debug(BUFFER_REFUSED_MESSAGE); }

inline constexpr size_t SMALL_ZEROED = 1024;  // malloc's per-size cache holds blocks up to about this

// A zeroed block of n bytes. Small ones through malloc, which serves them
// from its per-size cache: calloc goes to the heap's bins every time, and
// there sorts the chunks a collection freed, a cost of the collection.
void *zeroed(size_t n) {
    if (n > SMALL_ZEROED) return calloc(1, n);
    void *p = malloc(n);
    asm volatile("" : : "r"(p) : "memory");  // kept apart: the compiler would make the pair a calloc
    if (p) std::memset(p, 0, n);
    return p;
}

// A new zeroed buffer of the given capacity (at least 1), counted under tag.
buffer_rec *new_buffer(uint64_t capacity, int32_t tag) {
    auto *b = static_cast<buffer_rec *>(zeroed(sizeof(buffer_rec)));
    uint8_t *data = b ? static_cast<uint8_t *>(zeroed(capacity)) : nullptr;
    if (!data) {
        free(b);
        refuse();
        return nullptr;
    }
    b->capacity = capacity;
    b->data = data;
    b->tag = tag;
    total_buffer_allocation.fetch_add(capacity, relaxed);
    total_num_buffers.fetch_add(1, relaxed);
    buffer_group_count[group_index(tag)].fetch_add(1, relaxed);
    return b;
}

// Room for n bytes at 'pos' (cursor or length); see buffer_room_at_cursor.
bool room_at(buffer_rec *b, int64_t pos, int64_t n, const uint8_t **src) {
    assert(pos >= 0 && n >= 0);
    if (pos < 0 || n < 0 || n > BUFFER_MAX_LENGTH - pos) {
        refuse();
        return false;
    }
    const uint64_t need = static_cast<uint64_t>(pos + n) + 1;
    if (b->capacity >= need) return true;
    const uint64_t old = b->capacity;
    const uint64_t capacity = 2 * need;
    // Bytes of b itself about to be written stay valid by their offset.
    const uintptr_t at = src ? reinterpret_cast<uintptr_t>(*src) : 0;
    const uintptr_t base = reinterpret_cast<uintptr_t>(b->data);
    const bool own = at >= base && at - base < old;
    const size_t offset = own ? static_cast<size_t>(at - base) : 0;
    auto *data = static_cast<uint8_t *>(realloc(b->data, capacity));
    if (!data) {
        refuse();
        return false;
    }
    memset(data + old, 0, capacity - old);
    b->data = data;
    b->capacity = capacity;
    if (own) *src = data + offset;
    total_buffer_allocation.fetch_add(capacity - old, relaxed);
    return true;
}

// Writes the n bytes at src at the cursor (n >= 0); returns n, or 0 when
// refused.
int64_t write_bytes(buffer_rec *b, const void *src, int64_t n) {
    if (!b) return 0;
    const auto *s = static_cast<const uint8_t *>(src);
    if (!buffer_room_at_cursor(b, n, &s)) return 0;
    if (n > 0) memmove(b->data + b->cursor, s, static_cast<size_t>(n));
    buffer_advance(b, n);
    return n;
}

// True when n bytes can be read at the cursor.
bool can_read(const buffer_rec *b, int64_t n) {
    return b && b->cursor >= 0 && int64_t{b->cursor} + n <= int64_t{b->length};
}

}  // namespace

bool buffer_room_at_cursor(buffer_rec *b, int64_t n, const uint8_t **src) {
    return room_at(b, b->cursor, n, src);
}

bool buffer_room_at_end(buffer_rec *b, int64_t n, const uint8_t **src) {
    if (!room_at(b, b->length, n, src)) return false;
    b->cursor = b->length;
    return true;
}

/*
** {======================================================
** Construction and destruction
** =======================================================
*/

buffer_rec *create_buffer_2(int32_t n, int32_t tag) {
    return new_buffer(static_cast<uint64_t>(std::max(n, 0)) + 1, tag);
}

buffer_rec *create_buffer_from_str(const char *s) {
    if (!s) s = "";
    const size_t len = strlen(s);
    if (len > BUFFER_MAX_LENGTH) {
        refuse();
        return nullptr;
    }
    buffer_rec *b = new_buffer(len + 2, 'X');
    if (!b) return nullptr;
    memcpy(b->data, s, len);
    b->length = b->cursor = static_cast<int32_t>(len);
    return b;
}

buffer_rec *create_buffer_from_buffer_2(const buffer_rec *src, int32_t tag) {
    if (!src) return nullptr;
    const uint64_t len = static_cast<uint64_t>(std::max(src->length, 0));
    buffer_rec *b = new_buffer(std::max(src->capacity, len) + 1, tag);
    if (!b) return nullptr;
    // A length set beyond the capacity by its owner copies only what exists.
    if (len > 0) memcpy(b->data, src->data, std::min(len, src->capacity));
    b->length = static_cast<int32_t>(len);
    return b;
}

buffer_rec *create_buffer_from_buffer(const buffer_rec *src) {
    return create_buffer_from_buffer_2(src, 'Y');
}

buffer_rec *create_buffer_from_file(const char *path) {
    FILE *f = path ? fopen(path, "rb") : nullptr;
    if (!f) return nullptr;
    buffer_rec *b = create_buffer_2(kFileChunk / 4, 'u');
    uint8_t chunk[kFileChunk];
    while (b) {
        const size_t got = fread(chunk, 1, sizeof chunk, f);
        if (got == 0) break;
        if (write_bytes(b, chunk, static_cast<int64_t>(got)) == 0) {
            destroy_buffer(b);  // longer than a buffer may be
            b = nullptr;
        }
    }
    fclose(f);
    return b;
}

void destroy_buffer(buffer_rec *b) {
    if (!b) return;
    total_buffer_allocation.fetch_sub(b->capacity, relaxed);
    total_num_buffers.fetch_sub(1, relaxed);
    buffer_group_count[group_index(b->tag)].fetch_sub(1, relaxed);
    free(b->data);
    free(b);
}

int ballocate(buffer_rec *b, int64_t n) {
    if (!b || n < 0) return 0;
    // The growth rule at position 0: need = n + 1.
    room_at(b, 0, n, nullptr);
    return 0;
}

void bclear(buffer_rec *b) {
    if (!b) return;
    b->length = 0;
    b->cursor = 0;
}

char *to_cstr(buffer_rec *b) {
    if (!b) return nullptr;
    b->data[b->length] = 0;
    return reinterpret_cast<char *>(b->data);
}

uint64_t get_total_buffer_allocation(void) { return total_buffer_allocation.load(relaxed); }

int32_t get_total_num_buffers(void) { return total_num_buffers.load(relaxed); }

int32_t get_buffer_group_count(int32_t tag) {
    if (tag < 0 || tag >= BUFFER_NUM_GROUPS) return 0;
    return buffer_group_count[tag].load(relaxed);
}

/* }====================================================== */

/*
** {======================================================
** Writing at the cursor (C -> buffer)
** =======================================================
*/

int64_t bwrite(const void *src, int64_t size, int64_t count, buffer_rec *b) {
    int64_t n;
    if (__builtin_mul_overflow(size, count, &n)) {
        refuse();  // far beyond any buffer
        return 0;
    }
    if (n < 1) return n;
    return write_bytes(b, src, n);
}

int bwrite_uint8(uint8_t value, buffer_rec *b) {
    return static_cast<int>(write_bytes(b, &value, 1));
}

int bwrite_uint16(uint16_t value, buffer_rec *b) {
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    return static_cast<int>(write_bytes(b, bytes, 2));
}

int bwrite_uint32(uint32_t value, buffer_rec *b) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    return static_cast<int>(write_bytes(b, bytes, 4));
}

int bwrite_uint32_big_endian(uint32_t value, buffer_rec *b) {
    const uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                              uint8_t(value)};
    return static_cast<int>(write_bytes(b, bytes, 4));
}

int64_t bappend_str(buffer_rec *b, const char *s) {
    if (!b || !s) return 0;
    const size_t len = strlen(s);
    if (len > BUFFER_MAX_LENGTH) {
        refuse();
        return 0;
    }
    const auto *text = reinterpret_cast<const uint8_t *>(s);
    if (!buffer_room_at_end(b, static_cast<int64_t>(len), &text)) return 0;
    memmove(b->data + b->cursor, text, len);
    buffer_advance(b, static_cast<int64_t>(len));
    b->data[b->length] = 0;
    return static_cast<int64_t>(len);
}

/* }====================================================== */

/*
** {======================================================
** Reading at the cursor (buffer -> C)
** =======================================================
*/

uint8_t bread_uint8(buffer_rec *b) {
    if (!can_read(b, 1)) return 0;
    return b->data[b->cursor++];
}

uint16_t bread_uint16(buffer_rec *b) {
    if (!can_read(b, 2)) return 0;
    const uint8_t *p = b->data + b->cursor;
    b->cursor += 2;
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t bread_uint32(buffer_rec *b) {
    if (!can_read(b, 4)) return 0;
    const uint8_t *p = b->data + b->cursor;
    b->cursor += 4;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t bread_uint32_big_endian(buffer_rec *b) {
    if (!can_read(b, 4)) return 0;
    const uint8_t *p = b->data + b->cursor;
    b->cursor += 4;
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

int64_t bread(void *dst, int64_t size, int64_t count, buffer_rec *b) {
    if (!can_read(b, 0)) return 0;
    int64_t want;
    if (__builtin_mul_overflow(size, count, &want)) want = (size < 0) != (count < 0) ? 0 : INT64_MAX;
    const int64_t n = std::min(int64_t{b->length} - b->cursor, want);
    if (n < 1) return 0;
    memcpy(dst, b->data + b->cursor, static_cast<size_t>(n));
    b->cursor += static_cast<int32_t>(n);
    return n;
}

/* }====================================================== */

/*
** {======================================================
** Lines and cropping
** =======================================================
*/

buffer_rec *breadln(buffer_rec *src, buffer_rec *out) {
    if (out) {
        out->length = 0;
        out->cursor = 0;
    } else {
        out = create_buffer_2(16, 'R');
        if (!out) return nullptr;
    }
    if (src && src != out && src->cursor >= 0 && src->cursor < src->length) {
        const uint8_t *start = src->data + src->cursor;
        const size_t avail = static_cast<size_t>(src->length - src->cursor);
        const auto *lf = static_cast<const uint8_t *>(memchr(start, '\n', avail));
        size_t line = avail, consumed = avail;
        if (lf) {
            line = static_cast<size_t>(lf - start);
            consumed = line + 1;
            if (line > 0 && start[line - 1] == '\r') line--;  // CR LF ends the line too
        }
        write_bytes(out, start, static_cast<int64_t>(line));
        src->cursor += static_cast<int32_t>(consumed);
    }
    out->data[out->length] = 0;
    return out;
}

void bcrop(buffer_rec *b, int32_t start, int32_t n) {
    if (!b || start < 0) return;
    if (n <= 0 || start >= b->length) {
        b->length = 0;
        b->cursor = 0;
        return;
    }
    const int32_t k = std::min(b->length - start, n);
    memmove(b->data, b->data + start, static_cast<size_t>(k));
    memset(b->data + k, 0, static_cast<size_t>(b->capacity - static_cast<uint64_t>(k)));
    b->cursor = static_cast<int32_t>(std::max<int64_t>(int64_t{b->cursor} - start, 0));
    b->length = k;
}

/* }====================================================== */
