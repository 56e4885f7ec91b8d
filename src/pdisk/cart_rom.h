/*
** ROM cartridge format (.kiv.rom): "kiv", a version byte, the u32 size of
** one LZ4 block and the block, which holds every entry of the cartridge.
** The reader also takes legacy pxa payloads and plain program text.
*/
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cart_entry.h"

// "kiv", the version byte and the little-endian u32 block size.
inline constexpr size_t KIV_ROM_HEADER_SIZE = 8;

// Written as the version byte; readers do not look at it.
inline constexpr uint8_t KIV_ROM_VERSION = 2;

// Entries a reader takes from one block: the number of file slots.
inline constexpr size_t KIV_ROM_MAX_ENTRIES = 16384;

// Largest decompressed block a reader accepts, and so a writer writes.
inline constexpr size_t KIV_ROM_MAX_BLOCK = 64u << 20;

// First output buffer of the reader; it doubles up to KIV_ROM_MAX_BLOCK.
inline constexpr size_t KIV_ROM_FIRST_OUTPUT = 64u << 10;

// Longest entry name in a block, a folder's trailing '/' included.
inline constexpr size_t KIV_ROM_MAX_NAME = 400;

// Sizes up to this take one byte; the byte 255 announces a u32 size.
inline constexpr uint8_t KIV_ROM_SHORT_SIZE_MAX = 254;

// High-compression level: cartridges are written rarely and read often.
inline constexpr int KIV_ROM_LZ4_LEVEL = 9;

// Output capacity given to a legacy pxa payload.
inline constexpr int KIV_ROM_PXA_CAPACITY = 65536;

// Writer flag: leave out the top-level files label.png and label.qoi.
inline constexpr int KIV_ROM_SKIP_LABEL = 4;

// Name of the file a legacy payload becomes.
inline constexpr const char *KIV_ROM_LEGACY_NAME = "main.lua";

// Appends the cartridge holding 'entries', in their order, to 'out'. With
// KIV_ROM_SKIP_LABEL in 'flags' the files label.png and label.qoi at the top
// level are left out; other flags have no effect here. Returns false and
// leaves 'out' as it was when a reader could not read the cartridge back:
// more than KIV_ROM_MAX_ENTRIES entries, a block over KIV_ROM_MAX_BLOCK, or
// a name that fails cart_name_ok or is longer than KIV_ROM_MAX_NAME.
bool encode_kiv_rom(const std::vector<cart_entry> &entries, int flags, std::string &out);

// Reads the cartridge in the 'len' bytes at 'data': a "kiv" block, a legacy
// pxa payload, or plain text up to its first zero byte (the last two become
// KIV_ROM_LEGACY_NAME). 'folder' names the cartridge in log lines only.
// read_whole is false when the reader stopped early or dropped anything: a
// header under 8 bytes, a block size beyond the input, a failed
// decompression, a bad or ".." name, a truncated entry, more than
// KIV_ROM_MAX_ENTRIES entries, a malformed pxa stream, or text after a zero
// byte. An empty block (nothing to decompress into) is read whole.
cart_read_result decode_kiv_rom(const uint8_t *data, size_t len, const char *folder);

// Reads the system ROM (block 1 of the system data file): only the "kiv"
// form, and only entries whose names begin "system/"; any other entry, and
// any other form, is logged and skipped (read_whole is then false). The
// entries keep their names, so "system/boot.lua" is meant for the root.
cart_read_result decode_system_rom(const uint8_t *data, size_t len);
