// Fuzz target: capture parameter blocks and name bytes from process memory.
// The clamped values must stay within their ranges, the captured region
// within the frame at every video mode, and every capture path under
// /desktop/host/ with no separator taken from the name.
//
// Input: 32 bytes for 0x40-0x5F (the GIF and screenshot blocks), 64 name
// bytes for 0x60, one byte for process 3's video mode.
#include <cstdint>
#include <cstring>
#include <vector>

#include "address_space.h"
#include "captures.h"
#include "captures_machine.h"
#include "host.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "capture params: %s\n", what);
    abort();
}

void in_range(int32_t v, int32_t lo, int32_t hi, const char *what) {
    if (v < lo || v > hi) fail(what);
}

// 'path' is the folder, then a name without separators.
void check_path(const char *path) {
    static const char folder[] = "/desktop/host/";
    if (strncmp(path, folder, sizeof folder - 1) != 0) fail("path outside the desktop");
    const char *rest = path + sizeof folder - 1;
    if (strchr(rest, '/') || strchr(rest, '\\')) fail("separator from the name");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto &m = captures_fuzz::boot_machine();
    uint8_t bytes[97] = {};
    memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
    for (uint32_t i = 0; i < 96; i++) poke(0x40 + i, bytes[i]);
    poke_proc(m.wm, 0x547C, bytes[96]);

    request_screenshot();
    in_range(sshot_width, 16, 480, "width");
    in_range(sshot_height, 16, 270, "height");
    in_range(sshot_x0, 0, 480 - sshot_width, "x0");
    in_range(sshot_y0, 0, 270 - sshot_height, "y0");
    in_range(sshot_scale, 1, 4, "scale");
    in_range(sshot_label, 0, 1, "label");
    in_range(sshot_skip, 0, 32, "skip");
    in_range(sshot_silent, 0, 1, "silent");
    if (strlen(sshot_name) > 64) fail("name longer than 64 bytes");
    if (sshot_label && (sshot_x0 || sshot_y0 || sshot_width != 480 || sshot_height != 270 || sshot_scale != 1))
        fail("label is not the whole frame");
    if (const char *path = get_capture_filename(sshot_name, ".png")) check_path(path);

    // The capture scales the region by process 3's mode: it must stay inside
    // the frame (the sanitizer watches the reads). No folder is mounted for
    // the label, and the name is turned illegal, so nothing is stored.
    static std::vector<uint32_t> frame(480 * 270, 0x123456);
    sshot_name[0] = '\x01';
    capture_screenshot(frame.data());
    in_range(sshot_width, 1, 480, "captured width");
    in_range(sshot_height, 1, 270, "captured height");
    in_range(sshot_x0, 0, 480 - sshot_width, "captured x0");
    in_range(sshot_y0, 0, 270 - sshot_height, "captured y0");

    if (gif_start() == 0) {
        in_range(src_width, 16, 480, "gif width");
        in_range(src_height, 16, 270, "gif height");
        in_range(src_x0, 0, 480 - src_width, "gif x0");
        in_range(src_y0, 0, 270 - src_height, "gif y0");
        in_range(gif_scale, 1, 4, "gif scale");
        in_range(gif_skip, 0, 32, "gif skip");
        if (out_width != src_width * gif_scale || out_height != src_height * gif_scale) fail("gif size");
        check_path(gif_filename);
        gif_cancel();
    }
    captures_fuzz::drain(m);
    return 0;
}
