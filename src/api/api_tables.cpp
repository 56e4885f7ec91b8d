// Table functions: `add` and `deli` edit sequences with the table library's
// rules; `del` and `count` search raw elements with Lua equality.
//
// A length far above the entries a table holds (keys 1, 2, 4, ..., 2^40 give
// 2^40) is not walked index by index: the calls work from the entries,
// with the results and sets of the walk, and charge for the work they do
// (passes over the table's slots, key sorts, sets) instead of the length.
#include <cstdint>

#include "api_functions.h"
#include "api_protected.h"
#include "host_yield.h"
#include "intp.h"
#include "lua.hpp"
#include "table_scan.h"
#include "vm_hooks.h"

namespace {

/* Moves between two checks of the watchdog in add and deli. */
inline constexpr int64_t WATCHDOG_STRIDE = 4096;

/* A length beyond the raw length by more than this is checked against the
   table's largest integer key before del or count scan it. */
inline constexpr int64_t LYING_LENGTH_SLACK = 65536;

void charge(int64_t n) {
    if (n > INT32_MAX) n = INT32_MAX;
    if (n < INT32_MIN) n = INT32_MIN;
    spend_cpu(static_cast<int32_t>(n));
}

bool has_field(lua_State *L, const char *key, int n) {
    lua_pushstring(L, key);
    return lua_rawget(L, -n) != LUA_TNIL;
}

/* Argument 1 must be a table or carry __index, __newindex and __len, as the
   table library demands; otherwise raises its type error. */
void check_sequence(lua_State *L) {
    if (lua_type(L, 1) == LUA_TTABLE) return;
    int n = 1;
    if (lua_getmetatable(L, 1) && has_field(L, "__index", ++n) && has_field(L, "__newindex", ++n) &&
        has_field(L, "__len", ++n)) {
        lua_pop(L, n);
        return;
    }
    luaL_checktype(L, 1, LUA_TTABLE);
}

/* Raises the watchdog's error when a move loop has run so far past the
   budget that the slice could never stop it otherwise (a lying __len). */
void watchdog(lua_State *L, int64_t moves) {
    if (static_cast<int64_t>(cpu_cycles) + moves >
        static_cast<int64_t>(cpu_cycles_max) + VM_WATCHDOG_MARGIN)
        luaL_error(L, VM_WATCHDOG_MESSAGE);
}

/* The largest positive integer key of the table at index 1 (0 for none):
   every element above it is nil. */
lua_Integer largest_integer_key(lua_State *L) {
    lua_Integer k = 0;
    int64_t steps = 1;  // and the step that finds no more
    lua_pushnil(L);
    while (lua_next(L, 1)) {
        if (++steps % WATCHDOG_STRIDE == 0) host_charge_check(L, WATCHDOG_STRIDE * VM_WALK_STEP_CYCLES);
        lua_pop(L, 1);
        if (lua_isinteger(L, -1)) {
            const lua_Integer key = lua_tointeger(L, -1);
            if (key > k) k = key;
        }
    }
    charge(steps % WATCHDOG_STRIDE * VM_WALK_STEP_CYCLES);
    return k;
}

/* How far del and count must read for a length n: n itself, or just past
   the largest integer key when n claims far more than the table holds. */
lua_Integer scan_limit(lua_State *L, lua_Integer n) {
    if (n - static_cast<lua_Integer>(lua_rawlen(L, 1)) <= LYING_LENGTH_SLACK) return n;
    const lua_Integer k = largest_integer_key(L);
    return k < n ? k + 1 : n;
}

/* Whether t[i] and t[i] = v on argument 1 are raw reads and sets: a table
   without __index and __newindex. */
bool moves_are_raw(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE) return false;
    static constexpr const char *kEvents[] = {"__index", "__newindex"};
    for (const char *event : kEvents) {
        if (luaL_getmetafield(L, 1, event) != LUA_TNIL) {
            lua_pop(L, 1);
            return false;
        }
    }
    return true;
}

/* What calling a metamethod from the host costs besides the metamethod's
   own work: the call, its arguments and its result. A move through a typed
   array's two takes 40-60 ns, one through rawget and rawset 4 ns. */
inline constexpr int64_t METAMETHOD_CALL_CYCLES = 4;

/* Cycles a move of add's and deli's loops costs: a read and a write, each a
   call of a metamethod unless the moves are raw. */
int64_t move_cycles(bool raw) { return raw ? 1 : 1 + 2 * METAMETHOD_CALL_CYCLES; }

