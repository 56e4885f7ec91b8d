/* Raw scans and removals of table elements for del and count. */
#include "table_scan.h"

#include <stdlib.h>
#include <string.h>

#include "lobject.h"
#include "lstate.h"
#include "ltable.h"
#include "lvm.h"

/* Tables and full userdata may carry __eq: such a value is not compared here. */
static int needs_metamethod(const TValue *v) { return ttistable(v) || ttisfulluserdata(v); }

/* Raw equality, with every kind of nil (empty slots, absent keys) equal. */
static int same(const TValue *e, const TValue *v) {
    if (ttisnil(v)) return ttisnil(e);
    return luaV_rawequalobj(e, v);
}

static Table *table_at(lua_State *L, int tidx) { return (Table *)lua_topointer(L, tidx); }

lua_Integer table_scan_count(lua_State *L, int tidx, lua_Integer n) {
    const TValue *v = s2v(L->top - 1);
    if (needs_metamethod(v)) return -1;
    Table *t = table_at(L, tidx);
    const lua_Integer asize = (lua_Integer)luaH_realasize(t);
    lua_Integer count = 0, k = 1;
    for (; k <= n && k <= asize; k++) count += same(&t->array[k - 1], v);
    for (; k <= n; k++) count += same(luaH_getint(t, k), v);
    return count;
}

lua_Integer table_scan_find(lua_State *L, int tidx, lua_Integer n) {
    const TValue *v = s2v(L->top - 1);
    if (needs_metamethod(v)) return -1;
    Table *t = table_at(L, tidx);
    const lua_Integer asize = (lua_Integer)luaH_realasize(t);
    lua_Integer k = 1;
    for (; k <= n && k <= asize; k++)
        if (same(&t->array[k - 1], v)) return k;
    for (; k <= n; k++)
        if (same(luaH_getint(t, k), v)) return k;
    return 0;
}

void table_remove_raw(lua_State *L, int tidx, lua_Integer k, lua_Integer last, lua_Integer n) {
    tidx = lua_absindex(L, tidx);
    Table *t = table_at(L, tidx);
    if (n <= (lua_Integer)luaH_realasize(t)) {
        /* The values stay referenced by the same table: no barrier is due. */
        if (last > k) memmove(&t->array[k - 1], &t->array[k], (size_t)(last - k) * sizeof(TValue));
        setnilvalue(&t->array[n - 1]);
        return;
    }
    for (lua_Integer j = k; j < last; j++) {
        lua_rawgeti(L, tidx, j + 1);
        lua_rawseti(L, tidx, j);
    }
    lua_pushnil(L);
    lua_rawseti(L, tidx, n);
}

/*
** {======================================================
** Sparse tables: work from the entries
** =======================================================
*/

lua_Integer table_slots(lua_State *L, int tidx) {
    const Table *t = table_at(L, tidx);
    return (lua_Integer)luaH_realasize(t) + (lua_Integer)allocsizenode(t);
}

lua_Integer table_array_size(lua_State *L, int tidx) { return (lua_Integer)luaH_realasize(table_at(L, tidx)); }

int table_is_sparse(lua_State *L, int tidx, lua_Integer n) {
    return n / TABLE_SPARSE_RATIO > table_slots(L, tidx);
}

/* Runs BODY for every integer KEY in 1..n holding a value VAL, array part
   first, then the hash part in node order. */
#define FOR_EACH_INT_ENTRY(t, n, KEY, VAL, BODY)                                  \
    do {                                                                        \
        const lua_Integer asize_ = (lua_Integer)luaH_realasize(t);              \
        for (lua_Integer i_ = 0; i_ < asize_ && i_ < (n); i_++) {               \
            const TValue *VAL = &(t)->array[i_];                                \
            const lua_Integer KEY = i_ + 1;                                     \
            if (!isempty(VAL)) { BODY; }                                        \
        }                                                                       \
        const size_t nodes_ = (size_t)allocsizenode(t);                         \
        for (size_t j_ = 0; j_ < nodes_; j_++) {                                \
            const Node *node_ = gnode(t, j_);                                   \
            const TValue *VAL = gval(node_);                                    \
            if (isempty(VAL) || !keyisinteger(node_)) continue;                 \
            const lua_Integer KEY = keyival(node_);                             \
            if (KEY >= 1 && KEY <= (n)) { BODY; }                               \
        }                                                                       \
    } while (0)

