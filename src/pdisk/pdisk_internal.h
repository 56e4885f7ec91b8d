/*
** Shared inside the file system only: the string forms of resolution, the
** indexes over the slot and mount tables, and the RAM-file primitives.
*/
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "buffer.h"
#include "pfile.h"
#include "pmount.h"

/* The bytes of 'b' (empty for null). */
inline std::string_view bview(const buffer_rec *b) {
    if (!b) return std::string_view();
    return std::string_view(reinterpret_cast<const char *>(b->data), static_cast<size_t>(b->length));
}

/* A new buffer under 'tag' holding 's'. */
buffer_rec *buffer_of(std::string_view s, int32_t tag);

/* Replaces the contents of 'b' by 's', cursor 0. */
void buffer_set(buffer_rec *b, std::string_view s);

/* Logs one formatted line through codo_debug. */
void pdisk_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Holds block_automounting for a scope and restores it when the scope
   ends, also by an exception. */
struct automount_block {
    uint8_t saved = block_automounting;
    automount_block() { block_automounting = 1; }
    ~automount_block() { block_automounting = saved; }
    automount_block(const automount_block &) = delete;
    automount_block &operator=(const automount_block &) = delete;
};

/* ---- resolution (pmount.cpp) ---- */

inline constexpr uint64_t TEXT_KEY_MOD = (uint64_t{1} << 61) - 1;

/* h * base + d modulo 2^61 - 1, folded once: a number congruent to it and
   below 2^63, for h below 2^63, base below 2^60 and d below 2^33. One fold
   a step keeps a byte's step short; text_key_value reduces the result. */
inline uint64_t text_key_step(uint64_t h, uint64_t base, uint64_t d) {
    const unsigned __int128 p = static_cast<unsigned __int128>(h) * base;
    return (static_cast<uint64_t>(p) & TEXT_KEY_MOD) + static_cast<uint64_t>(p >> 61) + d;
}

/* The residue modulo 2^61 - 1 of h, below 2^63. */
inline uint64_t text_key_value(uint64_t h) {
    const uint64_t r = (h & TEXT_KEY_MOD) + (h >> 61);
    return r >= TEXT_KEY_MOD ? r - TEXT_KEY_MOD : r;
}

/*
** The key the mount indexes give a text: a polynomial hash of its bytes
** modulo 2^61 - 1, and its length. Adding bytes to the key of a text gives
** the key of the longer text, so the keys of every leading part of a path
** come from one pass over it.
*/
struct text_key {
    uint64_t h = 0;  /* folded (text_key_step): text_key_value gives the hash */
    size_t len = 0;
    /* This key with the bytes of 's' added. */
    text_key extended(std::string_view s) const;
    /* Adds one byte; 'base' is text_key_base(). */
    void add(unsigned char c, uint64_t base) {
        h = text_key_step(h, base, uint64_t{c} + 1);
        len++;
    }
};

/* The base of the keys, drawn once a run. */
uint64_t text_key_base();

/* A hash of a whole text in the same way, four bytes a step: a polynomial
   of its 32-bit words in text_key_base() modulo 2^61 - 1, mixed with its
   length. Two texts of one length and n words collide with a chance of
   n / 2^61 at most, however they were chosen. */
uint64_t text_words_hash(std::string_view s);

/* pdisk_directory_exists of a path already canonical. */
int pdisk_folder_at(const std::string &norm, int follow);

/* Where a path leads. */
struct pdisk_resolved {
    std::string origin;  /* host path or RAM name */
    int kind;            /* 1 host, 2 RAM */
    int mount;           /* index of the mount used */
};

/* Resolves the canonical 'norm' (automounting first); false when no mount
   covers it or the rest holds a "." or ".." segment. */
bool pdisk_resolve(const std::string &norm, bool skip_exact, pdisk_resolved *r);

/* The index of the deepest mount covering the canonical 'norm' (first of
   equally deep ones), or -1; no automounting. */
int pdisk_find_mount(std::string_view norm, bool skip_exact);

/* The first mount whose mount point is exactly 'point', or -1. */
int pdisk_mount_at(std::string_view point);

