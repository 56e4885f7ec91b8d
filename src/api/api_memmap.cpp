// Sprite slots, sprite flags, map cells and memory mapping: _set_spr, fset,
// fget, mset, mget, _map_ram and _unmap_ram.
#include <algorithm>
#include <cstdio>

#include "address_space.h"
#include "vm_hooks.h"
#include "api_args.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "lua.hpp"

namespace {

inline constexpr uint32_t MAP_ADDR = 0x100000;
inline constexpr int SPRITE_SLOTS_SET = 0x2000;
inline constexpr int32_t PAGE_CYCLES = 2;   /* charged per page mapped or unmapped */
inline constexpr int32_t UNMAP_CYCLES = 4;  /* _unmap_ram's charge besides its pages */
/* Mapped pages _unmap_ram walks a cycle, each tested for the array whether
   it goes or not: about a nanosecond a page. */
inline constexpr int32_t WALKED_PAGES_PER_CYCLE = 8;

/* Bytes of an array's elements: count << (type & 7) >> 3. */
int64_t byte_size(const typed_ud_rec *a) { return int64_t((ud_count(a) << (ud_type(a) & 7)) >> 3); }

/* The map when it is still an i16 array, else null. */
typed_ud_rec *current_map(const char *call) {
    if (!cproc->map) {
        std::printf("%s no map\n", call);
        std::fflush(stdout);
        spend_cpu(VM_OUTPUT_LINE_CYCLES);
        return nullptr;
    }
    return ud_type(cproc->map) == UTYPE_I16 ? cproc->map : nullptr;
}

/* The element of the map at (x, y), or null outside it. */
int16_t *map_cell(typed_ud_rec *map, int64_t x, int64_t y) {
    const int32_t cx = int32_t(x), cy = int32_t(y);
    if (cx < 0 || cy < 0 || uint32_t(cx) >= map->width || uint32_t(cy) >= map->height) return nullptr;
    return reinterpret_cast<int16_t *>(ud_elements(map)) + (uint64_t(cy) * map->width + uint32_t(cx));
}

}  // namespace

int lua54__set_spr(lua_State *L) {
    if (!cproc) return 0;
    anchors_ready(L);  // before anything is read
    const int slot = int(kiv_intp(L, 1, 0) & (SPRITE_SLOTS_SET - 1));
    typed_ud_rec *a = to_typed_ud(L, 2);
    if (a) {
        anchor_set(L, ANCHOR_SPRITE + slot, 2);
        cproc->sprite[slot] = a;
    } else {
        cproc->sprite[slot] = get_null_sprite();
        anchor_clear(L, ANCHOR_SPRITE + slot);
    }
    return 0;
}

int lua54_fset(lua_State *L) {
    if (!cproc) return 0;
    const uint32_t addr = SPRITE_FLAGS_ADDR + uint32_t(kiv_intp(L, 1, 0) & (SPRITE_SLOTS_SET - 1));
    if (lua_gettop(L) >= 3) {
        const int64_t bit = kiv_intp(L, 2, 0) & 31;
        uint8_t byte = peek(addr);
        if (bit < 8) byte = lua_toboolean(L, 3) ? uint8_t(byte | 1u << bit) : uint8_t(byte & ~(1u << bit));
        poke(addr, byte);
    } else {
        poke(addr, kiv_intp(L, 2, 0));
    }
    return 0;
}

int lua54_fget(lua_State *L) {
    if (!cproc) return 0;
    const uint8_t byte = peek(SPRITE_FLAGS_ADDR + uint32_t(kiv_intp(L, 1, 0) & (SPRITE_SLOTS_SET - 1)));
    if (lua_gettop(L) < 2) {
        lua_pushinteger(L, byte);
    } else {
        const int64_t bit = kiv_intp(L, 2, -1) & 31;
        lua_pushboolean(L, bit < 8 && (byte >> bit & 1));
    }
    return 1;
}

int lua54_mset(lua_State *L) {
    if (!cproc) return 0;
    typed_ud_rec *map = current_map("mset");
    if (!map) return 0;
    if (int16_t *cell = map_cell(map, kiv_intp(L, 1, 0), kiv_intp(L, 2, 0)))
        *cell = int16_t(uint16_t(kiv_intp(L, 3, 0)));
    return 0;
}

