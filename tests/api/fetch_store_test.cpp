// fetch and store and the metadata calls, over a real file system in real
// processes.
#include <lodepng.h>

#include <cstdlib>

#include "file_fixture.h"

using FetchStore = FileApiTest;

namespace {

// The PNG of w x h RGBA pixels.
std::string png_of(const std::vector<uint8_t> &rgba, unsigned w, unsigned h) {
    unsigned char *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(lodepng_encode32(&out, &size, rgba.data(), w, h), 0u);
    std::string s(reinterpret_cast<char *>(out), size);
    std::free(out);
    return s;
}

// The RGBA pixels of a PNG, with its size; empty when it does not decode.
std::vector<uint8_t> pixels_of(const std::string &png, unsigned *w, unsigned *h) {
    unsigned char *out = nullptr;
    if (lodepng_decode32(&out, w, h, reinterpret_cast<const unsigned char *>(png.data()), png.size()) != 0)
        return {};
    std::vector<uint8_t> v(out, out + size_t{*w} * *h * 4);
    std::free(out);
    return v;
}

// The RGBA bytes of palette entry i (as FileApiTest sets it).
void put_colour(std::vector<uint8_t> *rgba, int i, uint8_t alpha = 255) {
    const uint32_t c = palette_colour(i);
    rgba->insert(rgba->end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), alpha});
}

// A PNG signature and IHDR chunk declaring w x h (no picture data).
std::string png_header(uint32_t w, uint32_t h) {
    std::string s = "\x89PNG\r\n\x1a\n";
    s += std::string("\0\0\0\x0dIHDR", 8);
    for (uint32_t v : {w, h})
        for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
    s += std::string("\x08\x06\0\0\0", 5);
    s += "crc!";
    return s + std::string(600, 'z');
}

}  // namespace

/* ---- fetch ---- */

TEST_F(FetchStore, FetchDecodesByExtension) {
    std::vector<uint8_t> rgba;
    for (int i : {0, 5, 63, 12}) put_colour(&rgba, i, i == 12 ? 0 : 255);  // alpha is ignored
    put_host("t.txt", "one\r\ntwo\r\n");
    put_host("t.lua", "x = 1\r\n");
    put_host("v.pod", "{a=1,b=\"z\"}");
    put_host("h.dat", "--[[pod]]\n{a=2}");
    put_host("raw.dat", "plain bytes");
    put_host("p.png", png_of(rgba, 2, 2));
    put_host("fake.png", "not a png at all");
    put_host("c.kiv", "cartridge text");
    std::filesystem::create_directories(host("folder"));
    run(R"(
        out(fetch("t.txt") == "one\ntwo\n", fetch("/t.lua") == "x = 1\n")
        out(fetch("v.pod").a, fetch("v.pod").b, fetch("h.dat").a, fetch("raw.dat"))
        out(t_ud(fetch("p.png")), fetch("fake.png"), fetch("c.kiv"))
        out(select('#', fetch("folder")), select('#', fetch("missing.txt")), select('#', fetch()),
            select('#', fetch({})), select('#', fetch("t.txt\0.png")))
    )");
    EXPECT_EQ(output(), (Lines{"2:true,true", "4:1,z,2,plain bytes",
                               "3:u8 2x2:00053f0c,not a png at all,cartridge text", "5:0,0,0,0,0"}));
}

TEST_F(FetchStore, APngOfImplausibleSizeIsReturnedAsItsBytesWithoutDecoding) {
    struct Case {
        uint32_t w, h;
    } cases[] = {{5000, 5000}, {0, 16}, {16, 0}, {4097, 4096}};
    for (const Case &c : cases) {
        const std::string bytes = png_header(c.w, c.h);
        put_host("big.png", bytes);
        run(R"(local v = fetch("big.png") out(type(v), #v))");
        EXPECT_EQ(output().back(), "2:string," + std::to_string(bytes.size())) << c.w << "x" << c.h;
    }
}

TEST_F(FetchStore, FetchOfAPodFileThatDoesNotParseGivesNothing) {
    put_host("bad.pod", "{a = ");
    run(R"(out(select('#', fetch("bad.pod"))))");
    EXPECT_EQ(output(), (Lines{"1:0"}));
}

/* ---- store ---- */

TEST_F(FetchStore, StoreOfRawTextWritesTheHeaderUnlessAnUnsandboxedCallerAsksForNone) {
    struct Case {
        const char *meta;
        const char *argument;  // sandbox text of the caller
        const char *file;
    } cases[] = {
        {R"(--[[pod_format="raw"]])", "", "--[[pod_format=\"raw\"]]\nhello"},
        {R"(--[[pod_format="raw",metadata_format="none"]])", "", "hello"},
        {R"(--[[pod_format="raw",metadata_format="none"]])", "box",
         "--[[pod_format=\"raw\",metadata_format=\"none\"]]\nhello"},
    };
    for (const Case &c : cases) {
        run(std::string("store('r.txt', 'hello', '") + c.meta + "')", c.argument);
        EXPECT_EQ(get_host("r.txt"), c.file) << c.meta << " / " << c.argument;
    }
}

