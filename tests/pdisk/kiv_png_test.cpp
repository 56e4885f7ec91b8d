// Image cartridges: the bits in the canvas, the size limit, the label
// picture and text, trees read back by a plain reader, write-back of a
// cartridge too large to store, and existing pictures never written over.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <qoi.h>

#include <fstream>
#include <iterator>
#include <random>

#include "cart_label.h"
#include "cart_png.h"
#include "cart_template.h"
#include "cart_trees.h"
#include "fsops.h"
#include "kiv_png_reader.h"
#include "pmount.h"
#include "process.h"
#include "vfs_fixture.h"

namespace {

std::string png_of(const std::vector<uint8_t> &rgba, unsigned w, unsigned h) {
    unsigned char *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(lodepng_encode32(&out, &size, rgba.data(), w, h), 0u);
    std::string s(reinterpret_cast<char *>(out), size);
    std::free(out);
    return s;
}

std::vector<uint8_t> gradient(unsigned w, unsigned h, int seed) {
    std::vector<uint8_t> px(size_t{w} * h * 4);
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++) {
            uint8_t *p = &px[(size_t{y} * w + x) * 4];
            p[0] = uint8_t(x + seed);
            p[1] = uint8_t(y * 3 + seed);
            p[2] = uint8_t((x ^ y) + seed);
            p[3] = 255;
        }
    return px;
}

std::string qoi_of(const std::vector<uint8_t> &px, unsigned w, unsigned h, unsigned channels) {
    qoi_desc d{w, h, static_cast<unsigned char>(channels), QOI_SRGB};
    int len = 0;
    void *out = qoi_encode(px.data(), &d, &len);
    std::string s(static_cast<char *>(out), static_cast<size_t>(len));
    std::free(out);
    return s;
}

// The canvas with every payload bit cleared: what the picture looks like.
std::vector<uint8_t> visible(const std::vector<uint8_t> &rgba) {
    std::vector<uint8_t> v(rgba);
    for (size_t i = 0; i < v.size(); i++) v[i] &= i % 4 == 3 ? 0xFC : 0xF8;
    return v;
}

std::string encode(const std::vector<cart_entry> &entries) {
    std::string out;
    EXPECT_EQ(encode_kiv_png(entries, out), cart_encode_status::written);
    return out;
}

std::vector<uint8_t> canvas_of(const std::vector<cart_entry> &entries) {
    return visible(read_kiv_png_picture(encode(entries)).value().rgba);
}

// The label picture's place of a canvas, visible bits only.
std::vector<uint8_t> label_area(const std::vector<uint8_t> &canvas) {
    std::vector<uint8_t> out;
    for (int y = 0; y < KIV_LABEL_H; y++) {
        const size_t at = (size_t(KIV_LABEL_Y + y) * KIV_PNG_W + KIV_LABEL_X) * 4;
        out.insert(out.end(), canvas.begin() + long(at), canvas.begin() + long(at + KIV_LABEL_W * 4));
    }
    return out;
}

std::vector<uint8_t> label_text(const std::string &pod) {
    std::vector<uint8_t> px(LABEL_TEXT_W * LABEL_TEXT_H);
    EXPECT_EQ(extract_label_text(reinterpret_cast<const uint8_t *>(pod.data()), pod.size(), px.data()), 1);
    return px;
}

std::vector<uint8_t> byline_rows(const std::vector<uint8_t> &text) {
    return std::vector<uint8_t>(text.begin() + LABEL_TEXT_W * 10, text.end());
}

}  // namespace

TEST(KivPngBits, PixelZeroTailAndCapacity) {
    std::vector<uint8_t> canvas(KIV_PNG_CANVAS_BYTES, 0xFF);
    const uint8_t rom[2] = {0b10110101, 0b11111010};
    kiv_png_embed(canvas.data(), canvas.size(), rom, 2);
    EXPECT_EQ(canvas[0] & 7, 0b101);                         // bits 0-2 of the first byte
    EXPECT_EQ(canvas[1] & 7, 0b110);                         // bits 3-5
    EXPECT_EQ(canvas[2] & 7, 0b010 | 0);                     // bits 6-7, then bit 0 of the second byte (0)
    EXPECT_EQ(canvas[3] & 3, 0b01);                          // bits 1-2 of the second byte
    EXPECT_EQ(canvas[0] & ~7, 0xF8);
    for (size_t i = 8; i < canvas.size(); i++) ASSERT_EQ(canvas[i] & (i % 4 == 3 ? 3 : 7), 0) << i;

    // 270336 bytes fill the canvas exactly.
    std::mt19937 rng(7);
    std::string full(size_t{KIV_PNG_W} * KIV_PNG_H * 11 / 8, '\0');
    for (char &c : full) c = char(rng());
    kiv_png_embed(canvas.data(), canvas.size(), reinterpret_cast<const uint8_t *>(full.data()), full.size());
    EXPECT_EQ(read_kiv_png_picture(png_of(canvas, KIV_PNG_W, KIV_PNG_H))->payload, full);
}

