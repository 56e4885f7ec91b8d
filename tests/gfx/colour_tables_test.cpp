// Default colour tables, palette entries and the 4 x 4 fill pattern.
#include "gfx_fixture.h"

namespace {

class ColourTables : public GfxTest {};

TEST_F(ColourTables, DefaultsHoldTheirDocumentedEntries) {
    struct Case {
        int index;
        uint8_t value;
    } tab[] = {{0 * 64 + 37, 37},
               {5 * 64 + 37, 0xC5},
               {63 * 64, 0xFF},
               {2 * 4096 + 5 * 64 + 37, 0xA5},
               {1 * 4096 + 63 * 64 + 0, 0x40},
               {3 * 4096 + 0 * 64 + 63, 0xFF}};
    for (const Case &c : tab) EXPECT_EQ(default_coltabs[c.index], c.value) << c.index;
    for (int bank = 0; bank < 4; bank++) {
        EXPECT_EQ(default_system_pal[bank * 64], 0x000000u);
        EXPECT_EQ(default_system_pal[bank * 64 + 8], 0xff004du);
        EXPECT_EQ(default_system_pal[bank * 64 + 40], 0u);
    }
    for (int i = 0; i < 64; i++) EXPECT_EQ(default_indexed_pal[i], i);
}

TEST_F(ColourTables, TheDefaultsHaveOneFixedDigestAcrossReboots) {
    auto digest = [] {
        uint32_t a = crc32b(default_coltabs, sizeof default_coltabs);
        uint32_t b = crc32b(reinterpret_cast<const uint8_t *>(default_system_pal),
                            sizeof default_system_pal);
        uint32_t c = crc32b(default_indexed_pal, sizeof default_indexed_pal);
        return std::vector<uint32_t>{a, b, c};
    };
    std::vector<uint32_t> first = digest();
    std::memset(default_coltabs, 0x5A, sizeof default_coltabs);
    init_default_coltabs();
    EXPECT_EQ(digest(), first);
    EXPECT_EQ(first, (std::vector<uint32_t>{0x2a72ee3au, 0xefad89adu, 0x100ece8cu}));
}

TEST_F(ColourTables, Fillp16ExpandsEachBitToItsPixelRepeatedOverEightByEight) {
    for (int bit = 0; bit < 16; bit++) {
        fillp_16(1 << bit);
        int pixel = 15 - bit;  // bit 15 is the top-left pixel, row by row
        int row = pixel / 4, col = pixel % 4;
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++)
                EXPECT_EQ((peek(REG_FILL_PATTERN + uint32_t(y)) >> x) & 1,
                          (y % 4 == row && x % 4 == col) ? 1 : 0)
                    << "bit " << bit << " at " << x << "," << y;
    }
    fillp_16(0x8000);
    EXPECT_EQ(uint64_t(peek8(REG_FILL_PATTERN)), 0x0000001100000011ull);
    fillp_16(0x0001);
    EXPECT_EQ(uint64_t(peek8(REG_FILL_PATTERN)), 0x8800000088000000ull);
}

TEST_F(ColourTables, PaletteEntriesByMode) {
    proc->page_flags[5] = 7;
    proc->page_flags[8] = 0;
    proc->page_flags[9] = 0;
    set_palette_entry(5, 12, 0);
    for (int d = 0; d < 64; d++) EXPECT_EQ(peek(COLOUR_TABLES_ADDR + 5 * 64 + uint32_t(d)), 0xCC);
    EXPECT_EQ(peek(COLOUR_TABLES_ADDR + 4 * 64), 0xC4) << "row 4 untouched";
    EXPECT_EQ(proc->page_flags[8], 255);
    EXPECT_EQ(proc->page_flags[9], 0);
    set_palette_entry(0x45, 12, 0);
    EXPECT_EQ(peek(COLOUR_TABLES_ADDR + 4096 + 5 * 64 + 9), 0xCC);
    EXPECT_EQ(proc->page_flags[9], 255);
    set_palette_entry(5, 0x12, 0x80);  // (mode | c) >> 6 picks table 2
    EXPECT_EQ(peek(COLOUR_TABLES_ADDR + 2 * 4096 + 5 * 64), 0xD2);

    set_palette_entry(0x47, 0x49, 1);
    EXPECT_EQ(peek(REG_SCREEN_PALETTE + 7), 9);
    set_palette_entry(0x1FF, 0x00ABCDEF, 2);
    EXPECT_EQ(uint32_t(peek4(REG_RGB_PALETTE + 4 * 255)), 0x00ABCDEFu);
    set_palette_entry(3, 0x11, 0x42);  // mode 2 again (0x42 & 63)
    EXPECT_EQ(uint32_t(peek4(REG_RGB_PALETTE + 12)), 0x11u);
    proc->page_flags[5] = 7;
    set_palette_entry(3, 0x22, 2);
    set_palette_entry(3, 0x22, 1);
    EXPECT_EQ(proc->page_flags[5], 7) << "register stores leave the flags";
    std::vector<uint8_t> regs(0x1000);
    for (uint32_t i = 0; i < 0x1000; i++) regs[i] = peek(0x5000 + i);
    for (int mode : {3, 17, 63}) set_palette_entry(3, 0x22, mode);
    for (uint32_t i = 0; i < 0x1000; i++) ASSERT_EQ(peek(0x5000 + i), regs[i]);
}

}  // namespace
