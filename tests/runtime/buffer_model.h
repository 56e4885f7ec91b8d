// A reference model of the byte buffer, driven by an operation stream: each
// operation is applied to a real buffer and to the model, and every field,
// every byte up to the capacity, the growth and the totals are compared.
// Used by the model test and by the buffer_ops fuzz target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "buffer.h"

namespace buffer_model {

// Operation stream: bytes taken in order, zeros once it runs out.
struct Stream {
    const uint8_t *p;
    const uint8_t *end;
    bool done() const { return p >= end; }
    uint8_t next() { return p < end ? *p++ : 0; }
    uint32_t next32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v = v << 8 | next();
        return v;
    }
    // Up to 'max' bytes; with 'stop_at_nul' ends before a NUL.
    std::string bytes(size_t max, bool stop_at_nul) {
        std::string s;
        const size_t n = next() % (max + 1);
        for (size_t i = 0; i < n && !done(); i++) {
            const char c = static_cast<char>(next());
            if (stop_at_nul && c == 0) break;
            s += c;
        }
        return s;
    }
};

// The expected state of one buffer. 'bytes' holds the data from offset 0;
// everything past it up to the capacity is zero.
struct Model {
    std::string bytes;
    int64_t length = 0;
    int64_t cursor = 0;
    uint64_t capacity = 0;

    // The growth rule for n bytes at pos.
    void grow(int64_t pos, int64_t n) {
        const uint64_t need = static_cast<uint64_t>(pos + n) + 1;
        if (capacity < need) capacity = 2 * need;
    }
    void write(const std::string &s) {
        grow(cursor, static_cast<int64_t>(s.size()));
        if (bytes.size() < static_cast<size_t>(cursor) + s.size()) bytes.resize(cursor + s.size());
        bytes.replace(static_cast<size_t>(cursor), s.size(), s);
        cursor += static_cast<int64_t>(s.size());
        if (length < cursor) length = cursor;
    }
    void append(const std::string &s) {
        cursor = length;
        write(s);
    }
    void put_nul_at_length() {
        if (bytes.size() > static_cast<size_t>(length)) bytes[length] = 0;
    }
    uint8_t at(int64_t i) const {
        return static_cast<size_t>(i) < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0;
    }
    // The n bytes at the cursor when they lie within length, advancing.
    bool take(int64_t n, std::string *out) {
        if (cursor + n > length) return false;
        out->clear();
        for (int64_t i = 0; i < n; i++) out->push_back(static_cast<char>(at(cursor + i)));
        cursor += n;
        return true;
    }
};

// Reference escapes, byte by byte as the rules read.
inline std::string decimal_escape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (static_cast<signed char>(c) < 32 || c == '\\' || c == '"') {
            char tmp[8];
            snprintf(tmp, sizeof tmp, "\\%d%d%d", c / 100, c / 10 % 10, c % 10);
            out += tmp;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

inline std::string pod_escape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c < 32 || c >= 127 || c == ']') {
            char tmp[8];
            snprintf(tmp, sizeof tmp, "\\%03d", c);
            out += tmp;
        } else out += static_cast<char>(c);
    }
    return out;
}

inline std::string hex(uint64_t v, int digits) {
    std::string s(digits, '0');
    for (int i = digits - 1; i >= 0; i--, v >>= 4) s[i] = "0123456789abcdef"[v & 15];
    return s;
}

inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// The reference line reader: one byte at a time from the model's cursor.
inline std::string read_line(Model &m) {
    std::string line;
    while (m.cursor < m.length) {
        const uint8_t c = m.at(m.cursor);
        if (c == '\n') {
            m.cursor++;
            break;
        }
        if (c == '\r' && m.cursor + 1 < m.length && m.at(m.cursor + 1) == '\n') {
            m.cursor += 2;
            break;
        }
        line += static_cast<char>(c);
        m.cursor++;
    }
    return line;
}

class Runner {
  public:
    Runner() {
        escape_lua_string("");  // its shared buffer lives on; make it before the baseline
        base_total_ = get_total_buffer_allocation();
        base_count_ = get_total_num_buffers();
    }
    ~Runner() {
        destroy_buffer(b_);
        destroy_buffer(line_);
    }
    Runner(const Runner &) = delete;
    Runner &operator=(const Runner &) = delete;

    // Applies the operations encoded in data; returns "" or the first mismatch.
    std::string run(const uint8_t *data, size_t size) {
        Stream in{data, data + size};
        const int32_t initial = in.next() % 40;
        b_ = create_buffer_2(initial, 't');
        m_.capacity = static_cast<uint64_t>(initial) + 1;
        line_ = create_buffer_2(16, 'R');
        line_model_.capacity = 17;
        if (auto e = check("create"); !e.empty()) return e;
        for (int step = 0; !in.done() && step < 1000; step++) {
            const int op = in.next() % 27;
            const std::string where = "op " + std::to_string(op) + " at step " + std::to_string(step);
            const std::string e = apply(op, in);
            if (!e.empty()) return where + ": " + e;
            if (auto c = check(where); !c.empty()) return c;
        }
        destroy_buffer(b_);
        destroy_buffer(line_);
        b_ = line_ = nullptr;
        if (get_total_buffer_allocation() != base_total_ || get_total_num_buffers() != base_count_)
            return "totals did not return to their baseline";
        return "";
    }

