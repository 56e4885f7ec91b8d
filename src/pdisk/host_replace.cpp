// Replacing a host file through a temporary, over the host-file seam.
#include "host_replace.h"

#include <cstring>

#include "pdisk_internal.h"

namespace {

/* Whether the last folder sync failed: a failure is logged when it starts. */
bool g_sync_failing = false;

/* The folder part of 'path' ("." when it has none). */
std::string folder_of(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (!slash) return ".";
    if (slash == path) return "/";
    return std::string(path, static_cast<size_t>(slash - path));
}

/* Removes temporaries 0 .. below 'end' of 'target' that are not held. */
void remove_temps_below(host_fs *fs, const char *target, int end, host_temp_held held) {
    for (int n = 0; n < end; n++) {
        const std::string name = host_temp_name(target, n);
        if (held && held(name)) continue;
        fs->remove(name.c_str());
    }
}

}  // namespace

std::string host_temp_name(const char *target, int n) {
    const char *slash = std::strrchr(target, '/');
    std::string name = slash ? std::string(target, static_cast<size_t>(slash - target) + 1) : std::string();
    const char *stem = slash ? slash + 1 : target;
    name += '.';
    name.append(stem, strnlen(stem, HOST_TEMP_STEM_MAX));
    name += ".tmp.";
    name += std::to_string(n);
    return name;
}

int host_temp_number(const char *temp_path) {
    const char *at = std::strrchr(temp_path, '.');
    if (!at || at[1] == 0) return -1;
    int n = 0;
    for (const char *c = at + 1; *c; c++) {
        if (*c < '0' || *c > '9' || n >= HOST_TEMP_TRIES) return -1;
        n = n * 10 + (*c - '0');
    }
    return n < HOST_TEMP_TRIES ? n : -1;
}

int host_create_temp(host_fs *fs, const char *target, std::string *temp_path, host_temp_held held) {
    if (fs->create_temp(target, temp_path) == 0) return 0;
    // Every number taken: the earlier writes died before their renames.
    host_stat st{};
    if (fs->lstat(host_temp_name(target, HOST_TEMP_TRIES - 1).c_str(), &st) != 0) return -1;
    remove_temps_below(fs, target, HOST_TEMP_TRIES, held);
    return fs->create_temp(target, temp_path);
}

int host_replace_temp(host_fs *fs, const char *temp_path, const char *target, host_temp_held held) {
    if (fs->replace(temp_path, target) != 0) return -1;
    const std::string folder = folder_of(target);
    if (fs->sync_dir(folder.c_str()) != 0) {
        if (!g_sync_failing) pdisk_log("** could not sync folder %s\n", folder.c_str());
        g_sync_failing = true;
    } else {
        g_sync_failing = false;
    }
    const int n = host_temp_number(temp_path);
    if (n > 0) remove_temps_below(fs, target, n, held);
    return 0;
}
