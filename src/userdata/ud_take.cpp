// Typed arrays: gathering runs through an i32 index array, and clearing.
#include <algorithm>
#include <cstring>

#include "host_yield.h"

#include "intp.h"
#include "ud_methods.h"
#include "ud_ops.h"
#include "vm_hooks.h"

extern "C" {
#include "lauxlib.h"
}

namespace {

int32_t arg32(lua_State *L, int idx, int32_t def) { return int32_t(uint32_t(uint64_t(kiv_intp(L, idx, def)))); }

// floor(p / q) and ceil(p / q) for q > 0.
int64_t floor_div(int64_t p, int64_t q) { return p >= 0 ? p / q : -((-p + q - 1) / q); }
int64_t ceil_div(int64_t p, int64_t q) { return -floor_div(-p, q); }

// Copies m elements of 'size' bytes from 'src' to 'dst' in increasing order,
// each stored before the next is read (a run that overlaps ahead of its
// source repeats the source's first elements).
void copy_forward(uint8_t *dst, const uint8_t *src, int64_t m, int64_t size) {
    const int64_t bytes = m * size;
    if (dst <= src || dst >= src + bytes) {
        std::memmove(dst, src, size_t(bytes));
        return;
    }
    // dst lies inside the source run: the run repeats its first 'period'
    // bytes. A one-byte period is a fill; otherwise the first period is
    // copied and then everything written so far, doubling each time.
    const int64_t period = dst - src;
    if (period == 1) {
        std::memset(dst, *src, size_t(bytes));
        return;
    }
    std::memcpy(dst, src, size_t(period < bytes ? period : bytes));
    for (int64_t done = period; done < bytes;) {
        const int64_t chunk = bytes - done < done ? bytes - done : done;
        std::memcpy(dst + done, dst, size_t(chunk));
        done += chunk;
    }
}

// One element of 'size' bytes, in a copy of fixed size.
inline void copy_one(uint8_t *dst, const uint8_t *src, int64_t size) {
    switch (size) {
    case 1: *dst = *src; break;
    case 2: std::memcpy(dst, src, 2); break;
    case 4: std::memcpy(dst, src, 4); break;
    default: std::memcpy(dst, src, 8); break;
    }
}

// Steps first to last of a gather of single elements, index position
// off + i, place out_off + i. Returns the elements copied.
template <class T>
int64_t gather_ones_t(uint8_t *out, const uint8_t *src, const uint8_t *idx, int64_t off, int64_t out_off,
                      int64_t first, int64_t last, int64_t len_src, int64_t len_out) {
    int64_t total = 0;
    for (int64_t i = first; i <= last; i++) {
        int32_t e32;
        std::memcpy(&e32, idx + (off + i) * 4, 4);
        const int64_t e = e32, o = out_off + i;
        if (e >= 0 && e < len_src && o >= 0 && o < len_out) {
            T v;
            std::memcpy(&v, src + e * int64_t(sizeof(T)), sizeof(T));
            std::memcpy(out + o * int64_t(sizeof(T)), &v, sizeof(T));
            total += 1;
        }
    }
    return total;
}

int64_t gather_ones(uint8_t *out, const uint8_t *src, const uint8_t *idx, int64_t size, int64_t off, int64_t out_off,
                    int64_t first, int64_t last, int64_t len_src, int64_t len_out) {
    switch (size) {
    case 1: return gather_ones_t<uint8_t>(out, src, idx, off, out_off, first, last, len_src, len_out);
    case 2: return gather_ones_t<uint16_t>(out, src, idx, off, out_off, first, last, len_src, len_out);
    case 4: return gather_ones_t<uint32_t>(out, src, idx, off, out_off, first, last, len_src, len_out);
    default: return gather_ones_t<uint64_t>(out, src, idx, off, out_off, first, last, len_src, len_out);
    }
}

// The elements step 'i' copies: the least of span and what src and out hold
// from its run's starts, less what negative starts cut off (0 or less: none).
int64_t run_length(int64_t e, int64_t o, int64_t span, int64_t len_src, int64_t len_out) {
    int64_t m = span;
    if (len_src - e < m) m = len_src - e;
    if (len_out - o < m) m = len_out - o;
    if (o < 0) m -= -o;
    if (e < 0) m -= -e;
    return m;
}

// Raises take's one error when steps 'first' to 'last' would write more than
// ud_write_bound elements: a gather cut short would return a partial result
// as a complete one. Each step writes at most the least of span, len(src)
// and len(out); when that bound is passed the runs are counted exactly from
// the index array, unless out is the index array itself (the steps then
// rewrite the indices later steps read), where the bound stands. That count
// is charged as the steps are: half a cycle a step.
void check_writes(lua_State *L, typed_ud_rec *idx, typed_ud_rec *out, int64_t off, int64_t st, int64_t out_offset,
                  int64_t out_stride, int64_t span, int64_t first, int64_t last, int64_t len_src, int64_t len_out) {
    if (last < first) return;
    int64_t most = span < len_src ? span : len_src;
    if (len_out < most) most = len_out;
    if (most < 0) most = 0;
    int64_t writes = (last - first + 1) * most;
    if (writes <= ud_write_bound) return;
    if (idx != out) {
        const uint8_t *idx_area = ud_elements(idx);
        writes = 0;
        for (int64_t i = first; i <= last; i++) {
            int32_t e32;
            std::memcpy(&e32, idx_area + (off + i * st) * 4, 4);
            const int64_t m = run_length(e32, out_offset + i * out_stride, span, len_src, len_out);
            if (m > 0) writes += m;
        }
        if (last - first + 1 >= 2) ud_charge((last - first + 1) / 2);
        if (writes <= ud_write_bound) return;
    }
    luaL_error(L, "take: the steps write up to %I elements, past the bound of %I elements", lua_Integer(writes),
               lua_Integer(ud_write_bound));
}

// Elements of type 'code' a take copies for a cycle.
int64_t take_divisor(int code) { return code == UTYPE_I64 || code == UTYPE_F64 ? 12 : 24; }

// The cycles take charges for 'copied' elements over 'n' steps: a step
// outside an array is walked all the same, so it takes nothing off.
int64_t take_charge_value(int code, int64_t copied, int64_t n) { return copied / take_divisor(code) + n / 2; }

// What ud_charge charges for 'v'.
int64_t charged_for(int64_t v) { return v > 0 ? v : v == 0 ? 1 : 0; }

/*
** A take whose output is not its index array copies the same runs whenever
** it stops between two steps (where each run starts and how long it is come
** from the index array and the arrays' lengths); when its work does not fit
** what is left of the slice's budget, it is made a step at a time and stops
** between two steps when the slice's budget is spent, going on in the next
** slice. What the whole take charges beyond the charge of the elements its
** runs copy (its steps' half cycles) is charged at its start, and each run
** as it is copied.
** Its stack while it runs: the arguments at 1-9, then the output, the next
** step, and the elements copied but not yet charged (fewer than make a
** cycle), all read back and checked at each entry. A forged remainder is
** clamped below a cycle's worth of elements, and each step made in an entry
** is charged there, whatever step the take was told to go on at.
*/
inline constexpr int TK_OUT = 10, TK_NEXT = 11, TK_LEFT = 12;

// The steps of a take, as its arguments and arrays give them now.
struct take_plan {
    typed_ud_rec *src, *idx;
    int code;
    int64_t n, first, last, off, st, out_offset, out_stride, span, size, len_src, len_out;
};

// Reads the take's arguments 1, 2 and 4-9 and the output 'out'. False when
// there is nothing to do (n <= 0) or the arrays do not fit a take.
bool plan_take(lua_State *L, typed_ud_rec *out, take_plan *p) {
    p->n = 0;
    p->src = to_typed_ud(L, 1);
    p->idx = to_typed_ud(L, 2);
    if (!p->src || !p->idx || !out || ud_type(p->idx) != UTYPE_I32) return false;
    p->code = ud_type(p->src);
    if (ud_type_slot(p->code) < 0 || ud_type(out) != p->code) return false;
    const int64_t len_idx = int64_t(ud_count(p->idx));
    const int32_t idx_offset = arg32(L, 4, 0);
    p->out_offset = arg32(L, 5, 0);
    const int32_t span = arg32(L, 6, 1);
    const int32_t idx_stride = arg32(L, 7, 1);
    p->out_stride = arg32(L, 8, span);
    const int32_t idx_count = arg32(L, 9, span == 1 ? int32_t(len_idx) : int32_t(p->idx->width));
    p->span = span;
    // Steps: the unsigned quotient, capped by the unsigned count. A zero
    // stride gives no steps.
    int32_t n = 0;
    if (idx_stride != 0) {
        uint32_t q = (uint32_t(len_idx) - uint32_t(idx_offset)) / uint32_t(idx_stride);
        uint32_t cap = uint32_t(idx_count);
        n = int32_t(q < cap ? q : cap);
    }
    p->n = n;
    if (n <= 0) return false;
    // Only the steps whose index position lies inside idx do anything.
    const int64_t off = idx_offset, st = idx_stride;
    if (st > 0) {
        p->first = ceil_div(-off, st);
        p->last = floor_div(len_idx - 1 - off, st);
    } else {
        p->first = ceil_div(off - (len_idx - 1), -st);
        p->last = floor_div(off, -st);
    }
    if (p->first < 0) p->first = 0;
    if (p->last > int64_t(n) - 1) p->last = int64_t(n) - 1;
    p->off = off;
    p->st = st;
    p->size = utype_size(p->code);
    p->len_src = int64_t(ud_count(p->src));
    p->len_out = int64_t(ud_count(out));
    return true;
}

// Step i of a take: copies its run and returns its length as the take
// counts it (0 or less for a step outside an array).
inline int64_t take_step(const take_plan &p, uint8_t *out_area, const uint8_t *src_area,
                         const uint8_t *idx_area, int64_t i) {
    int32_t e32;
    std::memcpy(&e32, idx_area + (p.off + i * p.st) * 4, 4);
    const int64_t e = e32;
    const int64_t o = p.out_offset + i * p.out_stride;
    int64_t m = p.span;
    if (p.len_src - e < m) m = p.len_src - e;
    if (p.len_out - o < m) m = p.len_out - o;
    int64_t so = o, se = e;
    if (o < 0) {
        m -= -o;
        so = 0;
    }
    if (e < 0) {
        m -= -e;
        se = 0;
    }
    if (m == 1) {
        copy_one(out_area + so * p.size, src_area + se * p.size, p.size);
    } else if (m > 1) {
        copy_forward(out_area + so * p.size, src_area + se * p.size, m, p.size);
    }
    return m;
}

int take_steps(lua_State *L, int, lua_KContext) {
    lua_settop(L, TK_LEFT);
    typed_ud_rec *out = to_typed_ud(L, TK_OUT);
    take_plan p;
    if (!plan_take(L, out, &p) || out == p.idx || !lua_isinteger(L, TK_NEXT)) {
        lua_pushvalue(L, TK_OUT);  // what changed since the last step stops the take there
        return 1;
    }
    const int64_t d = take_divisor(p.code);
    const int64_t kept = lua_isinteger(L, TK_LEFT) ? lua_tointeger(L, TK_LEFT) : 0;
    int64_t left = std::clamp<int64_t>(kept, 0, d - 1);
    int64_t i = lua_tointeger(L, TK_NEXT);
    if (i < p.first) i = p.first;
    // The arrays may have changed since the last step: the steps left keep
    // to the bound as they are now.
    check_writes(L, p.idx, out, p.off, p.st, p.out_offset, p.out_stride, p.span, i, p.last, p.len_src, p.len_out);
    const uint8_t *src_area = ud_elements(p.src), *idx_area = ud_elements(p.idx);
    uint8_t *out_area = ud_elements(out);
    while (i <= p.last) {
        const int64_t m = take_step(p, out_area, src_area, idx_area, i++);
        if (m > 0) {
            left += m;
            if (left >= d) {
                ud_charge(left / d);
                left %= d;
            }
        }
        if (i > p.last) continue;
        const host_kept kept_now[] = {{TK_NEXT, i}, {TK_LEFT, left}};
        host_step_end(L, cpu_cycles, kept_now, 2, 0, take_steps);
    }
    lua_pushvalue(L, TK_OUT);
    return 1;
}

}  // namespace