TEST_F(FetchStore, StoreOfAValueWritesAPodHeaderThenThePodTextAndFetchReadsItBack) {
    run(R"(
        store("v.pod", {a = 1, b = "x"})
        local v = fetch("v.pod")
        out(v.a, v.b)
        store("m.dat", {c = 3}, '--[[pod,author="me"]]\n')
        out(fetch("m.dat").c, _fetch_metadata_from_file("m.dat").author)
        store("n.pod", 42)
        out((fetch("n.pod")))
    )");
    EXPECT_EQ(output(), (Lines{"2:1,x", "2:3,me", "1:42"}));
    ASSERT_TRUE(get_host("v.pod"));
    EXPECT_EQ(get_host("v.pod")->rfind("--[[pod]]\n", 0), 0u) << *get_host("v.pod");
    EXPECT_EQ(get_host("m.dat")->rfind("--[[pod,author=\"me\"]]\n", 0), 0u) << *get_host("m.dat");
}

TEST_F(FetchStore, TypedArraysInAStoredValueComeBackWhole) {
    run(R"(
        local img = t_new_ud(3, 4, 2, "\0\1\2\3\4\5\6\7")
        local wide = t_new_ud(13, 2, 1, "\1\0\0\0\255\255\255\127")
        store("a.pod", {img = img, wide = wide})
        local back = fetch("a.pod")
        out(t_ud(back.img), t_ud(back.wide))
    )");
    EXPECT_EQ(output(), (Lines{"2:u8 4x2:0001020304050607,i32 2x1:01000000ffffff7f"}));
}

TEST_F(FetchStore, AValueWhoseKeysCannotBeOrderedRaisesAndLeavesTheFileAlone) {
    put_host("k.pod", "old");
    const int32_t buffers = get_total_num_buffers();
    run(R"(out(pcall(store, "k.pod", {[true] = 1, [false] = 2})))");
    EXPECT_EQ(output(), (Lines{"2:false,attempt to compare two boolean values"}));
    EXPECT_EQ(get_host("k.pod"), "old");
    EXPECT_EQ(get_total_num_buffers(), buffers);
}

TEST_F(FetchStore, TextWithAnObjectDataHeadDecodesAsPodWhateverItsExtension) {
    put_host("o.dat", "-- quillmar object data\n{a=5}");
    put_host("p.dat", "--[[pod,k=1]]\n{a=6}");
    run(R"(
        local text = "-- quillmar object data\n{a=5}"
        out(pod(fetch("o.dat")) == pod(unpod(text)), select('#', fetch("o.dat")) == select('#', unpod(text)),
            type((fetch("o.dat"))) ~= "string")
        local v, m = fetch("p.dat")
        out(v.a, m.k)
    )");
    EXPECT_EQ(output(), (Lines{"3:true,true,true", "2:6,1"}));
}

TEST_F(FetchStore, ACartridgeImageMustBeAPngOfAtLeast512Bytes) {
    const std::string png = png_header(8, 8);  // 600 bytes of tail: long enough
    put_host("png.bin", png);
    put_host("short.bin", png.substr(0, 511));
    run(R"(
        out(store("a.kiv.png", "just text"))
        out(store("b.kiv.png", fetch("short.bin")))
        out(store("c.kiv.png", fetch("png.bin")))
        out(store("d.kiv", {}))
    )");
    EXPECT_EQ(output(), (Lines{"1:invalid .kiv.png file: not a valid PNG",
                               "1:invalid .kiv.png file: not a valid PNG", "0:", "0:"}));
    EXPECT_FALSE(get_host("a.kiv.png"));
    EXPECT_FALSE(get_host("b.kiv.png"));
    EXPECT_EQ(get_host("c.kiv.png"), png);
    EXPECT_FALSE(get_host("d.kiv"));
}

