/*
** The mount table: appending and removing mounts, the indexes by mount
** point and by origin, resolution of virtual paths and automounting.
*/
#include "pmount.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <unordered_map>

#include "env.h"
#include "host.h"
#include "paths.h"
#include "pdisk_internal.h"
#include "writeback.h"

pmount_rec pmount[PMOUNT_SLOTS];
int32_t pmounts = 0;
uint8_t block_automounting = 0;

namespace {

/*
** Texts -> the mounts holding them, in table order. A text is looked up by
** a polynomial hash of its bytes modulo 2^61 - 1 and its length, so the
** hash of every leading part of a path comes from one pass over the path:
** finding the deepest mount that covers a path is linear in its length
** however many segments it holds. A hit is compared with the text itself;
** the base is drawn once a run, so no program can make texts collide.
*/
class mount_index {
public:
    void clear() {
        map_.clear();
        lengths_.clear();
    }

    void add(std::string_view text, int record) {
        std::vector<group> &groups = map_[key_of(text_key{}.extended(text))];
        for (group &g : groups)
            if (g.text == text) {
                g.records.push_back(record);
                return;
            }
        groups.push_back(group{std::string(text), {record}});
        if (lengths_.size() <= text.size()) lengths_.resize(text.size() + 1);
        lengths_[text.size()]++;
    }

    /* Renumbers the records after the table lost some: record r becomes
       to[r], or goes when that is -1 (the order stays). No text is hashed
       again, so a removal costs the records, not their bytes. */
    void renumber(const std::vector<int> &to) {
        for (auto it = map_.begin(); it != map_.end();) {
            std::vector<group> &groups = it->second;
            for (size_t g = 0; g < groups.size();) {
                std::vector<int> &records = groups[g].records;
                size_t kept = 0;
                for (const int r : records)
                    if (to[static_cast<size_t>(r)] >= 0) records[kept++] = to[static_cast<size_t>(r)];
                records.resize(kept);
                if (kept > 0) {
                    g++;
                    continue;
                }
                lengths_[groups[g].text.size()]--;
                groups.erase(groups.begin() + static_cast<std::ptrdiff_t>(g));
            }
            it = groups.empty() ? map_.erase(it) : std::next(it);
        }
        while (!lengths_.empty() && lengths_.back() == 0) lengths_.pop_back();
    }

    /* The records whose text has key 'k' and is the one 'same' accepts
       (called only on a hit), in table order; null when none. */
    template <class Same>
    const std::vector<int> *find(const text_key &k, Same same) const {
        if (!holds_length(k.len)) return nullptr;
        const auto it = map_.find(key_of(k));
        if (it == map_.end()) return nullptr;
        for (const group &g : it->second)
            if (g.text.size() == k.len && same(std::string_view(g.text))) return &g.records;
        return nullptr;
    }

    /* Whether a text of 'len' bytes is held: a lookup only where one is. */
    bool holds_length(size_t len) const { return len < lengths_.size() && lengths_[len] > 0; }

    /* The length of the longest text held, 0 when none. */
    size_t longest() const { return lengths_.empty() ? 0 : lengths_.size() - 1; }

