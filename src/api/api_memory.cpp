// Reads and writes of the caller's address space in four widths, reads of
// another process's memory, copies and fills, and typed-array creation.
#include <cstdint>

#include "address_space.h"
#include "api_args.h"
#include "api_functions.h"
#include "intp.h"
#include "lua.hpp"
#include "process.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

inline constexpr uint32_t MAX_VALUES = 0x10000;     /* values one read or write moves */
inline constexpr int32_t MAX_BULK_LENGTH = 0x1000000; /* memcpy and memset move at most 16 MB */

/* Charges 'count' - 1 cycles; 'single_free' leaves a single value uncharged. */
void charge_values(uint32_t count, bool single_free) {
    if (single_free && count < 2) return;
    spend_cpu(static_cast<int32_t>(count - 1));
}

/* The value count of a read (argument 2, default 1): 1..65536 that the
   stack can take, else 0. */
uint32_t read_count(lua_State *L) {
    const auto n = static_cast<uint32_t>(kiv_intp(L, 2, 1));
    if (n == 0 || n > MAX_VALUES) return 0;
    if (!lua_checkstack(L, static_cast<int>(n))) return 0;
    return n;
}

/* Pushes 'n' values read by 'read' at addr, addr + step, ... (32-bit wrap). */
template <typename Read>
int push_reads(lua_State *L, uint32_t addr, uint32_t n, uint32_t step, Read read) {
    for (uint32_t k = 0; k < n; k++) lua_pushinteger(L, read(addr + k * step));
    return static_cast<int>(n);
}

/* The number of values of a write (the arguments after the address):
   1..65536, else 0. */
uint32_t write_count(lua_State *L) {
    const int top = lua_gettop(L);
    if (top < 2 || static_cast<uint32_t>(top - 1) > MAX_VALUES) return 0;
    return static_cast<uint32_t>(top - 1);
}

/* The length argument of memcpy and memset: truncated, default 0; -1 when
   nothing is to happen; capped at 16 MB. */
int32_t bulk_length(lua_State *L) {
    const int32_t len = api_truncated(L, 3, 0);
    if (len < 0) return -1;
    return len > MAX_BULK_LENGTH ? MAX_BULK_LENGTH : len;
}

/* The bytes from address a to the end of its segment in rec's space, by the
   access rule (the mapped part when a lies in it, else the own page, made
   zeroed on first touch); '*room' receives their count. Runs of bytes go
   through this one segment at a time, with the same pages made and flagged
   as byte-by-byte access would make and flag. */
uint8_t *segment_at(process_rec *rec, uint32_t a, uint32_t *room) {
    const uint32_t p = (a >> PAGE_SHIFT) & (NUM_PAGES - 1);
    const auto o = static_cast<int32_t>(a & (PAGE_BYTES - 1));
    if (o < rec->page_len[p]) {
        *room = static_cast<uint32_t>(rec->page_len[p] - o);
        return rec->page[p] + o;
    }
    *room = static_cast<uint32_t>(PAGE_BYTES - o);
    return own_page(rec, p) + o;
}

void charge_cost(uint32_t cost) {
    spend_cpu(cost > INT32_MAX ? INT32_MAX : static_cast<int32_t>(cost));
}

}  // namespace

/* ---- reads (memory -> Lua) ---- */

int lua54_peek(lua_State *L) {
    const auto addr = static_cast<uint32_t>(api_truncated(L, 1, 0));
    const uint32_t n = read_count(L);
    if (!n) return 0;
    charge_values(n, false);
    process_rec *rec = cproc;
    if (!rec) return push_reads(L, addr, n, 1, [](uint32_t) { return lua_Integer{0}; });
    for (uint32_t k = 0; k < n;) {
        uint32_t room = 0;
        const uint8_t *bytes = segment_at(rec, addr + k, &room);
        const uint32_t run = room < n - k ? room : n - k;
        for (uint32_t j = 0; j < run; j++) lua_pushinteger(L, bytes[j]);
        k += run;
    }
    return static_cast<int>(n);
}

int lua54_peek2(lua_State *L) {
    const auto addr = static_cast<uint32_t>(api_truncated(L, 1, 0));
    const uint32_t n = read_count(L);
    if (!n) return 0;
    charge_values(n, true);
    return push_reads(L, addr, n, 2, [](uint32_t a) { return static_cast<lua_Integer>(peek2(a)); });
}

int lua54_peek4(lua_State *L) {
    const auto addr = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    const uint32_t n = read_count(L);
    if (!n) return 0;
    charge_values(n, true);
    return push_reads(L, addr, n, 4, [](uint32_t a) { return static_cast<lua_Integer>(peek4(a)); });
}

int lua54_peek8(lua_State *L) {
    const auto addr = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    const uint32_t n = read_count(L);
    if (!n) return 0;
    charge_values(n, true);
    return push_reads(L, addr, n, 8, [](uint32_t a) { return static_cast<lua_Integer>(peek8(a)); });
}

/* ---- writes (Lua -> memory) ---- */