lua_Integer table_sparse_count(lua_State *L, int tidx, lua_Integer n) {
    const TValue *v = s2v(L->top - 1);
    if (needs_metamethod(v)) return -1;
    Table *t = table_at(L, tidx);
    lua_Integer count = 0, entries = 0;
    FOR_EACH_INT_ENTRY(t, n, key, e, {
        (void)key;
        entries++;
        count += same(e, v);
    });
    return ttisnil(v) ? n - entries : count;
}

lua_Integer table_sparse_find(lua_State *L, int tidx, lua_Integer n) {
    const TValue *v = s2v(L->top - 1);
    if (needs_metamethod(v)) return -1;
    Table *t = table_at(L, tidx);
    if (ttisnil(v)) {
        /* The first index without a value: at most one past the entries. */
        for (lua_Integer k = 1; k <= n; k++)
            if (isempty(luaH_getint(t, k))) return k;
        return 0;
    }
    lua_Integer first = 0;
    FOR_EACH_INT_ENTRY(t, n, key, e, {
        if ((first == 0 || key < first) && same(e, v)) first = key;
    });
    return first;
}

static int compare_keys(const void *a, const void *b) {
    const lua_Integer x = *(const lua_Integer *)a, y = *(const lua_Integer *)b;
    return (x > y) - (x < y);
}

size_t table_sorted_keys(lua_State *L, int tidx, lua_Integer lo, lua_Integer hi, lua_Integer *keys, size_t cap) {
    Table *t = table_at(L, tidx);
    size_t m = 0;
    FOR_EACH_INT_ENTRY(t, hi, key, e, {
        (void)e;
        if (key >= lo) {
            if (m == cap) return (size_t)-1;
            keys[m++] = key;
        }
    });
    qsort(keys, m, sizeof *keys, compare_keys);
    return m;
}

/* t[i] = t[from] as a raw set; returns 1, the sets made. */
static size_t move_raw(lua_State *L, int tidx, lua_Integer i, lua_Integer from) {
    lua_rawgeti(L, tidx, from);
    lua_rawseti(L, tidx, i);
    return 1;
}

size_t table_shift_down_sparse(lua_State *L, int tidx, lua_Integer k, lua_Integer n, const lua_Integer *keys,
                               size_t m) {
    size_t sets = 1;
    tidx = lua_absindex(L, tidx);
    /* Only t[j] = t[j + 1] with j or j + 1 a key changes anything: j = key - 1
       and j = key, taken in ascending order once each. */
    lua_Integer done = k - 1; /* the last j set */
    for (size_t a = 0; a < m; a++) {
        const lua_Integer key = keys[a];
        if (key - 1 > done && key - 1 >= k) sets += move_raw(L, tidx, done = key - 1, key);
        if (key > done && key <= n - 1) sets += move_raw(L, tidx, done = key, key + 1);
    }
    lua_pushnil(L);
    lua_rawseti(L, tidx, n);
    return sets;
}

size_t table_shift_up_sparse(lua_State *L, int tidx, lua_Integer k, lua_Integer e, const lua_Integer *keys,
                             size_t m) {
    size_t sets = 0;
    tidx = lua_absindex(L, tidx);
    /* Only t[i] = t[i - 1] with i or i - 1 a key changes anything: i = key + 1
       and i = key, taken in descending order once each. */
    lua_Integer done = e + 1; /* the last i set */
    for (size_t a = m; a-- > 0;) {
        const lua_Integer key = keys[a];
        if (key < e && key + 1 < done) sets += move_raw(L, tidx, done = key + 1, key);
        if (key > k && key < done) sets += move_raw(L, tidx, done = key, key - 1);
    }
    return sets;
}

/* }====================================================== */
