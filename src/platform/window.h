/*
** The host window: its renderer and streaming texture, made from the
** display settings, the picture's place in it, its title and icon.
*/
#ifndef QUILLMAR_PLATFORM_WINDOW_H
#define QUILLMAR_PLATFORM_WINDOW_H

#include <stdint.h>

#include "sdl_seam.h"

/* The size of the frame video out produces. */
inline constexpr int32_t SCREEN_W = 480;
inline constexpr int32_t SCREEN_H = 270;

/* The resampled picture's size. */
inline constexpr int32_t HD_W = 1280;
inline constexpr int32_t HD_H = 720;

inline constexpr int32_t MAX_PREBLIT_SCALE = 4;
inline constexpr int32_t ICON_SIZE = 128;
inline constexpr int32_t WINDOW_TITLE_SIZE = 1024;

extern SDL_Window *sdl_window;       // null before the first configuration
extern SDL_Renderer *sdl_renderer;
extern SDL_Texture *sdl_texture;     // null also when it could not be made
extern int32_t sdl_window_w, sdl_window_h;  // window coordinates, refreshed by get_dest_rect
extern char sdl_window_title[WINDOW_TITLE_SIZE];
extern int32_t last_win_x, last_win_y, last_win_w, last_win_h;
extern int32_t last_fullscreen;
extern float renderer_scale_x, renderer_scale_y;
extern int32_t preblit_scale;
extern int32_t texture_w, texture_h;
extern int use_custom_window_icon;
extern uint32_t window_icon_dat[ICON_SIZE * ICON_SIZE];
extern int dest_rect_failure_logged;  // the failed-rectangle line was logged for this window

/* The picture's place in the window (window coordinates). */
void get_dest_rect(SDL_Rect *rect);

/* The same placement for a window of w x h, from the display settings. */
SDL_Rect dest_rect_for(int32_t w, int32_t h);

/* The whole factor (1..4) the frame is enlarged by before upload in a
   window of w x h. */
int32_t calculate_preblit_scale(int32_t w, int32_t h);

/* Releases texture, renderer and window and forgets every remembered size
   and icon (platform start and tests). */
void window_reset(void);

#endif
