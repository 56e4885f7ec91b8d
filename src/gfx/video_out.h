/*
** Video out: the shown process's display (the window manager's, or the boot
** screen) as a 480 x 270 frame of 0x00RRGGBB pixels. C linkage.
*/
#ifndef QUILLMAR_GFX_VIDEO_OUT_H
#define QUILLMAR_GFX_VIDEO_OUT_H

#include <stdint.h>

inline constexpr int VIDEO_W = 480;
inline constexpr int VIDEO_H = 270;
inline constexpr int DISPLAY_PAL_ENTRIES = 256 + VIDEO_H; /* colours, then one bank per row */
inline constexpr uint32_t BOOT_SCREEN_MS = 2200; /* boot time the boot screen lasts at least */

#ifdef __cplusplus
extern "C" {
#endif

/* The last frame produced; kept when no new frame is. */
extern uint32_t back_page[VIDEO_W * VIDEO_H];

/* Entries 0-255: the shown process's display colours, bank x 64 + index;
   entries 256-525: the bank (0-3) of display rows 0-269. */
extern uint32_t display_pal[DISPLAY_PAL_ENTRIES];

/*
** Builds the frame and returns back_page, storing 480 and 270 in *out_width
** and *out_height; or returns null, leaving both and back_page untouched,
** when the shown process asks for no new frame (bit 1 of 0x547F). Feeds
** update_gif_recording and then update_screenshot once per frame produced.
** Creates no page and charges nothing.
*/
uint32_t *generate_video_out(int32_t *out_width, int32_t *out_height);

#ifdef __cplusplus
}
#endif

#endif
