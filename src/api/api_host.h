/*
** The seam between the script API and the layers above and beside it: every
** call the API makes into the window and input layer, the captures, the
** settings, the event pump and the mixer goes through this one table of
** function pointers. It starts out pointing at the real functions
** (host_services.h, mixer_queries.h); tests swap entries for recording fakes
** and put them back with api_host_reset.
*/
#ifndef QUILLMAR_API_API_HOST_H
#define QUILLMAR_API_API_HOST_H

#include <stdint.h>

struct api_host_rec {
    /* keyboard, mouse and controllers */
    int32_t (*key_state)(int32_t scancode);               /* os_key_state */
    const char *(*key_from_scancode)(int32_t scancode);   /* os_key_from_scancode */
    void (*get_button_states)(int32_t player, uint8_t *out); /* os_get_button_states */
    void (*warp_mouse_pointer)(int32_t x, int32_t y);     /* os_warp_mouse_pointer */
    /* window */
    void (*set_window_icon)(const uint8_t *pixels, int32_t width, int32_t height,
                            const uint32_t *palette);     /* os_set_window_icon */
    void (*set_window_title)(const char *title);          /* os_set_window_title */
    /* captures */
    void (*request_screenshot)(void);
    int32_t (*gif_start)(void);
    int32_t (*gif_end)(void);
    int32_t (*audio_capture_start)(void);
    int32_t (*audio_capture_end)(void);
    /* settings and the event pump */
    void (*apply_setting)(const char *key, int32_t value); /* quillmar_apply_setting */
    void (*apply_settings)(void);                          /* quillmar_apply_settings */
    void (*start_frame)(void);
    /* the mixer, called only inside the audio bracket */
    int32_t (*get_channel_state)(int32_t channel, int32_t field, uint8_t *dest);
    int32_t (*get_active_channels)(void);
    int32_t (*get_music_state)(int32_t which);
};

extern api_host_rec api_host;

/* What a call that pumps the host's events (start_frame) is charged: the
   window system's queue read and the key and mouse state taken, 3.6 us with
   SDL on X11 and 0.6 us with no window system (1,024 cycles: 1.4 us). */
inline constexpr int32_t EVENT_PUMP_CYCLES = 1024;

/* Points every entry at its real function again. */
void api_host_reset(void);

#endif
