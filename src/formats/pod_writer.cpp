// Pod writer: values, tables with sorted keys, typed-array literals and
// records, and the LZ4 and base64 wrappers around a whole text.
#include "pod_writer.h"

#include <lz4.h>
#include <lz4hc.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "buffer_grow.h"
#include "float_text.h"
#include "host_call.h"
#include "host_yield.h"
#include "pxu_lua.h"
#include "table_scan.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

// Deepest nesting of tables inside one another; a table that holds itself
// reaches it at once instead of recursing without end.
inline constexpr int kMaxTableDepth = 200;

// Longest text one call may produce: a table repeating one large subtable
// would otherwise fill memory.
inline constexpr int64_t kMaxText = int64_t{256} << 20;

// First capacity of the scratch text the wrappers work on.
inline constexpr int32_t kScratchCapacity = 256;

// Keyed values per table held on the Lua stack while the keys are sorted,
// so they need no second lookup; later ones are looked up by key.
inline constexpr int kStackValues = 64;

// LZ4 high-compression level of whole-text records.
inline constexpr int kLz4Level = 1;

// Bytes of text compressed a cycle: the match search takes 5-12 ns a byte.
inline constexpr int kLz4BytesPerCycle = 2;

// Cycles per value written.
inline constexpr int64_t kValueCycles = 2;

// A keyed value looked up again by its key: the key made a string again
// (hashed, found among the interned ones) and found in the table.
inline constexpr int64_t kLookupCycles = 8;

// Bytes of key text written per cycle, as for string values.
inline constexpr int64_t kKeyBytesPerCycle = 4;

// Key comparisons per cycle: sorting m keys is charged m * ceil(log2 m)
// comparisons, and their bytes as many times.
inline constexpr int64_t kSortComparisonsPerCycle = 1;
inline constexpr int64_t kSortBytesPerCycle = 32;

// Cycles gathered before they are paid: a text too long for the slice stops
// at the watchdog's margin as it goes.
inline constexpr int64_t kPayEvery = 4096;

inline constexpr char kHexDigits[] = "0123456789abcdef";

enum class key_kind : uint8_t { string, integer, real };

// One collected table key. String bytes belong to the table, which holds
// them for the whole write (nothing runs that could change it, and the
// collector is stopped).
struct key_rec {
    const char *s;   // string key bytes, or null
    size_t len;      // string key length
    lua_Integer i;   // integer key
    lua_Number f;    // float key
    int slot;        // stack slot holding the value, or 0: look it up
    key_kind kind;   // which of the three fields holds the key
};

/*
** State of one call. Plain data only: the Lua side may raise through the
** writer at any call, so the caller owns 'keys' and frees it afterwards.
** The collected keys of all open tables form one stack; each table keeps
** its own range by index, as nested tables may move the array.
*/
struct writer {
    lua_State *L;
    buffer_rec *out;      // where the text goes: the caller's buffer or scratch
    int64_t start;        // out's cursor when the text began
    int64_t cycles;       // charges gathered since last paid
    int flags;            // flags of the top value
    int tables;           // tables open
    key_rec *keys;        // collected keys (malloc), 'nkeys' used of 'capkeys'
    size_t nkeys;
    size_t capkeys;
    lua_Integer *items;   // item indices of open sparse tables (malloc), a stack like 'keys'
    size_t nitems;
    size_t capitems;
};

/*
** {======================================================
** Failures (raised inside the protected call)
** =======================================================
*/

[[noreturn]] void raise(lua_State *L, const char *message) {
    lua_pushstring(L, message);
    lua_error(L);
    __builtin_unreachable();
}

[[noreturn]] void raise_memory(lua_State *L) { raise(L, "not enough memory"); }

