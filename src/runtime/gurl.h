/*
** HTTP fetches: each GET runs on a worker thread of its own as a job of a
** 256-slot table; the caller gets the job's id at once and polls its state
** from the main thread. The bodies live in src/platform/gurl.cpp.
**
** A job record is shared by its slot and its worker through a reference
** count. When a new job lands in a slot whose worker still runs, the old
** record is flagged cancelled: its worker stops at its next chunk, calls no
** further callback and frees the record when it ends.
**
** Publishing: the worker stores each state with release ordering; once the
** final callback has returned it sets 'finished' (release). The main thread
** reads the response only after it has read 'finished' (acquire).
** C linkage.
*/
#ifndef QUILLMAR_RUNTIME_GURL_H
#define QUILLMAR_RUNTIME_GURL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define GURL_SLOTS 256

/* Job states. */
#define GURL_STARTED 0
#define GURL_RECEIVING 2
#define GURL_DONE 3
#define GURL_FAILED 4

/* The download cache takes cartridge images only from these two places. */
#define GURL_CART_HOST_PREFIX "https://carts.quillmar.invalid/"
#define GURL_CART_FORUM_PREFIX "https://www.quillmar.invalid/bbs/get_cart.php?cat=8&lid="

/* A growable byte string, always followed by a NUL. */
typedef struct gurl_buffer_rec {
    uint8_t *data;
    uint64_t length;
    uint64_t capacity;  /* always above length */
    uint64_t cursor;    /* write position, kept equal to length */
} gurl_buffer_rec;

typedef struct gurl_job_rec gurl_job_rec;

/* Called on the worker thread: once per chunk (state 2) and once at the end
   (state 3 or 4). */
typedef void (*gurl_callback)(gurl_job_rec *job);

struct gurl_job_rec {
    uint32_t id;
    gurl_buffer_rec *url;
    gurl_buffer_rec *extra;          /* null unless the caller gave one */
    gurl_buffer_rec *response;       /* the body so far */
    void *thread;                    /* the worker's thread record; main thread only */
    uint32_t state;                  /* GURL_*; atomic */
    void *curl;                      /* the easy handle while the transfer runs */
    uint64_t last_chunk_size;
    gurl_callback callback;
    uint32_t refs;                   /* slot and worker; atomic */
    uint32_t cancelled;              /* cut off from its slot; atomic */
    uint32_t finished;               /* final callback returned; atomic */
};

/* Limits of every transfer. */
typedef struct gurl_limits_rec {
    uint64_t max_body;               /* a body passing this fails: 0x2000000 */
    int64_t connect_timeout_ms;      /* 30 s */
    int64_t low_speed_bytes;         /* below this many bytes a second ... */
    int64_t low_speed_seconds;       /* ... for this long fails: 1024, 30 */
    int64_t max_time_ms;             /* a transfer running this long fails: 600 s */
} gurl_limits_rec;

extern gurl_limits_rec gurl_limits;

/* At most this many workers run at once, cut-off ones included. */
#define GURL_MAX_WORKERS 256

/* Starts a GET of 'url' ('extra' optional) on a new worker; returns the
   job's id, or 0xFFFFFFFF for a null url. Main thread. */
uint32_t gurl_get(const char *url, const char *extra, gurl_callback callback);

/* The job with that id, or null (never started, or its slot reused). */
gurl_job_rec *gurl_get_job(int64_t id);

/* A job's state (acquire) and whether its final callback has returned. */
uint32_t gurl_job_state(const gurl_job_rec *job);
int gurl_job_finished(const gurl_job_rec *job);

/* Appends 'count' bytes; false when memory runs out. */
int gurl_buffer_write(gurl_buffer_rec *b, const void *bytes, uint64_t count);

/* libcurl's one-time initialisation; main thread. */
void gurl_global_init(void);

/* Cancels every live job and waits up to 'wait_ms' for the workers to end;
   true when they all ended. */
int gurl_shutdown(int64_t wait_ms);

/* gurl_shutdown, then ids start again at 1: for tests. */
void gurl_reset_for_tests(void);

/* Workers alive now, and the most ever alive at once. */
int32_t gurl_live_workers(void);
int32_t gurl_peak_workers(void);

/* The two places the download cache takes cartridges from; null restores the
   default. For tests. */
void gurl_set_cart_prefixes(const char *host_prefix, const char *forum_prefix);
const char *gurl_cart_host_prefix(void);
const char *gurl_cart_forum_prefix(void);

#ifdef __cplusplus
}
#endif

#endif
