/*
** pxu records of typed arrays: the pod writer's and reader's bridge between
** the pxu coder and the typed-array constructor. C linkage.
*/
#ifndef QUILLMAR_FORMATS_PXU_LUA_H
#define QUILLMAR_FORMATS_PXU_LUA_H

#include <stdint.h>

#include "buffer.h"
#include "typed_ud.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bit count the pod writer codes u8 arrays with. */
#define PXU_POD_BITS 4

/*
** Appends a pxu record of the array 'rec' (type, shape and its first
** width * height * depth element bytes) to 'out' at its cursor: uncoded when
** 'bits' is 0, else coded with the bit count clamped to 1..6. A
** one-dimensional array of height above 1 is written as two dimensions.
** Returns the bytes appended, 0 when the buffer refused to grow.
*/
int64_t write_binary_pxu(const typed_ud_rec *rec, buffer_rec *out, int bits);

/*
** Reads the pxu record at 'p' (its "pxu" NUL tag included), which must lie
** wholly before 'end', makes its typed array with create_userdata (the type
** named by get_utype_string, the record's dims and sizes, no init text),
** fills the first width * height * depth element bytes and leaves the array
** on L. Returns the position after the record, or null with nothing pushed
** when the record is cut short, its bit count is outside 1..6 or the
** constructor refuses it. May raise a Lua memory error; the caller keeps at
** least one free stack slot.
*/
const char *get_binary_pxu(lua_State *L, const char *p, const char *end);

#ifdef __cplusplus
}
#endif

#endif
