/*
** Folder listing and its order of names.
*/
#include "listing.h"

#include <algorithm>

#include "host_fs.h"
#include "lua.h"
#include "paths.h"
#include "pdisk_internal.h"

namespace {

/* The last listing, kept outside the stack so pushing it into Lua (which
   may raise) leaves nothing to destroy. */
std::vector<std::string> g_names;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

/* Compares two digit runs by value: leading zeros dropped, the longer run
   larger, then digit by digit. */
int compare_runs(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a[0] == '0') a.remove_prefix(1);
    while (b.size() > 1 && b[0] == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

/* The entry 'name' of the virtual folder 'folder'. */
std::string child_path(const std::string &folder, std::string_view name) {
    std::string p = folder == "/" ? std::string() : folder;
    p += '/';
    p.append(name);
    return p;
}

}  // namespace

int pdisk_compare_names(std::string_view a, std::string_view b) {
    const bool fa = !a.empty() && a.back() == '/';
    const bool fb = !b.empty() && b.back() == '/';
    if (fa != fb) return fa ? -1 : 1;
    if (fa) {
        a.remove_suffix(1);
        b.remove_suffix(1);
    }
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = is_digit(a[i]), db = is_digit(b[j]);
        if (da != db) return da ? -1 : 1;
        if (da) {
            size_t ie = i, je = j;
            while (ie < a.size() && is_digit(a[ie])) ie++;
            while (je < b.size() && is_digit(b[je])) je++;
            const int c = compare_runs(a.substr(i, ie - i), b.substr(j, je - j));
            if (c) return c;
            i = ie;
            j = je;
            continue;
        }
        const char ca = fold(a[i]), cb = fold(b[j]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        i++;
        j++;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int compare_str_item(const void *a, const void *b) {
    return pdisk_compare_names(*static_cast<const char *const *>(a), *static_cast<const char *const *>(b));
}

bool pdisk_list(const char *path, std::vector<std::string> *names, int *folders, pdisk_list_work *work) {
    names->clear();
    *folders = 0;
    pdisk_list_work done{0, static_cast<size_t>(pmounts)};
    if (work) *work = pdisk_list_work{0, 0};
    std::string norm;
    pdisk_resolved r;
    if (!path || !pdisk_normalise(path, &norm) || !pdisk_resolve(norm, false, &r)) return false;
    auto take = [&](std::string name) {
        if (names->size() < LIST_NAMES_MAX) names->push_back(std::move(name));
    };
    if (r.kind == 1) {
        host_fs *fs = pdisk_host_fs();
        const std::string dir = r.origin.empty() ? "/" : r.origin;
        std::vector<std::string> entries;
        if (fs->list(dir.c_str(), &entries, LIST_HOST_NAMES_MAX) != 0) return false;
        done.host_entries = entries.size();
        const std::string head = child_path(norm, "");  // an entry's virtual path is head + its name
        pdisk_child_mounts mounted(head);
        for (std::string &e : entries) {
            if (names->size() >= LIST_NAMES_MAX) break;  // no host test for a name not taken
            if (e.empty() || e[0] == '.') continue;
            if (mounted.at(e) >= 0) continue;
            const std::string host = dir.back() == '/' ? dir + e : dir + "/" + e;
            host_stat st{};
            if (fs->stat(host.c_str(), &st) == 0 && st.is_dir && pdisk_cart_kind(e) == 0) e += '/';
            take(std::move(e));
        }
    } else {
        const size_t skip = r.origin.size() + (r.origin.empty() || r.origin.back() != '/' ? 1 : 0);
        size_t walked = 0;
        const std::vector<int> slots = pdisk_ram_slots_directly_in(r.origin, &walked);
        done.walked += walked;
        // Each slot's origin is head + its name.
        const std::string_view head =
            slots.empty() ? std::string_view() : bview(pfile[slots[0]].origin).substr(0, skip);
        pdisk_child_mounts mounted(head);
        for (const int s : slots) {
            const std::string_view origin = bview(pfile[s].origin);
            std::string name(origin.substr(skip));
            if (name[0] == '.' || mounted.at(name) >= 0) continue;
            if (pfile[s].attribs & 1) name += '/';
            take(std::move(name));
        }
    }
    for (int i = 0; i < pmounts; i++) {
        const std::string_view mp = bview(pmount[i].mount_point);
        if (mp.size() < 2) continue;
        const size_t cut = mp.rfind('/');
        if (cut == std::string_view::npos) continue;
        const std::string_view parent = cut == 0 ? std::string_view("/") : mp.substr(0, cut);
        if (parent != norm) continue;
        std::string seg(mp.substr(cut + 1));
        if (seg.empty()) continue;
        if (pdisk_ext(seg).empty()) seg += '/';
        take(std::move(seg));
    }
    std::sort(names->begin(), names->end(),
              [](const std::string &x, const std::string &y) { return pdisk_compare_names(x, y) < 0; });
    names->erase(std::unique(names->begin(), names->end()), names->end());
    for (const std::string &n : *names)
        if (n.back() == '/') (*folders)++;
    if (work) *work = done;
    return true;
}

int pflist(const char *path, lua_State *L, pdisk_list_work *work) {
    int folders = 0;
    if (!pdisk_list(path, &g_names, &folders, work)) return 0;
    lua_createtable(L, static_cast<int>(g_names.size() < 16 ? 16 : g_names.size()), 0);
    lua_Integer k = 1;
    for (const std::string &n : g_names) {
        const size_t len = n.back() == '/' ? n.size() - 1 : n.size();
        lua_pushlstring(L, n.data(), len);
        lua_rawseti(L, -2, k++);
    }
    lua_pushinteger(L, folders);
    return 2;
}
