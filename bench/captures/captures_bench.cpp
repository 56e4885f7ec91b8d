// Capture benchmarks. Every result is a ratio of our time to a baseline's
// time on the same data in the same run (median of several runs), printed
// as "captures <benchmark> ratio: R"; the last line is "captures worst goal
// margin: M", the largest ratio divided by its goal (1.0 or less: every goal
// holds).
//   gif_s1, gif_s4  600 produced frames (tiled background and 32 moving
//                   sprites, then scrolling) through update_gif_recording at
//                   scale 1 and 4, against giflib alone coding the same index
//                   rasters; both outputs discard their bytes.
//   png_s1, png_s4  capture_screenshot of a 480 x 270 region at scale 1 and
//                   of the whole frame at scale 4 into a RAM folder at
//                   /desktop/host, against LodePNG alone encoding the same
//                   RGBA image with the same settings.
// Arguments name the benchmarks to run (all when none).
#include <gif_lib.h>
#include <lodepng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "address_space.h"
#include "app_state.h"
#include "captures.h"
#include "env.h"
#include "host.h"
#include "messages.h"
#include "pdisk.h"
#include "process.h"

namespace {

inline constexpr int FRAMES = 600;
inline constexpr int GIF_RUNS = 3;  // a scale-4 run codes 300 frames of 1920 x 1080
inline constexpr int PNG_RUNS = 15;

double worst_margin = 0;
uint64_t discarded = 0;

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char *name, double ours, double base, double goal) {
    const double ratio = ours / base;
    worst_margin = std::max(worst_margin, ratio / goal);
    std::printf("captures %s ratio: %.3f\n", name, ratio);
    std::fflush(stdout);
}

// The display of produced frame k: a tiled background with 32 moving
// sprites for the first 400 frames, then the background scrolling.
void make_display(int k, std::vector<uint8_t> &d) {
    const int scroll = k < 400 ? 0 : (k - 400) * 3;
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) {
            const int tx = (x + scroll) % 480, ty = (y + scroll / 2) % 270;
            d[size_t(y) * 480 + x] = uint8_t(((tx >> 4) + (ty >> 4)) % 7 + ((tx ^ ty) & 8 ? 16 : 0));
        }
    if (k >= 400) return;
    for (int s = 0; s < 32; s++) {
        const int sx = (s * 53 + k * (1 + s % 4)) % 464, sy = (s * 31 + k * (1 + s % 3)) % 254;
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++)
                if ((x - 8) * (x - 8) + (y - 8) * (y - 8) < 56) d[size_t(sy + y) * 480 + sx + x] = uint8_t(32 + s);
    }
}

