// The row sort on arrays built from input bytes (every type, NaN keys
// included): the rows come out a permutation of the rows in, their keys in
// the total order (NaN above every number, -0.0 equal to 0.0; descending the
// exact reverse), and the count returned is at least rows - 1 and is charged,
// with rows of more than one element charged their bytes / 16 and a cycle each.
//
// Input: type, width, height, key column, flags (bit 0 descending), then the
// element bytes (zeros once the input ends).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}
#include "typed_ud.h"
#include "ud_methods.h"
#include "vm_hooks.h"

namespace {

void *fuzz_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

// A key's place in the order: -1, 0 or 1 comparing x with y.
int order(int code, const uint8_t *x, const uint8_t *y) {
    if (code == UTYPE_F64) {
        double a, b;
        std::memcpy(&a, x, 8);
        std::memcpy(&b, y, 8);
        if (std::isnan(a) || std::isnan(b)) return std::isnan(a) - std::isnan(b);
        return (a > b) - (a < b);
    }
    int64_t a = 0, b = 0;
    switch (code) {
    case UTYPE_U8: a = *x; b = *y; break;
    case UTYPE_I16: { int16_t p, q; std::memcpy(&p, x, 2); std::memcpy(&q, y, 2); a = p; b = q; break; }
    case UTYPE_I32: { int32_t p, q; std::memcpy(&p, x, 4); std::memcpy(&q, y, 4); a = p; b = q; break; }
    default: std::memcpy(&a, x, 8); std::memcpy(&b, y, 8); break;
    }
    return (a > b) - (a < b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 5) return 0;
    static lua_State *L = [] {
        lua_State *s = lua_newstate(fuzz_alloc, nullptr);
        add_userdata_metatable_functions(s);
        return s;
    }();
    static const int codes[] = {UTYPE_U8, UTYPE_I16, UTYPE_I32, UTYPE_I64, UTYPE_F64};
    const int code = codes[data[0] % 5];
    const uint32_t w = 1 + data[1] % 9, h = 1 + data[2] % 64;
    const int key = data[3] % 10;
    const bool desc = data[4] & 1;
    typed_ud_rec *rec = create_userdata_shaped(L, code, h > 1 ? 2 : 1, w, h, 1);
    if (!rec) std::abort();
    const size_t bytes = size_t(w) * h * utype_size(code);
    const size_t take = size - 5 < bytes ? size - 5 : bytes;
    std::memcpy(ud_elements(rec), data + 5, take);
    const std::vector<uint8_t> before(ud_elements(rec), ud_elements(rec) + bytes);

    lua_pushcfunction(L, lua54_ud_sort);
    lua_pushvalue(L, 1);
    lua_pushinteger(L, key);
    lua_pushboolean(L, desc);
    cpu_cycles = 0;
    cpu_cycles_max = 0x7fffffff;
    if (lua_pcall(L, 3, LUA_MULTRET, 0) != LUA_OK) std::abort();
    const int64_t charged = cpu_cycles;
    const int64_t row_len = h >= 2 ? w : 1, rows = int64_t(w) * h / row_len;
    const size_t size_el = utype_size(code), row_bytes = size_t(row_len) * size_el;
    const uint8_t *after = ud_elements(rec);
    if (key >= row_len) {
        if (lua_gettop(L) != 1 || charged != 0 || std::memcmp(after, before.data(), bytes) != 0) std::abort();
    } else {
        if (lua_gettop(L) != 2 || !lua_isinteger(L, 2)) std::abort();
        const int64_t n = lua_tointeger(L, 2);
        const int64_t moved = row_len > 1 && rows >= 2 ? rows * int64_t(row_bytes) / 16 + rows : 0;
        if (n < rows - 1 || charged != (n + moved < 1 ? 1 : n + moved)) std::abort();
        std::map<std::vector<uint8_t>, int> count;
        for (int64_t r = 0; r < rows; r++)
            count[std::vector<uint8_t>(before.begin() + r * row_bytes, before.begin() + (r + 1) * row_bytes)]++;
        for (int64_t r = 0; r < rows; r++) {
            auto &k = count[std::vector<uint8_t>(after + r * row_bytes, after + (r + 1) * row_bytes)];
            if (--k < 0) std::abort();
            if (r > 0) {
                int o = order(code, after + (r - 1) * row_bytes + key * size_el, after + r * row_bytes + key * size_el);
                if (desc ? o < 0 : o > 0) std::abort();
            }
        }
    }
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT);
    return 0;
}
