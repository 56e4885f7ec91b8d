// Host text conversion: the zenscii <-> Unicode tables, UTF-16/UTF-32
// transcoding and the table-driven matcher.
#include "host_text.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

/*
** {======================================================
** Tables
** =======================================================
*/

// Writes the UTF-8 form of 'cp' at out; returns its byte count.
constexpr int put_utf8(uint32_t cp, uint8_t *out) {
    if (cp < 0x80) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | cp >> 6);
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<uint8_t>(0xE0 | cp >> 12);
        out[1] = static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<uint8_t>(0xF0 | cp >> 18);
    out[1] = static_cast<uint8_t>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

// A UTF-8 sequence of up to 7 bytes and its length.
struct utf8_seq {
    uint8_t len;         // bytes used, 0..7
    uint8_t bytes[7];    // the sequence; unused bytes are 0
};

constexpr utf8_seq seq_of(uint32_t cp, uint32_t selector = 0) {
    utf8_seq s{};
    s.len = static_cast<uint8_t>(put_utf8(cp, s.bytes));
    if (selector) s.len = static_cast<uint8_t>(s.len + put_utf8(selector, s.bytes + s.len));
    return s;
}

// The emoji presentation selector that follows some glyphs' base character.
inline constexpr uint32_t kVs16 = 0xFE0F;

inline constexpr int kGlyphs = 70;

// Glyph entries in matching order: 0-25 stand for codes 128-153, 26-41 for
// 16-31, 42-43 for 254-255 and 44-69 for 'A'-'Z' (decoding only).
constexpr std::array<utf8_seq, kGlyphs> make_glyphs() {
    constexpr uint32_t base[44][2] = {
        {0x2588, 0}, {0x2592, 0}, {0x1F431, 0}, {0x2B07, kVs16}, {0x2591, 0}, {0x273D, 0},
        {0x25CF, 0}, {0x2665, 0}, {0x2609, 0}, {0xC6C3, 0}, {0x2302, 0}, {0x2B05, kVs16},
        {0x1F610, 0}, {0x266A, 0}, {0x1F17E, kVs16}, {0x25C6, 0}, {0x2026, 0}, {0x27A1, kVs16},
        {0x2605, 0}, {0x29D7, 0}, {0x2B06, kVs16}, {0x02C7, 0}, {0x2227, 0}, {0x274E, 0},
        {0x25A4, 0}, {0x25A5, 0},
        // codes 16-31
        {0x25AE, 0}, {0x25A0, 0}, {0x25A1, 0}, {0x2059, 0}, {0x2058, 0}, {0x2016, 0},
        {0x25C0, 0}, {0x25B6, 0}, {0x300C, 0}, {0x300D, 0}, {0x00A5, 0}, {0x2022, 0},
        {0x3001, 0}, {0x3002, 0}, {0x309B, 0}, {0x309C, 0},
        // codes 254-255
        {0x25DC, 0}, {0x25DD, 0},
    };
    std::array<utf8_seq, kGlyphs> t{};
    for (int k = 0; k < 44; k++) t[k] = seq_of(base[k][0], base[k][1]);
    for (int k = 44; k < kGlyphs; k++) t[k] = seq_of(0x1D622 + static_cast<uint32_t>(k - 44));
    return t;
}
constexpr std::array<utf8_seq, kGlyphs> unicode_glyph = make_glyphs();

// The zenscii code that glyph entry k decodes to.
constexpr uint8_t glyph_code(int k) {
    if (k < 26) return static_cast<uint8_t>(128 + k);
    if (k < 42) return static_cast<uint8_t>(16 + k - 26);
    if (k < 44) return static_cast<uint8_t>(254 + k - 42);
    return static_cast<uint8_t>('A' + k - 44);
}

// Superscripts by code; entries 0, 9, 10 and 13 are never used.
constexpr std::array<utf8_seq, 16> make_superscripts() {
    constexpr uint32_t cps[16] = {0x2070, 0x00B9, 0x00B2, 0x00B3, 0x2074, 0x2075, 0x2076, 0x2077,
                                  0x2078, 0x2079, 0x1D43, 0x1D47, 0x1D9C, 0x1D48, 0x1D49, 0x1DA0};
    std::array<utf8_seq, 16> t{};
    for (int c = 0; c < 16; c++) t[c] = seq_of(cps[c]);
    return t;
}
constexpr std::array<utf8_seq, 16> unicode_superscript = make_superscripts();

inline constexpr int kKana = 50;

