// Fuzz target: the hex-text readers and the line reader over arbitrary bytes,
// against plain reference readings.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "buffer.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "hex_and_lines: %s\n", what);
    abort();
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// Walks the NUL-terminated text with the readers in turn (2, 4, 8, 16
// digits, chosen by the text itself) until its NUL.
void check_hex_readers(const std::string &text) {
    const char *p = text.c_str();
    const char *end = p + strlen(p);
    while (p < end) {
        static const int widths[] = {2, 4, 8, 16};
        const int digits = widths[static_cast<unsigned char>(*p) % 4];
        const char *q = p;
        uint64_t want = 0;
        int n = 0;
        for (; n < digits && q[n]; n++) want = want << 4 | hex_value(static_cast<unsigned char>(q[n]));
        if (n < digits) want = 0;
        int64_t got = 0;
        switch (digits) {
            case 2: got = read_u8_from_hex_str(&p); break;
            case 4: got = static_cast<uint16_t>(read_i16_from_hex_str(&p)); break;
            case 8: got = static_cast<uint32_t>(read_i32_from_hex_str(&p)); break;
            default: got = read_i64_from_hex_str(&p); break;
        }
        if (static_cast<uint64_t>(got) != want) fail("hex value");
        if (p != q + n) fail("hex cursor");
    }
}

// Reads every line and checks them against a split at each LF, less one CR
// before it.
void check_lines(const uint8_t *data, size_t size) {
    buffer_rec *src = create_buffer_2(0, 't');
    bwrite(data, 1, static_cast<int64_t>(size), src);
    src->cursor = 0;
    const std::string all(reinterpret_cast<const char *>(data), size);
    size_t from = 0;
    buffer_rec *line = nullptr;
    while (src->cursor < src->length) {
        const int32_t before = src->cursor;
        line = breadln(src, line);
        if (!line || src->cursor <= before) fail("breadln made no progress");
        if (line->data[line->length] != 0) fail("line not NUL-terminated");
        const size_t lf = all.find('\n', from);
        std::string want = all.substr(from, lf == std::string::npos ? std::string::npos : lf - from);
        if (lf != std::string::npos && !want.empty() && want.back() == '\r') want.pop_back();
        from = lf == std::string::npos ? size : lf + 1;
        if (std::string(reinterpret_cast<char *>(line->data), line->length) != want) fail("line");
        if (static_cast<size_t>(src->cursor) != from) fail("line cursor");
    }
    line = breadln(src, line);
    if (line->length != 0 || line->data[0] != 0) fail("line at the end not empty");

    // The same bytes as pairs of hex digits.
    src->cursor = 0;
    for (size_t i = 0; i + 2 <= size; i += 2) {
        const int want = hex_value(data[i]) << 4 | hex_value(data[i + 1]);
        if (bread_uint8_hex(src) != want) fail("bread_uint8_hex");
    }
    if (bread_uint8_hex(src) != 0 || static_cast<size_t>(src->cursor) != size - size % 2)
        fail("bread_uint8_hex past the end");
    destroy_buffer(line);
    destroy_buffer(src);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    check_hex_readers(std::string(reinterpret_cast<const char *>(data), size));
    check_lines(data, size);
    return 0;
}
