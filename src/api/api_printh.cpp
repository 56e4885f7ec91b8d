// `_printh`: a line of text on the host's standard output, for debugging.
#include <cstdio>
#include <cstring>

#include "api_args.h"
#include "api_functions.h"
#include "host_yield.h"
#include "lua.hpp"
#include "vm_hooks.h"

int lua54__printh(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    if (!text) return 0;
    const size_t printed = strnlen(text, len);  // up to the first zero byte
    // Charged before it is written: past the watchdog's margin nothing is.
    host_charge_units(L, printed, VM_OUTPUT_BYTES_PER_CYCLE);
    std::fwrite(text, 1, printed, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    spend_cpu(VM_OUTPUT_LINE_CYCLES);
    return 0;
}
