// Image cartridges: the canvas from the template, the label picture and
// text, the ROM form in the low bits, and the PNG coding of the result.
#include "cart_png.h"

#include <lodepng.h>
#include <qoi.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cart_label.h"
#include "cart_rom.h"
#include "crc32.h"
#include "pfile.h"
#include "png_buffer.h"

std::string info_pod_buffer;

namespace {

inline constexpr const char *LABEL_PNG = "label.png";
inline constexpr const char *LABEL_QOI = "label.qoi";
inline constexpr const char *INFO_POD = ".info.pod";

// QOI header: "qoif", big-endian width and height, channels, colour space.
inline constexpr size_t QOI_HEADER_BYTES = 14;

// Label text colours on the canvas (RGB; alpha 255).
inline constexpr uint8_t TITLE_TOP = 208, TITLE_BOTTOM = 128, BYLINE = 144;

// zlib level and strategy of the picture's image data.
inline constexpr int PNG_ZLIB_LEVEL = 1;
inline constexpr int PNG_ZLIB_STRATEGY = Z_RLE;

struct free_deleter {
    void operator()(void *p) const { std::free(p); }
};
using malloc_ptr = std::unique_ptr<uint8_t, free_deleter>;

// The template's canvas, kept by the length and CRC-32 of its file.
struct template_cache {
    bool valid = false;
    int64_t length = -1;
    uint32_t crc = 0;
    std::vector<uint8_t> canvas;  // empty: the file is no usable template
};

template_cache g_template;

const cart_entry *top_level_file(const std::vector<cart_entry> &entries, const char *name) {
    for (const cart_entry &e : entries)
        if (!e.is_folder && e.name == name) return &e;
    return nullptr;
}

void fill_fallback(std::vector<uint8_t> &canvas) {
    for (size_t i = 0; i < canvas.size(); i += 4) std::memcpy(&canvas[i], KIV_PNG_FALLBACK, 4);
}

// The template's pixels into 'canvas' when it is a 512 x 384 picture.
bool load_template(std::vector<uint8_t> &canvas) {
    pfile_rec *f = pfopen(KIV_PNG_TEMPLATE, "rb");
    if (!f) return false;
    const buffer_rec *b = f->data;
    const int64_t length = b ? b->length : 0;
    const uint32_t crc = b ? crc32b(b->data, length) : 0;
    if (!g_template.valid || g_template.length != length || g_template.crc != crc) {
        g_template = template_cache{};
        uint32_t w = 0, h = 0;
        if (b && png_picture_size(b->data, static_cast<size_t>(length), &w, &h) && w == KIV_PNG_W && h == KIV_PNG_H) {
            uint8_t *px = nullptr;
            if (png_decode_bytes(&px, &w, &h, b->data, static_cast<size_t>(length), LCT_RGBA, 8) == 0 &&
                w == KIV_PNG_W && h == KIV_PNG_H)
                g_template.canvas.assign(px, px + KIV_PNG_CANVAS_BYTES);
            std::free(px);
        }
        g_template.valid = true;
        g_template.length = length;
        g_template.crc = crc;
    }
    pfclose(f);
    if (g_template.canvas.empty()) return false;
    canvas = g_template.canvas;
    return true;
}

void place_label(std::vector<uint8_t> &canvas, const uint8_t *rgba) {
    for (int y = 0; y < KIV_LABEL_H; y++)
        std::memcpy(&canvas[(static_cast<size_t>(KIV_LABEL_Y + y) * KIV_PNG_W + KIV_LABEL_X) * 4],
                    rgba + static_cast<size_t>(y) * KIV_LABEL_W * 4, static_cast<size_t>(KIV_LABEL_W) * 4);
}

// label.png when present (drawn only at 480 x 270), else label.qoi.
void draw_label_picture(std::vector<uint8_t> &canvas, const std::vector<cart_entry> &entries) {
    if (const cart_entry *png = top_level_file(entries, LABEL_PNG)) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(png->data.data());
        uint32_t w = 0, h = 0;
        if (!png_picture_size(bytes, png->data.size(), &w, &h) || w != KIV_LABEL_W || h != KIV_LABEL_H) return;
        uint8_t *px = nullptr;
        if (png_decode_bytes(&px, &w, &h, bytes, png->data.size(), LCT_RGBA, 8) == 0 && w == KIV_LABEL_W &&
            h == KIV_LABEL_H)
            place_label(canvas, px);
        std::free(px);
        return;
    }
    const cart_entry *qoi = top_level_file(entries, LABEL_QOI);
    if (!qoi || qoi->data.size() < QOI_HEADER_BYTES || qoi->data.size() > INT_MAX) return;
    const auto *head = reinterpret_cast<const uint8_t *>(qoi->data.data());
    auto be32 = [head](int at) {
        return uint32_t{head[at]} << 24 | uint32_t{head[at + 1]} << 16 | uint32_t{head[at + 2]} << 8 | head[at + 3];
    };
    if (std::memcmp(head, "qoif", 4) != 0 || be32(4) != KIV_LABEL_W || be32(8) != KIV_LABEL_H || head[12] != 4) return;
    qoi_desc desc{};
    malloc_ptr px(static_cast<uint8_t *>(qoi_decode(head, static_cast<int>(qoi->data.size()), &desc, 4)));
    if (px && desc.width == KIV_LABEL_W && desc.height == KIV_LABEL_H) place_label(canvas, px.get());
}

