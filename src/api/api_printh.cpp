// `_printh`: a line of text on the host's standard output, for debugging.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "api_args.h"
#include "api_functions.h"
#include "lua.hpp"
#include "vm_hooks.h"

namespace {

inline constexpr size_t PRINTED_BYTES_PER_CYCLE = 4;  /* charged for the bytes written */

}  // namespace

int lua54__printh(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    if (!text) return 0;
    const size_t printed = strnlen(text, len);  // up to the first zero byte
    if (printed >= PRINTED_BYTES_PER_CYCLE)
        spend_cpu(static_cast<int32_t>(std::min<size_t>(printed / PRINTED_BYTES_PER_CYCLE, INT32_MAX / 2)));
    std::fwrite(text, 1, printed, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    spend_cpu(VM_OUTPUT_LINE_CYCLES);
    return 0;
}
