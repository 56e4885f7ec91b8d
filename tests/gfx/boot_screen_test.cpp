// The boot screen: easing, boot lines, the picture at chosen boot times,
// its texts against the printer's own output, and its private record.
#include <gtest/gtest.h>

#include <cmath>

#include "boot_animation.h"
#include "alloc_watch.h"
#include "boot_screen.h"
#include "gfx_fixture.h"
#include "printer.h"

class BootScreen : public GfxTest {
protected:
    void SetUp() override {
        GfxTest::SetUp();
        app = app_state_rec{};
        fake_host::set_time(1000);
    }

    typed_ud_rec *draw_at(uint32_t ms) {
        fake_host::set_boot_time(ms);
        process_rec *caller = cproc;
        process_rec *r = draw_boot();
        EXPECT_EQ(cproc, caller);
        EXPECT_EQ(r, boot_screen_proc());
        return boot_screen_back();
    }

    // What the printer draws for these texts from (35, 200), on a field of 'field'.
    std::vector<uint8_t> printed(const std::vector<std::pair<std::string, int>> &texts, uint8_t field = 0) {
        init_boot();
        auto scratch = make_bitmap(BOOT_W, BOOT_H);
        std::memset(px(scratch.get()), field, size_t(BOOT_W) * BOOT_H);
        process_rec *caller = cproc;
        cproc = boot_screen_proc();
        get_masks_shape();
        poke4(REG_CURSOR_X, 35);
        poke4(REG_CURSOR_Y, 200);
        poke4(REG_HOME_X, 35);
        for (const auto &[text, colour] : texts) print_zenscii(scratch.get(), text.data(), text.size(), 0, colour);
        cproc = caller;
        return bytes_of(scratch.get());
    }

    // Line pixels: non-zero pixels above the texts.
    std::vector<uint8_t> line_colours(typed_ud_rec *b) {
        std::vector<uint8_t> out;
        for (int y = 0; y < BOOT_H; y++)
            for (int x = 0; x < BOOT_W; x++)
                if ((y < 195 || y > 230) && at(b, x, y)) out.push_back(at(b, x, y));
        return out;
    }

    const std::string banner = "\x06:3f7f5077057f7e00 Quillmar Workstation OS 0.1.0";
};

TEST(BootEasing, Curve) {
    struct Case {
        double t, v;
    } cases[] = {{0, 0}, {0.25, 0.125}, {0.5, 0.5}, {0.75, 0.875}, {1, 1}, {-3, 0}, {7, 1}};
    for (const Case &c : cases) EXPECT_DOUBLE_EQ(nll(c.t), c.v) << c.t;
}

TEST(BootLines, OneLine) {
    std::vector<uint8_t> img(BOOT_W * BOOT_H, 0);
    app = app_state_rec{};
    cline(img.data(), 5, 5, 5, 5, 0);
    EXPECT_TRUE(std::all_of(img.begin(), img.end(), [](uint8_t v) { return v == 0; })) << "n = 0 draws nothing";
    cline(img.data(), 30, 2, 40, 2, 3);
    for (int x = 30; x < 40; x++) {
        // k = block row + block column + phase + step mod 3.
        const int k = (2 >> 5) + (x >> 5) + 3 + (x - 30) % 3;
        EXPECT_EQ(img[2 * BOOT_W + x], 8 + k % 12) << x;
    }
    EXPECT_EQ(img[2 * BOOT_W + 40], 0) << "the end point is not drawn";
    app.boot_alt_colours = 1;
    cline(img.data(), 100, 100, 100, 90, 1);
    for (int y = 91; y <= 100; y++) {
        const int k = (y >> 5) + (100 >> 5) + 1 + (100 - y) % 3;
        EXPECT_EQ(img[y * BOOT_W + 100], 28 + k % 3) << y;
    }
    app = app_state_rec{};
}

TEST_F(BootScreen, AnimationThroughTheDrawingStep) {
    for (uint32_t ms : {0u, 250u, 499u}) {
        const std::vector<uint8_t> b = bytes_of(draw_at(ms));
        EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](uint8_t v) { return v == 0; })) << ms;
    }
    typed_ud_rec *b = draw_at(750);
    for (int x = 0; x < 479; x++) ASSERT_NE(at(b, x, 0), 0) << "path 1, first segment whole: " << x;
    for (int y = 0; y < 269; y++) ASSERT_NE(at(b, 0, y), 0) << "path 2, first segment whole: " << y;
    EXPECT_EQ(at(b, 479, 100), 0) << "nothing of a second segment";
    EXPECT_EQ(at(b, 200, 269), 0);
    EXPECT_TRUE(line_colours(draw_at(1251)).empty()) << "no line after 1250 ms";
    app.boot_alt_colours = 1;
    for (uint8_t c : line_colours(draw_at(900))) ASSERT_TRUE(c >= 28 && c <= 30) << int(c);
    app.boot_alt_colours = 0;

    // Goldens of the whole picture; change them deliberately with the boot screen.
    struct Golden {
        uint32_t ms, crc;
    } goldens[] = {{0, 3103934635u}, {600, 2299598709u}, {750, 1335868523u}, {900, 2951064405u}, {1000, 987257054u}, {1250, 834404621u}, {2000, 834404621u}};
    for (const Golden &g : goldens) EXPECT_EQ(crc_of(draw_at(g.ms)), g.crc) << g.ms;
}

