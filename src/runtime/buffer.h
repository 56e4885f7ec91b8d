/*
** Byte buffer: the growable byte container behind file contents, message
** queues, pod texts, deltas and converted host text. C linkage.
*/
#ifndef QUILLMAR_RUNTIME_BUFFER_H
#define QUILLMAR_RUNTIME_BUFFER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest length a buffer may reach; a write that would go past it is refused. */
#define BUFFER_MAX_LENGTH 0x7FFFFFFE

/* Group tags are indexes into the per-group counters and must lie below this. */
#define BUFFER_NUM_GROUPS 128

/* Logged when a write or a growth is refused or an allocation fails. */
#define BUFFER_REFUSED_MESSAGE "** byte buffer over 2 GB refused **\n"

/*
** One byte buffer. Invariants while it lives:
** - capacity >= length + 1 and data is never null;
** - space gained by creation or growth is zeroed, so data is NUL-terminated
**   whenever nothing was written past length;
** - writes happen at the cursor and leave length = max(length, cursor);
**   reads happen at the cursor and never move it past length;
** - length never exceeds BUFFER_MAX_LENGTH.
** Callers may set length and cursor directly (within 0..capacity - 1).
*/
typedef struct buffer_rec {
    uint64_t capacity;  /* bytes allocated at data, at least length + 1 */
    uint8_t *data;      /* the bytes; owned by the record */
    int32_t tag;        /* group tag: an ASCII letter below BUFFER_NUM_GROUPS */
    int32_t length;     /* number of valid bytes */
    int32_t cursor;     /* position of the next read or write */
} buffer_rec;

/* ---- construction and destruction ---- */

/* A new empty buffer of capacity max(n, 0) + 1 counted under 'tag'; null (and
   one log line) when the allocation fails. */
buffer_rec *create_buffer_2(int32_t n, int32_t tag);

/* A copy of the NUL-terminated text 's' (null counts as empty), tag 'X',
   capacity strlen(s) + 2, cursor and length at its end. Null when the text
   is longer than BUFFER_MAX_LENGTH or the allocation fails. */
buffer_rec *create_buffer_from_str(const char *s);

/* A copy of b's length bytes, tag 'Y', cursor 0; the capacity is b's
   capacity + 1 (at least b's length + 1). Null for a null b. */
buffer_rec *create_buffer_from_buffer(const buffer_rec *b);

/* As create_buffer_from_buffer, counted under 'tag'. */
buffer_rec *create_buffer_from_buffer_2(const buffer_rec *b, int32_t tag);

/* The whole host file at 'path', tag 'u', cursor and length at its end.
   Null when the file does not open or is longer than BUFFER_MAX_LENGTH;
   a read error ends the loading with what was read. */
buffer_rec *create_buffer_from_file(const char *path);

/* Frees b and takes it out of the totals; null is ignored. */
void destroy_buffer(buffer_rec *b);

/* Ensures capacity >= n + 1 by the growth rule; length and cursor are
   unchanged. An n beyond BUFFER_MAX_LENGTH is refused with a log line.
   Returns 0. */
int ballocate(buffer_rec *b, int64_t n);

/* Length and cursor to 0, data kept; null is ignored. */
void bclear(buffer_rec *b);

/* Stores a NUL at data[length] and returns the data as text; null for null. */
char *to_cstr(buffer_rec *b);

/* Sum of the capacities of all live buffers. */
uint64_t get_total_buffer_allocation(void);

/* Number of live buffers. */
int32_t get_total_num_buffers(void);

/* Number of live buffers under 'tag' (0 for a tag out of range). */
int32_t get_buffer_group_count(int32_t tag);

/* ---- writing at the cursor (C -> buffer) ----
   Each returns the number of bytes written, or 0 when the write is refused
   (it would take the length past BUFFER_MAX_LENGTH, or growth failed), in
   which case nothing changes and one line is logged. */

/* Copies size * count bytes from src; a product below 1 writes nothing and
   is returned as it is. */
int64_t bwrite(const void *src, int64_t size, int64_t count, buffer_rec *b);

