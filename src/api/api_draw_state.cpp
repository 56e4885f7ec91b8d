// The drawing calls' shared state: register access, colour arguments, the
// clip cache, temporary clipping, batches and anchors.
#include "api_draw_state.h"

#include <cstring>

#include "address_space.h"
#include "lua.hpp"
#include "vm_hooks.h"

namespace {

/* The clip kept aside while a blit draws into another array. */
int32_t cl, cr, ct, cb;

/* The key of the anchor table in each state's registry. */
char g_anchor_key;

constexpr uint32_t REG_PAGE = DRAW_STATE_ADDR >> PAGE_SHIFT;

/* The 4096 bytes serving the register page, or null when only part of it is
   mapped (then each byte goes through the access rule). */
uint8_t *register_bytes(process_rec *rec) {
    const int32_t len = rec->page_len[REG_PAGE];
    if (len == PAGE_BYTES) return rec->page[REG_PAGE];
    if (len == 0) return own_page(rec, REG_PAGE);
    return nullptr;
}

}  // namespace

uint64_t reg_read_slow(process_rec *rec, uint32_t a, int n) {
    uint64_t v = 0;
    if (uint8_t *page = register_bytes(rec)) {
        std::memcpy(&v, page + (a - DRAW_STATE_ADDR), size_t(n));
        return v;
    }
    for (int i = 0; i < n; i++) v |= uint64_t(peek_proc(rec, a + uint32_t(i))) << (8 * i);
    return v;
}

void reg_write_slow(process_rec *rec, uint32_t a, uint64_t v, int n, bool poked) {
    if (uint8_t *page = register_bytes(rec)) {
        std::memcpy(page + (a - DRAW_STATE_ADDR), &v, size_t(n));
        if (poked) rec->page_flags[REG_PAGE] = 255;
        return;
    }
    const uint8_t flags = rec->page_flags[REG_PAGE];
    for (int i = 0; i < n; i++) poke_proc(rec, a + uint32_t(i), int64_t(v >> (8 * i)));
    if (!poked) rec->page_flags[REG_PAGE] = flags;
}

/* ---- colour arguments ---- */

void write_pattern_16(uint32_t p) {
    if (!cproc) return;
    uint64_t rows = 0;
    for (int r = 0; r < 4; r++) {
        uint32_t nibble = 0;
        for (int c = 0; c < 4; c++) nibble |= ((p >> (15 - 4 * r - c)) & 1u) << c;
        const uint64_t byte = nibble * 17u;
        rows |= byte << (8 * r) | byte << (8 * (r + 4));
    }
    reg_write(cproc, REG_FILL_PATTERN, rows, 8, false);
}

void set_colp(int64_t v) {
    if (!cproc) return;
    reg_write(cproc, REG_PEN, uint64_t(v) & 0xFFFF, 2, true);
    if (v & (int64_t(1) << 32)) write_pattern_16(uint32_t(uint64_t(v) >> 16) & 0xFFFF);
    if (v & (int64_t(1) << 35)) cproc->inverted_fill = 1;
}

int32_t pen(void) { return cproc ? reg_i16(cproc, REG_PEN) : 0; }

int32_t colp(lua_State *L, int n) {
    if (lua_type(L, n) == LUA_TNUMBER) set_colp(kiv_intp(L, n, 0));
    return pen();
}

/* ---- clip ---- */

typed_ud_rec *draw_target_refreshed(void) {
    if (!cproc || !cproc->draw_target) return nullptr;
    refresh_clip(cproc);
    return cproc->draw_target;
}

void set_temporary_clipping(typed_ud_rec *bitmap) {
    cl = cproc->clip_x0;
    cr = cproc->clip_x1;
    ct = cproc->clip_y0;
    cb = cproc->clip_y1;
    cproc->clip_x0 = 0;
    cproc->clip_y0 = 0;
    cproc->clip_x1 = sat32(bitmap->width);
    cproc->clip_y1 = sat32(bitmap->height);
}

void restore_after_temporary_clipping(void) {
    cproc->clip_x0 = cl;
    cproc->clip_x1 = cr;
    cproc->clip_y0 = ct;
    cproc->clip_y1 = cb;
}

void charge(int64_t cycles) {
    if (cycles < 0) return;
    spend_cpu(cycles > INT32_MAX ? INT32_MAX : int32_t(cycles));
}

int32_t camera_x(void) { return cproc ? reg_i32(cproc, REG_CAMERA_X) : 0; }
int32_t camera_y(void) { return cproc ? reg_i32(cproc, REG_CAMERA_Y) : 0; }

/* ---- batches ---- */

typed_ud_rec *batch_array(lua_State *L) {
    if (lua_type(L, 1) != LUA_TUSERDATA) return nullptr;  // the common case, decided cheaply
    typed_ud_rec *a = to_typed_ud(L, 1);
    return a && ud_type(a) == UTYPE_F64 ? a : nullptr;
}

batch_reader read_batch(lua_State *L, typed_ud_rec *a, int max_fields) {
    batch_reader b;
    const int64_t start = kiv_intp(L, 2, 0);
    const int64_t count = kiv_intp(L, 3, a->height);
    int64_t fields = kiv_intp(L, 4, a->width);
    if (fields > max_fields) fields = max_fields;
    b.stride = kiv_intp(L, 5, a->width);
    b.fields = fields > 0 ? int32_t(fields) : 0;
    b.el = reinterpret_cast<const double *>(ud_elements(a));
    b.last = int64_t(ud_count(a)) - b.fields;
    b.next_index = start;
    b.left = count < 1 ? 0 : count < BATCH_MAX_RECORDS ? count : BATCH_MAX_RECORDS;
    return b;
}

/* ---- anchors ---- */

namespace {

/* Pushes the anchor table of L's state, made when missing. Making it may
   run a finalizer that anchors something itself, and so makes the table
   first: that table is kept, with what it holds. */
void push_anchor_table(lua_State *L) {
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &g_anchor_key) == LUA_TTABLE) return;
    lua_pop(L, 1);
    lua_newtable(L);
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &g_anchor_key) == LUA_TTABLE) {
        lua_remove(L, -2);
        return;
    }
    lua_pop(L, 1);
    lua_pushvalue(L, -1);
    lua_rawsetp(L, LUA_REGISTRYINDEX, &g_anchor_key);
}

}  // namespace

void anchor_set(lua_State *L, int64_t key, int idx) {
    idx = lua_absindex(L, idx);
    push_anchor_table(L);
    lua_pushvalue(L, idx);
    lua_rawseti(L, -2, key);
    lua_pop(L, 1);
}

void anchors_ready(lua_State *L) {
    push_anchor_table(L);
    lua_pop(L, 1);
}

int anchor_push(lua_State *L, int64_t key) {
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &g_anchor_key) != LUA_TTABLE) {
        lua_pop(L, 1);
        lua_pushnil(L);
        return LUA_TNIL;
    }
    const int type = lua_rawgeti(L, -1, key);
    lua_remove(L, -2);
    return type;
}

void anchor_clear(lua_State *L, int64_t key) {
    // With no table nothing is anchored: nothing to make (nor allocate).
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &g_anchor_key) != LUA_TTABLE) {
        lua_pop(L, 1);
        return;
    }
    lua_pushnil(L);
    lua_rawseti(L, -2, key);
    lua_pop(L, 1);
}
