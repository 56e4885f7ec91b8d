// Rasteriser and video out benchmarks. Every result is a ratio of our time
// to a baseline's time measured in the same run (median of several runs),
// printed as "gfx <figure> ratio: R"; the last line is
// "gfx worst goal margin: M", the largest ratio divided by its goal.
// Bitmaps are 480 x 270 u8 with the default colour tables; the per-pixel
// baselines are the tests' reference code. Arguments pick groups (see main).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "address_space.h"
#include "blits.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "fake_host.h"
#include "pixel_reference.h"
#include "process.h"
#include "shapes.h"
#include "textured_lines.h"
#include "tline_reference.h"
#include "typed_ud.h"
#include "video_out.h"

namespace {

inline constexpr int RUNS = 9;            // measured runs per timing; the median counts
inline constexpr double FRAME_S = 0.016;  // the frame period video out is measured against

double once(const std::function<void()> &f) {
    auto a = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

double median(std::vector<double> t) {
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

double worst_margin = 0;

void report(const char *name, double ratio, double goal) {
    worst_margin = std::max(worst_margin, ratio / goal);
    std::printf("gfx %s ratio: %.4f\n", name, ratio);
    std::fflush(stdout);
}

// Times ours and the baseline in alternation, so that a burst of load on the
// machine falls on both, and reports the ratio of their medians.
void compare(const char *name, const std::function<void()> &ours, const std::function<void()> &base,
             double goal) {
    std::vector<double> a, b;
    for (int i = 0; i < RUNS; i++) {
        a.push_back(once(ours));
        b.push_back(once(base));
    }
    report(name, median(a) / median(b), goal);
}

// The median time of 'f' against a fixed period.
void against_period(const char *name, const std::function<void()> &f, int reps, double period,
                    double goal) {
    std::vector<double> a;
    for (int i = 0; i < RUNS; i++) a.push_back(once(f) / reps);
    report(name, median(a) / period, goal);
}

volatile uint64_t sink;

struct bitmap {
    typed_ud_rec *rec;
    explicit bitmap(uint32_t w = 480, uint32_t h = 270, int type = UTYPE_U8) {
        rec = static_cast<typed_ud_rec *>(
            std::calloc(1, TYPED_UD_HEADER + size_t(w) * h * utype_size(type)));
        rec->type = uint8_t(type);
        rec->dims = 2;
        rec->width = w;
        rec->height = h;
        rec->depth = 1;
    }
    ~bitmap() { std::free(rec); }
    uint8_t *px() { return ud_elements(rec); }
};

process_rec *proc;

void masks(uint8_t rm, uint8_t wm, uint8_t sprite_tm, uint8_t shape_tm, uint64_t pattern) {
    poke(REG_READ_MASK, rm);
    poke(REG_WRITE_MASK, wm);
    poke(REG_SPRITE_TARGET_MASK, sprite_tm);
    poke(REG_SHAPE_TARGET_MASK, shape_tm);
    poke8(REG_FILL_PATTERN, int64_t(pattern));
}

void target(typed_ud_rec *b) {
    proc->draw_target = b;
    poke2(REG_CLIP_X0, 0);
    poke2(REG_CLIP_Y0, 0);
    poke2(REG_CLIP_X1, int(b->width));
    poke2(REG_CLIP_Y1, int(b->height));
    refresh_clip(proc);
}

void memset_rows(uint8_t *p, int reps) {
    for (int r = 0; r < reps; r++) {
        for (int y = 0; y < 270; y++) std::memset(p + y * 480, r & 0x3F, 480);
        sink = sink + p[r % 129600];
    }
}

/* ---- fills ---- */

void fills() {
    bitmap b, base;
    target(b.rec);
    const int reps = 1000;
    masks(0x3F, 0xFF, 0, 0, 0);
    compare(
        "fill_fast",
        [&] {
            for (int r = 0; r < reps; r++) rectfill(b.rec, 0, 0, 479, 269, r & 0x3F);
        },
        [&] { memset_rows(base.px(), reps); }, 0.9);

    masks(0x3F, 0x3F, 0, 0, 0xA55AA55AA55AA55Aull);
    compare(
        "fill_pattern",
        [&] {
            for (int r = 0; r < reps; r++) rectfill(b.rec, 0, 0, 479, 269, 0x0507 + (r & 7));
        },
        [&] { memset_rows(base.px(), reps); }, 1.0);

    masks(0x3F, 0xFF, 0, 0x3F, 0);
    const int lreps = 20;
    compare(
        "fill_lookup",
        [&] {
            for (int r = 0; r < lreps; r++) rectfill(b.rec, 0, 0, 479, 269, r & 0x3F);
        },
        [&] {
            for (int r = 0; r < lreps; r++)
                for (int y = 0; y < 270; y++)
                    for (int x = 0; x < 480; x++) {
                        uint8_t &d = base.px()[y * 480 + x];
                        d = pixel_reference::shape(x, y, r & 0x3F, d);
                    }
        },
        0.6);
}

/* ---- blits ---- */

void blits(process_rec *other) {
    bitmap a, b;
    std::mt19937 rng(1);
    for (int i = 0; i < 129600; i++) a.px()[i] = uint8_t(rng());
    target(b.rec);
    const int reps = 1000;
    compare(
        "blit",
        [&] {
            for (int r = 0; r < reps; r++) blit(a.rec, b.rec, 0, 0, 0, 0, 480, 270);
        },
        [&] {
            for (int r = 0; r < reps; r++) {
                for (int y = 0; y < 270; y++) std::memcpy(b.px() + y * 480, a.px() + y * 480, 480);
                sink = sink + b.px()[r];
            }
        },
        1.1);

    compare(
        "blit_same_rows",
        [&] {
            for (int r = 0; r < reps; r++) blit(b.rec, b.rec, 0, 0, 1, 0, 479, 270);
        },
        [&] {
            for (int r = 0; r < reps; r++) {
                for (int y = 0; y < 270; y++)
                    std::memmove(b.px() + y * 480 + 1, b.px() + y * 480, 479);
                sink = sink + b.px()[r];
            }
        },
        1.2);

    // The other process's whole display, written once so every page exists.
    for (uint32_t i = 0; i < 129600; i++) poke_proc(other, 0x10000 + i, i % 2 ? 0x40 : 0x05);
    poke2_proc(other, REG_DISPLAY_WIDTH, 480);
    compare(
        "blit_from_ram",
        [&] {
            for (int r = 0; r < reps; r++)
                blit_from_ram(other, 0x10000, b.rec, 0, 0, 0, 0, 480, 270, 0);
        },
        [&] {
            for (int r = 0; r < reps; r++) {
                for (int y = 0; y < 270; y++) std::memcpy(b.px() + y * 480, a.px() + y * 480, 480);
                sink = sink + b.px()[r];
            }
        },
        1.2);

    const int mreps = 100;
    compare(
        "blit_from_ram_masked",
        [&] {
            for (int r = 0; r < mreps; r++)
                blit_from_ram(other, 0x10000, b.rec, 0, 0, 0, 0, 480, 270, 0x3F);
        },
        [&] {
            for (int r = 0; r < mreps; r++)
                for (uint32_t y = 0; y < 270; y++)
                    for (uint32_t x = 0; x < 480; x++) {
                        uint32_t addr = 0x10000 + y * 480 + x, p = addr >> 12, o = addr & 4095;
                        uint8_t s = int32_t(o) < other->page_len[p] ? other->page[p][o] : 8;
                        if (s & 0x3F) b.px()[y * 480 + x] = s;
                    }
        },
        0.3);
}

/* ---- sprites ---- */

void sprites() {
    bitmap b, spr(16, 16);
    std::mt19937 rng(2);
    for (int i = 0; i < 256; i++) spr.px()[i] = uint8_t(rng());
    target(b.rec);
    masks(0x3F, 0x3F, 0x3F, 0, 0);
    std::vector<std::pair<int, int>> at;
    for (int i = 0; i < 2000; i++) at.push_back({int(rng() % 464), int(rng() % 254)});
    compare(
        "sprites",
        [&] {
            for (int i = 0; i < 2000; i++)
                draw_spr(spr.rec, b.rec, 0, 0, at[size_t(i)].first, at[size_t(i)].second, 16, 16,
                         i % 5 == 0, 0);
        },
        [&] {
            for (int i = 0; i < 2000; i++)
                for (int y = 0; y < 16; y++)
                    for (int x = 0; x < 16; x++) {
                        int dx = at[size_t(i)].first + x, dy = at[size_t(i)].second + y;
                        uint8_t s = spr.px()[y * 16 + (i % 5 == 0 ? 15 - x : x)];
                        uint8_t &d = b.px()[dy * 480 + dx];
                        d = pixel_reference::sprite(dx, dy, s, d);
                    }
        },
        0.5);
}

/* ---- ellipses and lines, against what they drew through the span and pixel calls ---- */

struct span {
    int32_t x0, x1, y;
};

// The runs of pixels that differ from 0, row by row.
std::vector<span> runs_of(bitmap &b) {
    std::vector<span> out;
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) {
            if (!b.px()[y * 480 + x]) continue;
            int e = x;
            while (e + 1 < 480 && b.px()[y * 480 + e + 1]) e++;
            out.push_back({x, e, y});
            x = e;
        }
    return out;
}

void shapes_and_lines() {
    bitmap b;
    target(b.rec);
    masks(0x3F, 0xFF, 0, 0, 0);
    std::mt19937 rng(3);
    std::vector<std::pair<int, int>> centres;
    for (int i = 0; i < 1000; i++)
        centres.push_back({int(rng() % 680) - 100, int(rng() % 470) - 100});

    std::vector<std::vector<span>> spans;
    for (auto [x, y] : centres) {
        std::memset(b.px(), 0, 129600);
        draw_filloval(b.rec, x - 100, y - 100, x + 100, y + 100, 5);
        spans.push_back(runs_of(b));
    }
    compare(
        "circfill",
        [&] {
            for (auto [x, y] : centres) draw_filloval(b.rec, x - 100, y - 100, x + 100, y + 100, 5);
        },
        [&] {
            for (auto &list : spans)
                for (const span &s : list) draw_hline(b.rec, s.x0, s.x1, s.y, 5);
        },
        1.15);

    std::vector<std::pair<int, int>> points;
    for (auto [x, y] : centres) {
        std::memset(b.px(), 0, 129600);
        draw_oval(b.rec, x - 100, y - 100, x + 100, y + 100, 5);
        for (int i = 0; i < 129600; i++)
            if (b.px()[i]) points.push_back({i % 480, i / 480});
    }
    compare(
        "circ",
        [&] {
            for (auto [x, y] : centres) draw_oval(b.rec, x - 100, y - 100, x + 100, y + 100, 5);
        },
        [&] {
            get_masks_shape();
            for (auto [x, y] : points) putpixel(b.rec, x, y, 5);
        },
        1.3);

    struct line {
        int32_t x0, y0, x1, y1;
    };
    std::vector<line> lines;
    for (int i = 0; i < 10000; i++) {
        bool far = i % 2;
        auto c = [&](int size) {
            return far ? int32_t(rng() % 200000) - 100000 : int32_t(rng() % uint32_t(size));
        };
        lines.push_back({c(480), c(270), int32_t(rng() % 480), int32_t(rng() % 270)});
    }
    points.clear();
    for (const line &l : lines) {
        std::memset(b.px(), 0, 129600);
        draw_line(b.rec, l.x0, l.y0, l.x1, l.y1, 5);
        for (int i = 0; i < 129600; i++)
            if (b.px()[i]) points.push_back({i % 480, i / 480});
    }
    compare(
        "lines",
        [&] {
            for (const line &l : lines) draw_line(b.rec, l.x0, l.y0, l.x1, l.y1, 5);
        },
        [&] {
            get_masks_shape();
            for (auto [x, y] : points) putpixel(b.rec, x, y, 5);
        },
        1.15);
}

/* ---- textured lines ---- */

void floor_rows(typed_ud_rec *src, typed_ud_rec *dst, bool reference) {
    for (int y = 0; y < 270; y++) {
        double z = 270.0 / (y + 1), w = 1.0 / z;
        double u0 = -240 * z / 32 * w, u1 = 240 * z / 32 * w, v = z * 2 * w;
        if (reference)
            tline_reference::tline3d(proc, src, dst, 0, 0, y, 479, y, u0, v, u1, v, w, w);
        else
            draw_tline3d(src, dst, 0, 0, y, 479, y, u0, v, u1, v, w, w);
    }
}

void tlines() {
    bitmap b, tex(128, 128), map(32, 32, UTYPE_I16);
    std::mt19937 rng(4);
    for (int i = 0; i < 128 * 128; i++) tex.px()[i] = uint8_t(rng() & 0x3F);
    std::vector<bitmap *> sprites;
    for (int i = 1; i <= 16; i++) {
        sprites.push_back(new bitmap(8, 8));
        for (int k = 0; k < 64; k++) sprites.back()->px()[k] = uint8_t(rng() & 0x3F);
        proc->sprite[i] = sprites.back()->rec;
    }
    for (int i = 0; i < 1024; i++) {
        uint16_t cell = uint16_t(1 + rng() % 16);
        std::memcpy(map.px() + i * 2, &cell, 2);
    }
    target(b.rec);
    masks(0x3F, 0xFF, 0x3F, 0, 0);  // general rule: the write mask is not 0x3F
    compare(
        "tline_floor", [&] { floor_rows(tex.rec, b.rec, false); },
        [&] { floor_rows(tex.rec, b.rec, true); }, 0.6);
    masks(0x3F, 0x3F, 0x3F, 0, 0);
    compare(
        "tline_floor_fast", [&] { floor_rows(tex.rec, b.rec, false); },
        [&] { floor_rows(tex.rec, b.rec, true); }, 0.5);
    masks(0x3F, 0xFF, 0x3F, 0, 0);
    compare(
        "tline_map", [&] { floor_rows(map.rec, b.rec, false); },
        [&] { floor_rows(map.rec, b.rec, true); }, 0.7);
    for (auto &s : proc->sprite) s = nullptr;
    for (bitmap *s : sprites) delete s;
}

/* ---- video out ---- */

void video(process_rec *wm) {
    std::mt19937 rng(5);
    for (uint32_t i = 0; i < 129600; i++) poke_proc(wm, 0x10000 + i, rng());
    for (uint32_t a = 0x5000; a < 0x5400; a += 4) poke4_proc(wm, a, rng() & 0xFFFFFF);
    for (uint32_t a = 0x5400; a < 0x5444; a++) poke_proc(wm, a, rng());  // all four banks in use
    for (uint32_t a = 0x5480; a < 0x54C0; a++) poke_proc(wm, a, rng());
    fake_host::set_boot_time(2200);
    app.boot_release = 1;
    const int reps = 200;
    int32_t w, h;
    auto frames = [&] {
        for (int r = 0; r < reps; r++) sink = sink + generate_video_out(&w, &h)[r];
    };
    against_period("video_out", frames, reps, FRAME_S, 0.0025);
    poke_proc(wm, REG_VIDEO_MODE, 3);
    against_period("video_out_mode3", frames, reps, FRAME_S, 0.0035);
}

}  // namespace

// Groups named on the command line run alone (fills, blits, sprites, shapes,
// tlines, video); none runs all.
int main(int argc, char **argv) {
    auto wanted = [&](const char *group) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; i++)
            if (std::strcmp(argv[i], group) == 0) return true;
        return false;
    };
    processes_init();
    init_default_coltabs();
    proc = create_process_from_code("", "bench", "/t/bench.lua", "");
    process_rec *other = create_process_from_code("", "other", "/t/other.lua", "");
    process_rec *wm = create_process_from_code("", "wm", "/t/wm.lua", "");
    if (!proc || !other || !wm || wm->id != 3) {
        std::fprintf(stderr, "bench_gfx: could not create the processes\n");
        return 1;
    }
    cproc = proc;
    write_bytes_proc(proc, COLOUR_TABLES_ADDR, default_coltabs, sizeof default_coltabs);
    if (wanted("fills")) fills();
    if (wanted("blits")) blits(other);
    if (wanted("sprites")) sprites();
    if (wanted("shapes")) shapes_and_lines();
    if (wanted("tlines")) tlines();
    cproc = proc;
    if (wanted("video")) video(wm);
    std::printf("gfx worst goal margin: %.3f\n", worst_margin);
    return 0;
}
