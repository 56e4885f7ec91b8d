/*
** The runtime core's view of the rest of the host: the log, the clocks, the
** audio lock, the hooks other subsystems fill in, and the application state.
** C linkage. Production bodies live in the platform, API, typed-array and
** audio libraries; the runtime tests link tests/fakes instead.
*/
#ifndef QUILLMAR_RUNTIME_HOST_H
#define QUILLMAR_RUNTIME_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Appends one line to the log (the text should end in a newline). */
void codo_debug(const char *text);

#ifdef __cplusplus
}
#endif

#endif
