/*
** sysrom-pack: writes the system data file, a sequence of blocks each made
** of a u32 big-endian length and the bytes: block 0 the export name, block 1
** the system ROM packed from a folder, block 2 an optional expansion
** cartridge. Output is deterministic: entries are sorted bytewise.
**
**   sysrom-pack --export NAME --out FILE ROMDIR [--expansion DIR]
**
** Exits 1, naming the file, when something cannot be packed so that the
** reader gets it back; 2 on a bad command line.
*/
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "cart_rom.h"
#include "host.h"

namespace fs = std::filesystem;

namespace {

// Longest export name.
inline constexpr size_t MAX_EXPORT_NAME = 32;

// Longest block a reader of the data file accepts.
inline constexpr size_t MAX_DAT_BLOCK = 0x2000000;

// Segments of this length or more are refused by the path rules.
inline constexpr size_t MAX_SEGMENT = 254;

// Every name of the system ROM lies under this folder.
inline constexpr const char *SYSTEM_PREFIX = "system/";

// The file the host boots from.
inline constexpr const char *BOOT_FILE = "system/boot.lua";

struct failure {
    std::string what;  /* the file or name at fault, then the reason */
};

[[noreturn]] void fail(const fs::path &file, const std::string &reason) {
    throw failure{file.string() + ": " + reason};
}

bool is_packable_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '.' ||
           c == '/' || c == '_';
}

// What one folder gathers: its entries and the bytes its block will hold.
struct tree {
    std::vector<cart_entry> entries;  /* sorted bytewise by their stored names at the end */
    size_t block_bytes = 0;           /* size of the decompressed block so far */
};

// Checks the relative name 'rel' of 'file' against what the readers accept.
void check_name(const std::string &rel, bool is_folder, const fs::path &file) {
    for (char c : rel) {
        if (!is_packable_char(c)) fail(file, "character outside 0-9 A-Z a-z - . / _");
    }
    if (rel.find("..") != std::string::npos) fail(file, "\"..\" in the name");
    size_t start = 0;
    for (;;) {
        const size_t slash = rel.find('/', start);
        const size_t len = (slash == std::string::npos ? rel.size() : slash) - start;
        if (len > MAX_SEGMENT) fail(file, "a name segment of 255 characters or more");
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (rel.size() + is_folder > KIV_ROM_MAX_NAME) fail(file, "name over 400 bytes");
}

std::string read_file(const fs::path &file, uintmax_t size) {
    std::ifstream in(file, std::ios::binary);
    std::string data(static_cast<size_t>(size), '\0');
    if (!in || !in.read(data.data(), static_cast<std::streamsize>(size)) || in.peek() != EOF) {
        fail(file, "could not be read whole");
    }
    return data;
}

void add_entry(tree &t, cart_entry e, const fs::path &file) {
    if (t.entries.size() == KIV_ROM_MAX_ENTRIES) fail(file, "more than 16384 entries");
    const size_t size_bytes = e.data.size() <= KIV_ROM_SHORT_SIZE_MAX ? 1 : 5;
    t.block_bytes += e.name.size() + e.is_folder + 1 + (e.is_folder ? 0 : size_bytes + e.data.size());
    if (t.block_bytes > KIV_ROM_MAX_BLOCK) fail(file, "more than 64 MiB of data");
    t.entries.push_back(std::move(e));
}

// Adds every entry below 'dir' to 't', named 'prefix' + its path from there.
void walk(const fs::path &dir, const std::string &prefix, tree &t) {
    std::error_code ec;
    std::vector<fs::directory_entry> items;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) items.push_back(*it);
    if (ec) fail(dir, "could not be listed: " + ec.message());
    std::sort(items.begin(), items.end(),
              [](const auto &a, const auto &b) { return a.path().filename() < b.path().filename(); });

    for (const fs::directory_entry &item : items) {
        const fs::path &file = item.path();
        const std::string leaf = file.filename().string();
        if (leaf[0] == '.') {
            fprintf(stderr, "sysrom-pack: warning: %s: dot-name skipped\n", file.c_str());
            continue;
        }
        const std::string rel = prefix + leaf;
        const fs::file_status st = item.symlink_status(ec);
        if (ec) fail(file, "could not be examined: " + ec.message());
        if (fs::is_symlink(st)) fail(file, "symbolic link");
        if (fs::is_directory(st)) {
            check_name(rel, true, file);
            add_entry(t, cart_entry{rel, "", true}, file);
            walk(file, rel + "/", t);
        } else if (fs::is_regular_file(st)) {
            check_name(rel, false, file);
            const uintmax_t size = item.file_size(ec);
            if (ec) fail(file, "could not be examined: " + ec.message());
            if (size > KIV_ROM_MAX_BLOCK) fail(file, "more than 64 MiB of data");
            add_entry(t, cart_entry{rel, read_file(file, size), false}, file);
        } else {
            fail(file, "neither a file nor a folder");
        }
    }
}

