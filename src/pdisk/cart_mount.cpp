/*
** Cartridge mounts: mounting a cartridge file into a fresh RAM folder, the
** codec table, and the moves between cartridge entries and RAM files.
*/
#include <algorithm>
#include <cstdio>
#include <string>

#include "cart_codecs.h"
#include "cart_png.h"
#include "cart_rom.h"
#include "cart_text.h"
#include "env.h"
#include "host_fs.h"
#include "paths.h"
#include "pdisk_internal.h"

namespace {

/* Where cartridge folders are made. */
inline constexpr const char *CART_FOLDER_ROOT = "/ram/mount";

/* Letters in a cartridge folder's name. */
inline constexpr int CART_FOLDER_LETTERS = 8;

/* Write-back stores binary files of text cartridges as base64. */
cart_encode_status encode_text_cart(const std::vector<cart_entry> &entries, std::string &out) {
    return encode_kiv_text(entries, false, out) ? cart_encode_status::written : cart_encode_status::refused;
}

/* Write-back passes no flags to the ROM writer. */
cart_encode_status encode_rom_cart(const std::vector<cart_entry> &entries, std::string &out) {
    return encode_kiv_rom(entries, 0, out) ? cart_encode_status::written : cart_encode_status::refused;
}

/* The built-in codecs; image cartridges are written but have no reader. */
const cart_codec BUILT_IN_CODECS[4] = {
    {nullptr, nullptr},
    {decode_kiv_text, encode_text_cart},
    {decode_kiv_rom, encode_rom_cart},
    {nullptr, encode_kiv_png},
};

cart_codec g_codecs[4] = {BUILT_IN_CODECS[0], BUILT_IN_CODECS[1], BUILT_IN_CODECS[2],
                          BUILT_IN_CODECS[3]}; /* by cartridge kind; [0] unused */
std::string g_last_cart_folder;  /* the folder the last mount_kiv_path made */

/* True when 'name' is a plain relative name: no leading or trailing '/',
   no empty, "." or ".." segment. */
bool plain_name(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    size_t i = 0;
    while (i <= name.size()) {
        size_t e = name.find('/', i);
        if (e == std::string_view::npos) e = name.size();
        const std::string_view seg = name.substr(i, e - i);
        if (seg.empty() || seg == "." || seg == "..") return false;
        i = e + 1;
    }
    return true;
}

/* True when the plain relative 'name' needs no normalising after a
   canonical folder: legal characters only, every segment short enough. */
bool legal_segments(std::string_view name) {
    size_t seg = 0;
    for (const char c : name) {
        if (c == '/') {
            seg = 0;
            continue;
        }
        if (!is_path_char(static_cast<unsigned char>(c)) || ++seg > PATH_SEGMENT_MAX) return false;
    }
    return true;
}

/* True when something (file or folder) is at the canonical 'norm'. */
bool anything_at(const std::string &norm) {
    pdisk_resolved r;
    if (!pdisk_resolve(norm, false, &r)) return false;
    if (r.kind == 2) return pdisk_ram_slot(r.origin) >= 0;
    host_stat st{};
    return pdisk_host_fs()->lstat(r.origin.c_str(), &st) == 0;
}

/* A fresh cartridge folder's virtual path and RAM origin; false when the
   cartridge root is not in RAM. */
bool new_cart_folder(std::string *name, std::string *origin) {
    for (;;) {
        std::string candidate = std::string(CART_FOLDER_ROOT) + "/";
        for (int i = 0; i < CART_FOLDER_LETTERS; i++) candidate += pdisk_next_folder_letter();
        pdisk_resolved r;
        if (!pdisk_resolve(candidate, false, &r) || r.kind != 2) return false;
        if (pdisk_ram_slot(r.origin) >= 0 || pdisk_mount_at(candidate) >= 0) continue;
        *name = candidate;
        *origin = r.origin;
        return true;
    }
}

}  // namespace

/* ---- codecs ---- */

const cart_codec &pdisk_cart_codec(int kind) {
    static const cart_codec none{};
    return kind >= 1 && kind <= 3 ? g_codecs[kind] : none;
}

void pdisk_set_cart_codec(int kind, cart_codec codec) {
    if (kind >= 1 && kind <= 3) g_codecs[kind] = codec;
}

void pdisk_reset_cart_codecs() {
    for (int k = 0; k < 4; k++) g_codecs[k] = BUILT_IN_CODECS[k];
}

/* ---- RAM files without dirty marking ---- */

bool pdisk_ram_write_file(std::string_view origin, std::string_view p_path, std::string_view data) {
    int s = pdisk_ram_slot(origin);
    if (s >= 0) {
        if (pfile[s].attribs & 1) return false;
    } else {
        s = pdisk_take_slot();
        if (s < 0) {
            pdisk_too_many_files("");
            return false;
        }
        // A new file's buffer is made at its size: growth would double it.
        pdisk_make_ram_slot(s, origin, 0, static_cast<int32_t>(std::min<size_t>(data.size(), BUFFER_MAX_LENGTH)));
        pfile[s].p_path = buffer_of(p_path, 'p');
    }
    buffer_rec *b = pfile[s].data;
    bclear(b);
    ballocate(b, static_cast<int64_t>(data.size()));
    const bool ok = data.empty() || bwrite(data.data(), 1, static_cast<int64_t>(data.size()), b) ==
                                        static_cast<int64_t>(data.size());
    b->cursor = 0;
    return ok;
}

