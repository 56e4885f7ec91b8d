// A plain reader of image cartridges for the tests: LodePNG, the low bits
// gathered one by one, then the ROM reader.
#pragma once

#include <lodepng.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cart_rom.h"

struct kiv_png_picture {
    std::vector<uint8_t> rgba;  // 512 x 384 x 4
    std::string payload;        // every gathered byte (270336)
};

inline std::optional<kiv_png_picture> read_kiv_png_picture(const std::string &png) {
    unsigned char *px = nullptr;
    unsigned w = 0, h = 0;
    const unsigned err = lodepng_decode32(&px, &w, &h, reinterpret_cast<const unsigned char *>(png.data()), png.size());
    if (err || w != 512 || h != 384) {
        std::free(px);
        return std::nullopt;
    }
    kiv_png_picture pic;
    pic.rgba.assign(px, px + size_t{w} * h * 4);
    std::free(px);
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < pic.rgba.size(); i++) {
        const int n = i % 4 == 3 ? 2 : 3;
        for (int b = 0; b < n; b++) {
            acc |= ((pic.rgba[i] >> b) & 1u) << bits;
            if (++bits == 8) {
                pic.payload += static_cast<char>(acc);
                acc = 0;
                bits = 0;
            }
        }
    }
    return pic;
}

// The entries an image cartridge holds, or nothing when it holds no ROM.
inline std::optional<std::vector<cart_entry>> read_kiv_png(const std::string &png) {
    const auto pic = read_kiv_png_picture(png);
    if (!pic || pic->payload.compare(0, 3, "kiv") != 0) return std::nullopt;
    uint32_t size = 0;
    std::memcpy(&size, pic->payload.data() + 4, 4);
    if (size > pic->payload.size() - KIV_ROM_HEADER_SIZE) return std::nullopt;
    const cart_read_result r =
        decode_kiv_rom(reinterpret_cast<const uint8_t *>(pic->payload.data()), KIV_ROM_HEADER_SIZE + size, "");
    if (!r.read_whole) return std::nullopt;
    return r.entries;
}
