// Typed arrays: creation from type names and init texts, duplication, and the
// receiver check every Lua-facing function starts with.
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "typed_ud.h"
#include "buffer.h"
#include "vm_hooks.h"

static_assert(std::endian::native == std::endian::little, "typed arrays are little-endian");
static_assert(sizeof(typed_ud_rec) == TYPED_UD_HEADER);
static_assert(offsetof(typed_ud_rec, type) == 0);
static_assert(offsetof(typed_ud_rec, dims) == 1);
static_assert(offsetof(typed_ud_rec, zero) == 2);
static_assert(offsetof(typed_ud_rec, width) == 4);
static_assert(offsetof(typed_ud_rec, height) == 8);
static_assert(offsetof(typed_ud_rec, depth) == 12);

namespace {

// Names by type code; every code without a type is "?".
constexpr const char *utype_string[23] = {
    "?", "?", "?", "u8", "?", "?", "?", "?", "?", "?", "?", "?", "i16", "i32", "i64",
    "?", "?", "?", "?", "?", "?", "?", "f64",
};

bool is_known_utype(int code) {
    return code == UTYPE_U8 || code == UTYPE_I16 || code == UTYPE_I32 || code == UTYPE_I64 ||
           code == UTYPE_F64;
}

// Element area bytes rounded up to a multiple of 8, or 0 when the count is 0
// or the area would pass 16 MiB. Exact: no 32-bit product can wrap.
uint64_t rounded_area(int code, uint32_t width, uint32_t height, uint32_t depth) {
    uint64_t wh = uint64_t(width) * height;
    if (wh == 0 || depth == 0 || wh > TYPED_UD_MAX_BYTES) return 0;
    uint64_t count = wh * depth;  // at most 2^24 * 2^32
    if (count > TYPED_UD_MAX_BYTES) return 0;
    uint64_t bytes = (count * utype_size(code) + 7) & ~uint64_t(7);
    return bytes <= TYPED_UD_MAX_BYTES ? bytes : 0;
}

// Large arrays are walked whole by the element-wise operations: backed by
// huge pages (where the system gives them on request) they take far fewer
// TLB misses. Only the 2 MiB pages wholly inside the block are advised, before
// anything touches them.
void advise_huge_pages(void *block, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t huge = uintptr_t(2) << 20;
    if (bytes < 2 * huge) return;
    const uintptr_t lo = (uintptr_t(block) + huge - 1) & ~(huge - 1);
    const uintptr_t hi = (uintptr_t(block) + bytes) & ~(huge - 1);
    if (hi > lo) madvise(reinterpret_cast<void *>(lo), hi - lo, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

// Allocates and pushes a block of header plus 'area' bytes, zeroed unless
// 'zero' is false, sets the metatable from the global USERDATA when that is a
// table, fills the header.
typed_ud_rec *push_block(lua_State *L, size_t area, int code, int dims, uint32_t width,
                         uint32_t height, uint32_t depth, bool zero = true) {
    void *block = lua_newuserdatauv(L, TYPED_UD_HEADER + area, 0);
    advise_huge_pages(block, TYPED_UD_HEADER + area);
    if (zero) std::memset(block, 0, TYPED_UD_HEADER + area);
    // A raw read: creation never runs Lua code (the pod reader creates arrays
    // in the middle of its work).
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    lua_pushliteral(L, "USERDATA");
    bool t = lua_rawget(L, -2) == LUA_TTABLE;
    lua_remove(L, -2);
    if (t) {
        lua_setmetatable(L, -2);
    } else {
        lua_pop(L, 1);
    }
    auto *rec = static_cast<typed_ud_rec *>(block);
    rec->type = uint8_t(code);
    rec->dims = uint8_t(dims);
    rec->width = width;
    rec->height = height;
    rec->depth = depth;
    return rec;
}

// The value of a "[gfx]" text character: 0-9, a-z 10-35, A-Z 36-61, '_' 62, '-' 63.
uint8_t b64_val(unsigned char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'a' && c <= 'z') return uint8_t(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') return uint8_t(c - 'A' + 36);
    if (c == '_') return 62;
    if (c == '-') return 63;
    return 0;
}

// True when 'text' begins with 'tag' (5 characters).
bool starts_with(const char *text, const char *tag) { return std::strncmp(text, tag, 5) == 0; }

// True when the first 'n' characters of 'text' are all there (no NUL among them).
bool has_chars(const char *text, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (text[i] == 0) return false;
    return true;
}

// "[gfx]" body from the 10th character: one byte per character until a NUL
// or 'count' bytes.
void decode_gfx(uint8_t *dst, uint64_t count, const char *text) {
    if (!has_chars(text, 9)) return;
    const char *p = text + 9;
    for (uint64_t i = 0; i < count && p[i]; i++) dst[i] = b64_val((unsigned char)p[i]);
}

// "[map]" body from the 10th character: 4 hex digits per 16-bit value,
// little-endian into consecutive 16-bit slots, 'slots' values.
void decode_map(uint8_t *dst, uint64_t slots, const char *text) {
    if (!has_chars(text, 9)) return;
    const char *p = text + 9;
    for (uint64_t i = 0; i < slots; i++) {
        uint16_t v = uint16_t(read_i16_from_hex_str(&p));
        dst[2 * i] = uint8_t(v);
        dst[2 * i + 1] = uint8_t(v >> 8);
    }
}

// Hex digits per element, most significant first, giving each element's bits.
void decode_hex(uint8_t *dst, int code, uint64_t count, const char *text) {
    const char *p = text;
    if (std::strncmp(p, "hex:", 4) == 0) p += 4;
    for (uint64_t i = 0; i < count; i++) {
        switch (code) {
        case UTYPE_U8:
            dst[i] = read_u8_from_hex_str(&p);
            break;
        case UTYPE_I16: {
            uint16_t v = uint16_t(read_i16_from_hex_str(&p));
            std::memcpy(dst + 2 * i, &v, 2);
            break;
        }
        case UTYPE_I32: {
            uint32_t v = read_i32_from_hex_str(&p);
            std::memcpy(dst + 4 * i, &v, 4);
            break;
        }
        default: {
            uint64_t v = read_i64_from_hex_str(&p);
            std::memcpy(dst + 8 * i, &v, 8);
            break;
        }
        }
    }
}

// Comma-separated decimals, one per f64 element. Each number is read where
// its element starts (strtod, the "C" locale's forms, leading blanks skipped);
// the cursor then goes past the next ',' from there, and a NUL, '"' or ')'
// before it ends the list.
// A plain decimal number (optional '-', then a digit or '.') that ends at a
// list delimiter is read by from_chars, which rounds as strtod does and
// costs far less; anything else goes to strtod.
bool quick_f64(const char *p, double *v) {
    const char first = *p == '-' ? p[1] : *p;
    if (!((first >= '0' && first <= '9') || first == '.')) return false;
    const char *end = p;
    while (*end && *end != ',' && *end != '"' && *end != ')') end++;
    const std::from_chars_result r = std::from_chars(p, end, *v);
    return r.ec == std::errc() && r.ptr == end;
}

void decode_f64_list(uint8_t *dst, uint64_t count, const char *text) {
    const char *p = text;
    for (uint64_t i = 0; i < count; i++) {
        double v;
        if (!quick_f64(p, &v)) {
            char *end = nullptr;
            v = std::strtod(p, &end);
            if (end == p) v = 0;
        }
        std::memcpy(dst + 8 * i, &v, 8);
        while (*p && *p != ',' && *p != '"' && *p != ')') p++;
        if (*p != ',') return;
        p++;
    }
}

// Fills a new array from its init text and charges count x bits / 32 cycles.
void decode_init(typed_ud_rec *rec, const char *text) {
    uint64_t count = ud_count(rec);
    int code = ud_type(rec);
    uint64_t charge = count * (uint64_t(1) << (code & 7)) / 32;
    spend_cpu(charge > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(charge));
    uint8_t *dst = ud_elements(rec);
    if (starts_with(text, "[gfx]")) {
        decode_gfx(dst, count * utype_size(code), text);
    } else if (starts_with(text, "[map]")) {
        // At most one value per element, and never more 16-bit slots than the
        // area holds: a u8 array takes count / 2 values.
        uint64_t slots = count * utype_size(code) / 2;
        decode_map(dst, slots < count ? slots : count, text);
    } else if (code == UTYPE_F64) {
        decode_f64_list(dst, count, text);
    } else {
        decode_hex(dst, code, count, text);
    }
}

}  // namespace

int str_to_utype(const char *text) {
    if (!text || !text[0]) return UTYPE_U8;
    if (text[1] == '3') return UTYPE_I32;
    if (text[1] == '1') return UTYPE_I16;
    if (text[0] == 'f') return UTYPE_F64;
    if (text[0] == 'i') return UTYPE_I64;
    return UTYPE_U8;
}

const char *get_utype_string(int code) {
    return code >= 0 && code < 23 ? utype_string[code] : utype_string[0];
}

typed_ud_rec *create_userdata_shaped(lua_State *L, int code, int dims, uint32_t width,
                                     uint32_t height, uint32_t depth) {
    uint64_t area = rounded_area(code, width, height, depth);
    if (area == 0) return nullptr;
    return push_block(L, size_t(area), code, dims, width, height, depth);
}

typed_ud_rec *create_userdata(lua_State *L, const char *type_text, int dims, uint32_t width,
                              uint32_t height, uint32_t depth, const char *init_text) {
    int code = str_to_utype(type_text);
    if (dims < 2) height = 1;
    if (dims <= 2) depth = 1;
    bool sized_text = type_text && has_chars(type_text, 9) &&
                      (starts_with(type_text, "[gfx]") || starts_with(type_text, "[map]"));
    if (sized_text) {
        const char *p = type_text + 5;
        width = read_u8_from_hex_str(&p);
        height = read_u8_from_hex_str(&p);
        dims = 2;
        depth = 1;
        code = type_text[1] == 'g' ? UTYPE_U8 : UTYPE_I16;
        init_text = type_text;
    } else if (dims != 1 && dims != 2) {
        return nullptr;
    }
    typed_ud_rec *rec = create_userdata_shaped(L, code, dims, width, height, depth);
    if (rec && init_text) decode_init(rec, init_text);
    return rec;
}

typed_ud_rec *push_duplicate_userdata(lua_State *L, const typed_ud_rec *rec) {
    uint64_t area = (ud_count(rec) * utype_size(ud_type(rec)) + 7) & ~uint64_t(7);
    typed_ud_rec *copy = push_block(L, size_t(area), rec->type, rec->dims, rec->width,
                                    rec->height, rec->depth, false);
    std::memcpy(copy, rec, TYPED_UD_HEADER + size_t(area));
    return copy;
}

typed_ud_rec *push_userdata_for_overwrite(lua_State *L, const typed_ud_rec *rec) {
    uint64_t bytes = ud_count(rec) * utype_size(ud_type(rec));
    uint64_t area = (bytes + 7) & ~uint64_t(7);
    typed_ud_rec *fresh = push_block(L, size_t(area), rec->type, rec->dims, rec->width,
                                     rec->height, rec->depth, false);
    std::memcpy(fresh, rec, TYPED_UD_HEADER);
    std::memset(ud_elements(fresh) + bytes, 0, size_t(area - bytes));
    return fresh;
}

int32_t get_userdata_len2(const typed_ud_rec *a, const typed_ud_rec *b, int32_t off_a,
                          int32_t count, int32_t off_b) {
    int64_t n = count;
    if (a) {
        int64_t left = int64_t(ud_count(a)) - off_a;
        if (left < n) n = left;
    }
    if (b) {
        int64_t left = int64_t(ud_count(b)) - off_b;
        if (left < n) n = left;
    }
    return int32_t(n);
}

typed_ud_rec *to_typed_ud(lua_State *L, int idx) {
    if (lua_type(L, idx) != LUA_TUSERDATA) return nullptr;
    uint64_t block = lua_rawlen(L, idx);
    if (block < TYPED_UD_HEADER) return nullptr;
    auto *rec = static_cast<typed_ud_rec *>(lua_touserdata(L, idx));
    int code = ud_type(rec);
    if (!is_known_utype(code)) return nullptr;
    // Each factor is below 2^32, so two steps bound the product before it can wrap.
    uint64_t room = (block - TYPED_UD_HEADER) / utype_size(code);
    uint64_t wh = uint64_t(rec->width) * rec->height;
    if (rec->depth != 0 && wh > room / rec->depth) return nullptr;
    uint64_t bytes = (wh * rec->depth * utype_size(code) + 7) & ~uint64_t(7);
    return bytes <= block - TYPED_UD_HEADER ? rec : nullptr;
}
