// Audio capture: the stored file and its report, the name rule, the stop
// before writing, and a real SDL device appending from its own thread while
// captures start, stop and reset.
#include <SDL.h>

#include <atomic>

#include "capture_fixture.h"

using namespace capture_test;

// The audio lock over the test's SDL device while one is open (this test
// links ahead of the platform's own lock, which has no device yet).
namespace {
SDL_AudioDeviceID lock_device = 0;
int lock_level = 0;
}  // namespace

extern "C" void os_lock_audio(void) {
    if (lock_level++ == 0 && lock_device) SDL_LockAudioDevice(lock_device);
}

extern "C" void os_unlock_audio(void) {
    if (--lock_level == 0 && lock_device) SDL_UnlockAudioDevice(lock_device);
}

namespace {

inline constexpr int32_t CAPTURE_TAG = 97;

class AudioCaptureTest : public CaptureTest {
protected:
    void TearDown() override {
        EXPECT_EQ(lock_level, 0);
        CaptureTest::TearDown();
    }

    // Appends 'n' bytes counting up from 'from' (one byte each).
    static void feed(int32_t n, uint8_t from = 0) {
        std::vector<uint8_t> bytes(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; i++) bytes[size_t(i)] = uint8_t(from + i);
        audio_capture_append(bytes.data(), n);
    }
};

TEST_F(AudioCaptureTest, FilesHoldTheSoundAndReportItsLength) {
    struct {
        int32_t bytes;
        const char *text;
        const char *file;
    } cases[] = {
        {176400, "captured 1.000 seconds: /desktop/host/audio.raw", "audio.raw"},
        {1764000, "captured 10.000 seconds: /desktop/host/audio_1.raw", "audio_1.raw"},
        {0, "captured 0.000 seconds: /desktop/host/audio_2.raw", "audio_2.raw"},
        {2048 * 3, "captured 0.035 seconds: /desktop/host/audio_3.raw", "audio_3.raw"},
    };
    for (const auto &c : cases) {
        feed(64);  // before the start: dropped
        EXPECT_EQ(audio_capture_start(), 0);
        EXPECT_EQ(app.audio_capturing, 1u);
        for (int32_t done = 0; done < c.bytes; done += 2048) feed(std::min(2048, c.bytes - done), uint8_t(done));
        EXPECT_EQ(audio_capture_end(), 0);
        EXPECT_EQ(app.audio_capturing, 0u);
        EXPECT_EQ(app.audio_capture_buffer, nullptr);
        EXPECT_EQ(notes(), std::vector<std::string>{c.text});
        const std::string raw = host_bytes(c.file);
        ASSERT_EQ(raw.size(), size_t(c.bytes));
        for (size_t i = 0; i < raw.size(); i++)
            if (uint8_t(raw[i]) != uint8_t(i)) FAIL() << c.file << " differs at byte " << i;
    }
    EXPECT_EQ(get_buffer_group_count(CAPTURE_TAG), 0);
}

TEST_F(AudioCaptureTest, NoFreeNameStopsTheCaptureSilently) {
    std::ofstream(desk + "/audio.raw") << "x";
    for (int n = 1; n <= 255; n++) std::ofstream(desk + "/audio_" + std::to_string(n) + ".raw") << "x";
    audio_capture_start();
    feed(4096);
    EXPECT_EQ(audio_capture_end(), 1);
    EXPECT_TRUE(notes().empty());
    EXPECT_EQ(app.audio_capturing, 0u);
    EXPECT_EQ(app.audio_capture_buffer, nullptr);
    EXPECT_EQ(get_buffer_group_count(CAPTURE_TAG), 0);
}

TEST_F(AudioCaptureTest, ARestartDropsTheOldSoundAndAResetWritesNothing) {
    audio_capture_start();
    feed(1000);
    audio_capture_start();  // the first buffer goes
    EXPECT_EQ(get_buffer_group_count(CAPTURE_TAG), 1);
    feed(400);
    EXPECT_EQ(app.audio_capture_buffer->length, 400);
    captures_reset();
    EXPECT_EQ(app.audio_capturing, 0u);
    EXPECT_EQ(app.audio_capture_buffer, nullptr);
    EXPECT_EQ(get_buffer_group_count(CAPTURE_TAG), 0);
    EXPECT_TRUE(desk_names().empty());
    EXPECT_TRUE(notes().empty());
}

// ---- a real device ----

std::atomic<uint32_t> next_sample{0};

// Each 4-byte sample frame holds the running count.
void counting_callback(void *, Uint8 *stream, int len) {
    for (int i = 0; i + 4 <= len; i += 4) {
        const uint32_t v = next_sample.fetch_add(1, std::memory_order_relaxed);
        std::memcpy(stream + i, &v, 4);
    }
    audio_capture_append(stream, len);
}

TEST_F(AudioCaptureTest, CapturesFromTheAudioThreadHoldWholeConsecutiveBuffers) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
    SDL_AudioSpec want{}, have{};
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 512;
    want.callback = counting_callback;
    lock_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    ASSERT_NE(lock_device, 0u) << SDL_GetError();
    const size_t device_bytes = size_t(have.samples) * 4;
    SDL_PauseAudioDevice(lock_device, 0);
    std::mt19937 rng(9);
    int files = 0;
    for (int i = 0; i < 50; i++) {
        audio_capture_start();
        SDL_Delay(2 + rng() % 25);
        if (i == 25) {
            captures_reset();  // in the middle of a capture
        } else {
            EXPECT_EQ(audio_capture_end(), 0);
            files++;
        }
    }
    SDL_CloseAudioDevice(lock_device);
    lock_device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    EXPECT_EQ(int(notes().size()), files);
    EXPECT_EQ(int(desk_names().size()), files);
    for (const auto &name : desk_names()) {
        const std::string raw = host_bytes(name);
        EXPECT_EQ(raw.size() % device_bytes, 0u) << name;
        for (size_t at = 4; at + 4 <= raw.size(); at += 4) {
            uint32_t a, b;
            std::memcpy(&a, raw.data() + at - 4, 4);
            std::memcpy(&b, raw.data() + at, 4);
            if (b != a + 1) FAIL() << name << ": sample " << at / 4 << " is " << b << " after " << a;
        }
    }
}

}  // namespace
