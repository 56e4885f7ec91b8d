// The audio device under SDL's dummy and disk drivers: the callback's
// chunks, the nesting lock, the capture append, failures and the exit path.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "buffer.h"
#include "fake_sdl_fixture.h"
#include "host.h"
#include "host_exit.h"
#include "host_services.h"

namespace {

using namespace platform_test;

std::atomic<int> mix_calls{0};
std::vector<int32_t> chunk_sizes;  // main-thread direct calls only
std::atomic<uint16_t> counter{0};

int32_t counting_mixer(int16_t *out, int32_t frames) {
    mix_calls++;
    for (int32_t i = 0; i < frames * 2; i++) out[i] = int16_t(counter++);
    return 0;
}

int32_t recording_mixer(int16_t *out, int32_t frames) {
    chunk_sizes.push_back(frames);
    memset(out, 0, size_t(frames) * 4);
    return 0;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class Audio : public FakeSdlTest {
protected:
    void SetUp() override {
        FakeSdlTest::SetUp();
        FakeSdl::restore();
        mix_calls = 0;
        counter = 0;
        chunk_sizes.clear();
        audio_device_set_mixer(counting_mixer);
    }
    void TearDown() override {
        audio_device_close();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audio_device_set_mixer(nullptr);
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        app.audio_capturing = 0;
        FakeSdlTest::TearDown();
    }
    void open(const char *driver) {
        setenv("SDL_AUDIODRIVER", driver, 1);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0) << SDL_GetError();
        ASSERT_EQ(audio_device_open(), 1) << SDL_GetError();
    }
    static void wait_for_calls(int n) {
        eventually([n] { return mix_calls >= n; });
        ASSERT_GE(mix_calls, n);
    }
};

TEST_F(Audio, TheCallbackStandsStillUntilTheOutermostUnlock) {
    open("dummy");
    wait_for_calls(2);
    os_lock_audio();
    os_lock_audio();
    const int held = mix_calls;
    sleep_ms(60);
    EXPECT_EQ(mix_calls, held);
    os_unlock_audio();
    sleep_ms(60);
    EXPECT_EQ(mix_calls, held);
    os_unlock_audio();
    wait_for_calls(held + 2);
}

TEST_F(Audio, TheDiskFileHoldsTheMixersBytesAndACaptureIsASliceOfThem) {
    const std::string file = root + "/out.raw";
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    open("disk");
    wait_for_calls(3);
    buffer_rec *capture = create_buffer_2(0, 'c');
    os_lock_audio();
    app.audio_capture_buffer = capture;
    std::atomic_ref<uint32_t>(app.audio_capturing).store(1, std::memory_order_release);
    os_unlock_audio();
    wait_for_calls(mix_calls + 4);
    os_lock_audio();
    app.audio_capturing = 0;
    os_unlock_audio();
    wait_for_calls(mix_calls + 2);
    audio_device_close();

    // The device opens paused: SDL's thread may write whole buffers of
    // silence before it is started (a loaded machine leaves it the time).
    // The mixer's bytes follow them.
    const std::string bytes = read_file(file);
    const size_t device_bytes = 4 * AUDIO_BUFFER_FRAMES;
    size_t silent = 0;
    while (silent + device_bytes <= bytes.size() &&
           bytes.find_first_not_of('\0', silent) >= silent + device_bytes)
        silent += device_bytes;
    ASSERT_GE(bytes.size() - silent, size_t(4 * 512 * 6));
    const int16_t *s = reinterpret_cast<const int16_t *>(bytes.data() + silent);
    for (size_t i = 0; i < (bytes.size() - silent) / 2; i++) ASSERT_EQ(uint16_t(s[i]), uint16_t(i)) << i;
    ASSERT_GT(capture->length, 0);
    const int16_t first = *reinterpret_cast<const int16_t *>(capture->data);
    const size_t at = silent + size_t(uint16_t(first)) * 2;
    ASSERT_LE(at + size_t(capture->length), bytes.size());
    EXPECT_EQ(memcmp(bytes.data() + at, capture->data, size_t(capture->length)), 0);
    destroy_buffer(capture);
}

TEST_F(Audio, ADirectCallMixesInChunksOf4096Frames) {
    audio_device_set_mixer(recording_mixer);
    std::vector<uint8_t> stream(40000);
    sdl2_mixer_callback(nullptr, stream.data(), int(stream.size()));
    EXPECT_EQ(chunk_sizes, (std::vector<int32_t>{4096, 4096, 1808}));
}

TEST_F(Audio, AFailedOpenPrintsBothTextsAndLockingStaysHarmless) {
    FakeSdl::install();
    FakeSdl::audio_fails = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(audio_device_open(), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "** audio init failed fake failure\n");
    os_lock_audio();
    os_unlock_audio();
    EXPECT_EQ(FakeSdl::audio_locks, 0);
    EXPECT_EQ(lock_level, 0u);
}

TEST_F(Audio, TheLockTouchesTheDeviceOnlyAtTheOutermostLevel) {
    FakeSdl::install();
    ASSERT_EQ(audio_device_open(), 1);
    for (int i = 0; i < 3; i++) os_lock_audio();
    EXPECT_EQ(FakeSdl::audio_locks, 1);
    for (int i = 0; i < 3; i++) os_unlock_audio();
    EXPECT_EQ(FakeSdl::audio_unlocks, 1);
    os_lock_audio();
    audio_device_close();  // releases the level still held, then closes
    EXPECT_EQ(FakeSdl::audio_unlocks, 2);
    EXPECT_EQ(FakeSdl::audio_closes, 1);
    EXPECT_EQ(lock_level, 0u);
}

using AudioDeathTest = Audio;

TEST_F(AudioDeathTest, ExitWithTheLockHeldClosesTheDevice) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            SDL_InitSubSystem(SDL_INIT_AUDIO);
            audio_device_open();
            os_lock_audio();
            os_lock_audio();
            host_exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// ---- worker threads ----

std::atomic<int> thread_runs{0};
char thread_name[32];

int name_thread(void *data) {
    pthread_getname_np(pthread_self(), thread_name, sizeof thread_name);
    *static_cast<int *>(data) = 1;
    thread_runs++;
    return 0;
}

int slow_thread(void *) {
    sleep_ms(50);
    thread_runs++;
    return 0;
}

TEST(Threads, WorkersAreNamedAndTheirRecordsMayGoBeforeOrAfterThem) {
    thread_runs = 0;
    int flag = 0;
    os_thread_rec *a = os_create_thread(name_thread, &flag);
    ASSERT_NE(a, nullptr);
    eventually([] { return thread_runs >= 1; });
    EXPECT_STREQ(thread_name, "quillmar_worker");
    EXPECT_EQ(flag, 1);
    os_destroy_thread(a);  // after its end
    os_thread_rec *b = os_create_thread(slow_thread, nullptr);
    os_destroy_thread(b);  // before its end
    eventually([] { return thread_runs >= 2; });
    EXPECT_EQ(thread_runs, 2);
    os_destroy_thread(nullptr);
    sleep_ms(20);
}

}  // namespace
