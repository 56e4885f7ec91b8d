/*
** The registration table of the script API: every global name a process
** receives from api_add_c_functions, in registration order, with the
** native function that serves it. Names that share a native function are
** aliases and are bound to the same function.
*/
#ifndef QUILLMAR_API_REGISTRY_H
#define QUILLMAR_API_REGISTRY_H

#include "lua.hpp"

inline constexpr int API_NUM_NAMES = 143;   /* global names registered */
inline constexpr int API_NUM_NATIVES = 129; /* distinct native functions behind them */

struct api_entry {
    const char *name;   /* the Lua global */
    const char *native; /* name of the native function that serves it */
    lua_CFunction fn;   /* that function */
};

extern const api_entry api_table[API_NUM_NAMES];

#endif
