/*
** What the file system takes from its surroundings: the clocks, the running
** process's working folder, the exclusive process, the application-data
** folder and the generator of cartridge folder names. Each is settable so
** tests and start-up can supply their own.
*/
#pragma once

#include <cstdint>
#include <string>

/* ---- clocks ---- */

/* Milliseconds of a monotonic clock, 64 bits so deadlines never wrap. */
int64_t pdisk_now_ms();

/* Seconds since 1970-01-01 00:00:00 UTC, for the history's dates. */
int64_t pdisk_utc_now_s();

/* Fixes the monotonic clock at 'ms' until changed again (tests). */
void pdisk_set_clock_ms(int64_t ms);

/* Moves a fixed monotonic clock on by 'ms'. */
void pdisk_advance_clock_ms(int64_t ms);

/* Fixes the wall clock at 's' seconds since the epoch (tests). */
void pdisk_set_utc_s(int64_t s);

/* Both clocks follow the host again. */
void pdisk_use_host_clocks();

/* ---- the running process ---- */

/* The working folder of the running process, or "/" when none runs. */
const char *pdisk_current_pwd();

/* Installs the function that gives the running process's working folder
   (null: always "/"). The process table installs its own at start-up. */
void pdisk_set_pwd_source(const char *(*source)());

/* The id of the process holding the exclusive run, 0 when none. */
uint64_t pdisk_exclusive_pid();

/* Installs the function that reads the exclusive process (null: none). */
void pdisk_set_exclusive_source(uint64_t (*source)());

/* ---- application-data folder ---- */

/* The application-data folder, ending in '/'. Until set it is
   "${XDG_DATA_HOME:-$HOME/.local/share}/quillmar/". */
const std::string &pdisk_appdata_folder();

/* Sets the application-data folder; a '/' is added when missing. */
void pdisk_set_appdata_folder(const std::string &folder);

/* ---- cartridge folder names ---- */

/* Seeds the private generator of cartridge folder names. */
void pdisk_seed_folder_names(uint64_t seed);

/* The next letter 'a'..'z' of that generator. */
char pdisk_next_folder_letter();
