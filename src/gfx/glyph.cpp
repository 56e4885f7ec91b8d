// One glyph: wrap, styles, margin, background, rows as bit masks, outline,
// pixels, charge and advance.
#include "glyph.h"

#include <algorithm>
#include <cstring>

#include "address_space.h"
#include "draw_state.h"
#include "pixel_rule.h"
#include "shapes.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

struct spread_tables {
    uint32_t doubled[256];  // each pixel doubled
    uint32_t right[256];    // each pixel moved to the right half of its pair
};

constexpr spread_tables make_spread_tables() {
    spread_tables t{};
    for (uint32_t v = 0; v < 256; v++)
        for (uint32_t i = 0; i < 8; i++)
            if (v & (1u << i)) {
                t.doubled[v] |= 3u << (2 * i);
                t.right[v] |= 2u << (2 * i);
            }
    return t;
}

constexpr spread_tables SPREAD = make_spread_tables();

// Rows of a cell: 2 margin rows and 8 glyph rows doubled; two more for the
// outline's accumulator.
inline constexpr int MAX_CELL_ROWS = 18;

int32_t low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// A 64-bit position as a rectangle corner: positions beyond the int32 range
// lie outside every clip rectangle either way.
int32_t clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The pixel rule's context with the masks already loaded, as
// gfx::load_ctx_globals makes it, reading the pattern straight from the
// register page when that page serves it.
void load_glyph_ctx(gfx::pixel_ctx &c, process_rec *p) {
    for (int t = 0; t < COLTAB_COUNT; t++) c.tab[t] = gfx::coltab(p, t);
    constexpr uint32_t page = REG_FILL_PATTERN >> PAGE_SHIFT, off = REG_FILL_PATTERN & (PAGE_BYTES - 1);
    if (static_cast<int32_t>(off + 8) <= p->page_len[page]) {
        std::memcpy(c.pattern, p->page[page] + off, 8);
    } else {
        const uint64_t pattern = gfx::read_value_nocreate(p, REG_FILL_PATTERN, 8);
        std::memcpy(c.pattern, &pattern, 8);
    }
    c.rm = static_cast<uint8_t>(read_mask);
    c.wm = static_cast<uint8_t>(write_mask);
    c.tm = static_cast<uint8_t>(target_mask);
}

// The cell test, then each set bit through the shape rule loaded in 'c',
// clipped by 'box'. Where pattern, target mask and write mask cannot make
// one pixel differ from another, every pixel takes one stored value.
int64_t draw_bits(const gfx::pixel_ctx &c, const gfx::clip_box &box, const process_rec *p, const uint32_t *rows,
                  typed_ud_rec *bitmap, int64_t x, int64_t y, int32_t w, int32_t h, int32_t colour) {
    if (p->clip_x0 - static_cast<int64_t>(w) > x || p->clip_y0 - static_cast<int64_t>(h) > y || x >= p->clip_x1 ||
        y >= p->clip_y1)
        return 0;
    const int64_t area = static_cast<int64_t>(w) * h;
    if (!bitmap || box.empty()) return area;
    // Columns of the cell inside the box; the cell test leaves x within an
    // int32 of the clip rectangle.
    const int64_t lo = std::max<int64_t>(box.x0 - x, 0), hi = std::min<int64_t>(box.x1 - x, w);
    if (lo >= hi) return area;
    const uint32_t cols = static_cast<uint32_t>(((uint64_t{1} << hi) - 1) & ~((uint64_t{1} << lo) - 1));
    uint64_t pattern = 0;
    std::memcpy(&pattern, c.pattern, 8);
    const bool uniform = pattern == 0 && c.tm == 0 && c.wm == 0xFF;
    const uint8_t value = uniform ? gfx::shape_pixel(c, 0, 0, colour, 0) : 0;
    // Rows of the cell inside the box.
    const int32_t r0 = static_cast<int32_t>(std::max<int64_t>(box.y0 - y, 0));
    const int32_t r1 = static_cast<int32_t>(std::min<int64_t>(box.y1 - y, h));
    uint8_t *pixels = gfx::pixels(bitmap);
    const int64_t stride = bitmap->width;
    if (uniform) {
        for (int32_t r = r0; r < r1; r++) {
            uint32_t bits = rows[r] & cols;
            const int64_t at = (y + r) * stride + x;  // + a column of the box: inside the bitmap
            while (bits) {
                pixels[at + __builtin_ctz(bits)] = value;
                bits &= bits - 1;
            }
        }
        return area;
    }
    for (int32_t r = r0; r < r1; r++) {
        uint32_t bits = rows[r] & cols;
        const int64_t at = (y + r) * stride + x;
        while (bits) {
            const int col = __builtin_ctz(bits);
            bits &= bits - 1;
            pixels[at + col] = gfx::shape_pixel(c, x + col, y + r, colour, pixels[at + col]);
        }
    }
    return area;
}

}  // namespace

