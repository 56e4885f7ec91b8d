// Pod reader: a single-pass recursive-descent reader over a NUL-terminated
// text with an end pointer, pushing what it reads on the Lua stack.
#include "pod_reader.h"

#include <lz4.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "host.h"
#include "host_call.h"
#include "host_yield.h"
#include "pxu_lua.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

// Deepest nesting of tables, base64 values and LZ4 records, counted across
// nested texts; deeper texts fail instead of exhausting the C stack.
inline constexpr int kMaxDepth = 256;

// Stack slots each level may use (table, key, value, a record's array).
inline constexpr int kSlotsPerLevel = 8;

// Longest string a quoted string or a string record may hold.
inline constexpr int64_t kMaxString = 0x1FFFFFF;

// Number tokens are cut at this many characters.
inline constexpr int kMaxNumberToken = 44;

// An LZ4 block cannot expand beyond this ratio; larger raw sizes are lies.
inline constexpr uint64_t kLz4MaxRatio = 255;

// Largest raw size of one LZ4 record, and most decoded text (LZ4 and base64)
// held at once by one read.
inline constexpr uint64_t kMaxDecoded = uint64_t{256} << 20;

// Largest size a table is made with before its entries are read.
inline constexpr int kMaxSizeHint = 64;

// Cycles per value read.
inline constexpr int64_t kValueCycles = 1;

// Cycles per key read, for setting its entry; a bracketed key is charged as
// a value besides.
inline constexpr int64_t kKeyCycles = 1;

// Bytes of a bare key's text read per cycle, as for string values.
inline constexpr int64_t kKeyBytesPerCycle = 4;

// Bytes of a whole text (of its header alone for metadata) per cycle: every
// byte may be looked at, the blanks between values and a text that fails
// included.
inline constexpr int64_t kTextBytesPerCycle = 16;

/*
** State of one read. Plain data only: Lua may raise a memory error at any
** push, so the caller owns the scratch and the nested texts and frees them
** after the protected call returns.
*/
struct reader {
    lua_State *L;
    const char *text;          // the top text (protected call's input)
    int64_t length;            // its length
    int metadata;              // metadata mode of the top text
    const char *end;           // end of the text being read; a NUL stands there
    int depth;                 // levels open
    uint64_t held;             // bytes of nested texts alive
    int64_t cycles;            // charges gathered, spent once at the end
    char *scratch;             // malloc'd work area for strings and literals
    size_t scratch_cap;        // its size
    char *nested[kMaxDepth + 1];  // nested texts alive (malloc), innermost last
    int nnested;               // entries of 'nested' in use
    // Items and keyed entries of the last table read at each depth: its
    // next sibling is made that size, as texts tend to repeat a shape.
    uint8_t hint_items[kMaxDepth + 1];
    uint8_t hint_keys[kMaxDepth + 1];
};

/*
** {======================================================
** Character tests
** =======================================================
*/

// True when the text at p begins with the n bytes of 'lit'. Stops at the
// first byte that differs, so it never reads past a NUL of the text that
// 'lit' does not also hold.
inline bool has(const char *p, const char *lit, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (p[i] != lit[i]) return false;
    return true;
}

inline bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

inline bool is_key_first_char(unsigned char c) { return is_letter(c) || c == '_'; }
inline bool is_key_char(unsigned char c) { return is_letter(c) || is_digit(c) || c == '_'; }

inline bool is_num_char(unsigned char c) {
    return is_digit(c) || c == '_' || c == '+' || c == '-' || c == '.' || c == 'e';
}

// What may follow a value word: a control byte, space or NUL, a byte above
// 127, or a separator.
inline bool is_terminator(unsigned char c) { return c < 33 || c > 127 || c == ',' || c == ']' || c == '}'; }

inline bool word(const char *p, const char *w, size_t n) {
    return has(p, w, n) && is_terminator(static_cast<unsigned char>(p[n]));
}

// 0 when the first n bytes agree, else 1.
inline int labelcmp(const char *a, const char *b, size_t n) { return has(a, b, n) ? 0 : 1; }

