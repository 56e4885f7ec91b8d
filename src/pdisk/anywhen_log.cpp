/*
** The anywhen history's texts: hashes, dates, log lines and their readers.
*/
#include "anywhen_log.h"

#include <cstdio>
#include <ctime>

#include <murmurhash.h>

namespace {

const char HEX[] = "0123456789abcdef";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_lower_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }

int lower_hex_value(char c) { return is_digit(c) ? c - '0' : c - 'a' + 10; }

bool has_control_byte(std::string_view s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

/* "dddd-dd-dd_dd:dd:dd" */
bool is_time_text(std::string_view t) {
    static const char shape[] = "dddd-dd-dd_dd:dd:dd";
    if (t.size() != ANYWHEN_TIME_LEN) return false;
    for (size_t i = 0; i < ANYWHEN_TIME_LEN; i++) {
        if (shape[i] == 'd' ? !is_digit(t[i]) : t[i] != shape[i]) return false;
    }
    return true;
}

int two_digits(std::string_view s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); }

std::tm utc_tm(int64_t utc_s) {
    std::tm tm{};
    const std::time_t t = static_cast<std::time_t>(utc_s);
    gmtime_r(&t, &tm);
    return tm;
}

}  // namespace

/* ---- content hashes ---- */

std::string anywhen_content_hash(const uint8_t *bytes, size_t len) {
    uint64_t words[2] = {0, 0};
    lmmh_x64_128(bytes, static_cast<unsigned int>(len), 0, words);
    std::string out(ANYWHEN_HASH_LEN, '0');
    for (int w = 0; w < 2; w++) {
        for (int i = 0; i < 8; i++) {
            const unsigned b = static_cast<unsigned>(words[w] >> (8 * i)) & 0xFF;
            out[static_cast<size_t>(w * 16 + i * 2)] = HEX[b >> 4];
            out[static_cast<size_t>(w * 16 + i * 2 + 1)] = HEX[b & 15];
        }
    }
    return out;
}

bool anywhen_is_hash(std::string_view s) {
    if (s.size() != ANYWHEN_HASH_LEN) return false;
    for (const char c : s)
        if (!is_lower_hex(c)) return false;
    return true;
}

/* ---- dates and times ---- */

anywhen_date anywhen_date_of(int64_t utc_s) {
    const std::tm tm = utc_tm(utc_s);
    return anywhen_date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string anywhen_time_text(int64_t utc_s) {
    const std::tm tm = utc_tm(utc_s);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d_%H:%M:%S", &tm);
    return text;
}

std::string anywhen_midnight_text(const anywhen_date &d) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d_00:00:00", d.year, d.month, d.day);
    return text;
}

std::string anywhen_month_name(const anywhen_date &d) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d", d.year, d.month);
    return text;
}

std::string anywhen_day_log_name(const anywhen_date &d) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d.log", d.day);
    return text;
}

bool anywhen_parse_date(std::string_view text, anywhen_date *out) {
    static const char shape[] = "dddd-dd-dd";
    if (text.size() < 10) return false;
    for (size_t i = 0; i < 10; i++) {
        if (shape[i] == 'd' ? !is_digit(text[i]) : text[i] != shape[i]) return false;
    }
    const anywhen_date d{two_digits(text, 0) * 100 + two_digits(text, 2), two_digits(text, 5), two_digits(text, 8)};
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return false;
    *out = d;
    return true;
}

int anywhen_date_cmp(const anywhen_date &a, const anywhen_date &b) {
    if (a.year != b.year) return a.year < b.year ? -1 : 1;
    if (a.month != b.month) return a.month < b.month ? -1 : 1;
    if (a.day != b.day) return a.day < b.day ? -1 : 1;
    return 0;
}

bool anywhen_step_back(anywhen_date *d) {
    if (d->day > 1) {
        d->day--;
        return true;
    }
    if (d->year <= ANYWHEN_FIRST_YEAR && d->month <= ANYWHEN_FIRST_MONTH) return false;
    d->day = 31;
    if (--d->month == 0) {
        d->month = 12;
        d->year--;
    }
    return true;
}

/* ---- log lines ---- */

anywhen_line anywhen_parse_line(std::string_view text, bool whole) {
    anywhen_line line{};
    if (text.empty()) return line;
    const char kind = text[0];
    switch (kind) {
        case ':':
        case '$':
        case '+': {
            line.kind = kind;
            if (text.size() <= ANYWHEN_PATH_AT || text[1] != ' ' || text[ANYWHEN_PATH_AT - 1] != ' ') return line;
            line.hash = text.substr(2, ANYWHEN_HASH_LEN);
            line.path = text.substr(ANYWHEN_PATH_AT);
            line.valid = whole && anywhen_is_hash(line.hash) && line.path[0] == '/' && !has_control_byte(line.path);
            return line;
        }
        case '@': {
            line.kind = kind;
            if (text.size() < 2 + ANYWHEN_TIME_LEN || text[1] != ' ') return line;
            line.time = text.substr(2, ANYWHEN_TIME_LEN);
            const bool ends = text.size() == 2 + ANYWHEN_TIME_LEN || text[2 + ANYWHEN_TIME_LEN] == ' ';
            line.valid = whole && ends && is_time_text(line.time);
            return line;
        }
        case '|': {
            line.kind = kind;
            if (text.size() < 4 || text[1] != ' ') return line;
            line.hex = text.substr(2);
            bool ok = line.hex.size() % 2 == 0;
            for (size_t i = 0; ok && i < line.hex.size(); i++) ok = is_lower_hex(line.hex[i]);
            line.valid = whole && ok;
            return line;
        }
        default:
            return line;
    }
}

