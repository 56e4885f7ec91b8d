/*
** The anywhen history store: events into the day log, the daily branch,
** blobs, and the fetch of earlier versions. Every host call goes through
** the host-file seam.
*/
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "anywhen.h"
#include "anywhen_log.h"
#include "delta.h"
#include "env.h"
#include "fsops.h"
#include "host.h"
#include "host_fs.h"
#include "host_replace.h"
#include "htable.h"
#include "paths.h"
#include "pdisk_internal.h"
#include "vm_hooks.h"

uint64_t anywhen_total_files_read = 0;
uint64_t anywhen_total_bytes_read = 0;

namespace {

/* Bytes of a file recorded a cycle: read back, hashed, and its delta from
   the last version made or its blob written. */
inline constexpr int64_t CHECKPOINT_BYTES_PER_CYCLE = 2;

/* Bytes of a day's log a fetch reads and searches a cycle. */
inline constexpr int64_t LOG_SEARCH_BYTES_PER_CYCLE = 4;

/* Day logs longer than this are read only this far. */
inline constexpr int64_t ANYWHEN_LOG_MAX = int64_t(1) << 30;

/* Written before an append to a log whose last line was torn: the byte
   0x7F can be in no path, hash or time, so the torn fragment can never
   read as a whole line, and the "\n" starts the next line afresh. */
inline constexpr char TORN_LINE_END[] = "\x7f\n";

/*
** The store's state, main thread only. 'tbl' always belongs to the log named
** by 'current_log_path' (empty: none yet, so the next event loads or makes
** today's). 'log_size' is the length of that log as this run last read or
** wrote it (-1: unknown), 'log_ends_nl' whether its last byte was "\n".
*/
struct anywhen_state {
    htable_rec *tbl = nullptr;        /* path -> hash of its last ':' or '$' line */
    std::string current_log_path;     /* host path of the log tbl belongs to */
    buffer_rec *blob_buffer = nullptr;  /* the file being recorded (tag 'a') */
    buffer_rec *base_buffer = nullptr;  /* the last base blob read or written (tag 'a') */
    std::string base_hash;            /* the hash base_buffer's bytes were checked to have; empty: none */
    int64_t log_size = -1;            /* bytes in current_log_path, -1 unknown */
    bool log_ends_nl = true;          /* its last byte is "\n" (or it is empty) */
};

anywhen_state g;

/* The host places of one day. */
struct places {
    std::string root;   /* anywhen */
    std::string month;  /* anywhen/YYYY-MM */
    std::string log;    /* anywhen/YYYY-MM/DD.log */
    std::string blobs;  /* anywhen/YYYY-MM/pod */
};

places places_for(const anywhen_date &d) {
    places p;
    p.root = anywhen_root_folder();
    p.month = p.root + "/" + anywhen_month_name(d);
    p.log = p.month + "/" + anywhen_day_log_name(d);
    p.blobs = p.month + "/pod";
    return p;
}

bool has_control_byte(std::string_view s) {
    for (const char c : s)
        if (is_path_control_byte(static_cast<unsigned char>(c))) return true;
    return false;
}

bool is_folder(const std::string &path) {
    host_stat st{};
    return pdisk_host_fs()->stat(path.c_str(), &st) == 0 && st.is_dir;
}

bool is_file(const std::string &path) {
    host_stat st{};
    return pdisk_host_fs()->stat(path.c_str(), &st) == 0 && st.is_reg;
}

void ensure_folder(const std::string &path) {
    if (!is_folder(path)) pdisk_host_fs()->mkdir(path.c_str(), HOST_FOLDER_MODE);
}

/* *b emptied, made when missing; null when it cannot be made. */
buffer_rec *scratch(buffer_rec **b) {
    if (!*b) *b = create_buffer_2(1023, 'a');
    if (*b) bclear(*b);
    return *b;
}

void restart_anywhen_tbl() {
    destroy_htable(g.tbl);
    g.tbl = create_htable(ANYWHEN_TABLE_BUCKETS);
}

/* Reads 'blobs'/'hash' into 'out'; false unless it is there, under the size
   limit, and its bytes hash to its name. */
bool read_blob(const std::string &blobs, std::string_view hash, buffer_rec *out) {
    if (!anywhen_is_hash(hash)) return false;
    const std::string path = blobs + "/" + std::string(hash);
    if (!is_file(path) || pdisk_host_fs()->read_file(path.c_str(), ANYWHEN_BLOB_MAX, out) != 0) return false;
    if (out->length >= ANYWHEN_BLOB_MAX) return false;
    return anywhen_content_hash(out->data, static_cast<size_t>(out->length)) == hash;
}

/* Makes sure the blob 'hash' holding the bytes of 'b' exists, writing it
   through a temporary file and a rename. False (logged) when it could not
   be written. */
bool write_blob(const std::string &blobs, const std::string &hash, const buffer_rec *b) {
    host_fs *fs = pdisk_host_fs();
    const std::string path = blobs + "/" + hash;
    host_stat st{};
    if (fs->stat(path.c_str(), &st) == 0 && st.is_reg && st.size == b->length) return true;
    std::string temp;
    bool ok = host_create_temp(fs, path.c_str(), &temp, nullptr) == 0;
    if (ok) {
        ok = fs->write_temp(temp.c_str(), b->data, b->length) == 0 &&
             host_replace_temp(fs, temp.c_str(), path.c_str(), nullptr) == 0;
        if (!ok) fs->remove(temp.c_str());
    }
    if (!ok) pdisk_log("[anywhen] couldn't write blob %s\n", path.c_str());
    return ok;
}

/* Whether the log at 'log' (of 'size' bytes) ends in "\n", reading it when
   this run does not know. */
bool log_ends_in_newline(const std::string &log, int64_t size) {
    if (size <= 0) return true;
    if (log == g.current_log_path && size == g.log_size) return g.log_ends_nl;
    buffer_rec *b = create_buffer_2(1023, 'a');
    bool ends = true;
    if (b && pdisk_host_fs()->read_file(log.c_str(), ANYWHEN_LOG_MAX, b) == 0 && b->length > 0)
        ends = b->data[b->length - 1] == '\n';
    destroy_buffer(b);
    return ends;
}

/* Appends 'text' (whole lines) to the day log 'log'; a log whose last line
   is torn is first ended. False (printed) when the append failed. */
bool append_log(const std::string &log, const std::string &text) {
    host_fs *fs = pdisk_host_fs();
    host_stat st{};
    const int64_t size = fs->stat(log.c_str(), &st) == 0 ? st.size : 0;
    std::string payload;
    if (!log_ends_in_newline(log, size)) payload = TORN_LINE_END;
    payload += text;
    const bool ok =
        fs->append(log.c_str(), reinterpret_cast<const uint8_t *>(payload.data()), static_cast<int64_t>(payload.size())) ==
        0;
    if (log == g.current_log_path) {
        g.log_size = ok ? size + static_cast<int64_t>(payload.size()) : -1;
        g.log_ends_nl = true;
    }
    if (!ok) std::printf(" ** couldn't open log file to append\n");
    return ok;
}

/* "@ <now> <label>\n" */
std::string add_timestamp(std::string_view label) {
    return anywhen_time_line(anywhen_time_text(pdisk_utc_now_s()), label);
}

/* Fills the table from the day log 'log', which becomes the current one. */
void load_log(const std::string &log) {
    restart_anywhen_tbl();
    g.current_log_path = log;
    g.log_size = -1;
    buffer_rec *b = create_buffer_2(1023, 'a');
    if (b && pdisk_host_fs()->read_file(log.c_str(), ANYWHEN_LOG_MAX, b) == 0) {
        if (g.tbl) anywhen_load_table(g.tbl, b->data, static_cast<size_t>(b->length));
        if (b->length < ANYWHEN_LOG_MAX) {
            g.log_size = b->length;
            g.log_ends_nl = b->length == 0 || b->data[b->length - 1] == '\n';
        }
    }
    destroy_buffer(b);
}

/* The base blob 'base' of today's blob folder, from the last one read or
   written while its file is still there; null when it is missing or its
   bytes do not hash to its name. */
const buffer_rec *base_blob(const places &pl, const std::string &base) {
    if (!g.base_hash.empty() && g.base_hash == base && g.base_buffer) {
        host_stat st{};
        const std::string path = pl.blobs + "/" + base;
        if (pdisk_host_fs()->stat(path.c_str(), &st) == 0 && st.is_reg && st.size == g.base_buffer->length)
            return g.base_buffer;
    }
    g.base_hash.clear();
    buffer_rec *b = scratch(&g.base_buffer);
    if (!b || !read_blob(pl.blobs, base, b)) return nullptr;
    g.base_hash = base;
    return b;
}

/* Records the file in 'cur' as a delta from the base blob 'base' when the
   delta is small enough. True when nothing more is to be done (recorded, or
   the append failed); false when the file is to be stored whole. */
bool store_delta(const places &pl, const std::string &base, std::string_view path, const buffer_rec *cur) {
    const buffer_rec *b = base_blob(pl, base);
    if (!b) return false;
    buffer_rec *delta = generate_diff(b->data, b->length, cur->data, cur->length);
    if (!delta) return false;
    const int64_t n = delta->length;
    const bool small =
        n <= ANYWHEN_DELTA_MAX && (n <= ANYWHEN_DELTA_SMALL || n <= cur->length / ANYWHEN_DELTA_RATIO);
    if (small) {
        std::string text = add_timestamp({});
        text += anywhen_hash_line('+', base, path);
        write_delta(&text, delta->data, static_cast<size_t>(n));
        append_log(pl.log, text);
    }
    destroy_buffer(delta);
    return small;
}

/*
** Records one host file: read (files of ANYWHEN_BLOB_MAX or more, and
** anything but regular files, are skipped), then outside 'branch' a delta
** from the path's blob of today when small, else the blob and a ':' line
** (branch) or a time line and a '$' line. The line and the table entry
** follow only once the blob exists.
*/
void store_file_checkpoint(const places &pl, const std::string &host_path, std::string_view path, bool branch) {
    host_fs *fs = pdisk_host_fs();
    host_stat st{};
    if (fs->stat(host_path.c_str(), &st) != 0 || !st.is_reg || st.size >= ANYWHEN_BLOB_MAX) return;
    buffer_rec *cur = scratch(&g.blob_buffer);
    if (!cur || fs->read_file(host_path.c_str(), ANYWHEN_BLOB_MAX, cur) != 0 || cur->length >= ANYWHEN_BLOB_MAX)
        return;
    anywhen_total_files_read++;
    anywhen_total_bytes_read += static_cast<uint64_t>(cur->length);
    spend_cpu(static_cast<int32_t>(cur->length / CHECKPOINT_BYTES_PER_CYCLE));
    const std::string hash = anywhen_content_hash(cur->data, static_cast<size_t>(cur->length));
    const std::string key(path);

    if (!branch && g.tbl) {
        uint32_t n = 0;
        const char *base = htable_get(g.tbl, key.c_str(), &n);
        if (base && store_delta(pl, std::string(base, n), path, cur)) return;
    }
    if (!write_blob(pl.blobs, hash, cur)) return;
    const std::string text =
        branch ? anywhen_hash_line(':', hash, path) : add_timestamp({}) + anywhen_hash_line('$', hash, path);
    if (append_log(pl.log, text) && g.tbl)
        htable_insert(g.tbl, key.c_str(), hash.data(), static_cast<uint32_t>(hash.size()));
    if (!branch) {
        // The next save of this file makes its delta from these bytes.
        std::swap(g.blob_buffer, g.base_buffer);
        g.base_hash = hash;
    }
}

/*
** Records every host file under the virtual folder 'path' (canonical) in
** branch mode. Only host folders are walked; names beginning '.' and names
** that are no canonical path segment are skipped; links are not followed
** into folders; folders whose extension is "bin" are not entered; past
** ANYWHEN_MAX_DEPTH a subtree is skipped with a log line.
*/
void generate_daily_branch(const std::string &path, const places &pl, int depth) {
    if (depth > ANYWHEN_MAX_DEPTH) {
        pdisk_log("** anywhen exceeded maximum depth (%d). circular mount?\n", ANYWHEN_MAX_DEPTH);
        return;
    }
    if (path != "/") append_log(pl.log, "^ " + path + "/\n");
    pdisk_resolved r;
    if (!pdisk_resolve(path, false, &r) || r.kind != 1) return;
    const std::string folder = r.origin.empty() ? "/" : r.origin;
    if (!is_folder(folder)) return;
    host_fs *fs = pdisk_host_fs();
    std::vector<std::string> names;
    if (fs->list(folder.c_str(), &names, SIZE_MAX) != 0) return;
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const std::string &name : names) {
        if (name.empty() || name[0] == '.') continue;
        const std::string vpath = (path == "/" ? std::string() : path) + "/" + name;
        std::string canon;
        if (!pdisk_normalise(vpath, &canon) || canon != vpath) continue;
        const std::string host_path = prefix + name;
        host_stat st{};
        if (fs->lstat(host_path.c_str(), &st) != 0) continue;
        if (st.is_dir) {
            if (pdisk_ext(name) != "bin") generate_daily_branch(vpath, pl, depth + 1);
            continue;
        }
        if (st.is_link ? !is_file(host_path) : !st.is_reg) continue;
        store_file_checkpoint(pl, host_path, vpath, true);
    }
}

}  // namespace