// True when the text at p starts a table key rather than a value.
bool is_start_of_key(const char *p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '[') return true;
    if (!is_key_first_char(c)) return false;
    if (labelcmp(p, "b64:", 4) == 0) return false;
    if (word(p, "true", 4) || word(p, "false", 5) || word(p, "nil", 3) || word(p, "inf", 3) ||
        word(p, "nan", 3))
        return false;
    if (has(p, "lz4", 4) || has(p, "pxu", 4) || has(p, "str", 4)) return false;  // with their NUL
    if (has(p, "userdata", 8) && (p[8] == '"' || p[8] == '(')) return false;
    if (has(p, "unpod", 5) && (p[5] == '"' || p[5] == '(')) return false;
    return true;
}

inline uint32_t load_le32(const char *p) {
    const auto *u = reinterpret_cast<const uint8_t *>(p);
    return uint32_t{u[0]} | uint32_t{u[1]} << 8 | uint32_t{u[2]} << 16 | uint32_t{u[3]} << 24;
}

/* }====================================================== */

/*
** {======================================================
** Bookkeeping
** =======================================================
*/

// Charges n cycles the way spend_cpu counts them: at least 1.
inline void charge(reader *r, int64_t n) { r->cycles += n < 1 ? 1 : n; }

// Opens one level; false when it would pass kMaxDepth or the stack cannot
// grow.
bool enter(reader *r) {
    if (r->depth >= kMaxDepth || !lua_checkstack(r->L, kSlotsPerLevel)) return false;
    r->depth++;
    return true;
}

inline void leave(reader *r) { r->depth--; }

// A scratch area of at least n bytes, or null when memory fails.
char *scratch(reader *r, size_t n) {
    if (n > r->scratch_cap) {
        const size_t cap = std::max(n, 2 * r->scratch_cap);
        auto *grown = static_cast<char *>(realloc(r->scratch, cap));
        if (!grown) return nullptr;
        r->scratch = grown;
        r->scratch_cap = cap;
    }
    return r->scratch;
}

// A new nested text area of n + 1 bytes owned by the read, or null.
char *hold(reader *r, uint64_t n) {
    if (r->nnested > kMaxDepth || n > kMaxDecoded || r->held + n > kMaxDecoded) return nullptr;
    auto *p = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
    if (!p) return nullptr;
    r->nested[r->nnested++] = p;
    r->held += n;
    return p;
}

// Frees the innermost nested text, of n bytes.
void release(reader *r, uint64_t n) {
    free(r->nested[--r->nnested]);
    r->held -= n;
}

/* }====================================================== */

int read_text(reader *r, const char *text, int64_t length, bool metadata);
const char *get_value(reader *r, const char *p);

/*
** {======================================================
** Values (text -> stack); each pushes one value and returns the position
** after it, or returns null with nothing pushed
** =======================================================
*/

// The float of a token with a '.' or an 'e' that from_chars reads whole,
// into *v: the language reads such a token with strtod, and both round
// correctly, so they agree. False for any other token (an integer, a '+'
// in front, a '_', a value out of range), which the language then reads.
bool quick_float(const char *token, int n, lua_Number *v) {
    if (!memchr(token, '.', static_cast<size_t>(n)) && !memchr(token, 'e', static_cast<size_t>(n))) return false;
    const std::from_chars_result r = std::from_chars(token, token + n, *v);
    return r.ec == std::errc() && r.ptr == token + n;
}

// A number token: digits, '_', '+', '-', '.', 'e', at most kMaxNumberToken.
const char *get_number(reader *r, const char *p) {
    char token[kMaxNumberToken + 1];
    int n = 0;
    while (n < kMaxNumberToken && is_num_char(static_cast<unsigned char>(p[n]))) {
        token[n] = p[n];
        n++;
    }
    if (n == 0) return nullptr;
    token[n] = 0;
    lua_Number v;
    if (quick_float(token, n, &v)) {
        lua_pushnumber(r->L, v);
    } else if (lua_stringtonumber(r->L, token) == 0) {
        return nullptr;
    }
    return p + n;
}