int pdisk_ram_make_folder(std::string_view origin) {
    const int s = pdisk_ram_slot(origin);
    if (s >= 0) return (pfile[s].attribs & 1) ? 1 : 3;
    const int i = pdisk_take_slot();
    if (i < 0) return 2;
    pdisk_make_ram_slot(i, origin, 1);
    return 0;
}

/* ---- entries and RAM files ---- */

std::vector<cart_entry> pdisk_collect_entries(const std::string &origin) {
    std::vector<cart_entry> entries;
    const size_t skip = origin.size() + (origin.empty() || origin.back() != '/' ? 1 : 0);
    for (const int s : pdisk_ram_slots_within(origin, false)) {
        const pfile_rec &f = pfile[s];
        cart_entry e;
        e.name.assign(bview(f.origin).substr(skip));
        e.is_folder = (f.attribs & 1) != 0;
        if (!e.is_folder) e.data.assign(bview(f.data));
        entries.push_back(std::move(e));
    }
    return entries;
}

bool pdisk_populate(const std::string &folder, const std::vector<cart_entry> &entries) {
    automount_block hold;
    bool all = true;
    std::string virt, norm;
    std::string folder_norm;
    const bool folder_canonical =
        folder.empty() || (folder != "/" && pdisk_normalise(folder, &folder_norm) && folder_norm == folder);
    for (const cart_entry &e : entries) {
        virt = folder;
        virt += '/';
        virt += e.name;
        pdisk_resolved r;
        bool canonical = plain_name(e.name);
        if (canonical && !(folder_canonical && legal_segments(e.name)))
            canonical = pdisk_normalise(virt, &norm) && norm == virt;
        if (!canonical || !pdisk_resolve(virt, false, &r) || r.kind != 2) {
            pdisk_log("** skipped cartridge entry %s\n", virt.c_str());
            all = false;
            continue;
        }
        const bool ok = e.is_folder ? pdisk_ram_make_folder(r.origin) <= 1
                                    : pdisk_ram_write_file(r.origin, virt, e.data);
        if (!ok) all = false;
    }
    pdisk_after_op();
    return all;
}

int populate_ram_folder_from_kiv_rom_buffer(const char *folder, buffer_rec *buffer) {
    if (!buffer) return 0;
    const cart_codec &codec = pdisk_cart_codec(2);
    const std::string name = folder ? folder : "";
    int whole = 0;
    if (codec.decode && buffer->cursor >= 0 && buffer->cursor <= buffer->length) {
        const cart_read_result read =
            codec.decode(buffer->data + buffer->cursor, static_cast<size_t>(buffer->length - buffer->cursor),
                         name.c_str());
        whole = pdisk_populate(name, read.entries) && read.read_whole ? 1 : 0;
    }
    buffer->cursor = buffer->length;
    return whole;
}

int populate_system_rom(buffer_rec *buffer) {
    if (!buffer) return 0;
    int whole = 0;
    if (buffer->cursor >= 0 && buffer->cursor <= buffer->length) {
        const cart_read_result read = decode_system_rom(buffer->data + buffer->cursor,
                                                        static_cast<size_t>(buffer->length - buffer->cursor));
        whole = pdisk_populate("", read.entries) && read.read_whole ? 1 : 0;
    }
    buffer->cursor = buffer->length;
    return whole;
}

/* ---- cartridge mounts ---- */

pmount_rec *mount_kiv_path(const char *path) {
    g_last_cart_folder.clear();
    std::string norm;
    if (!path || !pdisk_normalise(path, &norm)) return nullptr;
    const int existing = pdisk_mount_at(norm);
    if (existing >= 0) return &pmount[existing];
    if (!pdisk_mount_room()) return nullptr;

    // Outer cartridges first, so that a cartridge inside one is found there.
    const size_t cut = norm.rfind('/');
    if (cut != std::string::npos && cut >= 2) automount_p_path(norm.substr(0, cut).c_str());
    automount_block hold;

    std::string name, origin;
    if (!new_cart_folder(&name, &origin)) return nullptr;
    pdisk_resolved root;
    if (pdisk_resolve(CART_FOLDER_ROOT, false, &root) && root.kind == 2) pdisk_ram_make_folder(root.origin);
    if (pdisk_ram_make_folder(origin) != 0) {
        pdisk_too_many_files(" (during mkdir)");
        return nullptr;
    }

    const int kind = pdisk_cart_kind(norm);
    uint32_t load_ok = 1;
    if (pfile_rec *f = pfopen(norm.c_str(), "r")) {
        const cart_codec &codec = pdisk_cart_codec(kind);
        if (!codec.decode) {
            if (kind == 3) {
                std::printf("can not populate %s\n", name.c_str());
                std::printf("kiv.png loader not supported in this build.\n");
            }
            load_ok = 0;
        } else {
            const cart_read_result read = codec.decode(f->data->data, static_cast<size_t>(f->data->length), name.c_str());
            const bool all = pdisk_populate(name, read.entries);
            load_ok = read.read_whole && all ? 1 : 0;
        }
        pfclose(f);
    } else if (anything_at(norm)) {
        load_ok = 0;  // there but unreadable: never write over it
    }

    pmount_rec *m = pdisk_append_mount(2, norm, origin, 0, MOUNT_BY_CART);
    if (!m) {
        pdisk_free_ram_within(origin);
        pdisk_after_op();
        return nullptr;
    }
    m->load_ok = load_ok;
    g_last_cart_folder = name;
    pdisk_after_op();
    return m;
}

const char *pdisk_last_cart_folder() { return g_last_cart_folder.c_str(); }