/* ---- places ---- */

std::string anywhen_root_folder() { return pdisk_appdata_folder() + "anywhen"; }

std::string anywhen_today_log_path() { return places_for(anywhen_date_of(pdisk_utc_now_s())).log; }

/* ---- recording ---- */

int anywhen_event(int kind, const char *path, const char *host_path) {
    if (!config.anywhen || kind < ANYWHEN_CHECKPOINT || kind > ANYWHEN_OPEN_DAY) return 0;
    if (kind <= ANYWHEN_FOLDER_MADE && (!path || has_control_byte(path))) return 0;
    if (kind == ANYWHEN_CHECKPOINT && !host_path) return 0;
    if (kind == ANYWHEN_TIME_MARK && path && has_control_byte(path)) return 0;

    const places pl = places_for(anywhen_date_of(pdisk_utc_now_s()));
    ensure_folder(pl.root);
    ensure_folder(pl.month);
    ensure_folder(pl.blobs);
    if (is_file(pl.log)) {
        if (pl.log != g.current_log_path) {
            pdisk_log("[anywhen] loading log file: %s\n", pl.log.c_str());
            load_log(pl.log);
        }
    } else {
        restart_anywhen_tbl();
        g.current_log_path = pl.log;
        g.log_size = -1;
        if (pdisk_host_fs()->append(pl.log.c_str(), nullptr, 0) == 0) {
            g.log_size = 0;
            g.log_ends_nl = true;
            pdisk_log("[anywhen] generating new log file: %s\n", pl.log.c_str());
            automount_block hold;  // the walk only reads what is already mounted
            generate_daily_branch("/", pl, 0);
        } else {
            pdisk_log("[anywhen] ** could not open new log file: %s\n", pl.log.c_str());
        }
    }
    g.current_log_path = pl.log;

    switch (kind) {
        case ANYWHEN_CHECKPOINT:
            store_file_checkpoint(pl, host_path, path, false);
            break;
        case ANYWHEN_DELETED:
            append_log(pl.log, std::string("- ") + path + "\n");
            break;
        case ANYWHEN_FOLDER_MADE:
            append_log(pl.log, std::string("> ") + path + "\n");
            break;
        case ANYWHEN_TIME_MARK:
            append_log(pl.log, add_timestamp(path ? path : ""));
            break;
        default:
            break;
    }
    return 0;
}