bool anywhen_line_reader::next(anywhen_line *line) {
    if (p_ >= end_) return false;
    const uint8_t *start = p_;
    const uint8_t *nl = start;
    while (nl < end_ && *nl != '\n') nl++;
    const bool whole = nl < end_;
    p_ = whole ? nl + 1 : end_;
    size_t n = static_cast<size_t>(nl - start);
    while (n > 2 && start[n - 1] <= 32) n--;
    *line = anywhen_parse_line(std::string_view(reinterpret_cast<const char *>(start), n), whole);
    return true;
}

bool anywhen_hex_to_bytes(std::string_view hex, std::vector<uint8_t> *out) {
    if (hex.size() % 2 != 0) return false;
    for (const char c : hex)
        if (!is_lower_hex(c)) return false;
    out->reserve(out->size() + hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2)
        out->push_back(static_cast<uint8_t>(lower_hex_value(hex[i]) << 4 | lower_hex_value(hex[i + 1])));
    return true;
}

/* ---- writing lines ---- */

std::string anywhen_time_line(std::string_view time, std::string_view label) {
    std::string out = "@ ";
    out += time;
    if (!label.empty()) {
        out += ' ';
        out += label;
    }
    out += '\n';
    return out;
}

std::string anywhen_hash_line(char kind, std::string_view hash, std::string_view path) {
    std::string out;
    out.reserve(ANYWHEN_PATH_AT + path.size() + 1);
    out += kind;
    out += ' ';
    out += hash;
    out += ' ';
    out += path;
    out += '\n';
    return out;
}

void write_delta(std::string *out, const uint8_t *delta, size_t len) {
    out->reserve(out->size() + len * 2 + (len / ANYWHEN_DELTA_LINE_BYTES + 1) * 3);
    for (size_t at = 0; at < len; at += ANYWHEN_DELTA_LINE_BYTES) {
        const size_t n = len - at < ANYWHEN_DELTA_LINE_BYTES ? len - at : ANYWHEN_DELTA_LINE_BYTES;
        *out += "| ";
        for (size_t i = 0; i < n; i++) {
            *out += HEX[delta[at + i] >> 4];
            *out += HEX[delta[at + i] & 15];
        }
        *out += '\n';
    }
}

/* ---- readers ---- */

int anywhen_load_table(htable_rec *table, const uint8_t *bytes, size_t len) {
    anywhen_line_reader reader(bytes, len);
    anywhen_line line;
    std::string key, value;
    int entered = 0;
    while (reader.next(&line)) {
        if (!line.valid || (line.kind != ':' && line.kind != '$')) continue;
        key.assign(line.path);
        value.assign(line.hash);
        if (htable_insert_failable(table, key.c_str(), value.data(), static_cast<uint32_t>(value.size())) == 0)
            entered++;
    }
    return entered;
}

anywhen_found anywhen_search_log(const uint8_t *bytes, size_t len, std::string_view path, std::string_view asked,
                                 std::string_view midnight) {
    anywhen_found found{};
    std::string entry_time(midnight);
    /* A '+' entry being collected: its base and delta so far. */
    bool collecting = false, plus_ok = false;
    std::string plus_hash;
    std::vector<uint8_t> plus_delta;

    anywhen_line_reader reader(bytes, len);
    anywhen_line line;
    while (reader.next(&line)) {
        if (collecting) {
            if (line.kind == '|') {
                plus_ok = plus_ok && line.valid && anywhen_hex_to_bytes(line.hex, &plus_delta);
                continue;
            }
            collecting = false;
            if (plus_ok && !plus_delta.empty()) {
                found.found = true;
                found.hash = plus_hash;
                found.delta.swap(plus_delta);
            }
        }
        if (!line.valid) continue;
        if (line.kind == '@') {
            entry_time.assign(line.time);
            continue;
        }
        if (line.kind != ':' && line.kind != '$' && line.kind != '+') continue;
        if (line.path != path || entry_time.compare(asked) > 0) continue;
        if (line.kind == '+') {
            collecting = plus_ok = true;
            plus_hash.assign(line.hash);
            plus_delta.clear();
        } else {
            found.found = true;
            found.hash.assign(line.hash);
            found.delta.clear();
        }
    }
    if (collecting && plus_ok && !plus_delta.empty()) {
        found.found = true;
        found.hash = plus_hash;
        found.delta.swap(plus_delta);
    }
    return found;
}
