// The text printer: the interpreting loop, control codes and code-6
// commands, over a bounded copy of the text.
#include "printer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "address_space.h"
#include "draw_state.h"
#include "glyph.h"
#include "typed_ud.h"
#include "vm_hooks.h"

int64_t print_max_x = 0;
int64_t print_max_y = 0;
int print_max_set = 0;

namespace {

inline constexpr int64_t EXTENT_START = -1000000;

// A finished print keeps an allocation up to this size for the next one.
inline constexpr uint32_t SPARE_MAX = 4096;

// Bytes after the text: the automatic newline, its NUL and two more zeros.
inline constexpr size_t BUFFER_TAIL = 4;

// The text is copied before anything is printed, into a buffer whose pages
// may be new: one cycle per this many bytes.
inline constexpr size_t PRINT_COPY_BYTES_PER_CYCLE = 128;

// Print flag bit: no automatic final newline.
inline constexpr uint8_t PRINT_FLAG_NO_NEWLINE = 4;

// How an item left the read position.
enum item_kind {
    ITEM_PLAIN,      // repeats when a repeat is pending
    ITEM_REPEAT,     // code 1: never repeated itself
    ITEM_POKE_REST,  // '!': read already set, no extent or repeat update
};

int32_t low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

size_t text_len(const print_ctx_rec *ctx) { return static_cast<size_t>(ctx->end - ctx->buffer); }

// The byte at index i of the buffer; 0 past end + 1.
uint8_t byte_at(const print_ctx_rec *ctx, size_t i) { return i <= text_len(ctx) + 1 ? ctx->buffer[i] : 0; }

int64_t cursor_x() { return register_i32(cproc, REG_CURSOR_X); }
int64_t cursor_y() { return register_i32(cproc, REG_CURSOR_Y); }
void set_cursor_x(int64_t v) { poke4(REG_CURSOR_X, v); }
void set_cursor_y(int64_t v) { poke4(REG_CURSOR_Y, v); }

// The 8 rows of glyph c of the current font.
void glyph_rows(const process_rec *p, uint32_t addr, uint8_t out[8]) {
    addr &= ADDRESS_MASK;
    const uint32_t pg = addr >> PAGE_SHIFT, off = addr & (PAGE_BYTES - 1);
    if (off + 8 <= PAGE_BYTES) {
        if (static_cast<int32_t>(off + 8) <= p->page_len[pg]) {
            std::memcpy(out, p->page[pg] + off, 8);
            return;
        }
        if (static_cast<int32_t>(off) >= p->page_len[pg]) {
            if (p->page_own[pg])
                std::memcpy(out, p->page_own[pg] + off, 8);
            else
                std::memset(out, 0, 8);
            return;
        }
    }
    for (uint32_t i = 0; i < 8; i++) out[i] = font_byte(p, addr + i);
}

void load_font_sizes(print_ctx_rec *ctx, const process_rec *p) {
    ctx->char_w = font_byte(p, ctx->font + FONT_CHAR_W);
    ctx->char_w_hi = font_byte(p, ctx->font + FONT_CHAR_W_HI);
    ctx->char_h = font_byte(p, ctx->font + FONT_CHAR_H);
    ctx->offset_x = font_byte(p, ctx->font + FONT_OFFSET_X);
    ctx->offset_y = font_byte(p, ctx->font + FONT_OFFSET_Y);
}

// The advance of glyph 'code' of the current font; '*flags' receives its
// draw_character flags.
int32_t glyph_width(const print_ctx_rec *ctx, int code, int *flags) {
    const process_rec *p = cproc;
    int32_t w = code < 128 ? ctx->char_w : ctx->char_w_hi;
    *flags = GLYPH_MARGIN;
    if (font_byte(p, ctx->font + FONT_FLAGS) & FONT_FLAG_NIBBLES) {
        const uint8_t pair = font_byte(p, ctx->font + (static_cast<uint32_t>(code) >> 1));
        const int n = (code & 1) ? pair >> 4 : pair & 15;
        w = low32(static_cast<int64_t>(w) + ((n + 4) & 7) - 4);
        if (n & 8) *flags |= GLYPH_RAISED;
    }
    return w;
}

int draw_glyph(print_ctx_rec *ctx, int code) {
    const process_rec *p = cproc;
    int flags;
    const int32_t w = glyph_width(ctx, code, &flags);
    uint8_t rows[8];
    glyph_rows(p, ctx->font + static_cast<uint32_t>(code) * 8, rows);
    const int r = draw_character(ctx, rows, w, ctx->char_h, flags);
    return r > 0 ? r : 0;
}

void newline(print_ctx_rec *ctx) {
    set_cursor_x(ctx->home_x);
    set_cursor_y(cursor_y() + (ctx->line_height ? ctx->line_height : ctx->char_h));
    ctx->line_height = 0;
}

void tab(print_ctx_rec *ctx) {
    int64_t w = ctx->tab_w;
    if (!w) w = font_byte(cproc, ctx->font + FONT_TAB_W);
    if (!w) w = 3 * static_cast<int64_t>(ctx->char_w);
    if (w == 0) return;
    const bool from_home = font_byte(cproc, ctx->font + FONT_FLAGS) & FONT_FLAG_HOME_TABS;
    const int64_t home = from_home ? peek4(REG_HOME_X) : 0;
    int64_t x = cursor_x() - home;
    x += w;
    x -= x % w;
    set_cursor_x(x + home);
}

// Fills the process's draw target with 'v'; returns the charge.
int32_t clear_draw_target(uint8_t v) {
    typed_ud_rec *t = cproc->draw_target;
    const uint64_t bytes = ud_count(t) * utype_size(ud_type(t));
    std::memset(ud_elements(t), v, static_cast<size_t>(bytes));
    return static_cast<int32_t>(static_cast<uint64_t>(t->width) * t->height / 64);
}

// Up to 4 parameter characters, taken before 'len' and while not NUL, read
// as a number (value x 16 + digit). False when a NUL stopped them.
bool read_hex_param(const print_ctx_rec *ctx, size_t len, size_t *q, int64_t *value) {
    *value = 0;
    for (int n = 0; n < 4 && *q < len; n++) {
        const uint8_t c = byte_at(ctx, *q);
        if (!c) return false;
        *value = *value * 16 + print_digit(c);
        ++*q;
    }
    return true;
}

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

int item(print_ctx_rec *ctx, size_t i, bool dry, size_t *used, item_kind *kind);

// A code-6 command at i (the code itself); see item().
int command(print_ctx_rec *ctx, size_t i, bool dry, size_t *used, item_kind *kind) {
    const size_t len = text_len(ctx);
    size_t j = 1;
    uint8_t k = byte_at(ctx, i + 1);
    if (!k) {
        *used = 1;
        return dry ? 0 : draw_glyph(ctx, 6);
    }
    bool on = true;
    if (k == '-') {
        on = false;
        j = 2;
        k = byte_at(ctx, i + 2);
        if (!k) {
            *used = 2;
            return 0;
        }
    }
    size_t q = i + j + 1;  // the first parameter
    *used = q - i;
    const uint8_t c = byte_at(ctx, q);
    switch (k) {
    case 'd': case 'c': case 'x': case 'y':
        if (!c) return 0;
        *used += 1;
        if (dry) return 0;
        if (k == 'd') ctx->char_delay = print_digit(c);
        else if (k == 'x') {
            ctx->char_w = print_digit(c);
            ctx->char_w_hi = low32(static_cast<int64_t>(font_byte(cproc, ctx->font + FONT_CHAR_W_HI)) -
                                   font_byte(cproc, ctx->font + FONT_CHAR_W) + print_digit(c));
        } else if (k == 'y') ctx->char_h = print_digit(c);
        else if (cproc->draw_target) {
            spend_cpu(clear_draw_target(static_cast<uint8_t>(print_digit(c))));
            set_cursor_x(0);
            set_cursor_y(0);
        }
        return 0;
    case 'r': case 's':
        *used += 1;
        if (dry) return 0;
        if (k == 'r') {
            ctx->wrap_right = low32(static_cast<int64_t>(print_digit(c)) * 4);
            ctx->wrap = 1;
        } else {
            ctx->tab_w = low32(static_cast<int64_t>(print_digit(c)) * ctx->char_w);
        }
        return 0;
    case 'j': {
        if (!c) return 0;
        const uint8_t y = byte_at(ctx, q + 1);
        *used += y ? 2 : 1;
        if (dry || !y) return 0;
        set_cursor_x(static_cast<int64_t>(print_digit(c)) * 4);
        set_cursor_y(static_cast<int64_t>(print_digit(y)) * 4);
        return 0;
    }
    case 'o': {
        if (!on) {
            if (!dry) ctx->outline_mask = 0;
            return 0;
        }
        int n = 0;
        while (n < 3 && byte_at(ctx, q + n)) n++;
        *used += n;
        if (dry || n < 3) return 0;
        ctx->outline_col = print_digit(c);
        ctx->outline_mask = (print_digit(byte_at(ctx, q + 1)) << 5) | print_digit(byte_at(ctx, q + 2));
        return 0;
    }
    case 'h':
        if (!dry) {
            ctx->home_x = low32(cursor_x());
            ctx->home_y = low32(cursor_y());
        }
        return 0;
    case 'g':
        if (!dry) {
            set_cursor_x(ctx->home_x);
            set_cursor_y(ctx->home_y);
        }
        return 0;
    case '#': case '$': case '=': case 'b': case 'i': case 'p': case 't': case 'w': {
        if (dry) return 0;
        int32_t *field = k == '#' ? &ctx->solid_bg : k == '$' ? &ctx->wrap : k == '=' ? &ctx->stripey
                       : k == 'b' ? &ctx->border : k == 'i' ? &ctx->invert : k == 'p' ? &ctx->pinball
                       : k == 't' ? &ctx->tall : &ctx->wide;
        *field = on ? 1 : 0;
        return 0;
    }
    case '@': {
        int64_t addr = 0, count = 0;
        if (!read_hex_param(ctx, len, &q, &addr) || !read_hex_param(ctx, len, &q, &count)) {
            *used = q - i;
            return 0;
        }
        const size_t start = q;
        while (count > 0 && q < len) {
            count--;
            q++;
        }
        *used = q - i;
        if (dry) return 0;
        for (size_t s = start; s < q; s++) poke(static_cast<uint32_t>(addr + static_cast<int64_t>(s - start)), byte_at(ctx, s));
        if (q > start) spend_cpu(static_cast<int32_t>(q - start));
        return 0;
    }
    case '!': {
        int64_t addr = 0;
        if (!read_hex_param(ctx, len, &q, &addr)) {
            *used = q - i;
            return 0;
        }
        *used = len - i;
        if (dry) return 0;
        for (size_t s = q; s < len; s++) poke(static_cast<uint32_t>(addr + static_cast<int64_t>(s - q)), byte_at(ctx, s));
        if (len > q) spend_cpu(static_cast<int32_t>(std::min<size_t>(len - q, INT32_MAX)));
        ctx->buffer[len] = 0;
        ctx->read = ctx->end;
        *kind = ITEM_POKE_REST;
        return 0;
    }
    case '.': case ':': {
        const size_t n = k == '.' ? 8 : 16;
        if (q + n > len) return 0;
        *used += n;
        if (dry) return 0;
        uint8_t rows[8];
        for (size_t r = 0; r < 8; r++)
            rows[r] = k == '.' ? byte_at(ctx, q + r)
                               : static_cast<uint8_t>(hex_value(byte_at(ctx, q + 2 * r)) * 16 +
                                                      hex_value(byte_at(ctx, q + 2 * r + 1)));
        const int r = draw_character(ctx, rows, 8, 8, 0);
        return r > 0 ? r : 0;
    }
    default:
        if (k >= '1' && k <= '9') {
            if (dry) return 0;
            ctx->wait_frames = (1 << (k - '1')) - 1;
            return 1;
        }
        return 0;
    }
}

// Interprets the item at index i, or with 'dry' only measures it; *used
// receives the bytes it consumes. Returns the item's result.
int item(print_ctx_rec *ctx, size_t i, bool dry, size_t *used, item_kind *kind) {
    const uint8_t b = byte_at(ctx, i);
    *kind = ITEM_PLAIN;
    *used = 1;
    if (b == 0) {
        *used = 0;
        return 0;
    }
    if (b >= 16 || b == 7) return dry ? 0 : draw_glyph(ctx, b);
    const uint8_t p1 = byte_at(ctx, i + 1);
    if (b >= 1 && b <= 5 && !p1) return dry ? 0 : draw_glyph(ctx, b);
    switch (b) {
    case 1: {
        *used = 2;
        if (dry) return 0;
        *kind = ITEM_REPEAT;
        const int d = print_digit(p1);
        ctx->repeat = d >= 1 ? d - 1 : 0;
        if (d == 0) {
            size_t skipped = 0;
            item_kind ignored;
            item(ctx, i + 2, true, &skipped, &ignored);
            *used += skipped;
        }
        return 0;
    }
    case 2:
        *used = 2;
        if (!dry) {
            ctx->bg = print_digit(p1) & 63;
            ctx->solid_bg = 1;
        }
        return 0;
    case 3:
    case 4:
        *used = 2;
        if (!dry) {
            if (b == 3) set_cursor_x(cursor_x() + print_digit(p1) - 16);
            else set_cursor_y(cursor_y() + print_digit(p1) - 16);
        }
        return 0;
    case 5: {
        const uint8_t p2 = byte_at(ctx, i + 2);
        if (!p2) {
            *used = 2;
            return dry ? 0 : draw_glyph(ctx, 5);
        }
        *used = 3;
        if (!dry) {
            set_cursor_x(cursor_x() + print_digit(p1) - 16);
            set_cursor_y(cursor_y() + print_digit(p2) - 16);
        }
        return 0;
    }
    case 6:
        return command(ctx, i, dry, used, kind);
    case 8:
        if (!dry) set_cursor_x(cursor_x() - ctx->last_advance);
        return 0;
    case 9:
        if (!dry) tab(ctx);
        return 0;
    case 10:
        if (!dry) newline(ctx);
        return 0;
    case 11: {
        *used = 2;
        if (dry) return 0;
        const int64_t x = cursor_x(), y = cursor_y();
        const int d = print_digit(p1);
        set_cursor_x(static_cast<int64_t>(ctx->saved_x) + (d & 3) - 2);
        set_cursor_y(static_cast<int64_t>(ctx->saved_y) + (d >> 2) - 8);
        ctx->saved_x = low32(x);
        ctx->saved_y = low32(y);
        ctx->decorate = 1;
        return 0;
    }
    case 12:
        *used = 2;
        if (!dry) {
            ctx->fg = print_digit(p1) & 63;
            poke2(REG_PEN, ctx->fg);
        }
        return 0;
    case 13:
        if (!dry) set_cursor_x(ctx->home_x);
        return 0;
    default:  // 14 and 15
        if (!dry) {
            ctx->font = static_cast<uint32_t>(peek(b == 14 ? REG_ALT_FONT : REG_DEFAULT_FONT)) << 8;
            load_font_sizes(ctx, cproc);
        }
        return 0;
    }
}

// Records the cursor after an item for the extent the printer reports.
void note_cursor(int64_t x, int64_t y) {
    if (print_max_set) {
        print_max_x = std::max(print_max_x, x);
        print_max_y = std::max(print_max_y, y);
    } else {
        print_max_x = x;
        print_max_y = y;
    }
    print_max_set = 1;
}

// Plain glyphs from index 'pos' whose cells lie wholly outside the clip
// rectangle (a long text runs far below it): each moves the cursor and is
// charged as its item would be, without its rows being read or drawn.
// Returns how many it passed.
size_t pass_hidden_glyphs(print_ctx_rec *ctx, size_t pos) {
    if (ctx->repeat > 0 || !cproc || gfx_force_plain_paths) return 0;
    hidden_glyph_run run;
    hidden_run_begin(ctx, &run);
    const bool nibbles = font_byte(cproc, ctx->font + FONT_FLAGS) & FONT_FLAG_NIBBLES;
    size_t i = pos;
    for (;; i++) {
        const uint8_t b = byte_at(ctx, i);
        if (b < 16 && b != 7) break;
        int flags = GLYPH_MARGIN;
        const int32_t w = nibbles ? glyph_width(ctx, b, &flags) : b < 128 ? ctx->char_w : ctx->char_w_hi;
        if (!hidden_run_pass(ctx, &run, w, ctx->char_h, flags)) break;
        run.cycles++;  // the item's own byte
        note_cursor(run.cx, run.cy);
    }
    if (i == pos) return 0;
    hidden_run_end(&run);
    ctx->read = ctx->buffer + i;
    return i - pos;
}

int run_print(print_ctx_rec *ctx) {
    if (ctx->wait_frames > 0) {
        ctx->wait_frames--;
        return 1;
    }
    for (;;) {
        const size_t pos = static_cast<size_t>(ctx->read - ctx->buffer);
        if (byte_at(ctx, pos) == 0) {
            destroy_print_buffer(ctx);
            return 0;
        }
        if (pass_hidden_glyphs(ctx, pos)) continue;
        const int r = tekla_print_char(ctx);
        const size_t moved = static_cast<size_t>(ctx->read - ctx->buffer) - pos;
        spend_cpu(static_cast<int32_t>(std::clamp<size_t>(moved, 1, INT32_MAX)));
        if (r) return r;
    }
}

}  // namespace

