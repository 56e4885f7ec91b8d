// The host window: creation from the display settings, placement of the
// picture, title, icon and minimising.
#include "window.h"

#include <cstdio>
#include <cstring>

#include "app_state.h"
#include "host.h"
#include "host_open.h"
#include "host_services.h"
#include "settings.h"

SDL_Window *sdl_window = nullptr;
SDL_Renderer *sdl_renderer = nullptr;
SDL_Texture *sdl_texture = nullptr;
int32_t sdl_window_w = 0, sdl_window_h = 0;
char sdl_window_title[WINDOW_TITLE_SIZE] = "Quillmar";
int32_t last_win_x = SDL_WINDOWPOS_UNDEFINED, last_win_y = SDL_WINDOWPOS_UNDEFINED;
int32_t last_win_w = 0, last_win_h = 0;
int32_t last_fullscreen = 0;
float renderer_scale_x = 1.0f, renderer_scale_y = 1.0f;
int32_t preblit_scale = 2;
int32_t texture_w = 0, texture_h = 0;
int use_custom_window_icon = 0;
uint32_t window_icon_dat[ICON_SIZE * ICON_SIZE];
int dest_rect_failure_logged = 0;

namespace {

void log_sdl_failure(const char *what) {
    char line[600];
    snprintf(line, sizeof line, "** %s failed: %s\n", what, sdl.GetError());
    codo_debug(line);
}

void release_window() {
    if (sdl_texture) sdl.DestroyTexture(sdl_texture);
    if (sdl_renderer) sdl.DestroyRenderer(sdl_renderer);
    if (sdl_window) sdl.DestroyWindow(sdl_window);
    sdl_texture = nullptr;
    sdl_renderer = nullptr;
    sdl_window = nullptr;
}

void apply_icon() {
    SDL_Surface *s = sdl.CreateRGBSurfaceFrom(window_icon_dat, ICON_SIZE, ICON_SIZE, 32, ICON_SIZE * 4, 0xFF0000,
                                              0xFF00, 0xFF, 0xFF000000);
    if (!s) return;
    sdl.SetWindowIcon(sdl_window, s);
    sdl.FreeSurface(s);
}

void set_scale_quality_hint() {
    sdl.SetHint(SDL_HINT_RENDER_SCALE_QUALITY, config.pixel_perfect || config.blit_720p ? "nearest" : "linear");
}

[[noreturn]] void fail_renderer() {
    printf("could not create renderer\n");
    codo_debug("could not create renderer\n");
    host_exit(1);
}

}  // namespace

SDL_Rect dest_rect_for(int32_t ww, int32_t wh) {
    SDL_Rect r = {0, 0, 0, 0};
    if (ww < 0) ww = 0;
    if (wh < 0) wh = 0;
    if (config.blit_720p) {
        r.w = HD_W;
        r.h = HD_H;
    } else if (config.pixel_perfect && config.stretch) {
        r.w = SCREEN_W * (ww / SCREEN_W);
        r.h = SCREEN_H * (wh / SCREEN_H);
    } else if (config.pixel_perfect) {
        int32_t s = ww / SCREEN_W < wh / SCREEN_H ? ww / SCREEN_W : wh / SCREEN_H;
        if (s < 1) s = 1;
        r.w = SCREEN_W * s;
        r.h = SCREEN_H * s;
    } else if (config.stretch) {
        r.w = ww;
        r.h = wh;
    } else if (ww > 0 && wh > 0) {
        if (double(ww) / double(wh) < 1.7777777777777777) {
            r.w = ww;
            r.h = int32_t(float(ww) * 270.0f / 480.0f);
        } else {
            r.h = wh;
            r.w = int32_t(float(wh) * 480.0f / 270.0f);
        }
    }
    r.x = (ww - r.w) / 2;
    r.y = (wh - r.h) / 2;
    return r;
}

void get_dest_rect(SDL_Rect *rect) {
    if (sdl_window) {
        int w = 0, h = 0;
        sdl.GetWindowSize(sdl_window, &w, &h);
        sdl_window_w = w;
        sdl_window_h = h;
    }
    *rect = dest_rect_for(sdl_window_w, sdl_window_h);
}

int32_t calculate_preblit_scale(int32_t w, int32_t h) {
    if (config.pixel_perfect || config.blit_720p) return 1;
    if (w >= 1440 && h >= 810) return 4;
    if (w >= 960 && h >= 540) return 3;
    return 2;
}

void window_reset(void) {
    release_window();
    sdl_window_w = sdl_window_h = 0;
    strcpy(sdl_window_title, "Quillmar");
    last_win_x = last_win_y = SDL_WINDOWPOS_UNDEFINED;
    last_win_w = last_win_h = 0;
    last_fullscreen = 0;
    renderer_scale_x = renderer_scale_y = 1.0f;
    preblit_scale = 2;
    texture_w = texture_h = 0;
    use_custom_window_icon = 0;
    dest_rect_failure_logged = 0;
}

