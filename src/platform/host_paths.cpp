// Host paths: the program's folder, the application-data folder, the desktop.
#include "host_paths.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app_state.h"
#include "buffer.h"  // the block buffers' fields
#include "host.h"
#include "sysrom_blocks.h"

char codo_argv0[HOST_PATH_SIZE];

namespace {

// A folder override counts as set when its first byte is neither NUL nor a space.
bool override_set(const char *p) { return p && p[0] != '\0' && p[0] != ' '; }

// The environment variable 'name', or null when unset or empty.
const char *env_nonempty(const char *name) {
    const char *v = getenv(name);
    return v && v[0] ? v : nullptr;
}

// Copies 'path' into 'out' when it fits, else empties 'out'; 0 or -1.
int deliver(const std::string &path, char *out, bool log) {
    if (path.size() >= HOST_PATH_SIZE || path.find('\0') != std::string::npos) {
        out[0] = '\0';
        if (log) codo_debug(HOST_PATH_TOO_LONG_MESSAGE);
        return -1;
    }
    memcpy(out, path.c_str(), path.size() + 1);
    return 0;
}

bool is_directory(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

void ensure_slash(std::string &s) {
    if (s.empty() || s.back() != '/') s += '/';
}

// The value of XDG_DESKTOP_DIR in the user-dirs file, "$HOME" expanded;
// empty when the file or the line is missing. The last assignment wins, as
// when the file is sourced by a shell.
std::string desktop_from_user_dirs(const char *home) {
    std::string file;
    if (const char *cfg = env_nonempty("XDG_CONFIG_HOME")) file = cfg;
    else if (home) file = std::string(home) + "/.config";
    else return "";
    file += "/user-dirs.dirs";
    FILE *f = fopen(file.c_str(), "r");
    if (!f) return "";
    std::string found;
    char line[HOST_PATH_SIZE * 2];
    static constexpr char kKey[] = "XDG_DESKTOP_DIR=\"";
    while (fgets(line, sizeof line, f)) {
        const char *p = line;
        while (*p == ' ' || *p == '\t') p++;
        if (strncmp(p, kKey, sizeof kKey - 1) != 0) continue;
        p += sizeof kKey - 1;
        const char *end = strchr(p, '"');
        if (!end) continue;
        std::string value(p, size_t(end - p));
        if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
            if (!home) continue;
            value = home + value.substr(5);
        }
        if (!value.empty() && value[0] == '/') found = value;
    }
    fclose(f);
    return found;
}

}  // namespace

extern "C" void codo_set_argv0(const char *argv0) {
    memset(codo_argv0, 0, sizeof codo_argv0);
    if (argv0) strncpy(codo_argv0, argv0, sizeof codo_argv0 - 1);
}

extern "C" char *codo_prefix_with_program_path(const char *name, char *out) {
    std::string path;
    if (codo_argv0[0]) {
        size_t sep = 0;
        for (size_t i = 1; codo_argv0[i]; i++)
            if (codo_argv0[i] == '/' || codo_argv0[i] == '\\') sep = i;
        if (sep) path.assign(codo_argv0, sep), path += '/';
        else path = "/";
    }
    path += name ? name : "";
    deliver(path, out, true);
    return out;
}

extern "C" int codo_build_appdata_path(const char *name, char *out, const char *home_path,
                                       const char *export_name, int log) {
    const std::string tail = name ? name : "";
    if (override_set(home_path)) {
        std::string folder = home_path;
        for (char &c : folder)
            if (c == '\\') c = '/';
        ensure_slash(folder);
        return deliver(folder + tail, out, log);
    }
    std::string base;
    if (const char *xdg = env_nonempty("XDG_DATA_HOME")) base = xdg;
    else if (const char *home = env_nonempty("HOME")) base = std::string(home) + "/.local/share";
    std::string app = base.empty() ? "" : base + "/quillmar/";
    const std::string exp = app + "exp/";
    const std::string sub = exp + (export_name && export_name[0] ? export_name : "shared") + "/";
    if (deliver(sub + tail, out, log) != 0) return -1;
    if (is_directory(sub.c_str())) return 0;  // and so are the folders above it
    if (!app.empty()) codo_mkdir_parents(app.c_str());
    codo_mkdir(exp.c_str());
    codo_mkdir(sub.c_str());
    return 0;
}

extern "C" char *codo_prefix_with_appdata_path(const char *name, char *out) {
    // Block 0's payload is NUL-terminated: its buffer has room beyond the length.
    const char *export_name = dat_files > 0 && dat_file[0]->length > 0
                                  ? reinterpret_cast<const char *>(dat_file[0]->data)
                                  : nullptr;
    codo_build_appdata_path(name, out, config.home_path, export_name, 1);
    return out;
}

extern "C" char *codo_prefix_with_desktop_path(const char *name, char *out) {
    codo_build_desktop_path(name, out, config.desktop_path);
    return out;
}

extern "C" int codo_build_desktop_path(const char *name, char *out, const char *desktop_path) {
    const std::string tail = name ? name : "";
    std::string folder;
    const char *home = env_nonempty("HOME");
    if (override_set(desktop_path)) folder = desktop_path;
    else if (const char *xdg = env_nonempty("XDG_DESKTOP_DIR")) folder = xdg;
    else if (std::string dirs = desktop_from_user_dirs(home); !dirs.empty()) folder = dirs;
    else if (home) folder = std::string(home) + "/Desktop";
    if (folder.empty()) return deliver(tail, out, true);
    ensure_slash(folder);
    if (deliver(folder + tail, out, true) != 0) return -1;
    codo_mkdir_parents(folder.c_str());
    return 0;
}

extern "C" int codo_mkdir(const char *path) { return mkdir(path, 0755); }

extern "C" int codo_mkdir_parents(const char *path) {
    if (!path || !path[0]) return -1;
    if (is_directory(path)) return 0;  // nothing to make
    std::string p = path;
    for (size_t i = 1; i < p.size(); i++) {
        if (p[i] != '/') continue;
        p[i] = '\0';
        mkdir(p.c_str(), 0755);
        p[i] = '/';
    }
    mkdir(p.c_str(), 0755);
    return is_directory(path) ? 0 : -1;
}

extern "C" void codo_fix_backslashes(char *text) {
    for (; text && *text; text++)
        if (*text == '\\') *text = '/';
}

extern "C" const char *codo_trim(const char *text) {
    static std::string trimmed;  // replaced at each call, as the contract says
    auto strip = [](unsigned char c) { return c <= ' ' || c >= 0x80; };
    const char *b = text ? text : "";
    const char *e = b + strlen(b);
    while (b < e && strip(static_cast<unsigned char>(*b))) b++;
    while (e > b && strip(static_cast<unsigned char>(e[-1]))) e--;
    trimmed.assign(b, size_t(e - b));
    return trimmed.c_str();
}
