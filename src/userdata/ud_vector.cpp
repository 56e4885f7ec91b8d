// Typed arrays: interpolation along runs, and f64 arrays as vectors.
#include <algorithm>
#include <cmath>

#include "intp.h"
#include "saturate.h"
#include "ud_elem.h"
#include "ud_float.h"
#include "ud_methods.h"
#include "ud_ops.h"
#include "vm_hooks.h"

extern "C" {
#include "lauxlib.h"
}

namespace {

// The array at position 'idx' when it is an f64 array, else null.
typed_ud_rec *f64_arg(lua_State *L, int idx) {
    typed_ud_rec *rec = to_typed_ud(L, idx);
    return rec && ud_type(rec) == UTYPE_F64 ? rec : nullptr;
}

const double *f64_area(typed_ud_rec *rec) { return reinterpret_cast<const double *>(ud_elements(rec)); }

}  // namespace

int lua54_ud_lerp(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    if (!a) return 0;
    const int code = ud_type(a);
    const int64_t offset = kiv_intp(L, 2, 0);
    const int64_t len = kiv_intp(L, 3, int64_t(a->width) - 1);
    const int64_t el_stride = kiv_intp(L, 4, 1);
    const int64_t runs = kiv_intp(L, 5, a->height);
    const int64_t run_stride = kiv_intp(L, 6, a->width);
    if (len < 1 || runs < 1 || run_stride < 1 || el_stride < 1 || offset < 0) return 0;
    const __int128 last = (__int128)(runs - 1) * run_stride + (__int128)len * el_stride + offset;
    if (last >= (__int128)ud_count(a)) return 0;
    // Interiors that overlap can ask for far more work than the array holds:
    // beyond the bound the call raises rather than return part of the runs.
    const __int128 interior = (__int128)runs * (len - 1);
    const int64_t bound = std::max(ud_span_passes * int64_t(ud_count(a)), ud_walk_floor);
    if (interior > bound)
        luaL_error(L, "lerp: the runs ask for %I elements, past the bound of %I elements",
                   lua_Integer(interior), lua_Integer(bound));
    lua_pushvalue(L, 1);
    ud_charge(int64_t(interior / 4));
    if (len == 1 || ud_type_slot(code) < 0) return 1;
    uint8_t *area = ud_elements(a);
    const double dlen = double(len);
    for (int64_t r = 0; r < runs; r++) {
        const int64_t p = offset + r * run_stride;
        const int64_t q = p + len * el_stride;
        if (code == UTYPE_F64) {
            const double f = ud_read_f64(area, uint64_t(p));
            const double d = ud_fsub(ud_read_f64(area, uint64_t(q)), f);
            for (int64_t j = 1; j < len; j++) ud_write_f64(area, uint64_t(p + j * el_stride), ud_fadd(ud_fdiv(ud_fmul(d, double(j)), dlen), f));
        } else {
            const int64_t fi = ud_read_int(area, code, uint64_t(p));
            const double d = double((__int128)ud_read_int(area, code, uint64_t(q)) - fi);
            const double f = double(fi);
            for (int64_t j = 1; j < len; j++)
                ud_write_int(area, code, uint64_t(p + j * el_stride), saturate_double_to_i64(d * double(j) / dlen + f));
        }
    }
    return 1;
}

int lua54_ud_magnitude(lua_State *L) {
    typed_ud_rec *a = f64_arg(L, 1);
    if (!a) return 0;
    const double *v = f64_area(a);
    double sum = 0.0;
    for (uint32_t k = 0; k < a->width; k++) sum = ud_fadd(sum, ud_fmul(v[k], v[k]));
    lua_pushnumber(L, std::sqrt(sum));
    spend_cpu(int32_t(a->width / 4 + 2));
    return 1;
}

int lua54_ud_distance(lua_State *L) {
    typed_ud_rec *a = f64_arg(L, 1);
    typed_ud_rec *b = f64_arg(L, 2);
    if (!a || !b) return 0;
    const uint32_t n = a->width < b->width ? a->width : b->width;
    const double *x = f64_area(a), *y = f64_area(b);
    double sum = 0.0;
    for (uint32_t k = 0; k < n; k++) {
        const float d = float(ud_fsub(x[k], y[k]));
        const float sq = d * d;
        sum = ud_fadd(sum, double(sq));
    }
    lua_pushnumber(L, std::sqrt(sum));
    spend_cpu(int32_t(n / 4 + 2));  // each difference narrowed and widened again
    return 1;
}

int lua54_ud_dot(lua_State *L) {
    typed_ud_rec *a = f64_arg(L, 1);
    typed_ud_rec *b = f64_arg(L, 2);
    if (!a || !b) return 0;
    const uint32_t n = a->width < b->width ? a->width : b->width;
    const double *x = f64_area(a), *y = f64_area(b);
    double sum = 0.0;
    for (uint32_t k = 0; k < n; k++) sum = ud_fadd(sum, ud_fmul(x[k], y[k]));
    lua_pushnumber(L, sum);
    spend_cpu(int32_t(n / 4 + 1));
    return 1;
}

int lua54_ud_cross(lua_State *L) {
    typed_ud_rec *a = f64_arg(L, 1);
    typed_ud_rec *b = f64_arg(L, 2);
    if (!a || !b) return 0;
    typed_ud_rec *out = to_typed_ud(L, 3);
    if (out && ud_type(out) != UTYPE_F64) return 0;
    if (!out && lua_toboolean(L, 3)) out = a;
    int64_t copied = 0;  // a copy of b, all of it: 32 bytes a cycle besides its making
    if (!out) {
        out = push_duplicate_userdata(L, b);
        copied = int64_t(std::min<uint64_t>(ud_count(b) * 8 / 32, INT32_MAX / 2));
    }
    if (a->width < 3 || b->width < 3 || out->width < 3) return 0;
    if (out == a && !to_typed_ud(L, 3)) {
        lua_pushvalue(L, 1);
    } else if (to_typed_ud(L, 3)) {
        lua_pushvalue(L, 3);
    }
    const double *x = f64_area(a), *y = f64_area(b);
    const double a0 = x[0], a1 = x[1], a2 = x[2], b0 = y[0], b1 = y[1], b2 = y[2];
    double *o = reinterpret_cast<double *>(ud_elements(out));
    o[0] = ud_fsub(ud_fmul(a1, b2), ud_fmul(a2, b1));
    o[1] = ud_fsub(ud_fmul(a2, b0), ud_fmul(a0, b2));
    o[2] = ud_fsub(ud_fmul(a0, b1), ud_fmul(a1, b0));
    spend_cpu(int32_t(2 + copied));
    return 1;
}
