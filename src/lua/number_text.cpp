// A number's text, made by the standard library's exact conversions: the
// same text printf's "%.14g" and "%lld" give (a float's shortest form is not
// asked for: precision 14, general format), in a fixed time where printf's
// grows with a float's exponent.
#include "number_text.h"

#include <charconv>
#include <cstdio>

namespace {

inline constexpr int FLOAT_DIGITS = 14; /* significant digits, as "%.14g" */

// Ends the text at 'r' when the conversion fitted; its length, or -1.
int finish(char *buf, std::to_chars_result r) {
    if (r.ec != std::errc()) return -1;
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - buf);
}

}  // namespace

extern "C" int vm_float_text(char *buf, size_t size, double n) {
    const int len = finish(buf, std::to_chars(buf, buf + size - 1, n, std::chars_format::general, FLOAT_DIGITS));
    return len >= 0 ? len : std::snprintf(buf, size, "%.14g", n);
}

extern "C" int vm_integer_text(char *buf, size_t size, long long n) {
    const int len = finish(buf, std::to_chars(buf, buf + size - 1, n));
    return len >= 0 ? len : std::snprintf(buf, size, "%lld", n);
}
