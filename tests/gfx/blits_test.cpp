// Sprites, blits and copies of another process's display.
#include "blits.h"
#include "gfx_fixture.h"

namespace {

class Blits : public GfxTest {
   protected:
    // The sprite rectangle element by element: the mirrored sprite's (sx + i,
    // sy + j) lands at (dx + i, dy + j) when both lie inside.
    void ref_spr(typed_ud_rec *spr, typed_ud_rec *dst, int64_t sx, int64_t sy, int64_t dx,
                 int64_t dy, int64_t w, int64_t h, bool fx, bool fy) {
        int64_t sw = spr->width, sh = spr->height;
        // Only indices whose destination lies inside the bitmap can draw.
        for (int64_t j = std::max<int64_t>(0, -dy);
             j < std::min<int64_t>(h, int64_t(dst->height) - dy); j++)
            for (int64_t i = std::max<int64_t>(0, -dx);
                 i < std::min<int64_t>(w, int64_t(dst->width) - dx); i++) {
                int64_t cx = sx + i, cy = sy + j, x = dx + i, y = dy + j;
                if (cx < 0 || cy < 0 || cx >= sw || cy >= sh || !in_clip(x, y)) continue;
                uint8_t s = at(spr, fx ? sw - 1 - cx : cx, fy ? sh - 1 - cy : cy);
                at(dst, x, y) = ref_sprite(x, y, s, at(dst, x, y));
            }
    }
};

TEST_F(Blits, SpriteCases) {
    bitmap_ptr spr = make_bitmap(8, 8), wide = make_bitmap(16, 8), dst = make_bitmap(40, 20);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) at(spr.get(), x, y) = uint8_t(1 + x);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++) at(wide.get(), x, y) = uint8_t(1 + x);
    target(dst.get());
    set_masks(0x3F, 0xFF, 0, 0);
    EXPECT_EQ(draw_spr(spr.get(), dst.get(), -2, 0, 10, 0, 8, 8, 0, 0), 6 * 8);
    for (int x = 0; x < 40; x++)
        EXPECT_EQ(at(dst.get(), x, 3), x >= 12 && x <= 17 ? 0xC0 | (x - 12 + 1) : 0) << x;
    std::memset(px(dst.get()), 0, 800);
    EXPECT_EQ(draw_spr(wide.get(), dst.get(), 0, 0, 0, 0, 4, 8, 1, 0), 32);
    for (int x = 0; x < 4; x++) EXPECT_EQ(at(dst.get(), x, 7), 0xC0 | (16 - x)) << x;
    EXPECT_EQ(draw_spr(nullptr, dst.get(), 0, 0, 0, 0, 4, 4, 0, 0), 0);
    EXPECT_EQ(draw_spr(spr.get(), nullptr, 0, 0, 0, 0, 4, 4, 0, 0), 0);
    bitmap_ptr empty = make_bitmap(0, 5);
    EXPECT_EQ(draw_spr(empty.get(), dst.get(), 0, 0, 0, 0, 4, 4, 1, 1), 0);
}

TEST_F(Blits, FlippedAndClippedSpritesMatchTheMirroredCopy) {
    std::mt19937 rng(8);
    bitmap_ptr dst = make_bitmap(50, 40), ref = make_bitmap(50, 40);
    random_tables(rng);
    for (int iter = 0; iter < 1500; iter++) {
        uint32_t sw = 1 + rng() % 24, sh = 1 + rng() % 24;
        bitmap_ptr spr = make_bitmap(sw, sh);
        fill_random(spr.get(), rng);
        fill_random(dst.get(), rng);
        std::memcpy(px(ref.get()), px(dst.get()), 2000);
        target(dst.get(), int(rng() % 10), int(rng() % 10), 40 + int(rng() % 11),
               30 + int(rng() % 11));
        set_masks(uint8_t(rng()), uint8_t(rng()), uint8_t(rng() % 2 ? 0 : rng()), 0);
        set_pattern(rng() % 2 ? 0 : rng());
        auto pick = [&](int64_t near) -> int32_t {
            switch (rng() % 5) {
                case 0:
                    return int32_t(rng() % 2 ? INT32_MAX - int32_t(rng() % 30)
                                             : INT32_MIN + int32_t(rng() % 30));
                default:
                    return int32_t(int64_t(rng() % uint64_t(near + 20)) - 10);
            }
        };
        int32_t sx = pick(sw), sy = pick(sh), dx = pick(50), dy = pick(40);
        int32_t w = rng() % 6 == 0 ? pick(30) : int32_t(rng() % 30), h = int32_t(rng() % 30);
        bool fx = rng() % 2, fy = rng() % 2;
        gfx_force_plain_paths = iter % 2;
        int32_t n = draw_spr(spr.get(), dst.get(), sx, sy, dx, dy, w, h, fx, fy);
        get_masks_sprite();
        ref_spr(spr.get(), ref.get(), sx, sy, dx, dy, w, h, fx, fy);
        ASSERT_EQ(bytes_of(dst.get()), bytes_of(ref.get()))
            << iter << ": " << sx << "," << sy << " -> " << dx << "," << dy << " " << w << "x" << h
            << " flips " << fx << fy;
        ASSERT_GE(n, 0);
    }
}

