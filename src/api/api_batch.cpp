// Batch drawing calls that pay as they go and yield between records.
#include "api_batch.h"

#include <algorithm>
#include <cstring>

#include "api_sprite_arg.h"
#include "host_yield.h"
#include "lua.hpp"
#include "vm_hooks.h"

namespace {

/*
** The call's stack while it runs: its five arguments (the records array at
** 1 stays anchored there), then the state below as integers, so that a
** yield keeps it and a process killed while the call is suspended leaves
** nothing behind. Everything is read back and checked at each entry: while
** the call is suspended inside a coroutine, the program runs and could
** replace these values through the debug library.
*/
inline constexpr int SLOT_ARGS = 5;
enum : int {
    SLOT_NEXT = SLOT_ARGS + 1, /* element index of the next record */
    SLOT_LEFT,                 /* records still allowed */
    SLOT_STRIDE,               /* elements from one record to the next */
    SLOT_FIELDS,               /* leading fields read of each record */
    SLOT_DRAWN,                /* records drawn so far */
    SLOT_COST,                 /* their summed rasteriser cost */
    SLOT_CAMERA_X,             /* batch_fixed */
    SLOT_CAMERA_Y,
    SLOT_PEN,
    SLOT_COPY,    /* the target's copy (a full userdata), or nil */
    SLOT_COPY_OF, /* the target it copies, or nil */
    SLOT_TOP = SLOT_COPY_OF
};

/* Far above any real sum (262144 records of at most a few 2^32 each), far
   below the wrap. */
inline constexpr int64_t COST_MAX = INT64_C(1) << 60;

/* spend_cpu's rule for a charge of n >= 0: at least one cycle. */
int64_t spent(int64_t n) { return n <= 1 ? 1 : n; }

/* The charge of the whole call after 'drawn' records of summed cost 'cost',
   each part cut to 32 bits as one charge of it would be. */
int64_t total_charge(const batch_rule *rule, int64_t drawn, int64_t cost) {
    int64_t total = spent(std::min<int64_t>(int64_t{rule->per_record} * drawn, INT32_MAX));
    if (cost) total += spent(std::min<int64_t>(cost / rule->divisor, INT32_MAX));
    return total;
}

void pay(int64_t cycles) {
    while (cycles > 0) {
        const int32_t step = int32_t(std::min<int64_t>(cycles, INT32_MAX));
        spend_cpu(step);
        cycles -= step;
    }
}

/* Whether the reader holds another record. */
bool more(const batch_reader &b) { return b.left > 0 && b.next_index >= 0 && b.next_index <= b.last; }

int batch_continue(lua_State *L, int status, lua_KContext ctx);

/* Whether a sprite slot of the running process holds 't'. */
bool in_a_slot(const typed_ud_rec *t) {
    const auto *first = cproc->sprite, *end = cproc->sprite + SPRITE_SLOTS;
    return std::find(first, end, t) != end;
}

/* Bytes of a block holding a copy of 't' that to_typed_ud accepts. */
size_t copy_bytes(const typed_ud_rec *t) {
    return TYPED_UD_HEADER + size_t((ud_count(t) * utype_size(ud_type(t)) + 7) & ~uint64_t(7));
}

/*
** Pushes a copy of the draw target and the target itself, when a sprite
** slot holds the target; nil and nil otherwise. Returns the copy's charge.
** Making the block may run finalizers, so the target is read again after
** it: one that changed meanwhile is copied when the block holds it.
*/
int64_t push_target_copy(lua_State *L) {
    typed_ud_rec *t = cproc->draw_target;
    if (t && in_a_slot(t)) {
        const size_t bytes = copy_bytes(t);
        void *block = lua_newuserdatauv(L, bytes, 0);
        const int top = lua_gettop(L);
        t = cproc->draw_target;
        if (t && in_a_slot(t) && copy_bytes(t) <= bytes && anchor_push(L, ANCHOR_TARGET) == LUA_TUSERDATA &&
            lua_touserdata(L, -1) == t) {
            std::memcpy(block, t, copy_bytes(t));
            return int64_t(uint64_t(t->width) * t->height / 64);
        }
        lua_settop(L, top - 1);
    }
    lua_pushnil(L);
    lua_pushnil(L);
    return 0;
}

/*
** Draws records from where the state on the stack says until the batch ends
** or, between two records, the slice's budget is spent. At least one record
** is drawn at each entry, so every slice makes progress.
*/
int batch_continue(lua_State *L, int, lua_KContext ctx) {
    const batch_rule *rule = reinterpret_cast<const batch_rule *>(ctx);
    lua_settop(L, SLOT_TOP);  // values a resume passed go
    int64_t v[SLOT_TOP + 1] = {};
    for (int slot = SLOT_NEXT; slot <= SLOT_PEN; slot++) {
        if (!lua_isinteger(L, slot)) return 0;
        v[slot] = lua_tointeger(L, slot);
    }
    // The target and the array as they are now: nothing is kept across a
    // yield that the process's own state does not hold.
    typed_ud_rec *t = draw_target_refreshed();
    typed_ud_rec *a = batch_array(L);
    if (!t || !a) return 0;
    batch_reader b;
    b.fields = int32_t(std::clamp<int64_t>(v[SLOT_FIELDS], 0, rule->max_fields));
    b.el = reinterpret_cast<const double *>(ud_elements(a));
    b.last = int64_t(ud_count(a)) - b.fields;
    b.next_index = v[SLOT_NEXT];
    b.left = std::clamp<int64_t>(v[SLOT_LEFT], 0, BATCH_MAX_RECORDS);
    b.stride = v[SLOT_STRIDE];
    // The copy serves only the target it was made of.
    typed_ud_rec *copy = lua_touserdata(L, SLOT_COPY_OF) == t ? to_typed_ud(L, SLOT_COPY) : nullptr;
    target_before before{t, copy, 1};
    const batch_fixed f{sat32(v[SLOT_CAMERA_X]), sat32(v[SLOT_CAMERA_Y]), v[SLOT_PEN], &before};
    int64_t drawn = std::clamp<int64_t>(v[SLOT_DRAWN], 0, BATCH_MAX_RECORDS);
    int64_t cost = std::clamp<int64_t>(v[SLOT_COST], 0, COST_MAX);
    if (rule->enter) rule->enter();

    const int64_t entry_cycles = cpu_cycles;
    int64_t work = 0;  // charged since entry, before any cut to 32 bits
    for (const double *r; b.next(&r);) {
        const int64_t c = std::clamp<int64_t>(rule->draw(t, b, r, f), 0, COST_MAX);
        const int64_t charged = total_charge(rule, drawn, cost), cost_part = cost / rule->divisor;
        drawn++;
        cost = std::min(cost + c, COST_MAX);
        pay(total_charge(rule, drawn, cost) - charged);
        work += rule->per_record + cost / rule->divisor - cost_part;
        if (!more(b)) continue;
        const host_kept kept[] = {{SLOT_NEXT, b.next_index}, {SLOT_LEFT, b.left}, {SLOT_DRAWN, drawn},
                                  {SLOT_COST, cost}};
        host_step_end(L, entry_cycles + work, kept, 4, ctx, batch_continue);
    }
    return 0;
}

}  // namespace