TEST(KivPngBits, RomsFromJustBelowTheLimitAreStoredAndFromTheLimitRefused) {
    std::mt19937 rng(3);
    std::string noise(300000, '\0');
    for (char &c : noise) c = char(rng());
    for (size_t target : {KIV_PNG_MAX_ROM - 1, KIV_PNG_MAX_ROM}) {
        // Random bytes barely compress: find the file size that makes a ROM of 'target' bytes.
        size_t n = target - 1100;
        std::string rom;
        for (int step = 0; step < 60; step++) {
            rom.clear();
            ASSERT_TRUE(encode_kiv_rom({file("x", noise.substr(0, n))}, KIV_ROM_SKIP_LABEL, rom));
            if (rom.size() == target) break;
            const long diff = long(target) - long(rom.size());
            n = size_t(long(n) + (step < 20 ? diff : (diff > 0 ? 1 : -1)));
        }
        ASSERT_EQ(rom.size(), target);
        std::string out = "keep";
        const cart_encode_status s = encode_kiv_png({file("x", noise.substr(0, n))}, out);
        if (target < KIV_PNG_MAX_ROM) {
            ASSERT_EQ(s, cart_encode_status::written);
            EXPECT_EQ(read_kiv_png(out.substr(4)).value(), std::vector<cart_entry>{file("x", noise.substr(0, n))});
        } else {
            EXPECT_EQ(s, cart_encode_status::too_large);
            EXPECT_EQ(out, "keep");
        }
    }
}

TEST(KivPngTrees, RandomTreesReadBackWithoutTheirLabelPictures) {
    const std::string label = png_of(gradient(480, 270, 1), 480, 270);
    for (uint32_t seed : kTreeSeeds) {
        std::vector<cart_entry> tree = random_tree(seed);
        std::vector<cart_entry> expected = tree;
        tree.push_back(file("label.png", label));
        tree.push_back(file(".info.pod", "--[[pod,title=\"T" + std::to_string(seed) + "\",author=\"amy\"]]"));
        expected.push_back(tree.back());
        std::string out;
        const cart_encode_status s = encode_kiv_png(tree, out);
        std::string rom;
        encode_kiv_rom(expected, 0, rom);
        if (rom.size() >= KIV_PNG_MAX_ROM) {
            EXPECT_EQ(s, cart_encode_status::too_large) << seed;
            continue;
        }
        ASSERT_EQ(s, cart_encode_status::written) << seed;
        EXPECT_EQ(read_kiv_png(out).value(), expected) << seed;
    }
}

class KivPngLabel : public VfsTest {
protected:
    void SetUp() override {
        VfsTest::SetUp();
        pdisk_reset_cart_codecs();
    }
    void put_template(const std::vector<uint8_t> &rgba, unsigned w, unsigned h) {
        pmkdir("/system/misc");
        ASSERT_TRUE(put(KIV_PNG_TEMPLATE, png_of(rgba, w, h)));
    }
};

TEST_F(KivPngLabel, TemplateOrFallbackUnderThePayload) {
    const std::vector<uint8_t> fallback = canvas_of({});
    for (size_t i = 0; i < fallback.size(); i++) ASSERT_EQ(fallback[i], visible(std::vector<uint8_t>(KIV_PNG_FALLBACK, KIV_PNG_FALLBACK + 4))[i % 4]);

    const std::vector<uint8_t> tmpl = draw_cart_template();
    put_template(tmpl, 512, 384);
    EXPECT_EQ(canvas_of({file("main.lua", "print(1)")}), visible(tmpl)) << "no label files, no .info.pod";
    put_template(gradient(511, 384, 2), 511, 384);
    EXPECT_EQ(canvas_of({}), fallback) << "a template of another size is not used";
}

