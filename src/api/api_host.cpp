// The API's seam table, initialised to the real host functions.
#include "api_host.h"

#include "host_services.h"
#include "mixer_queries.h"

namespace {

void pump_events() { start_frame(); }

constexpr api_host_rec real_host = {
    os_key_state,           os_key_from_scancode,    os_get_button_states,
    os_warp_mouse_pointer,  os_set_window_icon,      os_set_window_title,
    request_screenshot,     gif_start,               gif_end,
    audio_capture_start,    audio_capture_end,       quillmar_apply_setting,
    quillmar_apply_settings, pump_events,            mudo_get_channel_state,
    mudo_get_active_channels, mudo_get_music_state,
};

}  // namespace

api_host_rec api_host = real_host;

void api_host_reset(void) { api_host = real_host; }
