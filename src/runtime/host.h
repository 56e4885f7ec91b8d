/*
** The runtime core's view of the rest of the host: the log, the clocks, the
** audio lock, the hooks other subsystems fill in, and the application state.
** C linkage. Production bodies live in the platform, API, typed-array,
** graphics and audio libraries; the runtime tests link tests/fakes instead.
*/
#ifndef QUILLMAR_RUNTIME_HOST_H
#define QUILLMAR_RUNTIME_HOST_H

#include <stdint.h>

#include "app_state.h"

#ifdef __cplusplus
extern "C" {
#endif

struct lua_State;

/* ---- platform services ---- */

/* Appends one line to the log (the text should end in a newline). */
void codo_debug(const char *text);

/* Milliseconds since the program started. */
int64_t os_get_time(void);

/* The one way out of the program: flushes standard output and the log,
   runs the shutdown work, then ends the program with 'status'. */
__attribute__((noreturn)) void host_exit(int status);

/* Raise and lower the audio-lock nesting level; the device lock is held while
   the level is above 0. Every unlock matches an earlier lock. */
void os_lock_audio(void);
void os_unlock_audio(void);

/* Size of every host-path buffer, terminating NUL included. */
#define HOST_PATH_SIZE 1024

/* The application-data folder (ending in '/'), then 'name', written into
   'out' (HOST_PATH_SIZE bytes), which is returned: the -home folder when
   set, else the default folder with its export sub-folder. A result that
   does not fit leaves 'out' empty and is logged. */
char *codo_prefix_with_appdata_path(const char *name, char *out);

/* Creates one host folder (0755). 0 on success, -1 when it exists or fails;
   callers ignore the result. */
int codo_mkdir(const char *path);

/* Boot time in milliseconds: frames since the first reading after a reset,
   times 16.6. Callers compare it as a signed value. */
uint32_t boot_get_time(void);

/* ---- hooks called at fixed places of the process lifecycle ---- */

/* Closes every socket owned by process 'id' (called when it is freed). */
void delete_sockets_by_process(int64_t id);

/* Advances every open socket once (frame end). */
void update_all_sockets(void);

/* Locks or frees the host mouse pointer (bit value 4 of 'flags') and stores
   the two sensitivities; called once per frame with process 3's registers. */
void os_lock_mouse_cursor(int32_t flags, int32_t event_sensitivity, int32_t move_sensitivity);

/* Stops every channel of the audio engine and the music. Takes one audio-lock
   level itself, so callers with or without the lock may call it. */
void mudo_kill_all_audio(void);

/* The audio bracket: 0 with one audio-lock level held for the caller's
   audio_op_end, or 1 without it. 'pid' 0 means the current audio focus. */
int audio_op_start(int64_t pid, int32_t force);
void audio_op_end(void);

/* ---- captures, fed by video out once per produced frame, in this order ---- */

/* The shown process's 256 display colours and 270 row banks (526 u32). */
void update_gif_recording(const uint32_t *display_pal);

/* The finished 480 x 270 frame of 0x00RRGGBB pixels. */
void update_screenshot(const uint32_t *frame);

/* ---- the four state initialisers, in the order creation calls them ---- */

void api_add_c_functions(struct lua_State *L);              /* the script API globals */
void os_add_public_c_functions(struct lua_State *L);        /* host calls: clipboard, opening paths */
void add_userdata_metatable_functions(struct lua_State *L); /* the typed-array method table */
void socket_add_public_c_functions(struct lua_State *L);    /* the socket calls */

#ifdef __cplusplus
}
#endif

#endif
