// quillmar_config.txt: made with the default content when missing, then read.
#include "config_file.h"

#include <cstdio>

#include "buffer.h"
#include "host.h"
#include "host_exit.h"
#include "host_paths.h"
#include "pmount.h"

extern "C" int process_config_with(config_mount_fn mount) {
    char path[HOST_PATH_SIZE], drive[HOST_PATH_SIZE], appdata[HOST_PATH_SIZE];
    char line[HOST_PATH_SIZE + 64];
    codo_prefix_with_appdata_path(CONFIG_FILE_NAME, path);
    codo_prefix_with_appdata_path("drive", drive);
    codo_prefix_with_appdata_path("", appdata);
    if (drive[0]) codo_mkdir(drive);

    FILE *f = fopen(path, "rb");
    if (!f) {
        snprintf(line, sizeof line, "writing default config to %s\n", path);
        codo_debug(line);
        char text[HOST_PATH_SIZE + 64];
        const int n = config_default_text(appdata, text, sizeof text);
        f = fopen(path, "wb");
        if (!f) {
            printf("ERROR: could not write to %s\n", path);
            host_exit(1);
        }
        if (n > 0) fwrite(text, 1, size_t(n), f);
        fclose(f);
        f = fopen(path, "rb");
        if (!f) return 0;
    }
    buffer_rec *whole = create_buffer_2(1024, 'o');
    char chunk[1024];
    size_t got;
    while (whole && (got = fread(chunk, 1, sizeof chunk, f)) > 0)
        if (bwrite(chunk, 1, int64_t(got), whole) == 0) break;
    fclose(f);
    int mounted = 0;
    if (whole) mounted = config_apply_mount_lines(reinterpret_cast<char *>(whole->data), size_t(whole->length), mount);
    destroy_buffer(whole);
    return mounted;
}

extern "C" void process_config(void) { process_config_with(mount_host_path); }
