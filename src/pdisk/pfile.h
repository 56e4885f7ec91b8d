/*
** The file slots: every open host file and every RAM file or folder, and
** the operations that open, close, read, write and test them.
*/
#pragma once

#include <cstdint>

#include "buffer.h"

/* Entries of the file-slot table. */
inline constexpr int PFILE_SLOTS = 16384;

/* Below this many free slots the next frame end prunes cartridge mounts. */
inline constexpr int PFILE_RELIEF_FREE = 8192;

/* Host files of this size or more are never read. */
inline constexpr int64_t HOST_READ_MAX = int64_t(1) << 30;

/* Mode "rm" reads at most this much of a host file. */
inline constexpr int64_t HOST_READ_MAX_M = 65536;

/* Cycles charged for the write of a host file, besides length/8. */
inline constexpr int32_t HOST_WRITE_CYCLES = 69905;

/* Cycles charged for an existence probe of a host file ("re"). */
inline constexpr int32_t HOST_PROBE_CYCLES = 16;

/* Kinds of slot (pfile_rec.kind). */
enum : uint32_t {
    PFILE_FREE = 0,
    PFILE_HOST = 1,  /* an open host file, freed by pfclose */
    PFILE_RAM = 2,   /* a RAM file or folder: the slot is the file */
};

/*
** One file slot. A RAM slot's origin is unique among RAM slots and is the
** key of the origin index; a host slot lives from pfopen to pfclose. A host
** file opened 'w' is written to host_temp, which pfclose renames over
** host_target; one opened 'a' is appended to at pfclose.
*/
struct pfile_rec {
    uint32_t kind;            /* PFILE_FREE, PFILE_HOST or PFILE_RAM */
    buffer_rec *p_path;       /* normalised virtual path of the open; null on folders made by pmkdir */
    buffer_rec *origin;       /* RAM: the file's RAM name; host: the host path */
    buffer_rec *host_temp;    /* host 'w': the hidden temporary sibling; else null */
    buffer_rec *host_target;  /* host 'w': the file it replaces (a link's target); else null */
    buffer_rec *data;         /* contents (tag 'd'); its cursor is the file position */
    uint32_t attribs;         /* bit 0: folder */
    char mode[3];             /* letters of the last open, NUL-terminated; cleared by pfclose */
};

extern pfile_rec pfile[PFILE_SLOTS];
extern int32_t next_pfile_index;     /* round-robin cursor of the free-slot search, -1 at first */
extern uint32_t total_pdisk_calls;   /* pfopen calls */
extern uint8_t pending_sync;         /* a host file was written since the last sync */
extern uint8_t pending_prune;        /* the next frame end writes back and prunes */

/* Once per run: empties the slot and mount tables. */
void pfile_init();

/* At each reset: frees every RAM slot and empties the mount table; open
   host slots are left alone. */
void pfile_reset();

/*
** Opens 'path' with 'mode' (first letter r, w or a; second letter b, f, e
** or m) and returns its slot, or null for an illegal or unresolvable path,
** a missing file, a folder, a host file that is not a regular file or is
** 1 GiB or more, a failed host open, an unknown mode or a full table.
*/
pfile_rec *pfopen(const char *path, const char *mode);

/*
** Closes 'f': a host file opened 'w' or 'a' is written to the host now (a
** RAM file opened so marks its cartridge dirty). Returns 0, or 1 when the
** host write failed (logged; the old file is left as it was). Null: 0.
*/
int pfclose(pfile_rec *f);

/* Writes size*count bytes at the cursor; returns the bytes written. */
int64_t pfwrite(const void *src, int64_t size, int64_t count, pfile_rec *f);

/* Reads up to size*count bytes at the cursor; returns the bytes read. */
int64_t pfread(void *dst, int64_t size, int64_t count, pfile_rec *f);

/* 1 when a file (not a folder) is at 'path', else 0. */
int pdisk_file_exists(const char *path);

/* 1 when a folder is at 'path'; with 'follow', a mounted cartridge or RAM
   folder mount counts as one. */
int pdisk_directory_exists(const char *path, int follow);

/* Size in bytes of the file at 'path' (resolved with 'skip_exact'); 0 when
   missing. */
int64_t pfile_size(const char *path, int skip_exact);

/* Number of slots of 'kind' (0 free, 1 open host file, 2 RAM). */
int32_t pdisk_count_slots_by_kind(int kind);

/* 1 when the host folder 'host_path' exists. */
int host_directory_exists(const char *host_path);

/* ---- test support ---- */

/* When set, the origin index and the free-slot set are checked against a
   full scan of the table after every operation (aborts on a mismatch). */
extern bool pdisk_check_index_each_op;

/* Checks the origin index and the free-slot set against a full scan of
   the table; aborts on a mismatch. */
void pdisk_verify_index();

/* Frees everything (all slots, all mounts, the history's table) and forgets
   pfile_init, as at a fresh start of the program. */
void pdisk_shutdown();
