// Registration of the script API's globals: none yet.
#include "host.h"

extern "C" void api_add_c_functions(struct lua_State *L) { (void)L; }
