/*
** The yielded_to_escape_slice field of a Lua thread, which the virtual
** machine sets when it suspends a script whose slice budget is spent.
** C linkage: the field lives in the interpreter's private thread record.
*/
#ifndef QUILLMAR_API_THREAD_FLAG_H
#define QUILLMAR_API_THREAD_FLAG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct lua_State;

int32_t api_get_escape_flag(struct lua_State *L);
void api_set_escape_flag(struct lua_State *L, int32_t value);

#ifdef __cplusplus
}
#endif

#endif
