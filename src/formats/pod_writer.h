/*
** Pod writer: scripting-language values as pod texts, with string, pxu and
** LZ4 records and the base64 wrapper. C linkage.
*/
#ifndef QUILLMAR_FORMATS_POD_WRITER_H
#define QUILLMAR_FORMATS_POD_WRITER_H

#include <stdint.h>

#include "buffer.h"
#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Write flags, OR-ed by the caller. */
#define POD_PXU 1        /* u8 typed arrays become pxu records */
#define POD_LZ4 2        /* the whole text becomes one LZ4 record */
#define POD_B64 4        /* the result is wrapped as unpod("b64:...") */
#define POD_NESTED 8     /* set on every value inside a table; nothing tests it */
#define POD_PXU_RAW 16   /* with POD_PXU: pxu records are written uncoded */
#define POD_STR 32       /* strings become string records */

/* Error messages of the writer's limits. */
#define POD_DEPTH_MESSAGE "pod: tables nested more than 200 deep"
#define POD_SIZE_MESSAGE "pod: text larger than 256 MiB"

/*
** Appends the pod text of the value at stack slot 'index' of L to 'out' at
** its cursor and returns 0. 'depth' is handed on, one more per level, and
** has no other effect. Never calls Lua code. Raises a Lua error (after
** freeing its scratch and restoring out's cursor and length) when two keys
** of one table share a type without an order ("attempt to compare two
** boolean values"), when tables nest more than 200 deep (POD_DEPTH_MESSAGE),
** when the text passes 256 MiB (POD_SIZE_MESSAGE), or on a memory error.
** Charges the running slice for every value, key, byte and element written
** and for sorting each table's keys.
*/
int stringify_object(lua_State *L, int index, buffer_rec *out, int depth, int flags);

#ifdef __cplusplus
}
#endif

#endif
