// get and set: runs of elements of any typed array, as globals and as the
// arrays' methods.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "api_args.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "lua.hpp"
#include "vm_hooks.h"

namespace {

/* Most values one get returns: the Lua stack's own limit. */
inline constexpr int64_t GET_MAX_RESULTS = 1000000;

/* The dimensions that take coordinates: 1 to 3. */
int coordinate_dims(const typed_ud_rec *a) { return a->dims >= 3 ? 3 : a->dims >= 2 ? 2 : 1; }

/* The element offset of (x, y, z), or -1 outside the array. */
int64_t element_offset(const typed_ud_rec *a, int64_t x, int64_t y, int64_t z) {
    if (x < 0 || y < 0 || z < 0 || x >= a->width || y >= a->height || z >= a->depth) return -1;
    return (z * a->height + y) * int64_t(a->width) + x;
}

template <typename T>
T load(const uint8_t *at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

void push_element(lua_State *L, const typed_ud_rec *a, int64_t i) {
    const uint8_t *e = ud_elements(const_cast<typed_ud_rec *>(a));
    switch (ud_type(a)) {
    case UTYPE_I16: lua_pushinteger(L, load<int16_t>(e + 2 * i)); break;
    case UTYPE_I32: lua_pushinteger(L, load<int32_t>(e + 4 * i)); break;
    case UTYPE_I64: lua_pushinteger(L, load<int64_t>(e + 8 * i)); break;
    case UTYPE_F64: lua_pushnumber(L, load<double>(e + 8 * i)); break;
    default: lua_pushinteger(L, e[i]);
    }
}

void store_element(lua_State *L, typed_ud_rec *a, int64_t i, int arg) {
    uint8_t *e = ud_elements(a);
    if (ud_type(a) == UTYPE_F64) {
        int isnum = 0;
        double v = lua_tonumberx(L, arg, &isnum);
        if (!isnum) v = 0.0;
        std::memcpy(e + 8 * i, &v, 8);
        return;
    }
    const int64_t v = kiv_intp(L, arg, 0);
    const uint32_t size = utype_size(ud_type(a));
    std::memcpy(e + int64_t(size) * i, &v, size);  // the low bytes: little-endian
}

}  // namespace

extern "C" int lua54_get_0(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    if (!a) return 0;
    const int dims = coordinate_dims(a);
    const int64_t x = kiv_intp(L, 2, 0);
    const int64_t y = dims >= 2 ? kiv_intp(L, 3, 0) : 0;
    const int64_t z = dims >= 3 ? kiv_intp(L, 4, 0) : 0;
    const int64_t elements = int64_t(ud_count(a));
    const int64_t count = lua_type(L, 2) == LUA_TNUMBER ? kiv_intp(L, dims + 2, 1) : elements;
    if (count < 0) return 0;
    if (count > GET_MAX_RESULTS || !lua_checkstack(L, int(count) + 1)) {
        std::printf(" ********** too many get() results (%" PRId64 ") stack limit reached **********\n", count);
        std::fflush(stdout);
        spend_cpu(VM_OUTPUT_LINE_CYCLES);
        return 0;
    }
    const int64_t offset = element_offset(a, x, y, z);
    if (offset < 0) {
        lua_pushnumber(L, 0.0);
        return 1;
    }
    const int64_t n = std::min(count, elements - offset);
    for (int64_t i = 0; i < n; i++) push_element(L, a, offset + i);
    for (int64_t i = n; i < count; i++) lua_pushinteger(L, 0);
    charge(count / 2);
    return int(count);
}

extern "C" int lua54_set_0(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    if (!a) return 0;
    const int dims = coordinate_dims(a);
    const int64_t x = api_truncated(L, 2, 0);
    const int64_t y = dims >= 2 ? api_truncated(L, 3, 0) : 0;
    const int64_t z = dims >= 3 ? api_truncated(L, 4, 0) : 0;
    const int64_t offset = element_offset(a, x, y, z);
    if (offset < 0) return 0;
    const int first = dims + 2;
    const int64_t values = std::max(0, lua_gettop(L) - first + 1);
    const int64_t n = std::min(values, int64_t(ud_count(a)) - offset);
    for (int64_t i = 0; i < n; i++) store_element(L, a, offset + i, first + int(i));
    return 0;
}

int lua54_get(lua_State *L) { return lua54_get_0(L); }
int lua54_set(lua_State *L) { return lua54_set_0(L); }