int32_t register_i32(process_rec *rec, uint32_t addr) {
    const uint32_t page = addr >> PAGE_SHIFT, off = addr & (PAGE_BYTES - 1);
    if (page == DRAW_STATE_ADDR >> PAGE_SHIFT && off + 4 <= PAGE_BYTES && rec->page_len[page] == PAGE_BYTES) {
        int32_t v;
        std::memcpy(&v, rec->page[page] + off, 4);
        return v;
    }
    return peek4_proc(rec, addr);
}

int64_t draw_character_bits(const uint32_t *rows, typed_ud_rec *bitmap, int64_t x, int64_t y,
                            int32_t w, int32_t h, int32_t colour) {
    process_rec *p = cproc;
    if (!p) return 0;
    gfx::pixel_ctx c;
    load_glyph_ctx(c, p);
    return draw_bits(c, gfx::clip_for(p, bitmap), p, rows, bitmap, x, y, w, h, colour);
}

namespace {

// Pixel scales and row spreading of the context's styles.
struct glyph_style {
    int sx = 1, sy = 1;
    const uint32_t *spread = SPREAD.doubled;
    bool blank_odd = false;
};

glyph_style style_of(const print_ctx_rec *ctx) {
    glyph_style s;
    if (ctx->pinball) {
        s.sx = s.sy = 2;
        s.spread = SPREAD.right;
        s.blank_odd = true;
    } else {
        if (ctx->wide) s.sx = 2;
        if (ctx->tall) s.sy = 2;
        if (ctx->wide && ctx->stripey && !ctx->tall) s.spread = SPREAD.right;
        s.blank_odd = ctx->tall && ctx->stripey;
    }
    return s;
}

// True when a glyph of advance w at cursor x goes to the next line first.
bool wraps(const print_ctx_rec *ctx, int64_t cx, int32_t w) {
    return !ctx->decorate && ctx->wrap && cx > static_cast<int64_t>(ctx->wrap_right) - w;
}

// The glyph's cell: its top left corner and size, margin included.
struct glyph_cell {
    int64_t x, y;
    int32_t w, h;
    int pad, rows;  // margin (0 or 1); glyph rows drawn
};

glyph_cell cell_of(const print_ctx_rec *ctx, const glyph_style &s, int64_t camera_x, int64_t camera_y, int64_t cx,
                   int64_t cy, int32_t w, int32_t h, int flags) {
    glyph_cell c;
    c.pad = flags & GLYPH_MARGIN;
    const int border = ctx->border ? 1 : 0;
    const int bx = border * c.pad * s.sx, by = border * c.pad * s.sy;
    c.x = cx + ctx->offset_x - camera_x - bx;
    c.y = cy + ctx->offset_y - ((flags & GLYPH_RAISED) ? 1 : 0) - camera_y - by;
    c.rows = std::min(h, 8);
    c.w = std::min(w, 8) * s.sx + bx;
    c.h = by + std::max(c.rows, 0) * s.sy;
    return c;
}

// Moves the cursor past a glyph of advance w and height h.
void advance_cursor(print_ctx_rec *ctx, const glyph_style &s, int32_t w, int32_t h, int64_t *cx, int64_t *cy) {
    const int64_t advance = static_cast<int64_t>(s.sx) * w;
    ctx->last_advance = low32(advance);
    *cx += advance;
    ctx->line_height = std::max(ctx->line_height, low32(static_cast<int64_t>(s.sy) * h));
    if (ctx->decorate) {
        *cx = ctx->saved_x;
        *cy = ctx->saved_y;
        ctx->decorate = 0;
    }
}

}  // namespace