TEST_F(Blits, SelfBlitsInEveryDirectionEqualCopyThenPaste) {
    std::mt19937 rng(21);
    const int dirs[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {3, 2}, {-3, 2}, {3, -2}, {-3, -2}};
    for (int type : {UTYPE_U8, UTYPE_I16, UTYPE_I32, UTYPE_I64, UTYPE_F64}) {
        bitmap_ptr b = make_bitmap(30, 20, type);
        const uint32_t es = utype_size(type);
        target(b.get(), 0, 0, 30, 20);
        for (auto &d : dirs) {
            fill_random(b.get(), rng);
            std::vector<uint8_t> before = bytes_of(b.get()), want = before;
            int sx = 5, sy = 4, w = 18, h = 12, dx = sx + d[0], dy = sy + d[1];
            for (int j = 0; j < h; j++)
                std::memcpy(want.data() + ((dy + j) * 30 + dx) * es,
                            before.data() + ((sy + j) * 30 + sx) * es, size_t(w) * es);
            int32_t cost = blit(b.get(), b.get(), sx, sy, dx, dy, w, h);
            EXPECT_EQ(bytes_of(b.get()), want) << "type " << type << " dir " << d[0] << "," << d[1];
            const int b = w * int(es);  // the bytes of a row
            EXPECT_EQ(cost, d[1] == 0 ? (4 * b + 256) * h : (b + 64) * h);
        }
    }
}

TEST_F(Blits, BlitsClipToBothSidesAndCostByTheirRows) {
    std::mt19937 rng(4);
    bitmap_ptr a = make_bitmap(10, 3), c = make_bitmap(20, 8), i1 = make_bitmap(10, 3, UTYPE_I16),
               i2 = make_bitmap(12, 5, UTYPE_I16);
    target(c.get());
    EXPECT_EQ(blit(a.get(), c.get(), 0, 0, 2, 2, 10, 3), 222);
    fill_random(i1.get(), rng);
    EXPECT_EQ(blit(i1.get(), i2.get(), 0, 0, 1, 1, 10, 3), 252);  // rows of 20 bytes
    for (int y = 0; y < 3; y++)
        EXPECT_EQ(std::memcmp(px(i2.get()) + ((1 + y) * 12 + 1) * 2, px(i1.get()) + y * 20, 20), 0);
    EXPECT_EQ(blit(a.get(), i2.get(), 0, 0, 0, 0, 2, 2), 0) << "element types differ";
    EXPECT_EQ(blit(a.get(), c.get(), 0, 0, 0, 0, 0, 2), 0);
    EXPECT_EQ(blit(nullptr, c.get(), 0, 0, 0, 0, 2, 2), 0);

    // Random rectangles against element-by-element placement.
    bitmap_ptr src = make_bitmap(25, 15), dst = make_bitmap(30, 20);
    for (int iter = 0; iter < 500; iter++) {
        fill_random(src.get(), rng);
        fill_random(dst.get(), rng);
        target(dst.get(), int(rng() % 8), int(rng() % 8), 20 + int(rng() % 11),
               12 + int(rng() % 9));
        int32_t sx = int32_t(rng() % 40) - 10, sy = int32_t(rng() % 30) - 10,
                dx = int32_t(rng() % 45) - 10, dy = int32_t(rng() % 35) - 10,
                w = int32_t(rng() % 30), h = int32_t(rng() % 20);
        if (iter % 7 == 0) sx = INT32_MIN + 5, dx = INT32_MAX - 3;
        std::vector<uint8_t> want = bytes_of(dst.get());
        for (int64_t j = 0; j < h; j++)
            for (int64_t i = 0; i < w; i++) {
                int64_t x = int64_t(dx) + i, y = int64_t(dy) + j, u = int64_t(sx) + i,
                        v = int64_t(sy) + j;
                if (in_clip(x, y) && u >= 0 && v >= 0 && u < 25 && v < 15)
                    want[size_t(y * 30 + x)] = at(src.get(), u, v);
            }
        blit(src.get(), dst.get(), sx, sy, dx, dy, w, h);
        ASSERT_EQ(bytes_of(dst.get()), want) << iter;
    }

    // One column of 2^24 rows onto its own rows: the cost saturates.
    bitmap_ptr tall = make_bitmap(1, 16777216);
    target(tall.get());
    proc->clip_y1 =
        16777216;  // beyond the i16 registers: a full clip of the record, as for a second target
    EXPECT_EQ(blit(tall.get(), tall.get(), 0, 0, 0, 0, 1, 16777216), INT32_MAX);
}

