// Capture file names, and screenshots: the request, the countdown over
// produced frames, and the PNG (or the cartridge label's QOI) it stores.
#include <lodepng.h>
#include <qoi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "address_space.h"
#include "boot_hooks.h"
#include "captures.h"
#include "host.h"
#include "messages.h"
#include "pdisk.h"
#include "wm_display.h"

namespace {

inline constexpr const char *CAPTURE_FOLDER = "/desktop/host/";
inline constexpr int CAPTURE_MAX_NUMBER = 255;  /* name_1 .. name_255 */
inline constexpr uint32_t SSHOT_PARAMS_ADDR = 0x50;
inline constexpr int32_t MIN_REGION = 16;
inline constexpr int32_t MAX_SCALE = 4;
inline constexpr int32_t MAX_SKIP = 32;
inline constexpr const char *LABEL_FOLDER = "/ram/cart";  /* exists while a cartridge is open */
inline constexpr const char *LABEL_PATH = "/ram/cart/label.qoi";
inline constexpr const char *SHOT_FAILED = "could not store screenshot";

/* Writes the 'n' bytes into the open file 'f' and closes it; true once the
   file has reached its store. */
bool write_and_close(pfile_rec *f, const uint8_t *bytes, size_t n) {
    const bool written = pfwrite(bytes, 1, static_cast<int64_t>(n), f) == static_cast<int64_t>(n);
    return pfclose(f) == 0 && written;
}

/* PNG of the w x h RGBA pixels, colour type 6 at 8 bits whatever the
   colours; LodePNG's error code, the bytes in *out (free()). */
unsigned encode_rgba_png(const uint8_t *rgba, uint32_t w, uint32_t h, uint8_t **out, size_t *n) {
    LodePNGState state;
    lodepng_state_init(&state);
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.info_png.color.colortype = LCT_RGBA;
    state.info_png.color.bitdepth = 8;
    state.encoder.auto_convert = 0;
    *out = nullptr;
    *n = 0;
    const unsigned err = lodepng_encode(out, n, rgba, w, h, &state);
    lodepng_state_cleanup(&state);
    return err;
}

}  // namespace

char capture_filename_buf[CAPTURE_PATH_SIZE];

int32_t sshot_x0, sshot_y0, sshot_width, sshot_height, sshot_scale;
int32_t sshot_label, sshot_skip, sshot_silent;
char sshot_name[256];

/* ---- names ---- */

int32_t capture_clamp(int32_t v, int32_t lo, int32_t hi) {
    if (v > hi) v = hi;
    return v < lo ? lo : v;
}

void read_capture_name(char *out) {
    int i = 0;
    for (; i < CAPTURE_NAME_BYTES; i++) {
        const char c = static_cast<char>(peek(CAPTURE_NAME_ADDR + static_cast<uint32_t>(i)));
        if (c == 0) break;
        out[i] = (c == '/' || c == '\\') ? '_' : c;
    }
    out[i] = 0;
}

const char *get_capture_filename(const char *name, const char *ext) {
    snprintf(capture_filename_buf, sizeof capture_filename_buf, "%s%s%s", CAPTURE_FOLDER, name, ext);
    if (!pdisk_file_exists(capture_filename_buf)) return capture_filename_buf;
    for (int n = 1; n <= CAPTURE_MAX_NUMBER; n++) {
        snprintf(capture_filename_buf, sizeof capture_filename_buf, "%s%s_%d%s", CAPTURE_FOLDER, name, n, ext);
        if (!pdisk_file_exists(capture_filename_buf)) return capture_filename_buf;
    }
    return nullptr;
}

/* ---- the request and the countdown ---- */

void request_screenshot(void) {
    const uint32_t a = SSHOT_PARAMS_ADDR;
    sshot_width = capture_clamp(peek2(a + 4), MIN_REGION, CAPTURE_FRAME_W);
    sshot_height = capture_clamp(peek2(a + 6), MIN_REGION, CAPTURE_FRAME_H);
    sshot_x0 = capture_clamp(peek2(a + 0), 0, CAPTURE_FRAME_W - sshot_width);
    sshot_y0 = capture_clamp(peek2(a + 2), 0, CAPTURE_FRAME_H - sshot_height);
    sshot_scale = capture_clamp(peek2(a + 8), 1, MAX_SCALE);
    sshot_label = capture_clamp(peek2(a + 10), 0, 1);
    sshot_skip = capture_clamp(peek2(a + 12), 0, MAX_SKIP);
    sshot_silent = capture_clamp(peek2(a + 14), 0, 1);
    read_capture_name(sshot_name);
    if (sshot_label) {
        sshot_x0 = sshot_y0 = 0;
        sshot_width = CAPTURE_FRAME_W;
        sshot_height = CAPTURE_FRAME_H;
        sshot_scale = 1;
    }
}

