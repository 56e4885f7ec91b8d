// Video out: the shown process, its display colours and row banks, the
// display bytes through them, and the scaled video modes.
#include "video_out.h"

#include <cstring>

#include "boot_screen.h"
#include "draw_state.h"
#include "host.h"
#include "pixel_rule.h"

uint32_t back_page[VIDEO_W * VIDEO_H];
uint32_t display_pal[DISPLAY_PAL_ENTRIES];

namespace {

inline constexpr uint8_t FLAG_NO_FRAME = 2;  // bit 1 of 0x547F
inline constexpr uint32_t DIM_MASK = 0x7F7F7F7F;

// The record whose display is shown: the window manager once the boot
// screen is over, else the boot screen, drawn at most once per call.
process_rec *shown_process() {
    process_rec *boot = nullptr;
    auto boot_screen = [&]() {
        if (!boot) boot = draw_boot();
        return boot;
    };
    process_rec *wm = nullptr;
    for (int32_t i = 0; i < num_processes; i++)
        if (process[i] && process[i]->id == WM_PID) {
            wm = process[i];
            break;
        }
    process_rec *shown;
    if (wm && int32_t(boot_get_time()) >= int32_t(BOOT_SCREEN_MS)) {
        if (!app.boot_done) {
            codo_debug("@@ finished_boot_sequence\n");
            app.boot_done = 1;
        }
        shown = wm;
    } else {
        shown = boot_screen();
    }
    if (!app.boot_release) shown = boot_screen();
    return shown;
}

void compose_colours(const process_rec *rec) {
    uint8_t screen[64];
    uint32_t rgb[256];
    for (int i = 0; i < 64; i++) screen[i] = gfx::read_byte_nocreate(rec, REG_SCREEN_PALETTE + uint32_t(i)) & 63;
    for (int i = 0; i < 256; i++) rgb[i] = uint32_t(gfx::read_value_nocreate(rec, REG_RGB_PALETTE + 4 * uint32_t(i), 4));
    for (int i = 0; i < 256; i++) display_pal[i] = rgb[(i & 0xC0) | screen[i & 63]];
    if (app.reboot_requested)
        for (int i = 0; i < 256; i++) display_pal[i] = (display_pal[i] >> 1) & DIM_MASK;
    for (int y = 0; y < VIDEO_H; y++) {
        uint8_t b = gfx::read_byte_nocreate(rec, REG_ROW_BANKS + uint32_t(y >> 2));
        display_pal[256 + y] = (b >> ((2 * y) & 6)) & 3;
    }
}

// The display bytes of rec through the row's bank, a page run at a time;
// black where no bytes are served.
void convert_display(const process_rec *rec) {
    uint32_t a = DISPLAY_ADDR;
    for (int y = 0; y < VIDEO_H; y++) {
        const uint32_t *pal = display_pal + 64 * display_pal[256 + y];
        uint32_t *out = back_page + y * VIDEO_W;
        int x = 0;
        while (x < VIDEO_W) {
            uint32_t p = (a >> PAGE_SHIFT) & (NUM_PAGES - 1);
            int32_t o = int32_t(a & (PAGE_BYTES - 1));
            int32_t run = std::min(PAGE_BYTES - o, VIDEO_W - x);
            int32_t served = std::min(rec->page_len[p], PAGE_BYTES);
            if (served > o) {
                run = std::min(run, served - o);
                const uint8_t *src = rec->page[p] + o;
                int32_t i = 0;
                for (; i + 4 <= run; i += 4) {
                    out[x + i] = pal[src[i] & 63];
                    out[x + i + 1] = pal[src[i + 1] & 63];
                    out[x + i + 2] = pal[src[i + 2] & 63];
                    out[x + i + 3] = pal[src[i + 3] & 63];
                }
                for (; i < run; i++) out[x + i] = pal[src[i] & 63];
            } else {
                std::memset(out + x, 0, size_t(run) * 4);
            }
            x += run;
            a += uint32_t(run);
        }
    }
}

// Scales the top-left (480 / s) x (270 / s) of the frame up s times in place,
// and the row banks with it. Rows go bottom-up: the source row of row y lies
// at or above it and is read before it is overwritten; each group of s rows
// is built once, bottom row first, and copied upward.
void scale(int s) {
    for (int top = (VIDEO_H - 1) / s * s; top >= 0; top -= s) {
        int last = std::min(top + s - 1, VIDEO_H - 1);
        const uint32_t *src = back_page + (top / s) * VIDEO_W;
        uint32_t *dst = back_page + last * VIDEO_W;
        for (int x = VIDEO_W - 1; x >= 0; x--) dst[x] = src[x / s];
        for (int y = last - 1; y >= top; y--) std::memcpy(back_page + y * VIDEO_W, dst, VIDEO_W * 4);
        for (int y = last; y >= top; y--) display_pal[256 + y] = display_pal[256 + top / s];
    }
}

}  // namespace

extern "C" uint32_t *generate_video_out(int32_t *out_width, int32_t *out_height) {
    process_rec *rec = shown_process();
    if (!rec) return nullptr;
    if (gfx::read_byte_nocreate(rec, REG_PROCESS_FLAGS) & FLAG_NO_FRAME) return nullptr;
    compose_colours(rec);
    if (out_width) *out_width = VIDEO_W;
    if (out_height) *out_height = VIDEO_H;
    convert_display(rec);
    uint8_t mode = gfx::read_byte_nocreate(rec, REG_VIDEO_MODE);
    if (mode == 3) scale(2);
    if (mode == 4) scale(3);
    update_gif_recording(display_pal);
    update_screenshot(back_page);
    return back_page;
}
