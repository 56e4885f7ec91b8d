// Typed arrays: f64 matrix products and affine transforms, transposing, and
// single rows and columns of any array.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host_yield.h"
#include "intp.h"
#include "process.h"
#include "slice.h"
#include "ud_float.h"
#include "ud_methods.h"
#include "ud_ops.h"
#include "vm_hooks.h"

extern "C" {
#include "lauxlib.h"
}

namespace {

typed_ud_rec *f64_arg(lua_State *L, int idx) {
    typed_ud_rec *rec = to_typed_ud(L, idx);
    return rec && ud_type(rec) == UTYPE_F64 ? rec : nullptr;
}

double *f64_area(typed_ud_rec *rec) { return reinterpret_cast<double *>(ud_elements(rec)); }

// The output named by position 3: an array there (null in *bad when it is not
// f64), 'a' for another true value, or null for a result still to be made.
typed_ud_rec *chosen_output(lua_State *L, typed_ud_rec *a, bool *bad) {
    typed_ud_rec *out = to_typed_ud(L, 3);
    *bad = out && ud_type(out) != UTYPE_F64;
    if (!out && lua_toboolean(L, 3)) out = a;
    return out;
}

// Pushes the output chosen by chosen_output: position 3's value or position 1's.
void push_chosen(lua_State *L) { lua_pushvalue(L, to_typed_ud(L, 3) ? 3 : 1); }

// The inputs of a product whose output is one of them, read from scratch copies.
struct inputs {
    const double *a, *b;
    bool ok;
};

inputs scratch_inputs(typed_ud_rec *a, typed_ud_rec *b, typed_ud_rec *out, int64_t a_elems,
                      int64_t b_elems) {
    inputs in{f64_area(a), f64_area(b), true};
    if (out == a) {
        in.a = copy_dat(0, in.a, int32_t(a_elems));
        in.ok = in.a != nullptr;
    }
    if (in.ok && out == b) {
        in.b = copy_dat(1, in.b, int32_t(b_elems));
        in.ok = in.b != nullptr;
    }
    return in;
}

// Affine transform of 'rows' rows (a point when 1) by 'b' in 'dim' dimensions.
int affine(lua_State *L, int dim) {
    typed_ud_rec *a = f64_arg(L, 1);
    typed_ud_rec *b = f64_arg(L, 2);
    bool bad;
    typed_ud_rec *out = a && b ? chosen_output(L, a, &bad) : nullptr;
    if (!a || !b || bad) return 0;
    const uint32_t d = uint32_t(dim);
    if (b->width < d || b->height != d + 1 || b->depth != 1) return 0;
    if (a->width < d || (a->height != d + 1 && a->height != 1)) return 0;
    const uint32_t rows = a->height;
    if (out && (out->width < d || out->height < rows)) return 0;
    const int64_t a_elems = rows == 1 ? dim : int64_t(a->width) * rows;
    inputs in = scratch_inputs(a, b, out, a_elems, int64_t(b->width) * (d + 1));
    if (!in.ok) return 0;
    if (out) {
        push_chosen(L);
    } else {
        const ud_seen seen_a = ud_see(a), seen_b = ud_see(b);
        out = push_duplicate_userdata(L, a);
        if (!ud_unchanged(seen_a) || !ud_unchanged(seen_b)) {
            lua_pop(L, 1);
            return 0;
        }
    }
    double *o = f64_area(out);
    const uint32_t aw = a->width, bw = b->width, ow = out->width;
    for (uint32_t r = 0; r < rows; r++) {
        double res[3];
        for (uint32_t c = 0; c < d; c++) {
            double s = 0.0;
            for (uint32_t k = 0; k < d; k++) s = ud_fadd(s, ud_fmul(in.a[r * aw + k], in.b[k * bw + c]));
            if (r == d || rows == 1) s = ud_fadd(s, in.b[d * bw + c]);
            res[c] = s;
        }
        for (uint32_t c = 0; c < d; c++) o[r * ow + c] = res[c];
    }
    spend_cpu(int32_t(rows == 1 ? 1 : dim == 3 ? 4 : 2));
    return 1;
}

int64_t arg_index(lua_State *L) { return kiv_intp(L, 2, -1); }

/*
** A product is made a band of rows at a time, each band charged as it is
** made (the charge so far is always the whole product's charge for the rows
** made so far), and stops between two bands when the slice's budget is
** spent, going on in the next slice. Row y of the output reads only row y of
** a, so in place in a each band reads a copy of its own rows of a, made and
** freed within the band. Every row reads all of b, so in place in b the
** product reads a whole copy of b made at its start (a's rows too when a is
** b): a typed array held on its stack, counted in the process's memory, or
** where that would pass the process's memory limit, the process's held
** copy, outside it, for which its stack holds a userdata of its own. Its
** stack while it runs: a, b, the out argument, the output array, the next
** row as an integer, and the copy of b, its holder, or nil, all read back
** and checked at each entry.
*/
inline constexpr int MM_OUTPUT = 4, MM_NEXT_ROW = 5, MM_B_COPY = 6;

// The held copy 'holder' stands for, 'bytes' long, or null.
const double *held_copy_of(lua_State *L, int holder, int64_t bytes) {
    if (!cproc || !cproc->held_copy || lua_type(L, holder) != LUA_TUSERDATA) return nullptr;
    if (cproc->held_copy_holder != lua_touserdata(L, holder) || cproc->held_copy_bytes != uint64_t(bytes))
        return nullptr;
    return static_cast<const double *>(cproc->held_copy);
}

// The close and collect metamethod of a held copy's holder: frees the copy
// it stands for, in whichever process holds it.
int release_holder(lua_State *L) {
    if (lua_type(L, 1) != LUA_TUSERDATA) return 0;
    const void *holder = lua_touserdata(L, 1);
    for (int32_t i = 0; i < num_processes; i++) {
        process_rec *rec = process[i];
        if (rec && rec->held_copy && rec->held_copy_holder == holder) release_held_copy(rec);
    }
    return 0;
}

// Pushes a fresh holder: an empty userdata, closed and collected by
// release_holder. Allocates.
void push_holder(lua_State *L) {
    lua_newuserdatauv(L, 0, 0);
    lua_createtable(L, 0, 2);
    lua_pushcfunction(L, release_holder);
    lua_setfield(L, -2, "__close");
    lua_pushcfunction(L, release_holder);
    lua_setfield(L, -2, "__gc");
    lua_setmetatable(L, -2);
}

/*
** The columns of b a product is charged for: the kernels run over blocks of
** up to 16 columns, zero-padded, at the same cost whatever part of a block
** is used, so a product with a narrow b (a matrix times a vector, the dot
** product of two long vectors) is charged as 16 columns wide.
*/
int64_t charged_cols(int64_t cols) { return (cols + 15) & ~int64_t(15); }

/* The product's charge for its first 'rows' rows. */
int64_t rows_charge(int64_t rows, int64_t inner, int64_t cols) {
    const int64_t n = int64_t(uint64_t(rows) * uint64_t(inner) * uint64_t(charged_cols(cols)) >> 3);
    return n < 1 ? 1 : n;  // spend_cpu counts a charge of 0 as 1
}

int matmul_rows(lua_State *L, int, lua_KContext) {
    lua_settop(L, MM_B_COPY);
    typed_ud_rec *a = f64_arg(L, 1), *b = f64_arg(L, 2), *out = f64_arg(L, MM_OUTPUT);
    typed_ud_rec *b_copy = f64_arg(L, MM_B_COPY);
    const double *held = a && b && !b_copy ? held_copy_of(L, MM_B_COPY, int64_t(b->width) * b->height * 8) : nullptr;
    int64_t y = lua_isinteger(L, MM_NEXT_ROW) ? lua_tointeger(L, MM_NEXT_ROW) : -1;
    const bool fits = a && b && out && a->width == b->height && out->width == b->width &&
                      out->height == a->height && out->depth == 1 &&
                      (b_copy ? out == b && b_copy->width == b->width && b_copy->height == b->height
                       : held ? out == b
                              : out != b && lua_isnil(L, MM_B_COPY));
    const int64_t rows = fits ? a->height : 0, inner = fits ? a->width : 0, cols = fits ? b->width : 0;
    if (y < 0 || y > rows) y = rows;  // what changed since the last row stops the product there
    const int64_t row_charge = std::max<int64_t>(1, (inner * charged_cols(cols)) >> 3);
    while (y < rows) {
        // The rows that fit what is left of the budget (of the watchdog's
        // margin where the call cannot yield), and one more.
        int64_t left = int64_t{cpu_cycles_max} - cpu_cycles;
        if (!lua_isyieldable(L)) left += VM_WATCHDOG_MARGIN;
        int64_t band = std::clamp<int64_t>(left / row_charge + 1, 1, rows - y);
        const double *b_area = held ? held : f64_area(b_copy ? b_copy : b);
        const double *a_rows = (a == b && (b_copy || held) ? b_area : f64_area(a)) + y * inner;
        double *copy = nullptr;
        if (out == a && !b_copy && !held) {
            copy = static_cast<double *>(std::malloc(size_t(band * inner) * 8));
            if (!copy) {
                band = 1;
                copy = static_cast<double *>(std::malloc(size_t(inner) * 8));
            }
            if (!copy) break;  // the host is out of memory: the product stops here
            std::memcpy(copy, a_rows, size_t(band * inner) * 8);
            a_rows = copy;
        }
        ud_kernels().matmul(f64_area(out) + y * cols, a_rows, b_area, band, inner, cols);
        std::free(copy);
        const int64_t charged = y ? rows_charge(y, inner, cols) : 0;
        y += band;
        if (const int64_t due = rows_charge(y, inner, cols) - charged; due > 0) ud_charge(due);
        if (y >= rows) continue;
        const host_kept kept[] = {{MM_NEXT_ROW, y}};
        host_step_end(L, cpu_cycles, kept, 1, 0, matmul_rows);
    }
    if (held) release_held_copy(cproc);  // the product is over: so is its copy
    lua_pushvalue(L, MM_OUTPUT);
    return 1;
}

/*
** A transpose in place swaps each pair of elements of the leading square
** once, a band of rows of its lower triangle at a time, each band charged
** as it is swapped, from its first and last rows (the charge so far is
** always the whole transpose's charge for the rows swapped so far); it
** stops between two bands when the slice's budget is spent, going on in the
** next slice. Its stack while it runs: the two arguments, the array and the
** next row, all read back and checked at each entry.
*/
inline constexpr int TR_ARRAY = 3, TR_NEXT_ROW = 4;

/* Elements a transpose writes for a cycle: it reads one side of the array
   across its rows, a cache line an element when the array is large. */
int64_t transpose_divisor(int64_t size) { return size == 8 ? 2 : 4; }

/* The transpose's charge for swapping the first 'rows' rows. */
int64_t swaps_charge(int64_t rows, int64_t size) { return rows * (rows - 1) / transpose_divisor(size); }

int transpose_rows(lua_State *L, int, lua_KContext) {
    lua_settop(L, TR_NEXT_ROW);
    typed_ud_rec *a = to_typed_ud(L, TR_ARRAY);
    const bool ok = a && ud_type_slot(ud_type(a)) >= 0 && lua_isinteger(L, TR_NEXT_ROW);
    const int64_t aw = ok ? a->width : 0, ah = ok ? a->height : 0, n = aw < ah ? aw : ah;
    const int64_t size = ok ? utype_size(ud_type(a)) : 1;
    int64_t i = ok ? lua_tointeger(L, TR_NEXT_ROW) : n;
    if (i < 0 || i > n) i = n;  // what changed since the last band stops the transpose there
    uint8_t *o = ok ? ud_elements(a) : nullptr;
    // A band of rows at a time, in tiles that keep both sides of each swap
    // in cache; each pair is swapped once whatever the order.
    constexpr int64_t tile = 32;
    while (i < n) {
        const int64_t end = std::min(n, i + tile);
        for (int64_t j0 = 0; j0 < end; j0 += tile) {
            for (int64_t r = i; r < end; r++) {
                const int64_t j1 = std::min(j0 + tile, r);
                for (int64_t j = j0; j < j1; j++) {
                    uint8_t tmp[8];
                    uint8_t *p = o + (r * aw + j) * size, *q = o + (j * aw + r) * size;
                    std::memcpy(tmp, p, size_t(size));
                    std::memcpy(p, q, size_t(size));
                    std::memcpy(q, tmp, size_t(size));
                }
            }
        }
        if (const int64_t due = swaps_charge(end, size) - swaps_charge(i, size); due > 0) ud_charge(due);
        i = end;
        if (i >= n) continue;
        const host_kept kept[] = {{TR_NEXT_ROW, i}};
        host_step_end(L, cpu_cycles, kept, 1, 0, transpose_rows);
    }
    lua_pushvalue(L, TR_ARRAY);
    return 1;
}

}  // namespace