    const std::vector<int> *find(std::string_view text) const {
        if (!holds_length(text.size())) return nullptr;
        return find(text_key{}.extended(text), [text](std::string_view t) { return t == text; });
    }

private:
    struct group {
        std::string text;
        std::vector<int> records;
    };
    static uint64_t key_of(const text_key &k) {
        return text_key_value(k.h) ^ (uint64_t(k.len) * 0x9E3779B97F4A7C15u);
    }
    std::unordered_map<uint64_t, std::vector<group>> map_;
    std::vector<uint32_t> lengths_;  // [n]: texts of n bytes held; the last is not 0
};

mount_index g_by_point;   /* mount point -> records */
mount_index g_by_origin;  /* origin -> records */

bool g_uncovered_logged = false;  /* the no-mount message goes to the log once per run */
std::string g_description;       /* text returned by get_mount_description */

void index_add(int i) {
    g_by_point.add(bview(pmount[i].mount_point), i);
    g_by_origin.add(bview(pmount[i].origin), i);
}

/* The indexes after the records 'to' maps to -1 went (see renumber). */
void renumber_index(const std::vector<int> &to) {
    g_by_point.renumber(to);
    g_by_origin.renumber(to);
}

/* The first record in 'list' that 'want' accepts, or -1. */
template <class Want>
int first_wanted(const std::vector<int> *list, Want want) {
    if (!list) return -1;
    for (const int i : *list)
        if (want(i)) return i;
    return -1;
}

template <class Want>
int first_wanted(const mount_index &index, std::string_view key, Want want) {
    return first_wanted(index.find(key), want);
}

/*
** The record that covers the canonical 'path' most deeply through 'index'
** (mount points or origins) among those 'want' accepts: the first in table
** order at the greatest depth. With 'skip_exact' a key equal to the whole
** path is passed over. Only canonical keys can cover a canonical path, so
** looking up each leading part of the path that ends before a '/' (or at
** its end) finds every candidate; one pass hashes them all, the keys found
** are tried from the deepest. *covered (when given) receives the length of
** the leading part the record's key matched: 0 for the root's "" or "/".
*/
template <class Want>
int deepest(const mount_index &index, std::string_view path, bool skip_exact, Want want,
            size_t *covered = nullptr) {
    if (covered) *covered = 0;
    if (path != "/") {
        // The keys found, shallowest first: a path meets few, kept here
        // until there are more.
        struct hit {
            size_t end;
            const std::vector<int> *records;
        };
        constexpr size_t NEAR_HITS = 8;
        hit near[NEAR_HITS];
        std::vector<hit> far;
        size_t hits = 0;
        const uint64_t base = text_key_base();
        text_key k;
        const size_t bound = std::min(path.size(), index.longest());  // no longer text is held
        for (size_t e = 0; e <= bound; e++) {
            const bool end = e == path.size();
            if (e > 0 && (end ? !skip_exact : path[e] == '/') && index.holds_length(e)) {
                const auto *list = index.find(k, [&](std::string_view t) { return t == path.substr(0, e); });
                if (list) {
                    if (hits < NEAR_HITS)
                        near[hits] = hit{e, list};
                    else
                        far.push_back(hit{e, list});
                    hits++;
                }
            }
            if (!end) k.add(static_cast<unsigned char>(path[e]), base);
        }
        while (hits > 0) {
            hits--;
            const hit &h = hits < NEAR_HITS ? near[hits] : far[hits - NEAR_HITS];
            const int i = first_wanted(h.records, want);
            if (i < 0) continue;
            if (covered) *covered = h.end;
            return i;
        }
    }
    const int a = first_wanted(index, "", want);
    const int b = (skip_exact && path == "/") ? -1 : first_wanted(index, "/", want);
    if (a < 0) return b;
    if (b < 0) return a;
    return a < b ? a : b;
}

/* Calls f(e) for the end e of each leading part of the canonical 'norm'
   that names a cartridge file, shallowest first: those automounting tests. */
template <class F>
void for_each_cart_prefix(std::string_view norm, F f) {
    auto ends = [&](size_t e, std::string_view tail) {
        return e >= tail.size() && norm.substr(e - tail.size(), tail.size()) == tail;
    };
    for (size_t e = 1; e <= norm.size(); e++) {
        if (e < norm.size() && norm[e] != '/') continue;
        if ((e >= 5 && ends(e, ".kiv")) || (e >= 9 && (ends(e, ".kiv.png") || ends(e, ".kiv.rom")))) f(e);
    }
}

/* True when a segment of 'rest' is "." or "..": only its dots are looked at. */
bool has_dot_segment(std::string_view rest) {
    for (size_t d = rest.find('.'); d != std::string_view::npos; d = rest.find('.', d + 1)) {
        if (d > 0 && rest[d - 1] != '/') continue;  // not where a segment starts
        const size_t e = d + 1 < rest.size() && rest[d + 1] == '.' ? d + 2 : d + 1;
        if (e == rest.size() || rest[e] == '/') return true;
    }
    return false;
}

std::string cut_trailing_slash(const char *s) {
    std::string t = s ? s : "";
    if (!t.empty() && t.back() == '/') t.pop_back();
    return t;
}

}  // namespace

