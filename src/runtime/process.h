/*
** The process table: every program of the workstation is one record here,
** with its Lua state, its paged 16 MB address space, its inbox, its random
** generator and its CPU and memory counters. `cproc` is the current process,
** the implicit argument of every memory, drawing, audio and API call and of
** the Lua allocator.
*/
#ifndef QUILLMAR_RUNTIME_PROCESS_H
#define QUILLMAR_RUNTIME_PROCESS_H

#include <stdint.h>

#include "print_ctx.h"
#include "memory_map.h"
#include "rng.h"

struct lua_State;
struct buffer_rec;
struct typed_ud_rec;

inline constexpr int MAX_PROCESSES = 512;   /* slots of the table */
inline constexpr int FIRST_USER_PID = 4;    /* pids below are system processes */
inline constexpr int64_t ROOT_PID = 1;      /* the kernel */
inline constexpr int64_t WM_PID = 3;        /* the window manager */

/* Values of process_rec::state. */
inline constexpr int32_t PROC_RUNNING = 0;
inline constexpr int32_t PROC_ENDED = 1;    /* finished, killed, or out of memory */
inline constexpr int32_t PROC_STOPPED = 2;  /* stopped by a runtime error */

/* Values of process_rec::pending_action. */
inline constexpr int32_t PENDING_NONE = 0;
inline constexpr int32_t PENDING_KILL = 1;
inline constexpr int32_t PENDING_RESTART = 2;

/*
** One process. The record is one zeroed heap block that keeps its address
** from creation until the process is killed; a restart reuses it.
**
** Running chain: resume_depth is non-zero while the record's Lua state is
** being resumed (its slice is on the host's C stack, perhaps under nested
** slices). Such a record is never freed in place: a kill or restart sets
** state 1, records pending_action and ends the running slice; the record's
** own slice carries the action out when its resume has returned. The
** same holds while host_work is non-zero: the host is running the state
** outside a resume (a collection or the traceback after the slice), which
** runs the program's finalizers.
**
** Address space: for page p, offsets below page_len[p] are served from
** page[p] (the own page, or a typed array's elements); other offsets from
** page_own[p], made zeroed on first touch. mapped_pages has bit p set while
** page[p] points into a typed array.
*/
struct process_rec {
    /* What every slice and every frame touches comes first, together. */
    int64_t id;                       /* process id, never reused within one run */
    int32_t state;                    /* PROC_RUNNING, PROC_ENDED or PROC_STOPPED */
    int32_t cycle_debt;               /* overspent cycles charged to later slices; >= 0 */
    lua_State *lua_state;             /* the process's own state; null when loading failed */
    uint32_t slices_run;              /* slices granted */
    uint32_t resume_depth;            /* active resumes of lua_state: on the running chain */
    int32_t pending_action;           /* PENDING_*: what the record's own slice must do */
    uint32_t closing;                 /* free_process is closing the Lua state */
    uint32_t host_work;               /* the host runs lua_state outside a resume (a collection,
                                         the traceback): kills and restarts wait, no slice resumes it */
    uint64_t out_of_memory;           /* set when an allocation finally failed */
    uint64_t lua_bytes;               /* sum of the account sizes of live Lua blocks */
    uint64_t memory_baseline;         /* Lua bytes not counted against the limit */
    uint64_t own_page_bytes;          /* 4096 per own page allocated */
    uint32_t cycles_this_frame;       /* cycles used in the current frame */
    uint32_t cycles_since_flip;       /* cycles used since the last shown frame */
    uint32_t cycles_last_frame;       /* cycles used in the previous frame */
    uint32_t cycles_last_flip;        /* cycles of the last completed flip period */
    uint32_t flipped;                 /* showed a frame in this frame; cleared at frame start */
    uint32_t frames_since_flip;       /* frames since the last flip */
    uint32_t fps;                     /* 60 / (frames_since_flip + 1) at the last flip */
    uint64_t clock;                   /* process time in 1/60 s ticks */