int lua54_ud_matmul(lua_State *L) {
    typed_ud_rec *a = f64_arg(L, 1);
    typed_ud_rec *b = f64_arg(L, 2);
    bool bad;
    typed_ud_rec *out = a && b ? chosen_output(L, a, &bad) : nullptr;
    if (!a || !b || bad) return 0;
    if (a->width != b->height) return 0;
    if (out && (out->width != b->width || out->height != a->height || out->depth != 1)) return 0;
    const int64_t rows = a->height, inner = a->width, cols = b->width;
    if (out != b) {
        lua_settop(L, 3);
        if (out) {
            push_chosen(L);
        } else {
            // A finalizer run by the allocation may reshape a or b: the
            // product is refused rather than made for shapes no longer there.
            const ud_seen seen_a = ud_see(a), seen_b = ud_see(b);
            if (!create_userdata_shaped(L, UTYPE_F64, 2, b->width, a->height, 1)) return 0;
            if (!ud_unchanged(seen_a) || !ud_unchanged(seen_b)) return 0;
        }
        if (out == a) spend_cpu(int32_t(rows * inner) >> 8);  // what the copy of a charges
        lua_pushinteger(L, 0);
        lua_pushnil(L);
        return matmul_rows(L, LUA_OK, 0);
    }
    // The output is b, which every row reads: the product reads a copy of b
    // held on its stack, counted in the process's memory while the product
    // lasts. Where that copy would take the process past its memory limit,
    // the product reads the process's held copy, outside it, of which a
    // process has one at most: while another product's copy is held (after
    // a collection, which frees the copy of a product dropped with its
    // coroutine), this one raises an error. Where the host has no memory for
    // it, the product reads the scratch copies, which the process shares
    // with every other, and is made in one piece.
    const int64_t b_bytes = cols * inner * 8;
    lua_settop(L, 3);
    const ud_seen seen_a = ud_see(a), seen_b = ud_see(b);
    bool in_memory = !cproc || memory_figure(cproc) + b_bytes + 4096 <= MEMORY_LIMIT;
    if (!in_memory && cproc->held_copy) {
        lua_gc(L, LUA_GCCOLLECT);  // runs finalizers
        if (!ud_unchanged(seen_a) || !ud_unchanged(seen_b)) return 0;
        in_memory = memory_figure(cproc) + b_bytes + 4096 <= MEMORY_LIMIT;
        if (!in_memory && cproc->held_copy)
            return luaL_error(L, "matmul: the process already holds the copy of another product made in place");
    }
    push_chosen(L);
    if (in_memory) {
        push_duplicate_userdata(L, b);
    } else {
        push_holder(L);
    }
    // Finalizers run by the allocation may have reshaped a or b, or taken a
    // held copy of their own.
    if (!ud_unchanged(seen_a) || !ud_unchanged(seen_b)) return 0;
    if (!in_memory) {
        void *copy = cproc->held_copy ? nullptr : std::malloc(size_t(b_bytes));
        if (!copy) {
            lua_settop(L, 3);
            inputs in = scratch_inputs(a, b, out, rows * inner, cols * inner);
            if (!in.ok) return 0;
            push_chosen(L);
            ud_kernels().matmul(f64_area(out), in.a, in.b, rows, inner, cols);
            ud_charge(rows_charge(rows, inner, cols));
            return 1;
        }
        std::memcpy(copy, f64_area(b), size_t(b_bytes));
        cproc->held_copy = copy;
        cproc->held_copy_holder = lua_touserdata(L, -1);
        cproc->held_copy_bytes = uint64_t(b_bytes);
    }
    // What the copies of a (when a is b) and of b charge.
    if (out == a) spend_cpu(int32_t(rows * inner) >> 8);
    spend_cpu(int32_t(cols * inner) >> 8);
    lua_pushinteger(L, 0);
    lua_insert(L, MM_NEXT_ROW);
    // The holder is closed when the product returns, raises or is closed
    // with its coroutine.
    if (!in_memory) lua_toclose(L, MM_B_COPY);
    return matmul_rows(L, LUA_OK, 0);
}

