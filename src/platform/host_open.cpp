// Opening host paths and web addresses with xdg-open.
#include "host_open.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app_state.h"
#include "host.h"
#include "host_paths.h"

extern char **environ;

namespace {

std::vector<pid_t> openers;  // children not yet reaped; main thread only

bool url_pass_through(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           strchr("-./&:=?_", c) != nullptr;
}

bool is_web_address(const char *p) {
    return strncmp(p, "http:", 5) == 0 || strncmp(p, "https:", 6) == 0;
}

}  // namespace

extern "C" char *create_osx_launch_html_string(const char *url, char *out, size_t size) {
    static constexpr char kHex[] = "0123456789abcdef";
    memset(out, 0, size);
    if (size <= HOST_URL_STOP_OFFSET) return out;
    size_t len = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(url);
         *p && len < size - HOST_URL_STOP_OFFSET; p++) {
        if (url_pass_through(*p)) {
            out[len++] = char(*p);
        } else {
            out[len++] = '%';
            out[len++] = kHex[*p >> 4];
            out[len++] = kHex[*p & 15];
        }
    }
    out[len] = '\0';
    return out;
}

extern "C" int open_host_file(const char *path) {
    if (!path) return -1;
    char encoded[HOST_PATH_SIZE];
    const char *arg = path;
    if (is_web_address(path)) arg = create_osx_launch_html_string(path, encoded, sizeof encoded);
    char program[] = HOST_OPEN_PROGRAM;
    char *argv[] = {program, const_cast<char *>(arg), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, HOST_OPEN_PROGRAM, nullptr, nullptr, argv, environ) != 0) {
        char line[HOST_PATH_SIZE + 32];
        snprintf(line, sizeof line, "** could not open %s\n", path);
        codo_debug(line);
        return -1;
    }
    openers.push_back(pid);
    if (config.fullscreen) os_minimise_window();
    return 0;
}

extern "C" int reap_host_openers(void) {
    size_t kept = 0;
    for (pid_t pid : openers) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == 0) openers[kept++] = pid;  // still running; r < 0: gone or not ours
    }
    openers.resize(kept);
    return int(kept);
}
