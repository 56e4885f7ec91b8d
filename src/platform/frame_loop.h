/*
** One frame of the machine and the orderly way out. `main` calls
** system_frame for ever; the program ends only through the exit path or a
** fatal condition.
*/
#ifndef QUILLMAR_PLATFORM_FRAME_LOOP_H
#define QUILLMAR_PLATFORM_FRAME_LOOP_H

#include <stdint.h>

/* The frame period, and the period while the battery saver finds the user idle. */
inline constexpr uint32_t FRAME_PERIOD_MS = 16;
inline constexpr uint32_t IDLE_FRAME_PERIOD_MS = 32;

/* Pacing sleeps 1 ms at a time and gives up after this many, so a clock
   that misbehaves costs a frame about 100 ms at most. */
inline constexpr int MAX_PACING_SLEEPS = 100;

/* No host input for longer than this (ms) counts as idle. */
inline constexpr uint64_t IDLE_AFTER_INPUT_MS = 500;

/* An exit request waits at most this many frames for an exclusive process,
   then the exit path runs at most EXIT_BARE_FRAMES more root slices. */
inline constexpr uint32_t EXIT_WAIT_FRAMES = 60;
inline constexpr int EXIT_BARE_FRAMES = 120;

/* Printed (with a line break) and logged when pid 1 has ended. */
inline constexpr const char *ROOT_ENDED_MESSAGE = "** root process ended";

extern uint64_t last_t; /* tick count at the end of the previous frame */

/*
** One frame: a pending reboot (unless a process holds the exclusive run),
** a pending exit, the platform start on the very first frame, the event
** pump, the root process's slice with the frame bookkeeping around it, the
** file system's write-back, pruning and sync, and end_frame. Ends the
** program (status 1) when the root process has ended.
*/
void system_frame();

/* Video out and presentation unless headless, the reaping of host openers,
   the idle test and the pacing to the frame period. */
void end_frame();

/* Pumps host events (also used to pump on demand). */
void start_frame();

/* The exit path: up to EXIT_BARE_FRAMES bare root slices while a process
   holds the exclusive run, write-back and sync, sockets closed, history
   session closed. The caller then ends the program with status 0. */
void quillmar_exit();

/* Replaces video out (tests); null restores generate_video_out. */
void frame_set_video_out(uint32_t *(*video_out)(int32_t *width, int32_t *height));

#endif