/*
** pdisk_mount_at of texts 'head' + a name: the key of 'head' is made at
** most once, and only when a mount point is as long as such a text, so a
** folder's entries are tested in the time of their names, not of the
** folder's path.
*/
class pdisk_child_mounts {
public:
    explicit pdisk_child_mounts(std::string_view head) : head_(head) {}
    /* pdisk_mount_at(head + name), 'name' not empty. */
    int at(std::string_view name);

private:
    std::string_view head_;
    text_key key_;
    bool keyed_ = false;
};

/* The first mount of 'kind' whose mount point is exactly 'point', or -1. */
int pdisk_mount_at_kind(std::string_view point, uint32_t kind);

/* True when one more mount may be appended; otherwise logs the refusal and
   requests a prune. */
bool pdisk_mount_room();

/* Appends a clean mount record; null (after pdisk_mount_room's log) when
   the table is at its limit. */
pmount_rec *pdisk_append_mount(uint32_t kind, std::string_view point, std::string_view origin, uint32_t is_ram,
                               uint32_t made_by);

/* Removes record 'i' (its buffers freed), moving the later ones down. */
void pdisk_remove_mount(int i);

/* Removes every record i with drop[i] set (buffers freed), keeping the
   order of the others. */
void pdisk_remove_mounts(const std::vector<bool> &drop);

/* Frees every mount record. */
void pdisk_clear_mounts();

/* Marks dirty the deepest cartridge mount whose origin covers the RAM name
   'origin', or, when no cartridge covers it, the deepest RAM mount that
   does. */
void pdisk_mark_dirty(std::string_view origin);

/* True when an alias mount's origin lies at or under 'origin'. */
bool pdisk_alias_inside(std::string_view origin);

/* True when a cartridge mount's origin lies at or under the RAM name
   'origin'. */
bool pdisk_cart_inside(std::string_view origin);

/* Forgets that the uncovered-path message was logged (fresh start). */
void pdisk_reset_resolve_log();

/* ---- slots (pfile.cpp) ---- */

/* The RAM slot whose origin is 'origin', or -1. */
int pdisk_ram_slot(std::string_view origin);

/* Takes a free slot by the round-robin search (requesting a prune when
   fewer than PFILE_RELIEF_FREE are free); -1 when none is free. */
int pdisk_take_slot();

/* Makes the taken slot 'i' a RAM slot with 'origin' (entered in the index),
   an empty data buffer with room for 'capacity' bytes, and 'attribs'. */
void pdisk_make_ram_slot(int i, std::string_view origin, uint32_t attribs, int32_t capacity = 0);

/* Frees slot 'i': buffers released, index updated, record zeroed. */
void pdisk_release_slot(int i);

/* RAM slots whose origin lies under 'folder' (and 'folder' itself when
   'with_self'), in slot-table order. */
std::vector<int> pdisk_ram_slots_within(std::string_view folder, bool with_self);

/* RAM slots whose origin lies directly inside 'folder' (no further '/'), in
   origin order; *walked (when given) receives how many slots under it were
   looked at to find them. */
std::vector<int> pdisk_ram_slots_directly_in(std::string_view folder, size_t *walked = nullptr);

/* Logs and prints that the slot table is full. */
void pdisk_too_many_files(const char *during);

/* Frees every RAM slot at or under 'folder'; returns how many. */
int pdisk_free_ram_within(std::string_view folder);

/* Closes 'f' without writing anything to the host: a host slot is freed
   and its temporary file removed; a RAM slot only loses its mode. */
void pdisk_abandon(pfile_rec *f);

/* Runs the index check when pdisk_check_index_each_op is set. */
void pdisk_after_op();

/* ---- RAM files without dirty marking (cart_mount.cpp) ---- */

/* Writes 'data' as the RAM file 'origin' (made or replaced; a new slot's
   p_path is 'p_path'); false when a folder is there or no slot is free. */
bool pdisk_ram_write_file(std::string_view origin, std::string_view p_path, std::string_view data);

/* Makes the RAM folder 'origin': 0 made, 1 already a folder, 2 no free
   slot, 3 a file is there. */
int pdisk_ram_make_folder(std::string_view origin);
