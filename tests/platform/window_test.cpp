// The window on the fake SDL: placement of the picture, configuration,
// failures, title and icon, and presentation of frames.
#include <random>

#include "crc32.h"
#include "fake_sdl_fixture.h"
#include "host_services.h"
#include "presentation.h"

namespace {

using namespace platform_test;

class Window : public FakeSdlTest {};

TEST_F(Window, ThePictureIsPlacedByTheDisplaySettings) {
    struct Case {
        int perfect, stretch, hd, w, h;
        SDL_Rect rect;
    };
    const Case cases[] = {
        {0, 0, 0, 1000, 1000, {0, 219, 1000, 562}},    // narrower than 16:9
        {0, 0, 0, 1920, 1000, {71, 0, 1777, 1000}},    // wider: 1000 * 480 / 270 = 1777.7
        {0, 0, 0, 1280, 720, {0, 0, 1280, 720}},
        {1, 0, 0, 1000, 600, {20, 30, 960, 540}},
        {1, 1, 0, 1000, 600, {20, 30, 960, 540}},
        {1, 1, 0, 1000, 300, {20, 15, 960, 270}},
        {1, 1, 0, 400, 600, {200, 30, 0, 540}},        // stretched narrower than 480: no picture
        {1, 0, 0, 400, 200, {-40, -35, 480, 270}},     // at least scale 1
        {0, 1, 0, 1000, 300, {0, 0, 1000, 300}},
        {0, 0, 1, 960, 540, {-160, -90, 1280, 720}},   // 720p in a smaller window
        {0, 0, 0, 0, 0, {0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        config.pixel_perfect = uint32_t(c.perfect);
        config.stretch = uint32_t(c.stretch);
        config.blit_720p = uint32_t(c.hd);
        const SDL_Rect r = dest_rect_for(c.w, c.h);
        EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{c.rect.x, c.rect.y, c.rect.w, c.rect.h}))
            << c.w << "x" << c.h << " perfect " << c.perfect << " stretch " << c.stretch << " hd " << c.hd;
    }
}

TEST_F(Window, ThePreblitScaleFollowsTheWindowSize) {
    config.pixel_perfect = 0;
    const int cases[][3] = {{1920, 1080, 4}, {1440, 810, 4}, {1440, 809, 3}, {1280, 720, 3},
                            {960, 540, 3},   {959, 540, 2},  {800, 450, 2}};
    for (const auto &c : cases) EXPECT_EQ(calculate_preblit_scale(c[0], c[1]), c[2]) << c[0] << "x" << c[1];
    config.blit_720p = 1;
    EXPECT_EQ(calculate_preblit_scale(1920, 1080), 1);
}

TEST_F(Window, PixelScaleIsClampedAndStoredBack) {
    const uint32_t cases[][3] = {{0, 2, 960}, {1, 1, 480}, {40, 16, 7680}, {3, 3, 1440}};
    for (const auto &c : cases) {
        window_reset();
        config.pixel_scale = c[0];
        os_apply_video_config();
        EXPECT_EQ(config.pixel_scale, c[1]);
        EXPECT_EQ(FakeSdl::windows.back().w, int(c[2]));
    }
}

TEST_F(Window, TheFourWindowKindsAndTheirFlags) {
    struct Case {
        int fullscreen, borderless, highdpi;
        int x, y, w, h;
        Uint32 flags;
    };
    const Case cases[] = {
        {0, 0, 0, int(SDL_WINDOWPOS_UNDEFINED), int(SDL_WINDOWPOS_UNDEFINED), 960, 540, 36},
        {0, 0, 1, int(SDL_WINDOWPOS_UNDEFINED), int(SDL_WINDOWPOS_UNDEFINED), 960, 540,
         36 | SDL_WINDOW_ALLOW_HIGHDPI},
        {1, 0, 0, int(SDL_WINDOWPOS_UNDEFINED), int(SDL_WINDOWPOS_UNDEFINED), 1920, 1080,
         SDL_WINDOW_SHOWN | SDL_WINDOW_FULLSCREEN_DESKTOP},
        {1, 1, 0, 0, 0, 1920, 1080, SDL_WINDOW_SHOWN | SDL_WINDOW_BORDERLESS},
    };
    for (const Case &c : cases) {
        window_reset();
        config.fullscreen = uint32_t(c.fullscreen);
        config.fullscreen_window = uint32_t(c.borderless);
        config.allow_highdpi = uint32_t(c.highdpi);
        os_apply_video_config();
        const auto &w = FakeSdl::windows.back();
        EXPECT_EQ((std::vector<int>{w.x, w.y, w.w, w.h, int(w.flags)}),
                  (std::vector<int>{c.x, c.y, c.w, c.h, int(c.flags)}));
        EXPECT_EQ(w.title, "Quillmar");
    }
    EXPECT_NE(log_text().find("creating SDL window 960 540 flags 36\n"), std::string::npos);
}

TEST_F(Window, PositionAndSizeAreKeptAcrossARecreation) {
    os_apply_video_config();
    FakeSdl::win_x = 33;
    FakeSdl::win_y = 44;
    FakeSdl::win_w = 1111;
    FakeSdl::win_h = 555;
    config.stretch = 1;
    os_apply_video_config();
    const auto &w = FakeSdl::windows.back();
    EXPECT_EQ((std::vector<int>{w.x, w.y, w.w, w.h}), (std::vector<int>{33, 44, 1111, 555}));
    EXPECT_EQ(FakeSdl::live_windows, 1);
    // From full screen, the size remembered before it comes back.
    config.fullscreen = 1;
    os_apply_video_config();
    config.fullscreen = 0;
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::windows.back().w, 1111);
}

