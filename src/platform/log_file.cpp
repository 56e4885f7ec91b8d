// The log file behind codo_debug.
#include "log_file.h"

#include <cstdio>
#include <mutex>
#include <thread>

#include "host.h"
#include "host_paths.h"
#include "process.h"
#include "vm_hooks.h"

char codo_debug_string[CODO_DEBUG_STRING_SIZE];

namespace {

std::mutex log_mutex;             // guards everything below; workers may log
FILE *codo_debug_file = nullptr;  // the open log, null until the first line
int64_t (*log_clock)(void) = nullptr;  // ms of each line; null: os_get_time
int64_t (*log_pid)(void) = nullptr;    // id of each line; null: the running process

int64_t default_pid() { return cproc ? cproc->id : 0; }

// Static initialisation runs on the main thread.
const std::thread::id main_thread = std::this_thread::get_id();

// Opens log.txt in the default folder's "shared" export folder; caller holds the mutex.
void open_log() {
    char path[HOST_PATH_SIZE];
    if (codo_build_appdata_path("log.txt", path, "", nullptr, 0) != 0) return;
    codo_debug_file = fopen(path, "w");
}

}  // namespace

extern "C" void codo_debug(const char *text) {
    std::lock_guard<std::mutex> hold(log_mutex);
    if (!codo_debug_file) open_log();
    if (!codo_debug_file) return;
    if (!text) text = "";
    if (*text == '>') text++;
    if (*text == '<') text++;
    const long long ms = log_clock ? log_clock() : os_get_time();
    const long long pid = log_pid ? log_pid() : default_pid();
    fprintf(codo_debug_file, "[%06lld %03lld] %s", ms, pid, text);
    fflush(codo_debug_file);
    // The line is the work of the running program's call: it reaches the
    // file before the call goes on.
    if (cproc && std::this_thread::get_id() == main_thread) spend_cpu(LOG_LINE_CYCLES);
}

extern "C" void codo_debug_flush(void) {
    std::lock_guard<std::mutex> hold(log_mutex);
    if (codo_debug_file) fflush(codo_debug_file);
}

extern "C" void codo_debug_close(void) {
    std::lock_guard<std::mutex> hold(log_mutex);
    if (codo_debug_file) fclose(codo_debug_file);
    codo_debug_file = nullptr;
}

extern "C" void codo_debug_set_clock(int64_t (*now_ms)(void)) {
    std::lock_guard<std::mutex> hold(log_mutex);
    log_clock = now_ms;
}

extern "C" void codo_debug_set_pid_source(int64_t (*pid)(void)) {
    std::lock_guard<std::mutex> hold(log_mutex);
    log_pid = pid;
}
