// Typed-array operations driven by input bytes, against the plain reference:
// the bytes choose the kernel level, random arrays (types, shapes, values),
// then a run of calls (element-wise operations, copy, take, clear, lerp, the
// vector and matrix methods, transpose, row, column) with edge-heavy
// arguments, aliasing and explicit outputs. Results, return values and
// charges must equal the reference's.
#include <cstdio>
#include <cstdlib>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}
#include "typed_ud.h"
#include "ud_diff.h"
#include "ud_ops.h"

namespace {

void *fuzz_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

// Choices read from the input, little-endian 16 bits at a time; zeros once it ends.
class byte_chooser : public uddiff::chooser {
  public:
    byte_chooser(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    uint32_t next() override {
        uint32_t v = 0;
        for (int i = 0; i < 2 && p_ < end_; i++) v |= uint32_t(*p_++) << (8 * i);
        return v;
    }
    bool done() const { return p_ >= end_; }

  private:
    const uint8_t *p_, *end_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    static lua_State *L = [] {
        lua_State *s = lua_newstate(fuzz_alloc, nullptr);
        add_userdata_metatable_functions(s);
        return s;
    }();
    ud_force_simd_level(data[0] % 3);
    byte_chooser c(data + 1, size - 1);
    c.large_work = false;
    uddiff::runner r(L);
    r.load(uddiff::random_arrays(c));
    for (int i = 0; i < 64 && !c.done(); i++) {
        std::string name;
        std::vector<udref::value> args;
        uddiff::random_call(c, r.state(), name, args);
        std::string err = r.check(name, args);
        if (!err.empty()) {
            std::fprintf(stderr, "%s\n", err.c_str());
            std::abort();
        }
    }
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT);
    return 0;
}
