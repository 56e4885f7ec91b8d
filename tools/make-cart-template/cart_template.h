// The picture image cartridges start from: a 512 x 384 opaque cartridge with
// a window for the label picture and a dark band for its title and byline.
#pragma once

#include <cstdint>
#include <vector>

// RGBA bytes, rows top to bottom.
std::vector<uint8_t> draw_cart_template();
