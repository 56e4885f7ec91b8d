// Fuzz target: the mount lines of quillmar_config.txt over arbitrary bytes.
// Every mount handed on must have a virtual path within the limit holding
// no space, control character or high byte, and a host path with no line end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config_file.h"
#include "fake_host.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "config: %s\n", what);
    abort();
}

int check_mount(const char *mount_point, const char *host_folder) {
    const size_t n = strlen(mount_point);
    if (n > CONFIG_MOUNT_PATH_MAX) fail("virtual path too long");
    for (size_t i = 0; i < n; i++) {
        const unsigned char c = static_cast<unsigned char>(mount_point[i]);
        if (c <= ' ' || c >= 0x80) fail("virtual path holds a separator");
    }
    if (strchr(host_folder, '\n') || strchr(host_folder, '\r')) fail("host path holds a line end");
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fake_host::reset();  // every mount line is logged; the fake log would otherwise grow for the whole run
    const int n = config_apply_mount_lines(reinterpret_cast<const char *>(data), size, check_mount);
    if (n < 0 || size_t(n) > size / 6 + 1) fail("more mounts than lines");
    return 0;
}
