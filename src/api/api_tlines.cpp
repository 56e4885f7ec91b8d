// The calls drawn with textured lines: sspr, _draw_map and tline3d.
#include <algorithm>
#include <cstdio>

#include "address_space.h"
#include "api_batch.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "api_sprite_arg.h"
#include "blits.h"
#include "line_plan.h"
#include "lua.hpp"
#include "saturate.h"
#include "textured_lines.h"
#include "vm_hooks.h"

namespace {

/* Largest destination or cell size a stretched draw accepts. */
inline constexpr int64_t MAX_DRAW_SIZE = 0x1000000;

int64_t draw_plan(typed_ud_rec *s, typed_ud_rec *t, const tline_plan &p) {
    return draw_tline_sspr(s, t, sat32(p.x0), sat32(p.y0), sat32(p.x1), sat32(p.y1), p.u0, p.v0, p.u1, p.v1);
}

/* Moves a negative source start to 0: the destination start moves on by
   the part skipped and the destination shrinks by it. False when nothing
   remains. */
bool skip_negative_start(int64_t &s0, int64_t &sw, int64_t &d0, int64_t &dw) {
    if (s0 >= 0) return true;
    const __int128 skip = (-__int128(s0) * dw) / sw;
    if (skip >= dw || -__int128(s0) >= sw) return false;
    d0 = add64(d0, int64_t(skip));
    dw -= int64_t(skip);
    sw += s0;
    s0 = 0;
    return true;
}

/* Fits the source size to what the sprite holds from s0 and scales the
   destination alike. */
void fit_source(int64_t size, int64_t s0, int64_t &sw, int64_t &dw) {
    if (size - s0 <= sw) {
        dw = int64_t((__int128(dw) * (size - s0)) / sw);
        sw = size - s0;
    }
}

/* The lines k = first..last of a run of n lines starting at screen
   coordinate 'start' that lie inside [lo, hi); none (first > last) when the
   run misses it. */
void visible_lines(int64_t start, int64_t n, int64_t lo, int64_t hi, int64_t &first, int64_t &last) {
    const __int128 f = std::max<__int128>(0, __int128(lo) - start);
    const __int128 l = std::min<__int128>(n - 1, __int128(hi) - 1 - start);
    if (f > l) {
        first = 1;
        last = 0;
        return;
    }
    first = int64_t(f);
    last = int64_t(l);
}

/* The cells of a run from screen coordinate 'start', 'size' apart, that can
   reach into [lo, hi): the cells 'first' up to 'end' (exclusive), 'end' at
   most what it held. False when none remains. The run's length and its
   screen end are exact in 128 bits, whatever the coordinates. */
bool visible_cells(int64_t start, int64_t size, int32_t lo, int32_t hi, int64_t &first, int64_t &end) {
    const __int128 f = lo > start ? (__int128(lo) - start) / size : 0;
    __int128 e = end;
    const __int128 over = e * size + start - hi;
    if (over > 0) e -= over / size;
    if (e <= f) return false;
    first = int64_t(f);
    end = int64_t(e);
    return true;
}

double number_or(lua_State *L, int i, double def) {
    int isnum = 0;
    const double v = lua_tonumberx(L, i, &isnum);
    return isnum ? v : def;
}

/* Arguments 8 and up of tline3d count when they are numbers or strings. */
bool given(lua_State *L, int i) {
    const int type = lua_type(L, i);
    return type == LUA_TNUMBER || type == LUA_TSTRING;
}

/* One record of a batch tline3d: coordinates unfloored, the camera taken off. */
int64_t tline3d_record(typed_ud_rec *t, const batch_reader &b, const double *r, const batch_fixed &f) {
    typed_ud_rec *s = sprite_by_index(b.fields ? floor_double_to_i64_or_min(r[0]) & 0x1FFF : 0);
    if (!s) return 0;
    const double cx = f.camera_x, cy = f.camera_y;
    const double x0 = b.field(r, 1, 0) - cx, y0 = b.field(r, 2, 0) - cy;
    const double x1 = b.field(r, 3, 0) - cx, y1 = b.field(r, 4, 0) - cy;
    const double tu0 = b.field(r, 5, 0), tv0 = b.field(r, 6, 0);
    const double tu1 = b.field(r, 7, tu0 + (x1 - x0)), tv1 = b.field(r, 8, tv0 + (y1 - y0));
    const double w0 = b.field(r, 9, 1.0), w1 = b.field(r, 10, 1.0);
    const int32_t flags = b.fields > 11 ? sat32(floor_double_to_i64_or_min(r[11])) : 0;
    return draw_tline3d_reading(f.before, s, t, flags, x0, y0, x1, y1, tu0, tv0, tu1, tv1, w0, w1);
}

// 3 cycles a record, on the target or not (its read and clip), as the other
// batches, and the whole summed cost.
constexpr batch_rule TLINE3D_BATCH = {12, 3, 1, tline3d_record, nullptr, true, nullptr};

}  // namespace

