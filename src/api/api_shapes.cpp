// The shape calls: cls, pset, pget, rectfill, rect, ovalfill, circfill,
// oval, circ, rrect, rrectfill and line, with the batch forms of pset,
// rectfill and circfill.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "api_batch.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "lua.hpp"
#include "saturate.h"
#include "shapes.h"

namespace {

/* Argument i minus the camera offset, saturated for the rasteriser. */
int32_t screen(lua_State *L, int i, int32_t camera, int64_t def = 0) {
    return sat32(sub64(kiv_intp(L, i, def), camera));
}

/* A batch coordinate: floored, the camera taken off in doubles, saturated
   to 32 bits. Values in range convert here, the rest (and NaN) through the
   saturating conversion: the in-range test inline keeps pset batches at
   the speed of a plain loop. */
inline int32_t batch_coord(double v, int32_t camera) {
    const double d = std::floor(v) - double(camera);
    if (d >= -2147483648.0 && d < 2147483647.0) return int32_t(d);
    return saturate_double_to_i32(d);
}

/* A batch integer field, floored; values far inside the 64-bit range
   convert here. */
inline int64_t batch_int(double v) {
    if (v >= -0x1p52 && v < 0x1p52) return int64_t(std::floor(v));
    return floor_double_to_i64_or_min(v);
}

/* rectfill of the single form and of each batch record: inverted while the
   process's inverted fill is set. */
int64_t fill_box(typed_ud_rec *t, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int32_t c) {
    if (!cproc->inverted_fill) return rectfill(t, sat32(x0), sat32(y0), sat32(x1), sat32(y1), c);
    const int64_t W = t->width, H = t->height;
    int64_t cost = rectfill(t, -1, -1, sat32(W), sat32(y0 - 1), c);
    cost += rectfill(t, -1, sat32(y1 + 1), sat32(W), sat32(H), c);
    cost += rectfill(t, -1, sat32(y0), sat32(x0 - 1), sat32(y1), c);
    cost += rectfill(t, sat32(x1 + 1), sat32(y0), sat32(W), sat32(y1), c);
    return cost;
}

/* circfill of the single form and of each batch record. */
int64_t fill_circle(typed_ud_rec *t, int64_t cx, int64_t cy, int64_t r, int32_t c) {
    if (r < 0) {
        if (!cproc->inverted_fill) return 0;
        return rectfill(t, 0, 0, sat32(int64_t(t->width) - 1), sat32(int64_t(t->height) - 1), c);
    }
    return draw_filloval(t, sat32(sub64(cx, r)), sat32(sub64(cy, r)), sat32(add64(cx, r)), sat32(add64(cy, r)), c);
}

/* The whole-target fill of an inverted shape with no inside. */
int64_t fill_all(typed_ud_rec *t, int32_t c) {
    return rectfill(t, 0, 0, sat32(int64_t(t->width) - 1), sat32(int64_t(t->height) - 1), c);
}

/* ---- batch records ---- */

/*
** Up to n pset records as one run: each puts its pixel in its colour (field
** 2) or the pen, and a colour field sets the pen, as pset does; the pen is
** set only when a record's colour differs from the one before it (setting
** it again would change nothing). Returns the records drawn.
*/
int64_t pset_run(typed_ud_rec *t, batch_reader &b, int64_t n, const batch_fixed &f) {
    int64_t drawn = 0;
    const double *r;
    if (b.fields < 3) {
        for (; drawn < n && b.next(&r); drawn++)
            putpixel(t, batch_coord(b.field(r, 0, 0), f.camera_x), batch_coord(b.field(r, 1, 0), f.camera_y),
                     int32_t(f.pen));
        return drawn;
    }
    int64_t colour = 0;
    for (; drawn < n && b.next(&r); drawn++) {
        const int64_t c = batch_int(r[2]);
        if (drawn == 0 || c != colour) set_colp(c);
        colour = c;
        putpixel(t, batch_coord(r[0], f.camera_x), batch_coord(r[1], f.camera_y), int32_t(colour));
    }
    return drawn;
}

int64_t rectfill_record(typed_ud_rec *t, const batch_reader &b, const double *r, const batch_fixed &f) {
    cproc->inverted_fill = 0;
    const int64_t colour = b.fields >= 5 ? batch_int(r[4]) : f.pen;
    set_colp(colour);
    return fill_box(t, batch_coord(b.field(r, 0, 0), f.camera_x), batch_coord(b.field(r, 1, 0), f.camera_y),
                    batch_coord(b.field(r, 2, 0), f.camera_x), batch_coord(b.field(r, 3, 0), f.camera_y),
                    int32_t(colour));
}

int64_t circfill_record(typed_ud_rec *t, const batch_reader &b, const double *r, const batch_fixed &f) {
    cproc->inverted_fill = 0;
    const int64_t colour = b.fields >= 4 ? batch_int(r[3]) : f.pen;
    set_colp(colour);
    const int64_t radius = b.fields >= 3 ? batch_int(r[2]) : 4;
    return fill_circle(t, batch_coord(b.field(r, 0, 0), f.camera_x), batch_coord(b.field(r, 1, 0), f.camera_y),
                       radius, int32_t(colour));
}

// pset draws through putpixel, which uses the masks loaded beforehand; its
// records cost nothing beyond their 3 cycles, and are drawn in runs.
constexpr batch_rule PSET_BATCH = {3, 3, 3, nullptr, get_masks_shape, false, pset_run};
constexpr batch_rule RECTFILL_BATCH = {5, 3, 3, rectfill_record, nullptr, false, nullptr};
constexpr batch_rule CIRCFILL_BATCH = {4, 4, 3, circfill_record, nullptr, false, nullptr};

}  // namespace

