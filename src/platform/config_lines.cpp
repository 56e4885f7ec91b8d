// quillmar_config.txt: the mount-line reader and the default content.
#include "config_file.h"

#include <cstdio>
#include <cstring>

#include "buffer.h"
#include "host.h"
#include "host_paths.h"

namespace {

inline constexpr char kMountWord[] = "mount ";
inline constexpr size_t kMountWordLength = sizeof kMountWord - 1;

// Bytes that end a virtual path: space, control characters, 0x80 and above.
bool ends_virtual_path(unsigned char c) { return c <= ' ' || c >= 0x80; }

// Applies one line (NUL-terminated) if it is a mount line; 1 when mounted.
int apply_line(const char *line, config_mount_fn mount) {
    if (strncmp(line, kMountWord, kMountWordLength) != 0) return 0;
    const char *p = line + kMountWordLength;
    const char *vstart = p;
    while (!ends_virtual_path(static_cast<unsigned char>(*p))) p++;
    const size_t vlen = size_t(p - vstart);
    if (vlen > CONFIG_MOUNT_PATH_MAX) {
        codo_debug(CONFIG_MOUNT_TOO_LONG_MESSAGE);
        return 0;
    }
    char vpath[CONFIG_MOUNT_PATH_MAX + 1];
    memcpy(vpath, vstart, vlen);
    vpath[vlen] = '\0';
    while (*p == ' ') p++;
    const char *hstart = p;
    while (*p && *p != '\n' && *p != '\r') p++;
    char host[HOST_PATH_SIZE];
    const size_t hlen = size_t(p - hstart);
    if (hlen >= sizeof host) {
        codo_debug(HOST_PATH_TOO_LONG_MESSAGE);
        return 0;
    }
    memcpy(host, hstart, hlen);
    host[hlen] = '\0';
    char line_log[CONFIG_MOUNT_PATH_MAX + HOST_PATH_SIZE + 32];
    snprintf(line_log, sizeof line_log, "mount: [%s] [%s]\n", vpath, host);
    codo_debug(line_log);
    if (mount) mount(vpath, host);
    return 1;
}

}  // namespace

extern "C" int config_apply_mount_lines(const char *text, size_t length, config_mount_fn mount) {
    if (!text || length > BUFFER_MAX_LENGTH) return 0;
    buffer_rec *src = create_buffer_2(int32_t(length), 'o');
    if (!src) return 0;
    bwrite(text, 1, int64_t(length), src);
    src->cursor = 0;
    buffer_rec *line = create_buffer_2(256, 'o');
    int mounted = 0;
    while (line) {
        breadln(src, line);
        if (line->length == 0 && src->cursor >= src->length) break;
        mounted += apply_line(to_cstr(line), mount);
    }
    destroy_buffer(line);
    destroy_buffer(src);
    return mounted;
}

extern "C" int config_default_text(const char *appdata, char *out, size_t size) {
    const int n = snprintf(out, size, "# quillmar config\n\nmount / %sdrive\n", appdata ? appdata : "");
    if (n < 0 || size_t(n) >= size) {
        if (size) out[0] = '\0';
        return -1;
    }
    return n;
}
