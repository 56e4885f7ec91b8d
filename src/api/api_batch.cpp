// Batch drawing calls that pay as they go and yield between records.
#include "api_batch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "api_sprite_arg.h"
#include "host_yield.h"
#include "lua.hpp"
#include "vm_hooks.h"

namespace {

/*
** The call's stack while it runs: its five arguments (the records array at
** 1 stays anchored there), then the state below, so that a yield keeps it
** and a process killed while the call is suspended leaves nothing behind.
** While the call is suspended inside a coroutine the program runs and can
** replace any of these values through the debug library, so each is read
** back as untrusted input at every entry: positions are checked against the
** arrays as they are then, counts and the remainder are clamped, and no
** value read back decides what a record is charged or whether the call
** stops for the slice.
*/
inline constexpr int SLOT_ARGS = 5;
enum : int {
    SLOT_NEXT = SLOT_ARGS + 1, /* element index of the next record */
    SLOT_LEFT,                 /* records still allowed */
    SLOT_STRIDE,               /* elements from one record to the next */
    SLOT_FIELDS,               /* leading fields read of each record */
    SLOT_PEN,                  /* colour of records without one */
    SLOT_REMAINDER,            /* the cost carried below one cycle (carry_cost) */
    SLOT_CAMERA_X,             /* taken off the records' coordinates */
    SLOT_CAMERA_Y,
    SLOT_COPY, /* the call's copy of the target (copy_head), or nil */
    SLOT_TOP = SLOT_COPY
};

/* Far above any one record's cost (a few 2^32), far below the wrap. */
inline constexpr int64_t COST_MAX = INT64_C(1) << 60;

/*
** The continuation context: the rule's number in 'rules' in its low bits,
** above them the serial of the call's copy of the target (0 for none). The
** context lives in the interpreter's frame, where the program cannot reach
** it: a copy is the call's own when its block carries that serial.
*/
inline constexpr int RULE_BITS = 3;
const batch_rule *rules[1 << RULE_BITS];
uint64_t last_serial = 0;  // serials are never reused

lua_KContext context(int rule, uint64_t serial) { return lua_KContext((serial << RULE_BITS) | uint64_t(rule)); }

int rule_number(const batch_rule *rule) {
    for (int i = 0; i < (1 << RULE_BITS); i++) {
        if (rules[i] == rule) return i;
        if (!rules[i]) {
            rules[i] = rule;
            return i;
        }
    }
    std::abort();  // more batch rules than the context holds
}

/*
** The head of a copy block, the copy (header and elements) after it. Its
** first byte is no element type, so no typed-array call takes the block
** for an array: the program can neither write into it nor pass an array of
** its own for it. Its one user value is the target copied, which keeps that
** block from being freed and its address reused while the copy is held.
*/
struct copy_head {
    uint64_t mark;           /* COPY_MARK */
    uint64_t serial;         /* the call's, from its context */
    const typed_ud_rec *of;  /* the target copied */
};
inline constexpr uint64_t COPY_MARK = UINT64_C(0x59504F4348544200);  // low byte 0: no element type

/* Bytes of a copy of 't' (header and rounded elements). */
size_t copy_bytes(const typed_ud_rec *t) {
    return TYPED_UD_HEADER + size_t((ud_count(t) * utype_size(ud_type(t)) + 7) & ~uint64_t(7));
}

/*
** The copy at SLOT_COPY when it is the one this call made (its serial)
** of the target 't' as 't' is now: the same array, whose header (type,
** dimensions, width, height, depth) is the one copied, in a block that
** holds all of its elements. Null otherwise: anything else in the slot is
** ignored.
*/
typed_ud_rec *own_copy(lua_State *L, uint64_t serial, typed_ud_rec *t) {
    if (!serial || lua_type(L, SLOT_COPY) != LUA_TUSERDATA) return nullptr;
    const size_t block = lua_rawlen(L, SLOT_COPY);
    if (block < sizeof(copy_head) + TYPED_UD_HEADER) return nullptr;
    auto *head = static_cast<copy_head *>(lua_touserdata(L, SLOT_COPY));
    if (head->mark != COPY_MARK || head->serial != serial || head->of != t) return nullptr;
    auto *copy = reinterpret_cast<typed_ud_rec *>(head + 1);
    if (std::memcmp(copy, t, TYPED_UD_HEADER) != 0 || block - sizeof(copy_head) < copy_bytes(t)) return nullptr;
    lua_getiuservalue(L, SLOT_COPY, 1);
    const bool holds = lua_touserdata(L, -1) == t;
    lua_pop(L, 1);
    return holds ? copy : nullptr;
}

/* Whether a sprite slot of the running process holds 't': a walk of every
   slot, charged. */
bool in_a_slot(const typed_ud_rec *t) {
    spend_cpu(SPRITE_SLOTS / VM_SLOTS_PER_CYCLE);
    const auto *first = cproc->sprite, *end = cproc->sprite + SPRITE_SLOTS;
    return std::find(first, end, t) != end;
}

void pay(int64_t cycles) {
    while (cycles > 0) {
        const int32_t step = int32_t(std::min<int64_t>(cycles, INT32_MAX));
        spend_cpu(step);
        cycles -= step;
    }
}

/*
** The cost part of a record's charge. The whole call is charged its summed
** rasteriser cost / divisor, at least 1 when that sum is not 0, as one
** charge of it would be; record by record, what is below one cycle is
** carried in 'carry': 0 while the sum is 0; 1 to divisor - 1 when the sum
** is that, below one cycle, and the 1 cycle already charged for it; divisor
** plus the sum's remainder once the sum is a cycle or more. Whatever a
** forged carry says, it moves the call's charge by at most one cycle.
*/
int64_t carry_cost(int64_t &carry, int64_t cost, int64_t divisor) {
    if (cost == 0) return 0;
    if (carry >= divisor) {
        const int64_t sum = carry - divisor + cost;
        carry = divisor + sum % divisor;
        return sum / divisor;
    }
    const int64_t sum = carry + cost;
    if (sum < divisor) {
        const int64_t charge = carry == 0 ? 1 : 0;
        carry = sum;
        return charge;
    }
    const int64_t charge = sum / divisor - (carry == 0 ? 0 : 1);
    carry = divisor + sum % divisor;
    return charge;
}

/*
** Fills 'block' ('bytes' long, just made and put at SLOT_COPY) with the
** header 'serial' and a copy of the target 't', and returns the copy; null,
** with nil at SLOT_COPY, when what the block's allocation ran left it unfit:
** the slot rewritten (debug.setlocal), the target in no sprite slot or
** grown past the block.
*/
typed_ud_rec *fill_copy(lua_State *L, void *block, size_t bytes, typed_ud_rec *t, uint64_t serial) {
    if (lua_touserdata(L, SLOT_COPY) != block || !in_a_slot(t) || sizeof(copy_head) + copy_bytes(t) > bytes ||
        anchor_push(L, ANCHOR_TARGET) != LUA_TUSERDATA || lua_touserdata(L, -1) != t) {
        lua_settop(L, SLOT_TOP);
        lua_pushnil(L);
        lua_replace(L, SLOT_COPY);
        return nullptr;
    }
    lua_setiuservalue(L, SLOT_COPY, 1);  // the target, which keeps its block alive
    auto *head = static_cast<copy_head *>(block);
    *head = {COPY_MARK, serial, t};
    auto *copy = reinterpret_cast<typed_ud_rec *>(head + 1);
    std::memcpy(copy, t, copy_bytes(t));
    return copy;
}

/* Whether the reader holds another record. */
bool more(const batch_reader &b) { return b.left > 0 && b.next_index >= 0 && b.next_index <= b.last; }

/* The reader's view of array 'a' as it is now: its elements and the last
   place a record of its fields may start. */
void view(batch_reader &b, typed_ud_rec *a) {
    b.el = reinterpret_cast<const double *>(ud_elements(a));
    b.last = int64_t(ud_count(a)) - b.fields;
}

int batch_continue(lua_State *L, int status, lua_KContext ctx);

/*
** Draws records from where the state on the stack says until the batch ends
** or, between two records, the slice's budget is spent. At least one record
** is drawn at each entry, so every slice makes progress. Each record is
** charged as it is drawn, from what it cost in this entry; 'first' (the
** call's own first entry, never a resumed one) takes off the first record
** the cycle run_batch paid ahead.
*/
int draw_records(lua_State *L, lua_KContext ctx, bool first) {
    const int number = int(ctx & ((1 << RULE_BITS) - 1));
    const batch_rule *rule = rules[number];
    uint64_t serial = uint64_t(ctx) >> RULE_BITS;
    lua_settop(L, SLOT_TOP);  // values a resume passed go
    int64_t v[SLOT_TOP] = {};
    for (int slot = SLOT_NEXT; slot < SLOT_COPY; slot++) {
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
    view(b, a);
    b.next_index = v[SLOT_NEXT];
    b.left = std::clamp<int64_t>(v[SLOT_LEFT], 0, BATCH_MAX_RECORDS);
    b.stride = v[SLOT_STRIDE];
    const int64_t per_record = rule->per_record, divisor = rule->divisor;
    int64_t carry = std::clamp<int64_t>(v[SLOT_REMAINDER], 0, 2 * divisor - 1);
    target_before before{t, rule->reads_target ? own_copy(L, serial, t) : nullptr, 1};
    // The pen as the calls give it, 16 bits (no pattern or inverted-fill bit).
    const int64_t pen = std::clamp<int64_t>(v[SLOT_PEN], INT16_MIN, UINT16_MAX);
    const batch_fixed f{sat32(v[SLOT_CAMERA_X]), sat32(v[SLOT_CAMERA_Y]), pen, &before};
    // Whether to look for the target in the slots before the next record:
    // once an entry, when the call holds no copy of it. Between two records
    // of an entry nothing but the copy's own allocation runs the program.
    bool look = rule->reads_target && !before.copy;
    if (rule->enter) rule->enter();

    const int64_t entry_cycles = cpu_cycles;
    int64_t work = 0;  // charged since entry, before any cut to 32 bits
    while (more(b)) {
        if (look) {
            look = false;
            if (in_a_slot(t)) {
                // A record may read the target: copy it as it is now. The block
                // is made first; making it may run finalizers, which can change
                // the target, the slots and the records array, so all of them
                // are read again after it.
                const size_t bytes = sizeof(copy_head) + copy_bytes(t);
                void *block = lua_newuserdatauv(L, bytes, 1);
                lua_replace(L, SLOT_COPY);
                t = draw_target_refreshed();
                a = batch_array(L);
                if (!t || !a) return 0;
                view(b, a);
                before = {t, fill_copy(L, block, bytes, t, last_serial + 1), 1};
                if (before.copy) {
                    serial = ++last_serial;
                    ctx = context(number, serial);
                    const int64_t charge = int64_t(uint64_t(t->width) * t->height / 64);
                    pay(charge);
                    work += charge;
                }
                if (rule->enter) rule->enter();
                if (!more(b)) break;
            }
        }
        int64_t charge;
        const double *r;
        if (rule->draw_run) {
            // Every record costs per_record alone: the records that fit the
            // slice's budget, and the one that passes it, are drawn as a run
            // and charged at once, as they would be one by one.
            const int64_t count = std::max<int64_t>(cpu_cycles | cpu_superyielding, entry_cycles + work);
            const int64_t room = int64_t(cpu_cycles_max) - count;
            charge = per_record * rule->draw_run(t, b, room < 0 ? 1 : room / per_record + 1, f);
        } else {
            b.next(&r);
            const int64_t c = std::clamp<int64_t>(rule->draw(t, b, r, f), 0, COST_MAX);
            charge = per_record + carry_cost(carry, c, divisor);
        }
        if (first && per_record > 0) charge--;
        first = false;
        pay(charge);
        work += charge;
        if (!more(b)) break;
        const host_kept kept[] = {{SLOT_NEXT, b.next_index}, {SLOT_LEFT, b.left}, {SLOT_REMAINDER, carry}};
        host_step_end(L, entry_cycles + work, kept, 3, ctx, batch_continue);
    }
    return 0;
}

int batch_continue(lua_State *L, int, lua_KContext ctx) { return draw_records(L, ctx, false); }

}  // namespace

int run_batch(lua_State *L, const batch_rule *rule, int64_t pen) {
    lua_settop(L, SLOT_ARGS);
    typed_ud_rec *a = batch_array(L);
    if (!a || !draw_target_refreshed()) return 0;
    const batch_reader b = read_batch(L, a, rule->max_fields);
    lua_pushinteger(L, b.next_index);
    lua_pushinteger(L, b.left);
    lua_pushinteger(L, b.stride);
    lua_pushinteger(L, b.fields);
    lua_pushinteger(L, pen);
    lua_pushinteger(L, 0);
    lua_pushinteger(L, camera_x());
    lua_pushinteger(L, camera_y());
    lua_pushnil(L);
    // At least one cycle, whatever is drawn; the first record's part pays
    // one cycle less.
    pay(1);
    return draw_records(L, context(rule_number(rule), 0), true);
}