int ud_take(lua_State *L) {
    typed_ud_rec *src = to_typed_ud(L, 1);
    typed_ud_rec *idx = to_typed_ud(L, 2);
    if (!src || !idx || ud_type(idx) != UTYPE_I32) return 0;
    const int code = ud_type(src);
    if (ud_type_slot(code) < 0) return 0;
    typed_ud_rec *out = to_typed_ud(L, 3);
    if (out && ud_type(out) != code) return 0;
    const bool in_place = !out && lua_toboolean(L, 3);
    if (in_place) out = src;

    // The fresh output's shape; plan_take reads every argument again.
    const int32_t span = arg32(L, 6, 1);
    const int32_t idx_count = arg32(L, 9, span == 1 ? int32_t(ud_count(idx)) : int32_t(idx->width));

    if (out) {
        lua_pushvalue(L, in_place ? 1 : 3);
    } else {
        if (span != 1 && (span <= 0 || idx_count <= 0)) return 0;
        const ud_seen seen_src = ud_see(src), seen_idx = ud_see(idx);
        if (span == 1) {
            out = create_userdata(L, get_utype_string(code), idx->dims, idx->width, idx->height, 1,
                                  nullptr);
        } else {
            out = create_userdata(L, get_utype_string(code), 2, uint32_t(span), uint32_t(idx_count), 1,
                                  nullptr);
        }
        if (!out) return 0;
        if (!ud_unchanged(seen_src) || !ud_unchanged(seen_idx)) {
            lua_pop(L, 1);
            return 0;
        }
    }

    take_plan p;
    if (!plan_take(L, out, &p)) {
        spend_cpu(int32_t(p.n / 2));
        return 1;
    }
    check_writes(L, idx, out, p.off, p.st, p.out_offset, p.out_stride, p.span, p.first, p.last, p.len_src,
                 p.len_out);
    const uint8_t *src_area = ud_elements(src);
    uint8_t *out_area = ud_elements(out);
    const uint8_t *idx_area = ud_elements(idx);
    if (p.span == 1 && p.out_stride == 1 && p.st == 1 && idx_area != out_area) {
        // Single elements from consecutive indices to consecutive places.
        const int64_t copied = gather_ones(out_area, src_area, idx_area, p.size, p.off, p.out_offset, p.first,
                                           p.last, p.len_src, p.len_out);
        ud_charge(take_charge_value(code, copied, p.n));
        return 1;
    }
    if (out != idx && p.last > p.first) {
        // The elements the take's runs copy.
        int64_t copied = 0;
        for (int64_t i = p.first; i <= p.last; i++) {
            int32_t e32;
            std::memcpy(&e32, idx_area + (p.off + i * p.st) * 4, 4);
            const int64_t m = run_length(e32, p.out_offset + i * p.out_stride, p.span, p.len_src, p.len_out);
            if (m > 0) copied += m;
        }
        const int64_t d = take_divisor(code);
        if (int64_t{cpu_cycles} + copied / d + p.n / 2 > cpu_cycles_max) {
            const int64_t first = charged_for(take_charge_value(code, copied, p.n)) - copied / d;
            if (first > 0) ud_charge(first);
            const int t = lua_gettop(L);  // the output
            lua_settop(L, t > TK_OUT ? t : TK_OUT);
            lua_copy(L, t, TK_OUT);
            if (t < TK_OUT) {
                lua_pushnil(L);  // as the absent argument it stands in for
                lua_replace(L, t);
            }
            lua_settop(L, TK_OUT);
            lua_pushinteger(L, p.first);
            lua_pushinteger(L, 0);
            return take_steps(L, LUA_OK, 0);
        }
    }
    int64_t copied = 0;
    for (int64_t i = p.first; i <= p.last; i++) {
        const int64_t m = take_step(p, out_area, src_area, idx_area, i);
        if (m > 0) copied += m;
    }
    ud_charge(take_charge_value(code, copied, p.n));
    return 1;
}

int lua54_ud_take(lua_State *L) { return ud_take(L); }

int lua54_ud_clear(lua_State *L) {
    typed_ud_rec *rec = to_typed_ud(L, 1);
    if (!rec) return 0;
    const uint64_t count = ud_count(rec);
    const uint32_t size = utype_size(ud_type(rec));
    std::memset(ud_elements(rec), 0, size_t(count * size));
    ud_charge(int64_t(count * size * 8 / 512));
    return 0;
}
