// The boot screen: three nested outlines traced by six growing lines, the
// banner and the status line, or a full-screen system error, drawn by a
// private record that never runs.
#include "boot_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "address_space.h"
#include "boot_animation.h"
#include "draw_state.h"
#include "host.h"
#include "printer.h"
#include "private_record.h"
#include "typed_ud.h"
#include "version.h"

const uint32_t boot_palette[64] = {
    0x000000, 0x1D2B53, 0x7E2553, 0x008751, 0xAB5236, 0x5F574F, 0xC2C3C7, 0xFFF1E8,
    0xFF004D, 0xFFA300, 0xFFEC27, 0x00E436, 0x29ADFF, 0x83769C, 0xFF77A8, 0xFFCCAA,
    0x134284, 0x135FC6, 0x922D95, 0x125359, 0x742F29, 0x492D38, 0xA28879, 0xFFACC5,
    0xC3004C, 0xEB6B00, 0x90F642, 0x00B251, 0x83EBF5, 0xBD9ADF, 0xE40DAB, 0xFF856D,
};

namespace {

process_rec *g_boot_proc = nullptr;
typed_ud_rec *g_boot_back = nullptr;

inline constexpr int BOOT_PIXELS = BOOT_W * BOOT_H;       // 129600
inline constexpr int TEXT_X = 35, TEXT_Y = 200;

// Colours of the texts.
inline constexpr int BANNER_COLOUR = 7, STATUS_COLOUR = 14, ERROR_COLOUR = 14, ERROR_FIELD = 1;

struct boot_path {
    int32_t x0, y0, x1, y1, x2, y2, phase;
};

constexpr boot_path BOOT_PATHS[6] = {
    {0, 0, 479, 0, 479, 269, 0}, {0, 0, 0, 269, 479, 269, 5}, {3, 3, 476, 3, 476, 266, 1},
    {3, 3, 3, 266, 476, 266, 6}, {6, 6, 473, 6, 473, 263, 2}, {6, 6, 6, 263, 473, 263, 7},
};

uint8_t *boot_pixels() { return ud_elements(g_boot_back); }

void print_text(const char *text, int colour) {
    print_zenscii(g_boot_back, text, std::strlen(text), 0, colour);
}

// The point at fraction f of the segment (xs, ys)-(xe, ye), truncated.
void segment_point(int32_t xs, int32_t ys, int32_t xe, int32_t ye, double f, int32_t *x, int32_t *y) {
    *x = static_cast<int32_t>(xs + (xe - xs) * f);
    *y = static_cast<int32_t>(ys + (ye - ys) * f);
}

void draw_segment(uint8_t *pixels, int32_t xs, int32_t ys, int32_t xe, int32_t ye, double fa, double fb,
                  int32_t phase) {
    int32_t xa, ya, xb, yb;
    segment_point(xs, ys, xe, ye, fa, &xa, &ya);
    segment_point(xs, ys, xe, ye, fb, &xb, &yb);
    cline(pixels, xa, ya, xb, yb, phase);
}

}  // namespace

process_rec *boot_screen_proc(void) { return g_boot_proc; }
typed_ud_rec *boot_screen_back(void) { return g_boot_back; }

bool init_boot(void) {
    if (g_boot_back) return true;
    auto *rec = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
    typed_ud_rec *back = new_private_bitmap(BOOT_W, BOOT_H);
    if (!rec || !back) {
        std::free(rec);
        std::free(back);
        return false;
    }
    setup_private_record(rec, back, boot_palette);
    g_boot_proc = rec;
    g_boot_back = back;
    return true;
}

double nll(double t) {
    t = std::clamp(t, 0.0, 1.0);
    if (t < 0.5) return 2 * t * t;
    if (t > 0.5) return 1 - 2 * (1 - t) * (1 - t);
    return 0.5;
}

