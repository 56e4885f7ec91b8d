/*
** The log file: log.txt in the default application-data folder, one
** "[ms pid] text" line per codo_debug. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_LOG_FILE_H
#define QUILLMAR_PLATFORM_LOG_FILE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the shared formatting scratch. */
#define CODO_DEBUG_STRING_SIZE 16384

/* Scratch text for callers that format a line before passing it to
   codo_debug. Main thread only. */
extern char codo_debug_string[CODO_DEBUG_STRING_SIZE];

/*
** codo_debug(text) (declared in host.h) writes one line: "[%06lld %03lld] %s"
** with the clock, the current process id and 'text' after one leading '>'
** and then one leading '<' are skipped. The first line of a run opens
** exp/shared/log.txt in the default application-data folder afresh
** (truncating it), whatever -home or block 0 say; when it does not open,
** nothing is logged and the next line tries again. Every line is flushed.
** Safe to call from any thread. A line the main thread writes while a
** process runs is charged to it: LOG_LINE_CYCLES.
*/
#define LOG_LINE_CYCLES 256

/* Flushes the log (nothing when it is not open). */
void codo_debug_flush(void);

/* Closes the log; the next line opens it afresh. */
void codo_debug_close(void);

/* Installs the clock of the log lines, in ms (null: os_get_time). */
void codo_debug_set_clock(int64_t (*now_ms)(void));

/* Installs the source of the current process id (null: the running process,
   0 when none). */
void codo_debug_set_pid_source(int64_t (*pid)(void));

#ifdef __cplusplus
}
#endif

#endif
