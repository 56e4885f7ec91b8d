// The window under SDL's dummy video driver: a real software renderer, and
// presented frames read back from it.
#include <random>

#include "fake_sdl_fixture.h"
#include "presentation.h"

namespace {

using namespace platform_test;

class DummyWindow : public FakeSdlTest {
protected:
    void SetUp() override {
        FakeSdlTest::SetUp();
        FakeSdl::restore();
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    void TearDown() override {
        window_reset();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        FakeSdlTest::TearDown();
    }
    // The renderer's pixel at window position (x, y) as 0xRRGGBB.
    static uint32_t pixel(int x, int y) {
        SDL_Rect r = {x, y, 1, 1};
        uint32_t p = 0;
        EXPECT_EQ(SDL_RenderReadPixels(sdl_renderer, &r, SDL_PIXELFORMAT_RGB888, &p, 4), 0) << SDL_GetError();
        return p & 0xFFFFFF;
    }
};

TEST_F(DummyWindow, SettingsMakeASoftwareWindowAndFramesArriveExactly) {
    std::mt19937 rng(3);
    std::vector<uint32_t> frame(SCREEN_W * SCREEN_H);
    for (uint32_t &p : frame) p = rng() & 0xFFFFFF;
    struct Case {
        int perfect, w, h, scale;  // scale: window pixels per frame pixel
    };
    const Case cases[] = {{1, 960, 540, 2}, {1, 480, 270, 1}, {0, 1440, 810, 3}};
    for (const Case &c : cases) {
        window_reset();
        config.pixel_perfect = uint32_t(c.perfect);
        last_win_w = c.w;
        last_win_h = c.h;
        os_apply_video_config();
        ASSERT_NE(sdl_window, nullptr);
        SDL_RendererInfo info;
        ASSERT_EQ(SDL_GetRendererInfo(sdl_renderer, &info), 0);
        EXPECT_STREQ(info.name, "software");
        blit_to_sdl_window_hardware(frame.data(), SCREEN_W);
        for (int y = 0; y < SCREEN_H; y += 37)
            for (int x = 0; x < SCREEN_W; x += 41)
                ASSERT_EQ(pixel(x * c.scale + c.scale / 2, y * c.scale + c.scale / 2), frame[size_t(y) * SCREEN_W + x])
                    << x << "," << y << " in " << c.w << "x" << c.h;
    }
}

}  // namespace