void anywhen_open() {
    g.current_log_path.clear();
    anywhen_event(ANYWHEN_TIME_MARK, "__start_session", nullptr);
}

void anywhen_close() {
    destroy_htable(g.tbl);
    destroy_buffer(g.blob_buffer);
    destroy_buffer(g.base_buffer);
    g = anywhen_state{};
}

/* ---- fetching ---- */

buffer_rec *anywhen_fetch(const char *text) {
    if (!text) return nullptr;
    const size_t len = strnlen(text, ANYWHEN_FETCH_TEXT_MAX + 1);
    if (len > ANYWHEN_FETCH_TEXT_MAX) return nullptr;
    const std::string_view t(text, len);
    const size_t at = t.find('@');
    if (at == std::string_view::npos) return nullptr;
    const std::string_view path = t.substr(0, at);
    const std::string_view time = t.substr(at + 1);
    anywhen_date d{};
    if (time.size() != ANYWHEN_TIME_LEN || !anywhen_parse_date(time, &d)) return nullptr;
    std::string asked(time);
    asked[10] = '_';
    const anywhen_date today = anywhen_date_of(pdisk_utc_now_s());
    if (anywhen_date_cmp(d, today) > 0) d = today;

    // Back over the days without a log; a month without a folder at once.
    places pl;
    for (;;) {
        pl = places_for(d);
        if (!is_folder(pl.month))
            d.day = 1;
        else if (is_file(pl.log))
            break;
        if (!anywhen_step_back(&d)) return nullptr;
    }

    buffer_rec *log = create_buffer_2(1023, 'a');
    if (!log) return nullptr;
    anywhen_found found{};
    if (pdisk_host_fs()->read_file(pl.log.c_str(), ANYWHEN_LOG_MAX, log) == 0) {
        spend_cpu(static_cast<int32_t>(log->length / LOG_SEARCH_BYTES_PER_CYCLE));
        found = anywhen_search_log(log->data, static_cast<size_t>(log->length), path, asked,
                                   anywhen_midnight_text(d));
    }
    destroy_buffer(log);
    if (!found.found) return nullptr;

    buffer_rec *blob = create_buffer_2(1023, 'a');
    if (!blob || !read_blob(pl.blobs, found.hash, blob)) {
        destroy_buffer(blob);
        return nullptr;
    }
    if (found.delta.empty()) {
        blob->cursor = 0;
        return blob;
    }
    buffer_rec *out = apply_diff(blob->data, blob->length, found.delta.data(), static_cast<int64_t>(found.delta.size()));
    destroy_buffer(blob);
    if (out) out->cursor = 0;
    return out;
}
