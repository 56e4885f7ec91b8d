/*
** Image cartridges (.kiv.png): a 512 x 384 RGBA picture of a cartridge with
** its label, whose pixels carry the ROM form of the cartridge in their low
** bits (3 in each of R, G and B, 2 in A, least significant bit first). This
** build writes them and has no reader.
*/
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cart_codecs.h"

inline constexpr int KIV_PNG_W = 512;
inline constexpr int KIV_PNG_H = 384;
inline constexpr size_t KIV_PNG_CANVAS_BYTES = size_t{KIV_PNG_W} * KIV_PNG_H * 4;

/* ROM forms of this many bytes or more are not stored. */
inline constexpr size_t KIV_PNG_MAX_ROM = 0x40000;

/* The label picture: 480 x 270 at (16, 38). */
inline constexpr int KIV_LABEL_X = 16, KIV_LABEL_Y = 38, KIV_LABEL_W = 480, KIV_LABEL_H = 270;

/* Title (doubled) and byline places of the label text. */
inline constexpr int KIV_TITLE_X = 80, KIV_TITLE_Y = 326;
inline constexpr int KIV_BYLINE_X = 80, KIV_BYLINE_Y = 344;

/* Canvas of a cartridge without a usable template: opaque dark grey. */
inline constexpr uint8_t KIV_PNG_FALLBACK[4] = {0x20, 0x20, 0x20, 0xFF};

/* The picture the canvas starts from, read from the system ROM. */
inline constexpr const char *KIV_PNG_TEMPLATE = "/system/misc/kiv_cart.png";

/* The user's notification when a cartridge is too large to store. */
inline constexpr const char *CART_TOO_LARGE_MESSAGE = "failed to store cartridge rom as png (too large)";

/*
** Appends the image cartridge holding 'entries' to 'out': the template (or
** the fallback canvas), the top-level label.png or else label.qoi when it is
** 480 x 270, the title and byline of a top-level .info.pod, and the ROM form
** (without the label pictures) in the low bits. refused when the ROM form
** cannot hold the entries, too_large when it has KIV_PNG_MAX_ROM bytes or
** more; 'out' is then as it was.
*/
cart_encode_status encode_kiv_png(const std::vector<cart_entry> &entries, std::string &out);

/* Stores 'rom' in the low bits of the canvas bytes, zero bits after its end. */
void kiv_png_embed(uint8_t *canvas, size_t canvas_len, const uint8_t *rom, size_t rom_len);

/* A copy of the .info.pod of the last cartridge written with label text. */
extern std::string info_pod_buffer;