int lua54_sspr(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    typed_ud_rec *s = sprite_argument(L, 1);
    if (!s) return 0;
    int64_t sx = kiv_intp(L, 2, 0), sy = kiv_intp(L, 3, 0);
    int64_t sw = kiv_intp(L, 4, s->width), sh = kiv_intp(L, 5, s->height);
    int64_t dx = sub64(kiv_intp(L, 6, 0), camera_x()), dy = sub64(kiv_intp(L, 7, 0), camera_y());
    int64_t dw = kiv_intp(L, 8, sw), dh = kiv_intp(L, 9, sh);
    bool fx = lua_toboolean(L, 10), fy = lua_toboolean(L, 11);
    if (sw < 1 || sh < 1) return 0;
    if (dw < 0) {
        fx = !fx;
        dx = add64(dx, dw);
        dw = dw == INT64_MIN ? INT64_MAX : -dw;
    }
    if (dh < 0) {
        fy = !fy;
        dy = add64(dy, dh);
        dh = dh == INT64_MIN ? INT64_MAX : -dh;
    }
    if (!skip_negative_start(sx, sw, dx, dw) || !skip_negative_start(sy, sh, dy, dh)) return 0;
    if (sx >= int64_t(s->width) || sy >= int64_t(s->height)) return 0;
    fit_source(s->width, sx, sw, dw);
    fit_source(s->height, sy, sh, dh);
    if (dw < 1 || dh < 1 || dw > MAX_DRAW_SIZE || dh > MAX_DRAW_SIZE) return 0;
    int64_t cost = 0, first, last;
    if (stretch_by_rows(dw, dh))
        visible_lines(dy, dh, cproc->clip_y0, cproc->clip_y1, first, last);
    else
        visible_lines(dx, dw, cproc->clip_x0, cproc->clip_x1, first, last);
    // A sprite that is the target is read as it was before the call.
    target_before before{t, nullptr, 0};
    if (first <= last) s = target_before_source(&before, s);
    // Each visible line is planned and clipped whatever it draws: a cycle.
    for (int64_t k = first; k <= last; k++)
        cost += 3 + draw_plan(s, t, stretch_line(sx, sy, sw, sh, dx, dy, dw, dh, fx, fy, k));
    charge(cost / 3 + target_before_end(&before));
    return 0;
}