uint8_t font_byte(const process_rec *p, uint32_t addr) {
    if (!p) return 0;
    addr &= ADDRESS_MASK;
    const uint32_t pg = addr >> PAGE_SHIFT, off = addr & (PAGE_BYTES - 1);
    if (static_cast<int32_t>(off) < p->page_len[pg]) return p->page[pg][off];
    return p->page_own[pg] ? p->page_own[pg][off] : 0;
}

int tekla_print_char(print_ctx_rec *ctx) {
    const size_t pos = static_cast<size_t>(ctx->read - ctx->buffer);
    size_t used = 0;
    item_kind kind = ITEM_PLAIN;
    const int r = item(ctx, pos, false, &used, &kind);
    if (kind == ITEM_POKE_REST) return r;
    note_cursor(cursor_x(), cursor_y());
    if (kind == ITEM_PLAIN && ctx->repeat > 0)
        ctx->repeat--;
    else
        ctx->read = ctx->buffer + std::min(pos + used, text_len(ctx) + 1);
    return r;
}

void reset_print_context(print_ctx_rec *ctx) {
    const process_rec *p = cproc;
    int a = peek(REG_PRINT_ATTRIBUTES);
    if (!(a & 1)) a = 2;
    ctx->font = static_cast<uint32_t>(peek((a & 0x80) ? REG_ALT_FONT : REG_DEFAULT_FONT)) << 8;
    ctx->border = (a >> 1) & 1;
    ctx->wide = (a >> 2) & 1;
    ctx->tall = (a >> 3) & 1;
    ctx->solid_bg = (a >> 4) & 1;
    ctx->invert = (a >> 5) & 1;
    ctx->stripey = (a >> 6) & 1;
    ctx->pinball = 0;
    ctx->tab_w = 0;
    load_font_sizes(ctx, p);
    if (!ctx->char_w && !ctx->char_w_hi && !ctx->char_h) ctx->char_w = ctx->char_w_hi = ctx->char_h = 8;
    const uint8_t size = peek(REG_CHAR_SIZE), wide_tab = peek(REG_WIDE_AND_TAB), offsets = peek(REG_GLYPH_OFFSETS);
    if (size & 15) ctx->char_w = size & 15;
    if (size >> 4) ctx->char_h = size >> 4;
    if (wide_tab & 15) ctx->char_w_hi = wide_tab & 15;
    if (wide_tab >> 4) ctx->tab_w = ctx->char_w * ((wide_tab >> 4) + 1);
    if (offsets & 15) ctx->offset_x = offsets & 15;
    if (offsets >> 4) ctx->offset_y = offsets >> 4;
    ctx->outline_mask = ctx->outline_col = 0;
}

