// Shared by the rasteriser tests: one real process with the default colour
// tables in its memory, bitmaps allocated at exactly their size (so the
// sanitizer sees any stray byte), and plain per-pixel references of the two
// pixel rules read through peek.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "address_space.h"
#include "colour_tables.h"
#include "crc32.h"
#include "draw_state.h"
#include "fake_host.h"
#include "pixel_reference.h"
#include "process.h"
#include "typed_ud.h"

// A typed array of w x h elements of 'type', allocated at exactly its size.
struct bitmap_deleter {
    void operator()(typed_ud_rec *p) const { std::free(p); }
};
using bitmap_ptr = std::unique_ptr<typed_ud_rec, bitmap_deleter>;

inline bitmap_ptr make_bitmap(uint32_t w, uint32_t h, int type = UTYPE_U8) {
    size_t bytes = TYPED_UD_HEADER + size_t(w) * h * utype_size(type);
    auto *b = static_cast<typed_ud_rec *>(std::calloc(1, bytes));
    b->type = uint8_t(type);
    b->dims = 2;
    b->width = w;
    b->height = h;
    b->depth = 1;
    return bitmap_ptr(b);
}

inline uint8_t *px(typed_ud_rec *b) {
    return ud_elements(b);
}
inline uint8_t &at(typed_ud_rec *b, int64_t x, int64_t y) {
    return ud_elements(b)[y * b->width + x];
}
inline std::vector<uint8_t> bytes_of(typed_ud_rec *b) {
    return std::vector<uint8_t>(px(b), px(b) + size_t(b->width) * b->height * utype_size(b->type));
}
inline void fill_random(typed_ud_rec *b, std::mt19937 &rng) {
    size_t n = size_t(b->width) * b->height * utype_size(b->type);
    for (size_t i = 0; i < n; i++) px(b)[i] = uint8_t(rng());
}

class GfxTest : public ::testing::Test {
   protected:
    void SetUp() override {
        fake_host::reset();
        processes_init();
        init_default_coltabs();
        proc = create_process_from_code("", "g", "/t/g.lua", "");
        ASSERT_NE(proc, nullptr);
        cproc = proc;
        write_bytes_proc(proc, COLOUR_TABLES_ADDR, default_coltabs, sizeof default_coltabs);
        set_masks(0x3F, 0xFF, 0, 0);
        gfx_force_plain_paths = 0;
    }
    void TearDown() override {
        use_path(0);
        processes_init();
    }

    // Path k of the primitives: 0 the widest the processor has, 1 the plain
    // rule, 2 vector paths of 256 bits at most.
    static constexpr int PATHS = 3;
    static void use_path(int k) {
        gfx_force_plain_paths = k == 1;
        gfx_narrow_vectors = k == 2;
    }

    // Read, write, sprite-target and shape-target masks.
    void set_masks(uint8_t rm, uint8_t wm, uint8_t sprite_tm, uint8_t shape_tm) {
        poke(REG_READ_MASK, rm);
        poke(REG_WRITE_MASK, wm);
        poke(REG_SPRITE_TARGET_MASK, sprite_tm);
        poke(REG_SHAPE_TARGET_MASK, shape_tm);
    }
    void set_pattern(uint64_t rows) { poke8(REG_FILL_PATTERN, int64_t(rows)); }

    // Points the draw target at b and sets the clip registers, then rebuilds.
    void target(typed_ud_rec *b, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
        proc->draw_target = b;
        poke2(REG_CLIP_X0, x0);
        poke2(REG_CLIP_Y0, y0);
        poke2(REG_CLIP_X1, x1 < 0 ? int(b->width) : x1);
        poke2(REG_CLIP_Y1, y1 < 0 ? int(b->height) : y1);
        refresh_clip(proc);
    }

    void random_tables(std::mt19937 &rng) {
        for (uint32_t a = COLOUR_TABLES_ADDR; a < COLOUR_TABLES_ADDR + COLOUR_TABLES_BYTES; a++)
            poke(a, rng());
    }

    uint8_t ref_shape(int64_t x, int64_t y, int32_t colour, uint8_t d) {
        return pixel_reference::shape(x, y, colour, d);
    }
    uint8_t ref_sprite(int64_t x, int64_t y, uint32_t src, uint8_t d) {
        return pixel_reference::sprite(x, y, src, d);
    }

    // The clip rectangle as the primitives see it.
    bool in_clip(int64_t x, int64_t y) {
        return x >= proc->clip_x0 && x < proc->clip_x1 && y >= proc->clip_y0 && y < proc->clip_y1;
    }

    process_rec *proc = nullptr;
};

inline uint32_t crc_of(typed_ud_rec *b) {
    std::vector<uint8_t> v = bytes_of(b);
    return crc32b(v.data(), int64_t(v.size()));
}
