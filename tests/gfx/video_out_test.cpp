// Video out: the shown process, display colours, row banks, runs of mapped
// bytes, the scaled modes and the capture hooks, against a plain per-pixel
// reference that reads the page table byte by byte.
#include <algorithm>

#include "gfx_fixture.h"
#include "video_out.h"

namespace {

// The boot screen as video out sees it: a record of the test's, counted.
process_rec *boot_record = nullptr;
int boot_draws = 0;

}  // namespace

extern "C" process_rec *draw_boot(void) {
    boot_draws++;
    return boot_record;
}

namespace {

class VideoOut : public GfxTest {
   protected:
    void SetUp() override {
        GfxTest::SetUp();
        create_process_from_code("", "b", "/t/b.lua", "");
        wm = create_process_from_code("", "wm", "/t/wm.lua", "");
        ASSERT_EQ(wm->id, 3);
        cproc = proc;
        boot_record = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
        boot_draws = 0;
        app = app_state_rec{};
        app.boot_release = 1;
        fake_host::set_boot_time(2200);
    }
    void TearDown() override {
        std::free(boot_record);
        boot_record = nullptr;
        GfxTest::TearDown();
    }

    // Calls video out and checks the out-arguments of a produced frame.
    uint32_t *frame() {
        int32_t w = -1, h = -1;
        uint32_t *f = generate_video_out(&w, &h);
        if (f) {
            EXPECT_EQ(w, 480);
            EXPECT_EQ(h, 270);
        }
        return f;
    }

    // Random registers and display memory for rec; some display pages are
    // mapped onto short host buffers, some never touched.
    void randomise(process_rec *rec, std::mt19937 &rng, std::vector<std::vector<uint8_t>> &keep) {
        for (uint32_t a = 0x5000; a < 0x5400; a += 4) poke4_proc(rec, a, int64_t(rng() & 0xFFFFFF));
        for (uint32_t a = 0x5400; a < 0x5444; a++) poke_proc(rec, a, rng());
        for (uint32_t a = 0x5480; a < 0x54C0; a++) poke_proc(rec, a, rng());
        for (int p = 16; p < 48; p++) {
            switch (rng() % 4) {
                case 0:
                    break;  // never touched
                case 1: {
                    keep.emplace_back(rng() % 4096 + 1);
                    for (uint8_t &b : keep.back()) b = uint8_t(rng());
                    map_page(rec, p, keep.back().data(), int32_t(keep.back().size()));
                    break;
                }
                default:
                    for (int i = 0; i < 4096; i += 1 + int(rng() % 7))
                        poke_proc(rec, uint32_t(p * 4096 + i), rng());
            }
        }
    }

    // The expected frame, pixel by pixel, with no page created.
    std::vector<uint32_t> reference(const process_rec *rec, int mode, bool dim) {
        auto byte = [&](uint32_t a, bool *served) -> uint8_t {
            uint32_t p = a >> 12, o = a & 4095;
            *served = int32_t(o) < rec->page_len[p];
            return *served ? rec->page[p][o] : 0;
        };
        auto reg = [&](uint32_t a) {
            bool s;
            uint8_t v = byte(a, &s);
            return s ? v : (rec->page_own[a >> 12] ? rec->page_own[a >> 12][a & 4095] : 0);
        };
        int scale = mode == 3 ? 2 : mode == 4 ? 3 : 1;
        std::vector<uint32_t> out(480 * 270);
        for (int y = 0; y < 270; y++)
            for (int x = 0; x < 480; x++) {
                int sx = x / scale, sy = y / scale;
                int bank = (reg(0x5400 + uint32_t(sy / 4)) >> (2 * (sy % 4))) & 3;
                bool served;
                uint8_t b = byte(0x10000 + uint32_t(sy * 480 + sx), &served);
                if (!served) continue;
                uint32_t entry = uint32_t(bank * 64) | (reg(0x5480 + (b & 63)) & 63);
                uint32_t c = 0;
                for (int i = 0; i < 4; i++)
                    c |= uint32_t(reg(0x5000 + 4 * entry + uint32_t(i))) << (8 * i);
                out[size_t(y * 480 + x)] = dim ? (c >> 1) & 0x7F7F7F7F : c;
            }
        return out;
    }

