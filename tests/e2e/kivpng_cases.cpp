// Image cartridges end to end: one written by a program, foreign pictures
// never written over, and one too large to store.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <zlib.h>

#include <filesystem>
#include <map>

#include "cart_template.h"
#include "e2e_driver.h"
#include "kiv_png_reader.h"

namespace {

using namespace e2e;

std::vector<uint8_t> visible(const uint8_t *p) { return {uint8_t(p[0] & 0xF8), uint8_t(p[1] & 0xF8), uint8_t(p[2] & 0xF8), uint8_t(p[3] & 0xFC)}; }

std::string encode_png(const std::vector<uint8_t> &rgba, unsigned w, unsigned h) {
    unsigned char *out = nullptr;
    size_t size = 0;
    lodepng_encode32(&out, &size, rgba.data(), w, h);
    std::string s(reinterpret_cast<char *>(out), size);
    std::free(out);
    return s;
}

void put_be32(std::string &s, uint32_t v) {
    for (int i = 3; i >= 0; i--) s += char(v >> (8 * i));
}

// A 16 x 16 RGBA PNG whose image data inflates to 64 MB.
std::string inflate_bomb() {
    auto chunk = [](std::string &png, const char *type, const std::string &data) {
        put_be32(png, uint32_t(data.size()));
        const std::string body = std::string(type, 4) + data;
        png += body;
        put_be32(png, uint32_t(crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size()))));
    };
    std::string png = "\x89PNG\r\n\x1a\n", ihdr;
    put_be32(ihdr, 16);
    put_be32(ihdr, 16);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    chunk(png, "IHDR", ihdr);
    const std::string zeros(size_t(64) << 20, '\0');
    uLongf size = compressBound(uLong(zeros.size()));
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef *>(z.data()), &size, reinterpret_cast<const Bytef *>(zeros.data()), uLong(zeros.size()), 9);
    z.resize(size);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

}  // namespace

TEST(ImageCartridges, AProgramWritesOneWithItsLabel) {
    sandbox s;
    s.pack({}, "kivpng_write");
    std::filesystem::create_directories(s.dir + "/data");
    const run_result r = s.run();
    ASSERT_EQ(r.status, 0) << diagnostics(r);
    ASSERT_TRUE(has_line(r, "main: stored")) << diagnostics(r);
    const std::string png = read_file(s.dir + "/data/c.kiv.png");
    const auto pic = read_kiv_png_picture(png);
    ASSERT_TRUE(pic) << "a 512 x 384 RGBA picture";
    const auto entries = read_kiv_png(png);
    ASSERT_TRUE(entries);
    std::map<std::string, std::string> files;
    for (const cart_entry &e : *entries) files[e.name] = e.data;
    EXPECT_NE(files["main.lua"].find("print('hello')"), std::string::npos);
    EXPECT_EQ(files[".info.pod"].rfind("--[[pod,title=\"Hello\",author=\"amy\",version=\"1.0\"]]", 0), 0u);

    int title = 0;
    for (int y = 326; y < 346; y++)
        for (int x = 80; x < 436; x++)
            if (visible(&pic->rgba[(size_t(y) * 512 + x) * 4]) == visible(std::vector<uint8_t>{208, 208, 208, 255}.data())) title++;
    EXPECT_GT(title, 20) << "the title's upper pixels";
    const std::vector<uint8_t> tmpl = draw_cart_template();
    for (int y = 0; y < 384; y++)
        for (int x = 0; x < 512; x++) {
            const bool label = x >= 12 && x < 500 && y >= 34 && y < 312;
            const bool text = x >= 72 && x < 440 && y >= 320 && y < 370;
            if (label || text) continue;
            const size_t at = (size_t(y) * 512 + x) * 4;
            ASSERT_EQ(visible(&pic->rgba[at]), visible(&tmpl[at])) << x << "," << y;
        }
}

TEST(ImageCartridges, ForeignPicturesAreNeverWrittenOver) {
    sandbox s;
    s.pack({}, "kivpng_foreign");
    std::vector<uint8_t> photo(512 * 384 * 4);
    for (size_t i = 0; i < photo.size(); i++) photo[i] = uint8_t(i % 4 == 3 ? 255 : (i * 7) ^ (i >> 11));
    const std::string p = encode_png(photo, 512, 384), b = inflate_bomb();
    s.write_file("data/p.kiv.png", p);
    s.write_file("data/b.kiv.png", b);
    const run_result r = s.run();
    ASSERT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: listed 0")) << diagnostics(r);
    EXPECT_EQ(read_file(s.dir + "/data/p.kiv.png"), p);
    EXPECT_EQ(read_file(s.dir + "/data/b.kiv.png"), b);
    EXPECT_NE(r.log.find("** not writing back"), std::string::npos) << diagnostics(r);
}

TEST(ImageCartridges, TooLargeIsToldOnceAndWrittenOnceSmallAgain) {
    sandbox s;
    s.pack({}, "kivpng_too_large");
    std::filesystem::create_directories(s.dir + "/data");
    const run_result r = s.run();
    ASSERT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: still pid 4 true")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: stored true")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: unchanged true")) << diagnostics(r);
    EXPECT_EQ(count_lines_with(r, "failed to store cartridge rom as png (too large)"), 1) << diagnostics(r);
    const auto entries = read_kiv_png(read_file(s.dir + "/data/c.kiv.png"));
    ASSERT_TRUE(entries) << diagnostics(r);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].name, "main.lua");
    EXPECT_EQ((*entries)[1].name, ".info.pod");
}
