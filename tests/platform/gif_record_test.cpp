// GIF recording: the structure giflib reads back, the frames replayed
// against a plain loop over process 3's display, byte identity with the
// whole recording coded at once, and the recording's lifecycle.
#include <gif_lib.h>
#include <malloc.h>

#include <algorithm>
#include <memory>

#include "capture_fixture.h"
#include "fault_fs.h"
#include "host_exit.h"

using namespace capture_test;

// The sanitizer's count of live heap bytes, when the build has one.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void) __attribute__((weak));

namespace {

size_t live_heap_bytes() {
    if (__sanitizer_get_current_allocated_bytes) return __sanitizer_get_current_allocated_bytes();
    return mallinfo2().uordblks;
}

// A video-out colour table: 256 colours, then 270 row banks.
using pal_t = std::vector<uint32_t>;

// One GIF read back whole with giflib.
struct slurped {
    GifFileType *gif = nullptr;
    explicit slurped(const std::string &path) {
        int err = 0;
        gif = DGifOpenFileName(path.c_str(), &err);
        if (gif && DGifSlurp(gif) != GIF_OK) {
            DGifCloseFile(gif, &err);
            gif = nullptr;
        }
    }
    ~slurped() {
        int err = 0;
        if (gif) DGifCloseFile(gif, &err);
    }
};

// What one recorded frame must show: the colours of process 3's display
// over the region, scaled.
std::vector<uint32_t> expected_colours(process_rec *wm, const pal_t &pal, int x0, int y0, int w, int h, int scale) {
    std::vector<uint32_t> out;
    for (int oy = 0; oy < h * scale; oy++)
        for (int ox = 0; ox < w * scale; ox++) {
            const int sx = x0 + ox / scale, sy = y0 + oy / scale;
            out.push_back(pal[row_bank(wm, sy) * 64 + (display_byte(wm, sx, sy) & 63)] & 0xFFFFFF);
        }
    return out;
}

// Replays the images of 'g': where the control block's flag is 1, index 255
// keeps the previous colour. One canvas per image.
std::vector<std::vector<uint32_t>> replay(GifFileType *g) {
    std::vector<std::vector<uint32_t>> frames;
    std::vector<uint32_t> canvas(size_t(g->SWidth) * g->SHeight, 0);
    for (int i = 0; i < g->ImageCount; i++) {
        const SavedImage &im = g->SavedImages[i];
        GraphicsControlBlock gcb{};
        DGifSavedExtensionToGCB(g, i, &gcb);
        const ColorMapObject *map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : g->SColorMap;
        for (size_t p = 0; p < canvas.size(); p++) {
            const uint8_t idx = im.RasterBits[p];
            if (gcb.TransparentColor == 255 && idx == 255) continue;
            const GifColorType &c = map->Colors[idx];
            canvas[p] = uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
        }
        frames.push_back(canvas);
    }
    return frames;
}

class GifTest : public CaptureTest {
protected:
    void TearDown() override {
        app.gif_recording = 0;
        CaptureTest::TearDown();
    }

    // _signal(18): the parameter block at 0x40 and the name, then the start.
    int start(int16_t x0, int16_t y0, int16_t w, int16_t h, int16_t scale, int16_t skip = 0, int16_t silent = 0,
              const std::string &name = "rec") {
        poke_params(0x40, {x0, y0, w, h, scale, 0, skip, silent}, name);
        const int r = gif_start();
        if (r == 0) {
            app.gif_recording = 1;
            app.gif_frame_count = 0;
        }
        return r;
    }

    // _signal(19).
    int end() {
        if (!app.gif_recording) return -1;
        const int r = gif_end();
        app.gif_recording = 0;
        return r;
    }