int bwrite_uint8(uint8_t value, buffer_rec *b);
int bwrite_uint16(uint16_t value, buffer_rec *b);                   /* little-endian */
int bwrite_uint32(uint32_t value, buffer_rec *b);                   /* little-endian */
int bwrite_uint32_big_endian(uint32_t value, buffer_rec *b);

/* Two lowercase hex digits of the low byte, high nibble first. */
int bwrite_uint8_as_hex(uint8_t value, buffer_rec *b);

/* ---- appending text (cursor moved to length first) ---- */

/* Appends s without its NUL and stores a NUL after it (not counted); a null
   s appends nothing. Returns the count of bytes appended. */
int64_t bappend_str(buffer_rec *b, const char *s);

int bwrite_int64_as_hex(int64_t value, buffer_rec *b);  /* 16 digits */
int bwrite_int32_as_hex(int32_t value, buffer_rec *b);  /* 8 digits */
int bwrite_int16_as_hex(int16_t value, buffer_rec *b);  /* 4 digits */

/* Decimal-escaped copy of the NUL-terminated 'text' for a quoted event
   string: bytes below 32 as signed chars (control bytes and 0x80-0xFF),
   backslash and double quote become backslash and three decimal digits.
   Stores a NUL after it. Returns the count of characters appended. */
int64_t bappend_str_escaped(buffer_rec *b, const char *text);

/* Pod-escaped copy of exactly n bytes (NULs included): LF as \n, backslash
   and double quote behind a backslash, other bytes below 32, bytes from 127
   and ']' as backslash and three decimal digits. Returns the count of
   characters appended; a null b or n <= 0 gives 0. */
int64_t bwrite_escaped_string(const void *bytes, buffer_rec *b, int64_t n);

/* 'text' decimal-escaped into one shared buffer (tag 'E', kept for the life
   of the program); valid until the next call. Main thread only. */
const char *escape_lua_string(const char *text);

/* No effect. */
void bprintf(buffer_rec *b, const char *format, ...);

/* ---- reading at the cursor (buffer -> C) ----
   A read that does not fit between the cursor and length returns 0 and
   leaves the cursor where it was. */

uint8_t bread_uint8(buffer_rec *b);
uint16_t bread_uint16(buffer_rec *b);                 /* little-endian */
uint32_t bread_uint32(buffer_rec *b);                 /* little-endian */
uint32_t bread_uint32_big_endian(buffer_rec *b);

/* Two hex digits as a byte (non-digits count as 0). */
uint8_t bread_uint8_hex(buffer_rec *b);

/* Copies n = min(length - cursor, size * count) bytes to dst and advances
   by n; returns n, or 0 when n would be below 1. */
int64_t bread(void *dst, int64_t size, int64_t count, buffer_rec *b);

/* ---- hexadecimal text ---- */

/* '0'-'9' give 0-9, 'A'-'F' and 'a'-'f' give 10-15, every other byte 0. */
extern const uint8_t hex_digit_to_int[256];

/* Each reads 2, 4, 8 or 16 characters at *p, most significant digit first,
   advancing *p past each. A NUL before the last digit gives 0 with *p left
   at the NUL. */
uint8_t read_u8_from_hex_str(const char **p);
int16_t read_i16_from_hex_str(const char **p);   /* sign-extended from 16 bits */
int32_t read_i32_from_hex_str(const char **p);
int64_t read_i64_from_hex_str(const char **p);

/* ---- lines and cropping ---- */

/* The next line of src from its cursor into out (emptied first), or into a
   new buffer (tag 'R', capacity 17) when out is null. A LF, or a CR directly
   followed by a LF, ends the line and is consumed, not copied; any other CR
   is copied. The result is NUL-terminated and empty at the end of src. */
buffer_rec *breadln(buffer_rec *src, buffer_rec *out);

/* Keeps min(length - start, n) bytes from 'start', moved to the front, and
   zeroes the rest up to capacity; the cursor moves back by start (not below
   0). A negative start does nothing; n <= 0 or start >= length empties b. */
void bcrop(buffer_rec *b, int32_t start, int32_t n);

#ifdef __cplusplus
}
#endif

#endif