class FromRam : public Blits {
   protected:
    void SetUp() override {
        Blits::SetUp();
        other = create_process_from_code("", "o", "/t/o.lua", "");
        ASSERT_NE(other, nullptr);
        cproc = proc;
    }
    // The source byte by the page table, colour 8 where nothing is served.
    uint8_t src_byte(uint32_t a) {
        a &= 0xFFFFFF;
        uint32_t p = a >> 12, o = a & 4095;
        return int32_t(o) < other->page_len[p] ? other->page[p][o] : 8;
    }
    process_rec *other = nullptr;
};

TEST_F(FromRam, UnservedBytesAreColourEightAndMasksSkipBytes) {
    poke2_proc(other, REG_DISPLAY_WIDTH, 480);
    for (uint32_t i = 0; i < 4096; i++) poke_proc(other, 0x10000 + i, 0x41);
    std::vector<uint8_t> mapped(100, 0x40);
    mapped[3] = 0xC0;
    mapped[4] = 0x41;
    map_page(other, 0x12, mapped.data(), 100);
    bitmap_ptr b = make_bitmap(480, 20);
    target(b.get());
    uint64_t pages = other->own_page_bytes;
    EXPECT_EQ(blit_from_ram(other, 0x10000, b.get(), 0, 8, 0, 0, 480, 1, 0), 480 / 4);
    for (int x = 0; x < 480; x++) ASSERT_EQ(at(b.get(), x, 0), x < 256 ? 0x41 : 8) << x;

    // Row 17 starts at 0x11FE0: 32 bytes of page 0x11 (never written), then the 100 mapped bytes.
    std::memset(px(b.get()), 0x77, 480 * 20);
    EXPECT_EQ(blit_from_ram(other, 0x10000, b.get(), 0, 17, 0, 1, 480, 1, 0x3F), 120);
    for (int x = 0; x < 480; x++) {
        uint8_t want = x < 32 ? 8 : x < 132 ? (x - 32 == 4 ? 0x41 : 0x77) : 8;
        ASSERT_EQ(at(b.get(), x, 1), want) << x;
    }
    EXPECT_EQ(other->own_page_bytes, pages);
    unmap_page(other, 0x12);
}

