/*
** The file-slot table: the origin index of RAM slots, the free-slot set,
** opening and closing files, reading, writing and the existence tests.
*/
#include "pfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>

#include "anywhen.h"
#include "env.h"
#include "host_fs.h"
#include "host_replace.h"
#include "paths.h"
#include "pdisk_internal.h"
#include "vm_hooks.h"
#include "writeback.h"

pfile_rec pfile[PFILE_SLOTS];
int32_t next_pfile_index = -1;
uint32_t total_pdisk_calls = 0;
uint8_t pending_sync = 0;
uint8_t pending_prune = 0;
bool pdisk_check_index_each_op = false;

namespace {

inline constexpr int FREE_WORDS = PFILE_SLOTS / 64;

/*
** The origin index maps the origin of every RAM slot to the slot; RAM
** origins are unique. It is ordered, for the walks of a folder's entries;
** g_origin_slots holds the same texts (views of the index's own) for the
** look-ups of one origin, by a hash no program can make collide
** (text_words_hash). The free set has bit i set when slot i is free, and
** g_free_count counts those bits. All change only through take_slot,
** pdisk_make_ram_slot and pdisk_release_slot.
*/
using origin_map = std::map<std::string, int, std::less<>>;
origin_map g_origin_index;
struct origin_hash {
    size_t operator()(std::string_view s) const noexcept { return text_words_hash(s); }
};
std::unordered_map<std::string_view, int, origin_hash> g_origin_slots;
uint64_t g_free_bits[FREE_WORDS];
int32_t g_kind_count[3];  /* slots of each kind; [0] is the free count */
bool g_inited = false;
/* One past the highest slot taken since the table was last emptied; the
   slots from here on have never been written since and are all zero. */
int g_used_end = 0;

bool is_free(int i) { return (g_free_bits[i >> 6] >> (i & 63)) & 1; }

void set_free(int i, bool f) {
    if (f)
        g_free_bits[i >> 6] |= uint64_t(1) << (i & 63);
    else
        g_free_bits[i >> 6] &= ~(uint64_t(1) << (i & 63));
}

/* The first free slot at or after 'from' (no wrap), or -1. */
int free_at_or_after(int from) {
    if (from >= PFILE_SLOTS) return -1;
    int w = from >> 6;
    uint64_t bits = g_free_bits[w] & (~uint64_t(0) << (from & 63));
    while (true) {
        if (bits) return (w << 6) + __builtin_ctzll(bits);
        if (++w >= FREE_WORDS) return -1;
        bits = g_free_bits[w];
    }
}

/* The entries of the origin index under 'folder' (a '/' after it): those
   from 'folder/' up to 'folder0', '0' being the byte after '/', so no
   entry's text is compared with the folder's on the way. */
std::pair<origin_map::const_iterator, origin_map::const_iterator> origins_under(std::string_view folder) {
    std::string bound(folder);
    if (bound.empty() || bound.back() != '/') bound += '/';
    const auto from = g_origin_index.lower_bound(bound);
    bound.back() = '/' + 1;
    return {from, g_origin_index.lower_bound(bound)};
}

void reset_tables() {
    for (int i = 0; i < g_used_end; i++) pfile[i] = pfile_rec{};
    g_used_end = 0;
    g_origin_slots.clear();
    g_origin_index.clear();
    for (auto &w : g_free_bits) w = ~uint64_t(0);
    g_kind_count[0] = PFILE_SLOTS;
    g_kind_count[1] = g_kind_count[2] = 0;
    next_pfile_index = -1;
}

void release_buffers(pfile_rec &f) {
    destroy_buffer(f.p_path);
    destroy_buffer(f.origin);
    destroy_buffer(f.host_temp);
    destroy_buffer(f.host_target);
    destroy_buffer(f.data);
}

int slot_index(const pfile_rec *f) { return static_cast<int>(f - pfile); }

void set_mode(pfile_rec &f, const char *mode) {
    f.mode[0] = mode[0];
    f.mode[1] = mode[0] ? mode[1] : 0;
    f.mode[2] = 0;
}

/* Whether an open host slot still writes through the temporary 'temp'. */
bool temp_held_open(const std::string &temp) {
    for (int i = 0; i < g_used_end; i++) {
        const buffer_rec *held = pfile[i].host_temp;
        if (held && static_cast<size_t>(held->length) == temp.size() &&
            std::memcmp(held->data, temp.data(), temp.size()) == 0)
            return true;
    }
    return false;
}

/* The host part of pfopen: fills the taken slot 'i' or frees it again.
   'm0', 'm1' are the mode letters. */
pfile_rec *open_host(int i, char m0, char m1) {
    pfile_rec &f = pfile[i];
    host_fs *fs = pdisk_host_fs();
    const char *origin = to_cstr(f.origin);
    bool ok = true;
    if (m0 == 'r') {
        host_stat st{};
        ok = fs->stat(origin, &st) == 0 && st.is_reg && st.size < HOST_READ_MAX;
        if (ok && m1 == 'e') {
            f.data = create_buffer_2(31, 'd');
            spend_cpu(HOST_PROBE_CYCLES);
            return &f;
        }
        if (ok) {
            f.data = create_buffer_2(1023, 'd');
            ok = f.data && fs->read_file(origin, m1 == 'm' ? HOST_READ_MAX_M : HOST_READ_MAX - 1, f.data) == 0;
        }
        if (ok) {
            f.data->cursor = 0;
            spend_cpu(f.data->length / 8);
        }
    } else if (m0 == 'w') {
        std::string target = origin;
        host_stat st{};
        if (fs->lstat(origin, &st) == 0 && st.is_link) {
            std::string real;
            if (fs->realpath(origin, &real) == 0) target = real;
        }
        std::string temp;
        ok = !(fs->stat(target.c_str(), &st) == 0 && st.is_dir) &&
             host_create_temp(fs, target.c_str(), &temp, temp_held_open) == 0;
        if (ok) {
            f.host_temp = buffer_of(temp, 'p');
            f.host_target = buffer_of(target, 'p');
            f.data = create_buffer_2(1023, 'd');
        }
    } else {
        host_stat st{};
        ok = !(fs->stat(origin, &st) == 0 && st.is_dir) && fs->append(origin, nullptr, 0) == 0;
        if (ok) f.data = create_buffer_2(1023, 'd');
    }
    if (!ok || !f.data) {
        pdisk_release_slot(i);
        return nullptr;
    }
    return &f;
}

/* Writes the host slot 'f' opened 'w' or 'a' to the host; 0 or 1. */
int write_host(pfile_rec &f) {
    host_fs *fs = pdisk_host_fs();
    const int64_t len = f.data->length;
    const uint8_t *bytes = f.data->data;
    int result = 0;
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);  // the day's log first holds the state before this change
    if (f.mode[0] == 'w') {
        const char *temp = to_cstr(f.host_temp);
        if (fs->write_temp(temp, bytes, len) != 0 ||
            host_replace_temp(fs, temp, to_cstr(f.host_target), temp_held_open) != 0) {
            fs->remove(temp);
            result = 1;
        }
    } else if (fs->append(to_cstr(f.origin), bytes, len) != 0) {
        result = 1;
    }
    spend_cpu(static_cast<int32_t>(len / 8));
    spend_cpu(HOST_WRITE_CYCLES);
    if (result) {
        pdisk_log("** could not write %s\n", to_cstr(f.p_path));
    } else {
        anywhen_event(ANYWHEN_CHECKPOINT, to_cstr(f.p_path), to_cstr(f.origin));
        pending_sync = 1;
    }
    return result;
}

}  // namespace