// Hiragana for codes 154-203; katakana (204-253) are each 0x60 above.
inline constexpr uint16_t kHiragana[kKana] = {
    0x3042, 0x3044, 0x3046, 0x3048, 0x304A, 0x304B, 0x304D, 0x304F, 0x3051, 0x3053,
    0x3055, 0x3057, 0x3059, 0x305B, 0x305D, 0x305F, 0x3061, 0x3064, 0x3066, 0x3068,
    0x306A, 0x306B, 0x306C, 0x306D, 0x306E, 0x306F, 0x3072, 0x3075, 0x3078, 0x307B,
    0x307E, 0x307F, 0x3080, 0x3081, 0x3082, 0x3084, 0x3086, 0x3088, 0x3089, 0x308A,
    0x308B, 0x308C, 0x308D, 0x308F, 0x3092, 0x3093, 0x3063, 0x3083, 0x3085, 0x3087,
};

// The last two bytes of each kana's three-byte form (the first is 0xE3).
using kana_table = std::array<std::array<uint8_t, 2>, kKana>;
constexpr kana_table make_kana(uint32_t offset) {
    kana_table t{};
    for (int j = 0; j < kKana; j++) {
        uint8_t b[4] = {};
        put_utf8(kHiragana[j] + offset, b);
        t[j] = {b[1], b[2]};
    }
    return t;
}
constexpr kana_table unicode_hiragana = make_kana(0);
constexpr kana_table unicode_katakana = make_kana(0x60);

inline constexpr uint8_t kKanaLead = 0xE3;

// The UTF-8 form of every zenscii code (code 0 ends a text and has none).
constexpr std::array<utf8_seq, 256> make_encoding() {
    std::array<utf8_seq, 256> t{};
    for (int c = 1; c < 256; c++) {
        utf8_seq s{};
        if (c == 9 || c == 10 || c == 13 || (c >= 32 && c <= 126)) {
            s.len = 1;
            s.bytes[0] = static_cast<uint8_t>(c);
        } else if (c < 16) {
            s = unicode_superscript[c];
        } else if (c < 32) {
            s = unicode_glyph[c + 10];
        } else if (c == 127) {
            s = seq_of(0x25CB);
        } else if (c < 154) {
            s = unicode_glyph[c - 128];
        } else if (c < 204) {
            s = {3, {kKanaLead, unicode_hiragana[c - 154][0], unicode_hiragana[c - 154][1]}};
        } else if (c < 254) {
            s = {3, {kKanaLead, unicode_katakana[c - 204][0], unicode_katakana[c - 204][1]}};
        } else {
            s = unicode_glyph[c - 212];
        }
        t[c] = s;
    }
    return t;
}
constexpr std::array<utf8_seq, 256> kEncoding = make_encoding();

/*
** {======================================================
** Decoding steps
** =======================================================
*/

// Unicode text forms a byte-order mark can announce.
enum class text_form { utf8, utf16le, utf16be, utf32le, utf32be };

// The form of the text and where its code units start.
text_form detect_form(const uint8_t *p, int64_t n, int64_t *start) {
    auto has = [&](int64_t at, std::initializer_list<uint8_t> bytes) {
        if (n - at < static_cast<int64_t>(bytes.size())) return false;
        int64_t i = at;
        for (uint8_t b : bytes)
            if (p[i++] != b) return false;
        return true;
    };
    *start = 0;
    if (has(0, {0xEF, 0xBB, 0xBF})) {
        *start = 3;
        return text_form::utf8;
    }
    if (has(0, {0xFF, 0xFE, 0x00, 0x00})) {
        *start = 4;
        return text_form::utf32le;
    }
    if (has(0, {0xFF, 0xFE})) {
        *start = 2;
        return text_form::utf16le;
    }
    if (has(0, {0xFE, 0xFF}) && !has(2, {0x00, 0x00})) {
        *start = 2;
        return text_form::utf16be;
    }
    if (has(0, {0x00, 0x00, 0xFE, 0xFF})) {
        *start = 4;
        return text_form::utf32be;
    }
    return text_form::utf8;
}

inline bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The UTF-16 or UTF-32 code units of p[0..n) as UTF-8, appended to out.
void transcode(const uint8_t *p, int64_t n, text_form form, std::vector<uint8_t> *out) {
    const bool wide = form == text_form::utf32le || form == text_form::utf32be;
    const bool big = form == text_form::utf16be || form == text_form::utf32be;
    const int unit = wide ? 4 : 2;
    const int64_t units = n / unit;  // a trailing partial unit is dropped
    auto unit_at = [&](int64_t i) -> uint32_t {
        const uint8_t *q = p + i * unit;
        uint32_t v = 0;
        for (int k = 0; k < unit; k++) v |= uint32_t{q[big ? unit - 1 - k : k]} << (8 * k);
        return v;
    };
    out->reserve(static_cast<size_t>(units) * 3);
    uint8_t seq[4];
    for (int64_t i = 0; i < units; i++) {
        uint32_t cp = unit_at(i);
        if (!wide && is_high_surrogate(cp)) {
            if (i + 1 >= units || !is_low_surrogate(unit_at(i + 1))) continue;  // lone: dropped
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit_at(i + 1) - 0xDC00);
            i++;
        } else if (is_high_surrogate(cp) || is_low_surrogate(cp) || cp > 0x10FFFF) {
            continue;  // lone surrogate or beyond Unicode: dropped
        }
        const int len = put_utf8(cp, seq);
        out->insert(out->end(), seq, seq + len);
    }
}

