// The default colour tables and palettes, palette entries and the 4 x 4
// fill-pattern form.
#include "colour_tables.h"
#include "video_hooks.h"

#include "address_space.h"
#include "draw_state.h"

uint8_t default_coltabs[16384];
uint8_t default_indexed_pal[64];
uint32_t default_system_pal[256];

extern "C" void init_default_coltabs(void) {
    for (int s = 0; s < 64; s++)
        for (int d = 0; d < 64; d++) {
            default_coltabs[s * 64 + d] = uint8_t(s == 0 ? d : 0xC0 | s);
            for (int t = 1; t < COLTAB_COUNT; t++)
                default_coltabs[t * COLTAB_BYTES + s * 64 + d] = uint8_t(t << 6 | d);
        }
    for (int i = 0; i < 64; i++) default_indexed_pal[i] = uint8_t(i);
    for (int i = 0; i < 256; i++) default_system_pal[i] = system_palette[i & 63];
}

namespace {

// The byte at 'a' of rec by the access rule, for a store that leaves the
// page flags alone.
uint8_t *register_byte(process_rec *rec, uint32_t a) {
    uint32_t p = (a >> PAGE_SHIFT) & (NUM_PAGES - 1);
    int32_t o = int32_t(a & (PAGE_BYTES - 1));
    if (o < rec->page_len[p]) return rec->page[p] + o;
    return own_page(rec, p) + o;
}

}  // namespace

extern "C" void set_palette_entry(int32_t c, int32_t value, int32_t mode) {
    if (!cproc) return;
    switch (mode & 63) {
        case 0: {
            uint32_t table = uint32_t((mode | c) >> 6) & 3;
            kiv_memset(COLOUR_TABLES_ADDR + table * COLTAB_BYTES + uint32_t(c & 63) * 64,
                       value | 0xC0, 64);
            break;
        }
        case 1:
            *register_byte(cproc, REG_SCREEN_PALETTE + uint32_t(c & 63)) = uint8_t(value & 63);
            break;
        case 2:
            for (uint32_t i = 0; i < 4; i++)
                *register_byte(cproc, REG_RGB_PALETTE + 4 * uint32_t(c & 255) + i) =
                    uint8_t(uint32_t(value) >> (8 * i));
            break;
        default:
            break;
    }
}

extern "C" void fillp_16(int32_t p) {
    if (!cproc) return;
    for (int k = 0; k < 4; k++) {
        uint32_t nib = uint32_t(p) >> (12 - 4 * k) & 15;
        // Bit 3 of the nibble is the row's leftmost pixel, which is bit 0 of a row byte.
        uint32_t n = (nib >> 3 & 1) | (nib >> 1 & 2) | (nib << 1 & 4) | (nib << 3 & 8);
        poke(REG_FILL_PATTERN + uint32_t(k), int64_t(n | n << 4));
        poke(REG_FILL_PATTERN + 4 + uint32_t(k), int64_t(n | n << 4));
    }
}