uint64_t text_key_base() {
    static const uint64_t base = [] {
        std::random_device device;
        const uint64_t drawn = (uint64_t{device()} << 32) ^ device();
        return (uint64_t{1} << 40) + drawn % ((uint64_t{1} << 60) - (uint64_t{1} << 40));
    }();
    return base;
}

uint64_t text_words_hash(std::string_view s) {
    const uint64_t base = text_key_base();
    uint64_t h = 0;
    size_t i = 0;
    for (; i + 4 <= s.size(); i += 4) {
        uint32_t w;
        std::memcpy(&w, s.data() + i, 4);
        h = text_key_step(h, base, w);
    }
    if (i < s.size()) {
        uint32_t w = 0;
        std::memcpy(&w, s.data() + i, s.size() - i);
        h = text_key_step(h, base, w);
    }
    return text_key_value(h) ^ (uint64_t(s.size()) * 0x9E3779B97F4A7C15u);
}

text_key text_key::extended(std::string_view s) const {
    const uint64_t base = text_key_base();
    text_key k = *this;
    for (const char c : s) k.add(static_cast<unsigned char>(c), base);
    return k;
}

buffer_rec *buffer_of(std::string_view s, int32_t tag) {
    buffer_rec *b = create_buffer_2(static_cast<int32_t>(s.size()), tag);
    if (b && !s.empty()) bwrite(s.data(), 1, static_cast<int64_t>(s.size()), b);
    if (b) b->cursor = 0;
    return b;
}

void buffer_set(buffer_rec *b, std::string_view s) {
    bclear(b);
    if (!s.empty()) bwrite(s.data(), 1, static_cast<int64_t>(s.size()), b);
    b->cursor = 0;
}

void pdisk_log(const char *format, ...) {
    char line[16384];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    codo_debug(line);
}

/* ---- the table ---- */

bool pdisk_mount_room() {
    if (pmounts < PMOUNT_APPEND_LIMIT) return true;
    pdisk_log("** too many mounts (%d)\n", pmounts);
    pending_prune = 1;
    return false;
}

pmount_rec *pdisk_append_mount(uint32_t kind, std::string_view point, std::string_view origin, uint32_t is_ram,
                               uint32_t made_by) {
    if (!pdisk_mount_room()) return nullptr;
    pmount_rec &m = pmount[pmounts];
    m = pmount_rec{};
    m.kind = kind;
    m.mount_point = buffer_of(point, 'M');
    m.origin = buffer_of(origin, 'M');
    m.is_ram = is_ram;
    m.made_by = made_by;
    m.load_ok = 1;
    index_add(pmounts);
    pmounts++;
    return &m;
}

void pdisk_remove_mount(int i) {
    if (i < 0 || i >= pmounts) return;
    std::vector<bool> drop(static_cast<size_t>(pmounts), false);
    drop[static_cast<size_t>(i)] = true;
    pdisk_remove_mounts(drop);
}

void pdisk_remove_mounts(const std::vector<bool> &drop) {
    std::vector<int> to(static_cast<size_t>(pmounts), -1);
    int kept = 0;
    for (int i = 0; i < pmounts; i++) {
        if (static_cast<size_t>(i) < drop.size() && drop[static_cast<size_t>(i)]) {
            destroy_buffer(pmount[i].mount_point);
            destroy_buffer(pmount[i].origin);
            continue;
        }
        to[static_cast<size_t>(i)] = kept;
        pmount[kept++] = pmount[i];
    }
    for (int i = kept; i < pmounts; i++) pmount[i] = pmount_rec{};
    pmounts = kept;
    renumber_index(to);
}

void pdisk_clear_mounts() {
    for (int i = 0; i < pmounts; i++) {
        destroy_buffer(pmount[i].mount_point);
        destroy_buffer(pmount[i].origin);
        pmount[i] = pmount_rec{};
    }
    pmounts = 0;
    g_by_point.clear();
    g_by_origin.clear();
}