int run_batch(lua_State *L, const batch_rule *rule, int64_t pen) {
    lua_settop(L, SLOT_ARGS);
    // The copy first: making it may run finalizers, and all else is read after it.
    int64_t copy_cost = 0;
    if (rule->reads_target && cproc && cproc->draw_target) {
        copy_cost = push_target_copy(L);
    } else {
        lua_pushnil(L);
        lua_pushnil(L);
    }
    typed_ud_rec *a = batch_array(L);
    if (!a || !draw_target_refreshed()) return 0;
    const batch_reader b = read_batch(L, a, rule->max_fields);
    const int32_t cx = camera_x(), cy = camera_y();
    lua_pushinteger(L, b.next_index);
    lua_pushinteger(L, b.left);
    lua_pushinteger(L, b.stride);
    lua_pushinteger(L, b.fields);
    lua_pushinteger(L, 0);
    lua_pushinteger(L, 0);
    lua_pushinteger(L, cx);
    lua_pushinteger(L, cy);
    lua_pushinteger(L, pen);
    lua_rotate(L, SLOT_ARGS + 1, -2);  // the copy and its target after the integers
    pay(total_charge(rule, 0, 0));
    pay(copy_cost);
    return batch_continue(L, LUA_OK, reinterpret_cast<lua_KContext>(rule));
}
