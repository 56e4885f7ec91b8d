/* Raw scans and removals of table elements for del and count. */
#include "table_scan.h"

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
