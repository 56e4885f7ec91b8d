// PNG pictures to and from byte buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <zlib.h>

#include <string>

#include "alloc_watch.h"
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

namespace {

void put_be32(std::string &s, uint32_t v) {
    for (int i = 3; i >= 0; i--) s += char(v >> (8 * i));
}

void chunk(std::string &png, const char *type, const std::string &data) {
    put_be32(png, uint32_t(data.size()));
    const std::string body = std::string(type, 4) + data;
    png += body;
    put_be32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size()))));
}

std::string deflated(size_t zeros) {
    std::string in(zeros, '\0');
    uLongf size = compressBound(uLong(in.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(in.data()), uLong(in.size()), 9);
    out.resize(size);
    return out;
}

// An 8-bit RGBA PNG of w x h whose image data inflates to 'idat_zeros' bytes,
// with 'ztxt' compressed text chunks of 'text_zeros' bytes each.
std::string crafted_png(uint32_t w, uint32_t h, size_t idat_zeros, int ztxt, size_t text_zeros) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    chunk(png, "IHDR", ihdr);
    const std::string text = std::string("Comment\0\0", 9) + deflated(text_zeros);
    for (int i = 0; i < ztxt; i++) chunk(png, "zTXt", text);
    chunk(png, "IDAT", deflated(idat_zeros));
    chunk(png, "IEND", "");
    return png;
}

uint32_t decode(const std::string &png, uint32_t *w = nullptr) {
    buffer_rec *b = create_buffer_2(0, 'x');
    bwrite(png.data(), 1, int64_t(png.size()), b);
    uint8_t *px = nullptr;
    uint32_t width = 0, height = 0;
    const uint32_t err = LodePNG_decode32_pbuffer(&px, &width, &height, b);
    if (w) *w = width;
    std::free(px);
    destroy_buffer(b);
    return err;
}

}  // namespace

TEST(PngBuffer, HostileHeadersAndStreamsAreRefusedInBoundedMemory) {
    // The exact scanline size decodes; one byte more of image data is refused.
    uint32_t w = 0;
    EXPECT_EQ(decode(crafted_png(16, 16, 16 * (1 + 64), 0, 0), &w), 0u);
    EXPECT_EQ(w, 16u);
    EXPECT_NE(decode(crafted_png(16, 16, 16 * (1 + 64) + 1, 0, 0)), 0u);
    // An inflate bomb: 64 MB of image data behind a 16 x 16 header.
    EXPECT_NE(decode(crafted_png(16, 16, size_t(64) << 20, 0, 0)), 0u);
    // A flood of compressed text (60 x 16 MB) is skipped.
    EXPECT_EQ(decode(crafted_png(1, 1, 5, 60, size_t(16) << 20)), 0u);
    // More than 0x1000000 pixels announced: refused before anything is reserved.
    EXPECT_EQ(decode(crafted_png(4097, 4096, 0, 0, 0)), PNG_TOO_LARGE_ERROR);
    EXPECT_EQ(decode(crafted_png(100000, 100000, 0, 0, 0)), PNG_TOO_LARGE_ERROR);
}

TEST(PngBuffer, FloodsAndBombsStayWithinThePicturesSize) {
    if (!alloc_watch::available()) GTEST_SKIP() << "allocation hooks need AddressSanitizer";
    const std::string flood = crafted_png(1, 1, 5, 60, size_t(16) << 20), bomb = crafted_png(16, 16, size_t(64) << 20, 0, 0);
    for (const std::string *png : {&flood, &bomb}) {
        alloc_watch::start();
        decode(*png);
        alloc_watch::stop();
        EXPECT_LT(alloc_watch::largest.load(), png->size() + (size_t(1) << 20)) << "no allocation much beyond the file";
    }
}
