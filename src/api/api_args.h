/*
** The argument readings every script API function uses. Each reads its
** argument in place and never raises, so any host function may call them
** before it does anything else. The first integer reading is the runtime's
** kiv_intp (intp.h); the other two are here.
*/
#ifndef QUILLMAR_API_ARGS_H
#define QUILLMAR_API_ARGS_H

#include <stddef.h>
#include <stdint.h>

#include "intp.h"

struct lua_State;

/* The truncated number: argument 'index' when it is a number or a numeric
   string, as a double truncated toward zero to 32 bits (saturating at the
   bounds, NaN giving 0); anything else gives 'def'. */
int32_t api_truncated(lua_State *L, int index, int32_t def);

/* The integer conversion: argument 'index' when it is an integer, a float
   with an exact integer value in range, or a string that converts to one of
   those; anything else gives 0. */
int64_t api_integer(lua_State *L, int index);

/* The string reading: argument 'index' as text (a number is converted to
   its text in place, which allocates), or null when it is neither a string
   nor a number. '*len', when given, receives the length. */
const char *api_string(lua_State *L, int index, size_t *len);

/* The path reading: api_string, refusing (null) a text that holds a NUL,
   which a path taken as a C text would silently lose. */
const char *api_path(lua_State *L, int index, size_t *len);

#endif
