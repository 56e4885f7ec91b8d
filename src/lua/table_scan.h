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

#ifdef __cplusplus
}
#endif

#endif
