// The machine the capture fuzz targets run on, made once: processes 1 to 3
// (3 the window manager), /ram, and a temporary host folder at
// /desktop/host; standard output is dropped (failed starts print a line).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app_state.h"
#include "env.h"
#include "messages.h"
#include "pfile.h"
#include "pmount.h"
#include "process.h"

namespace captures_fuzz {

struct machine {
    process_rec *caller = nullptr;  // pid 1, whose memory holds the parameters
    process_rec *wm = nullptr;      // pid 3
    std::string desk;
};

inline machine &boot_machine() {
    static machine m;
    if (m.wm) return m;
    if (!freopen("/dev/null", "w", stdout)) abort();
    char tmpl[] = "/tmp/fuzz_captures_XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    m.desk = tmpl;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(boot_machine().desk, ec);
    });
    const std::string appdata = m.desk + "/.appdata/";
    mkdir(appdata.c_str(), 0700);
    pdisk_set_appdata_folder(appdata);
    config.headless = 1;
    processes_init();
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    mount_host_path("/desktop/host", m.desk.c_str());
    process_rec *p[3];
    for (auto &rec : p) rec = create_process_from_code("", "p", "/t/p.lua", "");
    if (!p[2] || p[2]->id != WM_PID) abort();
    m.caller = p[0];
    m.wm = p[2];
    cproc = m.caller;
    return m;
}

// Drops the notifications process 3 received.
inline void drain(machine &m) {
    while (read_process_message(m.wm, nullptr)) {
    }
}

}  // namespace captures_fuzz