/* Charges 'count' moves of 'per_move' cycles each, saturating. */
void charge_moves(lua_Unsigned count, int64_t per_move) {
    charge(count > lua_Unsigned{INT32_MAX} ? INT32_MAX : static_cast<int64_t>(count) * per_move);
}

/* Cycles for sorting m keys: m * ceil(log2 m) comparisons. */
int64_t sort_cycles(size_t m) {
    int64_t log2 = 0;
    while ((size_t{1} << log2) < m) log2++;
    return static_cast<int64_t>(m) * log2;
}

// What the protected key scan needs and gives.
struct key_scan {
    lua_Integer lo, hi; /* the range of keys */
    lua_Integer slots;  /* the table's slots, read with the collector held */
    lua_Integer *keys;  /* the buffer, in the userdata the scan pushes */
    size_t m;           /* the keys found */
};

// Runs protected with the collector held: (light scan, table). The buffer
// is sized from slots read with no finalizer able to run until the scan
// has filled it, so a finalizer cannot add keys in between.
int key_scan_body(lua_State *L) {
    auto *scan = static_cast<key_scan *>(lua_touserdata(L, 1));
    scan->slots = table_slots(L, 2);
    const auto cap = static_cast<size_t>(scan->slots ? scan->slots : 1);
    scan->keys = static_cast<lua_Integer *>(lua_newuserdatauv(L, cap * sizeof(lua_Integer), 0));
    scan->m = table_sorted_keys(L, 2, scan->lo, scan->hi, scan->keys, cap);
    if (scan->m == static_cast<size_t>(-1)) return luaL_error(L, "table changed during its key scan");
    return 1;
}

/* Pushes the integer keys in lo..hi of the table at index 1 holding a value,
   sorted, in a userdata the collector frees (so an error in a later set
   loses nothing); returns them with their count in *m, and adds the work to
   *work: a pass over the table's slots and the sort. */
lua_Integer *push_sorted_keys(lua_State *L, lua_Integer lo, lua_Integer hi, size_t *m, int64_t *work) {
    key_scan scan{lo, hi, 0, nullptr, 0};
    if (api_pcall_held(L, key_scan_body, &scan, 1) != LUA_OK) lua_error(L);
    *m = scan.m;
    *work += scan.slots + sort_cycles(*m);
    return scan.keys;
}

/* For a value whose equality may call __eq, on a sparse table: the raw
   elements 1..n compared with argument 2 in index order, skipping the nils
   (a nil never equals it). Counts the equal ones, or with 'first' stops at
   the first and returns its index (0 for none); adds the work to *work, one
   cycle per comparison besides the keys' (each __eq pays for itself). */
lua_Integer compare_entries(lua_State *L, lua_Integer n, bool first, int64_t *work) {
    size_t m;
    const lua_Integer *keys = push_sorted_keys(L, 1, n, &m, work);
    lua_Integer result = 0;
    for (size_t a = 0; a < m; a++) {
        lua_rawgeti(L, 1, keys[a]);
        const bool equal = lua_compare(L, -1, 2, LUA_OPEQ);
        lua_pop(L, 1);
        ++*work;
        if (!equal) continue;
        if (first) {
            result = keys[a];
            break;
        }
        result++;
    }
    lua_pop(L, 1);
    return result;
}

// Removes entry 'pos' of the sparse table at 1 with border 'n', with the
// moves the plain loop makes, and pushes it; charges 'work' and the moves.
int remove_sparse(lua_State *L, lua_Integer pos, lua_Integer n, int64_t work) {
    size_t m;
    lua_Integer *keys = push_sorted_keys(L, pos, n, &m, &work);
    lua_rawgeti(L, 1, pos);
    work += static_cast<int64_t>(table_shift_down_sparse(L, 1, pos, n, keys, m));
    charge(work);
    return 1;
}

}  // namespace

