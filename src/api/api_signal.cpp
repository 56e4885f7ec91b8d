// `_signal`: numbered requests from the system's Lua code to the host.
// Codes without an entry here do nothing.
#include <cstring>

#include "api_functions.h"
#include "api_host.h"
#include "host.h"
#include "host_services.h"
#include "intp.h"
#include "lua.hpp"
#include "messages.h"
#include "pfile.h"
#include "pmount.h"
#include "process.h"

namespace {

inline constexpr uint32_t SIGNAL_AUDIO_ALLOW = 15;    /* the caller may use the audio calls */
inline constexpr uint32_t SIGNAL_AUDIO_CAPTURE = 16;  /* starts or ends an audio capture */
inline constexpr uint32_t SIGNAL_GIF_START = 18;      /* opens a GIF recording */
inline constexpr uint32_t SIGNAL_GIF_END = 19;        /* writes the running GIF recording */
inline constexpr uint32_t SIGNAL_SCREENSHOT = 21;     /* arms a screenshot */
inline constexpr uint32_t SIGNAL_USER_ACTIVE = 22;    /* counts as user input for the battery saver */
inline constexpr uint32_t SIGNAL_CLEAR_BUTTONS = 23;  /* held buttons read released until let go */
inline constexpr uint32_t SIGNAL_EXIT = 33;           /* the program ends at the next frame */
inline constexpr uint32_t SIGNAL_REBOOT = 34;         /* the system reboots at the next frame */
inline constexpr uint32_t SIGNAL_BOOT_COLOURS = 35;   /* the boot screen's other line colours */
inline constexpr uint32_t SIGNAL_FLAG36 = 36;         /* a flag read back by stat(986) */
inline constexpr uint32_t SIGNAL_BOOT_RELEASE = 37;   /* the boot screen may end */
inline constexpr uint32_t SIGNAL_MEMORY_BASELINE = 38; /* memory counts from here on */
inline constexpr uint32_t SIGNAL_EXCLUSIVE = 40;      /* only the caller and pids 1-3 get slices */
inline constexpr uint32_t SIGNAL_END_EXCLUSIVE = 41;  /* every process gets slices again */
inline constexpr uint32_t SIGNAL_BOOST = 43;          /* the caller's reported priority doubles */
inline constexpr uint32_t SIGNAL_END_BOOST = 44;
inline constexpr uint32_t SIGNAL_MOUNT_DESKTOP = 65;  /* mounts the host desktop folder */

inline constexpr const char *DESKTOP_FOLDER = "quillmar_desktop";
inline constexpr const char *DESKTOP_MOUNT = "/desktop/host";
inline constexpr const char *DESKTOP_FAILED = "could not mount desktop";

/*
** Mounts the folder "quillmar_desktop" of the host desktop at /desktop/host,
** creating it when missing. A mount already there is kept: mounting again
** would add a mount per call until the table is full. Without a known
** desktop the builder gives a relative path, which would mount a folder of
** the working directory: that is refused like a folder that cannot be made.
*/
void mount_desktop() {
    if (get_mount_description(DESKTOP_MOUNT)) return;
    char folder[HOST_PATH_SIZE] = {0};
    codo_prefix_with_desktop_path(DESKTOP_FOLDER, folder);
    if (folder[0] != '/') {
        notify(DESKTOP_FAILED);
        return;
    }
    codo_mkdir(folder);
    if (host_directory_exists(folder)) mount_host_path(DESKTOP_MOUNT, folder);
    else notify(DESKTOP_FAILED);
}

void clear_buttons(process_rec *p) {
    std::memset(p->buttons, 0, sizeof p->buttons);
    std::memset(p->buttons_released, 1, sizeof p->buttons_released);
}

}  // namespace

int lua54__signal(lua_State *L) {
    const auto n = static_cast<uint32_t>(kiv_intp(L, 1, 0));
    process_rec *p = cproc;
    const uint64_t caller = p ? static_cast<uint64_t>(p->id) : 0;
    switch (n) {
        case SIGNAL_AUDIO_ALLOW: app.audio_allowed_pid = caller; break;
        case SIGNAL_AUDIO_CAPTURE:
            if (app.audio_capturing) api_host.audio_capture_end();
            else api_host.audio_capture_start();
            break;
        case SIGNAL_GIF_START:
            if (api_host.gif_start() == 0) {
                app.gif_recording = 1;
                app.gif_frame_count = 0;
            }
            break;
        case SIGNAL_GIF_END:
            if (app.gif_recording) {
                api_host.gif_end();
                app.gif_recording = 0;
            }
            break;
        case SIGNAL_SCREENSHOT:
            api_host.request_screenshot();
            app.screenshot_requested = 1;
            break;
        case SIGNAL_USER_ACTIVE: app.last_input_t = static_cast<uint64_t>(os_get_time()); break;
        case SIGNAL_CLEAR_BUTTONS:
            if (p) clear_buttons(p);
            break;
        case SIGNAL_EXIT: app.exit_requested = 1; break;
        case SIGNAL_REBOOT: app.reboot_requested = 1; break;
        case SIGNAL_BOOT_COLOURS: app.boot_alt_colours = 1; break;
        case SIGNAL_FLAG36: app.signal36_flag = 1; break;
        case SIGNAL_BOOT_RELEASE: app.boot_release = 1; break;
        case SIGNAL_MEMORY_BASELINE:
            lua_gc(L, LUA_GCCOLLECT);
            if (p && p->memory_baseline == 0) p->memory_baseline = p->lua_bytes;
            break;
        case SIGNAL_EXCLUSIVE: app.exclusive_pid = caller; break;
        case SIGNAL_END_EXCLUSIVE: app.exclusive_pid = 0; break;
        case SIGNAL_BOOST:
            if (p) p->high_priority = 1;
            break;
        case SIGNAL_END_BOOST:
            if (p) p->high_priority = 0;
            break;
        case SIGNAL_MOUNT_DESKTOP: mount_desktop(); break;
        default: break;
    }
    return 0;
}