int lua54_cls(lua_State *L) {
    typed_ud_rec *t = cproc ? cproc->draw_target : nullptr;
    if (!t) return 0;
    const uint64_t n = uint64_t(t->width) * t->height;
    std::memset(ud_elements(t), int(uint8_t(kiv_intp(L, 1, 0))), size_t(n));
    reg_write(cproc, REG_CURSOR_X, 0, 8, false);
    charge(int64_t(n >> 6));
    return 0;
}

int lua54_pset(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    get_masks_shape();
    const int32_t cx = camera_x(), cy = camera_y();
    if (batch_array(L)) return run_batch(L, &PSET_BATCH, pen());
    if (lua_gettop(L) < 2) return 0;
    const int32_t x = screen(L, 1, cx), y = screen(L, 2, cy);
    putpixel(t, x, y, colp(L, 3));
    return 0;
}

int lua54_pget(lua_State *L) {
    typed_ud_rec *t = cproc ? cproc->draw_target : nullptr;
    if (!t || lua_gettop(L) < 2) return 0;
    lua_pushinteger(L, getpixel(t, screen(L, 1, camera_x()), screen(L, 2, camera_y())));
    return 1;
}

int lua54_rectfill(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    const int32_t cx = camera_x(), cy = camera_y();
    // The pen is applied as a colour argument to records without one: no bit above 15.
    if (batch_array(L)) return run_batch(L, &RECTFILL_BATCH, pen() & 0xFFFF);
    if (lua_gettop(L) < 4) return 0;
    const int64_t x0 = sub64(kiv_intp(L, 1, 0), cx), y0 = sub64(kiv_intp(L, 2, 0), cy);
    const int64_t x1 = sub64(kiv_intp(L, 3, 0), cx), y1 = sub64(kiv_intp(L, 4, 0), cy);
    cproc->inverted_fill = 0;
    const int32_t c = colp(L, 5);
    charge(fill_box(t, sat32(x0), sat32(y0), sat32(x1), sat32(y1), c) / 3);
    return 0;
}

int lua54_rect(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t || lua_gettop(L) < 4) return 0;
    const int32_t cx = camera_x(), cy = camera_y();
    const int32_t x0 = screen(L, 1, cx), y0 = screen(L, 2, cy), x1 = screen(L, 3, cx), y1 = screen(L, 4, cy);
    const int32_t c = colp(L, 5);
    int64_t cost = draw_line(t, x0, y0, x1, y0, c);
    if (y1 != y0) cost += draw_line(t, x0, y1, x1, y1, c);
    if (std::abs(int64_t(y1) - y0) >= 2) {
        const int32_t top = std::min(y0, y1) + 1, bottom = std::max(y0, y1) - 1;
        cost += draw_line(t, x0, top, x0, bottom, c);
        cost += draw_line(t, x1, top, x1, bottom, c);
    }
    charge(cost / 3);
    return 0;
}

int lua54_ovalfill(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t || lua_gettop(L) < 4) return 0;
    const int32_t cx = camera_x(), cy = camera_y();
    const int32_t x0 = screen(L, 1, cx), y0 = screen(L, 2, cy), x1 = screen(L, 3, cx), y1 = screen(L, 4, cy);
    cproc->inverted_fill = 0;
    const int32_t c = colp(L, 5);
    charge(int64_t(draw_filloval(t, x0, y0, x1, y1, c)) / 3);
    return 0;
}

