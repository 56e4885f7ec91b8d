// Fuzz target: GIF recordings of random displays, colour tables, row banks,
// partly mapped display pages, regions, scales and frame sequences, coded to
// memory, read back with giflib and replayed: every recorded frame must show
// exactly the colours of a plain loop over process 3's display.
//
// Input: x0, y0, width, height, scale as i16 little-endian, a seed byte,
// then 4 bytes per produced frame (at most 12): what changes before it.
// A seed byte of 128 or more makes every colour of the table different.
#include <gif_lib.h>

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

// The frame the recorder must write: every pixel of the region, scaled, by
// the plain rule.
REFERENCE std::vector<uint32_t> expected_frame(process_rec *rec, const std::vector<uint32_t> &pal, int x0, int y0,
                                               int w, int h, int scale) {
    std::vector<uint32_t> f(size_t(w) * scale * h * scale);
    uint32_t *out = f.data();
    for (int oy = 0; oy < h * scale; oy++) {
        const int sy = y0 + oy / scale;
        const uint32_t bank = row_bank(rec, sy) * 64;
        for (int ox = 0; ox < w * scale; ox++) *out++ = pal[bank + (display_byte(rec, x0 + ox / scale, sy) & 63)];
    }
    return f;
}

}  // namespace

// The harness's own loops (the display, the replay) are reference work too;
// the recorder and giflib keep their coverage.
extern "C" REFERENCE int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto &m = captures_fuzz::boot_machine();
    if (size < 11) return 0;
    int16_t p[5];
    memcpy(p, data, sizeof p);
    const uint8_t seed = data[10];
    uint32_t s = seed * 2654435761u + 1;
    data += 11;
    size -= 11;

    std::vector<uint8_t> display(129600);
    // Colour 63 in a bank-3 row turns transparency off: only planted ones.
    auto colour_byte = [&s] {
        const uint8_t v = uint8_t(next(s));
        return (v & 63) == 63 ? uint8_t(v ^ 1) : v;
    };
    for (auto &b : display) b = colour_byte();
    write_bytes_proc(m.wm, 0x10000, display.data(), uint32_t(display.size()));
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
    app.gif_recording = 1;
    app.gif_frame_count = 0;
    std::vector<std::vector<uint32_t>> want;
    for (size_t k = 0; k + 4 <= size && k < 48; k += 4) {
        const uint8_t op = data[k];
        s ^= uint32_t(data[k + 1]) << 16 | uint32_t(data[k + 2]) << 8 | data[k + 3];
        next(s);
        if (op & 1) pal[next(s) % 256] = next(s) & 0xFFFFFF;
        if (op & 2) poke_proc(m.wm, 0x5400 + next(s) % 68, next(s));
        if (op & 4) poke_proc(m.wm, 0x10000 + 480 * (y0 + next(s) % h) + x0 + next(s) % w, 63);
        if (op & 8)
            for (uint32_t n = next(s) % 4000; n; n--) poke_proc(m.wm, 0x10000 + next(s) % 129600, colour_byte());
        if (op & 16) {
            for (auto &b : mapped_bytes) b = colour_byte();
            map_page(m.wm, int32_t(16 + next(s) % 32), mapped_bytes, int32_t(1 + next(s) % 4096));
        }
        if (op & 32) pal[256 + next(s) % 270] = next(s);  // video out's banks: not what the recorder uses
        if ((app.gif_frame_count & 1) == 0) want.push_back(expected_frame(m.wm, pal, x0, y0, w, h, scale));
        update_gif_recording(pal.data());
    }
    for (int32_t pg = 16; pg < 48; pg++)
        if (m.wm->page_len[pg] && m.wm->page[pg] == mapped_bytes) unmap_page(m.wm, pg);
    const int r = gif_end_ex(1);
    app.gif_recording = 0;
    captures_fuzz::drain(m);
    if (want.empty()) {
        if (r != 1) fail("an empty recording was written");
        return 0;
    }
    if (r != 0) fail("the recording failed");

    reader rd{&out, 0};
    int err = 0;
    GifFileType *g = DGifOpen(&rd, get, &err);
    if (!g || DGifSlurp(g) != GIF_OK) fail("giflib cannot read the recording");
    if (g->ImageCount != int(want.size())) fail("image count");
    if (g->SWidth != w * scale || g->SHeight != h * scale) fail("screen size");
    std::vector<uint32_t> canvas(size_t(g->SWidth) * g->SHeight, 0);
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
