/*
** The cartridge codecs the mount code uses, one per cartridge kind (1 text,
** 2 ROM, 3 image), and the glue between cartridge entries and RAM files.
*/
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffer.h"
#include "cart_entry.h"

/* Reads a whole cartridge file; 'folder' names it in log lines only. */
using cart_decode_fn = cart_read_result (*)(const uint8_t *bytes, size_t len, const char *folder);

/* What an encoder made of a cartridge. */
enum class cart_encode_status {
    written,    /* 'out' holds the cartridge */
    refused,    /* this form cannot hold the entries (its reader could not read them back whole) */
    too_large,  /* the entries fit the form but not its size limit; the user is told once */
};

/* Appends the cartridge file holding 'entries' to 'out'; anything but
   written leaves 'out' as it was. */
using cart_encode_fn = cart_encode_status (*)(const std::vector<cart_entry> &entries, std::string &out);

struct cart_codec {
    cart_decode_fn decode;  /* null: files of this kind cannot be read */
    cart_encode_fn encode;  /* null: files of this kind cannot be written */
};

/* The codec of cartridge 'kind' (1-3); an empty one for other kinds. */
const cart_codec &pdisk_cart_codec(int kind);

/* Replaces the codec of 'kind' (tests; start-up keeps the built-in ones). */
void pdisk_set_cart_codec(int kind, cart_codec codec);

/* The built-in codecs again: text and ROM cartridges read and written,
   image cartridges written only. */
void pdisk_reset_cart_codecs();

/* The RAM files and folders under the RAM folder 'origin' as entries, in
   slot-table order, names relative to it. */
std::vector<cart_entry> pdisk_collect_entries(const std::string &origin);

/*
** Writes 'entries' as RAM files and folders under the virtual folder
** 'folder' (each at folder + "/" + name), without mounting cartridges or
** marking mounts dirty. Returns false when any entry could not be written
** (a bad name, a path that is not in RAM, a clash with a file or folder, a
** full table); the others are still written.
*/
bool pdisk_populate(const std::string &folder, const std::vector<cart_entry> &entries);

/*
** Fills RAM files from the ROM cartridge in 'buffer' (from its cursor to its
** end), each entry written at folder + "/" + its name; afterwards the cursor
** stands at the end. A null buffer does nothing. Returns 1 when every entry
** was read and written, else 0.
*/
int populate_ram_folder_from_kiv_rom_buffer(const char *folder, buffer_rec *buffer);

/*
** Fills /system from the system ROM in 'buffer' (block 1 of the system data
** file), from its cursor: only the "kiv" form and only entries whose names
** begin "system/" are taken, the others logged and skipped. Afterwards the
** cursor stands at the end. Returns 1 when everything was taken, else 0.
*/
int populate_system_rom(buffer_rec *buffer);