TEST_F(KivPngLabel, LabelPictureChoices) {
    const std::vector<uint8_t> a = gradient(480, 270, 10), b = gradient(480, 270, 90);
    const std::vector<uint8_t> none = label_area(canvas_of({}));
    struct Case {
        const char *what;
        std::vector<cart_entry> entries;
        std::vector<uint8_t> expect;
    } cases[] = {
        {"label.png 480 x 270", {file("label.png", png_of(a, 480, 270))}, visible(a)},
        {"label.png wins over label.qoi", {file("label.png", png_of(a, 480, 270)), file("label.qoi", qoi_of(b, 480, 270, 4))}, visible(a)},
        {"479 x 270 is not drawn and label.qoi not tried",
         {file("label.png", png_of(gradient(479, 270, 3), 479, 270)), file("label.qoi", qoi_of(b, 480, 270, 4))}, none},
        {"label.qoi without label.png", {file("label.qoi", qoi_of(b, 480, 270, 4))}, visible(b)},
        {"a 3-channel label.qoi", {file("label.qoi", qoi_of(std::vector<uint8_t>(480 * 270 * 3, 9), 480, 270, 3))}, none},
        {"label.png in a folder", {folder("f"), file("f/label.png", png_of(a, 480, 270))}, none},
    };
    for (const Case &c : cases) EXPECT_EQ(label_area(canvas_of(c.entries)), c.expect) << c.what;

    // A header claiming 100000 x 100000 is not decoded (ASan would see the allocation).
    std::string huge = qoi_of(b, 480, 270, 4);
    for (int i : {4, 8}) {
        huge[size_t(i)] = 0;
        huge[size_t(i) + 1] = char(0x01);
        huge[size_t(i) + 2] = char(0x86);
        huge[size_t(i) + 3] = char(0xA0);
    }
    EXPECT_EQ(label_area(canvas_of({file("label.qoi", huge)})), none);
}

TEST_F(KivPngLabel, BylineForms) {
    // A byline is the version form of its own text (the label shows fewer
    // characters than a version may hold).
    auto same = [](const std::string &pod, const std::string &byline) {
        return byline_rows(label_text(pod)) == byline_rows(label_text("{version=\"" + byline.substr(0, 199) + "\"}"));
    };
    const std::string v200(200, 'v'), v199(199, 'v'), a800(800, 'a'), a799(799, 'a');
    EXPECT_TRUE(same("--[[pod,title=\"x\",author=\"amy\",version=\"1.0\"]]", "1.0 by amy"));
    EXPECT_TRUE(same("--[[pod,title=\"x\",author=\"amy\"]]", "by amy"));
    EXPECT_TRUE(same("--[[pod,version=\"1.0\"]]", "1.0"));
    EXPECT_TRUE(same("{author=\"amy\",title=\"x\",version=\"2\"}", "2 by amy")) << "the author as a body's first key";
    EXPECT_TRUE(same("--[[pod,author=\"amy\",version=\"\"]]", "by amy")) << "an empty value is missing";
    EXPECT_TRUE(same("--[[pod,version=\"" + v199 + "\"]]", v199));
    EXPECT_TRUE(same("--[[pod,author=\"amy\",version=\"" + v200 + "\"]]", "")) << "too long a version";
    EXPECT_TRUE(same("--[[pod,version=\"1\",author=\"" + a800 + "\"]]", "1")) << "too long an author";
    EXPECT_TRUE(same("--[[pod,author=\"" + a799 + "\"]]", "by " + a799));
    EXPECT_TRUE(same("--[[pod,author=\"a\\\"b\",xauthor=\"no\"]]", "by a\\\"b")) << "an escaped quote stays in";
    EXPECT_TRUE(same("--[[pod,title=\"t\"]]--{author=\"late\"}", "by late"));
    EXPECT_TRUE(same("--[[pod,author=\"first\"]]{author=\"late\"}", "by first")) << "the first key wins";
}

TEST_F(KivPngLabel, TitleAndBylinePixelsOnTheCanvas) {
    const std::vector<cart_entry> entries = {file(".info.pod", "--[[pod,title=\"Hello\",author=\"amy\",version=\"1.0\"]]")};
    const std::vector<uint8_t> text = label_text(entries[0].data);
    const std::vector<uint8_t> canvas = canvas_of(entries), plain = canvas_of({});
    auto pixel = [&](int x, int y) {
        const uint8_t *p = &canvas[(size_t(y) * KIV_PNG_W + x) * 4];
        return std::vector<uint8_t>(p, p + 4);
    };
    auto grey = [](uint8_t g) { return visible({g, g, g, 255}); };
    int title = 0, byline = 0;
    for (int y = 0; y < LABEL_TEXT_H; y++)
        for (int x = 0; x < LABEL_TEXT_W; x++) {
            if (!text[size_t(y * LABEL_TEXT_W + x)]) continue;
            if (y < 10) {
                title++;
                for (int dx = 0; dx < 2; dx++) {
                    EXPECT_EQ(pixel(80 + 2 * x + dx, 326 + 2 * y), grey(208));
                    EXPECT_EQ(pixel(80 + 2 * x + dx, 327 + 2 * y), grey(128));
                }
            } else {
                byline++;
                EXPECT_EQ(pixel(80 + x, 344 + y), grey(144));
            }
        }
    EXPECT_GT(title, 20);
    EXPECT_GT(byline, 20);
    size_t changed = 0;
    for (size_t i = 0; i < canvas.size(); i += 4) changed += canvas[i] != plain[i];
    EXPECT_EQ(changed, size_t(title * 4 + byline));
}

