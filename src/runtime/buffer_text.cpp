// Byte buffer: hexadecimal text and the two string escapes.
#include <cstring>

#include "buffer.h"
#include "buffer_grow.h"

extern "C" const uint8_t hex_digit_to_int[256] = {
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  0,  0,  0,  0,  0,  0,  // '0'-'9'
     0, 10, 11, 12, 13, 14, 15,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 'A'-'F'
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0, 10, 11, 12, 13, 14, 15,  0,  0,  0,  0,  0,  0,  0,  0,  0,  // 'a'-'f'
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
     0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
};

namespace {

inline constexpr char kHexDigits[] = "0123456789abcdef";

// Capacity of the shared escape buffer when first made (1025 bytes).
inline constexpr int32_t kEscapeBufferSize = 1024;

// Writes the low 'digits' nibbles of value as lowercase hex at the cursor,
// most significant first; 'append' moves the cursor to length first.
int write_hex(buffer_rec *b, uint64_t value, int digits, bool append) {
    if (!b) return 0;
    if (!(append ? buffer_room_at_end(b, digits) : buffer_room_at_cursor(b, digits))) return 0;
    uint8_t *out = b->data + b->cursor;
    for (int i = digits - 1; i >= 0; i--, value >>= 4) out[i] = kHexDigits[value & 15];
    buffer_advance(b, digits);
    return digits;
}

// Reads 'digits' hex characters at *p, most significant first; a NUL before
// the last gives 0 with *p left at the NUL.
uint64_t read_hex(const char **p, int digits) {
    if (!p || !*p) return 0;
    uint64_t value = 0;
    for (int i = 0; i < digits; i++) {
        const auto c = static_cast<unsigned char>(**p);
        if (c == 0) return 0;
        value = value << 4 | hex_digit_to_int[c];
        (*p)++;
    }
    return value;
}

// Backslash and the three decimal digits of c.
uint8_t *put_decimal_escape(uint8_t *out, uint8_t c) {
    out[0] = '\\';
    out[1] = static_cast<uint8_t>('0' + c / 100);
    out[2] = static_cast<uint8_t>('0' + c / 10 % 10);
    out[3] = static_cast<uint8_t>('0' + c % 10);
    return out + 4;
}

// The decimal escape escapes a byte that is below 32 as a signed char (so
// also 0x80-0xFF), a backslash or a double quote.
bool decimal_escaped(uint8_t c) {
    return static_cast<signed char>(c) < 32 || c == '\\' || c == '"';
}

// Characters the pod escape gives for c.
int pod_escape_size(uint8_t c) {
    if (c == '\n' || c == '\\' || c == '"') return 2;
    if (c < 32 || c >= 127 || c == ']') return 4;
    return 1;
}

}  // namespace

/*
** {======================================================
** Hexadecimal text
** =======================================================
*/

int bwrite_uint8_as_hex(uint8_t value, buffer_rec *b) { return write_hex(b, value, 2, false); }

int bwrite_int64_as_hex(int64_t value, buffer_rec *b) {
    return write_hex(b, static_cast<uint64_t>(value), 16, true);
}

int bwrite_int32_as_hex(int32_t value, buffer_rec *b) {
    return write_hex(b, static_cast<uint32_t>(value), 8, true);
}

int bwrite_int16_as_hex(int16_t value, buffer_rec *b) {
    return write_hex(b, static_cast<uint16_t>(value), 4, true);
}

uint8_t bread_uint8_hex(buffer_rec *b) {
    if (!b || b->cursor < 0 || int64_t{b->cursor} + 2 > int64_t{b->length}) return 0;
    const uint8_t *p = b->data + b->cursor;
    b->cursor += 2;
    return static_cast<uint8_t>(hex_digit_to_int[p[0]] << 4 | hex_digit_to_int[p[1]]);
}

uint8_t read_u8_from_hex_str(const char **p) { return static_cast<uint8_t>(read_hex(p, 2)); }

int16_t read_i16_from_hex_str(const char **p) {
    return static_cast<int16_t>(static_cast<uint16_t>(read_hex(p, 4)));
}

int32_t read_i32_from_hex_str(const char **p) {
    return static_cast<int32_t>(static_cast<uint32_t>(read_hex(p, 8)));
}

int64_t read_i64_from_hex_str(const char **p) { return static_cast<int64_t>(read_hex(p, 16)); }

/* }====================================================== */

/*
** {======================================================
** String escapes
** =======================================================
*/

int64_t bappend_str_escaped(buffer_rec *b, const char *text) {
    if (!b) return 0;
    if (!text) text = "";
    const auto *in = reinterpret_cast<const uint8_t *>(text);
    const size_t len = strlen(text);
    int64_t size = 0;
    for (size_t i = 0; i < len; i++) size += decimal_escaped(in[i]) ? 4 : 1;
    if (!buffer_room_at_end(b, size, &in)) return 0;
    uint8_t *out = b->data + b->cursor;
    for (size_t i = 0; i < len; i++) {
        if (decimal_escaped(in[i]))
            out = put_decimal_escape(out, in[i]);
        else
            *out++ = in[i];
    }
    buffer_advance(b, size);
    b->data[b->length] = 0;
    return size;
}

int64_t bwrite_escaped_string(const void *bytes, buffer_rec *b, int64_t n) {
    if (!b || !bytes || n <= 0) return 0;
    const auto *in = static_cast<const uint8_t *>(bytes);
    int64_t size = 0;
    for (int64_t i = 0; i < n; i++) size += pod_escape_size(in[i]);
    if (!buffer_room_at_end(b, size, &in)) return 0;
    uint8_t *out = b->data + b->cursor;
    for (int64_t i = 0; i < n; i++) {
        const uint8_t c = in[i];
        switch (pod_escape_size(c)) {
            case 1: *out++ = c; break;
            case 2:
                *out++ = '\\';
                *out++ = c == '\n' ? 'n' : c;
                break;
            default: out = put_decimal_escape(out, c); break;
        }
    }
    buffer_advance(b, size);
    return size;
}

const char *escape_lua_string(const char *text) {
    static buffer_rec *shared = nullptr;  // kept for the life of the program
    if (!shared) shared = create_buffer_2(kEscapeBufferSize, 'E');
    if (!shared) return "";
    bclear(shared);
    bappend_str_escaped(shared, text);
    return to_cstr(shared);
}

void bprintf(buffer_rec *, const char *, ...) {}

/* }====================================================== */
