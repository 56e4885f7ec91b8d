// Fuzz target: the image cartridge writer on a small tree whose label.png,
// label.qoi, template and .info.pod come from the input. What it writes must
// read back (a plain reader: LodePNG, the low bits, the ROM reader) to the
// tree without its label pictures.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cart_png.h"
#include "fake_host.h"
#include "kiv_png_reader.h"
#include "no_host_fs.h"
#include "pdisk.h"

namespace {

no_host_fs g_host;

void setup() {
    pdisk_set_host_fs(&g_host);
    pdisk_set_clock_ms(1000);
    pfile_init();
    pfile_reset();
    mount_ram_folder("/system");
    pmkdir("/system/misc");
}

void fail(const char *what) {
    std::fprintf(stderr, "kiv_png_write: %s\n", what);
    std::abort();
}

// The next part of the input: a 16-bit length, then that many bytes (cut at the end).
std::string part(const uint8_t *&p, const uint8_t *end) {
    if (end - p < 2) return {};
    size_t n = size_t{p[0]} | size_t{p[1]} << 8;
    p += 2;
    n = std::min(n, size_t(end - p));
    std::string s(reinterpret_cast<const char *>(p), n);
    p += n;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setup(), true);
    (void)ready;
    fake_host::reset();
    const uint8_t *p = data, *end = data + size;
    const std::string label_png = part(p, end), label_qoi = part(p, end), tmpl = part(p, end), info = part(p, end);
    if (pfile_rec *f = pfopen(KIV_PNG_TEMPLATE, "w")) {
        pfwrite(tmpl.data(), 1, int64_t(tmpl.size()), f);
        pfclose(f);
    }
    std::vector<cart_entry> entries = {{"main.lua", "print(1)", false}, {".info.pod", info, false}};
    std::vector<cart_entry> expected = entries;
    if (!label_png.empty()) entries.push_back({"label.png", label_png, false});
    if (!label_qoi.empty()) entries.push_back({"label.qoi", label_qoi, false});
    std::string out;
    const cart_encode_status s = encode_kiv_png(entries, out);
    if (s == cart_encode_status::refused) fail("a small tree was refused");
    if (s == cart_encode_status::too_large) return 0;
    const auto back = read_kiv_png(out);
    if (!back || *back != expected) fail("the picture does not read back to the tree");
    return 0;
}