int lua54_add(lua_State *L) {
    check_sequence(L);
    const lua_Integer n = luaL_len(L, 1);
    const lua_Integer e = luaL_intop(+, n, 1);
    lua_Integer pos;
    switch (lua_gettop(L)) {
        case 1: return 0;
        case 2: pos = e; break;
        case 3: {
            pos = lua_isnil(L, 3) ? e : kiv_intp(L, 3, 0);
            lua_settop(L, 2);
            luaL_argcheck(L, static_cast<lua_Unsigned>(pos) - 1u < static_cast<lua_Unsigned>(e), 3,
                          "position out of bounds");
            const bool raw = moves_are_raw(L);
            if (raw && table_is_sparse(L, 1, e)) {
                int64_t work = 0;
                size_t m;
                lua_Integer *keys = push_sorted_keys(L, pos, e, &m, &work);
                work += static_cast<int64_t>(table_shift_up_sparse(L, 1, pos, e, keys, m));
                lua_pop(L, 1);
                charge(work);
                break;
            }
            // Charged first, so that the watchdog stops a lying length at once.
            const int64_t per_move = move_cycles(raw);
            charge_moves(static_cast<lua_Unsigned>(e) - static_cast<lua_Unsigned>(pos), per_move);
            int64_t moves = 0;
            for (lua_Integer i = e; i > pos; i--) {
                lua_geti(L, 1, i - 1);
                lua_seti(L, 1, i);
                if (++moves % WATCHDOG_STRIDE == 0) watchdog(L, moves * per_move);
            }
            break;
        }
        default: return luaL_error(L, "wrong number of arguments to 'insert'");
    }
    lua_pushvalue(L, 2);
    lua_seti(L, 1, pos);
    lua_settop(L, 2);
    return 1;
}

int lua54_deli(lua_State *L) {
    check_sequence(L);
    const lua_Integer n = luaL_len(L, 1);
    const lua_Integer pos = lua_gettop(L) == 1 ? n : kiv_intp(L, 2, 0);
    if (pos < 1 || pos > n) return 0;
    const bool raw = moves_are_raw(L);
    if (raw && table_is_sparse(L, 1, n)) {
        return remove_sparse(L, pos, n, 0);
    }
    lua_geti(L, 1, pos);
    const int64_t per_move = move_cycles(raw);
    charge_moves(static_cast<lua_Unsigned>(n) - static_cast<lua_Unsigned>(pos), per_move);
    int64_t moves = 0;
    for (lua_Integer k = pos; k < n; k++) {
        lua_geti(L, 1, k + 1);
        lua_seti(L, 1, k);
        if (++moves % WATCHDOG_STRIDE == 0) watchdog(L, moves * per_move);
    }
    lua_pushnil(L);
    lua_seti(L, 1, n);
    return 1;
}

int lua54_del(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE || lua_gettop(L) < 2) return 0;
    lua_settop(L, 2);
    const auto n = static_cast<int32_t>(luaL_len(L, 1));
    if (n <= 0) {
        charge(n);
        return 0;
    }
    if (table_is_sparse(L, 1, n)) {
        int64_t work = table_slots(L, 1);
        lua_Integer found = table_sparse_find(L, 1, n);
        if (found < 0) {
            work = 0;
            found = compare_entries(L, n, true, &work);
        }
        if (!found) {
            charge(work);
            return 0;
        }
        return remove_sparse(L, found, n, work);
    }
    const lua_Integer limit = scan_limit(L, n);
    lua_Integer found = table_scan_find(L, 1, limit);
    if (found < 0) {  // a value whose equality may call __eq
        found = 0;
        for (lua_Integer k = 1; k <= limit; k++) {
            lua_rawgeti(L, 1, k);
            const bool equal = lua_compare(L, -1, 2, LUA_OPEQ);
            lua_pop(L, 1);
            if (equal) {
                found = k;
                break;
            }
        }
    }
    charge(n);
    if (!found) return 0;
    lua_rawgeti(L, 1, found);
    // Elements above the limit are nil: moving them changes nothing.
    table_remove_raw(L, 1, found, limit < n ? limit : n, n);
    return 1;
}

int lua54_count(lua_State *L) {
    if (lua_type(L, 1) != LUA_TTABLE) return 0;
    const int top = lua_gettop(L);
    const lua_Integer n = luaL_len(L, 1);
    if (top == 1 || n < 1) {
        charge(1);
        lua_pushinteger(L, top == 1 ? n : 0);
        return 1;
    }
    lua_settop(L, 2);
    if (table_is_sparse(L, 1, n)) {
        int64_t work = table_slots(L, 1);
        lua_Integer count = table_sparse_count(L, 1, n);
        if (count < 0) {
            work = 0;
            count = compare_entries(L, n, false, &work);
        }
        charge(work);
        lua_pushinteger(L, count);
        return 1;
    }
    const lua_Integer limit = scan_limit(L, n);
    lua_Integer count = table_scan_count(L, 1, limit);
    if (count < 0) {  // a value whose equality may call __eq
        count = 0;
        for (lua_Integer k = 1; k <= limit; k++) {
            lua_rawgeti(L, 1, k);
            if (lua_compare(L, -1, 2, LUA_OPEQ)) count++;
            lua_pop(L, 1);
        }
    }
    // The nils above the limit, counted without reading them.
    if (lua_isnil(L, 2) && limit < n) count += n - limit;
    charge(n);
    lua_pushinteger(L, count);
    return 1;
}