void cline(uint8_t *pixels, int32_t xa, int32_t ya, int32_t xb, int32_t yb, int32_t phase) {
    const int64_t n = std::max(std::llabs(static_cast<int64_t>(xb) - xa), std::llabs(static_cast<int64_t>(yb) - ya));
    if (n == 0) return;
    const int64_t dx = ((static_cast<int64_t>(xb) - xa) * 65536) / n;
    const int64_t dy = ((static_cast<int64_t>(yb) - ya) * 65536) / n;
    int64_t x = static_cast<int64_t>(xa) * 65536, y = static_cast<int64_t>(ya) * 65536;
    const bool alt = app.boot_alt_colours != 0;
    for (int64_t i = 0; i < n; i++) {
        const int64_t k = (y >> 21) + (x >> 21) + phase + (i % 3);
        const int64_t colour = alt ? 28 + k % 3 : 8 + k % 12;
        const int64_t px = x >> 16, py = y >> 16;
        if (px >= 0 && px < BOOT_W && py >= 0 && py < BOOT_H)
            pixels[py * BOOT_W + px] = static_cast<uint8_t>(colour);
        x += dx;
        y += dy;
    }
}

void draw_path(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t phase,
               uint8_t *pixels, double t0, double t1) {
    if (t0 < 0.5) draw_segment(pixels, x0, y0, x1, y1, 2 * t0, 2 * std::min(t1, 0.5), phase);
    if (t1 > 0.5) draw_segment(pixels, x1, y1, x2, y2, t0 < 0.5 ? 0.0 : 2 * (t0 - 0.5), 2 * (t1 - 0.5), phase);
}

process_rec *draw_boot(void) {
    process_rec *caller = cproc;
    // Without memory for the boot screen, a record with nothing mapped: black.
    static process_rec blank{};
    if (!init_boot()) return &blank;
    process_rec *rec = g_boot_proc;
    cproc = rec;
    char text[128];

    rec->clip_x0 = 0;
    rec->clip_x1 = BOOT_W;
    rec->clip_y0 = 0;
    rec->clip_y1 = BOOT_H;
    rec->clip_source = static_cast<uint64_t>(peek8(REG_CLIP_X0));
    get_masks_shape();

    process_rec *root = get_process(ROOT_PID);
    const uint8_t error = root ? peek_proc(root, 0) : 0;
    if (error) {
        poke4(REG_CURSOR_X, TEXT_X);
        poke4(REG_CURSOR_Y, TEXT_Y);
        poke4(REG_HOME_X, TEXT_X);
        std::memset(boot_pixels(), ERROR_FIELD, BOOT_PIXELS);
        std::snprintf(text, sizeof text, "** system error %d **\n", error);
        print_text(text, ERROR_COLOUR);
        cproc = caller;
        return rec;
    }

    const int32_t ms = static_cast<int32_t>(boot_get_time());
    const double u = 2.0 * ms / 1000 - 1;
    std::memset(boot_pixels(), 0, BOOT_PIXELS);

    const double tail = nll(std::clamp(u - 0.5, 0.0, 1.0)), head = nll(std::clamp(u, 0.0, 1.0));
    if (tail < 1 && head > 0)
        for (const boot_path &p : BOOT_PATHS)
            draw_path(p.x0, p.y0, p.x1, p.y1, p.x2, p.y2, p.phase, boot_pixels(), tail, head);

    poke4(REG_CURSOR_X, TEXT_X);
    poke4(REG_CURSOR_Y, TEXT_Y);
    poke4(REG_HOME_X, TEXT_X);
    if (u > 0.7) {
        std::snprintf(text, sizeof text, "\x06:3f7f5077057f7e00 Quillmar Workstation OS %s", QUILLMAR_VERSION);
        print_text(text, BANNER_COLOUR);
    }
    if (u > 1.2) {
        const char *status = "booting..\n";
        if (app.boot_done && !app.boot_release) status = "booting...\n";
        if (os_get_time() >= 4001) status = "booting....\n";
        if (os_get_time() >= 7001) status = "booting.....\n";
        for (int64_t pid = 1; pid <= 3; pid++) {
            const process_rec *p = get_process(pid);
            if (p && p->state != 0) {
                std::snprintf(text, sizeof text, "[* system error %d:%lld **]\n", static_cast<int>(pid),
                              static_cast<long long>(p->clock));
                status = text;
            }
        }
        print_text(status, STATUS_COLOUR);
    }
    cproc = caller;
    return rec;
}
