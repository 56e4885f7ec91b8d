/*
** String-keyed hash table over two append-only record buffers.
*/
#include "htable.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Appends one record (u32 length, the bytes, a zero byte) to 'buf' and
// returns the offset of its bytes, or 0 when the buffer could not grow (the
// buffer is then left as it was).
uint32_t append_record(buffer_rec *buf, const void *bytes, uint32_t len) {
    const int32_t start = buf->length;
    buf->cursor = start;
    const bool ok = bwrite_uint32(len, buf) == 4 &&
                    (len == 0 || bwrite(bytes, 1, len, buf) == static_cast<int64_t>(len)) &&
                    bwrite_uint8(0, buf) == 1;
    if (!ok) {
        memset(buf->data + start, 0, static_cast<size_t>(buf->length - start));
        buf->length = buf->cursor = start;
        return 0;
    }
    return static_cast<uint32_t>(start) + 4;
}

uint32_t create_new_key(htable_rec *table, const char *key) {
    return append_record(table->key_buf, key, static_cast<uint32_t>(strlen(key)));
}

uint32_t create_new_value(htable_rec *table, const void *value, uint32_t len) {
    return append_record(table->value_buf, value, len);
}

// The u32 little-endian length stored just before the record at 'offset'.
uint32_t record_length(const buffer_rec *buf, uint32_t offset) {
    const uint8_t *p = buf->data + offset - 4;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool key_equals(const htable_rec *table, uint32_t bucket, const char *key, size_t key_len) {
    const uint32_t off = table->keys[bucket];
    return off != 0 && record_length(table->key_buf, off) == key_len &&
           memcmp(table->key_buf->data + off, key, key_len) == 0;
}

// The probe sequence of 'key': calls visit(bucket) for each of its
// HTABLE_MAX_PROBES buckets until visit returns true.
template <typename Visit>
void probe(const htable_rec *table, const char *key, Visit visit) {
    const uint32_t mask = table->buckets - 1;
    uint32_t i = htable_hash(key) & mask;
    const uint32_t step = (i & 31) + 1;
    for (uint32_t n = 0; n < HTABLE_MAX_PROBES; n++) {
        if (visit(i)) return;
        i = (i + step) & mask;
    }
}

// The bucket holding 'key', or -1.
int64_t find_bucket(const htable_rec *table, const char *key) {
    const size_t key_len = strlen(key);
    int64_t found = -1;
    probe(table, key, [&](uint32_t b) {
        if (!key_equals(table, b, key, key_len)) return false;
        found = b;
        return true;
    });
    return found;
}

}  // namespace

uint32_t htable_hash(const char *key) {
    uint32_t h = 0xCAFEF00Du;
    for (const char *p = key; *p; p++) {
        const int32_t c = static_cast<signed char>(*p);
        const uint32_t t = static_cast<uint32_t>(c) * (h ^ 0xF1378C35u);
        h = static_cast<uint32_t>(static_cast<int32_t>(t) >> 15) ^ t;
    }
    return h;
}

htable_rec *create_htable(uint32_t buckets) {
    if (buckets == 0 || (buckets & (buckets - 1)) != 0 || buckets > HTABLE_MAX_BUCKETS) return nullptr;
    htable_rec *t = new (std::nothrow) htable_rec{};
    if (!t) return nullptr;
    t->buckets = buckets;
    t->keys = new (std::nothrow) uint32_t[buckets]();
    t->values = new (std::nothrow) uint32_t[buckets]();
    t->key_buf = create_buffer_2(static_cast<int32_t>(buckets * 8), 't');
    t->value_buf = create_buffer_2(static_cast<int32_t>(buckets * 8), 't');
    if (!t->keys || !t->values || !t->key_buf || !t->value_buf) {
        destroy_htable(t);
        return nullptr;
    }
    return t;
}

void destroy_htable(htable_rec *table) {
    if (!table) return;
    delete[] table->keys;
    delete[] table->values;
    destroy_buffer(table->key_buf);
    destroy_buffer(table->value_buf);
    delete table;
}

const char *htable_get(htable_rec *table, const char *key, uint32_t *len) {
    if (len) *len = 0;
    const int64_t b = find_bucket(table, key);
    if (b < 0) return nullptr;
    const uint32_t off = table->values[b];
    if (len) *len = record_length(table->value_buf, off);
    return reinterpret_cast<const char *>(table->value_buf->data + off);
}

int htable_insert_failable(htable_rec *table, const char *key, const void *value, uint32_t len) {
    const size_t key_len = strlen(key);
    int64_t found = -1, empty = -1;
    probe(table, key, [&](uint32_t b) {
        if (key_equals(table, b, key, key_len)) {
            found = b;
            return true;
        }
        if (table->keys[b] == 0 && empty < 0) empty = b;
        return false;
    });
    if (found >= 0) {
        const uint32_t v = create_new_value(table, value, len);
        if (v == 0) return 1;
        table->values[found] = v;
        return 0;
    }
    if (empty < 0) return 1;
    const uint32_t k = create_new_key(table, key);
    if (k == 0) return 1;
    const uint32_t v = create_new_value(table, value, len);
    if (v == 0) return 1;  // the key record stays unused, like any replaced record
    table->keys[empty] = k;
    table->values[empty] = v;
    table->items++;
    return 0;
}

int htable_insert(htable_rec *table, const char *key, const void *value, uint32_t len) {
    return htable_insert_failable(table, key, value, len);
}

int htable_insert_str(htable_rec *table, const char *key, const char *text) {
    return htable_insert(table, key, text, static_cast<uint32_t>(strlen(text)));
}

int htable_delete(htable_rec *table, const char *key) {
    const int64_t b = find_bucket(table, key);
    if (b < 0) return 0;
    table->keys[b] = 0;
    table->values[b] = 0;
    table->items--;
    return 1;
}

void htable_test() {
    htable_rec *t = create_htable(1024);
    if (!t) return;
    htable_insert_str(t, "frog", "green");
    htable_insert_str(t, "zebra", "stripes");
    htable_insert_str(t, "cat", "whiskers");
    printf("frog: %s\n", htable_get(t, "frog", nullptr));
    printf("zebra: %s\n", htable_get(t, "zebra", nullptr));
    printf("cat: %s\n", htable_get(t, "cat", nullptr));
    printf("table items: %d\n", static_cast<int>(t->items));
    char key[32];
    for (int i = 0; i < 1024; i++) {
        snprintf(key, sizeof key, "key%d", i);
        if (htable_insert_str(t, key, key)) printf("could not insert at %d\n", i);
    }
    destroy_htable(t);
}
