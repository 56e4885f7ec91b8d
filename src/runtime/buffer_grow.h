// Byte buffer internals shared by the buffer's source files: making room for
// a write under the growth rule and the length limit.
#pragma once

#include <cstdint>

#include "buffer.h"

// Makes room for n bytes at the cursor: with need = cursor + n + 1, a
// capacity below need becomes 2 * need, the new space zeroed and counted.
// Returns false, with one log line and nothing changed, when cursor + n
// would pass BUFFER_MAX_LENGTH or the allocation fails. When '*src' (the
// bytes about to be written) points into b's data, it is moved with it.
bool buffer_room_at_cursor(buffer_rec *b, int64_t n, const uint8_t **src = nullptr);

// As buffer_room_at_cursor at the end of the data; on success the cursor
// is moved to length.
bool buffer_room_at_end(buffer_rec *b, int64_t n, const uint8_t **src = nullptr);

// Records n bytes written at the cursor: advances it and raises length to it.
inline void buffer_advance(buffer_rec *b, int64_t n) {
    b->cursor = static_cast<int32_t>(b->cursor + n);
    if (b->length < b->cursor) b->length = b->cursor;
}
