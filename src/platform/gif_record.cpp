// GIF recording of the window manager's display. Each recorded frame is
// coded as it arrives (giflib's streaming calls) and its bytes appended to
// a hidden temporary file beside the target, which the end renames over
// the target; so memory holds about one frame, and the file's bytes are
// those of the whole recording coded at once.
#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "address_space.h"
#include "captures.h"
#include "host.h"
#include "host_replace.h"
#include "messages.h"
#include "pdisk.h"
#include "wm_display.h"

namespace {

inline constexpr uint32_t GIF_PARAMS_ADDR = 0x40;
inline constexpr int32_t MIN_REGION = 16;
inline constexpr int32_t MAX_SCALE = 4;
inline constexpr int32_t MAX_SKIP = 32;
inline constexpr int GIF_PAL_ENTRIES = 526;  /* 256 colours, then the 270 row banks */
inline constexpr int GIF_COLOURS = 256;
inline constexpr uint8_t UNCHANGED_INDEX = 255;
inline constexpr uint8_t BANK3_COLOUR63 = 63;  /* bank 3 colour 63 would be index 255 */
inline constexpr int FRAME_DELAY = 3;          /* hundredths of a second */
inline constexpr const char *WRITE_FAILED = "**error: could not write gif\n";

/* The parameters of a recording, as read from process memory. */
struct gif_params {
    int32_t x0, y0, width, height, scale, skip, silent;
};

/*
** The running recording. 'gif' is non-null exactly while one runs. The
** coded bytes of a frame collect in 'pending' and go to 'write' when the
** frame is done; once a write fails, 'failed' stops all further coding.
** 'display' and 'last' hold this frame's and the previous frame's display
** bytes; 'lastpal' is all zeros before the first frame.
*/
struct recorder {
    GifFileType *gif;               /* giflib's coder */
    gif_output_fn write;            /* where each frame's bytes go */
    void *write_ctx;
    bool to_file;                   /* temp and target name host files */
    std::string temp;               /* hidden sibling receiving the bytes */
    std::string target;             /* host path the end renames it to */
    bool failed;                    /* an output write failed */
    bool discarding;                /* closing without output */
    uint8_t *pending;               /* bytes coded since the last flush */
    size_t pending_len, pending_cap;
    uint8_t *display;               /* DISPLAY_BYTES */
    uint8_t *last;                  /* DISPLAY_BYTES */
    uint8_t *row;                   /* one output row (out_width) */
    uint8_t *src_row;               /* one region row of indices (src_width) */
    ColorMapObject *map;            /* this frame's colours */
    uint32_t pal[GIF_PAL_ENTRIES];  /* this frame's colours and banks */
    uint32_t firstpal[GIF_PAL_ENTRIES];
    uint32_t lastpal[GIF_PAL_ENTRIES];
};

recorder R;

/* giflib's output: collects the bytes until the frame is done, in the
   recorder that is the coder's user data. */
int collect(GifFileType *gif, const GifByteType *bytes, int n) {
    recorder &r = *static_cast<recorder *>(gif->UserData);
    if (r.discarding || r.failed || n <= 0) return n;
    if (r.pending_len + size_t(n) > r.pending_cap) {
        size_t cap = r.pending_cap ? r.pending_cap : 65536;
        while (cap < r.pending_len + size_t(n)) cap *= 2;
        auto *grown = static_cast<uint8_t *>(realloc(r.pending, cap));
        if (!grown) {
            r.failed = true;
            return n;
        }
        r.pending = grown;
        r.pending_cap = cap;
    }
    std::memcpy(r.pending + r.pending_len, bytes, size_t(n));
    r.pending_len += size_t(n);
    return n;
}

/* Hands the collected bytes to the output. */
void flush() {
    if (!R.failed && R.pending_len && R.write(R.write_ctx, R.pending, int64_t(R.pending_len)) != 0)
        R.failed = true;
    R.pending_len = 0;
}

/* The file output: appends to the temporary file. */
int append_to_temp(void *, const uint8_t *bytes, int64_t n) {
    return pdisk_host_fs()->append(R.temp.c_str(), bytes, n) == 0 ? 0 : -1;
}

/* Frees everything 'r' holds (its coder must be closed). */
void release(recorder &r) {
    free(r.pending);
    free(r.display);
    free(r.last);
    free(r.row);
    free(r.src_row);
    if (r.map) GifFreeMapObject(r.map);
    r.pending = r.display = r.last = r.row = r.src_row = nullptr;
    r.map = nullptr;
    r.pending_len = r.pending_cap = 0;
    r.temp.clear();
    r.target.clear();
    r.to_file = false;
    r.failed = r.discarding = false;
    r.write = nullptr;
    r.write_ctx = nullptr;
}

void release() { release(R); }

/* Closes the coder; its trailer is kept only when 'keep'. */
void close_coder(bool keep) {
    if (!R.gif) return;
    R.discarding = !keep;
    int err = 0;
    EGifCloseFile(R.gif, &err);
    R.gif = nullptr;
    R.discarding = false;
}

gif_params read_params() {
    const uint32_t a = GIF_PARAMS_ADDR;
    gif_params p{};
    p.width = capture_clamp(peek2(a + 4), MIN_REGION, CAPTURE_FRAME_W);
    p.height = capture_clamp(peek2(a + 6), MIN_REGION, CAPTURE_FRAME_H);
    p.x0 = capture_clamp(peek2(a + 0), 0, CAPTURE_FRAME_W - p.width);
    p.y0 = capture_clamp(peek2(a + 2), 0, CAPTURE_FRAME_H - p.height);
    p.scale = capture_clamp(peek2(a + 8), 1, MAX_SCALE);
    p.skip = capture_clamp(peek2(a + 12), 0, MAX_SKIP);
    p.silent = capture_clamp(peek2(a + 14), 0, 1);
    return p;
}

void *zeroed_buffer(size_t n) { return calloc(n, 1); }

/* Makes the buffers and opens the coder of a recording of 'p' in 'r', which
   holds nothing, while any running recording goes on; false when they
   could not be made ('r' then holds nothing and '*err' has giflib's code). */
bool open_recorder(recorder &r, const gif_params &p, int *err) {
    r.display = static_cast<uint8_t *>(gif_buffer_alloc(DISPLAY_BYTES));
    r.last = static_cast<uint8_t *>(gif_buffer_alloc(DISPLAY_BYTES));
    r.row = static_cast<uint8_t *>(gif_buffer_alloc(size_t(p.width) * size_t(p.scale)));
    r.src_row = static_cast<uint8_t *>(gif_buffer_alloc(size_t(p.width)));
    r.map = GifMakeMapObject(GIF_COLOURS, nullptr);
    *err = 0;
    if (r.display && r.last && r.row && r.src_row && r.map) r.gif = EGifOpen(&r, collect, err);
    if (!r.gif) {
        release(r);
        return false;
    }
    // The version is fixed before the first frame's extensions exist.
    EGifSetGifVersion(r.gif, true);
    return true;
}

/* Cancels any running recording and makes the one opened in 'next' of 'p'
   run in its place, writing to 'write'. */
void run_recorder(recorder &next, const gif_params &p, gif_output_fn write, void *ctx) {
    gif_cancel();
    R = std::move(next);
    R.gif->UserData = &R;
    R.write = write;
    R.write_ctx = ctx;
    src_x0 = p.x0;
    src_y0 = p.y0;
    src_width = p.width;
    src_height = p.height;
    gif_scale = p.scale;
    out_width = p.width * p.scale;
    out_height = p.height * p.scale;
    gif_skip = p.skip;
    gif_silent = p.silent;
    gif_frames = 0;
}

/* Per bank: its 64 colours are the previous frame's ('same'), and no two
   of them are equal ('distinct'). */
struct bank_facts {
    bool same[4];
    bool distinct[4];
};

/* The index row of display row 'sy' across the region, 255 where the
   colour is the previous frame's and 'transparent' allows it. */
void index_row(int32_t sy, bool transparent, const bank_facts &facts) {
    const uint8_t *d = R.display + size_t(sy) * DISPLAY_W + src_x0;
    const uint32_t bank = R.pal[GIF_COLOURS + sy];
    const uint32_t base = bank * 64;
    uint8_t *o = R.src_row;
    if (!transparent) {
        for (int32_t x = 0; x < src_width; x++) o[x] = uint8_t(base + (d[x] & 63));
        return;
    }
    const uint8_t *l = R.last + size_t(sy) * DISPLAY_W + src_x0;
    const uint32_t *now = R.pal + base;
    const uint32_t last_bank = R.lastpal[GIF_COLOURS + sy];
    const uint32_t *before = R.lastpal + last_bank * 64;
    int32_t x = 0;
    constexpr uint64_t COLOUR_BITS = 0x3F3F3F3F3F3F3F3Full;
    constexpr uint64_t ONES = 0x0101010101010101ull;
    if (last_bank == bank && facts.same[bank] && facts.distinct[bank]) {
        // Same colours, all different: a pixel is unchanged exactly when its
        // colour byte is. Eight pixels a word: a byte of 'diff' (0..63) plus
        // 63 reaches bit 6 exactly when it is not 0; no byte carries.
        const uint64_t bases = uint64_t(base) * ONES;
        for (; x + 8 <= src_width; x += 8) {
            uint64_t a, b;
            std::memcpy(&a, d + x, 8);
            std::memcpy(&b, l + x, 8);
            const uint64_t diff = (a ^ b) & COLOUR_BITS;
            const uint64_t changed = (((diff + COLOUR_BITS) >> 6) & ONES) * 0xFF;
            const uint64_t out = (((a & COLOUR_BITS) + bases) & changed) | ~changed;
            std::memcpy(o + x, &out, 8);
        }
        for (; x < src_width; x++) o[x] = ((d[x] ^ l[x]) & 63) ? uint8_t(base + (d[x] & 63u)) : UNCHANGED_INDEX;
        return;
    }
    if (last_bank == bank && facts.same[bank]) {
        // Same colours in the same bank: equal colour bytes are unchanged
        // pixels, eight at a time; the rest take the general test below.
        for (; x + 8 <= src_width; x += 8) {
            uint64_t a, b;
            std::memcpy(&a, d + x, 8);
            std::memcpy(&b, l + x, 8);
            if (((a ^ b) & COLOUR_BITS) == 0) {
                std::memset(o + x, UNCHANGED_INDEX, 8);
                continue;
            }
            for (int32_t k = x; k < x + 8; k++) {
                const uint32_t c = d[k] & 63u;
                o[k] = now[c] == before[l[k] & 63u] ? UNCHANGED_INDEX : uint8_t(base + c);
            }
        }
    }
    for (; x < src_width; x++) {
        const uint32_t c = d[x] & 63u;
        o[x] = now[c] == before[l[x] & 63u] ? UNCHANGED_INDEX : uint8_t(base + c);
    }
}

/* Spreads src_row over row at gif_scale pixels each. */
void widen_row() {
    if (gif_scale == 1) {
        std::memcpy(R.row, R.src_row, size_t(src_width));
        return;
    }
    uint8_t *o = R.row;
    for (int32_t x = 0; x < src_width; x++)
        for (int32_t k = 0; k < gif_scale; k++) *o++ = R.src_row[x];
}

void put_extensions(bool first, bool transparent) {
    if (first) {
        static const uint8_t loop_forever[3] = {1, 0, 0};
        EGifPutExtensionLeader(R.gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(R.gif, 11, "NETSCAPE2.0");
        EGifPutExtensionBlock(R.gif, 3, loop_forever);
        EGifPutExtensionTrailer(R.gif);
    }
    const uint8_t control[4] = {uint8_t(transparent ? 1 : 0), FRAME_DELAY, 0, UNCHANGED_INDEX};
    EGifPutExtensionLeader(R.gif, GRAPHICS_EXT_FUNC_CODE);
    EGifPutExtensionBlock(R.gif, 4, control);
    EGifPutExtensionTrailer(R.gif);
}

}  // namespace

void *(*gif_buffer_alloc)(size_t n) = zeroed_buffer;
int32_t src_x0, src_y0, src_width, src_height, gif_scale;
int32_t out_width, out_height, gif_skip, gif_silent, gif_frames;
char gif_name[256];
char gif_filename[CAPTURE_PATH_SIZE];

/* ---- starting ---- */

int gif_start(void) {
    // Everything of the new recording is made before the running one goes:
    // a start that fails leaves it running.
    char name[CAPTURE_NAME_BYTES + 1];
    read_capture_name(name);
    const gif_params p = read_params();
    const char *path = get_capture_filename(name, ".gif");
    int code = 0;
    std::string target, temp;
    if (path) {
        int kind = 0;
        buffer_rec *origin = resolve_to_origin(path, &kind, 0);
        if (origin && origin->length > 0 && kind == 1) {
            host_fs *fs = pdisk_host_fs();
            target = to_cstr(origin);
            host_stat st{};
            if (fs->lstat(target.c_str(), &st) == 0 && st.is_link) {
                std::string real;
                if (fs->realpath(target.c_str(), &real) == 0) target = real;
            }
            const bool is_dir = fs->stat(target.c_str(), &st) == 0 && st.is_dir;
            if (is_dir || host_create_temp(fs, target.c_str(), &temp, nullptr) != 0) code = E_GIF_ERR_OPEN_FAILED;
        }
        destroy_buffer(origin);
    }
    if (!temp.empty()) {
        char path_copy[CAPTURE_PATH_SIZE];
        snprintf(path_copy, sizeof path_copy, "%s", path);
        recorder next{};
        int err = 0;
        if (open_recorder(next, p, &err)) {
            next.to_file = true;
            next.temp = temp;
            next.target = target;
            run_recorder(next, p, append_to_temp, nullptr);
            snprintf(gif_name, sizeof gif_name, "%s", name);
            snprintf(gif_filename, sizeof gif_filename, "%s", path_copy);
            return 0;
        }
        pdisk_host_fs()->remove(temp.c_str());
        code = err;
    }
    printf("** EGifOpenFileName error %d: p_path:%s\n", code, path ? path : "");
    fflush(stdout);
    return 1;
}

void gif_begin_stream(int32_t x0, int32_t y0, int32_t width, int32_t height, int32_t scale, gif_output_fn write,
                      void *ctx) {
    gif_params p{};
    p.width = capture_clamp(width, MIN_REGION, CAPTURE_FRAME_W);
    p.height = capture_clamp(height, MIN_REGION, CAPTURE_FRAME_H);
    p.x0 = capture_clamp(x0, 0, CAPTURE_FRAME_W - p.width);
    p.y0 = capture_clamp(y0, 0, CAPTURE_FRAME_H - p.height);
    p.scale = capture_clamp(scale, 1, MAX_SCALE);
    p.silent = 1;
    recorder next{};
    int err = 0;
    if (open_recorder(next, p, &err))
        run_recorder(next, p, write, ctx);
    else
        gif_cancel();
    gif_filename[0] = 0;
}

/* ---- frames ---- */

extern "C" void update_gif_recording(const uint32_t *display_pal) {
    if (!app.gif_recording) return;
    if (gif_skip > 0) {
        gif_skip--;
        return;
    }
    app.gif_frame_count++;
    if (app.gif_frame_count & 1) gif_frame(display_pal);
}

void gif_frame(const uint32_t *pal) {
    if (!R.gif) return;
    const process_rec *wm = get_process(WM_PID);
    if (!wm) return;
    if (R.failed) {  // the output is gone: count the frame, code nothing
        gif_frames++;
        return;
    }
    const bool first = gif_frames == 0;
    std::memcpy(R.pal, pal, GIF_COLOURS * sizeof(uint32_t));
    wm_read_row_banks(wm, R.pal + GIF_COLOURS);
    wm_read_display(wm, R.display);

    bool local_map = false;
    for (int i = 0; i < GIF_COLOURS; i++) {
        const uint32_t c = R.pal[i];
        R.map->Colors[i].Red = uint8_t(c >> 16);
        R.map->Colors[i].Green = uint8_t(c >> 8);
        R.map->Colors[i].Blue = uint8_t(c);
        if (!first && c != R.firstpal[i]) local_map = true;
    }
    if (first) {
        std::memcpy(R.firstpal, R.pal, sizeof R.firstpal);
        std::memset(R.lastpal, 0, sizeof R.lastpal);
        EGifPutScreenDesc(R.gif, out_width, out_height, 8, 0, R.map);
    }

    // Index 255 marks an unchanged pixel, so it is usable only when no
    // pixel of the region is itself colour 63 of bank 3.
    bool transparent = true;
    for (int32_t sy = src_y0; sy < src_y0 + src_height && transparent; sy++) {
        if (R.pal[GIF_COLOURS + sy] != 3) continue;
        const uint8_t *d = R.display + size_t(sy) * DISPLAY_W + src_x0;
        for (int32_t x = 0; x < src_width; x++)
            if ((d[x] & 63) == BANK3_COLOUR63) {
                transparent = false;
                break;
            }
    }

    put_extensions(first, transparent);
    if (!local_map && R.gif->Image.ColorMap) {
        // giflib drops the previous image's map without freeing it when the
        // next image has none.
        GifFreeMapObject(R.gif->Image.ColorMap);
        R.gif->Image.ColorMap = nullptr;
    }
    EGifPutImageDesc(R.gif, 0, 0, out_width, out_height, false, local_map ? R.map : nullptr);
    bank_facts facts{};
    for (int b = 0; b < 4 && !first; b++) {
        const uint32_t *colours = R.pal + 64 * b;
        facts.same[b] = std::memcmp(colours, R.lastpal + 64 * b, 64 * sizeof(uint32_t)) == 0;
        facts.distinct[b] = facts.same[b];
        for (int i = 1; i < 64 && facts.distinct[b]; i++)
            for (int j = 0; j < i; j++)
                if (colours[i] == colours[j]) {
                    facts.distinct[b] = false;
                    break;
                }
    }
    for (int32_t sy = src_y0; sy < src_y0 + src_height; sy++) {
        index_row(sy, transparent && !first, facts);
        widen_row();
        for (int32_t k = 0; k < gif_scale; k++) EGifPutLine(R.gif, R.row, out_width);
    }

    std::swap(R.display, R.last);
    std::memcpy(R.lastpal, R.pal, sizeof R.lastpal);
    gif_frames++;
    flush();
}

/* ---- ending ---- */

int gif_end(void) { return gif_end_ex(1); }

int gif_end_ex(int write) {
    if (!write) {
        gif_cancel();
        return 0;
    }
    bool ok = R.gif && gif_frames > 0 && !R.failed;
    close_coder(ok);
    if (ok) flush();
    ok = ok && !R.failed;
    if (R.to_file) {
        host_fs *fs = pdisk_host_fs();
        ok = ok && host_replace_temp(fs, R.temp.c_str(), R.target.c_str(), nullptr) == 0;
        if (!ok) fs->remove(R.temp.c_str());
    }
    release();
    if (!ok) {
        notify(WRITE_FAILED);
        return 1;
    }
    if (!gif_silent) {
        char text[CAPTURE_PATH_SIZE + 96];
        snprintf(text, sizeof text, "captured %d frame gif %dx%d (x%d): %s", gif_frames, src_width, src_height,
                 gif_scale, gif_filename);
        notify(text);
    }
    return 0;
}

void gif_cancel(void) {
    close_coder(false);
    if (R.to_file) pdisk_host_fs()->remove(R.temp.c_str());
    release();
}
