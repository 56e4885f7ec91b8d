// Typed arrays: f64 matrix products and affine transforms, transposing, and
// single rows and columns of any array.
#include <cstring>

#include "intp.h"
#include "ud_float.h"
#include "ud_methods.h"
#include "ud_ops.h"
#include "vm_hooks.h"

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
    inputs in = scratch_inputs(a, b, out, rows * inner, cols * inner);
    if (!in.ok) return 0;
    if (out) {
        push_chosen(L);
    } else {
        const ud_seen seen_a = ud_see(a), seen_b = ud_see(b);
        out = create_userdata_shaped(L, UTYPE_F64, 2, b->width, a->height, 1);
        if (!out) return 0;
        if (!ud_unchanged(seen_a) || !ud_unchanged(seen_b)) {
            lua_pop(L, 1);
            return 0;
        }
    }
    ud_kernels().matmul(f64_area(out), in.a, in.b, rows, inner, cols);
    ud_charge(int64_t(uint64_t(rows) * uint64_t(inner) * uint64_t(cols) >> 3));
    return 1;
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
    int64_t written;
    if (out == a) {
        const int64_t n = aw < ah ? aw : ah;
        uint8_t tmp[8];
        for (int64_t i = 0; i < n; i++) {
            for (int64_t j = 0; j < i; j++) {
                uint8_t *p = o + (i * aw + j) * size, *q = o + (j * aw + i) * size;
                std::memcpy(tmp, p, size_t(size));
                std::memcpy(p, q, size_t(size));
                std::memcpy(q, tmp, size_t(size));
            }
        }
        written = n * (n - 1);
    } else {
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
        written = ys * xs;
    }
    ud_charge(written / (size == 8 ? 12 : 24));
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
    spend_cpu(int32_t(a->width / 4));
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
    spend_cpu(int32_t(a->height / 2));
    return 1;
}
