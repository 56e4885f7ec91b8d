/*
** Write-back of dirty cartridge mounts, pruning and the sync step.
*/
#include "writeback.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cart_codecs.h"
#include "cart_png.h"
#include "env.h"
#include "host.h"
#include "messages.h"
#include "paths.h"
#include "pdisk_internal.h"
#include "vm_hooks.h"

int64_t last_sync_t = 0;

namespace {

/* Cycles charged for each byte of the entries a write-back encodes (their
   names and contents), by cartridge kind: the text form only copies them,
   the ROM and the picture compress them; the picture's own pixels are
   compressed besides. Charged whether or not the result fits its file. */
inline constexpr uint64_t ENCODE_BYTES_PER_CYCLE_TEXT = 8;
inline constexpr uint64_t ENCODE_CYCLES_PER_BYTE_PACKED = 2;
inline constexpr uint64_t ENCODE_PICTURE_CYCLES = 65536;

void charge_encoding(const std::vector<cart_entry> &entries, int kind) {
    uint64_t n = 0;
    for (const cart_entry &e : entries) n += e.name.size() + e.data.size();
    uint64_t cycles = kind == 1 ? n / ENCODE_BYTES_PER_CYCLE_TEXT : n * ENCODE_CYCLES_PER_BYTE_PACKED;
    if (kind == 3) cycles += ENCODE_PICTURE_CYCLES;
    if (cycles > 0) spend_cpu(static_cast<int32_t>(cycles < INT32_MAX / 2 ? cycles : INT32_MAX / 2));
}

/* Builds the cartridge bytes of 'm' and writes them over its file: written
   when the file now holds them; the file is untouched otherwise. */
cart_encode_status write_back(pmount_rec *m, int kind) {
    const cart_codec &codec = pdisk_cart_codec(kind);
    if (!codec.encode) return cart_encode_status::refused;
    std::string bytes;
    {
        const std::vector<cart_entry> entries = pdisk_collect_entries(std::string(bview(m->origin)));
        charge_encoding(entries, kind);
        const cart_encode_status made = codec.encode(entries, bytes);
        if (made != cart_encode_status::written) return made;
    }
    const std::string point(bview(m->mount_point));
    pfile_rec *f = pfopen(point.c_str(), "wf");
    if (!f) return cart_encode_status::refused;
    const int64_t n = static_cast<int64_t>(bytes.size());
    if (pfwrite(bytes.data(), 1, n, f) != n) {
        pdisk_abandon(f);
        return cart_encode_status::refused;
    }
    return pfclose(f) == 0 ? cart_encode_status::written : cart_encode_status::refused;
}

}  // namespace

void flush_dirty_mount(pmount_rec *m, int delayed) {
    if (!m || !m->dirty) return;
    const int64_t now = pdisk_now_ms();
    if (delayed && (now < m->flush_t || pdisk_exclusive_pid() != 0)) return;
    const std::string point(bview(m->mount_point));
    const int kind = pdisk_cart_kind(point);
    if (kind == 0 || m->made_by != MOUNT_BY_CART) {
        m->dirty = 0;
        m->flush_t = 0;
        return;
    }
    if (!m->load_ok) {
        if (!(m->warned & MOUNT_WARNED_NOT_WHOLE)) {
            m->warned |= MOUNT_WARNED_NOT_WHOLE;
            pdisk_log("** not writing back %s: it was not read whole\n", point.c_str());
        }
        return;
    }
    // Too large to store: the user has been told; the file keeps its old
    // contents and the mount its changes until they change again.
    if (m->warned & MOUNT_WARNED_TOO_LARGE) return;
    const cart_encode_status made = write_back(m, kind);
    if (made == cart_encode_status::written) {
        m->dirty = 0;
        m->flush_t = 0;
        m->warned &= ~MOUNT_WARNED_WRITE;
        return;
    }
    if (made == cart_encode_status::too_large) {
        m->warned |= MOUNT_WARNED_TOO_LARGE;
        notify(CART_TOO_LARGE_MESSAGE);
        return;
    }
    m->flush_t = pdisk_now_ms() + FLUSH_RETRY_MS;
    if (!(m->warned & MOUNT_WARNED_WRITE)) {
        m->warned |= MOUNT_WARNED_WRITE;
        pdisk_log("** could not write back %s\n", point.c_str());
    }
}

void flush_dirty_mounts_immediately() {
    for (int i = pmounts - 1; i >= 0; i--) flush_dirty_mount(&pmount[i], 0);
}

void flush_dirty_mounts_delayed() {
    for (int i = pmounts - 1; i >= 0; i--) flush_dirty_mount(&pmount[i], 1);
}

int delete_clean_ram_mounts() {
    std::vector<bool> drop(static_cast<size_t>(pmounts), false);
    for (int i = 0; i < pmounts; i++) {
        const pmount_rec &m = pmount[i];
        drop[static_cast<size_t>(i)] = !m.dirty && m.made_by == MOUNT_BY_CART && !pdisk_alias_inside(bview(m.origin));
    }
    for (int i = 0; i < pmounts; i++)
        if (drop[static_cast<size_t>(i)]) pdisk_free_ram_within(bview(pmount[i].origin));
    pdisk_remove_mounts(drop);
    pdisk_after_op();
    return pmounts;
}

void prune_mounts() {
    bool pruned = false;
    if (pending_prune && pdisk_exclusive_pid() == 0) {
        pending_prune = 0;
        pruned = true;
    } else if (pmounts >= PMOUNT_APPEND_LIMIT) {
        pruned = true;
    }
    if (!pruned) return;
    flush_dirty_mounts_immediately();
    delete_clean_ram_mounts();
    if (pmounts >= PMOUNT_FATAL) {
        pdisk_log("** fatal: too many mounts (%d); could not prune.\n", pmounts);
        std::printf("** fatal: too many mounts (%d); could not prune.\n", pmounts);
        print_mounts();
        host_exit(0);
    }
}

void sync_fs(int force) {
    if (!pending_sync) return;
    const int64_t now = pdisk_now_ms();
    if (force || now - last_sync_t > SYNC_INTERVAL_MS || now < last_sync_t) {
        last_sync_t = now;
        pending_sync = 0;
    }
}

void pdisk_reset_writeback_state() { last_sync_t = 0; }
