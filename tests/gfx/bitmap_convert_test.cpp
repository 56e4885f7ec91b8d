// Indexed <-> RGBA conversion through the running process's RGB palette.
#include <gtest/gtest.h>

#include <vector>

#include "address_space.h"
#include "bitmap_convert.h"
#include "process.h"

class BitmapConvert : public ::testing::Test {
  protected:
    void SetUp() override {
        processes_init();
        p = create_process_from_code("", "p", "/t/p.lua", "");
        ASSERT_NE(p, nullptr);
        cproc = p;
        for (int i = 0; i < 64; i++) poke4(0x5000 + 4 * i, 0x010101 * (i * 2));  // grey ramp, step 2
        poke4(0x5000 + 4 * 10, 0xff8040);
        poke4(0x5000 + 4 * 11, 0xff8040);  // the same colour as entry 10
    }
    void TearDown() override { processes_init(); }

    process_rec *p = nullptr;
};

TEST_F(BitmapConvert, IndicesBecomeTheirPaletteColoursWithFullAlpha) {
    const std::vector<uint8_t> src = {0, 10, 63, 64 + 10, 255};
    std::vector<uint8_t> out(src.size() * 4);
    convert_bitmap_8_to_32(src.data(), out.data(), static_cast<int64_t>(src.size()));
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 255, 0xff, 0x80, 0x40, 255, 126, 126, 126, 255,
                                         0xff, 0x80, 0x40, 255, 126, 126, 126, 255}));
}

TEST_F(BitmapConvert, PixelsBecomeTheNearestIndexTheLowestOnATieWhateverTheirAlpha) {
    struct Case {
        uint8_t r, g, b, a;
        uint8_t index;
    } cases[] = {
        {0, 0, 0, 255, 0},         {6, 6, 6, 0, 3},           {7, 7, 7, 255, 3},  // 7 lies between 6 and 8
        {9, 9, 9, 17, 4},          {0xff, 0x80, 0x40, 255, 10}, {0xfe, 0x81, 0x40, 0, 10},
        {255, 255, 255, 255, 63},  {21, 21, 21, 255, 9},      // entries 10 and 11 are not grey: 9 and 12 tie
    };
    std::vector<uint8_t> src;
    for (const Case &c : cases) src.insert(src.end(), {c.r, c.g, c.b, c.a});
    std::vector<uint8_t> out(std::size(cases));
    convert_bitmap_32_to_8(src.data(), out.data(), static_cast<int64_t>(out.size()));
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(out[i], cases[i].index) << int(cases[i].r) << "," << int(cases[i].g) << "," << int(cases[i].b);
}
