// The socket hooks the runtime calls, empty until the sockets exist (they
// replace this file).
#include "boot_hooks.h"
#include "host.h"

extern "C" void delete_sockets_by_process(int64_t id) { (void)id; }

extern "C" void update_all_sockets(void) {}

extern "C" void socket_add_public_c_functions(struct lua_State *L) { (void)L; }

extern "C" void sockets_init(void) {}

extern "C" void sockets_exit(void) {}
