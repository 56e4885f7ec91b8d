/*
** The mount table: mounts of host folders, RAM folders, aliases and
** cartridges, and the resolution of virtual paths to their origins.
*/
#pragma once

#include <cstddef>
#include <cstdint>

#include "buffer.h"

/* Entries of the mount table. */
inline constexpr int PMOUNT_SLOTS = 2048;

/* The append that would make this many records is refused (and a prune
   requested), so a frame of automounting can never fill the table. */
inline constexpr int PMOUNT_APPEND_LIMIT = 2041;

/* Prune when this many records remain after writing back (cannot happen
   while appends stop at PMOUNT_APPEND_LIMIT; kept as the last guard). */
inline constexpr int PMOUNT_FATAL = 2046;

/* Delay between a mount's first change and its write-back. */
inline constexpr int64_t FLUSH_DELAY_MS = 300;

/* Delay before a failed write-back is tried again by the delayed flush. */
inline constexpr int64_t FLUSH_RETRY_MS = 5000;

/* Who made a mount (pmount_rec.made_by). */
enum : uint32_t {
    MOUNT_BY_HOST = 1,        /* mount_host_path */
    MOUNT_BY_RAM_FOLDER = 2,  /* mount_ram_folder */
    MOUNT_BY_ALIAS = 3,       /* mount_p_path */
    MOUNT_BY_CART = 4,        /* mount_kiv_path */
};

/* Bits of pmount_rec.warned: each failure is logged once per mount. */
enum : uint32_t {
    MOUNT_WARNED_NOT_WHOLE = 1,  /* "not writing back ...: it was not read whole" */
    MOUNT_WARNED_WRITE = 2,      /* "could not write back ..." */
    MOUNT_WARNED_TOO_LARGE = 4,  /* the user was told the cartridge is too large; not rebuilt until changed */
};

/*
** One mount. Records 0..pmounts-1 are in use, in the order they were made;
** they move only when pruning, delete_mount_point or pfile_reset remove one,
** so a record pointer stays valid across any other file operation (writing
** back included). A cartridge mount (made_by MOUNT_BY_CART) with load_ok 0
** is never written back over its file.
*/
struct pmount_rec {
    uint32_t kind;            /* 1 host folder, 2 RAM; aliases and cartridges take their origin's kind */
    buffer_rec *mount_point;  /* virtual path without a trailing '/'; the root is "" */
    buffer_rec *origin;       /* host folder (kind 1) or RAM path (kind 2) it stands for */
    uint32_t is_ram;          /* 1 for a plain RAM folder mount */
    uint32_t dirty;           /* 1: RAM files under it changed since the last write-back */
    int64_t flush_t;          /* pdisk_now_ms at which a dirty mount may be written back; 0 none */
    uint32_t made_by;         /* MOUNT_BY_HOST, _RAM_FOLDER, _ALIAS or _CART */
    uint32_t load_ok;         /* cartridges: 1 new or read whole, 0 never written back */
    uint32_t warned;          /* MOUNT_WARNED_* bits already logged */
};

extern pmount_rec pmount[PMOUNT_SLOTS];
extern int32_t pmounts;              /* records in use */
extern uint8_t block_automounting;   /* set while automounting or deleting */

/*
** A new buffer (tag '!') with the origin that 'path' resolves to, through
** the deepest mount (the first of equally deep ones); *kind is set to the
** mount's kind. With 'skip_exact' a mount whose mount point equals the path
** is passed over. Cartridge files the path runs through are mounted first.
** An illegal path, one no mount covers, or an origin rest holding a "." or
** ".." segment gives an empty buffer and leaves *kind alone.
*/
buffer_rec *resolve_to_origin(const char *path, int *kind, int skip_exact);

/* Mounts every cartridge file that the normalised 'path' runs through. */
void automount_p_path(const char *path);

/* What resolving the 'len' bytes of 'path' walks through cartridge files:
   *count leading parts of its canonical form name one, *bytes is the sum
   of their lengths, each tested for a file to mount by every resolution.
   Both 0 for an illegal path or one naming none. */
void pdisk_cart_prefix_work(const char *path, size_t len, uint64_t *count, uint64_t *bytes);

/* Appends a host mount of 'mount_point' on 'host_folder' (texts copied as
   they are, one trailing '/' cut from each). 0, or 1 when the table is full. */
int mount_host_path(const char *mount_point, const char *host_folder);

/* Appends a RAM folder mount at the normalised 'path'. 0, or 1 for an
   illegal path or a full table. */
int mount_ram_folder(const char *path);

/* Appends an alias at the normalised 'mount_point' for the origin 'target'
   resolves to. The record, or null for an illegal mount point or a full
   table. */
pmount_rec *mount_p_path(const char *mount_point, const char *target);

/* The cartridge mount of the cartridge file 'path', made (and filled from
   the file) when missing; null for an illegal path, a full table, or a
   folder that cannot be made. */
pmount_rec *mount_kiv_path(const char *path);

/* Removes the first mount at exactly 'path', writing it back first when
   dirty; a cartridge mount also loses its RAM files. 1 when one was
   removed, else 0. */
int delete_mount_point(const char *path);

/* "host:" and the origin for a host mount, the origin for a RAM mount, at
   exactly 'path'; null when none. Valid until the next call. */
const char *get_mount_description(const char *path);

/* Prints every mount, one line each. */
void print_mounts();

/* The name of the last cartridge folder made by mount_kiv_path. */
const char *pdisk_last_cart_folder();
