// Typed arrays: conversion to another element type (or to indices and a
// palette) and the in-place retype and reshape.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "saturate.h"
#include "ud_elem.h"
#include "ud_methods.h"
#include "vm_hooks.h"

namespace {

// Palette mode keeps at most this many distinct values.
inline constexpr int palette_slots = 256;

// The palette of one conversion: slots in order of first appearance, the
// same slots sorted by value for a binary search, and a direct-mapped cache
// of the index each recently seen value got. A value's index never changes
// once given (slots are only appended, and once all are used every new value
// gets the last one), so a cached index is always the one the linear search
// from slot 0 would find.
struct palette_builder {
    int64_t slot[palette_slots];    // values in order of first appearance
    int used = 0;                   // slots used, 0 to palette_slots
    int64_t sorted[palette_slots];  // the used values, ascending
    uint8_t sorted_slot[palette_slots];  // slot of each sorted value
    int64_t cache_value[palette_slots];  // value cached in each cache entry
    int16_t cache_index[palette_slots];  // its index, or -1 for an empty entry

    palette_builder() { std::memset(cache_index, 0xff, sizeof cache_index); }

    // The index of 'v': the slot holding it, a new slot while any is left,
    // else the last slot.
    uint8_t index_of(int64_t v) {
        const unsigned h = unsigned((uint64_t(v) * 0x9E3779B97F4A7C15ull) >> 56);
        if (cache_index[h] >= 0 && cache_value[h] == v) return uint8_t(cache_index[h]);
        const int at = lower_bound(v);
        int k;
        if (at < used && sorted[at] == v) {
            k = sorted_slot[at];
        } else if (used < palette_slots) {
            k = used;
            std::memmove(sorted + at + 1, sorted + at, size_t(used - at) * sizeof sorted[0]);
            std::memmove(sorted_slot + at + 1, sorted_slot + at, size_t(used - at));
            sorted[at] = v;
            sorted_slot[at] = uint8_t(k);
            slot[used++] = v;
        } else {
            k = palette_slots - 1;
        }
        cache_value[h] = v;
        cache_index[h] = int16_t(k);
        return uint8_t(k);
    }

    // The first position of 'sorted' whose value is not below 'v' (used when none is).
    int lower_bound(int64_t v) const {
        if (used == 0) return 0;
        const int64_t *base = sorted;
        int n = used;
        while (n > 1) {
            const int half = n / 2;
            base = base[half] < v ? base + half : base;
            n -= half;
        }
        return int(base - sorted) + (*base < v);
    }
};

// The type name argument at 'idx' as text (numbers converted), or null.
const char *type_name_arg(lua_State *L, int idx) {
    int t = lua_type(L, idx);
    if (t != LUA_TSTRING && t != LUA_TNUMBER) return nullptr;
    return lua_tostring(L, idx);
}

// An f64 value as an integer bit pattern: floored, with NaN, infinities and
// values beyond the 64-bit range giving INT64_MIN, so the caller keeps the
// low bits as the integer rows do.
int64_t floor_to_i64(double v) { return floor_double_to_i64_or_min(v); }

// Bytes a cycle of a conversion to the same type: a copy.
inline constexpr uint64_t COPY_BYTES_PER_CYCLE = 32;

// CPU charge of converting 'count' elements between types 'from' and 'to'.
int32_t convert_charge(int from, int to, uint64_t count) {
    uint64_t c;
    if (from == UTYPE_F64 || to == UTYPE_F64) {
        c = 2 * count;
    } else if (from == UTYPE_I64 || to == UTYPE_I64) {
        c = count;
    } else {
        c = count / 2;
    }
    return c > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(c);
}

// Converts every element of 'src' into 'dst' (same count, types differ).
void convert_elements(const typed_ud_rec *src, typed_ud_rec *dst) {
    uint64_t count = ud_count(src);
    int from = ud_type(src);
    int to = ud_type(dst);
    const uint8_t *s = ud_elements(const_cast<typed_ud_rec *>(src));
    uint8_t *d = ud_elements(dst);
    if (from == UTYPE_F64) {
        for (uint64_t i = 0; i < count; i++) ud_write_int(d, to, i, floor_to_i64(ud_read_f64(s, i)));
    } else if (to == UTYPE_F64) {
        for (uint64_t i = 0; i < count; i++) ud_write_f64(d, i, double(ud_read_int(s, from, i)));
    } else {
        for (uint64_t i = 0; i < count; i++) ud_write_int(d, to, i, ud_read_int(s, from, i));
    }
}

// Palette mode: pushes the u8 index array and the palette array of the
// receiver's type; returns the number of results (0 when nothing was made).
int convert_to_palette(lua_State *L, const typed_ud_rec *rec) {
    uint64_t count = ud_count(rec);
    int code = ud_type(rec);
    if (count == 0) return 0;
    const ud_seen seen = ud_see(rec);
    typed_ud_rec *idx = create_userdata_shaped(L, UTYPE_U8, rec->dims, rec->width, rec->height,
                                               rec->depth);
    if (!idx) return 0;
    if (!ud_unchanged(seen)) {
        lua_pop(L, 1);
        return 0;
    }
    palette_builder pb;
    const uint8_t *s = ud_elements(const_cast<typed_ud_rec *>(rec));
    uint8_t *out = ud_elements(idx);
    for (uint64_t i = 0; i < count; i++) {
        int64_t v = code == UTYPE_F64 ? floor_to_i64(std::trunc(ud_read_f64(s, i)))
                                      : ud_read_int(s, code, i);
        out[i] = pb.index_of(v);
    }
    const int used = pb.used;
    const int64_t *slot = pb.slot;
    typed_ud_rec *pal = create_userdata_shaped(L, code, 1, uint32_t(used), 1, 1);
    if (!pal) {
        lua_pop(L, 1);
        return 0;
    }
    uint8_t *p = ud_elements(pal);
    for (int k = 0; k < used; k++) {
        if (code == UTYPE_F64) {
            ud_write_f64(p, uint64_t(k), double(slot[k]));
        } else {
            ud_write_int(p, code, uint64_t(k), slot[k]);
        }
    }
    spend_cpu(count > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(count));
    return 2;
}

// A width or height argument: (true, value truncated toward zero) when it
// reads as a number.
bool size_arg(lua_State *L, int idx, int64_t *out) {
    int t = lua_type(L, idx);
    if (t != LUA_TNUMBER && t != LUA_TSTRING) return false;
    int isnum = 0;
    if (lua_isinteger(L, idx)) {
        *out = lua_tointeger(L, idx);
        return true;
    }
    double v = lua_tonumberx(L, idx, &isnum);
    if (!isnum) return false;
    *out = saturate_double_to_i64(v);
    return true;
}

}  // namespace