/* ---- the table ---- */

void pdisk_too_many_files(const char *during) {
    std::printf("** too many files%s **\n", during);
    pdisk_log("** too many files%s **\n", during);
}

int pdisk_ram_slot(std::string_view origin) {
    const auto it = g_origin_slots.find(origin);
    return it == g_origin_slots.end() ? -1 : it->second;
}

int pdisk_take_slot() {
    if (g_kind_count[0] < PFILE_RELIEF_FREE) pending_prune = 1;
    if (g_kind_count[0] == 0) return -1;
    int i = free_at_or_after(next_pfile_index + 1);
    if (i < 0) i = free_at_or_after(0);
    next_pfile_index = i;
    set_free(i, false);
    g_kind_count[0]--;
    g_used_end = std::max(g_used_end, i + 1);
    pfile[i] = pfile_rec{};
    return i;
}

void pdisk_make_ram_slot(int i, std::string_view origin, uint32_t attribs, int32_t capacity) {
    pfile_rec &f = pfile[i];
    f.kind = PFILE_RAM;
    f.origin = buffer_of(origin, 'p');
    f.data = create_buffer_2(capacity, 'd');
    f.attribs = attribs;
    g_kind_count[PFILE_RAM]++;
    const auto [at, made] = g_origin_index.emplace(std::string(origin), i);
    if (made) g_origin_slots.emplace(at->first, i);
}