void destroy_print_buffer(print_ctx_rec *ctx) {
    if (!ctx->buffer) return;
    // The larger of the two stays spare: keeping the first one a short text
    // left would take and free every longer print's buffer anew.
    if (ctx->buffer_size <= SPARE_MAX && (!ctx->spare || ctx->buffer_size > ctx->spare_size)) {
        std::free(ctx->spare);
        ctx->spare = ctx->buffer;
        ctx->spare_size = ctx->buffer_size;
    } else {
        std::free(ctx->buffer);
    }
    ctx->buffer = nullptr;
    ctx->buffer_size = 0;
}

void init_print_context(void) {
    if (!cproc) return;
    print_ctx_rec *ctx = &cproc->print_ctx;
    std::free(ctx->buffer);
    std::free(ctx->spare);
    *ctx = print_ctx_rec{};
}

int print_zenscii(typed_ud_rec *target, const void *text, size_t len, int flags, int colours) {
    print_max_x = print_max_y = EXTENT_START;
    print_max_set = 0;
    process_rec *p = cproc;
    if (!text || !p) return 0;
    print_ctx_rec *ctx = &p->print_ctx;

    // Drop any suspended print and start from a zeroed context; a small
    // allocation is kept for reuse.
    destroy_print_buffer(ctx);
    uint8_t *spare = ctx->spare;
    uint32_t spare_size = ctx->spare_size;
    *ctx = print_ctx_rec{};
    len = std::min<size_t>(len, INT32_MAX - BUFFER_TAIL);  // a Lua string is shorter still
    const size_t size = len + BUFFER_TAIL;
    uint8_t *buffer = nullptr;
    if (spare && spare_size >= size) {
        buffer = spare;
        ctx->buffer_size = spare_size;
        spare = nullptr;
        spare_size = 0;
    } else {
        buffer = static_cast<uint8_t *>(std::malloc(size));
        ctx->buffer_size = static_cast<uint32_t>(size);
    }
    ctx->spare = spare;
    ctx->spare_size = spare_size;
    if (!buffer) return 0;
    // The copy is charged whether or not the bytes are ever interpreted (a
    // NUL first, or a print dropped while suspended, reads none of them).
    if (len >= PRINT_COPY_BYTES_PER_CYCLE) spend_cpu(static_cast<int32_t>(len / PRINT_COPY_BYTES_PER_CYCLE));
    std::memcpy(buffer, text, len);
    std::memset(buffer + len, 0, BUFFER_TAIL);
    ctx->buffer = buffer;

    reset_print_context(ctx);
    ctx->read = buffer;
    ctx->end = buffer + len;
    ctx->wrap = flags & PRINT_WRAP;
    ctx->wrap_right = p->clip_x1;
    ctx->home_x = peek4(REG_HOME_X);
    ctx->home_y = peek4(REG_CURSOR_Y);
    ctx->fg = colours & 63;
    ctx->bg = (colours >> 8) & 63;
    ctx->target = target;
    ctx->repeat = 0;
    ctx->line_height = 0;
    ctx->last_advance = ctx->char_w;
    if (!(peek(REG_PRINT_FLAGS) & PRINT_FLAG_NO_NEWLINE)) {
        buffer[len] = 10;
        buffer[len + 1] = 0;
    }
    return run_print(ctx);
}

int continue_print_text(void) {
    process_rec *p = cproc;
    if (!p || !p->print_ctx.buffer) return 0;
    print_ctx_rec *ctx = &p->print_ctx;
    if (ctx->target != p->draw_target) {
        destroy_print_buffer(ctx);
        return 0;
    }
    return run_print(ctx);
}