    int64_t parent_id;                /* current process at creation or restart; 0 none */
    char name[64];                    /* at most 63 characters kept */
    char prog[256];                   /* program path, at most 255 characters kept */
    char argument[64];                /* optional argument text, at most 63 characters */
    int32_t has_argument;             /* 1 when argument is not empty */
    int32_t is_system;                /* 1 when prog begins with "/system/" */
    char *source;                     /* private copy of the source text (16 spare bytes) */
    char pwd[257];                    /* working folder, "/" at creation */
    double priority;                  /* 1.0 at creation */
    uint32_t high_priority;           /* set and cleared by the script API */
    typed_ud_rec *draw_target;        /* bitmap drawing goes to; null = no drawing */
    int32_t clip_x0, clip_x1, clip_y0, clip_y1; /* clip rectangle, x1 and y1 exclusive */
    uint64_t clip_source;             /* the eight clip register bytes it came from */
    typed_ud_rec *clip_target;        /* draw target the clip rectangle was built for */
    uint32_t clip_target_w, clip_target_h; /* that target's width and height at the time */
    uint32_t inverted_fill;           /* inverted-fill flag */
    uint32_t print_newline_flag;      /* printer state */
    print_ctx_rec print_ctx;          /* printer context */
    uint8_t *page[NUM_PAGES];         /* where each page's first page_len bytes live */
    int32_t page_len[NUM_PAGES];      /* bytes served by page[p]: 0..4096 */
    uint8_t page_flags[NUM_PAGES];    /* 255 after a write; bit 0 dirty for audio, bit 1 colour table */
    uint8_t *page_own[NUM_PAGES];     /* own zeroed 4 KB pages; null until needed */
    uint64_t mapped_pages[NUM_PAGES / 64]; /* bit p: page p mapped onto a typed array */
    typed_ud_rec *sprite[16384];      /* sprite slots of the script API */
    typed_ud_rec *map;                /* current map of the script API */
    uint8_t buttons_prev[8][16];      /* previous button states, players 0-7 */
    uint8_t buttons[8][16];           /* current button states */
    uint8_t buttons_released[128];    /* set when the API clears the buttons */
    int32_t btnp_counters[128];       /* repeat counters of button presses */
    uint32_t channel_cache[16][32];   /* audio channel states cached per frame (fields 0-18) */
    uint64_t channel_cache_stamp;     /* clock when channel_cache was filled */
    uint64_t active_channels_stamp;   /* clock when active_channels was read */
    int32_t active_channels;          /* last active-channel mask */
    buffer_rec *message_queue;        /* the inbox: NUL-terminated texts, oldest first */
    int32_t message_read;             /* inbox offset of the oldest unread message */
    rng_state_rec rng_state;          /* xoshiro256** state */
    uint32_t load_depth;              /* nesting counter of the scripting core's load */
    uint32_t stat_scratch;            /* the memory statistic's second argument */
    /* A long call's copy of an operand held outside the memory limit, one at
       most: made by the call, freed when it ends, when the userdata on its
       stack that stands for the copy is closed or collected, or with the
       process. */
    void *held_copy;                  /* the copy, or null */
    const void *held_copy_holder;     /* the userdata standing for it */
    uint64_t held_copy_bytes;         /* its size */
};

/* Whether the record's Lua state may not be resumed now: it is on the
   running chain, the host runs it outside a resume, or it is being closed. */
inline bool process_busy(const process_rec *rec) {
    return rec->resume_depth > 0 || rec->host_work > 0 || rec->closing > 0;
}


/* ---- the table ---- */
extern process_rec *process[MAX_PROCESSES]; /* live records in slots 0..num_processes-1 */
extern int32_t num_processes;               /* live slots */
extern int32_t process_id;                  /* id of the next process created */
extern process_rec *cproc;                  /* the current process, or null */

/* ---- creation and removal ---- */

/* Logs the creation, takes the next slot and the next id (the id is used up
   whatever happens) and builds the process. Returns the record, or null after
   a syntax error or when all MAX_PROCESSES slots are live. A process created
   while none is current stays current. */
process_rec *create_process_from_code(const char *code, const char *name, const char *prog,
                                      const char *argument);

/* Builds a process in the zeroed 'rec' (which must be in the table) from its
   texts; returns 0, or 1 after a load error (reported, no Lua state). */
int init_process(process_rec *rec, int64_t id, const char *code, const char *name,
                 const char *prog, const char *argument);

/* Rebuilds the live 'rec' in place with the same id and texts. */
void restart_process(process_rec *rec);

/* Kill by slot, by id or by record; anything naming no live slot is ignored.
   A record on the running chain is only marked (see process_rec). */
void kill_process_by_index(int32_t i);
void kill_process_by_id(int64_t id);
void kill_process(process_rec *rec);

/* Releases the Lua state, own pages, inbox, source, sockets and held copy of 'rec'. */
void free_process(process_rec *rec);

/* Frees the held copy of 'rec' (see process_rec), if any. */
void release_held_copy(process_rec *rec);

/* Kills every process, last slot first; the next process gets id 1. */
void processes_init(void);

/* ---- lookup ---- */
process_rec *get_process(int64_t id);
process_rec *get_process_by_index(int32_t i);
int32_t get_process_count(void);
process_rec *get_current_process(void);
int32_t get_cproc_id(void);

/* Slot of 'rec' in the table, or -1 when it is no live record. */
int32_t process_slot(const process_rec *rec);

/* True when 'rec' is a live record that still has id 'id'. */
bool process_is_live(const process_rec *rec, int64_t id);

/* Makes 'rec' current; a null 'rec' is a host bug and stops the program. */
void set_current_process(process_rec *rec);

/* A current process set aside while another is made current. */
struct remembered_process {
    process_rec *rec; /* the current process at the time, or null */
    int64_t id;       /* its id, to tell a record freed meanwhile */
};

remembered_process remember_current_process(void);

/* Makes the remembered process current again when it is still live, else
   leaves no process current. */
void restore_current_process(remembered_process r);

/* The shared 16 x 16 u8 typed array of zeros for empty sprite slots,
   rewritten on every call. */
typed_ud_rec *get_null_sprite(void);

/* Prints the 64 bytes at 'p' as hex and as characters on standard output. */
void dump_ptr(const void *p);

#endif