int lua54_circfill(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    const int32_t cx = camera_x(), cy = camera_y();
    // The pen is applied as a colour argument to records without one: no bit above 15.
    if (batch_array(L)) return run_batch(L, &CIRCFILL_BATCH, pen() & 0xFFFF);
    if (lua_gettop(L) < 2) return 0;
    const int64_t x = sub64(kiv_intp(L, 1, 0), cx), y = sub64(kiv_intp(L, 2, 0), cy);
    const int64_t r = kiv_intp(L, 3, 4);
    cproc->inverted_fill = 0;
    const int32_t c = colp(L, 4);
    if (r < 0 && !cproc->inverted_fill) return 0;
    charge(fill_circle(t, x, y, r, c) / 3);
    return 0;
}

int lua54_oval(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t || lua_gettop(L) < 4) return 0;
    const int32_t cx = camera_x(), cy = camera_y();
    const int32_t x0 = screen(L, 1, cx), y0 = screen(L, 2, cy), x1 = screen(L, 3, cx), y1 = screen(L, 4, cy);
    charge(draw_oval(t, x0, y0, x1, y1, colp(L, 5)));
    return 0;
}

int lua54_circ(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t || lua_gettop(L) < 2) return 0;
    const int64_t x = sub64(kiv_intp(L, 1, 0), camera_x()), y = sub64(kiv_intp(L, 2, 0), camera_y());
    const int64_t r = kiv_intp(L, 3, 4);
    const int32_t c = colp(L, 4);
    if (r < 0) return 0;
    charge(int64_t(draw_oval(t, sat32(sub64(x, r)), sat32(sub64(y, r)), sat32(add64(x, r)), sat32(add64(y, r)), c)) /
           3);
    return 0;
}

namespace {

/* The corner radius of a rounded rectangle: small enough for the corners to fit. */
int64_t corner_radius(int64_t w, int64_t h, int64_t r) { return std::min((std::min(w, h) >> 1) - 1, r); }

/* Reads x, y, w, h, r of rrect and rrectfill (x and y camera-shifted). */
struct rounded_args {
    int64_t x, y, w, h, r;
};

rounded_args read_rounded(lua_State *L) {
    return {sub64(kiv_intp(L, 1, 0), camera_x()), sub64(kiv_intp(L, 2, 0), camera_y()), kiv_intp(L, 3, 0),
            kiv_intp(L, 4, 0), kiv_intp(L, 5, 0)};
}

/* One axis of corners_near_clip: the run of n from s against [lo, hi). */
bool pull_to_clip(int64_t &s, int64_t &n, int64_t lo, int64_t hi, int64_t reach) {
    const __int128 end = __int128(s) + n - 1;
    if (end < lo || s >= hi) return false;
    const int64_t from = std::max(s, lo - reach), to = int64_t(std::min<__int128>(end, __int128(hi) + reach));
    s = from;
    n = to - from + 1;
    return true;
}

/* The rectangle 'a' as the 32-bit corner primitives are given it, for a
   corner radius rr of 1 to ELLIPSE_MAX_RADIUS: an edge whose corners lie
   wholly beyond the clip moves to just beyond it, so what is drawn inside
   the clip stays the same and every value fits 32 bits. False when the
   rectangle misses the clip. */
bool corners_near_clip(rounded_args &a, int64_t rr) {
    const int64_t reach = 2 * rr + 4;  // a corner's box and one more
    return pull_to_clip(a.x, a.w, cproc->clip_x0, cproc->clip_x1, reach) &&
           pull_to_clip(a.y, a.h, cproc->clip_y0, cproc->clip_y1, reach);
}

}  // namespace

int lua54_rrect(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t || lua_gettop(L) < 2) return 0;
    const rounded_args a = read_rounded(L);
    const int32_t c = colp(L, 6);
    if (a.w < 1 || a.h < 1) return 0;
    const int64_t rr = corner_radius(a.w, a.h, a.r);
    const int64_t X1 = add64(a.x, a.w - 1), Y1 = add64(a.y, a.h - 1);
    int64_t cost = 0;
    auto line = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
        cost += draw_line(t, sat32(x0), sat32(y0), sat32(x1), sat32(y1), c);
    };
    if (rr < 1) {
        line(a.x, a.y, X1, a.y);
        if (Y1 != a.y) line(a.x, Y1, X1, Y1);
        if (a.h >= 3) {
            line(a.x, add64(a.y, 1), a.x, sub64(Y1, 1));
            line(X1, add64(a.y, 1), X1, sub64(Y1, 1));
        }
    } else {
        rounded_args k = a;
        if (rr > ELLIPSE_MAX_RADIUS || corners_near_clip(k, rr))
            cost += draw_rrect(t, sat32(k.x), sat32(k.y), sat32(add64(k.x, 2 * rr + 2)), sat32(add64(k.y, 2 * rr + 2)),
                               sat32(k.w - 2 * rr - 3), sat32(k.h - 2 * rr - 3), c);
        const int64_t left = add64(a.x, rr + 2), right = add64(a.x, a.w - 3 - rr);
        if (left <= right) {
            line(left, a.y, right, a.y);
            line(left, Y1, right, Y1);
        }
        const int64_t top = add64(a.y, rr + 2), bottom = add64(a.y, a.h - 3 - rr);
        if (top <= bottom) {
            line(a.x, top, a.x, bottom);
            line(X1, top, X1, bottom);
        }
    }
    charge(cost / 3);
    return 0;
}

