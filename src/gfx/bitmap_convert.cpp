// Indexed <-> RGBA pixel conversion through the running process's palette.
#include "bitmap_convert.h"

#include <cstdint>

#include "address_space.h"

namespace {

// One palette entry split into its channels.
struct rgb {
    int32_t r, g, b;  /* 0..255 each */
};

// Reads the 64 RGB palette words (0x00RRGGBB) of the running process once.
void read_palette(rgb pal[CONVERT_PALETTE_ENTRIES]) {
    for (int i = 0; i < CONVERT_PALETTE_ENTRIES; i++) {
        const auto v = static_cast<uint32_t>(peek4(DRAW_STATE_ADDR + 4u * static_cast<uint32_t>(i)));
        pal[i] = {static_cast<int32_t>((v >> 16) & 0xFF), static_cast<int32_t>((v >> 8) & 0xFF),
                  static_cast<int32_t>(v & 0xFF)};
    }
}

uint8_t nearest(const rgb pal[CONVERT_PALETTE_ENTRIES], int32_t r, int32_t g, int32_t b) {
    int32_t best = 0;
    int32_t best_d = INT32_MAX;
    for (int32_t i = 0; i < CONVERT_PALETTE_ENTRIES; i++) {
        const int32_t dr = r - pal[i].r, dg = g - pal[i].g, db = b - pal[i].b;
        const int32_t d = dr * dr + dg * dg + db * db;
        if (d < best_d) {
            best_d = d;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

}  // namespace

void convert_bitmap_8_to_32(const uint8_t *src, uint8_t *dst, int64_t n) {
    rgb pal[CONVERT_PALETTE_ENTRIES];
    read_palette(pal);
    for (int64_t i = 0; i < n; i++) {
        const rgb &c = pal[src[i] & (CONVERT_PALETTE_ENTRIES - 1)];
        uint8_t *out = dst + 4 * i;
        out[0] = static_cast<uint8_t>(c.r);
        out[1] = static_cast<uint8_t>(c.g);
        out[2] = static_cast<uint8_t>(c.b);
        out[3] = 255;
    }
}

void convert_bitmap_32_to_8(const uint8_t *src, uint8_t *dst, int64_t n) {
    rgb pal[CONVERT_PALETTE_ENTRIES];
    read_palette(pal);
    // Pictures repeat colours: the last pixel's answer is kept (same results
    // as scanning every pixel).
    uint32_t last_rgb = 0;
    uint8_t last_index = 0;
    bool have_last = false;
    for (int64_t i = 0; i < n; i++) {
        const uint8_t *p = src + 4 * i;
        const uint32_t key = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
        if (!have_last || key != last_rgb) {
            last_index = nearest(pal, p[0], p[1], p[2]);
            last_rgb = key;
            have_last = true;
        }
        dst[i] = last_index;
    }
}