    // A colour table whose colours come from a small set, so that unchanged
    // colours also occur across different indices; the bank half is noise,
    // as video out's is in the low-resolution modes.
    // A 'distinct' of 0 makes all 256 colours different.
    static pal_t random_pal(std::mt19937 &rng, int distinct = 12) {
        pal_t pal(526);
        for (int i = 0; i < 256; i++)
            pal[i] = distinct ? (rng() % uint32_t(distinct)) * 0x0A1B2Cu & 0xFFFFFF : (rng() & 0xFFFF00) | uint32_t(i);
        for (int i = 256; i < 526; i++) pal[i] = rng() & 3;
        return pal;
    }

    // Changes 'n' display bytes (never to colour 63).
    void scribble(std::mt19937 &rng, int n) {
        for (int i = 0; i < n; i++) poke_proc(wm, 0x10000 + rng() % 129600, random_colour_byte(rng));
    }

    std::vector<std::string> temp_files() const {
        std::vector<std::string> t;
        for (auto &n : desk_names())
            if (n[0] == '.') t.push_back(n);
        return t;
    }
};

// ---- structure ----

TEST_F(GifTest, EverySecondProducedFrameIsRecordedAfterTheSkip) {
    struct {
        int16_t skip;
        int produced;
        int images;
    } cases[] = {{0, 10, 5}, {4, 10, 3}, {0, 1, 1}, {32, 33, 1}};
    std::mt19937 rng(1);
    int n = 0;
    for (const auto &c : cases) {
        const std::string name = "s" + std::to_string(n++);
        ASSERT_EQ(start(0, 0, 32, 16, 1, c.skip, 1, name), 0);
        const pal_t pal = random_pal(rng);
        for (int k = 0; k < c.produced; k++) update_gif_recording(pal.data());
        ASSERT_EQ(end(), 0);
        slurped g(desk + "/" + name + ".gif");
        ASSERT_NE(g.gif, nullptr);
        EXPECT_EQ(g.gif->ImageCount, c.images) << "skip " << c.skip << ", " << c.produced << " frames";
    }
}

TEST_F(GifTest, ScreenExtensionsAndColourMapsFollowTheFrames) {
    std::mt19937 rng(2);
    random_display(rng, 0);
    for (uint32_t a = 0; a < 68; a++) poke_proc(wm, 0x5400 + a, 0);  // bank 0: no index 255 of its own
    ASSERT_EQ(start(10, 20, 100, 60, 2), 0);
    pal_t pal = random_pal(rng, 200);
    std::vector<bool> changed;
    for (int k = 0; k < 6; k++) {
        pal_t shown = pal;
        const bool change = k == 2 || k == 4;
        if (change) shown[rng() % 256] ^= 0x010000;
        changed.push_back(change);
        update_gif_recording(shown.data());
        update_gif_recording(shown.data());  // the odd frame out
        scribble(rng, 50);
    }
    ASSERT_EQ(end(), 0);
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 6 frame gif 100x60 (x2): /desktop/host/rec.gif"});
    slurped g(desk + "/rec.gif");
    ASSERT_NE(g.gif, nullptr);
    EXPECT_EQ(g.gif->SWidth, 200);
    EXPECT_EQ(g.gif->SHeight, 120);
    ASSERT_NE(g.gif->SColorMap, nullptr);
    ASSERT_EQ(g.gif->SColorMap->ColorCount, 256);
    for (int i = 0; i < 256; i++) {
        const GifColorType c = g.gif->SColorMap->Colors[i];
        EXPECT_EQ(uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue, pal[i]) << i;
    }
    ASSERT_EQ(g.gif->ImageCount, 6);
    for (int i = 0; i < 6; i++) {
        const SavedImage &im = g.gif->SavedImages[i];
        EXPECT_EQ(im.ImageDesc.ColorMap != nullptr, bool(changed[i])) << "image " << i;
        const int first = i == 0 ? 2 : 0;
        ASSERT_EQ(im.ExtensionBlockCount, first + 1);
        if (i == 0) {
            EXPECT_EQ(im.ExtensionBlocks[0].Function, APPLICATION_EXT_FUNC_CODE);
            EXPECT_EQ(std::string(reinterpret_cast<char *>(im.ExtensionBlocks[0].Bytes), 11), "NETSCAPE2.0");
            EXPECT_EQ(im.ExtensionBlocks[1].Function, CONTINUE_EXT_FUNC_CODE);
            EXPECT_EQ(std::vector<uint8_t>(im.ExtensionBlocks[1].Bytes, im.ExtensionBlocks[1].Bytes + 3),
                      (std::vector<uint8_t>{1, 0, 0}));
        }
        const ExtensionBlock &gcb = im.ExtensionBlocks[first];
        EXPECT_EQ(gcb.Function, GRAPHICS_EXT_FUNC_CODE);
        EXPECT_EQ(std::vector<uint8_t>(gcb.Bytes, gcb.Bytes + gcb.ByteCount), (std::vector<uint8_t>{1, 3, 0, 255}));
    }
}

TEST_F(GifTest, BankThreeColourSixtyThreeTurnsTransparencyOff) {
    std::mt19937 rng(3);
    for (uint32_t a = 0; a < 129600; a++) poke_proc(wm, 0x10000 + a, 5);
    poke_proc(wm, 0x5400 + 10, 0xFF);  // rows 40-43 in bank 3
    poke_proc(wm, 0x10000 + 41 * 480 + 20, 63);
    const pal_t pal = random_pal(rng, 40);
    ASSERT_EQ(start(0, 30, 64, 20, 1, 0, 1), 0);
    for (int k = 0; k < 4; k++) update_gif_recording(pal.data());
    ASSERT_EQ(start(100, 30, 64, 20, 1, 0, 1, "outside"), 0);  // the pixel lies outside this region
    for (int k = 0; k < 4; k++) update_gif_recording(pal.data());
    ASSERT_EQ(end(), 0);
    EXPECT_FALSE(fs::exists(desk + "/rec.gif"));  // abandoned by the second start

    ASSERT_EQ(start(0, 30, 64, 20, 1, 0, 1), 0);
    for (int k = 0; k < 4; k++) update_gif_recording(pal.data());
    ASSERT_EQ(end(), 0);
    slurped in(desk + "/rec.gif"), out(desk + "/outside.gif");
    ASSERT_TRUE(in.gif && out.gif);
    ASSERT_EQ(in.gif->ImageCount, 2);
    for (int i = 0; i < 2; i++) {
        const SavedImage &im = in.gif->SavedImages[i];
        EXPECT_EQ(im.ExtensionBlocks[im.ExtensionBlockCount - 1].Bytes[0], 0);
        const uint8_t *px = im.RasterBits;
        EXPECT_EQ(std::count(px, px + 64 * 20, 255), 1) << "only the pixel itself is index 255";
        const SavedImage &o = out.gif->SavedImages[i];
        EXPECT_EQ(o.ExtensionBlocks[o.ExtensionBlockCount - 1].Bytes[0], 1);
    }
    EXPECT_EQ(std::count(out.gif->SavedImages[1].RasterBits, out.gif->SavedImages[1].RasterBits + 64 * 20, 255),
              64 * 20) << "an unchanged frame is all index 255";
}

TEST_F(GifTest, ImageSizeIsTheClampedRegionTimesTheScale) {
    struct {
        int16_t w, h, scale;
        int sw, sh;
    } cases[] = {{8, 8, 1, 16, 16}, {480, 270, 2, 960, 540}, {1000, 300, 0, 480, 270}, {20, 30, 9, 80, 120}};
    std::mt19937 rng(4);
    const pal_t pal = random_pal(rng);
    int n = 0;
    for (const auto &c : cases) {
        const std::string name = "z" + std::to_string(n++);
        ASSERT_EQ(start(0, 0, c.w, c.h, c.scale, 0, 1, name), 0);
        update_gif_recording(pal.data());
        ASSERT_EQ(end(), 0);
        slurped g(desk + "/" + name + ".gif");
        ASSERT_NE(g.gif, nullptr);
        EXPECT_EQ(std::make_pair(int(g.gif->SWidth), int(g.gif->SHeight)), std::make_pair(c.sw, c.sh));
    }
}

// ---- reconstruction ----

TEST_F(GifTest, ReplayedFramesEqualThePlainLoopOverTheDisplay) {
    for (uint32_t seed = 1; seed <= 12; seed++) {
        std::mt19937 rng(seed);
        const uint8_t modes[] = {0, 3, 4};
        random_display(rng, modes[seed % 3]);
        const int16_t w = int16_t(16 + rng() % 200), h = int16_t(16 + rng() % 120);
        const int16_t x0 = int16_t(rng() % (481 - w)), y0 = int16_t(rng() % (271 - h));
        const int16_t scale = int16_t(1 + rng() % 4);
        const std::string name = "r" + std::to_string(seed);
        ASSERT_EQ(start(x0, y0, w, h, scale, 0, 1, name), 0);
        const int distinct = seed % 2 ? 0 : 2 + int(rng() % 30);
        pal_t pal = random_pal(rng, distinct);
        std::vector<std::vector<uint32_t>> want;
        for (int k = 0; k < 8; k++) {
            if (rng() % 3 == 0) pal = random_pal(rng, distinct);
            if (rng() % 4 == 0) poke_proc(wm, 0x5400 + rng() % 68, rng() & 0xFF);
            if (rng() % 5 == 0) poke_proc(wm, 0x10000 + 480 * (y0 + rng() % h) + x0 + rng() % w, 63);
            scribble(rng, int(rng() % 2000));
            if (k % 2 == 0) want.push_back(expected_colours(wm, pal, x0, y0, w, h, scale));
            update_gif_recording(pal.data());
        }
        ASSERT_EQ(end(), 0);
        slurped g(desk + "/" + name + ".gif");
        ASSERT_NE(g.gif, nullptr);
        const auto got = replay(g.gif);
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < got.size(); k++) EXPECT_TRUE(got[k] == want[k]) << "seed " << seed << " frame " << k;
    }
}

