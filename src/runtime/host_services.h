/*
** Host services the script API calls in layers above it: the keyboard,
** mouse, controllers and window of the platform layer, the captures, the
** settings, the desktop folder, the build's identity and the event pump.
** Declared here, below the API; defined in src/platform/. The API reaches
** them only through its seam table (src/api/api_host.h). C linkage, except
** start_frame.
*/
#ifndef QUILLMAR_RUNTIME_HOST_SERVICES_H
#define QUILLMAR_RUNTIME_HOST_SERVICES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- keyboard and mouse ---- */

/* The state (0/1) of scancode 0..511; -1 asks whether any key is down (1/0). */
int32_t os_key_state(int32_t scancode);

/* The host's name of the key at 'scancode', or null when it has none. */
const char *os_key_from_scancode(int32_t scancode);

/* Moves the host pointer to (x, y) and sets the virtual position to it. */
void os_warp_mouse_pointer(int32_t x, int32_t y);

/* ---- controllers ---- */

/* Number of button states of one player. */
#define HOST_BUTTONS_PER_PLAYER 16

/* Sets the pressed buttons of 'player' (0..7) in 'out' (16 strengths,
   0..255); never clears an entry, so the caller starts from zeros. */
void os_get_button_states(int32_t player, uint8_t *out);

/* ---- window ---- */

/* A 16 x 16 image of colour indices (row length 16) becomes the window's
   icon through 'palette' (64 colours 0x00RRGGBB); null pixels switch the
   custom icon off. 'width' and 'height' are not consulted. */
void os_set_window_icon(const uint8_t *pixels, int32_t width, int32_t height,
                        const uint32_t *palette);

/* Stores the window title (ignored at 1024 characters or more). */
void os_set_window_title(const char *title);

/* ---- captures ---- */

/* Reads the running process's screenshot parameters and arms a capture. */
void request_screenshot(void);

/* Opens a GIF recording: 0 when it was opened, 1 otherwise. */
int32_t gif_start(void);

/* Ends the GIF recording and writes it: 1 when writing failed, else 0. */
int32_t gif_end(void);

/* Starts an audio capture into a new buffer and sets the capture flag; 0. */
int32_t audio_capture_start(void);

/* Stores the audio capture and stops it: 1 when no file opened, else 0. */
int32_t audio_capture_end(void);

/* ---- settings and host folders ---- */

/* Stores one named setting in `config` (unknown names are ignored). */
void quillmar_apply_setting(const char *key, int32_t value);

/* Applies the stored video and sound settings to the host. */
void quillmar_apply_settings(void);

/* The desktop folder, then '/' and 'name', in 'out' (HOST_PATH_SIZE bytes,
   host.h); only 'name' when no desktop folder is known. Returns 'out'. */
char *codo_prefix_with_desktop_path(const char *name, char *out);

/* ---- worker threads ---- */

/* A worker thread named "quillmar_worker" running function(data); the
   record's thread is null when SDL could not start it. */
struct os_thread_rec;
struct os_thread_rec *os_create_thread(int (*function)(void *), void *data);

/* Detaches the record's thread (it cleans up after itself when it ends) and
   frees the record; waits for nothing. Null is ignored. */
void os_destroy_thread(struct os_thread_rec *record);

/* ---- the build ---- */

/* The build's number, version text and date stamp, as the start-up log
   lines give them; any out-pointer may be null. */
void quillmar_build_info(int64_t *number, const char **version, const char **stamp);

#ifdef __cplusplus
}

/* One pass of the host event pump. */
void start_frame();
#endif

#endif