    process_rec *wm = nullptr;
};

TEST_F(VideoOut, TheFrameMatchesThePlainReferenceInEveryModeAndCreatesNoPage) {
    std::mt19937 rng(77);
    for (int iter = 0; iter < 24; iter++) {
        std::vector<std::vector<uint8_t>> keep;
        randomise(wm, rng, keep);
        int mode = (iter / 2) % 3 == 0 ? 0 : (iter / 2) % 3 == 1 ? 3 : 4;
        poke_proc(wm, REG_VIDEO_MODE, mode);
        app.reboot_requested = iter % 4 == 3;
        uint64_t pages = wm->own_page_bytes;
        uint32_t cycles = wm->cycles_this_frame;
        std::vector<uint8_t> flags(wm->page_flags, wm->page_flags + NUM_PAGES);
        fake_host::reset();
        fake_host::set_boot_time(2200);
        gfx_force_plain_paths = iter % 2;
        uint32_t *f = frame();
        ASSERT_EQ(f, back_page);
        std::vector<uint32_t> want = reference(wm, mode, app.reboot_requested);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), f)) << "iteration " << iter;
        EXPECT_EQ(wm->own_page_bytes, pages);
        EXPECT_EQ(wm->cycles_this_frame, cycles);
        EXPECT_TRUE(std::equal(flags.begin(), flags.end(), wm->page_flags));
        const auto &calls = fake_host::capture_calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].hook, 'g');
        EXPECT_EQ(calls[0].data, display_pal);
        EXPECT_EQ(calls[1].hook, 's');
        EXPECT_EQ(calls[1].data, back_page);
        for (int p = 16; p < 48; p++) unmap_page(wm, p);
    }
}

TEST_F(VideoOut, OneGoldenFramePerMode) {
    std::mt19937 rng(5);
    std::vector<std::vector<uint8_t>> keep;
    randomise(wm, rng, keep);
    const std::pair<int, uint32_t> goldens[] = {
        {0, 4198509216u}, {3, 3139901471u}, {4, 677739845u}};
    for (auto [mode, crc] : goldens) {
        poke_proc(wm, REG_VIDEO_MODE, mode);
        uint32_t *f = frame();
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(crc32b(reinterpret_cast<const uint8_t *>(f), 480 * 270 * 4), crc)
            << "mode " << mode;
    }
}

TEST_F(VideoOut, TheBootScreenIsShownUntilTheWindowManagerIsReadyAndReleased) {
    // The boot record has no pages: its frame is black.
    struct Case {
        bool wm_exists;
        uint32_t boot_ms;
        uint32_t release;
        bool shows_wm;
        int draws;
    } cases[] = {
        {true, 2200, 1, true, 0},   {true, 2199, 1, false, 1},
        {true, 2200, 0, false, 1},  {true, 0x80000000u, 1, false, 1},  // read as a signed value
        {false, 5000, 1, false, 1},
    };
    poke4_proc(wm, 0x5000, 0x123456);
    poke_proc(wm, 0x10000 + 1000, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.boot_ms << " " << c.release << " " << c.wm_exists);
        if (!c.wm_exists) kill_process_by_id(3);
        fake_host::reset();
        fake_host::set_boot_time(c.boot_ms);
        app = app_state_rec{};
        app.boot_release = c.release;
        boot_draws = 0;
        uint32_t *f = frame();
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f[1000], c.shows_wm ? 0x123456u : 0u);
        EXPECT_EQ(boot_draws, c.draws);
        bool logged =
            fake_host::log_text().find("@@ finished_boot_sequence\n") != std::string::npos;
        EXPECT_EQ(logged, c.wm_exists && int32_t(c.boot_ms) >= 2200);
        EXPECT_EQ(app.boot_done, logged ? 1u : 0u);
        frame();
        EXPECT_EQ(fake_host::log().size(), logged ? 1u : 0u) << "logged once per boot";
    }
}