int lua54_poke(lua_State *L) {
    const auto addr = static_cast<uint32_t>(api_truncated(L, 1, 0));
    const uint32_t n = write_count(L);
    process_rec *rec = cproc;
    if (!n || !rec) return 0;
    for (uint32_t k = 0; k < n;) {
        uint32_t room = 0;
        uint8_t *bytes = segment_at(rec, addr + k, &room);
        rec->page_flags[((addr + k) >> PAGE_SHIFT) & (NUM_PAGES - 1)] = PAGE_WRITTEN;
        const uint32_t run = room < n - k ? room : n - k;
        for (uint32_t j = 0; j < run; j++) {
            // kiv_intp's first reading, inline for the common integer case.
            const int index = static_cast<int>(k + j) + 2;
            int ok = 0;
            lua_Integer v = lua_tointegerx(L, index, &ok);
            if (!ok) v = kiv_intp(L, index, 0);
            bytes[j] = static_cast<uint8_t>(v);
        }
        k += run;
    }
    charge_values(n, true);
    return 0;
}

int lua54_poke2(lua_State *L) {
    const auto addr = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    const uint32_t n = write_count(L);
    for (uint32_t k = 0; k < n; k++) poke2(addr + 2 * k, kiv_intp(L, static_cast<int>(k) + 2, 0));
    if (n) charge_values(n, true);
    return 0;
}

int lua54_poke4(lua_State *L) {
    const auto addr = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    const uint32_t n = write_count(L);
    for (uint32_t k = 0; k < n; k++) poke4(addr + 4 * k, api_integer(L, static_cast<int>(k) + 2));
    if (n) charge_values(n, true);
    return 0;
}

int lua54_poke8(lua_State *L) {
    const auto addr = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    const uint32_t n = write_count(L);
    for (uint32_t k = 0; k < n; k++) poke8(addr + 8 * k, api_integer(L, static_cast<int>(k) + 2));
    if (n) charge_values(n, true);
    return 0;
}

/* ---- another process's memory ---- */

int lua54__ppeek(lua_State *L) {
    process_rec *rec = get_process(static_cast<int32_t>(api_integer(L, 1)));
    if (!rec) return 0;
    lua_pushinteger(L, peek_proc(rec, static_cast<uint32_t>(api_truncated(L, 2, 0))));
    return 1;
}

int lua54__ppeek4(lua_State *L) {
    process_rec *rec = get_process(static_cast<int32_t>(api_integer(L, 1)));
    if (!rec) return 0;
    lua_pushinteger(L, peek4_proc(rec, static_cast<uint32_t>(api_truncated(L, 2, 0))));
    return 1;
}

/* ---- copies and fills ---- */

int lua54_memcpy(lua_State *L) {
    const auto dst = static_cast<uint32_t>(api_truncated(L, 1, 0));
    const auto src = static_cast<uint32_t>(api_truncated(L, 2, 0));
    const int32_t len = bulk_length(L);
    if (len < 0) return 0;
    charge_cost(kiv_memcpy(dst, src, len));
    return 0;
}

int lua54_memset(lua_State *L) {
    const auto addr = static_cast<uint32_t>(api_truncated(L, 1, 0));
    const int32_t value = api_truncated(L, 2, 0);
    const int32_t len = bulk_length(L);
    if (len < 0) return 0;
    charge_cost(kiv_memset(addr, value, len));
    return 0;
}

/* ---- typed arrays ---- */

int lua54_userdata(lua_State *L) {
    const int top = lua_gettop(L);
    const int data_index = top <= 3 ? 3 : 4;
    const char *data = lua_type(L, data_index) == LUA_TSTRING ? lua_tostring(L, data_index) : nullptr;
    const int size_args = top - (data ? 2 : 1);
    const char *type = api_string(L, 1, nullptr);
    const int dims = size_args < 2 ? 1 : 2;
    const int64_t w = kiv_intp(L, 2, -1);
    const int64_t h = dims == 2 ? kiv_intp(L, 3, -1) : 1;
    // Sizes beyond 32 bits are refused, never wrapped (2^32 + 4 is not 4).
    // Negative sizes (the default -1 among them) pass as the huge unsigned
    // values the creation refuses, except for texts that carry their size.
    if (w < INT32_MIN || w > UINT32_MAX || h < INT32_MIN || h > UINT32_MAX) return 0;
    return create_userdata(L, type, dims, static_cast<uint32_t>(w), static_cast<uint32_t>(h), 1,
                           data) ? 1 : 0;
}

int lua54_vec(lua_State *L) {
    if (lua_type(L, 1) != LUA_TNUMBER) return 0;
    const int n = lua_gettop(L);
    typed_ud_rec *v = create_userdata_shaped(L, UTYPE_F64, 1, static_cast<uint32_t>(n), 1, 1);
    if (!v) return 0;
    auto *elements = reinterpret_cast<double *>(ud_elements(v));
    for (int i = 0; i < n; i++) elements[i] = lua_tonumber(L, i + 1);
    return 1;
}