// The type name Lua's comparison error gives a value: the metatable's
// string __name of a table or full userdata, else the basic type's name.
const char *type_name_of(lua_State *L, int idx) {
    const int t = lua_type(L, idx);
    if ((t == LUA_TTABLE || t == LUA_TUSERDATA) && lua_getmetatable(L, idx)) {
        lua_pushliteral(L, "__name");
        const bool named = lua_rawget(L, -2) == LUA_TSTRING;
        const char *name = named ? lua_tostring(L, -1) : nullptr;
        lua_pop(L, 2);  // the metatable keeps the name alive
        if (name) return name;
    }
    return lua_typename(L, t);
}

/* }====================================================== */

/*
** {======================================================
** Output (C -> text)
** =======================================================
*/

// Charges n cycles the way spend_cpu counts them: at least 1.
inline void charge(writer *w, int64_t n) { w->cycles += n < 1 ? 1 : n; }

// Pays what was gathered; raises the watchdog's error past its margin.
void pay(writer *w) {
    if (w->cycles <= 0) return;
    const int64_t n = std::min<int64_t>(w->cycles, INT32_MAX / 2);
    w->cycles = 0;
    host_charge_check(w->L, static_cast<int32_t>(n));
}

inline void pay_due(writer *w) {
    if (w->cycles >= kPayEvery) pay(w);
}

// Room for n more bytes at the cursor; raises when the text would pass
// kMaxText or the buffer cannot grow.
inline uint8_t *reserve(writer *w, int64_t n) {
    buffer_rec *b = w->out;
    if (int64_t{b->cursor} + n - w->start > kMaxText) raise(w->L, POD_SIZE_MESSAGE);
    if (b->capacity < static_cast<uint64_t>(b->cursor) + static_cast<uint64_t>(n) + 1 &&
        !buffer_room_at_cursor(b, n))
        raise_memory(w->L);
    return b->data + b->cursor;
}

inline void advance(writer *w, int64_t n) { buffer_advance(w->out, n); }

// The pod escape of every byte, taken once from bwrite_escaped_string, so
// its rules stay in one place while strings are escaped in one pass.
struct escape_table {
    uint8_t len[256];      // characters a byte becomes: 1, 2 or 4
    uint8_t text[256][4];  // those characters
};

const escape_table &pod_escapes() {
    static const escape_table table = [] {
        escape_table t{};
        buffer_rec *b = create_buffer_2(8, 'o');
        for (int c = 0; c < 256; c++) {
            const auto byte = static_cast<uint8_t>(c);
            bclear(b);
            const int64_t n = bwrite_escaped_string(&byte, b, 1);
            assert(n >= 1 && n <= 4);
            t.len[c] = static_cast<uint8_t>(n);
            memcpy(t.text[c], b->data, static_cast<size_t>(n));
        }
        destroy_buffer(b);
        return t;
    }();
    return table;
}

// Appends the pod-escaped bytes; raises when the text passes kMaxText.
void put_escaped(writer *w, const char *s, size_t len) {
    const escape_table &t = pod_escapes();
    const auto *in = reinterpret_cast<const uint8_t *>(s);
    auto size = static_cast<int64_t>(4 * len);  // the most it can take
    if (int64_t{w->out->cursor} + size - w->start > kMaxText) {
        size = 0;
        for (size_t i = 0; i < len; i++) size += t.len[in[i]];
    }
    uint8_t *const first = reserve(w, size);
    uint8_t *p = first;
    for (size_t i = 0; i < len; i++) {
        const uint8_t c = in[i];
        switch (t.len[c]) {
        case 1: *p++ = c; break;
        case 2:
            memcpy(p, t.text[c], 2);
            p += 2;
            break;
        default:
            memcpy(p, t.text[c], 4);
            p += 4;
            break;
        }
    }
    advance(w, p - first);
}

inline void put(writer *w, const void *bytes, size_t n) {
    memcpy(reserve(w, static_cast<int64_t>(n)), bytes, n);
    advance(w, static_cast<int64_t>(n));
}

inline void put_char(writer *w, char c) {
    *reserve(w, 1) = static_cast<uint8_t>(c);
    advance(w, 1);
}

inline void put_str(writer *w, const char *s) { put(w, s, strlen(s)); }