// A quoted string (the opening quote skipped when present), with the
// escapes \" \\ \n and one to three decimal digits; a backslash before any
// other character stands for a NUL and leaves that character in place.
const char *get_string(reader *r, const char *p) {
    if (*p == '"') p++;
    const char *q = p;
    while (*q && *q != '"' && *q != '\\') q++;
    if (*q == '"') {  // no escapes: straight from the text
        const int64_t n = q - p;
        if (n > kMaxString) return nullptr;
        lua_pushlstring(r->L, p, static_cast<size_t>(n));
        charge(r, n / 4);
        return q + 1;
    }
    size_t n = 0;
    char *out = r->scratch;
    for (;;) {
        char c = *p;
        if (c == 0) return nullptr;  // unterminated
        if (c == '"') break;
        if (n >= static_cast<size_t>(kMaxString)) return nullptr;
        if (n >= r->scratch_cap) {
            out = scratch(r, std::min<size_t>(2 * n + 64, kMaxString));
            if (!out) return nullptr;
        }
        if (c == '\\') {
            c = *++p;
            if (c == '"' || c == '\\') {
                p++;
            } else if (c == 'n') {
                c = '\n';
                p++;
            } else if (is_digit(static_cast<unsigned char>(c))) {
                unsigned v = 0;
                for (int k = 0; k < 3 && is_digit(static_cast<unsigned char>(*p)); k++, p++)
                    v = (v * 10 + static_cast<unsigned>(*p - '0')) % 256;
                c = static_cast<char>(v);
            } else {
                c = 0;  // the character itself is read next as an ordinary one
            }
        } else {
            p++;
        }
        out[n++] = c;
    }
    lua_pushlstring(r->L, out, n);
    charge(r, static_cast<int64_t>(n) / 4);
    return p + 1;
}

// A string record at p ("str" NUL, u32 length, the bytes).
const char *get_binary_str(reader *r, const char *p) {
    if (r->end - p < 8) return nullptr;
    const uint32_t n = load_le32(p + 4);
    if (n > kMaxString || n > static_cast<uint64_t>(r->end - (p + 8))) return nullptr;
    lua_pushlstring(r->L, p + 8, n);
    return p + 8 + n;
}

// Reads a nested text of n bytes at 'text' (NUL after it) as a whole text
// and keeps only its value. False when it does not read.
bool read_nested(reader *r, const char *text, uint64_t n) {
    const int got = read_text(r, text, static_cast<int64_t>(n), false);
    if (got == 2) lua_pop(r->L, 1);  // an inner header's table is dropped
    return got > 0;
}

// A base64 value, p after "b64:": the characters up to the next '"' decode
// to a whole text. Returns the position of that '"' (or of the NUL).
const char *get_b64(reader *r, const char *p) {
    const char *q = p;
    while (*q && *q != '"') q++;
    const auto chars = static_cast<uint64_t>(q - p);
    const uint64_t room = chars / 4 * 3 + 3;
    if (!enter(r)) return nullptr;
    char *text = hold(r, room);
    if (!text) {
        leave(r);
        return nullptr;
    }
    base64_decodestate st;
    base64_init_decodestate(&st);
    const int64_t n = base64_decode_block(p, static_cast<int64_t>(chars), reinterpret_cast<uint8_t *>(text), &st);
    text[n] = 0;
    charge(r, n / 12);
    const bool ok = read_nested(r, text, static_cast<uint64_t>(n));
    release(r, room);
    leave(r);
    return ok ? q : nullptr;
}

// An LZ4 record at p: "lz4" NUL, u32 compressed size K, u32 raw size R, the
// block, which decodes to a whole text.
const char *get_lz4pod(reader *r, const char *p) {
    if (r->end - p < 12) return nullptr;
    const uint64_t k = load_le32(p + 4);
    const uint64_t raw = load_le32(p + 8);
    const char *block = p + 12;
    if (k > static_cast<uint64_t>(r->end - block) || k > INT32_MAX) return nullptr;
    if (raw > kLz4MaxRatio * k || raw > kMaxDecoded) return nullptr;
    if (!enter(r)) return nullptr;
    char *text = hold(r, raw);
    if (!text) {
        leave(r);
        return nullptr;
    }
    const int n = LZ4_decompress_safe(block, text, static_cast<int>(k), static_cast<int>(raw));
    if (n >= 0) charge(r, n / 12);
    bool ok = n == static_cast<int>(raw);
    if (!ok) {
        char line[128];
        snprintf(line, sizeof line, POD_LZ4_SIZES_MESSAGE, n, static_cast<int>(raw));
        codo_debug(line);
    } else {
        text[raw] = 0;
        ok = read_nested(r, text, raw);
    }
    release(r, raw);
    leave(r);
    return ok ? block + k : nullptr;
}