TEST_F(Window, TexturesRendererScaleAndHints) {
    struct Case {
        int perfect, hd, w, h;
        int tw, th, preblit;
        const char *quality;
    };
    const Case cases[] = {
        {1, 0, 960, 540, 480, 270, 1, "nearest"},    {0, 0, 1280, 720, 1440, 810, 3, "linear"},
        {0, 0, 800, 450, 960, 540, 2, "linear"},     {0, 0, 1920, 1080, 1920, 1080, 4, "linear"},
        {0, 1, 1280, 720, 1280, 720, 1, "nearest"},
    };
    for (const Case &c : cases) {
        window_reset();
        config.pixel_perfect = uint32_t(c.perfect);
        config.blit_720p = uint32_t(c.hd);
        last_win_w = c.w;
        last_win_h = c.h;
        os_apply_video_config();
        EXPECT_EQ(FakeSdl::texture_w, c.tw);
        EXPECT_EQ(FakeSdl::texture_h, c.th);
        EXPECT_EQ(FakeSdl::texture_format, Uint32(SDL_PIXELFORMAT_RGB888));
        EXPECT_EQ(preblit_scale, c.preblit);
        EXPECT_EQ(FakeSdl::hints[SDL_HINT_RENDER_SCALE_QUALITY], c.quality);
    }
    window_reset();
    FakeSdl::out_scale = 2;
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::scale_x, 2.0f);
    EXPECT_NE(log_text().find("renderer_scale: 2.000000,2.000000\n"), std::string::npos);
    config.sdl_render_driver = 1;
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::hints[SDL_HINT_RENDER_DRIVER], "opengl");
}

TEST_F(Window, FailuresOfTheDesktopModeRendererAndTexture) {
    FakeSdl::desktop_fails = true;
    config.fullscreen = 1;
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::windows.back().w, 960);
    FakeSdl::vsync_fails = true;
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::renderer_flags.back(), Uint32(SDL_RENDERER_SOFTWARE));
    EXPECT_NE(sdl_renderer, nullptr);
    FakeSdl::texture_fails = true;
    os_apply_video_config();
    EXPECT_EQ(sdl_texture, nullptr);
    EXPECT_NE(log_text().find("** SDL_CreateTexture failed: fake failure\n"), std::string::npos);
    uint32_t frame[SCREEN_W * SCREEN_H] = {};
    blit_to_sdl_window_hardware(frame, SCREEN_W);
    EXPECT_EQ(FakeSdl::presents, 3);  // the clears of three windows only
}

using WindowDeathTest = Window;

TEST_F(WindowDeathTest, NoRendererEndsTheProgramWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (bool window_fails : {false, true}) {
        FakeSdl::install();
        FakeSdl::window_fails = window_fails;
        FakeSdl::vsync_fails = FakeSdl::software_fails = true;
        EXPECT_EXIT(
            {
                dup2(2, 1);  // what is printed, where the death test reads it
                os_apply_video_config();
            },
            testing::ExitedWithCode(1), "could not create renderer\n");
    }
}

TEST_F(Window, TheIconIsConvertedAndAppliedToLaterWindows) {
    uint32_t palette[64];
    for (int i = 0; i < 64; i++) palette[i] = 0x010203u * uint32_t(i);
    uint8_t pixels[256] = {};
    os_set_window_icon(pixels, 16, 16, palette);
    EXPECT_EQ(FakeSdl::icons, 0);  // no window yet
    for (uint32_t p : window_icon_dat) ASSERT_EQ(p, 0u);
    pixels[17] = 65;  // row 1, column 1
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::icons, 1);
    os_set_window_icon(pixels, 16, 16, palette);
    ASSERT_EQ(FakeSdl::icons, 2);
    ASSERT_EQ(FakeSdl::icon.size(), size_t(128 * 128));
    EXPECT_EQ(FakeSdl::icon[8 * 128 + 8], palette[1] | 0xFF000000u);
    EXPECT_EQ(FakeSdl::icon[15 * 128 + 15], palette[1] | 0xFF000000u);
    EXPECT_EQ(FakeSdl::icon[16 * 128 + 16], 0u);
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::icons, 3);
    os_set_window_icon(nullptr, 16, 16, palette);
    EXPECT_EQ(FakeSdl::icons, 3);  // the current window keeps it
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::icons, 3);
}

TEST_F(Window, TitlesUnder1024CharactersApply) {
    os_apply_video_config();
    const std::string long_title(1024, 'x'), fits(1023, 'y');
    os_set_window_title(long_title.c_str());
    EXPECT_EQ(FakeSdl::title, "Quillmar");
    os_set_window_title(fits.c_str());
    EXPECT_EQ(FakeSdl::title, fits);
    window_reset();
    os_set_window_title("later");
    os_apply_video_config();
    EXPECT_EQ(FakeSdl::windows.back().title, "later");
}