int lua54_mget(lua_State *L) {
    if (!cproc) return 0;
    typed_ud_rec *map = current_map("mget");
    if (!map) return 0;
    const int16_t *cell = map_cell(map, kiv_intp(L, 1, 0), kiv_intp(L, 2, 0));
    if (!cell) return 0;
    lua_pushinteger(L, *cell);
    return 1;
}

int lua54__map_ram(lua_State *L) {
    process_rec *rec = cproc;
    if (rec) anchors_ready(L);  // before anything is read
    typed_ud_rec *a = rec ? to_typed_ud(L, 1) : nullptr;
    if (!a) return 0;
    const int32_t address = api_truncated(L, 2, 0);
    if (uint32_t(address) == MAP_ADDR) {
        typed_ud_rec *map = ud_type(a) == UTYPE_I16 ? a : nullptr;
        if (map) anchor_set(L, ANCHOR_MAP, 1);
        rec->map = map;
        if (!map) anchor_clear(L, ANCHOR_MAP);
    }
    if (ud_type(a) == UTYPE_F64) return 0;
    const int64_t offset = api_truncated(L, 3, 0) & ~int64_t(3);
    const int64_t size = byte_size(a);
    if (offset < 0 || offset >= size) return 0;
    const int64_t length = api_truncated(L, 4, int32_t(size - offset));
    if (length < 1) {
        lua_pushinteger(L, length);
        return 1;
    }
    // Never more than the array holds from the offset on.
    const int64_t mapped = std::min(length, size - offset);
    const int64_t pages = std::max<int64_t>((mapped + PAGE_BYTES - 1) >> PAGE_SHIFT, 1);
    const int64_t p0 = (uint32_t(address) & 0xFFF000u) >> PAGE_SHIFT;
    const bool whole_pages_only = p0 * PAGE_BYTES < int64_t(FIRST_PAGES) * PAGE_BYTES;
    uint8_t *elements = ud_elements(a) + offset;
    int32_t done = 0;
    for (int64_t k = 0; k < pages && p0 + k < NUM_PAGES; k++) {
        const int64_t remaining = mapped - int64_t(PAGE_BYTES) * k;
        if (whole_pages_only && remaining < PAGE_BYTES) continue;
        const int32_t p = int32_t(p0 + k);
        anchor_set(L, ANCHOR_PAGE + p, 1);
        map_page(rec, p, elements + PAGE_BYTES * k, int32_t(std::min<int64_t>(remaining, PAGE_BYTES)));
        done++;
    }
    if (done > 0) spend_cpu(done * PAGE_CYCLES);
    lua_pushinteger(L, length);
    return 1;
}

int lua54__unmap_ram_by_userdata(lua_State *L) {
    process_rec *rec = cproc;
    typed_ud_rec *a = rec ? to_typed_ud(L, 1) : nullptr;
    if (!a) return 0;
    const int64_t size = byte_size(a);
    const int64_t address = kiv_intp(L, 2, -1);
    const int64_t length = std::min(size, kiv_intp(L, 3, size));
    int64_t first = 0, last = NUM_PAGES - 1;
    if (address >= 0) {
        first = int64_t(uint32_t(address) >> PAGE_SHIFT);
        last = length < 1 ? first - 1 : add64(address, length - 1) >> PAGE_SHIFT;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(a);
    const uintptr_t end = length < 0 ? start : start + TYPED_UD_HEADER + uint64_t(length);
    bool all_gone = true;
    int32_t done = 0, walked = 0;
    for (int w = 0; w < NUM_PAGES / 64; w++) {
        for (uint64_t bits = rec->mapped_pages[w]; bits; bits &= bits - 1, walked++) {
            const int p = w * 64 + __builtin_ctzll(bits);
            const uintptr_t at = reinterpret_cast<uintptr_t>(rec->page[p]);
            if (at < start || at >= end) continue;
            if (p < first || p > last) {
                all_gone = false;
                continue;
            }
            unmap_page(rec, p);
            anchor_clear(L, ANCHOR_PAGE + p);
            done++;
        }
    }
    spend_cpu(UNMAP_CYCLES + done * PAGE_CYCLES + walked / WALKED_PAGES_PER_CYCLE);
    lua_pushboolean(L, all_gone);
    return 1;
}