void pdisk_release_slot(int i) {
    pfile_rec &f = pfile[i];
    if (is_free(i)) return;
    if (f.kind == PFILE_RAM) {
        const auto it = g_origin_index.find(bview(f.origin));
        if (it != g_origin_index.end() && it->second == i) {
            g_origin_slots.erase(it->first);
            g_origin_index.erase(it);
        }
    }
    if (f.kind <= PFILE_RAM) g_kind_count[f.kind]--;
    release_buffers(f);
    f = pfile_rec{};
    set_free(i, true);
    g_kind_count[0]++;
}

std::vector<int> pdisk_ram_slots_within(std::string_view folder, bool with_self) {
    std::vector<int> out;
    if (with_self) {
        const int s = pdisk_ram_slot(folder);
        if (s >= 0) out.push_back(s);
    }
    const auto [from, to] = origins_under(folder);
    for (auto it = from; it != to; ++it) out.push_back(it->second);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<int> pdisk_ram_slots_directly_in(std::string_view folder, size_t *walked) {
    std::vector<int> out;
    const size_t skip = folder.size() + (folder.empty() || folder.back() != '/' ? 1 : 0);
    const auto [from, to] = origins_under(folder);
    size_t n = 0;
    for (auto it = from; it != to; ++it, ++n)
        if (it->first.size() > skip && it->first.find('/', skip) == std::string::npos) out.push_back(it->second);
    if (walked) *walked = n;
    return out;
}

int pdisk_free_ram_within(std::string_view folder) {
    const std::vector<int> slots = pdisk_ram_slots_within(folder, true);
    for (const int i : slots) pdisk_release_slot(i);
    return static_cast<int>(slots.size());
}

void pdisk_after_op() {
    if (pdisk_check_index_each_op) pdisk_verify_index();
}

void pdisk_verify_index() {
    int free_count = 0, counts[3] = {0, 0, 0};
    size_t ram = 0;
    for (int i = 0; i < PFILE_SLOTS; i++) {
        const pfile_rec &f = pfile[i];
        const bool free_slot = f.kind == PFILE_FREE;
        if (free_slot != is_free(i)) {
            std::fprintf(stderr, "pdisk index: slot %d kind %u but free bit %d\n", i, f.kind, is_free(i));
            std::abort();
        }
        if (f.kind <= PFILE_RAM) counts[f.kind]++;
        free_count += free_slot;
        if (f.kind == PFILE_RAM) {
            ram++;
            if (pdisk_ram_slot(bview(f.origin)) != i) {
                std::fprintf(stderr, "pdisk index: RAM slot %d (%s) not indexed\n", i, to_cstr(f.origin));
                std::abort();
            }
        }
    }
    if (ram != g_origin_index.size() || ram != g_origin_slots.size() || free_count != g_kind_count[0] ||
        counts[1] != g_kind_count[1] || counts[2] != g_kind_count[2]) {
        std::fprintf(stderr, "pdisk index: %zu RAM slots, %zu indexed; %d free, counted %d\n", ram,
                     g_origin_index.size(), free_count, g_kind_count[0]);
        std::abort();
    }
}

void pfile_init() {
    if (g_inited) return;
    g_inited = true;
    reset_tables();
    pdisk_clear_mounts();
}

void pfile_reset() {
    pfile_init();
    for (int i = 0; i < g_used_end; i++)
        if (pfile[i].kind == PFILE_RAM) pdisk_release_slot(i);
    pdisk_clear_mounts();
    pdisk_after_op();
}

void pdisk_shutdown() {
    for (int i = 0; i < PFILE_SLOTS; i++)
        if (!is_free(i) || pfile[i].kind != PFILE_FREE) release_buffers(pfile[i]);
    reset_tables();
    pdisk_clear_mounts();
    pending_sync = pending_prune = 0;
    block_automounting = 0;
    total_pdisk_calls = 0;
    pdisk_reset_resolve_log();
    pdisk_reset_writeback_state();
    anywhen_close();
    g_inited = false;
}

/* ---- opening and closing ---- */

pfile_rec *pfopen(const char *path, const char *mode) {
    total_pdisk_calls++;
    if (!path || !mode) return nullptr;
    const char m0 = mode[0];
    const char m1 = m0 ? mode[1] : 0;
    if (m0 != 'r' && m0 != 'w' && m0 != 'a') return nullptr;
    std::string norm;
    if (!pdisk_normalise(path, &norm)) return nullptr;
    pdisk_resolved r;
    if (!pdisk_resolve(norm, m1 == 'f', &r)) return nullptr;
    if (m0 == 'r' && m1 == 'f') flush_dirty_mounts_immediately();

    if (r.kind == 2) {
        const int s = pdisk_ram_slot(r.origin);
        if (s >= 0) {
            pfile_rec &f = pfile[s];
            if (f.attribs & 1) return nullptr;
            f.data->cursor = 0;
            if (m0 == 'w') bclear(f.data);
            if (m0 == 'a') f.data->cursor = f.data->length;
            set_mode(f, mode);
            return &f;
        }
        if (m0 == 'r') return nullptr;
    }

    const int i = pdisk_take_slot();
    if (i < 0) {
        pdisk_too_many_files("");
        return nullptr;
    }
    pfile_rec *f = nullptr;
    if (r.kind == 2) {
        pdisk_make_ram_slot(i, r.origin, 0);
        f = &pfile[i];
        f->p_path = buffer_of(norm, 'p');
        set_mode(*f, mode);
    } else {
        pfile[i].kind = PFILE_HOST;
        g_kind_count[PFILE_HOST]++;
        pfile[i].p_path = buffer_of(norm, 'p');
        pfile[i].origin = buffer_of(r.origin, 'p');
        set_mode(pfile[i], mode);
        f = open_host(i, m0, m1);
    }
    pdisk_after_op();
    return f;
}

int pfclose(pfile_rec *f) {
    if (!f || f->kind == PFILE_FREE) return 0;
    int result = 0;
    if (f->kind == PFILE_HOST) {
        if (f->mode[0] == 'w' || f->mode[0] == 'a') result = write_host(*f);
        pdisk_release_slot(slot_index(f));
    } else {
        if (f->mode[0] == 'w' || f->mode[0] == 'a') pdisk_mark_dirty(bview(f->origin));
        f->mode[0] = f->mode[1] = 0;
    }
    pdisk_after_op();
    return result;
}

void pdisk_abandon(pfile_rec *f) {
    if (!f || f->kind == PFILE_FREE) return;
    if (f->kind == PFILE_HOST) {
        if (f->host_temp) pdisk_host_fs()->remove(to_cstr(f->host_temp));
        pdisk_release_slot(slot_index(f));
    } else {
        f->mode[0] = f->mode[1] = 0;
    }
    pdisk_after_op();
}

int64_t pfwrite(const void *src, int64_t size, int64_t count, pfile_rec *f) {
    if (!f || !f->data) return 0;
    return bwrite(src, size, count, f->data);
}

int64_t pfread(void *dst, int64_t size, int64_t count, pfile_rec *f) {
    if (!f || !f->data) return 0;
    return bread(dst, size, count, f->data);
}

/* ---- tests of existence and size ---- */

int pdisk_file_exists(const char *path) {
    pfile_rec *f = pfopen(path, "re");
    if (!f) return 0;
    pfclose(f);
    return 1;
}

/* The folder test of one canonical path, without following mounts. */
static int directory_at(const std::string &norm) {
    pdisk_resolved r;
    if (!pdisk_resolve(norm, false, &r)) return 0;
    if (r.kind == 1) return host_directory_exists(r.origin.c_str());
    const int s = pdisk_ram_slot(r.origin);
    return s >= 0 && (pfile[s].attribs & 1) ? 1 : 0;
}

int pdisk_directory_exists(const char *path, int follow) {
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return 0;
    return pdisk_folder_at(norm, follow);
}

int pdisk_folder_at(const std::string &norm, int follow) {
    if (directory_at(norm)) return 1;
    if (!follow) return 0;
    const int m = pdisk_mount_at_kind(norm, 2);
    if (m < 0) return 0;
    if (pmount[m].is_ram) return 1;
    std::string origin_norm;
    if (!pdisk_normalise(bview(pmount[m].origin), &origin_norm)) return 0;
    return directory_at(origin_norm);
}

int64_t pfile_size(const char *path, int skip_exact) {
    std::string norm;
    pdisk_resolved r;
    if (!path || !pdisk_normalise(path, &norm) || !pdisk_resolve(norm, skip_exact != 0, &r)) return 0;
    if (r.kind == 2) {
        const int s = pdisk_ram_slot(r.origin);
        return s >= 0 ? pfile[s].data->length : 0;
    }
    host_stat st{};
    if (pdisk_host_fs()->stat(r.origin.c_str(), &st) != 0) return 0;
    return st.size;
}

int32_t pdisk_count_slots_by_kind(int kind) {
    if (kind < 0 || kind > 2) return 0;
    return g_kind_count[kind];
}

int host_directory_exists(const char *host_path) {
    host_stat st{};
    return host_path && pdisk_host_fs()->stat(host_path, &st) == 0 && st.is_dir ? 1 : 0;
}