TEST_F(FromRam, AnyStrideAndWrapStaysInsideTheOtherProcessAndCreatesNoPage) {
    std::mt19937 rng(6);
    std::vector<std::vector<uint8_t>> keep;
    for (int p : {0x10, 0x11, 0xFFF, 0x0, 0x5}) {
        keep.emplace_back(1 + rng() % 4096);
        for (uint8_t &v : keep.back()) v = uint8_t(rng());
        if (p >= 0x10) map_page(other, p, keep.back().data(), int32_t(keep.back().size()));
    }
    bitmap_ptr b = make_bitmap(200, 50), ref = make_bitmap(200, 50);
    const struct {
        int16_t stride;
        uint32_t base;
        int32_t sx, sy;
    } cases[] = {{0, 0x10000, 5, 3},       {-480, 0x10000, 0, 0},
                 {480, 0xFFFF80, 0, 0},    {-1, 0x10, 100, 1000},
                 {32767, 0x10000, -7, -9}, {-32768, 0xFFFFFF, INT32_MAX, INT32_MIN}};
    for (auto &c : cases) {
        for (uint32_t mask : {0u, 0x3Fu, 0x3Fu}) {
            gfx_force_plain_paths = !gfx_force_plain_paths;  // the masked copy both ways
            poke2_proc(other, REG_DISPLAY_WIDTH, c.stride);
            uint64_t pages = other->own_page_bytes;
            fill_random(b.get(), rng);
            std::memcpy(px(ref.get()), px(b.get()), 200 * 50);
            target(b.get(), 3, 2, 190, 45);
            int32_t dx = -4, dy = 1, w = 200, h = 60;
            blit_from_ram(other, c.base, b.get(), c.sx, c.sy, dx, dy, w, h, mask);
            for (int64_t j = 0; j < h; j++)
                for (int64_t i = 0; i < w; i++) {
                    int64_t x = dx + i, y = dy + j;
                    if (!in_clip(x, y)) continue;
                    uint32_t a = uint32_t(
                        uint64_t(int64_t(c.base) + c.sx + i + (int64_t(c.sy) + j) * c.stride));
                    bool unserved = int32_t(a & 4095) >= other->page_len[(a & 0xFFFFFF) >> 12];
                    uint8_t s = src_byte(a);
                    if (mask == 0 || unserved || (s & mask)) at(ref.get(), x, y) = s;
                }
            ASSERT_EQ(bytes_of(b.get()), bytes_of(ref.get()))
                << c.stride << " " << c.base << " mask " << mask;
            EXPECT_EQ(other->own_page_bytes, pages);
        }
    }
    for (int p : {0x10, 0x11, 0xFFF}) unmap_page(other, p);
}

TEST_F(FromRam, AProcessCopyingItsOwnDisplayIntoABitmapMappedOverItMatchesRunByRunMoves) {
    std::mt19937 rng(12);
    for (int iter = 0; iter < 40; iter++) {
        bitmap_ptr b = make_bitmap(480, 270), ref = make_bitmap(480, 270);
        fill_random(b.get(), rng);
        std::memcpy(px(ref.get()), px(b.get()), 129600);
        for (int p = 0; p < 32; p++)
            map_page(proc, 16 + p, px(b.get()) + p * 4096, std::min(4096, 129600 - p * 4096));
        poke2(REG_DISPLAY_WIDTH, 480);
        target(b.get());
        // Sources from the display on (the bytes above it are the process's own pages).
        int32_t sx = int32_t(rng() % 20), sy = int32_t(rng() % 40), dx = int32_t(rng() % 40) - 20,
                dy = int32_t(rng() % 40) - 20;
        uint32_t mask = iter % 2 ? 0 : 0x3F;
        blit_from_ram(proc, 0x10000, b.get(), sx, sy, dx, dy, 470, 260, mask);
        // The reference on its own copy: rows top to bottom, page runs left to right.
        int64_t x0 = dx, w = 470, skip_x = 0, skip_y = 0, h = 260;
        if (x0 < 0) skip_x = -x0, w += x0, x0 = 0;
        int64_t y0 = dy;
        if (y0 < 0) skip_y = -y0, h += y0, y0 = 0;
        w = std::min<int64_t>(w, 480 - x0);
        h = std::min<int64_t>(h, 270 - y0);
        for (int64_t j = 0; j < h; j++) {
            uint32_t a = uint32_t(0x10000 + sx + skip_x + (sy + skip_y + j) * 480) & 0xFFFFFF;
            uint8_t *d = px(ref.get()) + (y0 + j) * 480 + x0;
            for (int64_t left = w; left > 0;) {
                int64_t run = std::min<int64_t>(4096 - (a & 4095), left);
                int64_t off = int64_t(a) - 0x10000;
                bool inside = off >= 0 && off < 129600;
                if (inside) run = std::min(run, 129600 - off);
                if (inside && mask == 0)
                    std::memmove(d, px(ref.get()) + off, size_t(run));
                else if (inside)
                    for (int64_t k = 0; k < run; k++) {
                        uint8_t s = px(ref.get())[off + k];
                        if (s & mask) d[k] = s;
                    }
                else
                    std::memset(d, 8, size_t(run));
                d += run, left -= run, a += uint32_t(run);
            }
        }
        ASSERT_EQ(bytes_of(b.get()), bytes_of(ref.get())) << iter;
        for (int p = 0; p < 32; p++) unmap_page(proc, 16 + p);
    }
}

}  // namespace
