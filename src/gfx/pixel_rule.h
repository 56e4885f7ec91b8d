// The pixel rules and what one drawing call loads once: the colour-table
// pointers, the fill pattern, the masks, and the clip box intersected with
// the target. Shared by the primitives of this folder only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "address_space.h"
#include "draw_state.h"
#include "typed_ud.h"

namespace gfx {

// The byte at 'a' of rec by the access rule, without creating a page: the
// served bytes, else the own page, else 0.
inline uint8_t read_byte_nocreate(const process_rec *rec, uint32_t a) {
    uint32_t p = (a >> PAGE_SHIFT) & (NUM_PAGES - 1);
    int32_t o = static_cast<int32_t>(a & (PAGE_BYTES - 1));
    if (o < rec->page_len[p]) return rec->page[p][o];
    return rec->page_own[p] ? rec->page_own[p][o] : 0;
}

// n little-endian bytes at 'a' (n <= 8), zero-extended, read as above.
inline uint64_t read_value_nocreate(const process_rec *rec, uint32_t a, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v |= uint64_t(read_byte_nocreate(rec, a + uint32_t(i))) << (8 * i);
    return v;
}

// Table t of rec: the page's served bytes when it serves all 4096, else its
// own page (pages 8-11 exist from creation).
inline const uint8_t *coltab(process_rec *rec, int t) {
    uint32_t p = uint32_t(COLTAB_FIRST_PAGE + t);
    if (rec->page_len[p] >= PAGE_BYTES) return rec->page[p];
    return own_page(rec, p);
}

// Everything a pixel rule reads, taken once per call.
struct pixel_ctx {
    const uint8_t *tab[COLTAB_COUNT];  // the four colour tables
    uint8_t pattern[8];                // fill-pattern rows
    uint8_t rm, wm, tm;                // read, write and target masks
};

// Loads the masks (and the globals) from the registers of the running
// process; 'target_reg' is 0x550B for shapes, 0x550A for sprites.
inline void load_ctx(pixel_ctx &c, process_rec *rec, uint32_t target_reg) {
    for (int t = 0; t < COLTAB_COUNT; t++) c.tab[t] = coltab(rec, t);
    uint64_t pat = read_value_nocreate(rec, REG_FILL_PATTERN, 8);
    std::memcpy(c.pattern, &pat, 8);
    c.rm = read_byte_nocreate(rec, REG_READ_MASK);
    c.wm = read_byte_nocreate(rec, REG_WRITE_MASK);
    c.tm = read_byte_nocreate(rec, target_reg);
    read_mask = c.rm;
    write_mask = c.wm;
    target_mask = c.tm;
}

// The same, taking the masks already loaded into the globals.
inline void load_ctx_globals(pixel_ctx &c, process_rec *rec) {
    for (int t = 0; t < COLTAB_COUNT; t++) c.tab[t] = coltab(rec, t);
    uint64_t pat = read_value_nocreate(rec, REG_FILL_PATTERN, 8);
    std::memcpy(c.pattern, &pat, 8);
    c.rm = uint8_t(read_mask);
    c.wm = uint8_t(write_mask);
    c.tm = uint8_t(target_mask);
}

inline int pattern_bit(const pixel_ctx &c, int64_t x, int64_t y) {
    return (c.pattern[y & 7] >> (x & 7)) & 1;
}

// The table entry for source s over destination byte d (masks applied).
inline uint8_t lookup(const pixel_ctx &c, uint32_t s, uint32_t t, uint32_t table) {
    return c.tab[table][(s & 63) * 64 + (t & 63)];
}

inline uint8_t merge(const pixel_ctx &c, uint8_t v, uint8_t d) {
    return uint8_t((v & c.wm) | (d & ~c.wm));
}

// The shape rule: colour's high byte where the pattern bit is set.
inline uint8_t shape_pixel(const pixel_ctx &c, int64_t x, int64_t y, int32_t colour, uint8_t d) {
    uint32_t s = uint32_t(pattern_bit(c, x, y) ? colour >> 8 : colour) & c.rm;
    uint32_t t = d & c.tm;
    return merge(c, lookup(c, s, t, (s | t) >> 6), d);
}

// The sprite rule: a set pattern bit forces bit 1 of the table number.
inline uint8_t texture_pixel(const pixel_ctx &c, int64_t x, int64_t y, uint32_t src, uint8_t d) {
    uint32_t s = src & c.rm;
    uint32_t t = d & c.tm;
    uint32_t table = ((s | t) >> 6) | (pattern_bit(c, x, y) ? 2u : 0u);
    return merge(c, lookup(c, s, t, table), d);
}

// The clip rectangle of the running process intersected with the target's
// current size; empty when x0 >= x1 or y0 >= y1.
struct clip_box {
    int32_t x0, x1, y0, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

inline clip_box clip_for(const process_rec *rec, const typed_ud_rec *target) {
    int64_t w = target ? std::min<int64_t>(target->width, INT32_MAX) : 0;
    int64_t h = target ? std::min<int64_t>(target->height, INT32_MAX) : 0;
    clip_box b;
    b.x0 = std::max(rec->clip_x0, 0);
    b.y0 = std::max(rec->clip_y0, 0);
    b.x1 = int32_t(std::min<int64_t>(rec->clip_x1, w));
    b.y1 = int32_t(std::min<int64_t>(rec->clip_y1, h));
    return b;
}

inline uint8_t *pixels(typed_ud_rec *t) {
    return ud_elements(t);
}
inline uint8_t *row_of(typed_ud_rec *t, int64_t y) {
    return ud_elements(t) + uint64_t(y) * t->width;
}

// The shape rule for one colour over every destination byte, for spans with
// a non-zero target mask: plain[d] where the pattern bit is clear, pat[d]
// where it is set. Built on first use by a call that draws many pixels.
struct span_lut {
    bool valid = false;
    int32_t colour = 0;
    uint8_t plain[256];
    uint8_t pat[256];
};

// A horizontal span of the shape rule, the masks already in 'c': the
// inclusive x0..x1 of row y, which may lie anywhere, dropped and clipped by
// the box as draw_hline does. 'lut' may be null. Returns its cost.
int32_t span(typed_ud_rec *target, const clip_box &box, const pixel_ctx &c, int64_t x0, int64_t x1,
             int64_t y, int32_t colour, span_lut *lut);

// The spans l..r of rows t..b, clipped, as that many span calls would draw
// them; returns their summed cost.
int64_t fill_box(typed_ud_rec *target, const clip_box &box, const pixel_ctx &c, int64_t l,
                 int64_t r, int64_t t, int64_t b, int32_t colour, span_lut *lut);

}  // namespace gfx
