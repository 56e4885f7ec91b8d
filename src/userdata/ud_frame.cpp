// Typed arrays: the element-wise frame (operands, output, span walk, charge)
// and the choice of kernel level.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "intp.h"
#include "saturate.h"
#include "ud_methods.h"
#include "ud_ops.h"
#include "vm_hooks.h"

/* ---- kernel level ---- */

namespace {

ud_cpu_features processor_features() {
    __builtin_cpu_init();
    ud_cpu_features f;
    f.avx2 = __builtin_cpu_supports("avx2");
    f.bmi2 = __builtin_cpu_supports("bmi2");
    f.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    return f;
}

// The AVX-512 level: the AVX2 loops for the element-wise work that only
// streams through memory, which measured faster here, and the AVX-512 ones
// where work per element dominates (division, remainders, powers, 64-bit
// multiplies and conversions) and for the matrix product.
ud_kernel_set combined_avx512() {
    ud_kernel_set set = ud_kernels_avx2();
    const ud_kernel_set &wide = ud_kernels_avx512();
    for (int shape = 0; shape < UD_SHAPE_COUNT; shape++) {
        set.span[UD_MUL][3][shape] = wide.span[UD_MUL][3][shape];
        for (int slot = 0; slot < 5; slot++)
            for (ud_op op : {UD_DIV, UD_IDIV, UD_MOD, UD_POW}) set.span[op][slot][shape] = wide.span[op][slot][shape];
    }
    set.matmul = wide.matmul;
    return set;
}

const ud_kernel_set *level_table(int level) {
    static const ud_kernel_set avx512 = combined_avx512();
    switch (level) {
    case 2: return &avx512;
    case 1: return &ud_kernels_avx2();
    default: return &ud_kernels_baseline();
    }
}

const ud_kernel_set *chosen = nullptr;

}  // namespace

int ud_simd_level_for(ud_cpu_features f) {
    // Both vector units are built with BMI2 as well: without it, neither runs.
    if (!f.avx2 || !f.bmi2) return 0;
    return f.avx512 ? 2 : 1;
}

int ud_simd_level_available() {
    static const int level = ud_simd_level_for(processor_features());
    return level;
}

const ud_kernel_set &ud_kernels() {
    if (!chosen) chosen = level_table(ud_simd_level_available());
    return *chosen;
}

void ud_force_simd_level(int level) {
    int best = ud_simd_level_available();
    chosen = level_table(level < 0 || level > best ? best : level);
}

void ud_charge(int64_t n) {
    if (n < 0) {
        spend_cpu(-1);
    } else {
        spend_cpu(n > INT32_MAX ? INT32_MAX : int32_t(n));
    }
}

/* ---- the frame ---- */

namespace {

// CPU divisors by operation and type slot (u8, i16, i32, i64, f64).
const int32_t divisor[UD_OP_COUNT][5] = {
    {24, 24, 24, 12, 12},  // add
    {24, 24, 24, 12, 12},  // sub
    {16, 16, 16, 8, 8},    // mul
    {4, 4, 4, 2, 4},       // div
    {4, 4, 4, 2, 4},       // idiv
    {4, 4, 4, 2, 4},       // mod
    {2, 2, 2, 2, 4},       // pow: i64 powers between 2^53 and 2^64 take a libm pow each
    {24, 24, 24, 12, 12},  // band
    {24, 24, 24, 12, 12},  // bor
    {24, 24, 24, 12, 12},  // bxor
    {24, 24, 24, 12, 12},  // shl
    {24, 24, 24, 12, 12},  // shr
    {4, 4, 4, 2, 2},       // max
    {4, 4, 4, 2, 2},       // min
    {4, 4, 4, 2, 2},       // abs
    {4, 4, 4, 2, 2},       // sgn
    {4, 4, 4, 2, 2},       // sgn0
    {24, 24, 24, 12, 12},  // copy
};

bool needs_b(ud_op op) { return op == UD_ADD || op == UD_SUB || op == UD_MUL || op == UD_POW || op == UD_MAX || op == UD_MIN; }
bool one_operand(ud_op op) { return op == UD_ABS || op == UD_SGN || op == UD_SGN0 || op == UD_COPY; }
bool bitwise(ud_op op) { return op >= UD_BAND && op <= UD_SHR; }

// An integer argument as the frame keeps it: the low 32 bits, signed.
int32_t arg32(lua_State *L, int idx, int32_t def) { return int32_t(uint32_t(uint64_t(kiv_intp(L, idx, def)))); }

int64_t min64(int64_t x, int64_t y) { return x < y ? x : y; }

}  // namespace