TEST_F(BootScreen, TextsAreThePrintersOwn) {
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"booting..\n", 14}}));
    // Up to 850 ms no banner, up to 1100 ms no status (lines still run: the text's place only).
    auto text_rows = [](const std::vector<uint8_t> &v) {
        std::vector<uint8_t> out;
        for (int y = 190; y < 250; y++) out.insert(out.end(), v.begin() + y * BOOT_W + 20, v.begin() + y * BOOT_W + 460);
        return out;
    };
    EXPECT_EQ(text_rows(bytes_of(draw_at(850))), text_rows(printed({})));
    EXPECT_EQ(text_rows(bytes_of(draw_at(851))), text_rows(printed({{banner, 7}})));
    EXPECT_EQ(text_rows(bytes_of(draw_at(1099))), text_rows(printed({{banner, 7}})));
    EXPECT_EQ(text_rows(bytes_of(draw_at(1101))), text_rows(printed({{banner, 7}, {"booting..\n", 14}})));
    app.boot_done = 1;
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"booting...\n", 14}}));
    app.boot_release = 1;
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"booting..\n", 14}}));
    fake_host::set_time(4000);
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"booting..\n", 14}}));
    fake_host::set_time(4001);
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"booting....\n", 14}}));
    fake_host::set_time(7001);
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"booting.....\n", 14}}));

    // System processes 2 and 3 ended: the highest is named.
    process_rec *p2 = create_process_from_code("", "2", "/2.lua", "");
    process_rec *p3 = create_process_from_code("", "3", "/3.lua", "");
    cproc = proc;
    p2->state = PROC_ENDED;
    p2->clock = 300;
    p3->state = PROC_STOPPED;
    p3->clock = 40;
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"[* system error 3:40 **]\n", 14}}));
    p3->state = PROC_RUNNING;
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{banner, 7}, {"[* system error 2:300 **]\n", 14}}));

    // A system error in byte 0 of process 1 replaces the whole screen.
    poke_proc(get_process(1), 0, 5);
    EXPECT_EQ(bytes_of(draw_at(1300)), printed({{"** system error 5 **\n", 14}}, 1));
    poke_proc(get_process(1), 0, 0);
}

TEST_F(BootScreen, PrivateRecordAndSteadyFrames) {
    typed_ud_rec *b = draw_at(900);
    process_rec *r = boot_screen_proc();
    EXPECT_EQ(peek4_proc(r, 0x5000 + 4 * 8), int32_t(0xFF004D));
    poke_proc(r, 0x10000 + 5 * 480 + 7, 33);
    EXPECT_EQ(at(b, 7, 5), 33) << "the display is the bitmap";
    const std::vector<uint8_t> once = bytes_of(draw_at(1500));
    EXPECT_EQ(bytes_of(draw_at(1500)), once) << "the same picture twice";
    // After the first frame nothing is allocated: every print reuses the
    // record's one small buffer.
    const uint8_t *spare = r->print_ctx.spare;
    ASSERT_NE(spare, nullptr);
    fake_host::set_time(8000);
    alloc_watch::start();
    for (uint32_t ms = 0; ms < 3000; ms += 30) {
        fake_host::set_boot_time(ms);
        draw_boot();
    }
    alloc_watch::stop();
    if (alloc_watch::available()) EXPECT_EQ(alloc_watch::count.load(), 0u) << "allocations over 100 frames";
    EXPECT_EQ(r->print_ctx.spare, spare);
    EXPECT_EQ(r->print_ctx.buffer, nullptr);
}

// The error screen's short text used to hold the one spare buffer, so every
// later frame took and freed a buffer for the longer banner.
TEST_F(BootScreen, FramesAfterTheErrorScreenAllocateNothing) {
    init_boot();
    process_rec *caller = cproc;
    cproc = boot_screen_proc();
    init_print_context();  // the record's first print is the error screen's
    cproc = caller;
    poke_proc(get_process(1), 0, 5);
    draw_at(1300);
    poke_proc(get_process(1), 0, 0);
    draw_at(1300);
    alloc_watch::start();
    for (uint32_t ms = 1300; ms < 3000; ms += 30) {
        fake_host::set_boot_time(ms);
        draw_boot();
    }
    alloc_watch::stop();
    if (!alloc_watch::available()) GTEST_SKIP() << "allocations are only seen under the sanitizer";
    EXPECT_EQ(alloc_watch::count.load(), 0u) << "allocations over the frames after the error screen";
}