TEST_F(KivPngLabel, EveryLabelStartsFromAFreshRecord) {
    const std::string plain = "--[[pod,title=\"SAME\",author=\"AMY\"]]";
    const std::vector<uint8_t> fresh = label_text(plain);
    // A title that pokes the font's glyph rows and pauses: the next label is unaffected.
    std::string poke = "--[[pod,title=\"\x06@42080008ffffffff\x06" "1zz\",author=\"amy\"]]";
    label_text(poke);
    EXPECT_EQ(label_text(plain), fresh);
    process_rec *before = cproc;
    label_text(plain);
    EXPECT_EQ(cproc, before);
}

TEST(KivPngTemplate, TheSystemRomShipsWhatTheToolDraws) {
    std::ifstream in(std::string(QUILLMAR_SOURCE_DIR) + "/rom/system/misc/kiv_cart.png", std::ios::binary);
    ASSERT_TRUE(in);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> px = draw_cart_template();
    EXPECT_EQ(file, png_of(px, 512, 384)) << "run make-cart-template rom/system/misc/kiv_cart.png";
    for (size_t i = 3; i < px.size(); i += 4) ASSERT_EQ(px[i], 255) << "opaque";
}

class KivPngWriteBack : public KivPngLabel {
protected:
    void SetUp() override {
        KivPngLabel::SetUp();
        processes_init();
        for (int i = 0; i < 3; i++) ASSERT_NE(create_process_from_code("", "p", "/p.lua", ""), nullptr);
    }
    void TearDown() override {
        processes_init();
        KivPngLabel::TearDown();
    }
    int notifications() {
        process_rec *wm = get_process(3);
        const std::string q(reinterpret_cast<char *>(wm->message_queue->data), size_t(wm->message_queue->length));
        int n = 0;
        for (size_t at = q.find(CART_TOO_LARGE_MESSAGE); at != std::string::npos; at = q.find(CART_TOO_LARGE_MESSAGE, at + 1)) n++;
        return n;
    }
};

TEST_F(KivPngWriteBack, TooLargeIsToldOnceAndLeavesTheFileUntilItChanges) {
    ASSERT_EQ(pmkdir("/c.kiv.png"), 0);
    ASSERT_TRUE(put("/c.kiv.png/main.lua", "print(1)"));
    frame(400);
    const std::optional<std::string> first = get_host("c.kiv.png");
    ASSERT_TRUE(first);
    EXPECT_EQ(read_kiv_png(*first).value(), std::vector<cart_entry>{file("main.lua", "print(1)")});

    std::mt19937 rng(9);
    std::string noise(300000, '\0');
    for (char &c : noise) c = char(rng());
    ASSERT_TRUE(put("/c.kiv.png/big.bin", noise));
    for (int i = 0; i < 5; i++) frame(400);
    flush_dirty_mounts_immediately();
    EXPECT_EQ(notifications(), 1);
    EXPECT_EQ(get_host("c.kiv.png"), first) << "the file keeps what was stored";

    ASSERT_EQ(delete_path("/c.kiv.png/big.bin"), 1);
    frame(400);
    const std::vector<cart_entry> now = read_kiv_png(get_host("c.kiv.png").value()).value();
    EXPECT_EQ(now, std::vector<cart_entry>{file("main.lua", "print(1)")});
    EXPECT_EQ(notifications(), 1);
}

TEST_F(KivPngWriteBack, ExistingPicturesMountEmptyAndAreNeverWrittenOver) {
    std::string ours;
    ASSERT_EQ(encode_kiv_png({file("main.lua", "print(1)")}, ours), cart_encode_status::written);
    const std::string photo = png_of(gradient(512, 384, 5), 512, 384);
    const std::pair<const char *, std::string> files[] = {
        {"ours.kiv.png", ours}, {"text.kiv.png", "print('not a picture')"},
        {"cut.kiv.png", ours.substr(0, ours.size() / 2)}, {"photo.kiv.png", photo},
    };
    for (const auto &[name, bytes] : files) {
        put_host(name, bytes);
        const std::string dir = std::string("/") + name;
        EXPECT_EQ(listing(dir), "") << name;
        ASSERT_TRUE(put(dir + "/new.lua", "x")) << name;
        frame(400);
        flush_dirty_mounts_immediately();
        EXPECT_EQ(get_host(name), bytes) << name;
    }
}