inline bool matches(const uint8_t *p, int64_t left, const uint8_t *seq, int len) {
    return left >= len && memcmp(p, seq, static_cast<size_t>(len)) == 0;
}

// Decodes one zenscii code from the UTF-8 bytes at p (p[0] >= 128, 'left'
// bytes in all); *used receives the bytes consumed. An unmapped byte is
// itself, one byte long.
uint8_t match_code(const uint8_t *p, int64_t left, int *used) {
    for (int k = 0; k < kGlyphs; k++) {
        const utf8_seq &g = unicode_glyph[k];
        if (g.bytes[0] == p[0] && matches(p, left, g.bytes, g.len)) {
            *used = g.len;
            return glyph_code(k);
        }
    }
    *used = 3;
    if (p[0] == kKanaLead && left >= 3) {
        for (int j = 0; j < kKana; j++) {
            if (p[1] == unicode_hiragana[j][0] && p[2] == unicode_hiragana[j][1]) return static_cast<uint8_t>(154 + j);
            if (p[1] == unicode_katakana[j][0] && p[2] == unicode_katakana[j][1]) return static_cast<uint8_t>(204 + j);
        }
    }
    if (matches(p, left, kEncoding[127].bytes, 3)) return 127;
    for (int c = 1; c < 16; c++) {
        if (c == 9 || c == 10 || c == 13) continue;
        const utf8_seq &s = unicode_superscript[c];
        if (matches(p, left, s.bytes, s.len)) {
            *used = s.len;
            return static_cast<uint8_t>(c);
        }
    }
    *used = 1;
    return p[0];
}

// Appends the zenscii form of the UTF-8 bytes p[0..n) to out.
bool decode_utf8(const uint8_t *p, int64_t n, buffer_rec *out) {
    int64_t i = 0;
    while (i < n) {
        // A run of plain ASCII goes across at once.
        int64_t j = i;
        while (j < n && p[j] < 128 && p[j] != 13) j++;
        if (j > i && bwrite(p + i, 1, j - i, out) != j - i) return false;
        i = j;
        if (i >= n) break;
        if (p[i] == 13) {
            i++;
            continue;
        }
        int used = 1;
        const uint8_t code = match_code(p + i, n - i, &used);
        if (bwrite_uint8(code, out) != 1) return false;
        i += used;
    }
    return true;
}

}  // namespace

/*
** {======================================================
** Zenscii -> host
** =======================================================
*/

buffer_rec *encode_host_text(const char *text) {
    if (!text) return nullptr;
    const size_t len = strlen(text);
    if (len > BUFFER_MAX_LENGTH / 7) return nullptr;  // the longest result must fit a buffer
    buffer_rec *out = create_buffer_2(static_cast<int32_t>(len * 3 / 2), 'i');
    if (!out) return nullptr;
    for (const uint8_t *p = reinterpret_cast<const uint8_t *>(text); *p; p++) {
        const utf8_seq &s = kEncoding[*p];
        if (bwrite(s.bytes, 1, s.len, out) != s.len) {
            destroy_buffer(out);
            return nullptr;
        }
    }
    return out;
}

/*
** {======================================================
** Host -> zenscii
** =======================================================
*/

buffer_rec *decode_host_text(const buffer_rec *b) {
    if (!b) return nullptr;
    const int64_t n = b->length > 0 ? b->length : 0;
    buffer_rec *out = create_buffer_2(static_cast<int32_t>(n), 'i');
    if (!out) return nullptr;
    int64_t start = 0;
    const text_form form = detect_form(b->data, n, &start);
    bool ok;
    if (form == text_form::utf8) {
        ok = decode_utf8(b->data + start, n - start, out);
    } else {
        std::vector<uint8_t> utf8;
        transcode(b->data + start, n - start, form, &utf8);
        ok = decode_utf8(utf8.data(), static_cast<int64_t>(utf8.size()), out);
    }
    if (ok) return out;
    destroy_buffer(out);
    return nullptr;
}