int lua54_rrectfill(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t || lua_gettop(L) < 2) return 0;
    const rounded_args a = read_rounded(L);
    cproc->inverted_fill = 0;
    const int32_t c = colp(L, 6);
    if (a.w < 1 || a.h < 1) {
        if (cproc->inverted_fill) charge(fill_all(t, c) / 3);
        return 0;
    }
    const bool inverted = cproc->inverted_fill != 0;
    const int64_t rr = corner_radius(a.w, a.h, a.r);
    const int64_t X1 = add64(a.x, a.w - 1);
    int64_t cost = 0;
    // One span per row, a cycle a row besides what it draws; rows outside
    // the clip would draw nothing, and neither would spans beside it.
    auto spans = [&](int64_t from, int64_t to) {
        if (!inverted && (X1 < cproc->clip_x0 || a.x >= cproc->clip_x1)) return;
        from = std::max<int64_t>(from, cproc->clip_y0);
        to = std::min<int64_t>(to, int64_t(cproc->clip_y1) - 1);
        if (from <= to) cost += 3 * (to - from + 1);
        for (int64_t y = from; y <= to; y++)
            cost += inverted ? draw_hline_inv(t, sat32(a.x), sat32(X1), int32_t(y), c)
                             : draw_hline(t, sat32(a.x), sat32(X1), int32_t(y), c);
    };
    if (rr <= 0) {
        spans(a.y, add64(a.y, a.h - 1));
        if (inverted) {
            cost += rectfill(t, -1, -1, sat32(t->width), sat32(sub64(a.y, 1)), c);
            cost += rectfill(t, -1, sat32(add64(a.y, a.h)), sat32(t->width), sat32(t->height), c);
        }
    } else {
        rounded_args k = a;
        if (rr > ELLIPSE_MAX_RADIUS || corners_near_clip(k, rr)) {
            cost += draw_rrectfill(t, sat32(k.x), sat32(k.y), sat32(add64(k.x, 2 * rr + 2)),
                                   sat32(add64(k.y, 2 * rr + 2)), sat32(k.w - 2 * rr - 3), sat32(k.h - 2 * rr - 3), c);
            spans(add64(a.y, rr + 2), add64(a.y, a.h - rr - 3));
        } else if (inverted) {
            cost += fill_all(t, c);  // nothing of the rectangle is inside the clip
        }
    }
    charge(cost / 3);
    return 0;
}

namespace {

/* Stores the end of the last line, each coordinate saturated to 32 bits. */
void remember_line_end(int64_t x, int64_t y) {
    reg_write(cproc, REG_LINE_X, uint32_t(sat32(x)) | uint64_t(uint32_t(sat32(y))) << 32, 8, true);
}

}  // namespace

int lua54_line(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    const int n = lua_gettop(L);
    if (n == 0) {
        reg_write(cproc, REG_LINE_STATE, 1, 1, true);
        return 0;
    }
    if (n == 1) {
        reg_write(cproc, REG_LINE_STATE, 1, 1, true);
        if (lua_type(L, 1) == LUA_TNUMBER) set_colp(kiv_intp(L, 1, 0));
        return 0;
    }
    const int32_t cx = camera_x(), cy = camera_y();
    int64_t xa, ya, xb, yb;
    int32_t c;
    if (n <= 3) {
        xa = kiv_intp(L, 1, 0);
        ya = kiv_intp(L, 2, 0);
        if (reg_u8(cproc, REG_LINE_STATE) == 1) {
            reg_write(cproc, REG_LINE_STATE, 0, 1, true);
            remember_line_end(xa, ya);
            return 0;
        }
        xb = reg_i32(cproc, REG_LINE_X);
        yb = reg_i32(cproc, REG_LINE_Y);
        remember_line_end(xa, ya);
        c = colp(L, 3);
    } else {
        xa = kiv_intp(L, 1, 0);
        ya = kiv_intp(L, 2, 0);
        xb = kiv_intp(L, 3, 0);
        yb = kiv_intp(L, 4, 0);
        remember_line_end(xb, yb);
        c = colp(L, 5);
    }
    charge(draw_line(t, sat32(sub64(xa, cx)), sat32(sub64(ya, cy)), sat32(sub64(xb, cx)), sat32(sub64(yb, cy)), c));
    return 0;
}
