// Settings: the key table over the settings record, and applying them.
#include "settings.h"

#include <cstring>

#include "anywhen_hooks.h"
#include "app_state.h"

uint32_t video_hash0 = 0xFFFFFFFFu;

namespace {

// How a setting's value is stored.
enum class Store { flag, raw, clamp_256 };

struct SettingKey {
    const char *name;            // the key, compared exactly
    uint32_t config_rec::*field; // where it is stored
    Store store;                 // how the value is stored
};

inline constexpr SettingKey kSettingKeys[] = {
    {"fullscreen", &config_rec::fullscreen, Store::flag},
    {"pixel_perfect", &config_rec::pixel_perfect, Store::flag},
    {"stretch", &config_rec::stretch, Store::flag},
    {"blit_720p", &config_rec::blit_720p, Store::flag},
    {"allow_highdpi", &config_rec::allow_highdpi, Store::flag},
    {"fullscreen_window", &config_rec::fullscreen_window, Store::flag},
    {"pixel_scale", &config_rec::pixel_scale, Store::raw},
    {"sdl_render_driver", &config_rec::sdl_render_driver, Store::raw},
    {"volume", &config_rec::volume, Store::clamp_256},
    {"mute_audio", &config_rec::mute_audio, Store::flag},
    {"swap_stereo", &config_rec::swap_stereo, Store::flag},
    {"battery_saver", &config_rec::battery_saver, Store::flag},
    {"network_access", &config_rec::network_access, Store::flag},
    {"deadzone", &config_rec::deadzone, Store::clamp_256},
    {"anywhen", &config_rec::anywhen, Store::flag},
};

uint32_t stored_value(Store store, int32_t value) {
    switch (store) {
    case Store::flag: return value != 0;
    case Store::raw: return uint32_t(value);
    case Store::clamp_256: return uint32_t(value < 0 ? 0 : value > 256 ? 256 : value);
    }
    return 0;
}

uint32_t bit(uint32_t v) { return v ? 1u : 0u; }

}  // namespace

extern "C" uint32_t settings_video_hash(void) {
    return bit(config.fullscreen) | bit(config.pixel_perfect) << 1 | bit(config.allow_highdpi) << 2 |
           bit(config.stretch) << 3 | bit(config.fullscreen_window) << 4 | bit(config.blit_720p) << 5;
}

extern "C" int settings_store(const char *key, int32_t value) {
    if (!key) return 0;
    for (const SettingKey &k : kSettingKeys) {
        if (strcmp(key, k.name) != 0) continue;
        const uint32_t before = config.*k.field;
        config.*k.field = stored_value(k.store, value);
        return k.field == &config_rec::anywhen && before == 0 && config.anywhen != 0;
    }
    return 0;
}

extern "C" void quillmar_apply_setting(const char *key, int32_t value) {
    if (settings_store(key, value)) anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);
}

extern "C" void quillmar_apply_settings(void) {
    const uint32_t hash = settings_video_hash();
    if (hash != video_hash0) {
        os_apply_video_config();
        video_hash0 = hash;
    }
    mudo_set_volume(config.mute_audio ? 0 : int32_t(config.volume));
    mudo_set_stereo_swap(int32_t(config.swap_stereo));
}