// ---- byte identity with the whole recording coded at once ----

std::string coded_at_once(process_rec *wm, const std::vector<pal_t> &pals,
                          const std::vector<std::vector<uint8_t>> &displays, int x0, int y0, int w, int h,
                          int scale) {
    struct sink {
        static int put(GifFileType *g, const GifByteType *b, int n) {
            static_cast<std::string *>(g->UserData)->append(reinterpret_cast<const char *>(b), size_t(n));
            return n;
        }
    };
    std::string bytes;
    int err = 0;
    GifFileType *gif = EGifOpen(&bytes, sink::put, &err);
    const int ow = w * scale, oh = h * scale;
    std::vector<GifColorType> first(256);
    std::vector<uint32_t> lastpal(526, 0);
    std::vector<uint8_t> last;
    std::vector<ColorMapObject *> maps;
    for (size_t k = 0; k < pals.size(); k++) {
        pal_t t = pals[k];
        for (int y = 0; y < 270; y++) t[256 + y] = row_bank(wm, y);
        const std::vector<uint8_t> &d = displays[k];
        std::vector<GifColorType> colours(256);
        for (int i = 0; i < 256; i++)
            colours[i] = {uint8_t(t[i] >> 16), uint8_t(t[i] >> 8), uint8_t(t[i])};
        if (k == 0) {
            gif->SWidth = ow;
            gif->SHeight = oh;
            gif->SColorResolution = 8;
            gif->SBackGroundColor = 0;
            gif->SColorMap = GifMakeMapObject(256, colours.data());
            maps.push_back(gif->SColorMap);
        }
        SavedImage *im = GifMakeSavedImage(gif, nullptr);
        im->ImageDesc = {0, 0, ow, oh, false, nullptr};
        for (int i = 0; i < 256; i++)
            if (t[i] != pals[0][i]) {
                im->ImageDesc.ColorMap = GifMakeMapObject(256, colours.data());
                break;
            }
        bool flag = true;
        for (int sy = y0; sy < y0 + h; sy++)
            for (int sx = x0; sx < x0 + w; sx++)
                if (t[256 + sy] == 3 && (d[size_t(sy) * 480 + sx] & 63) == 63) flag = false;
        im->RasterBits = static_cast<GifByteType *>(malloc(size_t(ow) * oh));
        for (int oy = 0; oy < oh; oy++)
            for (int ox = 0; ox < ow; ox++) {
                const int sx = x0 + ox / scale, sy = y0 + oy / scale;
                const uint32_t b = t[256 + sy], c = d[size_t(sy) * 480 + sx] & 63;
                uint8_t idx = uint8_t(b * 64 + c);
                if (k > 0 && flag) {
                    const uint32_t lb = lastpal[256 + sy], lc = last[size_t(sy) * 480 + sx] & 63;
                    if (t[b * 64 + c] == lastpal[lb * 64 + lc]) idx = 255;
                }
                im->RasterBits[size_t(oy) * ow + ox] = idx;
            }
        if (k == 0) {
            const uint8_t loop[3] = {1, 0, 0};
            GifAddExtensionBlock(&im->ExtensionBlockCount, &im->ExtensionBlocks, APPLICATION_EXT_FUNC_CODE, 11,
                                 (unsigned char *)"NETSCAPE2.0");
            GifAddExtensionBlock(&im->ExtensionBlockCount, &im->ExtensionBlocks, CONTINUE_EXT_FUNC_CODE, 3,
                                 (unsigned char *)loop);
        }
        uint8_t control[4] = {uint8_t(flag ? 1 : 0), 3, 0, 255};
        GifAddExtensionBlock(&im->ExtensionBlockCount, &im->ExtensionBlocks, GRAPHICS_EXT_FUNC_CODE, 4, control);
        last = d;
        lastpal = t;
    }
    // EGifSpew closes the coder but leaves the images and the screen map.
    SavedImage *images = gif->SavedImages;
    const int count = gif->ImageCount;
    EXPECT_EQ(EGifSpew(gif), GIF_OK);
    for (int i = 0; i < count; i++) {
        free(images[i].RasterBits);
        if (images[i].ImageDesc.ColorMap) GifFreeMapObject(images[i].ImageDesc.ColorMap);
        GifFreeExtensions(&images[i].ExtensionBlockCount, &images[i].ExtensionBlocks);
    }
    free(images);
    for (auto *m : maps) GifFreeMapObject(m);
    return bytes;
}

