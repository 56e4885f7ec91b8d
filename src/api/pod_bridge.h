/*
** The script API's uses of pod: a value written as pod text into a byte
** buffer, a pod text read back into values, and a text's metadata header.
*/
#ifndef QUILLMAR_API_POD_BRIDGE_H
#define QUILLMAR_API_POD_BRIDGE_H

#include <stddef.h>
#include <stdint.h>

struct lua_State;
struct buffer_rec;

/* Appends the pod text of the value at 'index' to 'b', written with the
   pod writer's 'flags' (0: plain text, no binary records). Runs protected:
   returns LUA_OK, or the error status with the error object pushed, so the
   caller can release 'b' before it raises the error again. */
int api_pod_write(lua_State *L, int index, buffer_rec *b, int flags);

/* Pushes the values of the pod text text[0 .. len) (text[len] must be a
   NUL) and returns their count: 0 with nothing pushed when the text does
   not parse, 1 for its value, 2 for its value and its metadata table. 'text'
   must stay valid while it is read. Raises only Lua's memory error. */
int api_pod_read(lua_State *L, const char *text, size_t len);

/* Pushes the table of the metadata header that begins text[0 .. len) (an
   empty table when it does not read) and returns 1. text[len] must be a
   NUL. Raises only Lua's memory error. */
int api_pod_read_metadata(lua_State *L, const char *text, size_t len);

/* Length of the "--[[pod" ... "]]" header at the start of text[0 .. len),
   with one line feed directly after it; 0 when the text does not begin with
   "--[[pod". */
int64_t api_pod_metadata_length(const char *text, int64_t len);

#endif