// A pxu record at p, charged by the elements of the array it makes.
const char *get_pxu(reader *r, const char *p) {
    const char *after = get_binary_pxu(r->L, p, r->end);
    if (!after) return nullptr;
    const auto *rec = static_cast<const typed_ud_rec *>(lua_touserdata(r->L, -1));
    charge(r, static_cast<int64_t>(ud_count(rec) * (8 * utype_size(ud_type(rec))) / 32));
    return after;
}

// Reads the unsigned decimal at p into *v (at most 0xFFFFFFFF); blanks
// before it are skipped and anything after its digits is ignored. False
// when there are no digits or the value is too large.
bool read_size(const char *p, uint32_t *v) {
    while (*p == ' ') p++;
    if (!is_digit(static_cast<unsigned char>(*p))) return false;
    uint64_t n = 0;
    for (; is_digit(static_cast<unsigned char>(*p)); p++) {
        n = n * 10 + static_cast<uint64_t>(*p - '0');
        if (n > UINT32_MAX) return false;
    }
    *v = static_cast<uint32_t>(n);
    return true;
}

// Copies [a, b) and [c, d) into the scratch as two NUL-terminated texts;
// null when memory fails. The second text starts at the result + (b - a) + 1.
char *copy_two(reader *r, const char *a, const char *b, const char *c, const char *d) {
    const auto n1 = static_cast<size_t>(b - a), n2 = static_cast<size_t>(d - c);
    char *s = scratch(r, n1 + n2 + 2);
    if (!s) return nullptr;
    memcpy(s, a, n1);
    s[n1] = 0;
    memcpy(s + n1 + 1, c, n2);
    s[n1 + 1 + n2] = 0;
    return s;
}

// A typed-array literal, p at "userdata". The constructor gets copies of
// the type name and the element text, so it reads nothing beyond the
// literal. A literal it refuses, or with sizes that are not unsigned
// decimals up to 0xFFFFFFFF, reads as nil.
const char *get_userdata(reader *r, const char *p) {
    lua_State *L = r->L;
    p += 8;
    if (*p == '(') p++;
    if (*p == '"') p++;
    if (has(p, "[gfx]", 5)) {  // legacy: the text carries its own size
        const char *q = p;
        while (*q && *q != '"') q++;
        if (!*q) return nullptr;
        char *s = copy_two(r, p, q, q, q);
        if (!s) return nullptr;
        if (!create_userdata(L, s, 2, 0, 0, 0, nullptr)) lua_pushnil(L);
        q++;
        return *q == ')' ? q + 1 : q;
    }
    const char *type_end = p;
    while (*type_end && *type_end != '"') type_end++;
    if (!*type_end) return nullptr;
    const char *data = type_end + 1;
    int commas = 0;
    const char *comma[5] = {};
    for (; *data != '"'; data++) {
        if (!*data) return nullptr;
        if (*data == ',') {
            if (commas < 5) comma[commas] = data;
            commas++;
        }
    }
    data++;  // the element text starts after the quote
    const char *data_end = data;
    while (*data_end && *data_end != '"') data_end++;
    if (!*data_end) return nullptr;
    const char *after = data_end + 1;
    if (*after == ')') after++;

    uint32_t sizes[3] = {1, 1, 1};
    bool ok = commas >= 2 && commas <= 4;
    for (int k = 0; ok && k < commas - 1; k++) ok = read_size(comma[k] + 1, &sizes[k]);
    typed_ud_rec *rec = nullptr;
    if (ok) {
        char *s = copy_two(r, p, type_end, data, data_end);
        if (!s) return nullptr;
        rec = create_userdata(L, s, commas - 1, sizes[0], sizes[1], sizes[2], s + (type_end - p) + 1);
    }
    if (!rec) lua_pushnil(L);
    return after;
}