TEST_F(GifTest, FileBytesEqualTheWholeRecordingCodedAtOnce) {
    for (uint32_t seed = 20; seed < 26; seed++) {
        std::mt19937 rng(seed);
        random_display(rng, uint8_t(seed % 5));
        const int w = 16 + int(rng() % 150), h = 16 + int(rng() % 100);
        const int x0 = int(rng() % uint32_t(481 - w)), y0 = int(rng() % uint32_t(271 - h));
        const int scale = 1 + int(rng() % 4);
        const std::string name = "b" + std::to_string(seed);
        ASSERT_EQ(start(int16_t(x0), int16_t(y0), int16_t(w), int16_t(h), int16_t(scale), 0, 1, name), 0);
        std::vector<pal_t> pals;
        std::vector<std::vector<uint8_t>> displays;
        pal_t pal = random_pal(rng, seed % 2 ? 0 : 8);
        for (int k = 0; k < 10; k++) {
            if (rng() % 3 == 0) pal[rng() % 256] = rng() & 0xFFFFFF;
            if (rng() % 4 == 0) poke_proc(wm, 0x10000 + 480 * (y0 + rng() % h) + x0 + rng() % w, 0xFF);
            scribble(rng, int(rng() % 3000));
            if (k % 2 == 0) {
                pals.push_back(pal);
                std::vector<uint8_t> d(129600);
                for (int i = 0; i < 129600; i++) d[i] = display_byte(wm, i % 480, i / 480);
                displays.push_back(d);
            }
            update_gif_recording(pal.data());
        }
        ASSERT_EQ(end(), 0);
        const std::string want = coded_at_once(wm, pals, displays, x0, y0, w, h, scale);
        EXPECT_TRUE(host_bytes(name + ".gif") == want) << "seed " << seed;
    }
}

