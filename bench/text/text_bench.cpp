// Printer and image cartridge benchmarks. Every result is a ratio of our
// time to a baseline's time measured in the same run (median of several
// runs), printed as "text <figure> ratio: R (goal G)"; the last line is
// "text worst goal margin: M", the largest ratio over its goal.
#include <lodepng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "address_space.h"
#include "cart_png.h"
#include "cart_text.h"
#include "draw_state.h"
#include "fake_host.h"
#include "glyph.h"
#include "pdisk.h"
#include "printer.h"
#include "private_record.h"
#include "typed_ud.h"

namespace {

inline constexpr int RUNS = 7;
inline constexpr int W = 480, H = 270;
inline constexpr int FG = 7;

double worst_margin = 0;

struct timing {
    double ours, base;
};

timing measure(const std::function<void()> &ours, const std::function<void()> &base) {
    std::vector<double> a, b;
    auto time = [](const std::function<void()> &f) {
        const auto start = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (int i = 0; i < RUNS; i++) {
        a.push_back(time(ours));
        b.push_back(time(base));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return {a[RUNS / 2], b[RUNS / 2]};
}

void report(const char *name, timing t, double goal) {
    const double ratio = t.ours / t.base;
    std::printf("text %s ratio: %.3f (goal %.1f)\n", name, ratio, goal);
    worst_margin = std::max(worst_margin, ratio / goal);
}

/* ---- the printer ---- */

// 1,000,000 characters: codes 32-126, one in ten from 128-255, a newline every 90.
std::string bench_text() {
    std::mt19937 rng(1234);
    std::string s;
    for (int i = 0; i < 1000000; i++) {
        if (i % 91 == 90) {
            s += '\n';
            continue;
        }
        s += rng() % 10 == 0 ? char(128 + rng() % 128) : char(32 + rng() % 95);
    }
    return s;
}

// Screenfuls of 'lines' lines each.
std::vector<std::string> screens(const std::string &text, int lines) {
    std::vector<std::string> out;
    size_t start = 0;
    int n = 0;
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '\n' && ++n == lines) {
            out.push_back(text.substr(start, i + 1 - start));
            start = i + 1;
            n = 0;
        }
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

struct printer_bench {
    process_rec *rec;
    typed_ud_rec *bitmap;

    printer_bench() {
        rec = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
        bitmap = new_private_bitmap(W, H);
        uint32_t palette[64] = {};
        setup_private_record(rec, bitmap, palette);
        cproc = rec;
        get_masks_shape();
    }

    void print(const std::vector<std::string> &pages, const std::string &head) {
        for (const std::string &p : pages) {
            std::memset(ud_elements(bitmap), 0, size_t{W} * H);
            poke4(REG_CURSOR_X, 0);
            poke4(REG_CURSOR_Y, 0);
            poke4(REG_HOME_X, 0);
            const std::string text = head + p;
            print_zenscii(bitmap, text.data(), text.size(), 0, FG);
        }
    }
};

// The plain loop: per character its font rows at the printer's positions,
// one store per set bit ('scale' x 'scale' per bit), colour switches where
// code 12 stands.
void plain_print(const std::vector<std::string> &pages, uint8_t *pixels, int scale) {
    const uint8_t *font = lil_font_dat.data();
    for (const std::string &p : pages) {
        std::memset(pixels, 0, size_t{W} * H);
        int x = 0, y = 0;
        uint8_t colour = FG;
        for (size_t i = 0; i < p.size(); i++) {
            const uint8_t c = uint8_t(p[i]);
            if (c == '\n') {
                x = 0;
                y += 11 * scale;
                continue;
            }
            if (c == 12) {
                colour = uint8_t(print_digit(uint8_t(p[++i])) & 63);
                continue;
            }
            const int n = (c & 1) ? font[c >> 1] >> 4 : font[c >> 1] & 15;
            const int w = (c < 128 ? font[0] : font[1]) + ((n + 4) & 7) - 4;
            const uint8_t *rows = font + 8 * c;
            for (int r = 0; r < 8; r++) {
                uint32_t bits = rows[r] & ((1u << std::min(w, 8)) - 1);
                while (bits) {
                    const int col = __builtin_ctz(bits);
                    bits &= bits - 1;
                    for (int dy = 0; dy < scale; dy++)
                        for (int dx = 0; dx < scale; dx++) {
                            const int px = x + col * scale + dx, py = y + r * scale + dy;
                            if (px < W && py < H) pixels[py * W + px] = colour;
                        }
                }
            }
            x += w * scale;
        }
    }
}

std::string with_colour_codes(const std::string &text) {
    std::string out;
    int k = 0;
    bool word_start = true;
    for (char c : text) {
        if (c != ' ' && c != '\n' && word_start) {
            out += '\x0c';
            out += char('1' + k++ % 9);
        }
        word_start = c == ' ' || c == '\n';
        out += c;
    }
    return out;
}

void bench_printer() {
    printer_bench pb;
    std::vector<uint8_t> plain(size_t{W} * H);
    const std::string text = bench_text();
    struct figure {
        const char *name;
        std::string text, head;
        int scale, lines;
        double goal;
    } figures[] = {
        {"print_plain", text, "", 1, 24, 2.5},
        {"print_styled", text, "\x06w\x06t", 2, 12, 2.5},
        {"print_codes", with_colour_codes(text), "", 1, 24, 3.0},
    };
    for (const figure &f : figures) {
        const std::vector<std::string> pages = screens(f.text, f.lines);
        // Both leave the same last page.
        pb.print({pages.back()}, f.head);
        plain_print({pages.back()}, plain.data(), f.scale);
        if (std::memcmp(plain.data(), ud_elements(pb.bitmap), plain.size()) != 0) {
            std::printf("text %s: the printer and the plain loop differ\n", f.name);
            std::exit(1);
        }
        const timing t = measure([&] { pb.print(pages, f.head); }, [&] { plain_print(pages, plain.data(), f.scale); });
        std::printf("text %s characters per second: %.0f\n", f.name, double(text.size()) / t.ours);
        report(f.name, t, f.goal);
    }
}

/* ---- the image cartridge writer ---- */

std::vector<cart_entry> tree_t() {
    std::mt19937 rng(99);
    const char *words[] = {"local", "function", "end", "return", "if", "then", "else", "for", "in", "pairs",
                           "x", "y", "sprite", "draw", "update", "self", "=", "+", "(", ")", "{", "}", "nil", "42"};
    std::vector<cart_entry> t;
    for (int i = 0; i < 100; i++) {
        std::string s;
        while (s.size() < 3000) {
            s += words[rng() % 24];
            s += rng() % 8 == 0 ? '\n' : ' ';
        }
        s.resize(3000);
        t.push_back({"src/file" + std::to_string(i) + ".lua", s, false});
    }
    for (int i = 0; i < 20; i++) {
        std::string s(2000, '\0');
        for (size_t k = 1500; k < s.size(); k++) s[k] = char(rng());
        t.push_back({"gfx/" + std::to_string(i) + ".gfx", s, false});
    }
    std::vector<uint8_t> px(size_t{480} * 270 * 4);
    for (int y = 0; y < 270; y++)
        for (int x = 0; x < 480; x++) {
            uint8_t *p = &px[(size_t(y) * 480 + x) * 4];
            p[0] = uint8_t(x * 255 / 479);
            p[1] = uint8_t(y * 255 / 269);
            p[2] = uint8_t((x + y) / 3);
            p[3] = 255;
        }
    unsigned char *png = nullptr;
    size_t size = 0;
    lodepng_encode32(&png, &size, px.data(), 480, 270);
    t.push_back({"label.png", std::string(reinterpret_cast<char *>(png), size), false});
    std::free(png);
    t.push_back({".info.pod", "{author=\"bench\",title=\"Benchmark\",version=\"1.0\"}", false});
    return t;
}

void bench_writer() {
    pfile_init();
    pfile_reset();
    mount_ram_folder("/system");
    pmkdir("/system/misc");
    std::ifstream in(std::string(QUILLMAR_SOURCE_DIR) + "/rom/system/misc/kiv_cart.png", std::ios::binary);
    const std::string tmpl((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (pfile_rec *f = pfopen(KIV_PNG_TEMPLATE, "w")) {
        pfwrite(tmpl.data(), 1, int64_t(tmpl.size()), f);
        pfclose(f);
    }
    const std::vector<cart_entry> t = tree_t();
    std::string out;
    if (encode_kiv_png(t, out) != cart_encode_status::written) {
        std::printf("text: the image cartridge writer refused tree T\n");
        std::exit(1);
    }
    unsigned char *canvas = nullptr;
    unsigned w = 0, h = 0;
    lodepng_decode32(&canvas, &w, &h, reinterpret_cast<const unsigned char *>(out.data()), out.size());
    auto ours = [&] {
        std::string o;
        encode_kiv_png(t, o);
    };
    report("png_write_vs_lodepng", measure(ours, [&] {
               unsigned char *png = nullptr;
               size_t size = 0;
               lodepng_encode32(&png, &size, canvas, w, h);
               std::free(png);
           }),
           1.3);
    report("png_write_vs_kiv", measure(ours, [&] {
               std::string o;
               encode_kiv_text(t, false, o);
           }),
           200);
    std::free(canvas);
}

}  // namespace

// "bench_text printer" or "bench_text writer" runs one group.
int main(int argc, char **argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    fake_host::reset();
    processes_init();
    if (only.empty() || only == "printer") bench_printer();
    if (only.empty() || only == "writer") bench_writer();
    std::printf("text worst goal margin: %.3f\n", worst_margin);
    return 0;
}
