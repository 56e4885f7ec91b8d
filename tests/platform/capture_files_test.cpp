// Screenshots and the label: parameter clamps, capture names, the countdown
// over produced frames, and the stored images read back with LodePNG and QOI
// against a plain loop over the frame.
#include <lodepng.h>
#include <qoi.h>

#include "capture_fixture.h"
#include "fault_fs.h"

using namespace capture_test;

namespace {

struct region {
    int32_t x0, y0, w, h, scale;
};

// A 480 x 270 frame of seeded random 0x00RRGGBB pixels.
std::vector<uint32_t> random_frame(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> f(480 * 270);
    for (auto &px : f) px = rng() & 0xFFFFFF;
    return f;
}

// The RGBA image of region 'r' of 'frame' at its scale.
std::vector<uint8_t> reference_image(const std::vector<uint32_t> &frame, const region &r) {
    std::vector<uint8_t> out;
    for (int oy = 0; oy < r.h * r.scale; oy++)
        for (int ox = 0; ox < r.w * r.scale; ox++) {
            const uint32_t px = frame[size_t(oy / r.scale + r.y0) * 480 + size_t(ox / r.scale + r.x0)];
            out.insert(out.end(), {uint8_t(px >> 16), uint8_t(px >> 8), uint8_t(px), 255});
        }
    return out;
}

// Decodes PNG bytes to RGBA; empty on failure.
std::vector<uint8_t> decode_png(const std::string &png, unsigned *w, unsigned *h) {
    unsigned char *px = nullptr;
    if (lodepng_decode32(&px, w, h, reinterpret_cast<const unsigned char *>(png.data()), png.size())) return {};
    std::vector<uint8_t> out(px, px + size_t(*w) * *h * 4);
    free(px);
    return out;
}

class ScreenshotTest : public CaptureTest {
protected:
    // Asks for a screenshot of 'r' (display pixels) with 'skip' and 'flags'.
    void request(const region &r, int16_t skip = 0, int16_t silent = 0, const std::string &name = "shot",
                 int16_t label = 0) {
        poke_params(0x50, {int16_t(r.x0), int16_t(r.y0), int16_t(r.w), int16_t(r.h), int16_t(r.scale), label, skip,
                           silent},
                    name);
        request_screenshot();
        app.screenshot_requested = 1;
    }
};

// ---- parameters ----

struct clamp_case {
    std::vector<int16_t> block;  // x0 y0 w h scale label skip silent
    region want;
    int32_t skip;
};

TEST_F(ScreenshotTest, ParameterBlocksAreClampedWidthAndHeightFirst) {
    const clamp_case cases[] = {
        {{10, 20, 0, 30, 1, 0, 0, 0}, {10, 20, 16, 30, 1}, 0},
        {{10, 20, 1000, 30, 1, 0, 0, 0}, {0, 20, 480, 30, 1}, 0},
        {{470, 20, 16, 30, 1, 0, 0, 0}, {464, 20, 16, 30, 1}, 0},
        {{-5, 20, 16, 30, 1, 0, 0, 0}, {0, 20, 16, 30, 1}, 0},
        {{0, 0, 16, 0, 1, 0, 0, 0}, {0, 0, 16, 16, 1}, 0},
        {{0, 0, 16, 999, 1, 0, 0, 0}, {0, 0, 16, 270, 1}, 0},
        {{0, 260, 16, 16, 1, 0, 0, 0}, {0, 254, 16, 16, 1}, 0},
        {{0, -1, 16, 16, 1, 0, 0, 0}, {0, 0, 16, 16, 1}, 0},
        {{0, 0, 16, 16, 0, 0, 0, 0}, {0, 0, 16, 16, 1}, 0},
        {{0, 0, 16, 16, 9, 0, 0, 0}, {0, 0, 16, 16, 4}, 0},
        {{0, 0, 16, 16, 1, 0, -1, 0}, {0, 0, 16, 16, 1}, 0},
        {{0, 0, 16, 16, 1, 0, 40, 0}, {0, 0, 16, 16, 1}, 32},
        {{-32768, -32768, -32768, -32768, -32768, 0, -32768, 0}, {0, 0, 16, 16, 1}, 0},
        {{32767, 32767, 32767, 32767, 32767, 0, 32767, 0}, {0, 0, 480, 270, 4}, 32},
        {{30, 40, 100, 50, 3, 1, 0, 0}, {0, 0, 480, 270, 1}, 0},  // the label: the whole frame
    };
    for (const auto &c : cases) {
        poke_params(0x50, c.block, "n");
        request_screenshot();
        const region got{sshot_x0, sshot_y0, sshot_width, sshot_height, sshot_scale};
        EXPECT_EQ(std::vector<int32_t>({got.x0, got.y0, got.w, got.h, got.scale, sshot_skip}),
                  std::vector<int32_t>({c.want.x0, c.want.y0, c.want.w, c.want.h, c.want.scale, c.skip}))
            << "block x0=" << c.block[0] << " w=" << c.block[2];
    }
}

TEST_F(ScreenshotTest, NameBytesAreCutAtNulAndLoseTheirSeparators) {
    const std::pair<std::string, std::string> cases[] = {
        {"shot", "shot"},
        {"a/../b", "a_.._b"},
        {"x\\y/z", "x_y_z"},
        {std::string(64, 'q'), std::string(64, 'q')},  // no NUL among the 64 bytes
        {std::string("ab\0cd", 5), "ab"},
    };
    for (const auto &[bytes, want] : cases) {
        poke_params(0x50, {0, 0, 16, 16, 1, 0, 0, 0}, bytes);
        request_screenshot();
        EXPECT_EQ(std::string(sshot_name), want);
    }
}

// ---- names ----

TEST_F(ScreenshotTest, CaptureNamesTakeTheFirstFreeNumber) {
    std::ofstream(desk + "/shot.png") << "x";
    std::ofstream(desk + "/shot_1.png") << "x";
    ASSERT_NE(get_capture_filename("shot", ".png"), nullptr);
    EXPECT_STREQ(capture_filename_buf, "/desktop/host/shot_2.png");
    EXPECT_STREQ(get_capture_filename("other", ".gif"), "/desktop/host/other.gif");
}

TEST_F(ScreenshotTest, NoFreeNameOrNoDesktopMountCannotStore) {
    const auto frame = random_frame(1);
    std::ofstream(desk + "/shot.png") << "x";
    for (int n = 1; n <= 255; n++) std::ofstream(desk + "/shot_" + std::to_string(n) + ".png") << "x";
    EXPECT_EQ(get_capture_filename("shot", ".png"), nullptr);
    request({0, 0, 16, 16, 1});
    update_screenshot(frame.data());
    EXPECT_EQ(notes(), std::vector<std::string>{"could not store screenshot"});

    delete_mount_point("/desktop/host");
    request({0, 0, 16, 16, 1}, 0, 1, "fresh");
    update_screenshot(frame.data());
    EXPECT_EQ(notes(), std::vector<std::string>{"could not store screenshot"});  // even when silent
}

// ---- the countdown ----

TEST_F(ScreenshotTest, SkipCountsOnlyProducedFramesAndARequestReplacesTheLast) {
    std::vector<std::vector<uint32_t>> frames;
    for (uint32_t k = 0; k < 4; k++) frames.emplace_back(480 * 270, 0x010101u * (k + 1));
    unsigned w = 0, h = 0;

    request({0, 0, 16, 16, 1});  // nothing happens without frames
    EXPECT_TRUE(notes().empty());
    EXPECT_EQ(app.screenshot_requested, 1u);

    request({0, 0, 32, 16, 1}, 2);  // replaces the parameters, still armed
    update_screenshot(frames[0].data());
    update_screenshot(frames[1].data());
    EXPECT_TRUE(notes().empty());
    update_screenshot(frames[2].data());  // the third produced frame
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 32x16 (x1) screenshot: /desktop/host/shot.png"});
    EXPECT_EQ(app.screenshot_requested, 0u);
    const auto px = decode_png(host_bytes("shot.png"), &w, &h);
    ASSERT_EQ(px.size(), 32u * 16 * 4);
    EXPECT_EQ(px[0], 3);
    update_screenshot(frames[3].data());  // disarmed
    EXPECT_TRUE(notes().empty());
}

// ---- the image ----

TEST_F(ScreenshotTest, StoredPngsMatchTheFrameAtEveryScaleAndVideoMode) {
    const auto frame = random_frame(7);
    std::mt19937 rng(11);
    const uint8_t modes[] = {0, 3, 4};
    int shot = 0;
    for (uint8_t mode : modes) {
        const int f = mode == 3 ? 2 : mode == 4 ? 3 : 1;
        poke_proc(wm, 0x547C, mode);
        for (int scale = 1; scale <= 4; scale++) {
            const region asked{int32_t(rng() % 200), int32_t(rng() % 100), 16 + int32_t(rng() % 120),
                               16 + int32_t(rng() % 80), scale};
            request(asked);
            update_screenshot(frame.data());
            region r{};
            r.w = std::min(asked.w * f, 480);
            r.h = std::min(asked.h * f, 270);
            r.x0 = std::clamp(asked.x0 * f, 0, 480 - r.w);
            r.y0 = std::clamp(asked.y0 * f, 0, 270 - r.h);
            r.scale = scale;
            const std::string name = shot ? "shot_" + std::to_string(shot) + ".png" : "shot.png";
            shot++;
            char want[160];
            snprintf(want, sizeof want, "captured %dx%d (x%d) screenshot: /desktop/host/%s", r.w, r.h, scale,
                     name.c_str());
            EXPECT_EQ(notes(), std::vector<std::string>{want});
            const std::string png = host_bytes(name);
            ASSERT_GT(png.size(), 26u);
            EXPECT_EQ(png[24], 8) << "bit depth";
            EXPECT_EQ(png[25], 6) << "colour type RGBA";
            unsigned w = 0, h = 0;
            const auto px = decode_png(png, &w, &h);
            EXPECT_EQ(w, unsigned(r.w * scale));
            EXPECT_EQ(h, unsigned(r.h * scale));
            EXPECT_TRUE(px == reference_image(frame, r)) << "mode " << int(mode) << " scale " << scale;
        }
    }
}

TEST_F(ScreenshotTest, HalfRegionInModeThreeReportsTheWholeFrame) {
    const auto frame = random_frame(3);
    poke_proc(wm, 0x547C, 3);
    request({0, 0, 240, 135, 1});
    update_screenshot(frame.data());
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 480x270 (x1) screenshot: /desktop/host/shot.png"});
}

TEST_F(ScreenshotTest, SilentSuppressesOnlyTheSuccessText) {
    const auto frame = random_frame(4);
    request({0, 0, 16, 16, 1}, 0, 1);
    update_screenshot(frame.data());
    EXPECT_TRUE(notes().empty());
    EXPECT_FALSE(host_bytes("shot.png").empty());
}

TEST_F(ScreenshotTest, AFailedHostWriteIsReportedNotCelebrated) {
    const auto frame = random_frame(5);
    fault_fs faults;
    faults.fail_all[static_cast<int>(host_op::write_temp)] = true;
    pdisk_set_host_fs(&faults);
    request({0, 0, 16, 16, 1});
    update_screenshot(frame.data());
    pdisk_set_host_fs(nullptr);
    EXPECT_EQ(notes(), std::vector<std::string>{"could not store screenshot"});
    EXPECT_EQ(desk_names(), std::vector<std::string>{});
}

// ---- the label ----

TEST_F(ScreenshotTest, LabelIsTheWholeFrameAsQoiEvenWhenSilent) {
    const auto frame = random_frame(6);
    mount_ram_folder("/ram/cart");
    request({50, 50, 20, 20, 3}, 0, 1, "ignored", 1);
    update_screenshot(frame.data());
    EXPECT_EQ(notes(), std::vector<std::string>{"captured label (/ram/cart/label.qoi)"});
    pfile_rec *f = pfopen("/ram/cart/label.qoi", "r");
    ASSERT_NE(f, nullptr);
    std::string bytes(size_t(f->data->length), '\0');
    pfread(bytes.data(), 1, int64_t(bytes.size()), f);
    pfclose(f);
    ASSERT_GE(bytes.size(), 14u);
    const std::string header = "qoif" + std::string("\0\0\x01\xe0\0\0\x01\x0e\x04\x01", 10);
    EXPECT_EQ(bytes.substr(0, 14), header);
    qoi_desc desc{};
    auto *px = static_cast<uint8_t *>(qoi_decode(bytes.data(), int(bytes.size()), &desc, 4));
    ASSERT_NE(px, nullptr);
    EXPECT_TRUE(std::vector<uint8_t>(px, px + 480 * 270 * 4) == reference_image(frame, {0, 0, 480, 270, 1}));
    free(px);
}

TEST_F(ScreenshotTest, LabelWithoutCartFolderCannotStore) {
    const auto frame = random_frame(8);
    request({0, 0, 16, 16, 1}, 0, 0, "x", 1);
    update_screenshot(frame.data());
    EXPECT_EQ(notes(), std::vector<std::string>{"could not store screenshot"});
}

}  // namespace
