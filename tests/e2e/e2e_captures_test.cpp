// End to end: captures in the running program.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <lodepng.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "e2e_driver.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

// Names in 'folder' (none when it is missing).
std::vector<std::string> names_in(const std::string &folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto &e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    return names;
}

// Packs the ROM with system/wm.lua replaced by programs/<case>/wm.lua.
void pack_with_wm(sandbox &s, const std::string &name) {
    const std::string wm = read_file(std::string(E2E_PROGRAMS_DIR) + "/" + name + "/wm.lua");
    ASSERT_FALSE(wm.empty()) << name;
    s.pack({{"system/wm.lua", wm}});
}

// The colour the screenshot case draws at display pixel (x, y): cells of
// 5 x 4 pixels, cell (cx, cy) in colour (cx + 3 cy) % 16, colour i being
// (17i, 255 - 13i, 7i + 3).
uint32_t shot_pattern(int x, int y) {
    const uint32_t i = uint32_t(x / 5 + 3 * (y / 4)) % 16;
    return (17 * i) << 16 | (255 - 13 * i) << 8 | (7 * i + 3);
}

TEST(Captures, ARebootDuringARecordingAndAnAudioCaptureLeavesNothingBehind) {
    sandbox s;
    s.pack({}, "capture_reboot");
    const std::string desk = s.home + "/Desktop/quillmar_desktop";
    fs::create_directories(s.home + "/Desktop");
    // What the desktop holds once the reboot is done, before the exit path
    // could clean anything up.
    std::vector<std::string> after_reboot = {"<not seen>"};
    const run_result r = s.run([&](const std::string &line, int) {
        if (line == "main: after reboot") after_reboot = names_in(desk);
    });
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("main: capturing"), std::string::npos) << diagnostics(r);
    EXPECT_NE(r.out.find("could not write gif"), std::string::npos) << "an end with no frame\n" << diagnostics(r);
    EXPECT_TRUE(after_reboot.empty()) << after_reboot.size() << " names, the first " << after_reboot[0];
    EXPECT_TRUE(fs::is_directory(desk)) << diagnostics(r);
    EXPECT_TRUE(names_in(desk).empty());
}

// Video out runs (no -x) and the window manager is replaced: its display
// reaches the PNG through video out's frame, scaled, beside a file that
// already has the name asked for.
TEST(Captures, AScreenshotOfARegionStoresTheScaledPixelsUnderTheNextFreeName) {
    sandbox s;
    pack_with_wm(s, "capture_shot");
    s.windowed = true;
    const std::string desk = s.desktop + "/quillmar_desktop";
    fs::create_directories(desk);
    const std::string taken = "an older shot, kept";
    {
        std::ofstream(desk + "/shot.png", std::ios::binary) << taken;
    }
    const run_result r = s.run();
    ASSERT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("captured 100x60 (x2) screenshot: /desktop/host/shot_1.png"), std::string::npos)
        << diagnostics(r);
    EXPECT_EQ(read_file(desk + "/shot.png"), taken);

    std::vector<unsigned char> rgba;
    unsigned w = 0, h = 0;
    ASSERT_EQ(lodepng::decode(rgba, w, h, desk + "/shot_1.png"), 0u) << diagnostics(r);
    ASSERT_EQ(w, 200u);
    ASSERT_EQ(h, 120u);
    int wrong = 0;
    std::string first_wrong;
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++) {
            const unsigned char *px = &rgba[(size_t(y) * w + x) * 4];
            const uint32_t want = shot_pattern(10 + int(x / 2), 20 + int(y / 2));
            const uint32_t got = uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | px[2];
            if (got == want && px[3] == 255) continue;
            if (wrong++ == 0)
                first_wrong = "(" + std::to_string(x) + "," + std::to_string(y) + ") got " + std::to_string(got) +
                              " alpha " + std::to_string(px[3]) + ", want " + std::to_string(want);
        }
    EXPECT_EQ(wrong, 0) << "first " << first_wrong;
}

// 20 produced frames of a moving block: every other one is recorded.
TEST(Captures, ARecordingOfTwentyProducedFramesHoldsTenImages) {
    sandbox s;
    pack_with_wm(s, "capture_gif");
    s.windowed = true;
    const run_result r = s.run();
    ASSERT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("captured 10 frame gif 64x32 (x1): /desktop/host/anim.gif"), std::string::npos)
        << diagnostics(r);

    const std::string path = s.desktop + "/quillmar_desktop/anim.gif";
    int err = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &err);
    ASSERT_NE(gif, nullptr) << "giflib error " << err << "\n" << diagnostics(r);
    EXPECT_EQ(DGifSlurp(gif), GIF_OK) << gif->Error;
    EXPECT_EQ(gif->ImageCount, 10);
    EXPECT_EQ(gif->SWidth, 64);
    EXPECT_EQ(gif->SHeight, 32);
    // Composed image by image, the block's left edge moves 4 pixels an
    // image: the recorded frames are the 1st, 3rd, .. 19th produced, which
    // show the block as drawn for frames 0, 2, .. 18.
    std::vector<uint32_t> canvas(size_t(gif->SWidth) * gif->SHeight, 0);
    for (int i = 0; i < gif->ImageCount && gif->SWidth == 64; i++) {
        const SavedImage &im = gif->SavedImages[i];
        const ColorMapObject *map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
        ASSERT_NE(map, nullptr) << "image " << i;
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, i, &gcb);
        const GifImageDesc &d = im.ImageDesc;
        for (int y = 0; y < d.Height; y++)
            for (int x = 0; x < d.Width; x++) {
                const int index = im.RasterBits[size_t(y) * d.Width + x];
                if (index == gcb.TransparentColor || index >= map->ColorCount) continue;
                const GifColorType c = map->Colors[index];
                canvas[size_t(d.Top + y) * gif->SWidth + d.Left + x] = uint32_t(c.Red) << 16 | c.Green << 8 | c.Blue;
            }
        int left = -1;
        for (int x = 0; x < gif->SWidth && left < 0; x++)
            if (canvas[size_t(10) * gif->SWidth + x] != canvas[0]) left = x;
        EXPECT_EQ(left, 4 * i) << "image " << i;
    }
    DGifCloseFile(gif, &err);
    EXPECT_EQ(names_in(s.desktop + "/quillmar_desktop"), std::vector<std::string>{"anim.gif"});
}

}  // namespace