extern "C" void os_apply_video_config(void) {
    if (config.headless) return;
    if (config.sdl_render_driver == 1) sdl.SetHint(SDL_HINT_RENDER_DRIVER, "opengl");

    if (sdl_window && last_fullscreen == 0) {
        sdl.GetWindowPosition(sdl_window, &last_win_x, &last_win_y);
        sdl.GetWindowSize(sdl_window, &last_win_w, &last_win_h);
    }

    if (config.pixel_scale == 0) config.pixel_scale = 2;
    else if (config.pixel_scale < 2) config.pixel_scale = 1;
    else if (config.pixel_scale > 16) config.pixel_scale = 16;
    const int32_t default_w = SCREEN_W * int32_t(config.pixel_scale);
    const int32_t default_h = SCREEN_H * int32_t(config.pixel_scale);

    SDL_DisplayMode desktop;
    memset(&desktop, 0, sizeof desktop);
    if (sdl.GetDesktopDisplayMode(0, &desktop) != 0) {
        desktop.w = default_w;
        desktop.h = default_h;
    }

    release_window();
    dest_rect_failure_logged = 0;

    Uint32 flags = SDL_WINDOW_SHOWN;
    if (config.allow_highdpi) flags |= SDL_WINDOW_ALLOW_HIGHDPI;
    int x = last_win_x, y = last_win_y, w = default_w, h = default_h;
    if (config.fullscreen) {
        if (config.fullscreen_window) {
            flags |= SDL_WINDOW_BORDERLESS;
            x = y = 0;
        } else {
            flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        }
        w = desktop.w;
        h = desktop.h;
    } else {
        flags |= SDL_WINDOW_RESIZABLE;
        if (last_win_w > 0) w = last_win_w;
        if (last_win_h > 0) h = last_win_h;
    }

    last_fullscreen = int32_t(config.fullscreen);
    char line[128];
    snprintf(line, sizeof line, "creating SDL window %d %d flags %d\n", w, h, int(flags));
    codo_debug(line);
    sdl_window = sdl.CreateWindow(sdl_window_title, x, y, w, h, flags);
    if (!sdl_window) log_sdl_failure("SDL_CreateWindow");

    sdl_renderer = sdl.CreateRenderer(sdl_window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!sdl_renderer) sdl_renderer = sdl.CreateRenderer(sdl_window, -1, SDL_RENDERER_SOFTWARE);
    if (!sdl_renderer) fail_renderer();

    set_scale_quality_hint();

    int ww = 0, wh = 0, ow = 0, oh = 0;
    sdl.GetWindowSize(sdl_window, &ww, &wh);
    sdl_window_w = ww;
    sdl_window_h = wh;
    renderer_scale_x = renderer_scale_y = 1.0f;
    if (sdl.GetRendererOutputSize(sdl_renderer, &ow, &oh) == 0 && ow != ww && ww > 0 && wh > 0) {
        renderer_scale_x = float(ow) / float(ww);
        renderer_scale_y = float(oh) / float(wh);
    }
    snprintf(line, sizeof line, "renderer_scale: %f,%f\n", double(renderer_scale_x), double(renderer_scale_y));
    codo_debug(line);
    sdl.RenderSetScale(sdl_renderer, renderer_scale_x, renderer_scale_y);
    sdl.SetRenderDrawColor(sdl_renderer, 0, 0, 0, 255);
    sdl.RenderClear(sdl_renderer);
    sdl.RenderPresent(sdl_renderer);

    if (config.blit_720p) {
        preblit_scale = 1;
        texture_w = HD_W;
        texture_h = HD_H;
    } else {
        preblit_scale = calculate_preblit_scale(ww, wh);
        texture_w = SCREEN_W * preblit_scale;
        texture_h = SCREEN_H * preblit_scale;
    }
    sdl_texture = sdl.CreateTexture(sdl_renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, texture_w,
                                    texture_h);
    if (!sdl_texture) log_sdl_failure("SDL_CreateTexture");

    if (use_custom_window_icon && sdl_window) apply_icon();
}

extern "C" void os_set_window_title(const char *title) {
    if (!title || strnlen(title, WINDOW_TITLE_SIZE) >= size_t(WINDOW_TITLE_SIZE)) return;
    strcpy(sdl_window_title, title);
    if (sdl_window) sdl.SetWindowTitle(sdl_window, sdl_window_title);
}

extern "C" void os_set_window_icon(const uint8_t *pixels, int32_t width, int32_t height, const uint32_t *palette) {
    (void)width;
    (void)height;
    if (!pixels || !palette) {
        use_custom_window_icon = 0;
        return;
    }
    constexpr int32_t kBlock = ICON_SIZE / 16;
    for (int32_t y = 0; y < ICON_SIZE; y++) {
        for (int32_t x = 0; x < ICON_SIZE; x++) {
            const uint8_t index = pixels[(y / kBlock) * 16 + x / kBlock];
            window_icon_dat[y * ICON_SIZE + x] = index == 0 ? 0u : (palette[index & 63] | 0xFF000000u);
        }
    }
    use_custom_window_icon = 1;
    if (sdl_window) apply_icon();
}

extern "C" void os_minimise_window(void) {
    if (sdl_window) sdl.MinimizeWindow(sdl_window);
}
