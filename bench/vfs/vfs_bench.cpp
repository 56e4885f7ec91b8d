// File-system benchmarks. Every result is a ratio of our time to a baseline's
// time measured in the same run (median of several runs), printed as
// "vfs <benchmark> ratio: R"; the last line is "vfs worst goal margin: M",
// the largest ratio divided by its goal (1.0 or less: every goal holds).
#include <lz4.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "anywhen_log.h"
#include "base64.h"
#include "cart_rom.h"
#include "cart_text.h"
#include "delta.h"
#include "fake_host.h"
#include "host.h"
#include "host_fs.h"
#include "pdisk.h"
#include "pfile.h"

namespace {

inline constexpr int RUNS = 15;  // measured runs per timing; the median counts

volatile uint64_t sink;  // keeps results alive
double worst_margin = 0;

// The medians of RUNS timed calls of 'ours' and of 'base', taken in turns so
// that both see the same machine load; 'prepare' runs untimed before each
// call of 'ours'.
struct timing {
    double ours;  /* seconds */
    double base;  /* seconds */
};

timing measure(const std::function<void()> &ours, const std::function<void()> &base,
               const std::function<void()> &prepare = nullptr) {
    std::vector<double> a, b;
    auto time = [](const std::function<void()> &f) {
        const auto start = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (int i = 0; i < RUNS; i++) {
        if (prepare) prepare();
        a.push_back(time(ours));
        b.push_back(time(base));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return timing{a[RUNS / 2], b[RUNS / 2]};
}

void report(const char *name, const timing &t, double goal) {
    const double ratio = t.ours / t.base;
    worst_margin = std::max(worst_margin, ratio / goal);
    std::printf("vfs %s ratio: %.3f\n", name, ratio);
}

// A fixed-seed generator for the workloads.
struct lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// Source-like text of about 'n' bytes.
std::string text_bytes(lcg &r, size_t n) {
    static const char *words[] = {"local", "function", "end", "return", "if", "then", "x", "y", "= 0", "+ 1",
                                  "print(", ")", "for i=1,10 do", "--", "table", "self"};
    std::string s;
    while (s.size() < n) {
        s += words[r.below(16)];
        s += r.below(6) ? ' ' : '\n';
    }
    s.resize(n);
    return s;
}

std::string binary_bytes(lcg &r, size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>(r.next() >> 7);
    return s;
}

std::string g_root;   // temporary folder of the run
std::string g_drive;  // mounted at /

// A fresh file system with the mounts a reset makes.
void fresh_vfs() {
    pdisk_shutdown();
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    mount_host_path("/", g_drive.c_str());
    mount_ram_folder("/system");
}

/* ---- mounting a ROM ---- */

void bench_rom_mount() {
    lcg r{1};
    std::vector<cart_entry> entries;
    std::vector<size_t> sizes;
    entries.push_back({"system", "", true});
    for (int d = 0; d < 30; d++) entries.push_back({"system/d" + std::to_string(d), "", true});
    size_t total = 0;
    for (int i = 0; i < 3000; i++) {
        const size_t n = 500 + r.below(3500);  // 6 MB over 3000 files
        const bool text = i % 3 != 0;
        entries.push_back({"system/d" + std::to_string(i % 30) + "/f" + std::to_string(i) + (text ? ".lua" : ".bin"),
                           text ? text_bytes(r, n) : binary_bytes(r, n), false});
        sizes.push_back(n);
        total += n;
    }
    std::string rom;
    if (!encode_kiv_rom(entries, 0, rom)) {
        std::printf("vfs rom_mount_3000: could not encode\n");
        std::exit(1);
    }
    uint32_t block_len = 0;
    std::memcpy(&block_len, rom.data() + 4, 4);

    buffer_rec *buf = create_buffer_2(static_cast<int32_t>(rom.size()), 'x');
    bwrite(rom.data(), 1, static_cast<int64_t>(rom.size()), buf);
    // The baseline, like the reader, decompresses into a buffer of its own.
    std::vector<std::unique_ptr<char[]>> files(sizes.size());
    const size_t out_size = total * 2 + (1 << 20);
    const timing t = measure(
        [&] {
            buf->cursor = 0;
            sink = static_cast<uint64_t>(populate_system_rom(buf));
        },
        [&] {
            std::unique_ptr<char[]> out(new char[out_size]);
            const int n = LZ4_decompress_safe(rom.data() + KIV_ROM_HEADER_SIZE, out.get(),
                                              static_cast<int>(block_len), static_cast<int>(out_size));
            size_t at = 0;
            for (size_t i = 0; i < sizes.size(); i++) {
                files[i].reset(new char[sizes[i]]);
                std::memcpy(files[i].get(), out.get() + at, sizes[i]);
                at += sizes[i] + 16;
            }
            sink = static_cast<uint64_t>(n);
        },
        [] { fresh_vfs(); });
    if (pdisk_count_slots_by_kind(2) < 3000 || !pdisk_file_exists("/system/d7/f7.lua")) {
        std::printf("vfs rom_mount_3000: the ROM did not mount\n");
        std::exit(1);
    }
    destroy_buffer(buf);
    report("rom_mount_3000", t, 2.5);
    fresh_vfs();
}

/* ---- resolving paths ---- */

void bench_resolve() {
    fresh_vfs();
    lcg r{2};
    std::filesystem::create_directories(g_drive + "/carts");
    for (int i = 0; i < 1500; i++) pmkdir(("/carts/c" + std::to_string(i) + ".kiv").c_str());
    for (int i = 0; i < 400; i++) mount_ram_folder(("/rf/r" + std::to_string(i)).c_str());
    for (int i = 0; i < 100; i++)
        mount_p_path(("/al/a" + std::to_string(i)).c_str(), ("/rf/r" + std::to_string(i)).c_str());
    if (pmounts < 2000) {
        std::printf("vfs resolve_100k: only %d mounts were made\n", pmounts);
        std::exit(1);
    }

    std::vector<std::string> paths;
    for (int i = 0; i < 100000; i++) {
        std::string p;
        int segs = 4 + static_cast<int>(r.below(9));
        switch (i % 4) {
            case 0: p = "/carts/c" + std::to_string(r.below(1500)) + ".kiv"; segs -= 2; break;
            case 1: p = "/rf/r" + std::to_string(r.below(400)); segs -= 2; break;
            case 2: p = "/al/a" + std::to_string(r.below(100)); segs -= 2; break;
            default: break;
        }
        for (int s = 0; s < segs; s++) p += "/seg" + std::to_string(r.below(50));
        paths.push_back(p);
    }
    const timing t = measure(
        [&] {
            uint64_t n = 0;
            for (const std::string &p : paths) {
                int kind = 0;
                buffer_rec *o = resolve_to_origin(p.c_str(), &kind, 0);
                n += static_cast<uint64_t>(o->length + kind);
                destroy_buffer(o);
            }
            sink = n;
        },
        [&] {
            uint64_t n = 0;
            for (const std::string &p : paths) {
                buffer_rec *o = normalise_quillmar_path(p.c_str());
                n += static_cast<uint64_t>(o->length);
                destroy_buffer(o);
            }
            sink = n;
        });
    report("resolve_100k", t, 3.0);
    fresh_vfs();
}

/* ---- opening RAM files ---- */

void bench_open_close() {
    fresh_vfs();
    std::vector<std::string> names;
    std::unordered_map<std::string, int> index;
    for (int i = 0; pdisk_count_slots_by_kind(0) > 0; i++) {
        const std::string p = "/ram/d" + std::to_string(i % 64) + "/file" + std::to_string(i) + ".lua";
        pfile_rec *f = pfopen(p.c_str(), "w");
        if (!f) break;
        pfwrite("x", 1, 1, f);
        pfclose(f);
        names.push_back(p);
        index.emplace(p, i);
    }
    if (pdisk_count_slots_by_kind(0) != 0) {
        std::printf("vfs open_close_ram: the slot table did not fill\n");
        std::exit(1);
    }
    lcg r{3};
    std::vector<const std::string *> order;
    for (int i = 0; i < 200000; i++) order.push_back(&names[r.below(static_cast<uint32_t>(names.size()))]);

    const timing t = measure(
        [&] {
            uint64_t n = 0;
            for (const std::string *p : order) {
                pfile_rec *f = pfopen(p->c_str(), "r");
                n += static_cast<uint64_t>(f->data->length);
                pfclose(f);
            }
            sink = n;
        },
        [&] {
            uint64_t n = 0;
            for (const std::string *p : order) {
                buffer_rec *norm = normalise_quillmar_path(p->c_str());
                const auto it = index.find(
                    std::string(reinterpret_cast<const char *>(norm->data), static_cast<size_t>(norm->length)));
                n += static_cast<uint64_t>(it->second);
                destroy_buffer(norm);
            }
            sink = n;
        });
    report("open_close_ram", t, 3.0);
    fresh_vfs();
}

/* ---- text cartridges ---- */

void bench_text_cart() {
    // Binary files, so every byte goes through base64 as in the baseline.
    lcg r{4};
    std::vector<cart_entry> entries;
    std::string all;  // the file bytes, for the baseline
    for (int i = 0; i < 500; i++) {
        std::string name = "d";  // built by appends: GCC 12 warns falsely on "d" + to_string
        name += std::to_string(i % 10);
        name += "/f";
        name += std::to_string(i);
        name += ".bin";
        entries.push_back({name, binary_bytes(r, 10000), false});
        all += entries.back().data;
    }
    std::string cart;
    std::string b64(all.size() * 4 / 3 + 16, '\0');
    int64_t b64_len = 0;
    const timing write = measure(
        [&] {
            cart.clear();
            sink = encode_kiv_text(entries, false, cart);
        },
        [&] {
            base64_encodestate st;
            base64_init_encodestate(&st);
            b64_len = base64_encode_block(reinterpret_cast<const uint8_t *>(all.data()),
                                          static_cast<int64_t>(all.size()), b64.data(), &st);
            b64_len += base64_encode_blockend(b64.data() + b64_len, &st);
            sink = static_cast<uint64_t>(b64_len);
        });
    report("kiv_write_5mb", write, 1.5);

    const timing read = measure(
        [&] {
            const cart_read_result res =
                decode_kiv_text(reinterpret_cast<const uint8_t *>(cart.data()), cart.size(), "/ram/mount/bench");
            sink = res.entries.size() + res.read_whole;
        },
        [&] {
            // Like the reader, the baseline decodes into memory of its own.
            std::unique_ptr<uint8_t[]> back(new uint8_t[all.size() + 16]);
            base64_decodestate st;
            base64_init_decodestate(&st);
            sink = static_cast<uint64_t>(base64_decode_block(b64.data(), b64_len, back.get(), &st));
        });
    report("kiv_read_5mb", read, 2.0);
}

/* ---- history checkpoints ---- */

// Lines of today's history log that begin with 'kind'.
int log_lines_beginning(char kind) {
    std::ifstream in(anywhen_today_log_path());
    std::string line;
    int n = 0;
    while (std::getline(in, line)) n += !line.empty() && line[0] == kind;
    return n;
}

void bench_anywhen() {
    fresh_vfs();
    config.anywhen = 1;
    host_fs *fs = pdisk_host_fs();
    const std::string file = g_drive + "/big.bin";
    lcg r{5};
    std::string bytes = text_bytes(r, 1 << 20);
    auto write_file = [&] {
        fs->remove(file.c_str());
        fs->append(file.c_str(), reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<int64_t>(bytes.size()));
    };
    write_file();
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);

    // First saves: new contents under a new path, so a blob is written each time.
    int run = 0;
    std::string vpath;
    const std::string copy = g_root + "/copy.bin";
    const timing first = measure([&] { anywhen_event(ANYWHEN_CHECKPOINT, vpath.c_str(), file.c_str()); },
                                 [&] {
                                     buffer_rec *b = create_buffer_2(1023, 'x');
                                     fs->read_file(file.c_str(), ANYWHEN_BLOB_MAX, b);
                                     std::string temp;
                                     fs->create_temp(copy.c_str(), &temp);
                                     fs->write_temp(temp.c_str(), b->data, b->length);
                                     fs->replace(temp.c_str(), copy.c_str());
                                     destroy_buffer(b);
                                 },
                                 [&] {
                                     run++;
                                     std::snprintf(bytes.data(), 16, "run %08d", run);
                                     write_file();
                                     vpath = "/first" + std::to_string(run) + ".bin";
                                 });
    report("anywhen_first_save_1mb", first, 1.5);

    // Saves after a 100-byte edit: deltas from the first blob of the day.
    std::snprintf(bytes.data(), 16, "base %08d", 0);
    write_file();
    anywhen_event(ANYWHEN_CHECKPOINT, "/edited.bin", file.c_str());
    const std::string base_bytes = bytes;
    const timing edit = measure(
        [&] { anywhen_event(ANYWHEN_CHECKPOINT, "/edited.bin", file.c_str()); },
        [&] {
            const std::string h1 =
                anywhen_content_hash(reinterpret_cast<const uint8_t *>(base_bytes.data()), base_bytes.size());
            const std::string h2 = anywhen_content_hash(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            buffer_rec *d = generate_diff(reinterpret_cast<const uint8_t *>(base_bytes.data()),
                                          static_cast<int64_t>(base_bytes.size()),
                                          reinterpret_cast<const uint8_t *>(bytes.data()),
                                          static_cast<int64_t>(bytes.size()));
            sink = static_cast<uint64_t>(d->length) + h1.size() + h2.size();
            destroy_buffer(d);
        },
        [&] {
            bytes = base_bytes;
            const size_t at = 1000 + r.below(1 << 19);
            for (size_t i = 0; i < 100; i++) bytes[at + i] = static_cast<char>('A' + r.below(26));
            write_file();
        });
    if (log_lines_beginning('$') < RUNS + 1 || log_lines_beginning('+') < RUNS) {
        std::printf("vfs anywhen: the checkpoints were not recorded as expected\n");
        std::exit(1);
    }
    report("anywhen_edit_save_1mb", edit, 1.3);
    config.anywhen = 0;
    fresh_vfs();
}

/* ---- replacing a host file: the folder sync's cost ---- */

// The host seam without the folder sync: the baseline of a whole-file write.
class no_folder_sync final : public host_fs {
public:
    int stat(const char *p, host_stat *st) override { return real->stat(p, st); }
    int lstat(const char *p, host_stat *st) override { return real->lstat(p, st); }
    int read_file(const char *p, int64_t limit, buffer_rec *out) override { return real->read_file(p, limit, out); }
    int create_temp(const char *t, std::string *tp) override { return real->create_temp(t, tp); }
    int write_temp(const char *tp, const uint8_t *b, int64_t n) override { return real->write_temp(tp, b, n); }
    int replace(const char *tp, const char *t) override { return real->replace(tp, t); }
    int append(const char *p, const uint8_t *b, int64_t n) override { return real->append(p, b, n); }
    int remove(const char *p) override { return real->remove(p); }
    int rmdir(const char *p) override { return real->rmdir(p); }
    int mkdir(const char *p, uint32_t mode) override { return real->mkdir(p, mode); }
    int list(const char *p, std::vector<std::string> *names, size_t max_names) override {
        return real->list(p, names, max_names);
    }
    int realpath(const char *p, std::string *out) override { return real->realpath(p, out); }
    int sync_dir(const char *) override { return 0; }

private:
    host_fs *real = pdisk_posix_fs();
};

// 20 writes of a 4 KB host file, with and without the folder sync after
// each rename. Reported, not held to a goal: the sync is what makes the
// rename survive a power cut.
void bench_host_write() {
    fresh_vfs();
    lcg r{11};
    const std::string bytes = text_bytes(r, 4096);
    constexpr int WRITES = 20;
    auto writes = [&] {
        for (int i = 0; i < WRITES; i++) {
            pfile_rec *f = pfopen("/saved.txt", "w");
            if (!f) continue;
            pfwrite(bytes.data(), 1, static_cast<int64_t>(bytes.size()), f);
            sink = sink + static_cast<uint64_t>(pfclose(f));
        }
    };
    no_folder_sync without;
    const timing t = measure(writes, [&] {
        pdisk_set_host_fs(&without);
        writes();
        pdisk_set_host_fs(nullptr);
    });
    std::printf("vfs host_write_folder_sync ratio: %.3f\n", t.ours / t.base);
    std::printf("vfs host_write_folder_sync cost: %.1f us per write\n", (t.ours - t.base) / WRITES * 1e6);
}

}  // namespace

// With arguments, runs only the groups named: rom, resolve, open, kiv, anywhen, write.
int main(int argc, char **argv) {
    auto wanted = [&](const char *group) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; i++)
            if (std::strcmp(argv[i], group) == 0) return true;
        return false;
    };
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fake_host::reset();
    char tmpl[] = "/tmp/vfs_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    g_root = tmpl;
    g_drive = g_root + "/drive";
    std::filesystem::create_directory(g_drive);
    pdisk_set_appdata_folder(g_root);
    pdisk_seed_folder_names(7);

    if (wanted("rom")) bench_rom_mount();
    if (wanted("resolve")) bench_resolve();
    if (wanted("open")) bench_open_close();
    if (wanted("kiv")) bench_text_cart();
    if (wanted("anywhen")) bench_anywhen();
    if (wanted("write")) bench_host_write();

    pdisk_shutdown();
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    std::printf("vfs worst goal margin: %.3f\n", worst_margin);
    return 0;
}
