// Fuzz target: the text cartridge reader. Every entry read must have a legal
// name, and what was read must write back, in both encodings, and read again
// to the same entries.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cart_common.h"
#include "cart_text.h"
#include "fake_host.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "kiv: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fake_host::reset();  // the fake log would otherwise grow for the whole run
    const cart_read_result r = decode_kiv_text(data, size, "/ram/mount/fuzz");
    for (const cart_entry &e : r.entries) {
        if (!cart_name_ok(e.name)) fail("an illegal name was read");
        if (e.is_folder && !e.data.empty()) fail("a folder with data");
    }
    if (r.entries.size() > KIV_TEXT_MAX_ENTRIES) return 0;  // more than the file slots could hold
    for (bool use_hex : {false, true}) {
        std::string text;
        if (!encode_kiv_text(r.entries, use_hex, text)) fail("what was read does not write back");
        const cart_read_result again =
            decode_kiv_text(reinterpret_cast<const uint8_t *>(text.data()), text.size(), "again");
        if (!again.read_whole || again.entries != r.entries) fail("the written cartridge reads back differently");
    }
    return 0;
}
