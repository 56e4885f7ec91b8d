// The "%.14g" text of a float, by a fast path over the shortest digits.
#include "float_text.h"

#include <cassert>
#include <cfloat>
#include <charconv>
#include <cmath>

namespace {

inline constexpr int kDigits = 14;  // significant digits of the text

/*
** The shortest round-trip digits S of a normal double v lie within half an
** ulp of it, at most 11.1 units of S's 17th significant digit. Rounding S
** at its 14th digit rounds v alike unless the midpoint lies that close to
** S: inside this window of units the exact formatting decides.
*/
inline constexpr int kTieWindow = 25;

int exact_text(char *buf, size_t size, double v) {
    const std::to_chars_result r = std::to_chars(buf, buf + size, v, std::chars_format::general, kDigits);
    assert(r.ec == std::errc());
    return static_cast<int>(r.ptr - buf);
}

}  // namespace

int float_text(char *buf, size_t size, double v) {
    const double a = std::fabs(v);
    if (size < 32 || !(a >= DBL_MIN) || a > DBL_MAX) return exact_text(buf, size, v);  // 0, subnormal, inf

    // d[0..k) the shortest digits, x the decimal exponent of d[0].
    char sci[40];
    const std::to_chars_result r = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    assert(r.ec == std::errc());
    const char *p = sci;
    if (*p == '-') p++;
    char d[24];
    int k = 0;
    d[k++] = *p++;
    if (*p == '.')
        for (p++; *p != 'e'; p++) d[k++] = *p;
    p++;  // 'e'
    const bool down = *p++ == '-';
    int x = 0;
    for (; p < r.ptr; p++) x = 10 * x + (*p - '0');
    if (down) x = -x;

    if (k > kDigits) {
        int tail = 0;  // digits 15 to 17, in units of the 17th
        for (int i = kDigits, scale = 100; i < kDigits + 3; i++, scale /= 10)
            if (i < k) tail += (d[i] - '0') * scale;
        if (tail > 500 - kTieWindow && tail < 500 + kTieWindow) return exact_text(buf, size, v);
        k = kDigits;
        if (tail > 500) {
            int i = k - 1;
            for (; i >= 0 && d[i] == '9'; i--) d[i] = '0';
            if (i >= 0) {
                d[i]++;
            } else {
                d[0] = '1';  // 9.99...9 became 10.00...0
                x++;
            }
        }
    }
    while (k > 1 && d[k - 1] == '0') k--;

    char *o = buf;
    if (v < 0) *o++ = '-';
    if (x < -4 || x >= kDigits) {
        *o++ = d[0];
        if (k > 1) {
            *o++ = '.';
            for (int i = 1; i < k; i++) *o++ = d[i];
        }
        *o++ = 'e';
        *o++ = x < 0 ? '-' : '+';
        const int e = x < 0 ? -x : x;
        if (e >= 100) *o++ = char('0' + e / 100);
        *o++ = char('0' + e / 10 % 10);
        *o++ = char('0' + e % 10);
    } else if (x >= 0) {
        for (int i = 0; i <= x; i++) *o++ = i < k ? d[i] : '0';
        if (k > x + 1) {
            *o++ = '.';
            for (int i = x + 1; i < k; i++) *o++ = d[i];
        }
    } else {
        *o++ = '0';
        *o++ = '.';
        for (int i = 0; i < -x - 1; i++) *o++ = '0';
        for (int i = 0; i < k; i++) *o++ = d[i];
    }
    return static_cast<int>(o - buf);
}
