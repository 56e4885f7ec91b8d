/* Access to a Lua thread's yielded_to_escape_slice field. */
#include "thread_flag.h"

#include "lstate.h"

int32_t api_get_escape_flag(struct lua_State *L) { return L->yielded_to_escape_slice; }

void api_set_escape_flag(struct lua_State *L, int32_t value) { L->yielded_to_escape_slice = value; }
