// The calls that only set draw state: camera, clip, cursor, color, fillp and
// _set_draw_target.
#include <algorithm>

#include "api_draw_state.h"
#include "api_functions.h"
#include "lua.hpp"

namespace {

/* The low 16 bits of v, as the i16 registers hold them. */
uint64_t low16(int64_t v) { return uint64_t(v) & 0xFFFF; }

/* Writes the four clip registers. */
void write_clip(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    const uint64_t bytes = low16(x0) | low16(y0) << 16 | low16(x1) << 32 | low16(y1) << 48;
    reg_write(cproc, REG_CLIP_X0, bytes, 8, true);
}

int64_t clamp64(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

int lua54_camera(lua_State *L) {
    if (!cproc) return 0;
    const int32_t old_x = camera_x(), old_y = camera_y();
    const int64_t x = kiv_intp(L, 1, 0), y = kiv_intp(L, 2, 0);
    reg_write(cproc, REG_CAMERA_X, uint32_t(x) | uint64_t(uint32_t(y)) << 32, 8, true);
    lua_pushinteger(L, old_x);
    lua_pushinteger(L, old_y);
    return 2;
}

int lua54_clip(lua_State *L) {
    typed_ud_rec *t = cproc ? cproc->draw_target : nullptr;
    if (!t) return 0;
    const int32_t X0 = cproc->clip_x0, X1 = cproc->clip_x1, Y0 = cproc->clip_y0, Y1 = cproc->clip_y1;
    const int64_t W = t->width, H = t->height;
    if (lua_gettop(L) < 4) {
        write_clip(0, 0, W, H);
    } else {
        const int64_t x = int32_t(kiv_intp(L, 1, 0)), y = int32_t(kiv_intp(L, 2, 0));
        const int64_t w = kiv_intp(L, 3, 0), h = kiv_intp(L, 4, 0);
        const int64_t xe = add64(x, w), ye = add64(y, h);
        int64_t x0, y0, x1, y1;
        if (lua_toboolean(L, 5)) {
            x0 = std::max<int64_t>(X0, std::min<int64_t>(X1, x));
            y0 = std::max<int64_t>(Y0, std::min<int64_t>(Y1, y));
            x1 = std::max<int64_t>(X0, std::min<int64_t>(X1, xe));
            y1 = std::max<int64_t>(Y0, std::min<int64_t>(Y1, ye));
        } else {
            // An edge beyond the target stays at the target's edge, and an
            // end left of its start makes the clip empty. The registers keep
            // 16 bits: on a target wider or taller than 32767 an edge past
            // 32767 reads back negative, a start as 0 and an end as the
            // target's edge, so there the clip can exceed what was asked.
            x0 = clamp64(x, 0, W);
            y0 = clamp64(y, 0, H);
            x1 = clamp64(xe, x0, W);
            y1 = clamp64(ye, y0, H);
        }
        write_clip(x0, y0, x1, y1);
    }
    lua_pushinteger(L, X0);
    lua_pushinteger(L, Y0);
    lua_pushinteger(L, int64_t(X1) - X0);
    lua_pushinteger(L, int64_t(Y1) - Y0);
    refresh_clip(cproc);
    lua_pushboolean(L, cproc->clip_x1 <= cproc->clip_x0 || cproc->clip_y1 <= cproc->clip_y0);
    return 5;
}

int lua54_cursor(lua_State *L) {
    if (!cproc) return 0;
    const int64_t x = kiv_intp(L, 1, 0), y = kiv_intp(L, 2, 0);
    reg_write(cproc, REG_CURSOR_X, uint32_t(x) | uint64_t(uint32_t(y)) << 32, 8, false);
    if (lua_type(L, 3) == LUA_TNUMBER) set_colp(kiv_intp(L, 3, 0));
    return 0;
}

int lua54_color(lua_State *L) {
    if (!cproc) return 0;
    reg_write(cproc, REG_PEN, uint64_t(kiv_intp(L, 1, 6)) & 0xFFFF, 2, true);
    return 0;
}

int lua54_fillp(lua_State *L) {
    if (!cproc || !cproc->draw_target) return 0;
    if (lua_gettop(L) == 8) {
        uint64_t rows = 0;
        for (int i = 0; i < 8; i++) {
            uint8_t b = uint8_t(kiv_intp(L, i + 1, 0)), r = 0;
            for (int bit = 0; bit < 8; bit++) r |= uint8_t(((b >> bit) & 1) << (7 - bit));
            rows |= uint64_t(r) << (8 * i);
        }
        reg_write(cproc, REG_FILL_PATTERN, rows, 8, false);
    } else {
        write_pattern_16(uint32_t(kiv_intp(L, 1, 0)) & 0xFFFF);
    }
    return 0;
}

int lua54__set_draw_target(lua_State *L) {
    if (!cproc) return 0;
    anchors_ready(L);  // before anything is read
    typed_ud_rec *t = to_typed_ud(L, 1);
    if (!t) return 0;
    if (t != cproc->draw_target) anchor_set(L, ANCHOR_TARGET, 1);
    cproc->draw_target = t;
    write_clip(0, 0, t->width, t->height);
    return 0;
}