// ---- presentation ----

uint32_t reference_mix(uint32_t a, uint32_t b, int wa) {  // wa quarters of a, rest b, per byte
    uint32_t out = 0;
    for (int s = 0; s < 32; s += 8) {
        const uint32_t x = (a >> s) & 255, y = (b >> s) & 255;
        uint32_t v;
        if (wa == 4) v = x;
        else if (wa == 3) v = (x >> 1) + (x >> 2) + (y >> 2);
        else v = (x >> 1) + (y >> 1);
        out |= v << s;
    }
    return out;
}

// Output position k of 8 in a group of 3: source index and blend.
void tap(int k, int &i0, int &i1, int &wa) {
    static const int src0[8] = {0, 0, 0, 1, 1, 1, 2, 2}, src1[8] = {0, 0, 1, 1, 1, 2, 2, 2},
                     w[8] = {4, 4, 3, 4, 4, 2, 4, 4};
    i0 = src0[k];
    i1 = src1[k];
    wa = w[k];
}

TEST(Presentation, The720pResamplerMatchesAPerPixelReference) {
    std::mt19937 rng(7);
    std::vector<uint32_t> frame(SCREEN_W * SCREEN_H), out(HD_W * HD_H), row(HD_W * SCREEN_H);
    for (int round = 0; round < 3; round++) {
        for (uint32_t &p : frame) p = rng() | (round == 1 ? 0x01010101u : 0);  // odd channels in round 1
        resample_720p(frame.data(), SCREEN_W, out.data());
        for (int y = 0; y < SCREEN_H; y++)
            for (int x = 0; x < HD_W; x++) {
                int i0, i1, wa;
                tap(x % 8, i0, i1, wa);
                const uint32_t *r = &frame[size_t(y) * SCREEN_W + size_t(x / 8) * 3];
                row[size_t(y) * HD_W + x] = reference_mix(r[i0], r[i1], wa);
            }
        for (int y = 0; y < HD_H; y++) {
            int i0, i1, wa;
            tap(y % 8, i0, i1, wa);
            const int base = (y / 8) * 3;
            for (int x = 0; x < HD_W; x++) {
                const uint32_t want = reference_mix(row[size_t(base + i0) * HD_W + x], row[size_t(base + i1) * HD_W + x], wa);
                ASSERT_EQ(out[size_t(y) * HD_W + x], want) << x << "," << y << " round " << round;
            }
        }
    }
}

TEST_F(Window, UploadsOfAFixedFrameHaveKnownChecksums) {
    std::vector<uint32_t> frame(SCREEN_W * SCREEN_H);
    for (size_t i = 0; i < frame.size(); i++) frame[i] = uint32_t(i * 2654435761u) & 0xFFFFFFu;
    struct Case {
        int perfect, hd, w, h, pitch;
        uint32_t crc;
    };
    const Case cases[] = {
        {1, 0, 960, 540, 1920, 0xc6165f0d},   {0, 0, 800, 450, 3840, 0x335785bb},  {0, 0, 960, 540, 5760, 0x1dfea135},
        {0, 0, 1920, 1080, 7680, 0x3e04ac6e}, {0, 1, 1280, 720, 5120, 0x1391c137},
    };
    for (const Case &c : cases) {
        window_reset();
        config.pixel_perfect = uint32_t(c.perfect);
        config.blit_720p = uint32_t(c.hd);
        last_win_w = c.w;
        last_win_h = c.h;
        os_apply_video_config();
        blit_to_sdl_window_hardware(frame.data(), SCREEN_W);
        EXPECT_EQ(FakeSdl::upload_pitch, c.pitch);
        EXPECT_EQ(crc32b(FakeSdl::upload.data(), int64_t(FakeSdl::upload.size())), c.crc) << c.w;
    }
}

TEST_F(Window, ThePictureIsCopiedIntoItsRectangleAndAFailedRectangleIsLoggedOnce) {
    uint32_t frame[SCREEN_W * SCREEN_H] = {};
    open_window(1000, 600);
    blit_to_sdl_window_hardware(frame, SCREEN_W);
    EXPECT_EQ((std::vector<int>{FakeSdl::copy_rect.x, FakeSdl::copy_rect.y, FakeSdl::copy_rect.w, FakeSdl::copy_rect.h}),
              (std::vector<int>{20, 30, 960, 540}));
    const int presents = FakeSdl::presents;
    config.stretch = 1;
    FakeSdl::win_w = 400;
    for (int i = 0; i < 5; i++) blit_to_sdl_window_hardware(frame, SCREEN_W);
    EXPECT_EQ(FakeSdl::presents, presents);
    const std::string log = log_text();
    const std::string line = "** failed: blit_to_sdl_window_hardware can not find blit dest_rect\n";
    EXPECT_EQ(log.find(line), log.rfind(line));
    EXPECT_NE(log.find(line), std::string::npos);
}

}  // namespace