int ud_frame(lua_State *L, ud_op op) {
    const int nargs = lua_gettop(L);
    typed_ud_rec *p1 = to_typed_ud(L, 1);
    typed_ud_rec *p2 = to_typed_ud(L, 2);
    if (!p1 && !p2) return 0;
    const int code = ud_type(p1 ? p1 : p2);
    const int slot = ud_type_slot(code);
    if (slot < 0) return 0;
    if (bitwise(op) && code == UTYPE_F64) return 0;
    const bool b_missing = nargs < 2 || lua_isnil(L, 2);
    if (needs_b(op) && b_missing) return 0;
    if (p1 && p2 && ud_type(p1) != ud_type(p2)) return 0;

    typed_ud_rec *a, *b = nullptr;
    int a_idx = 1;
    ud_shape shape;
    double scalar = 0.0;
    if (!p1) {
        scalar = lua_tonumberx(L, 1, nullptr);
        shape = UD_LEFT;
        a = p2;
        a_idx = 2;
    } else if (one_operand(op) && b_missing) {
        a = b = p1;
        shape = UD_ARRAY;
    } else if (lua_type(L, 2) == LUA_TNUMBER) {
        a = p1;
        scalar = lua_tonumber(L, 2);
        shape = UD_RIGHT;
    } else if (p2) {
        a = p1;
        b = p2;
        shape = UD_ARRAY;
    } else {
        a = p1;
        shape = UD_RIGHT;
    }

    typed_ud_rec *out = to_typed_ud(L, 3);
    const bool fresh = !out && !lua_toboolean(L, 3);
    if (!out && !fresh) out = a;
    if (out && out != a &&
        (out->width != a->width || out->height != a->height || ud_type(out) != code))
        return 0;

    const int32_t b_offset = arg32(L, 4, 0);
    const int32_t offset = arg32(L, 5, 0);
    const int32_t count = arg32(L, 6, 0x1000000);
    const int32_t b_stride = arg32(L, 7, 1);
    const int32_t stride = arg32(L, 8, 1);
    const int32_t spans = arg32(L, 9, 1);

    int64_t si = 0;
    if (code == UTYPE_I64) {
        si = trunc_double_to_i64_or_min(scalar);
    } else if (code != UTYPE_F64) {
        si = trunc_double_to_i32_or_min(scalar);
    }

    if (fresh) {
        // The first span covers all of a: nothing of the copy would survive,
        // so the new array is written directly. The charge is the copy's.
        const int64_t len = int64_t(ud_count(a));
        const bool whole = offset == 0 && spans >= 1 && count >= len &&
                           (!b || (b_offset >= 0 && int64_t(ud_count(b)) - b_offset >= len));
        out = whole ? push_userdata_for_overwrite(L, a) : push_duplicate_userdata(L, a);
        spend_cpu(int32_t(ud_count(a) >> 7));
    } else if (out == a) {
        lua_pushvalue(L, a_idx);
    } else {
        lua_pushvalue(L, 3);
    }

    const ud_span_fn fn = ud_kernels().span[op][slot][shape];
    const int64_t size = utype_size(code);
    const int64_t len_a = int64_t(ud_count(a));
    const int64_t len_out = int64_t(ud_count(out));
    const int64_t len_b = b ? int64_t(ud_count(b)) : 0;
    uint8_t *const out_area = ud_elements(out);
    const uint8_t *const a_area = ud_elements(a);
    const uint8_t *const b_area = b ? ud_elements(b) : nullptr;
    int64_t total = 0;
    int64_t written = 0;  // elements written, weighted by 48 / D (twice 24 / D, a whole number for every D)
    const int64_t weight = 48 / divisor[op][slot];
    const int64_t span_bound = std::max(ud_span_passes * len_out, ud_walk_floor);
    const int64_t weighted_bound = 2 * std::max(ud_walk_passes * len_out, ud_walk_floor);
    if (count > 0) {
        for (int64_t i = 0; i < spans && i < span_bound; i++) {
            const int64_t pos = offset + i * stride;
            const int64_t bpos = b_offset + i * b_stride;
            int64_t n = min64(count, min64(len_a - pos, len_out - pos));
            if (b) n = min64(n, len_b - bpos);
            int64_t start = pos, bstart = bpos;
            if (pos < 0) {
                start = 0;
                n -= -pos * 2;
            }
            if (b && bpos < 0) {
                bstart = 0;
                n -= -bpos;
            }
            if (n > 0) {
                if (written + n * weight > weighted_bound) break;
                fn(out_area + start * size, a_area + start * size,
                   b ? b_area + bstart * size : nullptr, si, scalar, n);
                written += n * weight;
            }
            total += n;
            if (n < count) break;
        }
    }
    ud_charge(total / divisor[op][slot] + spans / 4);
    return 1;
}

/* ---- the Lua entry points ---- */

int lua54_ud_add(lua_State *L) { return ud_frame(L, UD_ADD); }
int lua54_ud_sub(lua_State *L) { return ud_frame(L, UD_SUB); }
int lua54_ud_mul(lua_State *L) { return ud_frame(L, UD_MUL); }
int lua54_ud_div(lua_State *L) { return ud_frame(L, UD_DIV); }
int lua54_ud_idiv(lua_State *L) { return ud_frame(L, UD_IDIV); }
int lua54_ud_mod(lua_State *L) { return ud_frame(L, UD_MOD); }
int lua54_ud_pow(lua_State *L) { return ud_frame(L, UD_POW); }
int lua54_ud_band(lua_State *L) { return ud_frame(L, UD_BAND); }
int lua54_ud_bor(lua_State *L) { return ud_frame(L, UD_BOR); }
int lua54_ud_bxor(lua_State *L) { return ud_frame(L, UD_BXOR); }
int lua54_ud_shl(lua_State *L) { return ud_frame(L, UD_SHL); }
int lua54_ud_shr(lua_State *L) { return ud_frame(L, UD_SHR); }
int lua54_ud_max(lua_State *L) { return ud_frame(L, UD_MAX); }
int lua54_ud_min(lua_State *L) { return ud_frame(L, UD_MIN); }
int lua54_ud_abs(lua_State *L) { return ud_frame(L, UD_ABS); }
int lua54_ud_sgn(lua_State *L) { return ud_frame(L, UD_SGN); }
int lua54_ud_sgn0(lua_State *L) { return ud_frame(L, UD_SGN0); }

int lua54_ud_copy(lua_State *L) {
    typed_ud_rec *idx = to_typed_ud(L, 2);
    if (idx && ud_type(idx) == UTYPE_I32) return ud_take(L);
    return ud_frame(L, UD_COPY);
}
