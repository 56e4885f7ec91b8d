// Start-up and the (re)boot sequence.
#include "startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "boot_hooks.h"
#include "build_info.h"
#include "command_line.h"
#include "config_file.h"
#include "anywhen.h"
#include "host.h"
#include "host_exit.h"
#include "host_paths.h"
#include "lua.hpp"
#include "pdisk.h"
#include "process.h"
#include "sysrom_blocks.h"

process_rec *root_process = nullptr;
int system_inited = 0;
uint64_t debug_system_frames_since_reboot = 0;

namespace {

// The blocks of sysrom.dat the boot needs, and the one it mounts if present.
inline constexpr int SYSTEM_ROM_BLOCK = 1;
inline constexpr int EXPANSION_BLOCK = 2;

inline constexpr const char *EXPANSION_FOLDER = "/ram/expcart";
inline constexpr const char *HOST_DATA_FOLDER = "/host_data";

const char *current_pwd() { return cproc ? cproc->pwd : nullptr; }

uint64_t current_exclusive_pid() { return app.exclusive_pid; }

// The file system's view of the process table, the application state and
// the application-data folder.
void wire_file_system() {
    pdisk_set_pwd_source(current_pwd);
    pdisk_set_exclusive_source(current_exclusive_pid);
    char appdata[HOST_PATH_SIZE];
    if (codo_prefix_with_appdata_path("", appdata)[0]) pdisk_set_appdata_folder(appdata);
}

void log_line(const char *format, const char *a, const char *b = "") {
    char line[2 * HOST_PATH_SIZE + 64];
    snprintf(line, sizeof line, format, a, b);
    codo_debug(line);
}

[[noreturn]] void fail_boot(const char *text, const char *detail) {
    printf("%s%s\n", text, detail);
    host_exit(1);
}

// The whole text of the virtual file 'f' up to its first NUL, as
// luaL_loadstring would see it.
std::string read_text(pfile_rec *f) {
    std::string text;
    char chunk[4096];
    for (int64_t n; (n = pfread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, size_t(n));
    text.resize(strlen(text.c_str()));
    return text;
}

// Loads /system/boot.lua above the root's own chunk, so that the root's
// first resume starts it. Text chunks only. Ends the program when the file
// is missing or does not compile.
void load_boot_file(lua_State *L) {
    pfile_rec *f = pfopen(BOOT_FILE_PATH, "r");
    if (!f) fail_boot(BOOT_FILE_MISSING_MESSAGE, "");
    int status;
    {
        const std::string text = read_text(f);
        pfclose(f);
        status = luaL_loadbufferx(L, text.c_str(), text.size(), text.c_str(), "t");
    }
    if (status != LUA_OK) {
        const char *msg = lua_tostring(L, -1);
        fail_boot(BOOT_FILE_ERROR_MESSAGE, msg ? msg : "");
    }
}

}  // namespace

void quillmar_start(int argc, char **argv) {
    codo_set_argv0(argc > 0 ? argv[0] : nullptr);
    char dat_path[HOST_PATH_SIZE];
    codo_prefix_with_program_path("sysrom.dat", dat_path);
    log_line("load_quillmar_dat_files: %s // from: %s\n", "sysrom.dat", dat_path);
    load_dat_files(dat_path);

    memset(&config, 0, sizeof config);
    config.fullscreen = 1;
    config.pixel_perfect = 1;
    config.volume = 192;
    config.network_access = 1;
    process_arguments(argc, argv);

    log_line("booting quillmar %s\n", QUILLMAR_VERSION);
    log_line("build: %s\n", QUILLMAR_BUILD);
    reset_app_state();
}

void reset_app_state() {
    // A capture must stop before its flags and buffer are zeroed.
    captures_reset();
    memset(&app, 0, sizeof app);

    processes_init();
    root_process = nullptr;
    boot_init();
    wire_file_system();
    pfile_init();
    pfile_reset();
    init_default_coltabs();
    mudo_init();
    app.audio_focus = -2;
    app.audio_synced_pid = -3;

    mount_ram_folder("/ram");
    process_config();
    char data_path[HOST_PATH_SIZE];
    codo_prefix_with_program_path("data", data_path);
    if (data_path[0] && host_directory_exists(data_path)) mount_host_path(HOST_DATA_FOLDER, data_path);

    process_rec *root = create_process_from_code(ROOT_PROCESS_CODE, ROOT_PROCESS_NAME, ROOT_PROCESS_NAME, "");
    set_current_process(root);  // stops the program when the root could not be made
    root_process = root;
    luaL_openlibs(root->lua_state);

    if (dat_files < 2) {
        codo_debug("sysrom.dat not found\n");
        fail_boot(SYSROM_NOT_FOUND_MESSAGE, "");
    }
    mount_ram_folder("/system");
    populate_system_rom(get_dat_file(SYSTEM_ROM_BLOCK));
    load_boot_file(root->lua_state);

    const int64_t t0 = os_get_time();
    anywhen_open();
    char line[64];
    snprintf(line, sizeof line, "anywhen init: %lldms\n", static_cast<long long>(os_get_time() - t0));
    codo_debug(line);

    if (dat_files > EXPANSION_BLOCK) {
        buffer_rec *cart = get_dat_file(EXPANSION_BLOCK);
        app.has_expcart = 1;
        mount_ram_folder(EXPANSION_FOLDER);
        populate_ram_folder_from_kiv_rom_buffer(EXPANSION_FOLDER, cart);
    }
}

void do_reboot() {
    flush_dirty_mounts_immediately();
    codo_debug("--- rebooting ---\n\n");
    reset_app_state();
    debug_system_frames_since_reboot = 0;
}
