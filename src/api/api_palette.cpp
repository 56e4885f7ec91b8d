// The palette calls: pal and palt.
#include "address_space.h"
#include "vm_hooks.h"
#include "api_args.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "colour_tables.h"
#include "host_yield.h"
#include "lua.hpp"

namespace {

/* Bytes from the row banks that pal() clears. */
inline constexpr uint32_t ROW_BANK_BYTES = 0x78;

/* palt's whole-table forms: 64 rows of 64 bytes written one by one. */
inline constexpr int32_t PALT_TABLE_CYCLES = 64;

/* pal's table form: an entry walked, and set when its key is a number. A
   step over a large table of string keys takes 80-170 ns: its key is found
   again and the next entry sought, far apart in memory. */
inline constexpr int64_t PAL_ENTRY_CYCLES = 16;
/* Entries between two charges of the walk, each checked by the watchdog. */
inline constexpr int64_t PAL_WALK_STRIDE = 1024;

/* Writes 'n' bytes (within one page) at a directly: no page flags change. */
void write_direct(process_rec *rec, uint32_t a, const void *bytes, uint32_t n) {
    const uint8_t flags = rec->page_flags[a >> PAGE_SHIFT];
    write_bytes_proc(rec, a, bytes, n);
    rec->page_flags[a >> PAGE_SHIFT] = flags;
}

/* Copies the default colour tables back into every table page marked
   changed, clearing the mark; returns how many pages were restored. */
int restore_colour_tables(process_rec *rec) {
    int restored = 0;
    for (int j = 0; j < COLTAB_COUNT; j++) {
        const int p = COLTAB_FIRST_PAGE + j;
        if (!(rec->page_flags[p] & 2)) continue;
        write_direct(rec, uint32_t(p) << PAGE_SHIFT, default_coltabs + COLTAB_BYTES * j, COLTAB_BYTES);
        rec->page_flags[p] = uint8_t(rec->page_flags[p] & ~2);
        restored++;
    }
    return restored;
}

}  // namespace

int lua54_pal(lua_State *L) {
    process_rec *rec = cproc;
    if (!rec) return 0;
    const int64_t a1 = kiv_intp(L, 1, 0), a2 = kiv_intp(L, 2, 0), a3 = kiv_intp(L, 3, 0);
    if (lua_type(L, 1) == LUA_TTABLE) {
        const int32_t mode = int32_t(a2);
        int64_t entries = 0;
        lua_pushnil(L);
        while (lua_next(L, 1)) {
            if (lua_type(L, -2) == LUA_TNUMBER)
                set_palette_entry(int32_t(api_integer(L, -2)), int32_t(api_integer(L, -1)), mode);
            lua_pop(L, 1);
            // Paid as it goes: a table too large for the watchdog's margin stops there.
            if (++entries % PAL_WALK_STRIDE == 0)
                host_charge_check(L, static_cast<int32_t>(PAL_WALK_STRIDE * PAL_ENTRY_CYCLES));
        }
        charge(entries % PAL_WALK_STRIDE * PAL_ENTRY_CYCLES);
        return 0;
    }
    if (lua_gettop(L) >= 2) {
        set_palette_entry(int32_t(a1), int32_t(a2), int32_t(a3));
        return 0;
    }
    const int64_t p = kiv_intp(L, 1, -1);
    if (p == -1) {
        static const uint8_t zeros[ROW_BANK_BYTES] = {};
        write_direct(rec, REG_ROW_BANKS, zeros, sizeof zeros);
        const int restored = restore_colour_tables(rec);
        write_direct(rec, REG_SCREEN_PALETTE, default_indexed_pal, sizeof default_indexed_pal);
        spend_cpu(1);
        if (restored) spend_cpu(8 * restored);
    } else if (p == 0) {
        if (const int restored = restore_colour_tables(rec)) spend_cpu(8 * restored);
    } else if (p == 1) {
        write_direct(rec, REG_SCREEN_PALETTE, default_indexed_pal, sizeof default_indexed_pal);
        spend_cpu(1);
    } else if (p == 2) {
        write_direct(rec, REG_RGB_PALETTE, default_system_pal, sizeof default_system_pal);
        spend_cpu(1);
    }
    return 0;
}

int lua54_palt(lua_State *L) {
    process_rec *rec = cproc;
    if (!rec) return 0;
    if (lua_gettop(L) >= 2) {
        const int32_t c = api_truncated(L, 1, 0);
        const uint32_t row = 0x8000u | (uint32_t(c & 255) << 6);
        if (!lua_toboolean(L, 2)) {
            kiv_memset(row, c | 0xC0, 64);
        } else {
            uint8_t bytes[64];
            for (int j = 0; j < 64; j++) bytes[j] = uint8_t((c & 0xC0) | j);
            write_direct(rec, row, bytes, 64);
            rec->page_flags[row >> PAGE_SHIFT] |= 2;
        }
        return 0;
    }
    rec->page_flags[COLTAB_FIRST_PAGE] |= 2;
    spend_cpu(PALT_TABLE_CYCLES);
    const uint64_t mask = lua_gettop(L) == 1 ? uint64_t(api_integer(L, 1)) : 1;
    for (int i = 0; i < 64; i++) {
        const uint32_t row = 0x8000u + 64u * uint32_t(i);
        if (mask >> i & 1) {
            uint8_t bytes[64];
            for (int j = 0; j < 64; j++) bytes[j] = uint8_t(j);
            write_direct(rec, row, bytes, 64);
        } else {
            kiv_memset(row, i | 0xC0, 64);
        }
    }
    return 0;
}
