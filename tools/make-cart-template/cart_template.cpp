// The image cartridge template, drawn from rectangles: every pixel opaque,
// since picture editors may drop the colours of transparent pixels and the
// cartridge's bits with them.
#include "cart_template.h"

#include <cstddef>

namespace {

inline constexpr int W = 512, H = 384;

struct rgb {
    uint8_t r, g, b;
};

inline constexpr rgb BODY = {0x4A, 0x4E, 0x5A}, EDGE = {0x2C, 0x2F, 0x38}, RIDGE = {0x5C, 0x61, 0x70},
                     WINDOW_FRAME = {0x1A, 0x1C, 0x22}, WINDOW = {0x10, 0x12, 0x18}, BAND = {0x18, 0x1A, 0x20},
                     NOTCH = {0x30, 0x33, 0x3D};

void rect(std::vector<uint8_t> &px, int x0, int y0, int x1, int y1, rgb c) {
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            uint8_t *p = &px[(static_cast<size_t>(y) * W + x) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = 0xFF;
        }
}

}  // namespace

std::vector<uint8_t> draw_cart_template() {
    std::vector<uint8_t> px(static_cast<size_t>(W) * H * 4);
    rect(px, 0, 0, W, H, EDGE);
    rect(px, 4, 4, W - 4, H - 4, BODY);
    // Grip ridges along the top edge.
    for (int x = 40; x < W - 40; x += 12) rect(px, x, 10, x + 6, 28, RIDGE);
    // The label window: a frame around the 480 x 270 picture at (16, 38).
    rect(px, 12, 34, 500, 312, WINDOW_FRAME);
    rect(px, 16, 38, 496, 308, WINDOW);
    // The band behind the title (y 326-345) and the byline (y 354-363).
    rect(px, 72, 320, 440, 370, BAND);
    // Notches at the bottom corners.
    rect(px, 4, H - 24, 24, H - 4, NOTCH);
    rect(px, W - 24, H - 24, W - 4, H - 4, NOTCH);
    return px;
}
