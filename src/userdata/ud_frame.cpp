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

extern "C" {
#include "lauxlib.h"
}

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

// The table of one level, built on its first choice: building a level's
// table runs that level's code, so only a level the processor has is built.
const ud_kernel_set *level_table(int level) {
    switch (level) {
    case 2: {
        static const ud_kernel_set avx512 = combined_avx512();
        return &avx512;
    }
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

// CPU divisors by operation and type slot (u8, i16, i32, i64, f64): elements
// charged a cycle, and the weights of the walk's bound. f64 mod is charged
// by mod_f64_cycles instead, and pow by pow_cycles.
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

// Cycles each element of an f64 mod is charged: a remainder takes up to
// eleven squarings modulo the divisor's mantissa, about 120 ns at worst
// (exponents 2,000 apart), against 2 ns for operands of like size. A whole
// budget of the worst case is then a third of a frame.
inline constexpr int64_t mod_f64_cycles = 6;

// Cycles each element of a pow is charged: a libm pow each, 10-20 ns, and
// up to 100 ns for operands far from 1.
inline constexpr int64_t pow_cycles = 4;

// The charge of the elements a walk covered ('total', as the walk sums it).
int64_t elements_charge(ud_op op, int slot, int64_t total) {
    if (op == UD_POW) return total * pow_cycles;
    return op == UD_MOD && slot == 4 ? total * mod_f64_cycles : total / divisor[op][slot];
}

bool needs_b(ud_op op) { return op == UD_ADD || op == UD_SUB || op == UD_MUL || op == UD_POW || op == UD_MAX || op == UD_MIN; }
bool one_operand(ud_op op) { return op == UD_ABS || op == UD_SGN || op == UD_SGN0 || op == UD_COPY; }
bool bitwise(ud_op op) { return op >= UD_BAND && op <= UD_SHR; }

// An integer argument as the frame keeps it: the low 32 bits, signed.
int32_t arg32(lua_State *L, int idx, int32_t def) { return int32_t(uint32_t(uint64_t(kiv_intp(L, idx, def)))); }

int64_t min64(int64_t x, int64_t y) { return x < y ? x : y; }

// What one call of the frame works on, read from its arguments.
struct frame_plan {
    typed_ud_rec *a, *b, *out;  // operands; out null until a fresh copy of a is made
    int a_idx;                  // stack index of a (1, or 2 with the scalar on the left)
    int code, slot;             // element type and its kernel slot
    ud_shape shape;             // operand shape
    double scalar;              // the scalar operand (f64 form)
    int64_t si;                 // the scalar of the integer types
    bool fresh;                 // results go to a fresh copy of a
    int32_t b_offset, offset, count, b_stride, stride, spans;  // positions 4 to 9
};

// Reads the operands and the nine arguments into *p (steps 1 to 7 of the
// frame). False when the frame refuses the call. Reads only: nothing is
// allocated, so the records it returns hold until the next allocation.
bool plan_frame(lua_State *L, ud_op op, frame_plan *p) {
    typed_ud_rec *p1 = to_typed_ud(L, 1);
    typed_ud_rec *p2 = to_typed_ud(L, 2);
    if (!p1 && !p2) return false;
    p->code = ud_type(p1 ? p1 : p2);
    p->slot = ud_type_slot(p->code);
    if (p->slot < 0) return false;
    if (bitwise(op) && p->code == UTYPE_F64) return false;
    const bool b_missing = lua_isnoneornil(L, 2);
    if (needs_b(op) && b_missing) return false;
    if (p1 && p2 && ud_type(p1) != ud_type(p2)) return false;

    p->b = nullptr;
    p->a_idx = 1;
    p->scalar = 0.0;
    if (!p1) {
        p->scalar = lua_tonumberx(L, 1, nullptr);
        p->shape = UD_LEFT;
        p->a = p2;
        p->a_idx = 2;
    } else if (one_operand(op) && b_missing) {
        p->a = p->b = p1;
        p->shape = UD_ARRAY;
    } else if (lua_type(L, 2) == LUA_TNUMBER) {
        p->a = p1;
        p->scalar = lua_tonumber(L, 2);
        p->shape = UD_RIGHT;
    } else if (p2) {
        p->a = p1;
        p->b = p2;
        p->shape = UD_ARRAY;
    } else {
        p->a = p1;
        p->shape = UD_RIGHT;
    }

    typed_ud_rec *a = p->a;
    p->out = to_typed_ud(L, 3);
    p->fresh = !p->out && !lua_toboolean(L, 3);
    if (!p->out && !p->fresh) p->out = a;
    if (p->out && p->out != a &&
        (p->out->width != a->width || p->out->height != a->height || ud_type(p->out) != p->code))
        return false;

    p->b_offset = arg32(L, 4, 0);
    p->offset = arg32(L, 5, 0);
    p->count = arg32(L, 6, 0x1000000);
    p->b_stride = arg32(L, 7, 1);
    p->stride = arg32(L, 8, 1);
    p->spans = arg32(L, 9, 1);

    p->si = 0;
    if (p->code == UTYPE_I64) {
        p->si = trunc_double_to_i64_or_min(p->scalar);
    } else if (p->code != UTYPE_F64) {
        p->si = trunc_double_to_i32_or_min(p->scalar);
    }
    return true;
}

// Element counts of the plan's arrays; out is a (or its fresh copy) until given.
struct frame_lens {
    int64_t a, b, out;
};

frame_lens lens_of(const frame_plan &p) {
    frame_lens n;
    n.a = int64_t(ud_count(p.a));
    n.b = p.b ? int64_t(ud_count(p.b)) : 0;
    n.out = p.out ? int64_t(ud_count(p.out)) : n.a;
    return n;
}

// Span i of the walk: its length n (the least of count and what a, out and b
// hold from its starts, less what negative starts cut off; 0 or less means
// nothing) and its starts in a and out (*start) and in b (*bstart).
int64_t span_at(const frame_plan &p, const frame_lens &len, int64_t i, int64_t *start, int64_t *bstart) {
    const int64_t pos = p.offset + i * p.stride;
    const int64_t bpos = p.b_offset + i * p.b_stride;
    int64_t n = min64(p.count, min64(len.a - pos, len.out - pos));
    if (p.b) n = min64(n, len.b - bpos);
    *start = pos;
    *bstart = bpos;
    if (pos < 0) {
        *start = 0;
        n -= -pos * 2;
    }
    if (p.b && bpos < 0) {
        *bstart = 0;
        n -= -bpos;
    }
    return n;
}

// The number of spans from 0 on, at most 'spans', whose start p0 + i * s
// lies within [lo, hi]; 0 when the first does not.
int64_t spans_within(int64_t p0, int64_t s, int64_t lo, int64_t hi, int64_t spans) {
    if (p0 < lo || p0 > hi) return 0;
    if (s > 0) return min64(spans, (hi - p0) / s + 1);
    if (s < 0) return min64(spans, (p0 - lo) / -s + 1);
    return spans;
}

// The size of a walk, known before anything is written.
struct walk_size {
    int64_t spans;    // spans visited
    int64_t total;    // the sum of every visited span's n, as charged
    int64_t written;  // elements written
};

// The walk in closed form. A span holds count elements exactly when its
// starts are not negative and count elements fit in a, out and b from them;
// the walk visits such spans and stops after the first that is not one. The
// full spans are the first k whose starts stay within those limits, found
// from the strides; the one after them is measured as the walk measures it.
walk_size measure_walk(const frame_plan &p, const frame_lens &len) {
    walk_size w{0, 0, 0};
    if (p.count <= 0 || p.spans <= 0) return w;
    int64_t k = spans_within(p.offset, p.stride, 0, min64(len.a, len.out) - p.count, p.spans);
    if (p.b) k = min64(k, spans_within(p.b_offset, p.b_stride, 0, len.b - p.count, p.spans));
    w.spans = k;
    w.total = w.written = k * p.count;
    if (k < p.spans) {
        int64_t start, bstart;
        const int64_t n = span_at(p, len, k, &start, &bstart);
        w.spans++;
        w.total += n;
        if (n > 0) w.written += n;
    }
    return w;
}

const char *const op_name[UD_OP_COUNT] = {
    "add", "sub", "mul", "div", "idiv", "mod", "pow", "band", "bor", "bxor", "shl", "shr",
    "max", "min", "abs", "sgn", "sgn0", "copy",
};

// Raises the frame's one error when the walk would pass its bound: a walk cut
// short would return a partial result as a complete one.
void check_walk(lua_State *L, ud_op op, const frame_plan &p, const frame_lens &len, const walk_size &w) {
    const int64_t largest = std::max(len.a, std::max(len.b, len.out));
    const int64_t span_bound = std::max(ud_span_passes * largest, ud_walk_floor);
    const int64_t weight = 48 / divisor[op][p.slot];
    const int64_t element_bound = 2 * std::max(ud_walk_passes * largest, ud_walk_floor) / weight;
    if (w.spans <= span_bound && w.written <= element_bound) return;
    luaL_error(L, "%s: the spans ask for %I elements in %I spans, past the bound of %I elements in %I spans",
               op_name[op], lua_Integer(w.written), lua_Integer(w.spans), lua_Integer(element_bound),
               lua_Integer(span_bound));
}

// True when the first span covers all of a: nothing of a copy would survive.
bool covers_a(const frame_plan &p, const frame_lens &len) {
    return p.offset == 0 && p.spans >= 1 && p.count >= len.a &&
           (!p.b || (p.b_offset >= 0 && len.b - p.b_offset >= len.a));
}

}  // namespace

int ud_frame(lua_State *L, ud_op op) {
    // The nine positions, absent ones nil (which every reading treats as
    // absent), so the fresh copy pushed above them leaves them as they were.
    lua_settop(L, 9);
    frame_plan p;
    if (!plan_frame(L, op, &p)) return 0;
    frame_lens len = lens_of(p);
    walk_size w = measure_walk(p, len);
    check_walk(L, op, p, len, w);

    if (p.fresh) {
        // A fresh copy of a whose first span covers it is written directly.
        // Making it may run finalizers that reshape or retype any operand:
        // the plan is read again, and the copy (which takes a's header after
        // the allocation) is completed when a changed.
        const bool whole = covers_a(p, len);
        const typed_ud_rec seen = *p.a;
        typed_ud_rec *made = whole ? push_userdata_for_overwrite(L, p.a) : push_duplicate_userdata(L, p.a);
        frame_plan q;
        if (!plan_frame(L, op, &q) || q.a_idx != p.a_idx || !q.fresh) {
            lua_pop(L, 1);
            return 0;
        }
        q.out = made;
        len = lens_of(q);
        if (whole && (std::memcmp(&seen, q.a, sizeof seen) != 0 || !covers_a(q, len)))
            std::memcpy(ud_elements(made), ud_elements(q.a), size_t(lua_rawlen(L, -1)) - TYPED_UD_HEADER);
        p = q;
        w = measure_walk(p, len);
        check_walk(L, op, p, len, w);
        spend_cpu(int32_t(ud_count(p.a) >> 7));
    } else if (p.out == p.a) {
        lua_pushvalue(L, p.a_idx);
    } else {
        lua_pushvalue(L, 3);
    }

    const ud_span_fn fn = ud_kernels().span[op][p.slot][p.shape];
    const int64_t size = utype_size(p.code);
    uint8_t *const out_area = ud_elements(p.out);
    const uint8_t *const a_area = ud_elements(p.a);
    const uint8_t *const b_area = p.b ? ud_elements(p.b) : nullptr;
    for (int64_t i = 0; i < w.spans; i++) {
        int64_t start, bstart;
        const int64_t n = span_at(p, len, i, &start, &bstart);
        if (n > 0)
            fn(out_area + start * size, a_area + start * size, p.b ? b_area + bstart * size : nullptr, p.si,
               p.scalar, n);
    }
    ud_charge(elements_charge(op, p.slot, w.total) + p.spans / 2);  // a span planned and found, 2 ns or more
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