// Decimal digits of v into 'buf' (at least 21 bytes); returns the count.
int format_integer(char *buf, lua_Integer v) {
    char tmp[24];
    int n = 0;
    uint64_t u = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        tmp[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    int k = 0;
    if (v < 0) buf[k++] = '-';
    while (n) buf[k++] = tmp[--n];
    return k;
}

// The language's text of a float, "%.14g"; every NaN is nan. Returns the
// length.
int format_float(char *buf, size_t size, lua_Number v) {
    if (std::isnan(v)) {
        memcpy(buf, "nan", 3);
        return 3;
    }
    return float_text(buf, size, v);
}

// Characters of a number's text per cycle, beyond its value's charge: a
// float's digits cost more than the value's two cycles.
inline constexpr int64_t kNumberCharsPerCycle = 8;
// A float's shortest digits are searched for: its text costs this much more.
inline constexpr int64_t kFloatTextCycles = 8;

void put_number(writer *w, int idx) {
    char buf[48];
    int n;
    if (lua_isinteger(w->L, idx)) {
        n = format_integer(buf, lua_tointeger(w->L, idx));
    } else {
        // The language's text of an integral float ends in ".0", which pod
        // drops; "%.14g" never writes it.
        n = format_float(buf, sizeof buf, lua_tonumber(w->L, idx));
        w->cycles += kFloatTextCycles;
    }
    put(w, buf, static_cast<size_t>(n));
    w->cycles += n / kNumberCharsPerCycle;
}

void put_string(writer *w, int idx, int flags) {
    size_t len;
    const char *s = lua_tolstring(w->L, idx, &len);
    if (flags & POD_STR) {
        uint8_t *p = reserve(w, 8 + static_cast<int64_t>(len));
        memcpy(p, "str", 4);
        const uint32_t n = static_cast<uint32_t>(len);
        for (int k = 0; k < 4; k++) p[4 + k] = static_cast<uint8_t>(n >> (8 * k));
        memcpy(p + 8, s, len);
        advance(w, 8 + static_cast<int64_t>(len));
        charge(w, static_cast<int64_t>(len) / 4);
        return;
    }
    const int64_t before = w->out->cursor;
    put_char(w, '"');
    put_escaped(w, s, len);
    put_char(w, '"');
    charge(w, (w->out->cursor - before) / 4);
}

/* }====================================================== */

/*
** {======================================================
** Typed arrays
** =======================================================
*/

// Hex digits of each element, most significant first (two's complement).
void put_hex_elements(writer *w, const typed_ud_rec *rec, uint64_t count) {
    const int size = static_cast<int>(utype_size(ud_type(rec)));
    const int64_t digits = 2 * size;
    uint8_t *p = reserve(w, static_cast<int64_t>(count) * digits);
    const uint8_t *e = ud_elements(const_cast<typed_ud_rec *>(rec));
    for (uint64_t i = 0; i < count; i++, e += size) {
        for (int b = size - 1; b >= 0; b--) {
            *p++ = static_cast<uint8_t>(kHexDigits[e[b] >> 4]);
            *p++ = static_cast<uint8_t>(kHexDigits[e[b] & 15]);
        }
    }
    advance(w, static_cast<int64_t>(count) * digits);
}

void put_f64_elements(writer *w, const typed_ud_rec *rec, uint64_t count) {
    const uint8_t *e = ud_elements(const_cast<typed_ud_rec *>(rec));
    for (uint64_t i = 0; i < count; i++) {
        double v;
        memcpy(&v, e + 8 * i, 8);
        char buf[48];
        int n = 0;
        if (i > 0) buf[n++] = ',';
        n += format_float(buf + n, sizeof buf - 1, v);
        put(w, buf, static_cast<size_t>(n));
    }
}

// userdata("T",w,"E"), with h when there are several rows and d when there
// are several layers.
void put_literal(writer *w, const typed_ud_rec *rec, uint64_t count) {
    put_str(w, "userdata(\"");
    put_str(w, get_utype_string(ud_type(rec)));
    put_char(w, '"');
    const bool layers = rec->depth > 1;
    const bool rows = layers || rec->dims >= 2 || rec->height > 1;
    const uint32_t sizes[3] = {rec->width, rec->height, rec->depth};
    const int n = layers ? 3 : rows ? 2 : 1;
    for (int k = 0; k < n; k++) {
        char buf[24];
        buf[0] = ',';
        put(w, buf, static_cast<size_t>(1 + format_integer(buf + 1, sizes[k])));
    }
    put_str(w, ",\"");
    if (ud_type(rec) == UTYPE_F64) {
        put_f64_elements(w, rec, count);
    } else {
        put_hex_elements(w, rec, count);
    }
    put_str(w, "\")");
}

void put_typed_array(writer *w, int idx, int flags) {
    const typed_ud_rec *rec = to_typed_ud(w->L, idx);
    if (!rec) {
        put_str(w, "nil");
        return;
    }
    const uint64_t count = ud_count(rec);
    charge(w, static_cast<int64_t>(count * (8 * utype_size(ud_type(rec))) / 32));
    // An f64 element's text is a float's: its shortest digits are searched for.
    if (ud_type(rec) == UTYPE_F64) w->cycles += static_cast<int64_t>(count) * kFloatTextCycles;
    pay(w);  // before the elements: an array too long for the slice stops first
    if ((flags & POD_PXU) && ud_type(rec) == UTYPE_U8) {
        // A record is at most its sizes plus two bytes per element.
        reserve(w, 32 + 2 * static_cast<int64_t>(count));
        if (write_binary_pxu(rec, w->out, (flags & POD_PXU_RAW) ? 0 : PXU_POD_BITS) == 0)
            raise_memory(w->L);
        return;
    }
    put_literal(w, rec, count);
}

/* }====================================================== */

/*
** {======================================================
** Tables
** =======================================================
*/

// True when the key may stand bare: ASCII letters, digits and '_', not
// starting with a digit, over the key's whole length.
bool is_alphanum_key(const char *s, size_t len) {
    if (len == 0) return false;
    for (size_t i = 0; i < len; i++) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}

// -1, 0 or 1 as integer i is below, equal to or above float f (not NaN),
// exactly.
int compare_int_float(lua_Integer i, lua_Number f) {
    if (f >= 9223372036854775808.0) return -1;
    if (f < -9223372036854775808.0) return 1;
    const lua_Number fl = std::floor(f);
    const auto fi = static_cast<lua_Integer>(fl);
    if (i != fi) return i < fi ? -1 : 1;
    return f > fl ? -1 : 0;
}

// Key order: strings first, bytewise; then numbers, numerically.
bool compare_stack_item(const key_rec &a, const key_rec &b) {
    const bool as = a.kind == key_kind::string, bs = b.kind == key_kind::string;
    if (as != bs) return as;
    if (as) {
        const int c = memcmp(a.s, b.s, std::min(a.len, b.len));
        return c != 0 ? c < 0 : a.len < b.len;
    }
    if (a.kind == key_kind::integer && b.kind == key_kind::integer) return a.i < b.i;
    if (a.kind == key_kind::real && b.kind == key_kind::real) return a.f < b.f;
    if (a.kind == key_kind::integer) return compare_int_float(a.i, b.f) < 0;
    return compare_int_float(b.i, a.f) > 0;
}

void push_key(writer *w, const key_rec &k) {
    if (w->nkeys == w->capkeys) {
        const size_t cap = w->capkeys ? 2 * w->capkeys : 64;
        auto *grown = static_cast<key_rec *>(realloc(w->keys, cap * sizeof(key_rec)));
        if (!grown) raise_memory(w->L);
        w->keys = grown;
        w->capkeys = cap;
    }
    w->keys[w->nkeys++] = k;
}

// Collects the keys of the table at 'idx' that are not items 1..n onto the
// key stack. Two keys sharing a type without an order raise the language's
// comparison error; keys of such types are otherwise left out.
// The first kStackValues of their values stay on the stack, in the order
// met, each recorded in its key's slot. Returns the string keys' bytes.
size_t collect_keys(writer *w, int idx, lua_Unsigned n) {
    lua_State *L = w->L;
    size_t bytes = 0;  // of the string keys collected
    const char *unordered[LUA_NUMTYPES] = {};  // type name of the first such key
    int kept = 0;
    // Items 1..n are written by the item loop, not as keys: the walk starts
    // after those in the array part rather than visiting each of them.
    const lua_Unsigned skip = std::min(static_cast<lua_Unsigned>(table_array_size(L, idx)), n);
    if (skip > 0) {
        lua_pushinteger(L, static_cast<lua_Integer>(skip));
    } else {
        lua_pushnil(L);
    }
    charge(w, VM_WALK_STEP_CYCLES);  // the step that finds no more
    while (lua_next(L, idx)) {
        charge(w, VM_WALK_STEP_CYCLES);
        const int t = lua_type(L, -2);
        key_rec k{nullptr, 0, 0, 0, 0, key_kind::string};
        bool keyed = true;
        if (t == LUA_TNUMBER) {
            if (lua_isinteger(L, -2)) {
                k.i = lua_tointeger(L, -2);
                k.kind = key_kind::integer;
                keyed = !(k.i >= 1 && static_cast<lua_Unsigned>(k.i) <= n);
            } else {
                k.f = lua_tonumber(L, -2);
                k.kind = key_kind::real;
            }
        } else if (t == LUA_TSTRING) {
            k.s = lua_tolstring(L, -2, &k.len);
            bytes += k.len;
        } else {
            keyed = false;
            if (t >= 0 && t < LUA_NUMTYPES) {
                const char *name = type_name_of(L, -2);
                if (const char *first = unordered[t]) {
                    if (strcmp(first, name) == 0) {
                        lua_pushfstring(L, "attempt to compare two %s values", name);
                    } else {
                        lua_pushfstring(L, "attempt to compare %s with %s", first, name);
                    }
                    lua_error(L);
                }
                unordered[t] = name;
            }
        }
        if (keyed && kept < kStackValues && lua_checkstack(L, 2)) {
            lua_insert(L, -2);  // the value stays below the key lua_next takes
            k.slot = lua_gettop(L) - 1;
            kept++;
            push_key(w, k);
            continue;
        }
        if (keyed) push_key(w, k);
        lua_pop(L, 1);
    }
    return bytes;
}

void put_key(writer *w, const key_rec &k) {
    char buf[48];
    switch (k.kind) {
    case key_kind::string:
        if (is_alphanum_key(k.s, k.len)) {
            put(w, k.s, k.len);
        } else {
            put(w, "[\"", 2);
            put_escaped(w, k.s, k.len);
            put(w, "\"]", 2);
        }
        break;
    case key_kind::integer:
        buf[0] = '[';
        put(w, buf, static_cast<size_t>(1 + format_integer(buf + 1, k.i)));
        put_char(w, ']');
        break;
    case key_kind::real:
        // Bracketed even when the text is a word (inf), so it reads back as
        // the number.
        buf[0] = '[';
        put(w, buf, static_cast<size_t>(1 + format_float(buf + 1, sizeof buf - 1, k.f)));
        put_char(w, ']');
        break;
    }
}

// The charge for sorting m keys of 'bytes' string bytes in all: m *
// ceil(log2 m) comparisons, each key's bytes compared as often.
int64_t sort_cycles(size_t m, size_t bytes) {
    int64_t log2 = 0;
    while ((size_t{1} << log2) < m) log2++;
    return static_cast<int64_t>(m) * log2 / kSortComparisonsPerCycle +
           static_cast<int64_t>(bytes / kSortBytesPerCycle) * log2;
}

void stringify_object_recursive(writer *w, int idx, int flags);

// The separator before item i.
inline void put_item_separator(writer *w, bool keyed, lua_Unsigned i) {
    if (keyed || i > 1) put_char(w, ',');
}

// Items first..last, none of which the table holds: each is written and
// charged as the item loop writes a nil, in one block. When the text has no
// room for all of them, the loop would have raised the size error in the
// first that does not fit, after charging those before it (and that one
// when its ',' fits): so it does, without writing any.
//
// With 'count_only' (a text that cannot be finished) the run is counted
// rather than written: the text's start moves back by its length, so every
// later size check sees the text as if it held the run.
void put_nil_items(writer *w, bool keyed, lua_Unsigned first, lua_Unsigned last, bool count_only) {
    static constexpr char kNil[] = ",nil";
    if (first == 1 && !keyed) {  // the one item without a ',' before it
        charge(w, kValueCycles);
        put_str(w, "nil");
        if (first++ == last) return;
    }
    const lua_Unsigned count = last - first + 1;
    const int64_t room = kMaxText - (int64_t{w->out->cursor} - w->start);
    const auto fit = std::min<lua_Unsigned>(count, static_cast<lua_Unsigned>(room / 4));
    if (fit < count) {
        w->cycles += static_cast<int64_t>(fit) * kValueCycles;
        if (room - 4 * static_cast<int64_t>(fit) >= 1) w->cycles += kValueCycles;
        raise(w->L, POD_SIZE_MESSAGE);
    }
    const auto bytes = static_cast<int64_t>(4 * count);
    if (count_only) {
        w->start -= bytes;
    } else {
        uint8_t *p = reserve(w, bytes);
        memcpy(p, kNil, 4);
        for (int64_t done = 4; done < bytes; done *= 2)
            memcpy(p + done, p, static_cast<size_t>(std::min(done, bytes - done)));
        advance(w, bytes);
    }
    w->cycles += static_cast<int64_t>(count) * kValueCycles;
}

// Items 1..n of a table holding far fewer: its items are found among its
// entries, and the runs between them written by put_nil_items, giving the
// text of the loop over every index.
void put_sparse_items(writer *w, int idx, lua_Unsigned n, bool keyed, int inner) {
    lua_State *L = w->L;
    const auto slots = static_cast<size_t>(table_slots(L, idx));
    const size_t base = w->nitems;
    if (w->capitems - base < slots) {
        const size_t cap = std::max(2 * w->capitems, base + slots);
        auto *grown = static_cast<lua_Integer *>(realloc(w->items, cap * sizeof(lua_Integer)));
        if (!grown) raise_memory(L);
        w->items = grown;
        w->capitems = cap;
    }
    const size_t m = table_sorted_keys(L, idx, 1, static_cast<lua_Integer>(n), w->items + base, w->capitems - base);
    if (m == static_cast<size_t>(-1)) raise_memory(L);  // the collector is held: the slots cannot have grown
    w->nitems = base + m;
    // When the runs of nil alone pass the size limit the writer must fail
    // within them; they are then only counted, so that it fails as soon as
    // it would have, with the same charge, without writing the text before.
    const int64_t room = kMaxText - (int64_t{w->out->cursor} - w->start);
    const bool count_only = n - m > static_cast<lua_Unsigned>(room / 4);
    lua_Unsigned next = 1;
    for (size_t a = 0; a < m; a++) {
        const auto i = static_cast<lua_Unsigned>(w->items[base + a]);  // nested tables may move the array
        if (i > next) put_nil_items(w, keyed, next, i - 1, count_only);
        put_item_separator(w, keyed, i);
        lua_rawgeti(L, idx, static_cast<lua_Integer>(i));
        stringify_object_recursive(w, lua_gettop(L), inner);
        lua_pop(L, 1);
        next = i + 1;
    }
    if (next <= n) put_nil_items(w, keyed, next, n, count_only);
    w->nitems = base;
}

void put_table(writer *w, int idx, int flags) {
    lua_State *L = w->L;
    if (w->tables >= kMaxTableDepth) raise(L, POD_DEPTH_MESSAGE);
    if (!lua_checkstack(L, 4)) raise(L, "stack overflow");
    w->tables++;
    const int inner = flags | POD_NESTED;
    put_char(w, '{');
    const lua_Unsigned n = lua_rawlen(L, idx);
    const size_t base = w->nkeys;
    const int values = lua_gettop(L);
    const size_t bytes = collect_keys(w, idx, n);
    const size_t top = w->nkeys;
    // The sort is paid for before it runs: one that cannot end in time
    // stops at the margin first.
    w->cycles += sort_cycles(top - base, bytes);
    pay(w);
    std::sort(w->keys + base, w->keys + top, compare_stack_item);
    bool keyed = false;
    for (size_t k = base; k < top; k++) {
        const key_rec key = w->keys[k];  // nested tables may move the array
        if (keyed) put_char(w, ',');
        keyed = true;
        const int64_t before = w->out->cursor;
        put_key(w, key);
        w->cycles += (w->out->cursor - before) / kKeyBytesPerCycle;
        put_char(w, '=');
        if (key.slot) {
            stringify_object_recursive(w, key.slot, inner);
            continue;
        }
        charge(w, kLookupCycles + static_cast<int64_t>(key.len / kSortBytesPerCycle));
        switch (key.kind) {
        case key_kind::string: lua_pushlstring(L, key.s, key.len); break;
        case key_kind::integer: lua_pushinteger(L, key.i); break;
        case key_kind::real: lua_pushnumber(L, key.f); break;
        }
        lua_rawget(L, idx);
        stringify_object_recursive(w, lua_gettop(L), inner);
        lua_pop(L, 1);
    }
    w->nkeys = base;
    lua_settop(L, values);
    if (n > 0 && table_is_sparse(L, idx, static_cast<lua_Integer>(n))) {
        put_sparse_items(w, idx, n, keyed, inner);
    } else {
        for (lua_Unsigned i = 1; i <= n; i++) {
            put_item_separator(w, keyed, i);
            lua_rawgeti(L, idx, static_cast<lua_Integer>(i));
            stringify_object_recursive(w, lua_gettop(L), inner);
            lua_pop(L, 1);
        }
    }
    put_char(w, '}');
    w->tables--;
}

/* }====================================================== */

void stringify_object_recursive(writer *w, int idx, int flags) {
    charge(w, kValueCycles);
    pay_due(w);
    switch (lua_type(w->L, idx)) {
    case LUA_TSTRING: put_string(w, idx, flags); break;
    case LUA_TNUMBER: put_number(w, idx); break;
    case LUA_TBOOLEAN: put_str(w, lua_toboolean(w->L, idx) ? "true" : "false"); break;
    case LUA_TTABLE: put_table(w, idx, flags); break;
    case LUA_TUSERDATA: put_typed_array(w, idx, flags); break;
    default: put_str(w, "nil"); break;  // nil, functions, threads, light userdata
    }
}

// The protected body: writer at 1, value at 2.
int write_protected(lua_State *L) {
    auto *w = static_cast<writer *>(lua_touserdata(L, 1));
    stringify_object_recursive(w, 2, w->flags);
    return 0;
}

void spend(int64_t cycles) {
    if (cycles > 0) spend_cpu(static_cast<int32_t>(std::min<int64_t>(cycles, INT32_MAX)));
}

/*
** {======================================================
** Whole-text wrappers (plain C++; no Lua calls)
** =======================================================
*/

// One LZ4-HC state per thread, kept between calls: making one clears a
// quarter of a megabyte, which costs more than compressing a small text.
// A fast reset between texts gives the blocks a fresh state gives.
struct lz4_state_holder {
    LZ4_streamHC_t *state = nullptr;
    ~lz4_state_holder() { LZ4_freeStreamHC(state); }
};

LZ4_streamHC_t *lz4_state() {
    static thread_local lz4_state_holder holder;
    if (!holder.state) holder.state = LZ4_createStreamHC();
    return holder.state;
}

// Replaces the text in 'scratch' by its LZ4 record. False when memory fails.
bool compress_text(buffer_rec *scratch, int64_t *cycles) {
    const int raw = scratch->length;
    const int bound = LZ4_compressBound(raw);
    LZ4_streamHC_t *state = lz4_state();
    if (!state) return false;
    auto *block = static_cast<char *>(malloc(static_cast<size_t>(bound) + 1));
    if (!block) return false;
    LZ4_resetStreamHC_fast(state, kLz4Level);
    const int k = LZ4_compress_HC_continue(state, reinterpret_cast<const char *>(scratch->data), block, raw, bound);
    *cycles += std::max(raw / kLz4BytesPerCycle, 1);
    bclear(scratch);
    bool ok = k > 0 || raw == 0;
    ok = ok && bwrite("lz4", 1, 4, scratch) == 4 && bwrite_uint32(static_cast<uint32_t>(k), scratch) == 4 &&
         bwrite_uint32(static_cast<uint32_t>(raw), scratch) == 4 && (k == 0 || bwrite(block, 1, k, scratch) == k);
    free(block);
    return ok;
}

// Appends unpod("b64:<base64 of scratch>") to out at its cursor.
bool wrap_base64(const buffer_rec *scratch, buffer_rec *out, int64_t *cycles) {
    const int64_t n = scratch->length;
    const int64_t encoded_max = 4 * ((n + 2) / 3);
    auto *text = static_cast<char *>(malloc(static_cast<size_t>(encoded_max) + 4));
    if (!text) return false;
    base64_encodestate st;
    base64_init_encodestate(&st);
    int64_t len = base64_encode_block(scratch->data, n, text, &st);
    len += base64_encode_blockend(text + len, &st);
    *cycles += std::max<int64_t>(len / 8, 1);
    static constexpr char kOpen[] = "unpod(\"b64:";
    const bool ok = bwrite(kOpen, 1, sizeof kOpen - 1, out) == int64_t{sizeof kOpen - 1} &&
                    (len == 0 || bwrite(text, 1, len, out) == len) && bwrite("\")", 1, 2, out) == 2;
    free(text);
    return ok;
}

/* }====================================================== */

}  // namespace

