/*
** Deleting, copying and making folders.
*/
#include "fsops.h"

#include <string>

#include "anywhen_hooks.h"
#include "env.h"
#include "host_fs.h"
#include "paths.h"
#include "pdisk_internal.h"

namespace {

/* delete_path's work; 1 when a host file or folder was removed, else 0. */
int delete_at(const char *path) {
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return 0;
    const int at = pdisk_mount_at(norm);
    if (at >= 0) {
        const uint32_t made_by = pmount[at].made_by;
        if (made_by == MOUNT_BY_HOST || made_by == MOUNT_BY_RAM_FOLDER) return 0;
        delete_mount_point(norm.c_str());
        if (made_by == MOUNT_BY_ALIAS) return 0;
    }
    automount_block hold;
    pdisk_resolved r;
    if (!pdisk_resolve(norm, false, &r)) return 0;
    if (r.kind == 1) {
        host_fs *fs = pdisk_host_fs();
        anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);
        const bool gone = fs->remove(r.origin.c_str()) == 0 || fs->rmdir(r.origin.c_str()) == 0;
        if (gone) anywhen_event(ANYWHEN_DELETED, norm.c_str(), nullptr);
        return gone ? 1 : 0;
    }
    if (pdisk_cart_inside(r.origin)) return 0;
    pdisk_mark_dirty(r.origin);
    const bool in_cart_root = r.origin.rfind("/ram/mount/", 0) == 0;
    const int s = pdisk_ram_slot(r.origin);
    if (in_cart_root || (s >= 0 && (pfile[s].attribs & 1)))
        pdisk_free_ram_within(r.origin);
    else if (s >= 0)
        pdisk_release_slot(s);
    pdisk_after_op();
    return 0;
}

}  // namespace

int delete_path(const char *path) {
    const int32_t ram_before = pdisk_count_slots_by_kind(PFILE_RAM);
    const int host_removed = delete_at(path);
    return host_removed + (ram_before - pdisk_count_slots_by_kind(PFILE_RAM));
}

int delete_ram_files_in_path(const buffer_rec *folder) {
    if (!folder) return 0;
    const int n = pdisk_free_ram_within(bview(folder));
    pdisk_after_op();
    return n;
}

int64_t fcopy(const char *src, const char *dst) {
    std::string src_norm, dst_norm;
    if (!src || !dst || !pdisk_normalise(src, &src_norm) || !pdisk_normalise(dst, &dst_norm)) return 0;
    pfile_rec *from = pfopen(src_norm.c_str(), "r");
    if (!from) return 0;
    const int64_t len = from->data->length;
    pdisk_resolved to;
    if (!pdisk_resolve(dst_norm, false, &to)) {
        pfclose(from);
        return 0;
    }
    if (static_cast<uint32_t>(to.kind) == from->kind && bview(from->origin) == to.origin) {
        pfclose(from);  // the same file: nothing to write
        return len;
    }
    pfile_rec *into = pfopen(dst_norm.c_str(), "w");
    if (!into) {
        pfclose(from);
        return 0;
    }
    pfwrite(from->data->data, 1, len, into);
    const int failed = pfclose(into);
    pfclose(from);
    return failed ? 0 : len;
}

int pmkdir(const char *path) {
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return 1;
    if (pdisk_cart_kind(norm) != 0) {
        pmount_rec *m = mount_kiv_path(norm.c_str());
        if (!m) return 1;
        m->dirty = 1;
        m->flush_t = pdisk_now_ms() + FLUSH_DELAY_MS;
        m->warned &= ~MOUNT_WARNED_TOO_LARGE;
        return 0;
    }
    pdisk_resolved r;
    if (!pdisk_resolve(norm, false, &r)) return 1;
    if (r.kind == 1) {
        anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);
        const int result = pdisk_host_fs()->mkdir(r.origin.c_str(), HOST_FOLDER_MODE);
        anywhen_event(ANYWHEN_FOLDER_MADE, norm.c_str(), nullptr);
        return result;
    }
    const int made = pdisk_ram_make_folder(r.origin);
    if (made == 2) {
        pdisk_too_many_files(" (during mkdir)");
        return 2;
    }
    if (made != 0) return 1;
    pdisk_mark_dirty(r.origin);
    pdisk_after_op();
    return 0;
}
