// Stands in for the typed-array library's state initialiser while that
// library is not part of the build; the platform tests create no typed arrays.
#include "host.h"

extern "C" void add_userdata_metatable_functions(struct lua_State *L) { (void)L; }
