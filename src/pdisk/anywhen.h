/*
** The anywhen history store: a day log per UTC day and content-addressed
** blobs per month under "anywhen/" in the application-data folder, written
** as host files change, and the fetch of a file as it was at a given time.
*/
#pragma once

#include <cstdint>
#include <string>

#include "anywhen_hooks.h"
#include "buffer.h"

/*
** At each system reset: forgets which log the path table belongs to and
** records a time line labelled "__start_session" (when recording is on).
*/
void anywhen_open();

/* At exit: drops the path table and the read buffers. */
void anywhen_close();

/*
** The bytes of a file as they were at a given time. 'text' is a virtual
** path, '@', and a time "YYYY-MM-DD HH:MM:SS" (UTC). Returns a new buffer
** (cursor 0) holding the newest recorded version at or before that time,
** found in that day's log or, when that day has none, the latest earlier
** one; null for a malformed text or date (month 1-12, day 1-31, digits
** only), when nothing was recorded, or when the stored version cannot be
** read back exactly. A date after today (UTC) counts as today.
*/
buffer_rec *anywhen_fetch(const char *text);

/* ---- where the store lives, for tests and tools ---- */

/* "<application-data folder>anywhen" */
std::string anywhen_root_folder();

/* The day log that events of this moment go to. */
std::string anywhen_today_log_path();

/* Files and bytes read to record them since the program started. */
extern uint64_t anywhen_total_files_read;
extern uint64_t anywhen_total_bytes_read;