TEST_F(VideoOut, ANoFrameFlagReturnsNullAndTouchesNothing) {
    poke_proc(wm, REG_PROCESS_FLAGS, 2);
    std::fill(back_page, back_page + 480 * 270, 0xABCDEFu);
    int32_t w = -1, h = -2;
    fake_host::reset();
    fake_host::set_boot_time(2200);
    EXPECT_EQ(generate_video_out(&w, &h), nullptr);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -2);
    EXPECT_TRUE(
        std::all_of(back_page, back_page + 480 * 270, [](uint32_t p) { return p == 0xABCDEFu; }));
    EXPECT_TRUE(fake_host::capture_calls().empty());
}

TEST_F(VideoOut, PaletteBanksScreenPaletteDimmingAndScaling) {
    for (int e = 0; e < 256; e++)
        poke4_proc(wm, 0x5000 + 4 * uint32_t(e), e);  // entry e shows colour e
    for (uint32_t i = 0; i < 64; i++) poke_proc(wm, 0x5480 + i, i);
    poke_proc(wm, 0x5485, 0x49);                  // index 5 shows entry 9 of its bank
    poke_proc(wm, 0x5400 + 1, 0x02);              // row 4 uses bank 2
    poke_proc(wm, 0x10000 + 4 * 480 + 10, 0x47);  // bank 2, index 7
    poke_proc(wm, 0x10000 + 4 * 480 + 11, 0xC5);  // bank 2, index 5 -> entry 9
    uint32_t *f = frame();
    EXPECT_EQ(f[4 * 480 + 10], 128u + 7);
    EXPECT_EQ(f[4 * 480 + 11], 128u + 9);
    EXPECT_EQ(display_pal[256 + 4], 2u);
    EXPECT_EQ(display_pal[5], 9u);
    EXPECT_EQ(display_pal[64 + 5], 64u + 9);

    poke_proc(wm, REG_VIDEO_MODE, 3);
    f = frame();
    for (int y : {8, 9})
        for (int x : {20, 21}) EXPECT_EQ(f[y * 480 + x], 128u + 7) << x << "," << y;
    for (int y = 0; y < 270; y++) EXPECT_EQ(display_pal[256 + y], y / 2 == 4 ? 2u : 0u) << y;

    poke4_proc(wm, 0x5000 + 4 * 7, 0x00FF8001);
    poke_proc(wm, 0x10000, 7);
    poke_proc(wm, REG_VIDEO_MODE, 0);
    app.reboot_requested = 1;
    fake_host::reset();
    fake_host::set_boot_time(2200);
    f = frame();
    EXPECT_EQ(f[0], 0x007F4000u);
    ASSERT_EQ(fake_host::capture_calls().size(), 2u);
    EXPECT_EQ(fake_host::capture_calls()[0].data[7], 0x007F4000u)
        << "the dimmed table reaches the recorder";
}

TEST_F(VideoOut, OnlyTheFirstDisplayPageShowsWhenTheOthersDoNotExist) {
    for (int e = 0; e < 64; e++)
        poke4_proc(wm, 0x5000 + 4 * uint32_t(e), 0x010101 * uint32_t(e + 1));
    for (uint32_t i = 0; i < 64; i++) poke_proc(wm, 0x5480 + i, i);
    for (uint32_t i = 0; i < 4096; i++) poke_proc(wm, 0x10000 + i, 1);
    uint32_t *f = frame();
    EXPECT_EQ(std::count(f, f + 480 * 270, 0x020202u), 4096);
    EXPECT_EQ(f[8 * 480 + 255], 0x020202u);
    EXPECT_EQ(f[8 * 480 + 256], 0u);
    EXPECT_EQ(wm->page_own[17], nullptr);
}

}  // namespace
