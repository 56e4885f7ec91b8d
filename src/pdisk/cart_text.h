/*
** Text cartridge format (.kiv): a readable text holding a whole folder, one
** entry after the other; text files as they are, binary files as base64 or
** hex lines. Version 2 is written; versions 1 and 2 are read.
*/
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cart_entry.h"

// The banner line, which no reader interprets.
inline constexpr const char *KIV_TEXT_BANNER = "quillmar cartridge // https://quillmar.org\n";

// The version a writer writes.
inline constexpr int KIV_TEXT_VERSION = 2;

// Bytes per encoded line, first line (behind its 4-character prefix) and
// every later one, so that each line has 76 characters.
inline constexpr size_t KIV_HEX_FIRST_LINE = 36;
inline constexpr size_t KIV_HEX_LINE = 38;
inline constexpr size_t KIV_B64_FIRST_LINE = 54;
inline constexpr size_t KIV_B64_LINE = 57;

// Most entries a writer writes: the number of file slots that must take them.
inline constexpr size_t KIV_TEXT_MAX_ENTRIES = 16384;

// Most file bytes a writer writes, as for ROM cartridges.
inline constexpr size_t KIV_TEXT_MAX_DATA = 64u << 20;

// True when a file named 'name' holding 'data' is written as text: its
// extension (up to two parts, lower-cased) is exactly "txt" or "lua", every
// byte is 1-127 but '\r', and no line, the first included, begins ":: ",
// "hex$" or "b64$". Such text reads back exactly.
bool is_writeable_as_ascii(std::string_view name, std::string_view data);

// Appends the cartridge text of 'entries', in their order, to 'out'; binary
// files go to "hex$" lines with 'use_hex', else to "b64$" lines. Returns
// false and leaves 'out' as it was when a reader could not read the
// cartridge back: more than KIV_TEXT_MAX_ENTRIES entries, more than
// KIV_TEXT_MAX_DATA file bytes, or a name that fails cart_name_ok, holds a
// byte below 33 or above 127, or begins "[eoc]".
bool encode_kiv_text(const std::vector<cart_entry> &entries, bool use_hex, std::string &out);

// Reads the cartridge text in the 'len' bytes at 'data'. 'folder' names the
// cartridge in log lines only. read_whole is false when the reader stopped
// early or skipped anything: an unknown version, no ":: [eoc]" line (version
// 2), a skipped entry, or a version 1 line without '['.
cart_read_result decode_kiv_text(const uint8_t *data, size_t len, const char *folder);
