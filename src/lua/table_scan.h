/*
** Raw scans and removals over a table's elements 1..n for the script API's
** del and count: the elements are read straight from the table, as the
** table library's own code reads them, so that each costs no API call.
** C linkage.
*/
#ifndef QUILLMAR_TABLE_SCAN_H
#define QUILLMAR_TABLE_SCAN_H

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
** The number of raw elements 1..n of the table at 'tidx' equal to the value
** at the top of the stack (a nil counts the nil holes), or -1 when that value
** is a table or a full userdata, whose equality may call __eq: the caller
** then compares through lua_compare itself.
*/
lua_Integer table_scan_count(lua_State *L, int tidx, lua_Integer n);

/* The first k in 1..n whose raw element equals the top value, 0 when none,
   or -1 as for table_scan_count. */
lua_Integer table_scan_find(lua_State *L, int tidx, lua_Integer n);

/*
** Moves the raw elements k + 1..last of the table at 'tidx' one place down
** and sets raw element n to nil (last <= n), exactly as the raw sets one by
** one would; elements of the array part are moved in one block.
*/
void table_remove_raw(lua_State *L, int tidx, lua_Integer k, lua_Integer last, lua_Integer n);

/*
** Scans and moves that start from the table's entries instead of its
** indices, for a border far above the number of entries (keys 1, 2, 4, ...,
** 2^40 give a border of 2^40 with 41 entries). Their results and the sets
** they make are those of the loops over every index.
*/

/* Slots of the array and hash parts of the table at 'tidx': no more entries
   than this, and no fewer bytes of memory held. */
lua_Integer table_slots(lua_State *L, int tidx);

/* Size of the array part of the table at 'tidx': its keys 1..that many are
   found by index, and lua_next from any of them goes on at the next. */
lua_Integer table_array_size(lua_State *L, int tidx);

/* Whether a scan of the indices 1..n of the table at 'tidx' should work from
   its entries: n is more than TABLE_SPARSE_RATIO times its slots. */
#define TABLE_SPARSE_RATIO 4
int table_is_sparse(lua_State *L, int tidx, lua_Integer n);

/* As table_scan_count and table_scan_find, reading only the entries. */
lua_Integer table_sparse_count(lua_State *L, int tidx, lua_Integer n);
lua_Integer table_sparse_find(lua_State *L, int tidx, lua_Integer n);

/* Writes the integer keys in lo..hi of the table at 'tidx' that hold a value
   to 'keys' in ascending order and returns their count; 'keys' has room for
   'cap' keys, table_slots(L, tidx) when read with nothing allocated since.
   Returns (size_t)-1, with 'keys' unsorted, when they do not fit. */
size_t table_sorted_keys(lua_State *L, int tidx, lua_Integer lo, lua_Integer hi, lua_Integer *keys, size_t cap);

/*
** The raw sets of "for j = k, n - 1 do t[j] = t[j + 1] end t[n] = nil" that
** change anything, in the same order, given 'keys', the 'm' sorted keys of
** the table at 'tidx' in k..n (table_sorted_keys). Returns the sets made.
*/
size_t table_shift_down_sparse(lua_State *L, int tidx, lua_Integer k, lua_Integer n, const lua_Integer *keys,
                             size_t m);

/* Likewise for "for i = e, k + 1, -1 do t[i] = t[i - 1] end", given the 'm'
   sorted keys in k..e. */
size_t table_shift_up_sparse(lua_State *L, int tidx, lua_Integer k, lua_Integer e, const lua_Integer *keys,
                           size_t m);

#ifdef __cplusplus
}
#endif

#endif
