/*
** The script API's two uses of pod: a value written as pod text into a byte
** buffer (messages), and a pod text read back into a value.
*/
#ifndef QUILLMAR_API_POD_BRIDGE_H
#define QUILLMAR_API_POD_BRIDGE_H

#include <stddef.h>

struct lua_State;
struct buffer_rec;

/* Appends the pod text (flags 0: plain text, no binary records) of the value
   at 'index' to 'b'. Runs protected: returns LUA_OK, or the error status with
   the error object pushed, so the caller can release 'b' before it raises
   the error again. */
int api_pod_write(lua_State *L, int index, buffer_rec *b);

/* Pushes the value of the pod text text[0 .. len) and returns 1, or returns 0
   with nothing pushed when the text does not parse. 'text' must stay valid
   (anchored) while it is read. */
int api_pod_read(lua_State *L, const char *text, size_t len);

#endif
