// Fuzz target: the pxu reader (head and body) over arbitrary records held in
// an array of exactly their size; a record that reads is written again at
// its own bit count and must read back to the same elements.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "pxu.h"

namespace {

// Larger arrays are skipped to keep each run fast; the typed-array
// constructor allows up to 16 MiB.
inline constexpr uint64_t kMaxElements = 1 << 20;

void fail(const char *what) {
    fprintf(stderr, "pxu: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size) memcpy(exact.get(), data, size);
    const uint8_t *end = exact.get() + size;
    pxu_head head;
    const uint8_t *body = pxu_read_head(exact.get(), end, &head);
    if (!body) return 0;
    if (body < exact.get() + 6 || body > end) fail("body outside the record");
    const uint64_t count = pxu_element_count(&head);
    if (count > kMaxElements) return 0;
    std::vector<uint8_t> elements(static_cast<size_t>(count), 0);
    const uint8_t *after = pxu_read_body(&head, body, end, elements.data(), count);
    if (!after) return 0;
    if (after < body || after > end) fail("record end outside the record");

    const int bits = head.format == PXU_CODED ? body[0] : 0;
    const pxu_head shape{head.type, 1, 0, static_cast<uint32_t>(count), 1, 1};
    buffer_rec *out = create_buffer_2(0, 'f');
    if (pxu_write(&shape, elements.data(), out, bits) != out->length) fail("written count");
    pxu_head back_head;
    const uint8_t *back_end = out->data + out->length;
    const uint8_t *back_body = pxu_read_head(out->data, back_end, &back_head);
    if (!back_body || pxu_element_count(&back_head) != count) fail("written head does not read");
    std::vector<uint8_t> back(static_cast<size_t>(count), 0);
    if (pxu_read_body(&back_head, back_body, back_end, back.data(), count) != back_end) fail("written body does not read");
    if (back != elements) fail("round trip changed the elements");
    destroy_buffer(out);
    return 0;
}
