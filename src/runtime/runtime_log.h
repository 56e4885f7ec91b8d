/*
** Formatted log lines of the runtime core, of any length.
*/
#ifndef QUILLMAR_RUNTIME_RUNTIME_LOG_H
#define QUILLMAR_RUNTIME_RUNTIME_LOG_H

/* Formats like printf and hands the text to codo_debug. Allocates only on
   the host heap and never raises, so Lua-facing code may call it anywhere. */
void runtime_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