// The stored name of an entry: a folder's ends in '/'.
std::string stored_name(const cart_entry &e) { return e.is_folder ? e.name + "/" : e.name; }

// Packs the folder 'root' into a ROM cartridge; 'system' applies the rules
// of the system ROM.
std::string pack_folder(const fs::path &root, bool system) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) fail(root, "not a folder");
    tree t;
    walk(root, "", t);
    std::sort(t.entries.begin(), t.entries.end(),
              [](const cart_entry &a, const cart_entry &b) { return stored_name(a) < stored_name(b); });
    if (system) {
        if (t.entries.empty()) fail(root, "nothing to pack");
        for (const cart_entry &e : t.entries) {
            if (stored_name(e).compare(0, 7, SYSTEM_PREFIX) != 0) fail(root / e.name, "outside system/");
        }
        const bool has_boot = std::any_of(t.entries.begin(), t.entries.end(), [](const cart_entry &e) {
            return !e.is_folder && e.name == BOOT_FILE;
        });
        if (!has_boot) fail(root / BOOT_FILE, "missing");
    }
    std::string rom;
    if (!encode_kiv_rom(t.entries, 0, rom)) fail(root, "could not be encoded");
    if (rom.size() > MAX_DAT_BLOCK) fail(root, "packed block over 0x2000000 bytes");
    return rom;
}

void put_block(std::string &out, const std::string &block) {
    const uint32_t n = static_cast<uint32_t>(block.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((n >> shift) & 0xFF));
    out += block;
}

// Writes 'bytes' to 'file' through a temporary sibling and a rename, so a
// failed run never leaves a half-written file behind.
void write_output(const fs::path &file, const std::string &bytes) {
    const fs::path tmp = file.string() + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
            std::error_code ec;
            fs::remove(tmp, ec);
            fail(file, "could not be written");
        }
    }
    std::error_code ec;
    fs::rename(tmp, file, ec);
    if (ec) {
        fs::remove(tmp, ec);
        fail(file, "could not be written: " + ec.message());
    }
}

int usage() {
    fprintf(stderr, "usage: sysrom-pack --export NAME --out FILE ROMDIR [--expansion DIR]\n");
    return 2;
}

}  // namespace

// Cartridge readers log through this; here the log is standard error.
extern "C" void codo_debug(const char *text) { fputs(text, stderr); }

int main(int argc, char **argv) {
    const char *export_name = nullptr, *out = nullptr, *rom = nullptr, *expansion = nullptr;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if ((arg == "--export" || arg == "--out" || arg == "--expansion") && i + 1 < argc) {
            (arg == "--export" ? export_name : arg == "--out" ? out : expansion) = argv[++i];
        } else if (arg.compare(0, 2, "--") != 0 && !rom) {
            rom = argv[i];
        } else {
            return usage();
        }
    }
    if (!export_name || !out || !rom) return usage();

    try {
        const std::string name = export_name;
        if (name.size() > MAX_EXPORT_NAME ||
            !std::all_of(name.begin(), name.end(), [](char c) { return is_packable_char(c) && c != '.' && c != '/'; })) {
            throw failure{"export name \"" + name + "\": not 0-32 of A-Z a-z 0-9 _ -"};
        }
        std::string dat;
        put_block(dat, name);
        put_block(dat, pack_folder(rom, true));
        if (expansion) put_block(dat, pack_folder(expansion, false));
        write_output(out, dat);
    } catch (const failure &f) {
        fprintf(stderr, "sysrom-pack: %s\n", f.what.c_str());
        return 1;
    }
    return 0;
}
