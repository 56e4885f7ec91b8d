/*
** Pod reader: pod texts, with their binary records, base64 values and
** metadata headers, back into scripting-language values. C linkage.
*/
#ifndef QUILLMAR_FORMATS_POD_READER_H
#define QUILLMAR_FORMATS_POD_READER_H

#include <stdint.h>

#include "lua.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Written to standard output (with the header from "pod" on) when a header
   does not read as a table body; the value is kept. */
#define POD_BAD_METADATA_MESSAGE "bad metadata format; ignoring %s\n"

/* Logged when an LZ4 record decodes to a length other than its raw size
   (decoded length, raw size). */
#define POD_LZ4_SIZES_MESSAGE "reading corrupt lz4 value // sizes do not match: %d %d\n"

/*
** Reads the pod text of 'length' bytes at 'text', which must be followed by
** a NUL (text[length] == 0); nothing at or past that NUL is read. Returns
** the number of values pushed on L: 0 when the text does not read (nothing
** pushed), 1 for its value, 2 for its value and then its metadata table
** (a text beginning with a "--[[pod" header). With 'metadata' set, only
** the header's table is pushed and 1 returned; a header that does not read,
** or a text without one, gives an empty table. Text after the value is
** ignored. Raises only Lua's memory error, after freeing its scratch.
** Charges the running slice for every value, key, byte and element read.
*/
int destringify_object_ex(lua_State *L, const char *text, int64_t length, int metadata);

/* destringify_object_ex with metadata mode off. */
int destringify_object(lua_State *L, const char *text, int64_t length);

/* destringify_object_ex in metadata mode: pushes the header's table; 1. */
int destringify_object_metadata(lua_State *L, const char *text, int64_t length);

/*
** Length of the metadata header at the start of the 'length' bytes at
** 'text': up to and including the first "]]" after "--[[pod" and one line
** feed directly after it; without a "]]", up to the first NUL or the end.
** 0 when the text does not begin with "--[[pod".
*/
int64_t find_metadata_length(const char *text, int64_t length);

#ifdef __cplusplus
}
#endif

#endif
