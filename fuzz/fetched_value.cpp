// Fuzz target: fetched-text decoding, inside a process, over bytes that now
// come from the network: the first byte picks the extension class (txt, pn,
// lua, png with a hostile header, pod, other); for png the next eight bytes
// are the width and height the header declares. Nothing may crash, leak or
// trip a sanitizer, and the call pushes what it says it pushed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "buffer.h"
#include "fake_host.h"
#include "fetched_value.h"
#include "lua.hpp"
#include "process.h"
#include "slice.h"
#include "vm_hooks.h"

namespace {

const char *const kExts[] = {"txt", "pn", "lua", "png", "pod", "dat", ""};

struct input {
    std::string bytes;
    const char *ext;
};

int decode(lua_State *L) {
    auto *in = static_cast<input *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    buffer_rec *b = create_buffer_2(int32_t(in->bytes.size()), 'z');
    if (!b) return 0;
    if (!in->bytes.empty()) bwrite(in->bytes.data(), 1, int64_t(in->bytes.size()), b);
    b->cursor = 0;
    const int n = unpod_from_fetched_buffer(L, b, in->ext);
    if (n < 0 || n != lua_gettop(L)) std::abort();
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    fake_host::reset();
    processes_init();
    config = config_rec{};
    config.headless = 1;
    cpu_cycles = cpu_cycles_max = cpu_superyielding = 0;
    input in;
    in.ext = kExts[data[0] % std::size(kExts)];
    data++;
    size--;
    if (!std::strcmp(in.ext, "png") && size >= 8) {
        in.bytes = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
        in.bytes.append(reinterpret_cast<const char *>(data), 8);
        data += 8;
        size -= 8;
    }
    in.bytes.append(reinterpret_cast<const char *>(data), size);

    process_rec *p = create_process_from_code("", "decoder", "/t/decoder.lua", "");
    if (!p) std::abort();
    cproc = p;
    lua_State *L = p->lua_state;
    lua_pushcfunction(L, decode);
    lua_pushlightuserdata(L, &in);
    lua_pcall(L, 1, LUA_MULTRET, 0);
    lua_settop(L, 0);
    processes_init();
    return 0;
}
