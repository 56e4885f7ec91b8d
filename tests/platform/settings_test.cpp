// Settings: the key table, the history switch and applying the settings
// through counting window and mixer hooks.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app_state.h"
#include "platform_fixture.h"
#include "settings.h"

namespace {

int video_configs = 0;
std::vector<int32_t> volumes, swaps;
std::vector<int> history_events;

}  // namespace

// The history store's events, counted.
int anywhen_event(int kind, const char *path, const char *host_path) {
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(host_path, nullptr);
    history_events.push_back(kind);
    return 0;
}

// The window and the mixer, counted. Defining them here keeps the empty
// versions of the platform library out of this test.
extern "C" void os_apply_video_config(void) { video_configs++; }
extern "C" void mudo_set_volume(int32_t volume) { volumes.push_back(volume); }
extern "C" void mudo_set_stereo_swap(int32_t flag) { swaps.push_back(flag); }

namespace {

using namespace platform_test;

class Settings : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        memset(&config, 0, sizeof config);
        config.fullscreen = 1;
        config.pixel_perfect = 1;
        config.volume = 192;
        config.network_access = 1;
        video_hash0 = 0xFFFFFFFFu;
        video_configs = 0;
        volumes.clear();
        swaps.clear();
        history_events.clear();
    }
};

TEST_F(Settings, EachKeyStoresItsValueByItsRule) {
    struct Case {
        const char *key;
        int32_t value;
        uint32_t config_rec::*field;
        uint32_t stored;
    };
    const Case cases[] = {
        {"fullscreen", 2, &config_rec::fullscreen, 1},
        {"fullscreen", 0, &config_rec::fullscreen, 0},
        {"pixel_perfect", -1, &config_rec::pixel_perfect, 1},
        {"stretch", 7, &config_rec::stretch, 1},
        {"blit_720p", 1, &config_rec::blit_720p, 1},
        {"allow_highdpi", 1, &config_rec::allow_highdpi, 1},
        {"fullscreen_window", 1, &config_rec::fullscreen_window, 1},
        {"pixel_scale", 40, &config_rec::pixel_scale, 40},
        {"pixel_scale", -3, &config_rec::pixel_scale, uint32_t(-3)},
        {"sdl_render_driver", 9, &config_rec::sdl_render_driver, 9},
        {"volume", -5, &config_rec::volume, 0},
        {"volume", 300, &config_rec::volume, 256},
        {"volume", 128, &config_rec::volume, 128},
        {"mute_audio", 1, &config_rec::mute_audio, 1},
        {"swap_stereo", 1, &config_rec::swap_stereo, 1},
        {"battery_saver", 1, &config_rec::battery_saver, 1},
        {"network_access", 0, &config_rec::network_access, 0},
        {"deadzone", -5, &config_rec::deadzone, 0},
        {"deadzone", 300, &config_rec::deadzone, 256},
        {"deadzone", 12, &config_rec::deadzone, 12},
        {"anywhen", 5, &config_rec::anywhen, 1},
    };
    for (const auto &c : cases) {
        settings_store(c.key, c.value);
        EXPECT_EQ(config.*c.field, c.stored) << c.key << " " << c.value;
    }
}

TEST_F(Settings, UnknownKeysChangeNothing) {
    config_rec before;
    memcpy(&before, &config, sizeof config);
    for (const char *key : {"Volume", "volume ", "", "home_path", "headless", "video_hash0"})
        EXPECT_EQ(settings_store(key, 1), 0) << key;
    settings_store(nullptr, 1);
    EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
}

TEST_F(Settings, TurningTheHistoryOnRaisesTheOpenDayEventOnlyFromOff) {
    quillmar_apply_setting("anywhen", 1);
    quillmar_apply_setting("anywhen", 1);
    EXPECT_EQ(history_events, std::vector<int>{4}) << "on, on: one event";
    quillmar_apply_setting("anywhen", 0);
    quillmar_apply_setting("anywhen", 1);
    EXPECT_EQ(history_events, (std::vector<int>{4, 4})) << "off, on: another";
    quillmar_apply_setting("volume", 1);
    EXPECT_EQ(history_events.size(), 2u);
}

TEST_F(Settings, TheWindowIsConfiguredOnlyWhenAHashedSettingChanges) {
    quillmar_apply_settings();
    EXPECT_EQ(video_configs, 1) << "the first apply always configures";
    quillmar_apply_settings();
    EXPECT_EQ(video_configs, 1) << "the same settings twice configure once";
    settings_store("pixel_scale", 3);
    settings_store("sdl_render_driver", 1);
    quillmar_apply_settings();
    EXPECT_EQ(video_configs, 1) << "pixel_scale and the render driver alone never";
    int expected = 1;
    const std::pair<const char *, uint32_t config_rec::*> hashed[] = {
        {"fullscreen", &config_rec::fullscreen},
        {"pixel_perfect", &config_rec::pixel_perfect},
        {"allow_highdpi", &config_rec::allow_highdpi},
        {"stretch", &config_rec::stretch},
        {"fullscreen_window", &config_rec::fullscreen_window},
        {"blit_720p", &config_rec::blit_720p},
    };
    for (const auto &[key, field] : hashed) {
        settings_store(key, config.*field ? 0 : 1);
        quillmar_apply_settings();
        quillmar_apply_settings();
        EXPECT_EQ(video_configs, ++expected) << key << ": each bit once";
        EXPECT_EQ(video_hash0, settings_video_hash());
    }
    EXPECT_EQ(video_hash0, 0x3Cu);
}

TEST_F(Settings, TheMixerGetsTheVolumeOrZeroWhenMutedAndTheSwap) {
    settings_store("volume", 100);
    quillmar_apply_settings();
    settings_store("mute_audio", 1);
    settings_store("swap_stereo", 1);
    quillmar_apply_settings();
    EXPECT_EQ(volumes, (std::vector<int32_t>{100, 0}));
    EXPECT_EQ(swaps, (std::vector<int32_t>{0, 1}));
}

}  // namespace
