// Fuzz target for typed-array creation from type names, sizes and init texts.
// Input: flags (bit 0: type text present, bit 1: init text present), dims,
// width and height (16 bits each, little-endian), depth, then the type text
// and the init text separated by a NUL byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

void *fuzz_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

lua_State *state() {
    static lua_State *L = [] {
        lua_State *s = lua_newstate(fuzz_alloc, nullptr);
        add_userdata_metatable_functions(s);
        return s;
    }();
    return L;
}

// A heap copy of [p, p + n) with its NUL and nothing after it.
std::unique_ptr<char[]> exact(const uint8_t *p, size_t n) {
    auto s = std::make_unique<char[]>(n + 1);
    std::memcpy(s.get(), p, n);
    s[n] = 0;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 7) return 0;
    uint8_t flags = data[0];
    int dims = int8_t(data[1]);
    uint32_t w = uint32_t(data[2] | data[3] << 8);
    uint32_t h = uint32_t(data[4] | data[5] << 8);
    uint32_t d = data[6];
    const uint8_t *rest = data + 7;
    size_t n = size - 7;
    const uint8_t *sep = static_cast<const uint8_t *>(std::memchr(rest, 0, n));
    size_t type_len = sep ? size_t(sep - rest) : n;
    auto type_text = exact(rest, type_len);
    auto init_text = exact(sep ? sep + 1 : rest + n, sep ? n - type_len - 1 : 0);

    lua_State *L = state();
    cpu_cycles = 0;
    typed_ud_rec *rec = create_userdata(L, flags & 1 ? type_text.get() : nullptr, dims, w, h, d,
                                        flags & 2 ? init_text.get() : nullptr);
    if (rec) {
        // The new array is a well-formed receiver within the size limit.
        if (lua_gettop(L) != 1 || to_typed_ud(L, 1) != rec) std::abort();
        if (rec->dims != 1 && rec->dims != 2) std::abort();
        uint64_t bytes = ud_count(rec) * utype_size(ud_type(rec));
        if (bytes == 0 || bytes > TYPED_UD_MAX_BYTES) std::abort();
        push_duplicate_userdata(L, rec);
        if (std::memcmp(lua_touserdata(L, -1), rec, TYPED_UD_HEADER + size_t(bytes)) != 0)
            std::abort();
    } else if (lua_gettop(L) != 0) {
        std::abort();
    }
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT);
    return 0;
}
