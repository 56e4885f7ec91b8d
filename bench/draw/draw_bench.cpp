// The drawing calls' host-side cost. Each figure runs a Lua loop in a real
// process through the real API (frames run until the process ends, the
// budget refilled each frame), interleaved with the same loop over the
// cheapest binding: a bench-only C function registered in the same process
// that reads the same arguments with lua_tointegerx and calls the same
// primitive with the state preloaded. Prints "draw <figure> ratio: R (goal G)"
// per figure, the median of five ratios, and last "draw worst goal margin: M".
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "address_space.h"
#include "blits.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "fake_host.h"
#include "lua.hpp"
#include "process.h"
#include "shapes.h"
#include "slice.h"
#include "textured_lines.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

inline constexpr int kRuns = 5;
double worst_margin = 0;

int64_t arg(lua_State *L, int i) { return lua_tointegerx(L, i, nullptr); }

typed_ud_rec *target() { return cproc->draw_target; }

/* ---- the cheapest bindings ---- */

int b_pset(lua_State *L) {
    putpixel(target(), int32_t(arg(L, 1)), int32_t(arg(L, 2)), int32_t(arg(L, 3)));
    return 0;
}

int b_rectfill(lua_State *L) {
    rectfill(target(), int32_t(arg(L, 1)), int32_t(arg(L, 2)), int32_t(arg(L, 3)), int32_t(arg(L, 4)),
             int32_t(arg(L, 5)));
    return 0;
}

int b_spr(lua_State *L) {
    typed_ud_rec *s = cproc->sprite[arg(L, 1) & 0x3FFF];
    if (s) draw_spr(s, target(), 0, 0, int32_t(arg(L, 2)), int32_t(arg(L, 3)), int32_t(s->width), int32_t(s->height), 0, 0);
    return 0;
}

int b_pset_batch(lua_State *L) {
    typed_ud_rec *a = to_typed_ud(L, 1);
    const double *r = reinterpret_cast<const double *>(ud_elements(a));
    for (uint64_t k = 0; k + 3 <= ud_count(a); k += 3)
        putpixel(target(), int32_t(std::floor(r[k])), int32_t(std::floor(r[k + 1])), int32_t(std::floor(r[k + 2])));
    return 0;
}

int b_cls(lua_State *) {
    std::memset(ud_elements(target()), 0, 480 * 270);
    return 0;
}

// b_map(map, cw, ch, sprite_w): the map's cells drawn one by one as sprites
// (cell size equal to the sprite) or as one textured line per row.
int b_map(lua_State *L) {
    typed_ud_rec *m = to_typed_ud(L, 1);
    const int32_t cw = int32_t(arg(L, 2)), ch = int32_t(arg(L, 3)), sw = int32_t(arg(L, 4));
    const int32_t cols = int32_t(arg(L, 5)), rows = int32_t(arg(L, 6));
    const int32_t ox = int32_t(arg(L, 7)), oy = int32_t(arg(L, 8));
    const int16_t *cells = reinterpret_cast<const int16_t *>(ud_elements(m));
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++) {
            typed_ud_rec *s = cproc->sprite[cells[(oy + r) * int64_t(m->width) + ox + c] & 0x1FFF];
            if (!s) continue;
            if (sw == cw) {
                draw_spr(s, target(), 0, 0, c * cw, r * ch, cw, ch, 0, 0);
            } else {
                const double du = double(sw) / cw;
                for (int32_t j = 0; j < ch; j++)
                    draw_tline_sspr(s, target(), c * cw, r * ch + j, c * cw + cw - 1, r * ch + j, du / 2, (j + 0.5) * du,
                                    sw - du / 2, (j + 0.5) * du);
            }
        }
    return 0;
}

int b_video(lua_State *L) {
    process_rec *p = get_process(arg(L, 1));
    if (p) blit_from_ram(p, 0x10000, target(), 0, 0, 0, 0, 480, 270, 0);
    return 0;
}

/* ---- running ---- */

