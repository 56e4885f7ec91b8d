// The two pixel rules written out plainly over the running process, reading
// its registers and colour tables through peek for every pixel: the
// reference of the rasteriser's tests and benchmarks.
#pragma once

#include <cstdint>

#include "address_space.h"
#include "draw_state.h"

namespace pixel_reference {

inline int pattern_bit(int64_t x, int64_t y) {
    return (peek(REG_FILL_PATTERN + uint32_t(y & 7)) >> (x & 7)) & 1;
}

inline uint8_t table_entry(uint32_t table, uint32_t s, uint32_t t) {
    return peek(COLOUR_TABLES_ADDR + table * 4096 + (s & 63) * 64 + (t & 63));
}

// The shape rule: the colour's high byte where the pattern bit is set.
inline uint8_t shape(int64_t x, int64_t y, int32_t colour, uint8_t d) {
    uint32_t rm = peek(REG_READ_MASK), wm = peek(REG_WRITE_MASK), tm = peek(REG_SHAPE_TARGET_MASK);
    uint32_t s = uint32_t(pattern_bit(x, y) ? colour >> 8 : colour) & rm;
    uint32_t t = d & tm;
    uint8_t v = table_entry((s | t) >> 6, s, t);
    return uint8_t((v & wm) | (d & ~wm));
}

// The sprite rule: a set pattern bit forces bit 1 of the table number.
inline uint8_t sprite(int64_t x, int64_t y, uint32_t src, uint8_t d) {
    uint32_t rm = peek(REG_READ_MASK), wm = peek(REG_WRITE_MASK), tm = peek(REG_SPRITE_TARGET_MASK);
    uint32_t s = src & rm;
    uint32_t t = d & tm;
    uint8_t v = table_entry(((s | t) >> 6) | (pattern_bit(x, y) ? 2 : 0), s, t);
    return uint8_t((v & wm) | (d & ~wm));
}

}  // namespace pixel_reference
