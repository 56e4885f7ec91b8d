// PNG pictures to and from byte buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "png_buffer.h"

namespace {

std::vector<uint8_t> picture(uint32_t w, uint32_t h) {
    std::vector<uint8_t> px(size_t{w} * h * 4);
    for (size_t i = 0; i < px.size(); i++) px[i] = static_cast<uint8_t>(i * 13 + 7);
    return px;
}

}  // namespace

TEST(PngBuffer, AnEncodedPictureIsAppendedAtTheCursorAndDecodesToTheSamePixels) {
    const std::vector<uint8_t> px = picture(5, 3);
    buffer_rec *b = create_buffer_from_str("head");
    ASSERT_EQ(LodePNG_encode32_pbuffer(px.data(), 5, 3, b), 0u);
    ASSERT_GT(b->length, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b->data), 4), "head");
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b->data) + 5, 3), "PNG");

    buffer_rec *png = create_buffer_2(0, 'x');
    bwrite(b->data + 4, 1, b->length - 4, png);  // cursor left at the end: the decoder rewinds
    uint8_t *out = nullptr;
    uint32_t w = 0, h = 0;
    ASSERT_EQ(LodePNG_decode32_pbuffer(&out, &w, &h, png), 0u);
    EXPECT_EQ(w, 5u);
    EXPECT_EQ(h, 3u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + px.size()), px);
    std::free(out);
    destroy_buffer(png);
    destroy_buffer(b);
}

TEST(PngBuffer, BytesThatAreNoPngOrNoBufferGiveAnErrorAndNoPixels) {
    buffer_rec *junk = create_buffer_from_str("\x89PNG but not really a picture");
    uint8_t *out = reinterpret_cast<uint8_t *>(1);
    uint32_t w = 9, h = 9;
    EXPECT_NE(LodePNG_decode32_pbuffer(&out, &w, &h, junk), 0u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(w + h, 0u);
    EXPECT_EQ(LodePNG_decode32_pbuffer(&out, &w, &h, nullptr), PNG_NULL_BUFFER_ERROR);
    const std::vector<uint8_t> px = picture(1, 1);
    EXPECT_EQ(LodePNG_encode32_pbuffer(px.data(), 1, 1, nullptr), PNG_NULL_BUFFER_ERROR);
    destroy_buffer(junk);
}

TEST(PngBuffer, OtherColourTypesDecodeAsAsked) {
    const std::vector<uint8_t> grey = {0, 100, 200, 255};
    buffer_rec *b = create_buffer_2(0, 'x');
    ASSERT_EQ(LodePNG_encode_pbuffer(grey.data(), 2, 2, 0 /* grey */, 8, b), 0u);
    uint8_t *out = nullptr;
    uint32_t w = 0, h = 0;
    ASSERT_EQ(LodePNG_decode32_pbuffer(&out, &w, &h, b), 0u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 16),
              (std::vector<uint8_t>{0, 0, 0, 255, 100, 100, 100, 255, 200, 200, 200, 255, 255, 255, 255, 255}));
    std::free(out);
    ASSERT_EQ(LodePNG_decode_pbuffer(&out, &w, &h, b, 0, 8), 0u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), grey);
    std::free(out);
    destroy_buffer(b);
}