// ---- lifecycle ----

TEST_F(GifTest, StartFailuresPrintTheirLineAndStartNothing) {
    // No free name.
    std::ofstream(desk + "/full.gif") << "x";
    for (int n = 1; n <= 255; n++) std::ofstream(desk + "/full_" + std::to_string(n) + ".gif") << "x";
    stdout_text();
    EXPECT_EQ(start(0, 0, 16, 16, 1, 0, 0, "full"), 1);
    EXPECT_EQ(stdout_text(), "** EGifOpenFileName error 0: p_path:\n");
    // The temporary file cannot be made.
    fault_fs faults;
    faults.fail_all[static_cast<int>(host_op::create_temp)] = true;
    pdisk_set_host_fs(&faults);
    EXPECT_EQ(start(0, 0, 16, 16, 1), 1);
    pdisk_set_host_fs(nullptr);
    EXPECT_EQ(stdout_text(), "** EGifOpenFileName error 1: p_path:/desktop/host/rec.gif\n");
    // Not on a host mount.
    delete_mount_point("/desktop/host");
    mount_ram_folder("/desktop/host");
    EXPECT_EQ(start(0, 0, 16, 16, 1), 1);
    EXPECT_EQ(stdout_text(), "** EGifOpenFileName error 0: p_path:/desktop/host/rec.gif\n");
    EXPECT_EQ(app.gif_recording, 0u);
    EXPECT_TRUE(notes().empty());
}

