/*
** String-keyed hash table: open addressing, at most 32 buckets per probe,
** keys and values kept as records in two append-only byte buffers.
*/
#pragma once

#include <cstdint>

#include "buffer.h"

// Buckets one lookup, insert or delete may examine.
inline constexpr uint32_t HTABLE_MAX_PROBES = 32;

// Largest bucket count: the two record buffers start at buckets x 8 bytes,
// which must stay inside a byte buffer's length.
inline constexpr uint32_t HTABLE_MAX_BUCKETS = 1u << 27;

/*
** One table. buckets is a non-zero power of two. A bucket is empty when its
** keys entry is 0; otherwise keys and values hold offsets of the key's
** characters in key_buf and of the value's bytes in value_buf. A record is a
** u32 little-endian length, the bytes and a zero byte, and the offset points
** just past the length, so a record's offset is never 0. Records are only
** appended: replaced and deleted ones stay until the table is destroyed.
*/
struct htable_rec {
    uint32_t buckets;       /* bucket count, a power of two */
    uint32_t items;         /* keys stored */
    uint32_t *keys;         /* per bucket: key offset in key_buf, 0 for empty */
    uint32_t *values;       /* per bucket: value offset in value_buf */
    buffer_rec *key_buf;    /* key records, tag 't' */
    buffer_rec *value_buf;  /* value records, tag 't' */
};

// The hash of the NUL-terminated 'key': h starts at CAFEF00D and takes each
// character as a signed byte.
uint32_t htable_hash(const char *key);

// A new empty table of 'buckets' buckets, or null when buckets is not a
// power of two (0 included), is above HTABLE_MAX_BUCKETS, or memory runs out.
htable_rec *create_htable(uint32_t buckets);

// Frees the table, its arrays and both buffers; null is ignored.
void destroy_htable(htable_rec *table);

// The value stored under 'key': a pointer to its bytes (followed by a zero
// byte) with '*len' set to its length, or null with '*len' 0. The pointer
// stays valid until the next insert. 'len' may be null.
const char *htable_get(htable_rec *table, const char *key, uint32_t *len);

// Stores 'len' bytes of 'value' under 'key', replacing an earlier value.
// Returns 0 when stored or replaced, 1 when no bucket of the key's probe
// could take a new key or the buffers could not grow (nothing changes then).
int htable_insert_failable(htable_rec *table, const char *key, const void *value, uint32_t len);

// As htable_insert_failable, result passed on.
int htable_insert(htable_rec *table, const char *key, const void *value, uint32_t len);

// Inserts the NUL-terminated 'text' with its length.
int htable_insert_str(htable_rec *table, const char *key, const char *text);

// Removes 'key': 1 when removed, 0 when it was not stored.
int htable_delete(htable_rec *table, const char *key);

// Self-test with no caller: fills a 1024-bucket table and prints what it
// finds to standard output.
void htable_test();
