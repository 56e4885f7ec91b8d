/*
** Worker threads: SDL threads named "quillmar_worker".
*/
#ifndef QUILLMAR_PLATFORM_THREADS_H
#define QUILLMAR_PLATFORM_THREADS_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct os_thread_rec os_thread_rec;

/* Starts fn(data) on a new thread; the record's handle is null when the
   thread could not be started. */
os_thread_rec *os_create_thread(int (*fn)(void *), void *data);

/* True when the record holds a running (or finished, not yet detached) thread. */
int os_thread_started(const os_thread_rec *t);

/* Detaches the record's thread, which then cleans up after itself, and frees
   the record; a null record is ignored. Neither waits for nor stops it. */
void os_destroy_thread(os_thread_rec *t);

#ifdef __cplusplus
}
#endif

#endif
