/*
** Write-back of dirty cartridge mounts, pruning of clean ones and the
** throttled sync step.
*/
#pragma once

#include <cstdint>

#include "pmount.h"

/* The sync step runs at most once per this many milliseconds unless forced. */
inline constexpr int64_t SYNC_INTERVAL_MS = 2000;

extern int64_t last_sync_t;  /* pdisk_now_ms of the last sync step */

/*
** Writes the cartridge mount 'm' back to its file when it is dirty and,
** with 'delayed', its deadline has passed and no process holds the
** exclusive run. A mount that was not read whole, or whose write fails,
** stays dirty (each logged once per mount); a failed write is retried by
** the delayed flush FLUSH_RETRY_MS later. Other dirty mounts just become
** clean.
*/
void flush_dirty_mount(pmount_rec *m, int delayed);

/* flush_dirty_mount (m, 0) for every mount, from the last to the first. */
void flush_dirty_mounts_immediately();

/* flush_dirty_mount (m, 1) for every mount, from the last to the first. */
void flush_dirty_mounts_delayed();

/* Removes every clean cartridge mount (with its RAM files) whose folder
   holds no alias's origin; returns the new mount count. */
int delete_clean_ram_mounts();

/* The frame end's pruning: a requested prune (when no exclusive process is
   set), or any frame with PMOUNT_APPEND_LIMIT mounts, writes every mount
   back and removes the clean cartridge mounts. */
void prune_mounts();

/* The sync step: clears pending_sync at most every SYNC_INTERVAL_MS (or at
   once with 'force'); closed host files need nothing more here. */
void sync_fs(int force);

/* Forgets the sync time (fresh start). */
void pdisk_reset_writeback_state();