const char *kPrelude = R"(
T = unpod('userdata("u8",480,270,"")')
_set_draw_target(T) clip() pset(-1, -1)  -- the clip and masks the bindings use
for n = 0, 300 do
    local s = unpod('userdata("u8",16,16,"")')
    for k = 0, 255 do set(s, k % 16, k // 16, 1 + (k + n) % 15) end
    _set_spr(n, s)
end
local small = {}
for n = 0, 300 do
    small[n] = unpod('userdata("u8",8,8,"")')
    for k = 0, 63 do set(small[n], k % 8, k // 8, 1 + (k + n) % 15) end
end
function small_sprites() for n = 0, 300 do _set_spr(n, small[n]) end end
M = unpod('userdata("i16",1024,1024,"")')
for y = 0, 33 do for x = 0, 59 do set(M, x, y, 1 + (x + y * 60) % 300) set(M, 480 + x, 495 + y, 1 + (x + y * 60) % 300) end end
B = unpod('userdata("f64",3,87382,"")')
for k = 0, 87381 do set(B, 0, k, k % 480, k % 270, 7) end
)";

double seconds_to_end(process_rec *p) {
    const int64_t id = p->id;
    const auto t0 = std::chrono::steady_clock::now();
    while (get_process(id)) {
        prepare_processes_for_frame();
        run_process_slice(get_process(id), 1.0);
        update_processes_after_frame();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

process_rec *make(const std::string &setup, const std::string &loop) {
    process_rec *p = create_process_from_code((std::string(kPrelude) + setup + "\n" + loop).c_str(), "bench",
                                              "/bench.lua", "");
    if (!p) {
        std::fprintf(stderr, "bench_draw: the loop did not load:\n%s\n", loop.c_str());
        std::exit(1);
    }
    lua_State *L = p->lua_state;
    lua_register(L, "b_pset", b_pset);
    lua_register(L, "b_rectfill", b_rectfill);
    lua_register(L, "b_spr", b_spr);
    lua_register(L, "b_pset_batch", b_pset_batch);
    lua_register(L, "b_cls", b_cls);
    lua_register(L, "b_map", b_map);
    lua_register(L, "b_video", b_video);
    write_bytes_proc(p, 0x8000, default_coltabs, sizeof default_coltabs);
    for (uint32_t a = 0x5508; a < 0x550C; a++) poke_proc(p, a, 0x3F);
    return p;
}

// The loop's time: setup untimed (one process runs it and the loop, another
// only the setup; the difference is the loop).
double loop_seconds(const std::string &setup, const std::string &loop) {
    const double whole = seconds_to_end(make(setup, loop));
    const double bare = seconds_to_end(make(setup, ""));
    return std::max(whole - bare, 1e-9);
}

void figure(const char *name, const std::string &setup, const std::string &ours, const std::string &base, double goal) {
    std::vector<double> ratios;
    for (int i = 0; i < kRuns; i++) ratios.push_back(loop_seconds(setup, ours) / loop_seconds(setup, base));
    std::sort(ratios.begin(), ratios.end());
    const double r = ratios[kRuns / 2];
    worst_margin = std::max(worst_margin, r / goal);
    std::printf("draw %s ratio: %.3f (goal %.2f)\n", name, r, goal);
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fake_host::reset();
    processes_init();
    config.headless = 1;
    init_default_coltabs();
    for (int k = 0; k < 3; k++) create_process_from_code("while true do flip() end", "idle", "/i.lua", "");
    // Eight displays for the process-video figure.
    std::string ids;
    for (int k = 0; k < 8; k++) {
        process_rec *v = create_process_from_code("while true do flip() end", "shown", "/v.lua", "");
        poke2_proc(v, 0x5478, 480);
        poke2_proc(v, 0x547A, 270);
        for (uint32_t a = 0x10000; a < 0x10000 + 480 * 270; a += 4096) poke_proc(v, a, 5);
        ids += (k ? "," : "") + std::to_string(v->id);
    }
    const std::string video_ids = "local V = {" + ids + "}";

    figure("pset", "", "for i = 1, 1000000 do pset(i % 480, i % 270, 7) end",
           "for i = 1, 1000000 do b_pset(i % 480, i % 270, 7) end", 1.2);
    figure("rectfill", "", "for i = 1, 1000000 do local x, y = i % 472, i % 262 rectfill(x, y, x + 7, y + 7, 7) end",
           "for i = 1, 1000000 do local x, y = i % 472, i % 262 b_rectfill(x, y, x + 7, y + 7, 7) end", 1.1);
    figure("spr", "", "for i = 1, 1000000 do spr(1 + i % 300, i % 464, i % 254) end",
           "for i = 1, 1000000 do b_spr(1 + i % 300, i % 464, i % 254) end", 1.05);
    figure("pset batch", "", "for i = 1, 40 do pset(B) end", "for i = 1, 40 do b_pset_batch(B) end", 1.25);
    figure("cls", "", "for i = 1, 10000 do cls() end", "for i = 1, 10000 do b_cls() end", 1.1);
    figure("map", "small_sprites()", "for i = 1, 300 do _draw_map(M, 0, 0, 0, 0, 60, 34, 0, 8, 8) end",
           "for i = 1, 300 do b_map(M, 8, 8, 8, 60, 34, 0, 0) end", 1.05);
    figure("map scaled", "", "for i = 1, 100 do _draw_map(M, 0, 0, 0, 0, 60, 34, 0, 8, 8) end",
           "for i = 1, 100 do b_map(M, 8, 8, 16, 60, 34, 0, 0) end", 1.05);
    figure("map culled", "small_sprites() camera(480 * 8, 495 * 8)",
           "for i = 1, 300 do _draw_map(M, 0, 0, 0, 0, 1024, 1024, 0, 8, 8) end",
           "for i = 1, 300 do b_map(M, 8, 8, 8, 60, 34, 480, 495) end", 1.05);
    figure("process video", video_ids,
           "for i = 1, 300 do for k = 1, 8 do _blit_process_video(V[k]) end end",
           "for i = 1, 300 do for k = 1, 8 do b_video(V[k]) end end", 1.02);
    std::printf("draw worst goal margin: %.3f\n", worst_margin);
    return 0;
}