TEST_F(GifTest, NothingReachesTheTargetBeforeTheEndAndNoTemporaryFileAfter) {
    std::mt19937 rng(5);
    const pal_t pal = random_pal(rng);
    ASSERT_EQ(start(0, 0, 16, 16, 1), 0);
    for (int k = 0; k < 6; k++) update_gif_recording(pal.data());
    EXPECT_FALSE(fs::exists(desk + "/rec.gif"));
    EXPECT_EQ(temp_files().size(), 1u);
    ASSERT_EQ(end(), 0);
    EXPECT_EQ(desk_names(), std::vector<std::string>{"rec.gif"});
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 3 frame gif 16x16 (x1): /desktop/host/rec.gif"});
    EXPECT_EQ(end(), -1) << "19 with no recording running does nothing";
}

void *no_memory(size_t) { return nullptr; }

// The second start fails making its temporary file, or its coder (which
// used to cancel the first recording before it failed).
TEST_F(GifTest, AFailedSecondStartLeavesTheFirstRecordingRunning) {
    void *(*const default_alloc)(size_t) = gif_buffer_alloc;
    for (const bool out_of_memory : {false, true}) {
        SCOPED_TRACE(out_of_memory ? "no memory for the coder" : "no temporary file");
        std::mt19937 rng(6);
        random_display(rng, 0);
        const pal_t pal = random_pal(rng);
        ASSERT_EQ(start(5, 6, 40, 30, 2, 0, 0, "first"), 0);
        update_gif_recording(pal.data());
        fault_fs faults;
        faults.fail_all[static_cast<int>(host_op::create_temp)] = !out_of_memory;
        pdisk_set_host_fs(&faults);
        if (out_of_memory) gif_buffer_alloc = no_memory;
        poke_params(0x40, {0, 0, 100, 100, 1, 0, 0, 0}, "second");
        EXPECT_EQ(gif_start(), 1);
        pdisk_set_host_fs(nullptr);
        gif_buffer_alloc = default_alloc;
        update_gif_recording(pal.data());
        update_gif_recording(pal.data());
        ASSERT_EQ(end(), 0);
        EXPECT_EQ(notes(), std::vector<std::string>{"captured 2 frame gif 40x30 (x2): /desktop/host/first.gif"});
        slurped g(desk + "/first.gif");
        ASSERT_NE(g.gif, nullptr);
        EXPECT_EQ(g.gif->SWidth, 80);
        EXPECT_EQ(g.gif->ImageCount, 2);
        EXPECT_EQ(temp_files().size(), 0u);
        fs::remove(desk + "/first.gif");
    }
}

