// `_signal`: numbered requests from the system's Lua code to the host.
// Codes without an entry here do nothing.
#include "api_functions.h"
#include "host.h"
#include "intp.h"
#include "lua.hpp"
#include "process.h"

namespace {

inline constexpr uint32_t SIGNAL_EXIT = 33;           /* the program ends at the next frame */
inline constexpr uint32_t SIGNAL_REBOOT = 34;         /* the system reboots at the next frame */
inline constexpr uint32_t SIGNAL_EXCLUSIVE = 40;      /* only the caller and pids 1-3 get slices */
inline constexpr uint32_t SIGNAL_END_EXCLUSIVE = 41;  /* every process gets slices again */

}  // namespace

int lua54__signal(lua_State *L) {
    const auto n = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    switch (n) {
        case SIGNAL_EXIT: app.exit_requested = 1; break;
        case SIGNAL_REBOOT: app.reboot_requested = 1; break;
        case SIGNAL_EXCLUSIVE: app.exclusive_pid = cproc ? static_cast<uint64_t>(cproc->id) : 0; break;
        case SIGNAL_END_EXCLUSIVE: app.exclusive_pid = 0; break;
        default: break;
    }
    return 0;
}
