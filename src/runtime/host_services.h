/*
** Services of the platform layer that the script API and the network code
** call: keyboard and pointer, the window's title and icon, controller
** buttons, and worker threads. Declared here so that callers include no
** platform header; defined by the platform library. C linkage.
*/
#ifndef QUILLMAR_RUNTIME_HOST_SERVICES_H
#define QUILLMAR_RUNTIME_HOST_SERVICES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The state (0/1) of scancode 0..511 this frame; -1 asks whether any key is
   down (1/0). Any other value gives 0. */
int32_t os_key_state(int32_t scancode);

/* The host's name of the key at scancode 0..511, or null when it has none
   (or the scancode is out of range). The text is SDL's. */
const char *os_key_from_scancode(int32_t scancode);

/* Moves the host pointer to screen position (x, y) of the 480 x 270 picture
   and makes it the locked pointer's position. */
void os_warp_mouse_pointer(int32_t x, int32_t y);

/* Sets the window title; a title of 1024 characters or more is ignored. */
void os_set_window_title(const char *title);

/* Sets the window icon from a 16 x 16 image of colour indices (row length 16)
   through 'palette' (64 colours); index 0 is transparent. Null 'pixels'
   switches the custom icon off for windows made later. */
void os_set_window_icon(const uint8_t *pixels, int32_t width, int32_t height, const uint32_t *palette);

/* Sets 255 or a stick amount (0..255) in out[0..15] for each button player
   'player' holds; never clears. Player 0 also reads the keyboard. */
void os_get_button_states(int32_t player, uint8_t out[16]);

/* A worker thread named "quillmar_worker" running function(data). */
struct os_thread_rec;
struct os_thread_rec *os_create_thread(int (*function)(void *), void *data);

/* Detaches the record's thread (it cleans up after itself when it ends) and
   frees the record; waits for nothing. Null is ignored. */
void os_destroy_thread(struct os_thread_rec *record);

#ifdef __cplusplus
}
#endif

#endif
