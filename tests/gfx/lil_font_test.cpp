// Our built-in font: its header, the widths its nibbles give, where its
// glyphs lie, the copy shipped in the system ROM, and a golden of its bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crc32.h"
#include "glyph.h"

namespace {

// The advance the printer gives glyph c of our font.
int advance(int c) {
    const int base = c < 128 ? lil_font_dat[FONT_CHAR_W] : lil_font_dat[FONT_CHAR_W_HI];
    const int n = (c & 1) ? lil_font_dat[c >> 1] >> 4 : lil_font_dat[c >> 1] & 15;
    return base + ((n + 4) & 7) - 4;
}

// Bounding box of glyph c's set pixels: columns and rows used.
struct extent {
    int w = 0, h = 0;
};

extent glyph_extent(int c) {
    extent e;
    for (int r = 0; r < 8; r++) {
        const uint8_t row = lil_font_dat[8 * c + r];
        if (!row) continue;
        e.h = r + 1;
        e.w = std::max(e.w, 32 - __builtin_clz(row));
    }
    return e;
}

}  // namespace

TEST(LilFont, HeaderAndSecondHalf) {
    const uint8_t header[8] = {5, 10, 11, 0, 0, 3, 0, 0};
    for (int i = 0; i < 8; i++) EXPECT_EQ(lil_font_dat[i], header[i]) << i;
    for (int i = FONT_BYTES; i < LIL_FONT_BYTES; i++) ASSERT_EQ(lil_font_dat[i], 0) << i;
}

TEST(LilFont, EveryPrintableCodeHasPixelsAndSpaceHasNone) {
    for (int c = 16; c < 256; c++) {
        const extent e = glyph_extent(c);
        if (c == 32)
            EXPECT_EQ(e.h, 0);
        else
            EXPECT_GT(e.h, 0) << c;
    }
}

TEST(LilFont, AdvancesAndShapes) {
    // Letters and digits of another width than 4 x 7, and glyphs using row 7.
    const std::string narrow = "IJTY", wide = "MVWX";
    for (int c = '0'; c <= '9'; c++) {
        EXPECT_EQ(advance(c), 5) << char(c);
        const extent e = glyph_extent(c);
        EXPECT_LE(e.w, 4) << char(c);
        EXPECT_LE(e.h, 7) << char(c);
    }
    int exceptions = 0;
    for (int c = 'A'; c <= 'Z'; c++) {
        const extent e = glyph_extent(c);
        EXPECT_LE(e.h, 7) << char(c);
        if (wide.find(char(c)) != std::string::npos) {
            EXPECT_EQ(e.w, 5) << char(c);
            EXPECT_EQ(advance(c), 6) << char(c);
            exceptions++;
        } else if (e.w < 4) {
            EXPECT_NE(narrow.find(char(c)), std::string::npos) << char(c);
            EXPECT_EQ(advance(c), e.w + 1) << char(c);
            exceptions++;
        } else {
            EXPECT_EQ(e.w, 4) << char(c);
            EXPECT_EQ(advance(c), 5) << char(c);
        }
    }
    EXPECT_LE(exceptions, 8) << "most capitals are 4 x 7";
    for (const char c : std::string("gjpqy")) EXPECT_EQ(glyph_extent(c).h, 8) << c;
    for (int c = 128; c < 256; c++) {
        EXPECT_EQ(advance(c), 8) << c;
        EXPECT_LE(glyph_extent(c).w, 7) << c << " never uses column 7";
    }
    for (int c = 16; c < 128; c++) {
        EXPECT_GE(advance(c), glyph_extent(c).w + 1) << c << ": a column between glyphs";
        EXPECT_LE(advance(c), 8) << c;
    }
}

TEST(LilFont, TheSystemRomShipsTheFont) {
    std::ifstream in(std::string(QUILLMAR_SOURCE_DIR) + "/rom/system/fonts/lil.font", std::ios::binary);
    ASSERT_TRUE(in) << "rom/system/fonts/lil.font";
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> first(lil_font_dat.begin(), lil_font_dat.begin() + FONT_BYTES);
    EXPECT_EQ(file, first) << "rewrite rom/system/fonts/lil.font from lil_font_dat";
}

// Changes only with the glyphs: update deliberately with the font.
TEST(LilFont, Golden) {
    EXPECT_EQ(crc32b(lil_font_dat.data(), LIL_FONT_BYTES), 0x3840F67Cu);
}
