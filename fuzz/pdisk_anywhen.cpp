// Fuzz target: the history's day-log reader and the fetch over it. The
// input's first line is the fetch text, the rest the day log of 2025-03-10,
// served from memory beside two blobs. What the fetch returns must be what
// the log's search names: a blob as it is, or a delta applied to one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "anywhen.h"
#include "anywhen_log.h"
#include "delta.h"
#include "env.h"
#include "fake_host.h"
#include "no_host_fs.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "anywhen: %s\n", what);
    abort();
}

// A host held in memory: files and folders that exist, nothing writable.
class memory_host final : public no_host_fs {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders;

    int stat(const char *path, host_stat *st) override {
        *st = host_stat{};
        if (folders.count(path)) {
            st->is_dir = true;
            return 0;
        }
        const auto it = files.find(path);
        if (it == files.end()) return -1;
        st->is_reg = true;
        st->size = static_cast<int64_t>(it->second.size());
        return 0;
    }
    int lstat(const char *path, host_stat *st) override { return stat(path, st); }
    int read_file(const char *path, int64_t limit, buffer_rec *out) override {
        const auto it = files.find(path);
        if (it == files.end()) return -1;
        const int64_t n = static_cast<int64_t>(it->second.size()) < limit ? static_cast<int64_t>(it->second.size()) : limit;
        out->cursor = out->length;
        bwrite(it->second.data(), 1, n, out);
        return 0;
    }
};

memory_host g_host;
const std::string g_blob_a = "hello\n";
const std::string g_blob_b = [] {
    std::string s;
    for (int i = 0; i < 64; i++) s += "line " + std::to_string(i) + "\n";
    return s;
}();
std::string g_log_path;

void setup() {
    static bool done = false;
    if (done) return;
    done = true;
    pdisk_set_host_fs(&g_host);
    pdisk_set_appdata_folder("/mem");
    pdisk_set_utc_s(1741608000);  // 2025-03-10 12:00:00 UTC
    const std::string month = "/mem/anywhen/2025-03";
    g_host.folders = {"/mem", "/mem/anywhen", month, month + "/pod"};
    for (const std::string *b : {&g_blob_a, &g_blob_b})
        g_host.files[month + "/pod/" + anywhen_content_hash(reinterpret_cast<const uint8_t *>(b->data()), b->size())] =
            *b;
    g_log_path = month + "/10.log";
}

std::string text_of(const buffer_rec *b) {
    return b ? std::string(reinterpret_cast<const char *>(b->data), static_cast<size_t>(b->length)) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    fake_host::reset();
    const char *nl = static_cast<const char *>(memchr(data, '\n', size));
    const size_t qlen = nl ? static_cast<size_t>(nl - reinterpret_cast<const char *>(data)) : size;
    const std::string query = std::string(reinterpret_cast<const char *>(data), qlen).c_str();  // as C sees it
    const uint8_t *log = nl ? data + qlen + 1 : data + size;
    const size_t log_len = static_cast<size_t>(data + size - log);
    g_host.files[g_log_path] = std::string(reinterpret_cast<const char *>(log), log_len);

    // The table holds hashes only.
    htable_rec *table = create_htable(1024);
    anywhen_load_table(table, log, log_len);
    for (uint32_t i = 0; i < table->buckets; i++) {
        if (!table->keys[i]) continue;
        const char *key = reinterpret_cast<const char *>(table->key_buf->data + table->keys[i]);
        uint32_t n = 0;
        const char *value = htable_get(table, key, &n);
        if (!value || !anywhen_is_hash(std::string_view(value, n))) fail("a table value is not a hash");
        if (key[0] != '/') fail("a table key is not a path");
    }
    destroy_htable(table);

    buffer_rec *got = anywhen_fetch(query.c_str());
    const size_t at = query.find('@');
    if (at == std::string::npos || query.size() - at - 1 != ANYWHEN_TIME_LEN || query.size() > ANYWHEN_FETCH_TEXT_MAX) {
        if (got) fail("a malformed fetch text gave a result");
        destroy_buffer(got);
        return 0;
    }
    anywhen_date d{};
    if (!anywhen_parse_date(query.substr(at + 1), &d)) {
        if (got) fail("a malformed date gave a result");
        destroy_buffer(got);
        return 0;
    }
    // Dates from 2025-03-10 on read that day's log (the only one there).
    if (anywhen_date_cmp(d, {2025, 3, 10}) >= 0) {
        std::string asked = query.substr(at + 1);
        asked[10] = '_';
        const anywhen_found f = anywhen_search_log(log, log_len, query.substr(0, at), asked, "2025-03-10_00:00:00");
        std::string want;
        bool have = false;
        if (f.found) {
            const std::string &blob = f.hash == anywhen_content_hash(reinterpret_cast<const uint8_t *>(g_blob_a.data()),
                                                                     g_blob_a.size())
                                          ? g_blob_a
                                          : g_blob_b;
            const bool known =
                f.hash == anywhen_content_hash(reinterpret_cast<const uint8_t *>(blob.data()), blob.size());
            if (known && f.delta.empty()) {
                want = blob;
                have = true;
            } else if (known) {
                buffer_rec *out = apply_diff(reinterpret_cast<const uint8_t *>(blob.data()),
                                             static_cast<int64_t>(blob.size()), f.delta.data(),
                                             static_cast<int64_t>(f.delta.size()));
                have = out != nullptr;
                want = text_of(out);
                destroy_buffer(out);
            }
        }
        if (have != (got != nullptr)) fail("the fetch and the log's search disagree");
        if (got && text_of(got) != want) fail("the fetch gave other bytes than the log names");
    } else if (got) {
        fail("a day before the only log gave a result");
    }
    destroy_buffer(got);
    return 0;
}