// A table, p at its '{' (or at the first key of a header body). Keys are a
// bracketed value or a run of letters, digits and '_'; values without a key
// are items 1, 2, ...; entries whose key is nil or NaN are dropped.
const char *get_table(reader *r, const char *p) {
    lua_State *L = r->L;
    if (!enter(r)) return nullptr;
    const int depth = r->depth;
    lua_createtable(L, r->hint_items[depth], r->hint_keys[depth]);
    const int t = lua_gettop(L);
    lua_Integer item = 1;
    int keys = 0;
    char sep = '{';
    for (;;) {
        if (*p == sep) p++;
        sep = ',';
        const char c = *p;
        if (c == 0) goto fail;
        if (c == '}') {
            p++;
            break;
        }
        if (c == ']') break;
        if (!is_start_of_key(p)) {
            p = get_value(r, p);
            if (!p) goto fail;
            lua_rawseti(L, t, item++);
            continue;
        }
        if (c == '[') {
            p = get_value(r, p + 1);
            if (!p || *p != ']') goto fail;
            p++;
        } else {
            const char *q = p;
            while (is_key_char(static_cast<unsigned char>(*q))) q++;
            lua_pushlstring(L, p, static_cast<size_t>(q - p));
            r->cycles += (q - p) / kKeyBytesPerCycle;
            p = q;
        }
        r->cycles += kKeyCycles;
        if (*p == '=') {
            p = get_value(r, p + 1);
            if (!p) goto fail;
            const int kt = lua_type(L, -2);
            const bool nan_key = kt == LUA_TNUMBER && std::isnan(lua_tonumber(L, -2));
            if (kt == LUA_TNIL || nan_key) {
                lua_pop(L, 2);
            } else {
                lua_rawset(L, t);
                keys++;
            }
        } else if (*p == ',' || *p == ']' || *p == '}') {
            lua_pop(L, 1);  // a key without a value
        } else {
            goto fail;
        }
    }
    r->hint_items[depth] = static_cast<uint8_t>(std::min<lua_Integer>(item - 1, kMaxSizeHint));
    r->hint_keys[depth] = static_cast<uint8_t>(std::min(keys, kMaxSizeHint));
    leave(r);
    return p;
fail:
    lua_settop(L, t - 1);
    leave(r);
    return nullptr;
}

inline const char *skip_blanks(const char *p) {
    while ((*p >= 1 && *p <= 32) || static_cast<unsigned char>(*p) >= 128) p++;
    return p;
}

// One value other than the unpod(" wrapper, p at its first character.
const char *get_plain_value(reader *r, const char *p) {
    lua_State *L = r->L;
    switch (*p) {
    case '"': return get_string(r, p);
    case '{': return get_table(r, p);
    case 'b':
        if (has(p, "b64:", 4)) return get_b64(r, p + 4);
        break;
    case 'f':
        if (has(p, "false", 5)) {
            lua_pushboolean(L, 0);
            return p + 5;
        }
        break;
    case 't':
        if (has(p, "true", 4)) {
            lua_pushboolean(L, 1);
            return p + 4;
        }
        break;
    case 'n':
        if (has(p, "nil", 3)) {
            lua_pushnil(L);
            return p + 3;
        }
        if (word(p, "nan", 3)) {
            lua_pushnumber(L, NAN);
            return p + 3;
        }
        break;
    case 'i':
        if (word(p, "inf", 3)) {
            lua_pushnumber(L, HUGE_VAL);
            return p + 3;
        }
        break;
    case '-':
        if (word(p, "-inf", 4)) {
            lua_pushnumber(L, -HUGE_VAL);
            return p + 4;
        }
        if (word(p, "-nan", 4)) {
            lua_pushnumber(L, -NAN);
            return p + 4;
        }
        break;
    case 'l':
        if (has(p, "lz4", 4)) return get_lz4pod(r, p);
        break;
    case 'p':
        if (has(p, "pxu", 4)) return get_pxu(r, p);
        break;
    case 's':
        if (has(p, "str", 4)) return get_binary_str(r, p);
        break;
    case 'u':
        if (has(p, "userdata", 8)) return get_userdata(r, p);
        break;
    default: break;
    }
    return get_number(r, p);
}

// One value, after skipping bytes 1 to 32 and 128 to 255. The unpod("
// wrapper reads the value after its quote, then skips one '"' and one ')'
// where present; nested wrappers are counted rather than recursed into.
const char *get_value(reader *r, const char *p) {
    int wrappers = 0;
    for (;;) {
        charge(r, kValueCycles);
        p = skip_blanks(p);
        if (!has(p, "unpod(\"", 7)) break;
        wrappers++;
        p += 7;
    }
    p = get_plain_value(r, p);
    for (; p && wrappers > 0; wrappers--) {
        if (*p == '"') p++;
        if (*p == ')') p++;
    }
    return p;
}

