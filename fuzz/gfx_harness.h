// What the rasteriser's fuzz targets share: an input reader whose numbers
// come from a dictionary of edge values or raw bytes, one drawing process
// with input-chosen registers and colour tables, exact-size bitmaps (some
// reshaped under a stale clip), and the check that nothing outside the clip
// rectangle changed.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "address_space.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "fake_host.h"
#include "process.h"
#include "typed_ud.h"

namespace gfx_fuzz {

// Reads the input front to back; past its end every read gives 0.
class reader {
   public:
    reader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}

    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v |= uint32_t(byte()) << (8 * i);
        return v;
    }
    uint64_t u64() { return uint64_t(u32()) | uint64_t(u32()) << 32; }
    bool more() const { return p_ < end_; }

    // A coordinate: an edge value, a small value, or raw bits.
    int32_t i32() {
        static const int32_t edges[] = {0,         1,        -1,       32767,     -32767,
                                        65536,     -65536,   0x100000, -0x100000, INT32_MAX,
                                        INT32_MIN, 0x100001, 479,      270};
        uint8_t k = byte();
        if (k < 64) return edges[k % (sizeof edges / sizeof edges[0])];
        if (k < 192) return int32_t(int8_t(byte())) * (k & 1 ? 4 : 1);
        return int32_t(u32());
    }

    // A double: an edge value, a small value, or raw bits.
    double f64() {
        static const double edges[] = {
            0.0,           1.0, -1.0,     32767.0,   -32767.0, 65536.0, 1048576.0, 2147483647.0,
            -2147483648.0, NAN, INFINITY, -INFINITY, 1e300,    -0.0,    0.5,       1e-300};
        uint8_t k = byte();
        if (k < 64) return edges[k % (sizeof edges / sizeof edges[0])];
        if (k < 192) return double(int16_t(u32())) / 16.0;
        uint64_t bits = u64();
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }

   private:
    const uint8_t *p_;
    const uint8_t *end_;
};

// A typed array allocated at exactly its size.
struct bitmap {
    typed_ud_rec *rec = nullptr;
    size_t bytes = 0;

    bitmap(uint32_t w, uint32_t h, int type = UTYPE_U8) {
        bytes = size_t(w) * h * utype_size(type);
        rec =
            static_cast<typed_ud_rec *>(std::calloc(1, TYPED_UD_HEADER + bytes + (bytes ? 0 : 1)));
        rec->type = uint8_t(type);
        rec->dims = 2;
        rec->width = w;
        rec->height = h;
        rec->depth = 1;
    }
    ~bitmap() { std::free(rec); }
    bitmap(const bitmap &) = delete;
    bitmap &operator=(const bitmap &) = delete;
    uint8_t *pixels() { return ud_elements(rec); }
};

// The drawing process, made once per run.
inline process_rec *drawing_process() {
    static process_rec *p = [] {
        processes_init();
        init_default_coltabs();
        return create_process_from_code("", "fuzz", "/t/fuzz.lua", "");
    }();
    cproc = p;
    return p;
}

// Registers and colour tables from the input: defaults or random bytes.
inline void load_state(process_rec *p, reader &in) {
    uint8_t how = in.byte();
    if (how & 1) {
        for (uint32_t a = COLOUR_TABLES_ADDR; a < COLOUR_TABLES_ADDR + COLOUR_TABLES_BYTES; a += 4)
            poke4(a, int64_t(in.u32()));
    } else {
        write_bytes_proc(p, COLOUR_TABLES_ADDR, default_coltabs, sizeof default_coltabs);
    }
    poke8(REG_FILL_PATTERN, how & 2 ? int64_t(in.u64()) : 0);
    for (uint32_t a :
         {REG_READ_MASK, REG_WRITE_MASK, REG_SPRITE_TARGET_MASK, REG_SHAPE_TARGET_MASK})
        poke(a, how & 4 ? in.byte() : 0x3F);
    for (uint32_t a = REG_TLINE_OFFSET_X; a < REG_TLINE_OFFSET_X + 8; a++)
        poke(a, how & 8 ? in.byte() : 0);
    p->inverted_fill = (how >> 4) & 1;
}

// A target of input-chosen size; the clip rebuilt from input registers and,
// for some inputs, the header reshaped afterwards (a stale clip).
inline bitmap *make_target(process_rec *p, reader &in) {
    uint8_t shape = in.byte();
    uint32_t w = shape & 0x80 ? 480 : in.byte() % 70, h = shape & 0x80 ? 270 : in.byte() % 70;
    auto *t = new bitmap(w, h);
    for (size_t i = 0; i < t->bytes; i++) t->pixels()[i] = uint8_t(i * 7 + shape);
    p->draw_target = t->rec;
    poke2(REG_CLIP_X0, int16_t(in.i32()));
    poke2(REG_CLIP_Y0, int16_t(in.i32()));
    poke2(REG_CLIP_X1, shape & 0x40 ? int16_t(in.i32()) : int16_t(w));
    poke2(REG_CLIP_Y1, shape & 0x40 ? int16_t(in.i32()) : int16_t(h));
    refresh_clip(p);
    if (shape & 0x20 && t->bytes) {  // reshape in place, keeping width x height within the array
        uint32_t nw = 1 + in.byte() % 200;
        t->rec->width = nw;
        t->rec->height = uint32_t(t->bytes / nw);
    }
    return t;
}

// Aborts when a pixel outside the clip rectangle (within the target's
// current shape) differs from 'before'.
inline void check_outside_clip(const process_rec *p, bitmap &t,
                               const std::vector<uint8_t> &before) {
    int64_t w = t.rec->width, h = t.rec->height;
    int64_t x0 = std::max(p->clip_x0, 0), y0 = std::max(p->clip_y0, 0);
    int64_t x1 = std::min<int64_t>(p->clip_x1, w), y1 = std::min<int64_t>(p->clip_y1, h);
    for (int64_t i = 0; i < int64_t(t.bytes); i++) {
        int64_t x = w ? i % w : 0, y = w ? i / w : 0;
        bool inside = y < h && x >= x0 && x < x1 && y >= y0 && y < y1;
        if (!inside && t.pixels()[i] != before[size_t(i)]) {
            std::fprintf(stderr, "pixel %lld,%lld outside the clip changed\n", (long long)x,
                         (long long)y);
            std::abort();
        }
    }
}

}  // namespace gfx_fuzz
