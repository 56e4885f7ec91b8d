/*
** Start-up: the program's first steps (the system data file, the settings
** and the command line) and reset_app_state, the (re)boot sequence that
** brings the machine from nothing to a root process ready to run
** /system/boot.lua.
*/
#ifndef QUILLMAR_PLATFORM_STARTUP_H
#define QUILLMAR_PLATFORM_STARTUP_H

#include <stdint.h>

struct process_rec;

/* Printed (with a line break) and logged when block 1 is missing. */
inline constexpr const char *SYSROM_NOT_FOUND_MESSAGE = "sysrom.dat not found";

/* The file the root process boots, and what a missing or broken one prints. */
inline constexpr const char *BOOT_FILE_PATH = "/system/boot.lua";
inline constexpr const char *BOOT_FILE_MISSING_MESSAGE = "could not find /system/boot.lua";
inline constexpr const char *BOOT_FILE_ERROR_MESSAGE = "error in /system/boot.lua";

/* The root process's own chunk, name and program path. */
inline constexpr const char *ROOT_PROCESS_CODE = "--[[ :: root process :: ]]";
inline constexpr const char *ROOT_PROCESS_NAME = "[root]";

extern process_rec *root_process;              /* pid 1 as made by the last (re)boot */
extern int system_inited;                      /* the first frame has started the platform */
extern uint64_t debug_system_frames_since_reboot; /* frames since the last (re)boot; nothing reads it */

/*
** The program's steps before the frame loop: keeps argv[0], reads the
** blocks of sysrom.dat beside the program, gives `config` its defaults,
** applies the command line, logs the version and runs reset_app_state.
** Returns only when the root process is ready.
*/
void quillmar_start(int argc, char **argv);

/*
** The (re)boot sequence. Zeroes `app` (after the captures' reset), empties
** the process table, the RAM files and the mounts, mounts /ram, the
** configuration file's folders and /host_data, creates the root process,
** fills /system from block 1 and loads /system/boot.lua into the root's
** Lua state, opens the history session and mounts block 2 at /ram/expcart.
** A missing block 1 or boot file, or one that does not compile, prints its
** message and ends the program with status 1.
*/
void reset_app_state();

/* The reboot: write back dirty mounts, log "--- rebooting ---", reset. */
void do_reboot();

#endif