/* }====================================================== */

/*
** {======================================================
** Whole texts
** =======================================================
*/

// The header length of a text known to begin with "--[[pod".
int64_t header_length(const char *text, int64_t length) {
    int64_t i = 7;
    while (i < length && text[i] && !(text[i] == ']' && text[i + 1] == ']')) i++;
    if (i >= length || !text[i]) return i;
    i += 2;
    if (i < length && text[i] == '\n') i++;
    return i;
}

// Reads the text of 'length' bytes at 'text' (a NUL at text[length]) as a
// whole text; see destringify_object_ex. Leaves exactly the values counted.
int read_text(reader *r, const char *text, int64_t length, bool metadata) {
    lua_State *L = r->L;
    const char *saved_end = r->end;
    r->end = text + length;
    int result = 0;
    const bool has_header = length >= 7 && has(text, "--[[pod", 7);
    const int64_t h = has_header ? header_length(text, length) : 0;
    if (text != r->text) r->cycles += length / kTextBytesPerCycle;  // the top text is charged before the read
    if (has_header) {
        if (metadata) {
            if (!get_table(r, text + 4)) lua_newtable(L);
            result = 1;
        } else {
            bool ok;
            if (length >= 20 && has(text, "--[[pod_format=\"raw\"", 20)) {
                lua_pushlstring(L, text + h, static_cast<size_t>(length - h));
                ok = true;
            } else {
                ok = get_value(r, text + h) != nullptr;
            }
            if (ok) {
                if (get_table(r, text + 4)) {
                    result = 2;
                } else {
                    printf(POD_BAD_METADATA_MESSAGE, text + 4);
                    result = 1;
                }
            }
        }
    } else if (metadata) {
        lua_newtable(L);
        result = 1;
    } else if (length == 3 && has(text, "str", 3)) {
        lua_pushliteral(L, "str");
        result = 1;
    } else {
        result = get_value(r, text) ? 1 : 0;
    }
    r->end = saved_end;
    return result;
}

// The protected body: the reader at 1; returns the values read.
int read_protected(lua_State *L) {
    auto *r = static_cast<reader *>(lua_touserdata(L, 1));
    lua_pop(L, 1);
    return read_text(r, r->text, r->length, r->metadata != 0);
}

/* }====================================================== */

}  // namespace

int destringify_object_ex(lua_State *L, const char *text, int64_t length, int metadata) {
    if (!text || length < 0 || text[length] != 0) return 0;
    // Every byte may be looked at (of the header alone for metadata):
    // charged first, so a text too long for the watchdog's margin is not
    // read at all.
    const int64_t read = metadata ? find_metadata_length(text, length) : length;
    if (read >= kTextBytesPerCycle)
        host_charge_check(L, static_cast<int32_t>(std::min<int64_t>(read / kTextBytesPerCycle, INT32_MAX / 2)));
    if (!lua_checkstack(L, 2 + kSlotsPerLevel)) return 0;
    const int top = lua_gettop(L);
    int status;
    {
        reader r{};
        r.L = L;
        r.text = text;
        r.length = length;
        r.metadata = metadata;
        r.end = text + length;
        status = host_pcall(L, read_protected, &r, 0, LUA_MULTRET);
        while (r.nnested > 0) free(r.nested[--r.nnested]);
        free(r.scratch);
        if (r.cycles > 0) spend_cpu(static_cast<int32_t>(std::min<int64_t>(r.cycles, INT32_MAX)));
    }
    if (status != LUA_OK) lua_error(L);
    return lua_gettop(L) - top;
}

int destringify_object(lua_State *L, const char *text, int64_t length) {
    return destringify_object_ex(L, text, length, 0);
}

int destringify_object_metadata(lua_State *L, const char *text, int64_t length) {
    return destringify_object_ex(L, text, length, 1);
}

int64_t find_metadata_length(const char *text, int64_t length) {
    if (!text || length < 7 || !has(text, "--[[pod", 7)) return 0;
    return header_length(text, length);
}
