// Process records the host draws with itself: set up like a fresh process
// whose display is a bitmap of ours.
#include "private_record.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "address_space.h"
#include "draw_state.h"
#include "glyph.h"
#include "typed_ud.h"

namespace {

inline constexpr uint8_t PRIVATE_MASK = 0x3F;
inline constexpr uint8_t PRIVATE_DEFAULT_FONT = 0x40, PRIVATE_ALT_FONT = 0x56;

}  // namespace

typed_ud_rec *new_private_bitmap(uint32_t w, uint32_t h) {
    auto *b = static_cast<typed_ud_rec *>(std::calloc(1, TYPED_UD_HEADER + size_t{w} * h));
    if (!b) return nullptr;
    b->type = UTYPE_U8;
    b->dims = 2;
    b->width = w;
    b->height = h;
    b->depth = 1;
    return b;
}

void setup_private_record(process_rec *rec, typed_ud_rec *back, const uint32_t *rgb) {
    rec->clip_x0 = 0;
    rec->clip_x1 = static_cast<int32_t>(back->width);
    rec->clip_y0 = 0;
    rec->clip_y1 = static_cast<int32_t>(back->height);
    for (uint32_t p = 0; p < FIRST_PAGES; p++) own_page(rec, p);
    const int32_t bytes = static_cast<int32_t>(back->width * back->height);
    for (int32_t p = 0; p * PAGE_BYTES < bytes; p++)
        map_page(rec, static_cast<int32_t>(DISPLAY_ADDR >> PAGE_SHIFT) + p, ud_elements(back) + p * PAGE_BYTES,
                 std::min(PAGE_BYTES, bytes - p * PAGE_BYTES));

    for (uint32_t i = 0; i < 64; i++) poke_proc(rec, REG_SCREEN_PALETTE + i, i);
    uint8_t row[64];
    for (uint32_t r = 0; r < 64; r++) {
        std::memset(row, static_cast<int>(r), sizeof row);
        write_bytes_proc(rec, COLOUR_TABLES_ADDR + r * 64, row, sizeof row);
    }
    for (uint32_t a = REG_READ_MASK; a <= REG_SHAPE_TARGET_MASK; a++) poke_proc(rec, a, PRIVATE_MASK);
    poke_proc(rec, REG_DEFAULT_FONT, PRIVATE_DEFAULT_FONT);
    poke_proc(rec, REG_ALT_FONT, PRIVATE_ALT_FONT);
    write_bytes_proc(rec, DEFAULT_FONT_ADDR, lil_font_dat.data(), LIL_FONT_BYTES);
    for (uint32_t i = 0; i < 64; i++) poke4_proc(rec, REG_RGB_PALETTE + 4 * i, rgb[i]);
}