TEST_F(FetchStore, AU8BitmapStoredAsPngIsFetchedBackWithTheSameIndices) {
    run(R"(
        local bytes = {}
        for i = 0, 255 do bytes[#bytes + 1] = string.char((i * 7) % 64) end
        local a = t_new_ud(3, 16, 16, table.concat(bytes))
        out(select('#', store("b.png", a)))
        out(t_ud(fetch("b.png")) == t_ud(a))
    )");
    EXPECT_EQ(output(), (Lines{"1:0", "1:true"}));
    unsigned w = 0, h = 0;
    const std::vector<uint8_t> px = pixels_of(get_host("b.png").value_or(""), &w, &h);
    ASSERT_EQ(px.size(), 16u * 16 * 4);
    const uint32_t c = palette_colour(7);
    EXPECT_EQ((std::vector<uint8_t>(px.begin() + 4, px.begin() + 8)),
              (std::vector<uint8_t>{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255}));
}

TEST_F(FetchStore, AnI32BitmapIsStoredWithEachElementsBytesInMemoryOrderAsRGBA) {
    run(R"(store("c.png", t_new_ud(13, 2, 1, "\x11\x22\x33\x44\xaa\xbb\xcc\x00")))");
    unsigned w = 0, h = 0;
    EXPECT_EQ(pixels_of(get_host("c.png").value_or(""), &w, &h),
              (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0xaa, 0xbb, 0xcc, 0x00}));
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 1u);
}

TEST_F(FetchStore, StoreToAPngPathWritesNothingButA2DU8OrI32Array) {
    run(R"(
        store("s.png", "text")
        store("t.png", {1, 2})
        store("u.png", t_new_ud(12, 2, 2, ""))
        store("v.png", t_new_ud(22, 2, 2, ""))
    )");
    for (const char *name : {"s.png", "t.png", "u.png", "v.png"}) EXPECT_FALSE(get_host(name)) << name;
}

/* ---- metadata ---- */

TEST_F(FetchStore, StoringAMetadataHeaderReplacesTheOldOneAndKeepsTheRest) {
    struct Case {
        const char *before;  // the file, or null for none
        const char *meta;
        const char *after;
    } cases[] = {
        {"--[[pod a=1]]\nbody", "--[[pod b=2]]\\n", "--[[pod b=2]]\nbody"},
        {"body only", "--[[pod b=2]]\\n", "--[[pod b=2]]\nbody only"},
        {"--[[pod a=1]]\nbody", "--[[pod metadata_format=\"none\"]]\\n", "body"},
        {nullptr, "--[[pod metadata_format=\"none\"]]\\n", "--[[pod metadata_format=\"none\"]]\n"},
    };
    for (const Case &c : cases) {
        std::filesystem::remove(host("m.txt"));
        if (c.before) put_host("m.txt", c.before);
        run(std::string("_store_metadata_str_to_file('m.txt', '") + c.meta + "')");
        EXPECT_EQ(get_host("m.txt"), c.after) << c.meta;
    }
}

TEST_F(FetchStore, MetadataIsFetchedFromTheHeaderAndAFileWithoutOneLeavesNoSlotOpen) {
    put_host("with.txt", "--[[pod,title=\"t\",n=3]]\nbody");
    put_host("without.txt", "body");
    run(R"(
        local m = _fetch_metadata_from_file("with.txt")
        out(m.title, m.n)
        out(select('#', _fetch_metadata_from_file("without.txt")),
            select('#', _fetch_metadata_from_file("missing.txt")))
    )");
    EXPECT_EQ(output(), (Lines{"2:t,3", "2:0,0"}));
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_HOST), 0);
}

/* ---- earlier versions ---- */

TEST_F(FetchStore, AnEarlierVersionIsDecodedByTheExtensionOfItsPath) {
    config.anywhen = 1;
    pdisk_set_utc_s(1700000000);  // 2023-11-14 22:13:20 UTC
    std::vector<uint8_t> rgba;
    for (int i : {9, 3}) put_colour(&rgba, i);
    put_host("pic.bin", png_of(rgba, 2, 1));
    run(R"(
        store("v.pod", {n = 1})
        store("t.txt", "a\r\nb", '--[[pod_format="raw",metadata_format="none"]]')
        cp("pic.bin", "p.png")
    )");
    pdisk_set_utc_s(1700000100);
    run(R"(store("v.pod", {n = 2}) store("p.png", "gone"))");
    run(R"(
        out(_fetch_anywhen("/v.pod@2023-11-14 22:14:00").n, _fetch_anywhen("/v.pod@2023-11-14 22:15:00").n)
        out(_fetch_anywhen("/t.txt@2023-11-14 22:15:00") == "a\nb", t_ud(_fetch_anywhen("/p.png@2023-11-14 22:14:00")))
        out(select('#', _fetch_anywhen("/v.pod@2023-11-14 22:00:00")), select('#', _fetch_anywhen("/v.pod")),
            select('#', _fetch_anywhen("/none.pod@2023-11-14 22:15:00")), select('#', _fetch_anywhen()))
    )");
    EXPECT_EQ(output(), (Lines{"2:1,2", "2:true,u8 2x1:0903", "4:0,0,0,0"}));
}
