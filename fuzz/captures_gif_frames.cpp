// Fuzz target: GIF recordings of random displays, colour tables, row banks,
// partly mapped display pages, regions, scales and frame sequences, coded to
// memory, read back with giflib and replayed: every recorded frame must show
// exactly the colours of a plain loop over process 3's display.
//
// Input: x0, y0, width, height, scale as i16 little-endian, a seed byte,
// then 4 bytes per display update (at most MAX_UPDATES): what changes
// before it. A seed byte of 128 or more makes every colour of the table different.
//
// The machine is made once. Each input starts from the same display (a
// fixed pattern, put back whole: one 127 KB copy) with the recorded region
// drawn from the seed, and its mapped pages are unmapped at the end. A
// region whose coded frame would exceed MAX_FRAME_PIXELS is cut down.
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "address_space.h"
#include "captures.h"
#include "captures_machine.h"
#include "host.h"

namespace {

// The reference work of each input stays out of the coverage the fuzzer
// follows: it is no code under test, and traced it took most of the time
// (two thirds of each input).
#define REFERENCE __attribute__((no_sanitize("coverage")))

void fail(const char *what) {
    fprintf(stderr, "gif frames: %s\n", what);
    abort();
}

REFERENCE uint32_t next(uint32_t &s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// The display byte at (x, y) of 'rec' by the access rule.
REFERENCE uint8_t display_byte(process_rec *rec, int x, int y) {
    const uint32_t a = 0x10000 + uint32_t(y * 480 + x);
    const uint32_t p = a >> 12, o = a & 4095;
    if (int32_t(o) < rec->page_len[p] && rec->page[p]) return rec->page[p][o];
    return rec->page_own[p] ? rec->page_own[p][o] : 0;
}

REFERENCE uint32_t row_bank(process_rec *rec, int y) {
    const uint8_t v = rec->page_own[5][0x400 + (y >> 2)];
    return (v >> ((2 * y) & 6)) & 3;
}

int put(void *ctx, const uint8_t *bytes, int64_t n) {
    static_cast<std::string *>(ctx)->append(reinterpret_cast<const char *>(bytes), size_t(n));
    return 0;
}

struct reader {
    const std::string *s;
    size_t at;
};

int get(GifFileType *g, GifByteType *out, int n) {
    auto *r = static_cast<reader *>(g->UserData);
    const size_t k = std::min(size_t(n), r->s->size() - r->at);
    memcpy(out, r->s->data() + r->at, k);
    r->at += k;
    return int(k);
}

uint8_t mapped_bytes[4096];

inline constexpr int32_t DISPLAY_W = 480, DISPLAY_H = 270;
inline constexpr uint32_t DISPLAY_BYTES = DISPLAY_W * DISPLAY_H;

// Pixels of one coded frame (width x height x scale squared). Every stage
// (the recorder's rows, giflib's coding and decoding, the replay) is linear
// in them; with frames up to 1920 x 1080 the target ran 30 inputs a second.
// At 4096 every scale stays open (16 x 16 at 4, 256 x 16 at 1), and the
// clamps and edges of the region are reached with any size.
inline constexpr int64_t MAX_FRAME_PIXELS = 4096;

// Display updates per input. The recorder codes every other one, so six
// make three frames: the first, and two later ones, which reach every path
// a later frame has (its own colour table, transparency against the
// previous frame, the banks' facts against a frame that was itself a later
// one); further frames repeat them.
inline constexpr size_t MAX_UPDATES = 6;

// How the recorder clamps one parameter.
REFERENCE int32_t clamp_param(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Cuts 'p' (width at 2, height at 3, scale at 4) down so that the frame has
// at most MAX_FRAME_PIXELS pixels: the height first, then the width. Values
// already within the bound are left as given, out-of-range ones included.
REFERENCE void bound_region(int16_t p[5]) {
    const int64_t s2 = int64_t(clamp_param(p[4], 1, 4)) * clamp_param(p[4], 1, 4);
    int64_t w = clamp_param(p[2], 16, DISPLAY_W), h = clamp_param(p[3], 16, DISPLAY_H);
    if (w * h * s2 <= MAX_FRAME_PIXELS) return;
    h = std::max<int64_t>(16, MAX_FRAME_PIXELS / (w * s2));
    if (w * h * s2 > MAX_FRAME_PIXELS) w = std::max<int64_t>(16, MAX_FRAME_PIXELS / (h * s2));
    p[2] = int16_t(w);
    p[3] = int16_t(h);
}

// The display every input starts from: colours without colour 63, made once.
REFERENCE const std::vector<uint8_t> &base_display() {
    static std::vector<uint8_t> d;
    if (d.empty()) {
        uint32_t s = 0x9E3779B9u;
        d.resize(DISPLAY_BYTES);
        for (auto &b : d) {
            const uint8_t v = uint8_t(next(s));
            b = (v & 63) == 63 ? uint8_t(v ^ 1) : v;
        }
    }
    return d;
}

// The frame the recorder must write, into 'f': every pixel of the region,
// scaled, by the plain rule.
REFERENCE void expected_frame(process_rec *rec, const std::vector<uint32_t> &pal, int x0, int y0, int w, int h,
                              int scale, std::vector<uint32_t> &f) {
    f.resize(size_t(w) * scale * h * scale);
    uint32_t *out = f.data();
    for (int oy = 0; oy < h * scale; oy++) {
        const int sy = y0 + oy / scale;
        const uint32_t bank = row_bank(rec, sy) * 64;
        for (int ox = 0; ox < w * scale; ox++) *out++ = pal[bank + (display_byte(rec, x0 + ox / scale, sy) & 63)];
    }
}

}  // namespace

// The harness's own loops (the display, the replay) are reference work too;
// the recorder and giflib keep their coverage.
extern "C" REFERENCE int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto &m = captures_fuzz::boot_machine();
    if (size < 11) return 0;
    int16_t p[5];
    memcpy(p, data, sizeof p);
    bound_region(p);
    const uint8_t seed = data[10];
    uint32_t s = seed * 2654435761u + 1;
    data += 11;
    size -= 11;

    // Colour 63 in a bank-3 row turns transparency off: only planted ones.
    auto colour_byte = [&s] {
        const uint8_t v = uint8_t(next(s));
        return (v & 63) == 63 ? uint8_t(v ^ 1) : v;
    };
    write_bytes_proc(m.wm, 0x10000, base_display().data(), DISPLAY_BYTES);
    for (uint32_t a = 0; a < 68; a++) poke_proc(m.wm, 0x5400 + a, next(s));
    poke_proc(m.wm, 0x547C, next(s) % 5);
    std::vector<uint32_t> pal(526);
    // The seed byte's top bit makes every colour different.
    const uint32_t distinct = seed & 0x80 ? 0 : 2 + next(s) % 40;
    for (uint32_t i = 0; i < 526; i++)
        pal[i] = distinct ? (next(s) % distinct) * 0x3F1E2Du & 0xFFFFFF : (next(s) & 0xFFFF00) | (i & 0xFF);

    std::string out;
    gif_begin_stream(p[0], p[1], p[2], p[3], p[4], put, &out);
    const int x0 = src_x0, y0 = src_y0, w = src_width, h = src_height, scale = gif_scale;
    if (int64_t(w) * h * scale * scale > MAX_FRAME_PIXELS) fail("the region was not bounded");
    // The region's own pixels come from the seed.
    uint8_t row[DISPLAY_W];
    for (int y = y0; y < y0 + h; y++) {
        for (int x = 0; x < w; x++) row[x] = colour_byte();
        write_bytes_proc(m.wm, 0x10000 + uint32_t(y * DISPLAY_W + x0), row, uint32_t(w));
    }
    app.gif_recording = 1;
    app.gif_frame_count = 0;
    // The expected frames and the replay's canvas keep their memory from
    // input to input.
    static std::vector<std::vector<uint32_t>> want(MAX_UPDATES);
    static std::vector<uint32_t> canvas;
    size_t frames = 0;
    for (size_t k = 0; k + 4 <= size && k < 4 * MAX_UPDATES; k += 4) {
        const uint8_t op = data[k];
        s ^= uint32_t(data[k + 1]) << 16 | uint32_t(data[k + 2]) << 8 | data[k + 3];
        next(s);
        if (op & 1) pal[next(s) % 256] = next(s) & 0xFFFFFF;
        if (op & 2) poke_proc(m.wm, 0x5400 + next(s) % 68, next(s));
        if (op & 4) poke_proc(m.wm, 0x10000 + 480 * (y0 + next(s) % h) + x0 + next(s) % w, 63);
        if (op & 8)  // scribbles, half of them inside the region
            for (uint32_t n = next(s) % 256; n; n--) {
                const uint32_t at = next(s) & 1 ? 480 * (y0 + next(s) % h) + x0 + next(s) % w : next(s) % DISPLAY_BYTES;
                poke_proc(m.wm, 0x10000 + at, colour_byte());
            }
        if (op & 16) {
            for (auto &b : mapped_bytes) b = colour_byte();
            map_page(m.wm, int32_t(16 + next(s) % 32), mapped_bytes, int32_t(1 + next(s) % 4096));
        }
        if (op & 32) pal[256 + next(s) % 270] = next(s);  // video out's banks: not what the recorder uses
        if ((app.gif_frame_count & 1) == 0) expected_frame(m.wm, pal, x0, y0, w, h, scale, want[frames++]);
        update_gif_recording(pal.data());
    }
    for (int32_t pg = 16; pg < 48; pg++)
        if (m.wm->page_len[pg] && m.wm->page[pg] == mapped_bytes) unmap_page(m.wm, pg);
    const int r = gif_end_ex(1);
    app.gif_recording = 0;
    captures_fuzz::drain(m);
    if (frames == 0) {
        if (r != 1) fail("an empty recording was written");
        return 0;
    }
    if (r != 0) fail("the recording failed");

    reader rd{&out, 0};
    int err = 0;
    GifFileType *g = DGifOpen(&rd, get, &err);
    if (!g || DGifSlurp(g) != GIF_OK) fail("giflib cannot read the recording");
    if (g->ImageCount != int(frames)) fail("image count");
    if (g->SWidth != w * scale || g->SHeight != h * scale) fail("screen size");
    canvas.assign(size_t(g->SWidth) * g->SHeight, 0);
    for (int i = 0; i < g->ImageCount; i++) {
        const SavedImage &im = g->SavedImages[i];
        GraphicsControlBlock gcb{};
        DGifSavedExtensionToGCB(g, i, &gcb);
        const ColorMapObject *map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : g->SColorMap;
        for (size_t px = 0; px < canvas.size(); px++) {
            const uint8_t idx = im.RasterBits[px];
            if (gcb.TransparentColor == 255 && idx == 255) continue;
            const GifColorType &c = map->Colors[idx];
            canvas[px] = uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
        }
        if (canvas != want[size_t(i)]) fail("a replayed frame differs from the display");
    }
    DGifCloseFile(g, &err);
    return 0;
}