int lua54_ud_matmul3d(lua_State *L) { return affine(L, 3); }
int lua54_ud_matmul2d(lua_State *L) { return affine(L, 2); }

int lua54_ud_transpose(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    if (!a) return 0;
    const int code = ud_type(a);
    typed_ud_rec *out = to_typed_ud(L, 2);
    if (out) {
        lua_pushvalue(L, 2);
    } else if (lua_toboolean(L, 2)) {
        out = a;
        lua_pushvalue(L, 1);
    } else {
        const ud_seen seen = ud_see(a);
        out = create_userdata_shaped(L, code, 2, a->height, a->width, 1);
        if (!out) return 0;
        if (!ud_unchanged(seen)) {
            lua_pop(L, 1);
            return 0;
        }
    }
    if (ud_type_slot(code) < 0) return 1;
    if (ud_type(out) != code) return 0;
    const int64_t size = utype_size(code);
    uint8_t *o = ud_elements(out);
    const uint8_t *s = ud_elements(a);
    const int64_t aw = a->width, ah = a->height;
    if (out == a) {
        // What a transpose that swaps nothing charges.
        if (swaps_charge(aw < ah ? aw : ah, size) == 0) ud_charge(0);
        lua_settop(L, 2);
        lua_pushvalue(L, 1);
        lua_pushinteger(L, 0);
        return transpose_rows(L, LUA_OK, 0);
    }
    const int64_t ow = out->width;
    const int64_t ys = out->height < aw ? out->height : aw;
    const int64_t xs = ow < ah ? ow : ah;
    // Tiles keep both the rows read and the rows written in cache.
    constexpr int64_t tile = 32;
    for (int64_t y0 = 0; y0 < ys; y0 += tile)
        for (int64_t x0 = 0; x0 < xs; x0 += tile)
            for (int64_t y = y0; y < y0 + tile && y < ys; y++)
                for (int64_t x = x0; x < x0 + tile && x < xs; x++)
                    std::memcpy(o + (y * ow + x) * size, s + (x * aw + y) * size, size_t(size));
    ud_charge(ys * xs / transpose_divisor(size));
    return 1;
}