extern "C" void update_screenshot(const uint32_t *frame) {
    if (!app.screenshot_requested) return;
    if (sshot_skip > 0) {
        sshot_skip--;
        return;
    }
    app.screenshot_requested = 0;
    capture_screenshot(frame);
}

/* ---- the capture ---- */

void capture_screenshot(const uint32_t *frame) {
    // The region was asked for in display pixels of process 3's video mode.
    const int32_t f = wm_video_factor();
    sshot_width = capture_clamp(sshot_width * f, 0, CAPTURE_FRAME_W);
    sshot_height = capture_clamp(sshot_height * f, 0, CAPTURE_FRAME_H);
    sshot_x0 = capture_clamp(sshot_x0 * f, 0, CAPTURE_FRAME_W - sshot_width);
    sshot_y0 = capture_clamp(sshot_y0 * f, 0, CAPTURE_FRAME_H - sshot_height);
    const int32_t scale = capture_clamp(sshot_scale, 1, MAX_SCALE);

    const uint32_t w = static_cast<uint32_t>(sshot_width * scale);
    const uint32_t h = static_cast<uint32_t>(sshot_height * scale);
    auto *rgba = static_cast<uint8_t *>(malloc(size_t(w) * h * 4));
    if (!rgba) {
        notify(SHOT_FAILED);
        return;
    }
    // One output row per frame row, the others copies of it.
    const size_t row_bytes = size_t(w) * 4;
    for (int32_t sy = 0; sy < sshot_height; sy++) {
        const uint32_t *src = frame + size_t(sy + sshot_y0) * CAPTURE_FRAME_W + sshot_x0;
        uint8_t *row = rgba + size_t(sy) * size_t(scale) * row_bytes;
        uint8_t *o = row;
        for (int32_t sx = 0; sx < sshot_width; sx++) {
            const uint32_t px = src[sx];
            const uint8_t rgba_px[4] = {uint8_t(px >> 16), uint8_t(px >> 8), uint8_t(px), 255};
            for (int32_t k = 0; k < scale; k++, o += 4) std::memcpy(o, rgba_px, 4);
        }
        for (int32_t k = 1; k < scale; k++) std::memcpy(row + size_t(k) * row_bytes, row, row_bytes);
    }

    if (sshot_label) {
        qoi_desc desc{};
        desc.width = w;
        desc.height = h;
        desc.channels = 4;
        desc.colorspace = QOI_LINEAR;
        pfile_rec *f = pdisk_directory_exists(LABEL_FOLDER, 1) ? pfopen(LABEL_PATH, "w") : nullptr;
        bool ok = false;
        if (f) {
            int n = 0;
            void *qoi = qoi_encode(rgba, &desc, &n);
            ok = write_and_close(f, static_cast<const uint8_t *>(qoi), qoi ? size_t(n) : 0) && qoi;
            free(qoi);
        }
        notify(ok ? "captured label (/ram/cart/label.qoi)" : SHOT_FAILED);
    } else {
        const char *path = get_capture_filename(sshot_name, ".png");
        pfile_rec *f = path ? pfopen(path, "wb") : nullptr;
        bool ok = false;
        if (f) {
            uint8_t *png = nullptr;
            size_t n = 0;
            const bool encoded = encode_rgba_png(rgba, w, h, &png, &n) == 0;
            ok = write_and_close(f, png, encoded ? n : 0) && encoded;
            free(png);
        }
        if (!ok) {
            notify(SHOT_FAILED);
        } else if (!sshot_silent) {
            char text[CAPTURE_PATH_SIZE + 64];
            snprintf(text, sizeof text, "captured %dx%d (x%d) screenshot: %s", sshot_width, sshot_height, scale,
                     path);
            notify(text);
        }
    }
    free(rgba);
}

/* ---- reset ---- */

extern "C" void captures_reset(void) {
    gif_cancel();
    if (app.audio_capturing || app.audio_capture_buffer) {
        // Stopped under the lock before the buffer goes; no file is written.
        os_lock_audio();
        __atomic_store_n(&app.audio_capturing, 0u, __ATOMIC_RELEASE);
        buffer_rec *b = app.audio_capture_buffer;
        app.audio_capture_buffer = nullptr;
        os_unlock_audio();
        destroy_buffer(b);
    }
}