TEST_F(GifTest, RebootExitEmptyEndAndFailingOutputLeaveNoFile) {
    std::mt19937 rng(7);
    const pal_t pal = random_pal(rng);
    // A reboot in the middle: nothing written, nothing said.
    ASSERT_EQ(start(0, 0, 16, 16, 1), 0);
    for (int k = 0; k < 4; k++) update_gif_recording(pal.data());
    captures_reset();
    app.gif_recording = 0;
    EXPECT_TRUE(desk_names().empty());
    EXPECT_TRUE(notes().empty());
    // The exit path likewise.
    ASSERT_EQ(start(0, 0, 16, 16, 1), 0);
    for (int k = 0; k < 4; k++) update_gif_recording(pal.data());
    host_shutdown();
    app.gif_recording = 0;
    EXPECT_TRUE(desk_names().empty());
    EXPECT_TRUE(notes().empty());
    // An end with no frame.
    ASSERT_EQ(start(0, 0, 16, 16, 1), 0);
    EXPECT_EQ(end(), 1);
    EXPECT_EQ(notes(), std::vector<std::string>{"**error: could not write gif\n"});
    EXPECT_TRUE(desk_names().empty());
    // The output fails at its third write: frames still count, nothing stays.
    fault_fs faults;
    faults.fail_nth[static_cast<int>(host_op::append)] = 3;
    pdisk_set_host_fs(&faults);
    ASSERT_EQ(start(0, 0, 16, 16, 1), 0);
    for (int k = 0; k < 12; k++) update_gif_recording(pal.data());
    EXPECT_EQ(gif_frames, 6);
    EXPECT_EQ(end(), 1);
    pdisk_set_host_fs(nullptr);
    EXPECT_EQ(faults.calls_of(host_op::append), 3) << "no write after the failed one";
    EXPECT_EQ(notes(), std::vector<std::string>{"**error: could not write gif\n"});
    EXPECT_TRUE(desk_names().empty());
}

TEST_F(GifTest, LongRecordingsKeepTheRecordersMemoryConstant) {
    std::mt19937 rng(8);
    random_display(rng, 0);
    const pal_t pal = random_pal(rng);
    pal_t other = pal;
    other[7] ^= 0x80;  // every other recorded frame needs its own colour map
    uint64_t written = 0;
    auto discard = [](void *ctx, const uint8_t *, int64_t n) {
        *static_cast<uint64_t *>(ctx) += uint64_t(n);
        return 0;
    };
    gif_begin_stream(0, 0, 480, 270, 1, discard, &written);
    app.gif_recording = 1;
    for (int k = 0; k < 40; k++) {
        scribble(rng, 500);
        update_gif_recording(pal.data());
    }
    const size_t before = live_heap_bytes();
    for (int k = 0; k < 2000; k++) {
        scribble(rng, 50);
        update_gif_recording((k & 2 ? other : pal).data());
    }
    const size_t after = live_heap_bytes();
    EXPECT_EQ(gif_frames, 1020);
    EXPECT_LT(after > before ? after - before : 0, 64u * 1024) << "grew with the frames";
    gif_cancel();
    EXPECT_GT(written, 0u);
}

}  // namespace
