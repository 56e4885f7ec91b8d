/*
** The event pump: SDL's events turned, once per frame, into the key table,
** event texts for the window manager (pid 3), focus, quit and drop
** handling and controller hot-plugging; and the locked mouse that the
** window manager asks for through its memory.
*/
#ifndef QUILLMAR_PLATFORM_EVENT_PUMP_H
#define QUILLMAR_PLATFORM_EVENT_PUMP_H

#include <stdint.h>

inline constexpr int32_t KEY_COUNT = 512;

/* Keys read as up for this long (ms) after the window gains focus. */
inline constexpr uint64_t FOCUS_KEY_DELAY_MS = 100;

/* Locked movement is counted in 1/64 steps. */
inline constexpr int32_t LOCKED_STEP = 64;

extern uint32_t key_state[KEY_COUNT];       // this frame
extern uint32_t last_key_state[KEY_COUNT];  // the previous frame
extern int32_t last_mx, last_my, last_mb;   // the mouse last reported; -1 at start
extern float virtual_mx, virtual_my;        // the locked pointer, screen pixels
extern int32_t last_locked_host_mx, last_locked_host_my;
extern uint32_t event_sensitivity, move_sensitivity;

/* Clears the key tables and the pointer's remembered state (platform start
   and tests). */
void event_pump_reset(void);

/* One mouse-motion event at window position (x, y) while locked. */
void locked_motion(int32_t x, int32_t y);

extern "C" void handle_sdl_messages(void);
extern "C" void os_lock_mouse_cursor(int32_t flags, int32_t event_sensitivity, int32_t move_sensitivity);

#endif
