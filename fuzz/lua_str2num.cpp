// Fuzzes luaO_str2num, the numeral reader behind the lexer, string coercion
// and tonum, against a small independent reference: the integer forms
// (decimal, hexadecimal and binary, the last two wrapping modulo 2^64) are
// evaluated here digit by digit, binary floats are rounded on their digit
// string, and decimal and hexadecimal floats are checked for their shape and
// read with strtod, as Lua reads them. The text of each number read is
// checked against printf's.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <optional>
#include <string>

extern "C" {
#include "lobject.h"
}
#include "number_text.h"

namespace {

struct Number {
    bool is_int;  // integer or float
    int64_t i;
    double f;
};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_bin(char c) { return c == '0' || c == '1'; }
int hex_value(char c) { return is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// Digits of `digit` class, at least one overall, with at most one '.', then
// an optional exponent mark from `marks` with optional sign and decimal
// digits. Returns whether `s` (the whole of it) has this shape.
bool float_shape(const std::string &s, bool (*digit)(char), const char *marks) {
    size_t p = 0;
    int ndigits = 0;
    bool dot = false;
    for (; p < s.size(); p++) {
        if (digit(s[p])) ndigits++;
        else if (s[p] == '.' && !dot) dot = true;
        else break;
    }
    if (ndigits == 0) return false;
    if (p < s.size() && (s[p] == marks[0] || s[p] == marks[1])) {
        p++;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) p++;
        size_t start = p;
        while (p < s.size() && is_digit(s[p])) p++;
        if (p == start) return false;
    }
    return p == s.size();
}

// The value of a binary float ("0b" already removed, shape checked), rounded
// to nearest even on its digit string: the first 53 significant bits (fewer
// for a subnormal), the next one as the guard and any later 1 as sticky.
double binary_float(const std::string &body) {
    size_t mark = body.find_first_of("pP");
    std::string mant = body.substr(0, mark);
    long long e = 0;  // binary exponent of the last digit
    if (mark != std::string::npos) {
        size_t p = mark + 1;
        bool neg = false;
        if (body[p] == '+' || body[p] == '-') neg = body[p++] == '-';
        for (; p < body.size(); p++) e = std::min(e * 10 + (body[p] - '0'), 100000LL);
        if (neg) e = -e;
    }
    std::string bits;
    bool dot = false;
    for (char c : mant) {
        if (c == '.') dot = true;
        else {
            bits.push_back(c);
            if (dot) e--;
        }
    }
    size_t lead = bits.find('1');
    if (lead == std::string::npos) return 0.0;
    bits = bits.substr(lead);
    long long msb = (long long)bits.size() - 1 + e;  // exponent of the leading 1
    long long prec = msb >= -1022 ? 53 : 53 - (-1022 - msb);  // bits a double keeps
    if (prec < 0) return 0.0;  // below half the smallest subnormal
    uint64_t k = 0;
    for (long long i = 0; i < prec; i++) k = k * 2 + (i < (long long)bits.size() && bits[i] == '1');
    bool guard = prec < (long long)bits.size() && bits[prec] == '1';
    bool sticky = prec + 1 < (long long)bits.size() && bits.find('1', prec + 1) != std::string::npos;
    if (guard && (sticky || (k & 1))) k++;
    return std::ldexp(double(k), int(std::max(msb - prec + 1, -100000LL)));
}

std::optional<Number> reference(const std::string &text) {
    size_t b = 0, e = text.size();
    while (b < e && is_space(text[b])) b++;
    while (e > b && is_space(text[e - 1])) e--;
    std::string s = text.substr(b, e - b);
    bool neg = false;
    size_t p = 0;
    if (p < s.size() && (s[p] == '-' || s[p] == '+')) neg = s[p++] == '-';
    std::string body = s.substr(p);
    auto strtod_all = [](const std::string &t) -> std::optional<double> {
        char *end;
        double v = std::strtod(t.c_str(), &end);
        if (*end != '\0') return std::nullopt;
        return v;
    };
    if (body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
        std::string digits = body.substr(2);
        bool all = !digits.empty();
        uint64_t v = 0;
        for (char c : digits) {
            if (!is_hex(c)) { all = false; break; }
            v = v * 16 + hex_value(c);
        }
        if (all) return Number{true, int64_t(neg ? 0 - v : v), 0};
        if (!float_shape(digits, is_hex, "pP")) return std::nullopt;
        auto d = strtod_all(s);
        if (!d) return std::nullopt;
        return Number{false, 0, *d};
    }
    if (body.size() >= 2 && body[0] == '0' && (body[1] == 'b' || body[1] == 'B')) {
        std::string digits = body.substr(2);
        bool all = !digits.empty();
        uint64_t v = 0;
        for (char c : digits) {
            if (!is_bin(c)) { all = false; break; }
            v = v * 2 + (c - '0');
        }
        if (all) return Number{true, int64_t(neg ? 0 - v : v), 0};
        if (!float_shape(digits, is_bin, "pP")) return std::nullopt;
        double d = binary_float(digits);
        return Number{false, 0, neg ? -d : d};
    }
    bool all = !body.empty();
    bool fits = true;
    uint64_t v = 0;
    for (char c : body) {
        if (!is_digit(c)) { all = false; break; }
        if (v > (UINT64_MAX - 9) / 10) fits = false;
        else v = v * 10 + (c - '0');
    }
    if (all && fits && v <= (neg ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX)))
        return Number{true, int64_t(neg ? 0 - v : v), 0};
    if (!float_shape(body, is_digit, "eE")) return std::nullopt;
    auto d = strtod_all(s);
    if (!d) return std::nullopt;
    return Number{false, 0, *d};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));  // the reader takes C strings
    TValue o;
    size_t n = luaO_str2num(text.c_str(), &o);
    if (text.size() > 10000) return 0;  // long fractions meet the exponent's saturation
    std::optional<Number> want = reference(text);
    if (n == 0) {
        if (want) {
            std::fprintf(stderr, "rejected a numeral: '%s'\n", text.c_str());
            std::abort();
        }
        return 0;
    }
    if (n != text.size() + 1 || !want) {
        std::fprintf(stderr, "accepted a non-numeral or bad length %zu: '%s'\n", n, text.c_str());
        std::abort();
    }
    bool is_int = ttisinteger(&o);
    int64_t i = is_int ? ivalue(&o) : 0;
    double f = is_int ? 0 : fltvalue(&o);
    if (is_int != want->is_int ||
        (is_int ? i != want->i : std::memcmp(&f, &want->f, sizeof(double)) != 0)) {
        std::fprintf(stderr, "'%s': got %s %a, reference %s %a\n", text.c_str(),
                     is_int ? "integer" : "float", is_int ? double(i) : f,
                     want->is_int ? "integer" : "float", want->is_int ? double(want->i) : want->f);
        std::abort();
    }
    // The number's text is printf's, made faster.
    char text_got[64], text_want[64];
    if (is_int) {
        vm_integer_text(text_got, sizeof text_got, i);
        std::snprintf(text_want, sizeof text_want, "%lld", static_cast<long long>(i));
    } else {
        vm_float_text(text_got, sizeof text_got, f);
        std::snprintf(text_want, sizeof text_want, "%.14g", f);
    }
    if (std::strcmp(text_got, text_want) != 0) {
        std::fprintf(stderr, "'%s': text %s, printf's %s\n", text.c_str(), text_got, text_want);
        std::abort();
    }
    return 0;
}