int stringify_object(lua_State *L, int index, buffer_rec *out, int depth, int flags) {
    (void)depth;  // handed on by the Part's callers; it has no effect
    index = lua_absindex(L, index);
    if (!lua_checkstack(L, 3)) raise(L, "stack overflow");
    const int32_t out_cursor = out->cursor, out_length = out->length;
    // The wrappers work on a scratch text, as does a write into the middle
    // of out (the escaping appends at the end).
    const bool scratch_text = (flags & (POD_LZ4 | POD_B64)) || out->cursor != out->length;

    int status;
    {
        writer w{L, out, 0, 0, flags, 0, nullptr, 0, 0, nullptr, 0, 0};
        buffer_rec *scratch = nullptr;
        if (scratch_text) {
            scratch = create_buffer_2(kScratchCapacity, 'o');
            if (!scratch) raise_memory(L);
            w.out = scratch;
        }
        w.start = w.out->cursor;
        // Nothing may collect the key strings the writer holds by pointer.
        const int took = host_gc_hold(L);
        lua_pushvalue(L, index);
        status = host_pcall(L, write_protected, &w, 1, 0);
        host_gc_release(L, took);
        free(w.keys);
        free(w.items);

        if (status == LUA_OK && scratch) {
            bool ok = true;
            if (flags & POD_LZ4) ok = compress_text(scratch, &w.cycles);
            if (ok && (flags & POD_B64)) {
                ok = wrap_base64(scratch, out, &w.cycles);
            } else if (ok) {
                ok = scratch->length == 0 || bwrite(scratch->data, 1, scratch->length, out) == scratch->length;
            }
            if (!ok) {
                status = LUA_ERRMEM;
                lua_pushliteral(L, "not enough memory");
            }
        }
        destroy_buffer(scratch);
        spend(w.cycles);
    }
    if (status != LUA_OK) {
        out->cursor = out_cursor;
        out->length = out_length;
        lua_error(L);
    }
    return 0;
}
