// Fuzz target: decode_host_text over arbitrary bytes held in an array of
// exactly their size; then the same bytes read as zenscii (NUL and CR left
// out) must come back through encode_host_text and decode_host_text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "host_text.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "hosttext: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20) return 0;
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size) memcpy(exact.get(), data, size);
    buffer_rec in{size, exact.get(), 't', static_cast<int32_t>(size), 0};
    buffer_rec *out = decode_host_text(&in);
    if (!out) fail("decode gave null");
    for (int32_t i = 0; i < out->length; i++)
        if (out->data[i] == 13) fail("carriage return kept");
    destroy_buffer(out);

    std::string zenscii;
    for (size_t i = 0; i < size; i++)
        if (data[i] != 0 && data[i] != 13) zenscii += static_cast<char>(data[i]);
    buffer_rec *host = encode_host_text(zenscii.c_str());
    if (!host) fail("encode gave null");
    // No code encodes to a byte-order mark's first bytes, so the form stays UTF-8.
    buffer_rec *back = decode_host_text(host);
    if (!back) fail("decode of encoded text gave null");
    if (static_cast<size_t>(back->length) != zenscii.size() ||
        memcmp(back->data, zenscii.data(), zenscii.size()) != 0)
        fail("zenscii did not round-trip");
    destroy_buffer(back);
    destroy_buffer(host);
    return 0;
}