void set_pixel(std::vector<uint8_t> &canvas, int x, int y, uint8_t grey) {
    uint8_t *p = &canvas[(static_cast<size_t>(y) * KIV_PNG_W + x) * 4];
    p[0] = p[1] = p[2] = grey;
    p[3] = 255;
}

void draw_label_text(std::vector<uint8_t> &canvas, const uint8_t *text) {
    for (int y = 0; y < LABEL_TEXT_H; y++)
        for (int x = 0; x < LABEL_TEXT_W; x++) {
            if (!text[y * LABEL_TEXT_W + x]) continue;
            if (y < LABEL_TEXT_H / 2) {
                const int cx = KIV_TITLE_X + 2 * x, cy = KIV_TITLE_Y + 2 * y;
                set_pixel(canvas, cx, cy, TITLE_TOP);
                set_pixel(canvas, cx + 1, cy, TITLE_TOP);
                set_pixel(canvas, cx, cy + 1, TITLE_BOTTOM);
                set_pixel(canvas, cx + 1, cy + 1, TITLE_BOTTOM);
            } else {
                set_pixel(canvas, KIV_BYLINE_X + x, KIV_BYLINE_Y + y, BYLINE);
            }
        }
}

// zlib's deflate for the picture's image data: much faster than LodePNG's
// own. The filtered low bits are noise that long matches rarely find: runs
// and the Huffman coding do nearly all the work, faster and smaller than a
// full match search.
unsigned zlib_compress(unsigned char **out, size_t *outsize, const unsigned char *in, size_t insize,
                       const LodePNGCompressSettings *) {
    z_stream z{};
    if (deflateInit2(&z, PNG_ZLIB_LEVEL, Z_DEFLATED, 15, 8, PNG_ZLIB_STRATEGY) != Z_OK) return 83;
    const uLong bound = deflateBound(&z, static_cast<uLong>(insize));
    auto *buf = static_cast<unsigned char *>(std::malloc(bound));
    if (!buf) {
        deflateEnd(&z);
        return 83;
    }
    z.next_in = const_cast<Bytef *>(in);
    z.avail_in = static_cast<uInt>(insize);
    z.next_out = buf;
    z.avail_out = static_cast<uInt>(bound);
    const int r = deflate(&z, Z_FINISH);
    const size_t size = z.total_out;
    deflateEnd(&z);
    if (r != Z_STREAM_END) {
        std::free(buf);
        return 83;
    }
    *out = buf;
    *outsize = size;
    return 0;
}

