/*
** ROM cartridge format: writer, reader and the system-ROM reader.
*/
#include "cart_rom.h"

#include <lz4.h>
#include <lz4hc.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "cart_common.h"
#include "pxa.h"

namespace {

void put_u32(std::string &s, uint32_t v) {
    for (int i = 0; i < 4; i++) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t get_u32(const uint8_t *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool is_top_level_label(const cart_entry &e) {
    return !e.is_folder && (e.name == "label.png" || e.name == "label.qoi");
}

// The entry stream of a block; false when a reader could not read it back.
bool build_block(const std::vector<cart_entry> &entries, int flags, std::string &block) {
    if (entries.size() > KIV_ROM_MAX_ENTRIES) return false;
    for (const cart_entry &e : entries) {
        if ((flags & KIV_ROM_SKIP_LABEL) && is_top_level_label(e)) continue;
        if (!cart_name_ok(e.name) || e.name.size() + e.is_folder > KIV_ROM_MAX_NAME) return false;
        block += e.name;
        if (e.is_folder) block.push_back('/');
        block.push_back('\0');
        if (!e.is_folder) {
            if (e.data.size() > KIV_ROM_MAX_BLOCK) return false;
            if (e.data.size() <= KIV_ROM_SHORT_SIZE_MAX) {
                block.push_back(static_cast<char>(e.data.size()));
            } else {
                block.push_back(static_cast<char>(0xFF));
                put_u32(block, static_cast<uint32_t>(e.data.size()));
            }
            block += e.data;
        }
        if (block.size() > KIV_ROM_MAX_BLOCK) return false;
    }
    return true;
}

// Decompresses 'n' bytes at 'src' into a buffer that starts at
// max(KIV_ROM_FIRST_OUTPUT, 4 x n) bytes and doubles up to KIV_ROM_MAX_BLOCK
// while the block does not fit. Returns LZ4's result (negative on failure).
int decompress_block(const uint8_t *src, size_t n, std::unique_ptr<char[]> &dst) {
    if (n > static_cast<size_t>(LZ4_MAX_INPUT_SIZE)) return -1;
    size_t cap = std::min(KIV_ROM_MAX_BLOCK, std::max(KIV_ROM_FIRST_OUTPUT, 4 * n));
    for (;;) {
        dst.reset(new char[cap]);
        const int r = LZ4_decompress_safe(reinterpret_cast<const char *>(src), dst.get(), static_cast<int>(n),
                                          static_cast<int>(cap));
        if (r >= 0 || cap == KIV_ROM_MAX_BLOCK) return r;
        cap = std::min(KIV_ROM_MAX_BLOCK, cap * 2);
    }
}

// Reads the entries of a decompressed block into 'r'. With 'system_only',
// entries whose names do not begin "system/" are logged and skipped.
void read_entries(const uint8_t *p, size_t n, const char *folder, bool system_only, cart_read_result &r) {
    size_t at = 0, count = 0;
    while (at < n) {
        if (count == KIV_ROM_MAX_ENTRIES) {
            cart_log("** more than %zu entries in .kiv.rom; the rest is not read: %s\n", KIV_ROM_MAX_ENTRIES, folder);
            r.read_whole = false;
            return;
        }
        count++;
        const uint8_t *nul = static_cast<const uint8_t *>(memchr(p + at, 0, std::min(n - at, KIV_ROM_MAX_NAME + 1)));
        const size_t name_len = nul ? static_cast<size_t>(nul - (p + at)) : 0;
        if (name_len == 0) {
            cart_log("  *** kiv.rom filename parsing failed\n");
            r.read_whole = false;
            return;
        }
        std::string name(reinterpret_cast<const char *>(p + at), name_len);
        at += name_len + 1;
        const bool outside_system = system_only && name.compare(0, 7, "system/") != 0;
        const bool is_folder = name.back() == '/';
        if (is_folder) name.pop_back();
        if (!cart_name_ok(name)) {
            cart_log("** bad file description while mounting .kiv.rom: %s\n", folder);
            r.read_whole = false;
            return;
        }

        std::string data;
        bool truncated = false;
        if (!is_folder) {
            size_t size = 0;
            if (at < n) size = p[at++];
            else truncated = true;
            if (size == 0xFF) {
                if (n - at >= 4) size = get_u32(p + at), at += 4;
                else size = 0, truncated = true;
            }
            if (size > n - at) size = n - at, truncated = true;
            data.assign(reinterpret_cast<const char *>(p + at), size);
            at += size;
        }

        if (outside_system) {
            cart_log("** system rom: skipped %s%s (outside system/)\n", name.c_str(), is_folder ? "/" : "");
            r.read_whole = false;
        } else {
            r.entries.push_back(cart_entry{std::move(name), std::move(data), is_folder});
        }
        if (truncated) {
            cart_log("** truncated entry in .kiv.rom: %s\n", folder);
            r.read_whole = false;
            return;
        }
    }
}

// Reads a "kiv" cartridge; the caller has checked the magic.
void read_kiv_block(const uint8_t *data, size_t len, const char *folder, bool system_only, cart_read_result &r) {
    int result = -1;
    std::unique_ptr<char[]> block;
    if (len >= KIV_ROM_HEADER_SIZE) {
        const size_t size = get_u32(data + 4), left = len - KIV_ROM_HEADER_SIZE;
        if (size > left) r.read_whole = false;
        result = decompress_block(data + KIV_ROM_HEADER_SIZE, std::min(size, left), block);
    }
    if (result < 1) {
        cart_log("  *** kiv.rom decompression failed: %s\n", folder);
        if (result < 0) r.read_whole = false;
        return;
    }
    read_entries(reinterpret_cast<const uint8_t *>(block.get()), static_cast<size_t>(result), folder, system_only, r);
}

}  // namespace

bool encode_kiv_rom(const std::vector<cart_entry> &entries, int flags, std::string &out) {
    std::string block;
    block.reserve(65536);
    if (!build_block(entries, flags, block)) return false;

    const int bound = LZ4_compressBound(static_cast<int>(block.size()));
    std::string packed(KIV_ROM_HEADER_SIZE + static_cast<size_t>(bound) + 256, '\0');
    const int size = LZ4_compress_HC(block.data(), packed.data() + KIV_ROM_HEADER_SIZE,
                                     static_cast<int>(block.size()), bound + 256, KIV_ROM_LZ4_LEVEL);
    if (size <= 0) return false;
    memcpy(packed.data(), "kiv", 3);
    packed[3] = static_cast<char>(KIV_ROM_VERSION);
    for (int i = 0; i < 4; i++) packed[4 + i] = static_cast<char>((static_cast<uint32_t>(size) >> (8 * i)) & 0xFF);
    packed.resize(KIV_ROM_HEADER_SIZE + static_cast<size_t>(size));
    out += packed;
    return true;
}

cart_read_result decode_kiv_rom(const uint8_t *data, size_t len, const char *folder) {
    cart_read_result r;
    if (len >= 4 && data[0] == 0 && memcmp(data + 1, "pxa", 3) == 0) {
        auto area = std::make_unique<uint8_t[]>(KIV_ROM_PXA_CAPACITY + 1);
        if (pxa_decompress(data, len, area.get(), KIV_ROM_PXA_CAPACITY) != PXA_OK) {
            cart_log("** malformed pxa payload while mounting %s\n", folder);
            r.read_whole = false;
        }
        r.entries.push_back(cart_entry{KIV_ROM_LEGACY_NAME, reinterpret_cast<const char *>(area.get()), false});
        return r;
    }
    if (len >= 3 && memcmp(data, "kiv", 3) == 0) {
        read_kiv_block(data, len, folder, false, r);
        return r;
    }
    if (len < 3) {
        r.read_whole = len == 0;
        return r;
    }
    const uint8_t *nul = static_cast<const uint8_t *>(memchr(data, 0, len));
    const size_t text_len = nul ? static_cast<size_t>(nul - data) : len;
    if (text_len < len) r.read_whole = false;
    r.entries.push_back(cart_entry{KIV_ROM_LEGACY_NAME, std::string(reinterpret_cast<const char *>(data), text_len), false});
    return r;
}

cart_read_result decode_system_rom(const uint8_t *data, size_t len) {
    cart_read_result r;
    if (len < 3 || memcmp(data, "kiv", 3) != 0) {
        cart_log("** system rom is not a kiv cartridge; nothing read\n");
        r.read_whole = false;
        return r;
    }
    read_kiv_block(data, len, "", true, r);
    return r;
}
