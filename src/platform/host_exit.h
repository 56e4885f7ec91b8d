/*
** The one way out of the program. C linkage.
*/
#ifndef QUILLMAR_PLATFORM_HOST_EXIT_H
#define QUILLMAR_PLATFORM_HOST_EXIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Flushes standard output and the log, runs host_shutdown, then ends the
   program with 'status'. Never returns. */
__attribute__((noreturn)) void host_exit(int status);

/* Last work before the program ends: closing the audio device, stopping
   the HTTP workers. Called only by host_exit. */
void host_shutdown(void);

#ifdef __cplusplus
}
#endif

#endif