int lua54_ud_convert(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    const char *name = type_name_arg(L, 2);
    bool palette = lua_toboolean(L, 3) && lua_type(L, 2) == LUA_TSTRING && lua_rawlen(L, 2) == 2 &&
                   std::memcmp(name, "u8", 2) == 0;
    if (palette) return convert_to_palette(L, rec);
    // "[gfx]" and "[map]" texts are plain names here (u8): the result always
    // has the receiver's shape.
    int to = str_to_utype(name);
    int from = ud_type(rec);
    const ud_seen seen = ud_see(rec);
    typed_ud_rec *out = create_userdata_shaped(L, to, rec->dims, rec->width, rec->height, rec->depth);
    if (!out) return 0;
    if (!ud_unchanged(seen)) {
        lua_pop(L, 1);
        return 0;
    }
    uint64_t count = ud_count(rec);
    if (to == from) {
        const uint64_t bytes = count * utype_size(to);
        std::memcpy(ud_elements(out), ud_elements(rec), size_t(bytes));
        spend_cpu(int32_t(std::min<uint64_t>(bytes / COPY_BYTES_PER_CYCLE, INT32_MAX)));
        return 1;
    }
    convert_elements(rec, out);
    spend_cpu(convert_charge(from, to, count));
    return 1;
}

int lua54_ud_mutate(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    int to = str_to_utype(type_name_arg(L, 2));
    int from = ud_type(rec);
    int64_t given_w = 0, given_h = 0;
    bool has_w = size_arg(L, 3, &given_w);
    bool has_h = size_arg(L, 4, &given_h);
    if (to != from && (to == UTYPE_F64 || from == UTYPE_F64)) {
        lua_pushstring(L, "can not mutate between integer and float data types");
        return 1;
    }
    uint64_t from_size = utype_size(from);
    uint64_t to_size = utype_size(to);
    // A row keeps its byte length when no width is given.
    uint64_t w = has_w && given_w >= 1 ? uint64_t(given_w) : from_size * rec->width / to_size;
    uint64_t h = has_w && !has_h ? 1 : has_h && given_h >= 1 ? uint64_t(given_h) : rec->height;
    // Exact in 128 bits (each factor below 2^33); depth is a factor of what
    // the header describes, so the header never grows past the old bytes.
    bool fits = w <= UINT32_MAX && h <= UINT32_MAX;
    unsigned __int128 new_bytes = (unsigned __int128)to_size * w * h * rec->depth;
    if (!fits || new_bytes > ud_count(rec) * from_size) {
        lua_pushstring(L, "new size is larger than old size");
        return 1;
    }
    rec->type = uint8_t(to);
    rec->width = uint32_t(w);
    rec->height = uint32_t(h);
    if (has_w) rec->dims = has_h ? 2 : 1;
    return 0;
}