int pdisk_mount_at(std::string_view point) {
    const auto any = [](int) { return true; };
    const int i = first_wanted(g_by_point, point, any);
    if (point != "/") return i;
    const int root = first_wanted(g_by_point, "", any);  // the root mount is stored as ""
    return i < 0 || (root >= 0 && root < i) ? root : i;
}

int pdisk_child_mounts::at(std::string_view name) {
    if (!g_by_point.holds_length(head_.size() + name.size())) return -1;
    if (!keyed_) {
        key_ = text_key{}.extended(head_);
        keyed_ = true;
    }
    const std::vector<int> *list = g_by_point.find(key_.extended(name), [&](std::string_view t) {
        return t.substr(0, head_.size()) == head_ && t.substr(head_.size()) == name;
    });
    return list ? list->front() : -1;
}

int pdisk_mount_at_kind(std::string_view point, uint32_t kind) {
    const auto of_kind = [kind](int i) { return pmount[i].kind == kind; };
    const int i = first_wanted(g_by_point, point, of_kind);
    if (point != "/") return i;
    const int root = first_wanted(g_by_point, "", of_kind);
    return i < 0 || (root >= 0 && root < i) ? root : i;
}

/* ---- resolution ---- */

int pdisk_find_mount(std::string_view norm, bool skip_exact) {
    return deepest(g_by_point, norm, skip_exact, [](int) { return true; });
}

bool pdisk_resolve(const std::string &norm, bool skip_exact, pdisk_resolved *r) {
    if (!block_automounting && norm.find(".kiv") != std::string::npos) automount_p_path(norm.c_str());
    size_t covered = 0;  // the mount point's length; 0 for the root, "" or "/"
    const int i = deepest(g_by_point, norm, skip_exact, [](int) { return true; }, &covered);
    if (i < 0) {
        if (!g_uncovered_logged) {
            g_uncovered_logged = true;
            pdisk_log("** fatal: could not resolve file to origin: %s (no matching mount found; / not mounted?)\n",
                      norm.c_str());
        }
        return false;
    }
    std::string_view rest = std::string_view(norm).substr(covered);
    if (rest == "/") rest = std::string_view();
    if (has_dot_segment(rest.empty() ? rest : rest.substr(1))) return false;
    const std::string_view origin = bview(pmount[i].origin);
    r->origin.assign(origin);
    if (!origin.empty() && origin.back() == '/' && !rest.empty() && rest[0] == '/')
        r->origin.append(rest.substr(1));
    else
        r->origin.append(rest);
    r->kind = static_cast<int>(pmount[i].kind);
    r->mount = i;
    return true;
}

void pdisk_reset_resolve_log() { g_uncovered_logged = false; }

buffer_rec *resolve_to_origin(const char *path, int *kind, int skip_exact) {
    std::string norm;
    pdisk_resolved r;
    if (!path || !pdisk_normalise(path, &norm) || !pdisk_resolve(norm, skip_exact != 0, &r))
        return create_buffer_2(0, '!');
    if (kind) *kind = r.kind;
    return buffer_of(r.origin, '!');
}

void automount_p_path(const char *path) {
    if (!path || block_automounting) return;
    const std::string_view norm = path;
    if (norm.size() < 2) return;
    automount_block hold;
    for_each_cart_prefix(norm, [&](size_t e) {
        const std::string prefix(norm.substr(0, e));  // canonical, as a leading part of the path
        if (pdisk_folder_at(prefix, 1)) return;
        pfile_rec *f = pfopen(prefix.c_str(), "r");
        if (!f) return;
        pfclose(f);
        mount_kiv_path(prefix.c_str());
    });
}