int lua54_draw_map(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    typed_ud_rec *map = to_typed_ud(L, 1);
    if (!map || ud_type(map) != UTYPE_I16) return 0;
    const int64_t mw = map->width, mh = map->height;
    const int64_t tx = kiv_intp(L, 2, 0), ty = kiv_intp(L, 3, 0);
    const int64_t x = kiv_intp(L, 4, 0), y = kiv_intp(L, 5, 0);
    const int64_t tw = kiv_intp(L, 6, sub64(mw, tx)), th = kiv_intp(L, 7, sub64(mh, ty));
    const int64_t layers = kiv_intp(L, 8, 0);
    const uint8_t cell_w = reg_u8(cproc, REG_MAP_CELL_W), cell_h = reg_u8(cproc, REG_MAP_CELL_H);
    const int64_t cw = kiv_intp(L, 9, cell_w ? cell_w : 256), ch = kiv_intp(L, 10, cell_h ? cell_h : 256);
    if (cw < 1 || ch < 1 || cw > MAX_DRAW_SIZE || ch > MAX_DRAW_SIZE) return 0;
    int64_t C = sub64(mw, tx), R = sub64(mh, ty);
    if (tw >= 0) C = std::min(C, tw);
    if (th >= 0) R = std::min(R, th);
    if (C <= 0 || R <= 0) return 0;
    const int64_t sx0 = sub64(x, camera_x()), sy0 = sub64(y, camera_y());
    int64_t f, g;
    if (!visible_cells(sx0, cw, cproc->clip_x0, cproc->clip_x1, f, C) ||
        !visible_cells(sy0, ch, cproc->clip_y0, cproc->clip_y1, g, R)) {
        charge(0);
        charge(0);
        return 0;
    }
    const int64_t columns = C - f, rows = R - g;
    const bool draw_zero = reg_u8(cproc, REG_PRINT_FLAGS) & 8;
    const int16_t *cells = reinterpret_cast<const int16_t *>(ud_elements(map));
    bool out_of_range = false;
    int64_t cost = 0;
    // A cell showing the draw target reads it as it was before the call.
    target_before before{t, nullptr, 0};
    for (int64_t r = g; r < R; r++) {
        const int64_t mr = ty + r;
        for (int64_t c = f; c < C; c++) {
            const int64_t mc = tx + c;
            if (mc < 0 || mr < 0) {
                out_of_range = true;
                continue;
            }
            const uint16_t v = uint16_t(cells[mr * mw + mc]);
            const int n = v & 0x1FFF;
            typed_ud_rec *s = cproc->sprite[n];
            if (!s || s->width == 0 || s->height == 0 || (n == 0 && !draw_zero)) continue;
            if (layers && !(peek(SPRITE_FLAGS_ADDR + uint32_t(n)) & layers)) continue;
            s = target_before_source(&before, s);
            // Visible cells lie near the clip, so these fit 64 bits.
            const int64_t X = int64_t(__int128(sx0) + __int128(c) * cw), Y = int64_t(__int128(sy0) + __int128(r) * ch);
            const bool transposed = v & 0x2000, fx = v & 0x4000, fy = v & 0x8000;
            if (s->width == cw && s->height == ch && !transposed) {
                cost += draw_spr(s, t, 0, 0, sat32(X), sat32(Y), int32_t(cw), int32_t(ch), fx, fy);
                continue;
            }
            int64_t first, last;
            visible_lines(Y, ch, cproc->clip_y0, cproc->clip_y1, first, last);
            for (int64_t j = first; j <= last; j++)
                cost += draw_plan(s, t, cell_line(s->width, s->height, X, Y, cw, ch, transposed, fx, fy, j));
        }
    }
    const int64_t copy_cost = target_before_end(&before);
    if (out_of_range) {
        std::printf("** lua54_draw_map OUT OF RANGE ***\n");
        std::fflush(stdout);
        spend_cpu(VM_OUTPUT_LINE_CYCLES);
    }
    charge(2 * columns * rows);
    charge(cost / 3 + copy_cost);
    return 0;
}

int lua54_tline3d(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    const double cx = camera_x(), cy = camera_y();
    if (batch_array(L)) return run_batch(L, &TLINE3D_BATCH, 0);
    if (lua_gettop(L) < 4) return 0;
    // A texture or map cell that is the target reads it as it was before the call.
    target_before before{t, nullptr, 0};
    typed_ud_rec *s = sprite_argument(L, 1);
    const double x0 = number_or(L, 2, 0) - cx, y0 = number_or(L, 3, 0) - cy;
    const double x1 = number_or(L, 4, 0) - cx, y1 = number_or(L, 5, 0) - cy;
    const double tu0 = number_or(L, 6, 0), tv0 = number_or(L, 7, 0);
    const double tu1 = given(L, 8) ? number_or(L, 8, 0) : tu0 + (x1 - x0);
    const double tv1 = given(L, 9) ? number_or(L, 9, 0) : tv0 + (y1 - y0);
    const double w0 = given(L, 10) ? number_or(L, 10, 0) : 1.0, w1 = given(L, 11) ? number_or(L, 11, 0) : 1.0;
    const int32_t flags = sat32(kiv_intp(L, 12, 0));
    const int64_t cost = s ? draw_tline3d_reading(&before, s, t, flags, x0, y0, x1, y1, tu0, tv0, tu1, tv1, w0, w1) : 0;
    charge(cost + target_before_end(&before));
    return 0;
}
