/*
** Slices of the frame's CPU budget, the frame start and end bookkeeping, the
** Lua allocator with its per-process byte account, and the memory limit.
** The slice counters themselves (cpu_cycles, cpu_cycles_max,
** cpu_superyielding) and spend_cpu are the scripting core's, in vm_hooks.h.
*/
#ifndef QUILLMAR_RUNTIME_SLICE_H
#define QUILLMAR_RUNTIME_SLICE_H

#include <stddef.h>
#include <stdint.h>

#include "process.h"

inline constexpr uint32_t FRAME_CYCLES = 279620;        /* one frame of virtual CPU time */
inline constexpr int32_t MAX_CYCLE_DEBT_START = 2796200; /* debt charged per slice: ten frames */
inline constexpr int64_t MEMORY_LIMIT = 0x2000000;      /* 32 MB: over it from 0x2000001 */
inline constexpr int64_t MEMORY_FIXED_CHARGE = 0x80000; /* 512 KB counted for every process */
/* Beyond this figure the allocator refuses to grow a running process at all:
   twice the limit, so a script cannot make the host grow without bound
   between two checks of the limit. */
inline constexpr int64_t MEMORY_HARD_CEILING = 0x4000000;
inline constexpr int TRACEBACK_MAX = 16383;             /* characters kept of a traceback */

extern uint32_t total_frame_cycles;               /* cycles of all slices this frame */
extern uint32_t total_frame_cycles_since_wm_flip; /* cycles since process 3 last flipped */
extern char fstl_buf[TRACEBACK_MAX + 1];          /* the last filtered traceback */

/* Runs one slice of rec for 'fraction' of a frame (what is left of the
   frame's budget at most) and returns the cycles used; 0 when no slice ran.
   A process that finishes or fails is handled (and perhaps removed) here;
   the current process is the caller's again afterwards, or null when the
   caller's record is gone. */
uint32_t run_process_slice(process_rec *rec, double fraction);

/* Frame start: per-process frame counters; the frame's total to 0. */
void prepare_processes_for_frame(void);

/* Frame end: clocks, collector modes, out-of-memory removals, the audio
   copy, process 3's mouse lock, the sockets; slot 0 becomes current. */
void update_processes_after_frame(void);

/* Copies 'text' (at most TRACEBACK_MAX characters) into fstl_buf, cut before
   the first "/system/"; returns fstl_buf. */
const char *filter_system_traceback_lines(const char *text);

uint32_t get_total_frame_cycles(void);
uint32_t get_total_frame_cycles_since_wm_flip(void);
int is_frame_over_cpu(void); /* always 0 */

/* own_page_bytes + lua_bytes - memory_baseline + MEMORY_FIXED_CHARGE. */
int64_t memory_figure(const process_rec *rec);

/* The allocator of every process's Lua state: every block carries an 8-byte
   header with its account size, counted to the current process. */
void *l_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
              size_t account_size);

#endif
