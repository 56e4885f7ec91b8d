// Presenting frames: enlargement, resampling, upload and copy.
#include "presentation.h"

#include <cassert>
#include <cstring>

#include "app_state.h"
#include "boot_hooks.h"
#include "host.h"
#include "window.h"

namespace {

// Scratch for the enlarged or resampled picture: up to 1920 x 1080.
uint32_t big_src[SCREEN_W * MAX_PREBLIT_SCALE * SCREEN_H * MAX_PREBLIT_SCALE];

inline uint32_t half(uint32_t x) { return (x >> 1) & 0x7F7F7F7Fu; }
inline uint32_t quarter(uint32_t x) { return (x >> 2) & 0x3F3F3F3Fu; }
inline uint32_t three_one(uint32_t a, uint32_t b) { return half(a) + quarter(a) + quarter(b); }
inline uint32_t even(uint32_t a, uint32_t b) { return half(a) + half(b); }

// One row of 480 pixels to 1280.
void resample_row(const uint32_t *src, uint32_t *out) {
    for (int32_t i = 0; i < SCREEN_W; i += 3, src += 3, out += 8) {
        const uint32_t a = src[0], b = src[1], c = src[2];
        out[0] = a;
        out[1] = a;
        out[2] = three_one(a, b);
        out[3] = b;
        out[4] = b;
        out[5] = even(b, c);
        out[6] = c;
        out[7] = c;
    }
}

}  // namespace

void preblit_frame(const uint32_t *frame, int32_t width, int32_t scale, uint32_t *out) {
    const int32_t out_w = SCREEN_W * scale;
    for (int32_t y = 0; y < SCREEN_H; y++) {
        const uint32_t *src = frame + size_t(y) * size_t(width);
        uint32_t *row = out + size_t(y) * size_t(scale) * size_t(out_w);
        uint32_t *o = row;
        for (int32_t x = 0; x < SCREEN_W; x++) {
            const uint32_t p = src[x];
            for (int32_t k = 0; k < scale; k++) *o++ = p;
        }
        for (int32_t k = 1; k < scale; k++) memcpy(row + size_t(k) * out_w, row, size_t(out_w) * 4);
    }
}

void resample_720p(const uint32_t *frame, int32_t width, uint32_t *out) {
    // The group's three source rows, widened once; the eight output rows are
    // written from them, so no output row is read back.
    static uint32_t rows[3][HD_W];
    for (int32_t y = 0; y < SCREEN_H; y += 3) {
        for (int k = 0; k < 3; k++) resample_row(frame + size_t(y + k) * size_t(width), rows[k]);
        const uint32_t *a = rows[0], *b = rows[1], *c = rows[2];
        uint32_t *g = out + size_t(y / 3) * 8 * HD_W;  // the group's 8 output rows
        memcpy(g, a, HD_W * 4);
        memcpy(g + HD_W, a, HD_W * 4);
        uint32_t *r2 = g + 2 * HD_W, *r5 = g + 5 * HD_W;
        for (int32_t x = 0; x < HD_W; x++) r2[x] = three_one(a[x], b[x]);
        memcpy(g + 3 * HD_W, b, HD_W * 4);
        memcpy(g + 4 * HD_W, b, HD_W * 4);
        for (int32_t x = 0; x < HD_W; x++) r5[x] = even(b[x], c[x]);
        memcpy(g + 6 * HD_W, c, HD_W * 4);
        memcpy(g + 7 * HD_W, c, HD_W * 4);
    }
}

extern "C" void blit_to_sdl_window_hardware(const uint32_t *frame, int32_t width) {
    assert(width == SCREEN_W && "video out passes 480-pixel rows");
    if (!frame || width != SCREEN_W || !sdl_renderer || !sdl_texture) return;

    sdl.SetHint(SDL_HINT_RENDER_SCALE_QUALITY, config.pixel_perfect || config.blit_720p ? "nearest" : "linear");

    const void *pixels = frame;
    int pitch = width * 4;
    if (config.blit_720p) {
        resample_720p(frame, width, big_src);
        pixels = big_src;
        pitch = HD_W * 4;
    } else if (preblit_scale >= 2 && preblit_scale <= MAX_PREBLIT_SCALE) {
        preblit_frame(frame, width, preblit_scale, big_src);
        pixels = big_src;
        pitch = width * 4 * preblit_scale;
    }
    sdl.UpdateTexture(sdl_texture, nullptr, pixels, pitch);

    SDL_Rect rect;
    get_dest_rect(&rect);
    if (rect.w == 0 || rect.h == 0) {
        if (!dest_rect_failure_logged) {
            codo_debug("** failed: blit_to_sdl_window_hardware can not find blit dest_rect\n");
            dest_rect_failure_logged = 1;
        }
        return;
    }
    // Black around the picture; nothing to paint when it covers the window.
    if (rect.x > 0 || rect.y > 0 || rect.x + rect.w < sdl_window_w || rect.y + rect.h < sdl_window_h) {
        sdl.SetRenderDrawColor(sdl_renderer, 0, 0, 0, 255);
        sdl.SetRenderDrawBlendMode(sdl_renderer, SDL_BLENDMODE_NONE);
        sdl.RenderClear(sdl_renderer);
    }
    sdl.RenderCopy(sdl_renderer, sdl_texture, nullptr, &rect);
    sdl.RenderPresent(sdl_renderer);
}

extern "C" void blit_to_sdl_window(const uint32_t *frame, int32_t width) { blit_to_sdl_window_hardware(frame, width); }
