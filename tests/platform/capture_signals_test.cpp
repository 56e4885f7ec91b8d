// The capture signals from Lua in a process: 16 toggles the audio capture,
// 18 and 19 start and end a GIF recording, 21 arms a screenshot with the
// parameters the process poked into its own memory.
#include "capture_fixture.h"
#include "slice.h"

using namespace capture_test;

namespace {

class CaptureSignalsTest : public CaptureTest {
protected:
    void TearDown() override {
        app.gif_recording = 0;
        CaptureTest::TearDown();
    }

    // Runs 'code' in a new process for one slice.
    void run(const std::string &code) {
        process_rec *p = create_process_from_code(code.c_str(), "sig", "/t/sig.lua", "");
        ASSERT_NE(p, nullptr) << code;
        prepare_processes_for_frame();
        run_process_slice(p, 1.0);
    }

    // Lua that pokes a parameter block at 'addr' and the name "clip".
    static std::string params(uint32_t addr, const std::vector<int> &values) {
        std::string code;
        for (size_t i = 0; i < values.size(); i++)
            code += "poke2(" + std::to_string(addr + 2 * i) + ", " + std::to_string(values[i]) + ") ";
        const std::string name = "clip";
        for (size_t i = 0; i <= name.size(); i++)
            code += "poke(" + std::to_string(0x60 + i) + ", " + std::to_string(i < name.size() ? name[i] : 0) + ") ";
        return code;
    }
};

TEST_F(CaptureSignalsTest, SixteenTwiceStartsThenStoresAnAudioCapture) {
    run("_signal(16)");
    EXPECT_EQ(app.audio_capturing, 1u);
    std::vector<uint8_t> block(2048, 7);
    audio_capture_append(block.data(), int32_t(block.size()));
    run("_signal(16)");
    EXPECT_EQ(app.audio_capturing, 0u);
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 0.012 seconds: /desktop/host/audio.raw"});
    EXPECT_EQ(host_bytes("audio.raw"), std::string(2048, '\7'));
}

TEST_F(CaptureSignalsTest, NineteenWithoutARecordingDoesNothing) {
    run("_signal(19)");
    EXPECT_TRUE(notes().empty());
    EXPECT_TRUE(desk_names().empty());
    EXPECT_EQ(app.gif_recording, 0u);
}

TEST_F(CaptureSignalsTest, EighteenThenNineteenRecords) {
    run(params(0x40, {4, 6, 32, 20, 2, 0, 0, 0}) + "_signal(18)");
    EXPECT_EQ(app.gif_recording, 1u);
    std::vector<uint32_t> pal(526, 0x336699);
    for (int k = 0; k < 4; k++) update_gif_recording(pal.data());
    EXPECT_EQ(app.gif_frame_count, 4u);
    run("_signal(19)");
    EXPECT_EQ(app.gif_recording, 0u);
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 2 frame gif 32x20 (x2): /desktop/host/clip.gif"});
    EXPECT_EQ(host_bytes("clip.gif").substr(0, 6), "GIF89a");
}

TEST_F(CaptureSignalsTest, TwentyOneArmsAScreenshotOfTheCallersRegion) {
    run(params(0x50, {10, 20, 100, 60, 2, 0, 1, 0}) + "_signal(21)");
    EXPECT_EQ(app.screenshot_requested, 1u);
    EXPECT_EQ(std::vector<int32_t>({sshot_x0, sshot_y0, sshot_width, sshot_height, sshot_scale, sshot_skip}),
              std::vector<int32_t>({10, 20, 100, 60, 2, 1}));
    EXPECT_STREQ(sshot_name, "clip");
    std::vector<uint32_t> frame(480 * 270, 0xABCDEF);
    update_screenshot(frame.data());  // the skipped frame
    update_screenshot(frame.data());
    EXPECT_EQ(notes(), std::vector<std::string>{"captured 100x60 (x2) screenshot: /desktop/host/clip.png"});
}

}  // namespace