  private:
    static std::string expect_eq(uint64_t got, uint64_t want, const char *what) {
        if (got == want) return "";
        return std::string(what) + ": got " + std::to_string(got) + ", want " + std::to_string(want);
    }

    std::string apply(int op, Stream &in) {
        buffer_rec *b = b_;
        Model &m = m_;
        switch (op) {
            case 0: {
                const std::string s = in.bytes(40, false);
                const int64_t r = bwrite(s.data(), 1, static_cast<int64_t>(s.size()), b);
                if (!s.empty()) m.write(s);
                return expect_eq(r, s.size(), "bwrite result");
            }
            case 1: {
                const uint8_t v = in.next();
                m.write(std::string(1, static_cast<char>(v)));
                return expect_eq(bwrite_uint8(v, b), 1, "bwrite_uint8 result");
            }
            case 2: {
                const uint16_t v = static_cast<uint16_t>(in.next32());
                m.write(std::string{char(v), char(v >> 8)});
                return expect_eq(bwrite_uint16(v, b), 2, "bwrite_uint16 result");
            }
            case 3: {
                const uint32_t v = in.next32();
                m.write(std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)});
                return expect_eq(bwrite_uint32(v, b), 4, "bwrite_uint32 result");
            }
            case 4: {
                const uint32_t v = in.next32();
                m.write(std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)});
                return expect_eq(bwrite_uint32_big_endian(v, b), 4, "big-endian result");
            }
            case 5: {
                const uint8_t v = in.next();
                m.write(hex(v, 2));
                return expect_eq(bwrite_uint8_as_hex(v, b), 2, "bwrite_uint8_as_hex result");
            }
            case 6: {
                const std::string s = in.bytes(40, true);
                m.append(s);
                m.put_nul_at_length();
                return expect_eq(bappend_str(b, s.c_str()), s.size(), "bappend_str result");
            }
            case 7: {
                const uint64_t v = uint64_t{in.next32()} << 32 | in.next32();
                m.append(hex(v, 16));
                return expect_eq(bwrite_int64_as_hex(static_cast<int64_t>(v), b), 16, "int64 hex");
            }
            case 8: {
                const uint32_t v = in.next32();
                m.append(hex(v, 8));
                return expect_eq(bwrite_int32_as_hex(static_cast<int32_t>(v), b), 8, "int32 hex");
            }
            case 9: {
                const uint32_t v = in.next32();
                m.append(hex(v & 0xFFFF, 4));
                return expect_eq(bwrite_int16_as_hex(static_cast<int16_t>(v), b), 4, "int16 hex");
            }
            case 10: {
                const std::string s = in.bytes(40, true);
                const std::string e = decimal_escape(s);
                m.append(e);
                m.put_nul_at_length();
                return expect_eq(bappend_str_escaped(b, s.c_str()), e.size(), "decimal escape");
            }
            case 11: {
                const std::string s = in.bytes(40, false);
                const std::string e = pod_escape(s);
                if (!s.empty()) m.append(e);
                const int64_t r = bwrite_escaped_string(s.data(), b, static_cast<int64_t>(s.size()));
                return expect_eq(r, e.size(), "pod escape");
            }
            case 12: {
                const int64_t c = in.next() % (m.length + 9);
                m.cursor = c;
                b->cursor = static_cast<int32_t>(c);
                return "";
            }
            case 13: {
                std::string s;
                const uint64_t want = m.take(1, &s) ? uint8_t(s[0]) : 0;
                return expect_eq(bread_uint8(b), want, "bread_uint8");
            }
            case 14: {
                std::string s;
                const uint64_t want = m.take(2, &s) ? uint8_t(s[0]) | uint8_t(s[1]) << 8 : 0;
                return expect_eq(bread_uint16(b), want, "bread_uint16");
            }
            case 15:
            case 16: {
                std::string s;
                uint32_t want = 0;
                if (m.take(4, &s)) {
                    for (int i = 0; i < 4; i++) {
                        const uint32_t byte = uint8_t(s[i]);
                        want |= op == 15 ? byte << (8 * i) : byte << (24 - 8 * i);
                    }
                }
                const uint32_t got = op == 15 ? bread_uint32(b) : bread_uint32_big_endian(b);
                return expect_eq(got, want, "bread_uint32");
            }
            case 17: {
                std::string s;
                const uint64_t want =
                    m.take(2, &s) ? hex_value(uint8_t(s[0])) << 4 | hex_value(uint8_t(s[1])) : 0;
                return expect_eq(bread_uint8_hex(b), want, "bread_uint8_hex");
            }
            case 18: {
                const int64_t size = in.next() % 5, count = in.next() % 20;
                const int64_t n = std::min(m.length - m.cursor, size * count);
                std::string want;
                if (n >= 1) m.take(n, &want);
                std::string got(static_cast<size_t>(size * count), '\0');
                const int64_t r = bread(got.data(), size, count, b);
                got.resize(static_cast<size_t>(std::max<int64_t>(r, 0)));
                if (got != want) return "bread copied the wrong bytes";
                return expect_eq(r, want.size(), "bread result");
            }
            case 19: {
                const int32_t start = static_cast<int32_t>(in.next() % (m.length + 4)) - 2;
                const int32_t n = static_cast<int32_t>(in.next() % (m.length + 4)) - 2;
                if (start >= 0) {
                    if (n <= 0 || start >= m.length) {
                        m.length = m.cursor = 0;
                    } else {
                        const int64_t k = std::min<int64_t>(m.length - start, n);
                        std::string kept;
                        for (int64_t i = 0; i < k; i++) kept += static_cast<char>(m.at(start + i));
                        m.bytes = kept;
                        m.cursor = std::max<int64_t>(m.cursor - start, 0);
                        m.length = k;
                    }
                }
                bcrop(b, start, n);
                return "";
            }
            case 20:
            case 21: {
                const std::string want = read_line(m);
                std::string got;
                if (op == 20) {  // into the kept line buffer
                    line_model_.length = line_model_.cursor = 0;
                    line_model_.write(want);
                    line_model_.put_nul_at_length();
                    if (breadln(b, line_) != line_) return "breadln returned another buffer";
                    got.assign(reinterpret_cast<char *>(line_->data), static_cast<size_t>(line_->length));
                    if (line_->data[line_->length] != 0) return "breadln left no NUL";
                } else {  // into a new buffer
                    buffer_rec *l = breadln(b, nullptr);
                    if (!l || l->tag != 'R') return "breadln made no line buffer";
                    got.assign(reinterpret_cast<char *>(l->data), static_cast<size_t>(l->length));
                    const bool nul = l->data[l->length] == 0;
                    destroy_buffer(l);
                    if (!nul) return "breadln left no NUL";
                }
                return got == want ? "" : "breadln gave the wrong line";
            }
            case 22:
                bclear(b);
                m.length = m.cursor = 0;
                return "";
            case 23: {
                m.put_nul_at_length();
                const char *s = to_cstr(b);
                return s == reinterpret_cast<char *>(b->data) ? "" : "to_cstr gave another pointer";
            }
            case 24: {
                const int64_t n = in.next() % 200;
                m.grow(0, n);
                return expect_eq(ballocate(b, n), 0, "ballocate result");
            }
            case 25: {
                buffer_rec *c = create_buffer_from_buffer(b);
                std::string e;
                if (!c || c->tag != 'Y' || c->cursor != 0 || c->length != b->length ||
                    c->capacity != b->capacity + 1 ||
                    memcmp(c->data, b->data, static_cast<size_t>(b->length)) != 0)
                    e = "create_buffer_from_buffer made a wrong copy";
                destroy_buffer(c);
                return e;
            }
            default: {
                const std::string s = in.bytes(20, true);
                const std::string got = escape_lua_string(s.c_str());
                return got == decimal_escape(s) ? "" : "escape_lua_string";
            }
        }
    }

    static std::string compare(const buffer_rec *b, const Model &m, const char *name) {
        const std::string who = std::string(name) + ": ";
        if (b->length != m.length) return who + "length " + std::to_string(b->length) + " want " + std::to_string(m.length);
        if (b->cursor != m.cursor) return who + "cursor " + std::to_string(b->cursor) + " want " + std::to_string(m.cursor);
        if (b->capacity != m.capacity) return who + "capacity " + std::to_string(b->capacity) + " want " + std::to_string(m.capacity);
        if (m.bytes.size() > b->capacity) return who + "model holds bytes beyond the capacity";
        if (memcmp(b->data, m.bytes.data(), m.bytes.size()) != 0) return who + "bytes differ";
        for (uint64_t i = m.bytes.size(); i < b->capacity; i++)
            if (b->data[i] != 0) return who + "slack byte " + std::to_string(i) + " is not zero";
        return "";
    }

    std::string check(const std::string &where) {
        std::string e = compare(b_, m_, "buffer");
        if (e.empty()) e = compare(line_, line_model_, "line buffer");
        if (e.empty() && get_total_buffer_allocation() != base_total_ + b_->capacity + line_->capacity)
            e = "total allocation is not the sum of the capacities";
        if (e.empty() && get_total_num_buffers() != base_count_ + 2) e = "live buffer count";
        return e.empty() ? e : where + ": " + e;
    }

    buffer_rec *b_ = nullptr;
    buffer_rec *line_ = nullptr;
    Model m_;
    Model line_model_;
    uint64_t base_total_ = 0;
    int32_t base_count_ = 0;
};

}  // namespace buffer_model
