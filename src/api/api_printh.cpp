// `_printh`: a line of text on the host's standard output, for debugging.
#include <cstdio>

#include "api_args.h"
#include "api_functions.h"
#include "lua.hpp"

int lua54__printh(lua_State *L) {
    const char *text = api_string(L, 1, nullptr);
    if (!text) return 0;
    std::printf("%s\n", text);  // up to the first zero byte
    std::fflush(stdout);
    return 0;
}