int draw_character(print_ctx_rec *ctx, const uint8_t *glyph, int32_t w, int32_t h, int flags) {
    process_rec *p = cproc;
    int64_t cx = p ? register_i32(p, REG_CURSOR_X) : 0, cy = p ? register_i32(p, REG_CURSOR_Y) : 0;

    // Wrap and save.
    if (!ctx->decorate) {
        ctx->saved_x = low32(cx);
        ctx->saved_y = low32(cy);
        if (wraps(ctx, cx, w)) {
            cx = ctx->home_x;
            cy += ctx->line_height ? ctx->line_height : ctx->char_h;
            ctx->line_height = 0;
        }
    }

    const glyph_style s = style_of(ctx);
    if (w > 0 && p) {
        const glyph_cell cell = cell_of(ctx, s, register_i32(p, REG_CAMERA_X), register_i32(p, REG_CAMERA_Y), cx,
                                        cy, w, h, flags);
        const int64_t x = cell.x, y = cell.y;
        const int32_t W = cell.w, H = cell.h;
        const int pad = cell.pad;

        if (ctx->solid_bg && H > 0)
            rectfill_raw(ctx->target, clamp32(x), clamp32(y), clamp32(x + W - 1), clamp32(y + H - 1), ctx->bg);

        // Rows.
        const uint32_t m = ctx->invert ? (1u << W) - 1 : 0;
        uint32_t rows[MAX_CELL_ROWS + 2] = {};
        rows[0] = m;
        for (int i = 0; i < cell.rows; i++)
            rows[i + pad] = (s.sx == 2 ? s.spread[glyph[i]] << (2 * pad) : static_cast<uint32_t>(glyph[i]) << pad) ^ m;
        if (s.sy == 2 && H >= 2) {
            for (int j = H - 1; j >= 1; j--) rows[j] = rows[j >> 1];
            if (s.blank_odd)
                for (int j = 1; j < H; j += 2) rows[j] = m;
        }

        int64_t area = 0;
        gfx::pixel_ctx pc;
        load_glyph_ctx(pc, p);
        const gfx::clip_box box = gfx::clip_for(p, ctx->target);
        // Outline.
        if (ctx->outline_mask && H > 0) {
            uint32_t acc[MAX_CELL_ROWS + 2] = {};
            for (int k = 0; k < 9; k++) {
                if (!(ctx->outline_mask & (1 << k))) continue;
                for (int i = 0; i < H; i++) acc[i + k / 3] |= rows[i] << (k % 3);
            }
            for (int i = 0; i < H; i++) acc[i + 1] &= ~(rows[i] << 1);
            area += draw_bits(pc, box, p, acc, ctx->target, x - 1, y - 1, W + 2, H + 2, ctx->outline_col);
        }
        // Glyph.
        if (H > 0) area += draw_bits(pc, box, p, rows, ctx->target, x, y, W, H, ctx->fg);
        spend_cpu(static_cast<int32_t>(area / 3));
    }

    // Advance.
    advance_cursor(ctx, s, w, h, &cx, &cy);
    poke4(REG_CURSOR_X, cx);
    poke4(REG_CURSOR_Y, cy);

    // Delay.
    if (ctx->char_delay > 0) {
        ctx->wait_frames = ctx->char_delay - 1;
        return 1;
    }
    return 0;
}

void hidden_run_begin(const print_ctx_rec *ctx, hidden_glyph_run *r) {
    process_rec *p = cproc;
    const glyph_style s = style_of(ctx);
    r->sx = s.sx;
    r->sy = s.sy;
    r->cx = register_i32(p, REG_CURSOR_X);
    r->cy = register_i32(p, REG_CURSOR_Y);
    r->camera_x = register_i32(p, REG_CAMERA_X);
    r->camera_y = register_i32(p, REG_CAMERA_Y);
    r->cycles = 0;
}

namespace {

// The pixel scales of hidden glyphs, which need no rows.
glyph_style scales_of(const hidden_glyph_run *r) {
    glyph_style s;
    s.sx = r->sx;
    s.sy = r->sy;
    return s;
}

}  // namespace

bool hidden_run_pass(print_ctx_rec *ctx, hidden_glyph_run *r, int32_t w, int32_t h, int flags) {
    const process_rec *p = cproc;
    if (ctx->decorate || ctx->char_delay > 0) return false;
    int64_t cx = r->cx, cy = r->cy;
    const bool wrapped = wraps(ctx, cx, w);
    if (wrapped) {
        cx = ctx->home_x;
        cy += ctx->line_height ? ctx->line_height : ctx->char_h;
    }
    const glyph_style s = scales_of(r);
    if (w > 0) {
        // The cell with its outline ring, against draw_bits' own cell test.
        const glyph_cell c = cell_of(ctx, s, r->camera_x, r->camera_y, cx, cy, w, h, flags);
        const int64_t x = c.x - 1, y = c.y - 1, cw = int64_t{c.w} + 2, ch = int64_t{c.h} + 2;
        if (c.h > 0 && !(p->clip_x0 - cw > x || p->clip_y0 - ch > y || x >= p->clip_x1 || y >= p->clip_y1))
            return false;
        r->cycles++;  // draw_character's charge for no area drawn
    }
    ctx->saved_x = low32(r->cx);
    ctx->saved_y = low32(r->cy);
    if (wrapped) ctx->line_height = 0;
    advance_cursor(ctx, s, w, h, &cx, &cy);
    r->cx = low32(cx);  // as the registers keep them
    r->cy = low32(cy);
    return true;
}

void hidden_run_end(const hidden_glyph_run *r) {
    poke4(REG_CURSOR_X, r->cx);
    poke4(REG_CURSOR_Y, r->cy);
    if (r->cycles > 0) spend_cpu(static_cast<int32_t>(std::min<int64_t>(r->cycles, INT32_MAX)));
}