std::vector<uint32_t> palette() {
    std::vector<uint32_t> pal(526, 0);
    for (int i = 0; i < 256; i++) pal[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
    return pal;
}

int discard(void *, const uint8_t *, int64_t n) {
    discarded += uint64_t(n);
    return 0;
}

int collect(void *ctx, const uint8_t *b, int64_t n) {
    static_cast<std::string *>(ctx)->append(reinterpret_cast<const char *>(b), size_t(n));
    return 0;
}

int giflib_discard(GifFileType *, const GifByteType *, int n) {
    discarded += uint64_t(n);
    return n;
}

struct reader {
    const std::string *s;
    size_t at;
};

int giflib_read(GifFileType *g, GifByteType *out, int n) {
    auto *r = static_cast<reader *>(g->UserData);
    const size_t k = std::min(size_t(n), r->s->size() - r->at);
    std::memcpy(out, r->s->data() + r->at, k);
    r->at += k;
    return int(k);
}

// Records the 600 frames at 'scale'; returns the time spent in the
// recorder alone (the display writes between frames are not counted).
double record(process_rec *wm, const std::vector<std::vector<uint8_t>> &displays, int scale,
              gif_output_fn out, void *ctx) {
    const auto pal = palette();
    gif_begin_stream(0, 0, 480, 270, scale, out, ctx);
    app.gif_recording = 1;
    app.gif_frame_count = 0;
    double t = 0;
    for (int k = 0; k < FRAMES; k++) {
        write_bytes_proc(wm, 0x10000, displays[size_t(k)].data(), 129600);
        const auto start = std::chrono::steady_clock::now();
        update_gif_recording(pal.data());
        t += seconds_since(start);
    }
    const auto start = std::chrono::steady_clock::now();
    gif_end_ex(1);
    t += seconds_since(start);
    app.gif_recording = 0;
    return t;
}

// giflib alone on the rasters of the recording 'bytes'.
double giflib_alone(const std::string &bytes) {
    reader rd{&bytes, 0};
    int err = 0;
    GifFileType *in = DGifOpen(&rd, giflib_read, &err);
    DGifSlurp(in);
    const auto start = std::chrono::steady_clock::now();
    GifFileType *out = EGifOpen(nullptr, giflib_discard, &err);
    EGifSetGifVersion(out, true);
    EGifPutScreenDesc(out, in->SWidth, in->SHeight, 8, 0, in->SColorMap);
    for (int i = 0; i < in->ImageCount; i++) {
        const SavedImage &im = in->SavedImages[i];
        EGifPutImageDesc(out, 0, 0, im.ImageDesc.Width, im.ImageDesc.Height, false, im.ImageDesc.ColorMap);
        for (int y = 0; y < im.ImageDesc.Height; y++)
            EGifPutLine(out, im.RasterBits + size_t(y) * im.ImageDesc.Width, im.ImageDesc.Width);
    }
    EGifCloseFile(out, &err);
    const double t = seconds_since(start);
    DGifCloseFile(in, &err);
    return t;
}

void bench_gif(process_rec *wm, const std::vector<std::vector<uint8_t>> &displays, int scale, const char *name,
               double goal) {
    std::string bytes;
    record(wm, displays, scale, collect, &bytes);
    std::vector<double> ours, base;
    for (int r = 0; r < GIF_RUNS; r++) {
        ours.push_back(record(wm, displays, scale, discard, nullptr));
        base.push_back(giflib_alone(bytes));
    }
    report(name, median(ours), median(base), goal);
}

double lodepng_alone(const std::vector<uint8_t> &rgba, unsigned w, unsigned h) {
    const auto start = std::chrono::steady_clock::now();
    LodePNGState state;
    lodepng_state_init(&state);
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.info_png.color.colortype = LCT_RGBA;
    state.info_png.color.bitdepth = 8;
    state.encoder.auto_convert = 0;
    unsigned char *png = nullptr;
    size_t n = 0;
    lodepng_encode(&png, &n, rgba.data(), w, h, &state);
    lodepng_state_cleanup(&state);
    discarded += n;
    free(png);
    return seconds_since(start);
}

void bench_png(process_rec *caller, const std::vector<uint32_t> &frame, int scale, const char *name, double goal) {
    const unsigned w = 480u * unsigned(scale), h = 270u * unsigned(scale);
    std::vector<uint8_t> rgba;
    rgba.reserve(size_t(w) * h * 4);
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++) {
            const uint32_t px = frame[size_t(y / unsigned(scale)) * 480 + x / unsigned(scale)];
            rgba.insert(rgba.end(), {uint8_t(px >> 16), uint8_t(px >> 8), uint8_t(px), 255});
        }
    std::vector<double> ours, base;
    for (int r = 0; r < PNG_RUNS; r++) {
        cproc = caller;
        for (uint32_t i = 0; i < 64; i++) poke(0x60 + i, i < strlen(name) ? uint8_t(name[i]) : 0);
        const int16_t block[8] = {0, 0, 480, 270, int16_t(scale), 0, 0, 1};
        for (int i = 0; i < 8; i++) poke2(0x50 + uint32_t(2 * i), block[i]);
        request_screenshot();
        const auto start = std::chrono::steady_clock::now();
        capture_screenshot(frame.data());
        ours.push_back(seconds_since(start));
        base.push_back(lodepng_alone(rgba, w, h));
    }
    report(name, median(ours), median(base), goal);
}

}  // namespace

int main(int argc, char **argv) {
    auto wanted = [&](const char *name) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; i++)
            if (std::strcmp(argv[i], name) == 0) return true;
        return false;
    };
    char tmpl[] = "/tmp/quillmar_bench_captures_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string root = tmpl;
    pdisk_set_appdata_folder(root + "/");
    config.headless = 1;
    processes_init();
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    mount_ram_folder("/desktop/host");
    process_rec *p[3];
    for (auto &rec : p) rec = create_process_from_code("", "bench", "/t/bench.lua", "");
    process_rec *wm = p[2];
    if (!wm || wm->id != WM_PID) return 1;

    std::vector<std::vector<uint8_t>> displays(FRAMES, std::vector<uint8_t>(129600));
    for (int k = 0; k < FRAMES; k++) make_display(k, displays[size_t(k)]);

    if (wanted("gif_s1")) bench_gif(wm, displays, 1, "gif_s1", 1.15);
    if (wanted("gif_s4")) bench_gif(wm, displays, 4, "gif_s4", 1.05);

    const auto pal = palette();
    std::vector<uint32_t> frame(480 * 270);
    for (size_t i = 0; i < frame.size(); i++) frame[i] = pal[displays[200][i] & 63];
    if (wanted("png_s1")) bench_png(p[0], frame, 1, "png_s1", 1.05);
    if (wanted("png_s4")) bench_png(p[0], frame, 4, "png_s4", 1.03);

    while (read_process_message(wm, nullptr)) {
    }
    processes_init();
    pdisk_shutdown();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::printf("captures worst goal margin: %.3f\n", worst_margin);
    return 0;
}
