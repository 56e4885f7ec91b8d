/*
** Typed arrays: the record, the element types and their names, creation from
** type names and init texts, duplication and the helpers the operations share.
** C linkage: the runtime core's pod reader creates arrays through this header.
*/
#ifndef QUILLMAR_USERDATA_TYPED_UD_H
#define QUILLMAR_USERDATA_TYPED_UD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#include "lua.h"

/* Element type codes. The low 3 bits are log2 of the element's size in bits. */
enum utype {
    UTYPE_U8 = 3,   /* unsigned 8-bit */
    UTYPE_I16 = 12, /* signed 16-bit */
    UTYPE_I32 = 13, /* signed 32-bit */
    UTYPE_I64 = 14, /* signed 64-bit */
    UTYPE_F64 = 22  /* IEEE 754 double */
};

/*
** One typed array: a Lua full userdata (no user values) holding this 16-byte
** header and, directly after it in the same block, the element area:
** width x height x depth elements, row-major (element (x, y) at y * width + x),
** native little-endian, starting 8-byte aligned. The area is rounded up to a
** multiple of 8 bytes and never moves or changes size: pages of a process's
** address space may be mapped onto it, and reshaping rewrites only the header.
*/
typedef struct typed_ud_rec {
    uint8_t type;    /* utype code; readers take type & 31 */
    uint8_t dims;    /* 1 or 2 */
    uint8_t zero[2]; /* always 0 */
    uint32_t width;  /* elements per row */
    uint32_t height; /* rows; 1 for a one-dimensional array */
    uint32_t depth;  /* 1 for every array made here; a factor of the count */
} typed_ud_rec;

/* Bytes of the header; the element area starts here. */
#define TYPED_UD_HEADER 16

/* Largest element area, rounded, in bytes: 16 MiB. */
#define TYPED_UD_MAX_BYTES 0x1000000u

/* Number of entries of the method table USERDATA. */
#define USERDATA_METHOD_COUNT 58

/* The element area of an array. */
static inline uint8_t *ud_elements(typed_ud_rec *rec) { return (uint8_t *)rec + TYPED_UD_HEADER; }

/* The element type code of an array (readers take the low 5 bits). */
static inline int ud_type(const typed_ud_rec *rec) { return rec->type & 31; }

/* Bytes per element of a type code (1, 2, 4 or 8 for the five types). */
static inline uint32_t utype_size(int code) { return (1u << (code & 7)) >> 3; }

/* width x height x depth, exactly. */
static inline uint64_t ud_count(const typed_ud_rec *rec) {
    return (uint64_t)rec->width * rec->height * rec->depth;
}

/*
** The type code of a type name: absent or empty gives u8; a second character
** '3' gives i32 and '1' gives i16; otherwise a first character 'f' gives f64,
** 'i' gives i64 and anything else u8. Only the first two characters are read.
*/
int str_to_utype(const char *text);

/* The name of a type code: "u8", "i16", "i32", "i64", "f64", else "?". */
const char *get_utype_string(int code);

/*
** Creates a typed array and pushes it on L. 'type_text' (may be null) names
** the element type, or is a "[gfx]" / "[map]" text that carries its own size,
** type and contents; 'init_text' (may be null, and is ignored for those texts)
** fills the elements and is charged to the running slice. Both texts may point
** into a longer NUL-terminated text. Returns the header, or null with nothing
** pushed when dims is not 1 or 2 or the element area is not 8 bytes to 16 MiB.
** May raise a Lua memory error.
*/
typed_ud_rec *create_userdata(lua_State *L, const char *type_text, int dims, uint32_t width,
                              uint32_t height, uint32_t depth, const char *init_text);

/*
** Creates a zeroed array of type 'code' with exactly this header shape (no
** adjustment of height or depth for the dims) and pushes it. Returns null with
** nothing pushed when the element area is not 8 bytes to 16 MiB.
*/
typed_ud_rec *create_userdata_shaped(lua_State *L, int code, int dims, uint32_t width,
                                     uint32_t height, uint32_t depth);

/*
** Pushes a byte-for-byte copy of 'rec' (header and rounded element area) with
** the metatable rule of creation, and returns the copy's header. 'rec' must be
** an array that passed to_typed_ud. Charges nothing.
*/
typed_ud_rec *push_duplicate_userdata(lua_State *L, const typed_ud_rec *rec);

/*
** Pushes a new array with the header of 'rec' (and the metatable rule of
** creation) whose elements the caller writes wholly before anything can read
** them; only the bytes that round the area up to 8 are zeroed. Charges nothing.
*/
typed_ud_rec *push_userdata_for_overwrite(lua_State *L, const typed_ud_rec *rec);

/*
** The number of elements an operation over arrays 'a' and 'b' (either may be
** null) may process: the smallest of 'count', a's count minus 'off_a' and b's
** count minus 'off_b'. 0 or less means nothing to do.
*/
int32_t get_userdata_len2(const typed_ud_rec *a, const typed_ud_rec *b, int32_t off_a,
                          int32_t count, int32_t off_b);

/*
** Copies 'n' f64 values from 'src' into scratch slot 'slot' (0 or 1), shared
** by the whole program, charges n / 256 cycles and returns the copy, valid
** until the next copy into the same slot. Null when the scratch cannot hold it.
*/
double *copy_dat(int slot, const double *src, int32_t n);

/*
** The typed array at stack index 'idx', or null when that value is not one: a
** full userdata whose block holds the header, a known element type and the
** rounded element area the header describes. Light userdata and foreign
** blocks are refused, so no caller can write outside an array's block.
*/
typed_ud_rec *to_typed_ud(lua_State *L, int idx);

/* Builds the method table of a new Lua state and stores it as the global USERDATA. */
void add_userdata_metatable_functions(lua_State *L);

#ifdef __cplusplus
}
#endif

#endif
