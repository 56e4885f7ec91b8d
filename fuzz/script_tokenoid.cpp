// tokenoid over random bytes: one call at a random position and state must
// stay within the text, and a scan from the start in state 0 must cut the
// whole text into tokens that follow each other, leave a construct open only
// at the end or at a zero byte (a zero byte is a token of its own), open only long comments and strings of level
// 60 at most, and charge exactly the text's length.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api_functions.h"
#include "api_tokenoid.h"
#include "script_call.h"

namespace {

[[noreturn]] void fail(const char *what, const std::string &text, int64_t pos) {
    std::fprintf(stderr, "tokenoid: %s at %lld in %zu bytes\n", what, static_cast<long long>(pos), text.size());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    lua_State *L = script_call::begin();
    const std::string text(reinterpret_cast<const char *>(data) + 3, size - 3);

    // One call anywhere, in any state.
    const int64_t pos = static_cast<int8_t>(data[0]) + (data[1] & 0x80 ? 0 : static_cast<int64_t>(text.size() / 2));
    const int64_t state = (static_cast<int64_t>(data[2] & 7) << 8) | data[1];
    lua_pushcfunction(L, lua54_tokenoid);
    lua_pushlstring(L, text.data(), text.size());
    lua_pushinteger(L, pos);
    lua_pushinteger(L, data[2] & 0x80 ? -state : state);
    if (lua_pcall(L, 3, LUA_MULTRET, 0) != LUA_OK) fail("raised", text, pos);
    if (lua_gettop(L) > 0) {
        size_t len = 0;
        lua_tolstring(L, 1, &len);
        const lua_Integer next = lua_tointeger(L, 2);
        if (pos < 1 || static_cast<uint64_t>(pos) > text.size() || len == 0 ||
            next != pos + static_cast<lua_Integer>(len) || static_cast<uint64_t>(next) > text.size() + 1)
            fail("token outside the text", text, pos);
    }

    // A whole scan from state 0.
    lua_settop(L, 0);
    lua_pushlstring(L, text.data(), text.size());  // at 1 for every call
    lua_gc(L, LUA_GCSTOP);  // the collector's steps, charged to whichever call allocates, wait
    cpu_cycles = 0;
    std::string joined;
    lua_Integer at = 1, open = 0;
    while (static_cast<uint64_t>(at) <= text.size()) {
        lua_pushcfunction(L, lua54_tokenoid);
        lua_pushvalue(L, 1);
        lua_pushinteger(L, at);
        lua_pushinteger(L, open);
        if (lua_pcall(L, 3, LUA_MULTRET, 0) != LUA_OK) fail("raised", text, at);
        const int n = lua_gettop(L) - 1;
        if (n < 3) fail("no token", text, at);
        size_t len = 0;
        const char *token = lua_tolstring(L, 2, &len);
        const lua_Integer next = lua_tointeger(L, 3);
        if (len == 0 || next != at + static_cast<lua_Integer>(len)) fail("tokens do not follow", text, at);
        joined.append(token, len);
        if (n == 4) {
            const lua_Integer s = lua_tointeger(L, 5);
            // At the end of the text, or at a zero byte: the one after the
            // token, or the token itself (a zero byte met inside a construct).
            const bool at_end = static_cast<uint64_t>(next) > text.size() || text[next - 1] == '\0' ||
                                token[len - 1] == '\0';
            if (!at_end) fail("state before the end", text, at);
            const lua_Integer kind = s & ~lua_Integer{0xFF};
            if ((kind != TOKENOID_LONG_COMMENT && kind != TOKENOID_LONG_STRING) ||
                static_cast<size_t>(s & 0xFF) > TOKENOID_MAX_LEVEL)
                fail("bad state", text, at);
            open = s;
        } else {
            open = 0;
        }
        lua_settop(L, 1);
        at = next;
    }
    lua_gc(L, LUA_GCRESTART);
    if (joined != text) fail("tokens do not make the text", text, at);
    if (static_cast<uint64_t>(cpu_cycles) != text.size()) fail("charges differ from the length", text, at);
    return 0;
}
