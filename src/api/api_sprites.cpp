// Sprites and copies: spr, blit and _blit_process_video.
#include "address_space.h"
#include "api_args.h"
#include "api_batch.h"
#include "api_draw_state.h"
#include "api_functions.h"
#include "api_sprite_arg.h"
#include "blits.h"
#include "lua.hpp"
#include "saturate.h"

typed_ud_rec *sprite_argument(lua_State *L, int index) {
    if (typed_ud_rec *s = to_typed_ud(L, index)) return s;
    return sprite_by_index(kiv_intp(L, index, -1));
}

typed_ud_rec *sprite_by_index(int64_t index) {
    if (!cproc || index < 0 || index >= SPRITE_SLOTS) return nullptr;
    return cproc->sprite[index];
}

namespace {

int64_t draw_whole_sprite(typed_ud_rec *s, typed_ud_rec *t, int32_t x, int32_t y, bool fx, bool fy) {
    if (!s) return 0;
    return draw_spr(s, t, 0, 0, x, y, sat32(s->width), sat32(s->height), fx, fy);
}

/* One record of a batch spr: the camera does not apply. */
int64_t spr_record(typed_ud_rec *t, const batch_reader &b, const double *r, const batch_fixed &f) {
    if (b.fields == 0) return draw_whole_sprite(target_before_source(f.before, sprite_by_index(0)), t, 0, 0, false, false);
    typed_ud_rec *s = target_before_source(f.before, sprite_by_index(floor_double_to_i64_or_min(r[0])));
    if (b.fields == 1) return draw_whole_sprite(s, t, 0, 0, false, false);
    const int32_t x = sat32(floor_double_to_i64_or_min(r[1]));
    const int32_t y = b.fields >= 3 ? sat32(floor_double_to_i64_or_min(r[2])) : 0;
    const bool fx = b.fields >= 4 && r[3] < 0, fy = b.fields >= 5 && r[4] < 0;
    return draw_whole_sprite(s, t, x, y, fx, fy);
}

constexpr batch_rule SPR_BATCH = {5, 3, 3, spr_record, nullptr, true, nullptr};

}  // namespace

int lua54_spr(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    if (batch_array(L)) return run_batch(L, &SPR_BATCH, 0);
    typed_ud_rec *s = sprite_argument(L, 1);
    const int n = lua_gettop(L);
    const int32_t x = sat32(sub64(kiv_intp(L, 2, 0), camera_x()));
    const int32_t y = sat32(sub64(kiv_intp(L, 3, 0), camera_y()));
    const bool fx = n >= 4 && lua_toboolean(L, 4), fy = n >= 5 && lua_toboolean(L, 5);
    // A sprite that is the target is read as it was before the call.
    target_before before{t, nullptr, 0};
    const int64_t cost = draw_whole_sprite(target_before_source(&before, s), t, x, y, fx, fy);
    charge(cost / 3 + target_before_end(&before));
    return 0;
}

extern "C" int lua54_blit_0(lua_State *L) {
    if (!cproc) return 0;
    typed_ud_rec *target = cproc->draw_target;
    typed_ud_rec *src = to_typed_ud(L, 1), *dst = to_typed_ud(L, 2);
    if (!src) src = target;
    if (!dst) dst = target;
    if (!src || !dst) return 0;
    const int32_t sx = sat32(kiv_intp(L, 3, 0)), sy = sat32(kiv_intp(L, 4, 0));
    const int32_t dx = sat32(kiv_intp(L, 5, 0)), dy = sat32(kiv_intp(L, 6, 0));
    const int32_t w = sat32(kiv_intp(L, 7, src->width)), h = sat32(kiv_intp(L, 8, src->height));
    int64_t cost;
    if (dst == target) {
        refresh_clip(cproc);
        cost = blit(src, dst, sx, sy, dx, dy, w, h);
    } else {
        set_temporary_clipping(dst);
        cost = blit(src, dst, sx, sy, dx, dy, w, h);
        restore_after_temporary_clipping();
    }
    charge(cost / 64);
    return 0;
}

int lua54_blit(lua_State *L) { return lua54_blit_0(L); }

int lua54__blit_process_video(lua_State *L) {
    typed_ud_rec *t = draw_target_refreshed();
    if (!t) return 0;
    process_rec *proc = get_process(api_integer(L, 1));
    if (!proc || proc->state == PROC_STOPPED) return 0;
    const int32_t sx = sat32(kiv_intp(L, 2, 0)), sy = sat32(kiv_intp(L, 3, 0));
    const int32_t w = sat32(kiv_intp(L, 4, peek2_proc(proc, REG_DISPLAY_WIDTH)));
    const int32_t h = sat32(kiv_intp(L, 5, peek2_proc(proc, REG_DISPLAY_HEIGHT)));
    const int32_t dx = sat32(kiv_intp(L, 6, 0)), dy = sat32(kiv_intp(L, 7, 0));
    if (peek_proc(proc, REG_PROCESS_FLAGS) & 2) {
        lua_pushboolean(L, 1);
        return 1;
    }
    const uint32_t mask = peek_proc(proc, REG_VIDEO_MASK);
    const int64_t cost = blit_from_ram(proc, DISPLAY_ADDR, t, sx, sy, dx, dy, w, h, mask);
    charge(mask ? cost / 8 : cost / 64);
    return 0;
}