bool encode_canvas(const std::vector<uint8_t> &canvas, std::string &out) {
    LodePNGState state;
    lodepng_state_init(&state);
    state.info_raw.colortype = LCT_RGBA;
    state.info_raw.bitdepth = 8;
    state.info_png.color.colortype = LCT_RGBA;
    state.info_png.color.bitdepth = 8;
    state.encoder.auto_convert = 0;
    state.encoder.zlibsettings.custom_zlib = zlib_compress;
    // One filter for every row: the low bits are noise, which no choice of
    // filter per row compresses much better.
    state.encoder.filter_strategy = LFS_FOUR;
    unsigned char *png = nullptr;
    size_t size = 0;
    const unsigned err = lodepng_encode(&png, &size, canvas.data(), KIV_PNG_W, KIV_PNG_H, &state);
    lodepng_state_cleanup(&state);
    if (!err) out.append(reinterpret_cast<const char *>(png), size);
    std::free(png);
    return err == 0;
}

}  // namespace

void kiv_png_embed(uint8_t *canvas, size_t canvas_len, const uint8_t *rom, size_t rom_len) {
    uint64_t acc = 0;
    int bits = 0;
    size_t next = 0;
    size_t i = 0;
    // Whole pixels: 11 bits each, 3 to R, G and B and 2 to A.
    for (; i + 4 <= canvas_len; i += 4) {
        while (bits < 11) {
            acc |= uint64_t{next < rom_len ? rom[next] : uint8_t{0}} << bits;
            next++;
            bits += 8;
        }
        uint8_t *p = canvas + i;
        p[0] = static_cast<uint8_t>((p[0] & ~7) | (acc & 7));
        p[1] = static_cast<uint8_t>((p[1] & ~7) | ((acc >> 3) & 7));
        p[2] = static_cast<uint8_t>((p[2] & ~7) | ((acc >> 6) & 7));
        p[3] = static_cast<uint8_t>((p[3] & ~3) | ((acc >> 9) & 3));
        acc >>= 11;
        bits -= 11;
    }
    for (; i < canvas_len; i++) {
        const int n = (i & 3) == 3 ? 2 : 3;
        if (bits < n) {
            acc |= uint64_t{next < rom_len ? rom[next] : uint8_t{0}} << bits;
            next++;
            bits += 8;
        }
        const uint8_t mask = static_cast<uint8_t>((1u << n) - 1);
        canvas[i] = static_cast<uint8_t>((canvas[i] & ~mask) | (acc & mask));
        acc >>= n;
        bits -= n;
    }
}

cart_encode_status encode_kiv_png(const std::vector<cart_entry> &entries, std::string &out) {
    // Label text first, from a top-level .info.pod.
    std::vector<uint8_t> label_text;
    if (const cart_entry *info = top_level_file(entries, INFO_POD)) {
        label_text.assign(static_cast<size_t>(LABEL_TEXT_W) * LABEL_TEXT_H, 0);
        if (extract_label_text(reinterpret_cast<const uint8_t *>(info->data.data()), info->data.size(),
                               label_text.data()))
            info_pod_buffer = info->data;
        else
            label_text.clear();
    }

    std::string rom;
    if (!encode_kiv_rom(entries, KIV_ROM_SKIP_LABEL, rom)) return cart_encode_status::refused;
    if (rom.size() >= KIV_PNG_MAX_ROM) return cart_encode_status::too_large;

    std::vector<uint8_t> canvas(KIV_PNG_CANVAS_BYTES);
    if (!load_template(canvas)) fill_fallback(canvas);
    draw_label_picture(canvas, entries);
    if (!label_text.empty()) draw_label_text(canvas, label_text.data());
    kiv_png_embed(canvas.data(), canvas.size(), reinterpret_cast<const uint8_t *>(rom.data()), rom.size());
    return encode_canvas(canvas, out) ? cart_encode_status::written : cart_encode_status::refused;
}