int lua54_ud_row(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    if (!a) return 0;
    const int64_t i = arg_index(L);
    if (i < 0 || i >= int64_t(a->height)) return 0;
    const ud_seen seen = ud_see(a);
    typed_ud_rec *r = create_userdata_shaped(L, ud_type(a), 2, a->width, 1, 1);
    if (!r) return 0;
    if (!ud_unchanged(seen)) {
        lua_pop(L, 1);
        return 0;
    }
    const size_t bytes = size_t(a->width) * utype_size(ud_type(a));
    std::memcpy(ud_elements(r), ud_elements(a) + size_t(i) * bytes, bytes);
    // Four elements a cycle, or 8 bytes a cycle for elements wider than 2 bytes.
    spend_cpu(int32_t(std::max<size_t>(a->width / 4, bytes / 8)));
    return 1;
}

int lua54_ud_column(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    if (!a) return 0;
    const int64_t i = arg_index(L);
    if (i < 0 || i >= int64_t(a->width)) return 0;
    const ud_seen seen = ud_see(a);
    typed_ud_rec *c = create_userdata_shaped(L, ud_type(a), 2, 1, a->height, 1);
    if (!c) return 0;
    if (!ud_unchanged(seen)) {
        lua_pop(L, 1);
        return 0;
    }
    const size_t size = utype_size(ud_type(a));
    for (uint32_t y = 0; y < a->height; y++)
        std::memcpy(ud_elements(c) + y * size, ud_elements(a) + (size_t(y) * a->width + size_t(i)) * size, size);
    // A cycle an element: each read lies a row from the one before, often
    // in another page.
    spend_cpu(int32_t(a->height));
    return 1;
}