void pdisk_cart_prefix_work(const char *path, size_t len, uint64_t *count, uint64_t *bytes) {
    *count = *bytes = 0;
    const std::string_view text(path ? path : "", path ? len : 0);
    const std::string_view pwd = pdisk_current_pwd();
    // The canonical form holds ".kiv" only when the path or the working
    // folder it may be joined to does.
    if (text.find(".kiv") == std::string_view::npos && pwd.find(".kiv") == std::string_view::npos) return;
    const auto tally = [&](size_t e) {
        (*count)++;
        *bytes += e;
    };
    if (pdisk_canonical(text)) {  // its own canonical form: walked as it is, not copied
        for_each_cart_prefix(text, tally);
        return;
    }
    std::string norm;
    if (!pdisk_normalise(text, &norm) || norm.size() < 2) return;
    for_each_cart_prefix(norm, tally);
}

/* ---- making and removing mounts ---- */

int mount_host_path(const char *mount_point, const char *host_folder) {
    const std::string point = cut_trailing_slash(mount_point);
    const std::string origin = cut_trailing_slash(host_folder);
    return pdisk_append_mount(1, point, origin, 0, MOUNT_BY_HOST) ? 0 : 1;
}

int mount_ram_folder(const char *path) {
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return 1;
    return pdisk_append_mount(2, norm, norm, 1, MOUNT_BY_RAM_FOLDER) ? 0 : 1;
}

pmount_rec *mount_p_path(const char *mount_point, const char *target) {
    std::string norm, target_norm;
    if (!mount_point || !pdisk_normalise(mount_point, &norm)) return nullptr;
    // An unresolvable target would leave an empty host origin, which reaches
    // the host's root folder: refused.
    pdisk_resolved r;
    if (!target || !pdisk_normalise(target, &target_norm) || !pdisk_resolve(target_norm, false, &r)) return nullptr;
    return pdisk_append_mount(static_cast<uint32_t>(r.kind), norm, r.origin, 0, MOUNT_BY_ALIAS);
}

int delete_mount_point(const char *path) {
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return 0;
    const int i = pdisk_mount_at(norm);
    if (i < 0) return 0;
    if (pmount[i].dirty) flush_dirty_mount(&pmount[i], 0);
    if (pmount[i].made_by == MOUNT_BY_CART) pdisk_free_ram_within(bview(pmount[i].origin));
    pdisk_remove_mount(i);
    pdisk_after_op();
    return 1;
}

const char *get_mount_description(const char *path) {
    g_description.clear();
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return nullptr;
    const int i = pdisk_mount_at(norm);
    if (i < 0) return nullptr;
    if (pmount[i].kind == 1) g_description = "host:";
    g_description.append(bview(pmount[i].origin));
    return g_description.c_str();
}

void print_mounts() {
    for (int i = 0; i < pmounts; i++) {
        std::printf("mount %d kind: %d isr:%d mount_point: %-10s origin: %-20s\n", i, pmount[i].kind,
                    pmount[i].is_ram, to_cstr(pmount[i].mount_point), to_cstr(pmount[i].origin));
    }
}

/* ---- dirty marking ---- */

void pdisk_mark_dirty(std::string_view origin) {
    int i = deepest(g_by_origin, origin, false,
                    [](int j) { return pmount[j].kind == 2 && pmount[j].made_by == MOUNT_BY_CART; });
    if (i < 0) i = deepest(g_by_origin, origin, false, [](int j) { return pmount[j].kind == 2; });
    if (i < 0) return;
    pmount[i].dirty = 1;
    pmount[i].warned &= ~MOUNT_WARNED_TOO_LARGE;
    if (pmount[i].flush_t == 0) pmount[i].flush_t = pdisk_now_ms() + FLUSH_DELAY_MS;
}

bool pdisk_alias_inside(std::string_view origin) {
    for (int i = 0; i < pmounts; i++)
        if (pmount[i].made_by == MOUNT_BY_ALIAS && pmount[i].kind == 2 &&
            pdisk_path_within(bview(pmount[i].origin), origin))
            return true;
    return false;
}

bool pdisk_cart_inside(std::string_view origin) {
    for (int i = 0; i < pmounts; i++)
        if (pmount[i].made_by == MOUNT_BY_CART && pdisk_path_within(bview(pmount[i].origin), origin)) return true;
    return false;
}
