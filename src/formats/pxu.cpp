// pxu image coding: record heads, the run coder and its reader.
#include "pxu.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

inline constexpr uint8_t kTag[4] = {'p', 'x', 'u', 0};

// Bit count the writer uses for a 'bits' argument that is not 0.
inline int clamp_bits(int bits) { return std::clamp(bits, PXU_MIN_BITS, PXU_MAX_BITS); }

// A size of 256 or more needs the u32 form.
inline constexpr uint32_t kNarrowSizeLimit = 256;

// An extension byte of 255 says another extension byte follows.
inline constexpr uint8_t kExtendMore = 255;

/*
** Coding state, reset for every coded record: a table of recently used
** values and the slot list, a move-to-front order over the table's first m
** entries whose last usable place names the entry a new value replaces.
*/
struct coder {
    uint8_t value[256];  // value table; entries 0..m-1 are nameable by a code
    uint8_t slot[256];   // slot list: a permutation of 0..255
    int bits;            // b, 1..6
    int marker;          // m = 2^b - 1: usable slots and the literal marker
    uint64_t fmax;       // 2^(8 - b) - 1: the largest run field in a code

    explicit coder(int b) : bits(b), marker((1 << b) - 1), fmax((1u << (8 - b)) - 1) {
        for (int i = 0; i < 256; i++) value[i] = slot[i] = static_cast<uint8_t>(i);
    }

    // Moves slot s to the front of the slot list's first m places.
    void move_to_front(uint8_t s) {
        int p = 0;
        while (p < marker && slot[p] != s) p++;
        if (p == marker) return;
        memmove(slot + 1, slot, static_cast<size_t>(p));
        slot[0] = s;
    }

    // The highest value-table index below m holding v, or -1.
    int find(uint8_t v) const {
        for (int s = marker - 1; s >= 0; s--)
            if (value[s] == v) return s;
        return -1;
    }

    // Takes a literal v into the table entry named by the last usable slot.
    void take_literal(uint8_t v) { value[slot[marker - 1]] = v; }
};

inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

/*
** Output gathered in a small block and handed to the buffer a block at a
** time; the first refusal sticks.
*/
struct sink {
    buffer_rec *out;
    uint8_t block[4096];
    size_t used = 0;
    bool ok = true;

    explicit sink(buffer_rec *b) : out(b) {}

    void flush() {
        if (ok && used > 0 && bwrite(block, 1, static_cast<int64_t>(used), out) != static_cast<int64_t>(used))
            ok = false;
        used = 0;
    }
    void put(uint8_t byte) {
        if (used == sizeof block) flush();
        block[used++] = byte;
    }
    void put32(uint32_t v) {
        for (int i = 0; i < 4; i++) put(static_cast<uint8_t>(v >> (8 * i)));
    }
};

void write_codes(sink *s, const uint8_t *e, uint64_t count, int bits) {
    coder c(bits);
    s->put(static_cast<uint8_t>(bits));
    uint64_t i = 0;
    while (i < count) {
        const uint8_t v = e[i];
        uint64_t j = i + 1;
        while (j < count && e[j] == v) j++;
        const uint64_t run = j - i;  // L
        i = j;
        const uint64_t f = std::min(run - 1, c.fmax);
        const int found = c.find(v);
        if (found >= 0) {
            s->put(static_cast<uint8_t>(f << bits | static_cast<uint64_t>(found)));
            c.move_to_front(static_cast<uint8_t>(found));
        } else {
            s->put(static_cast<uint8_t>(f << bits | static_cast<uint64_t>(c.marker)));
            s->put(v);
            c.take_literal(v);
        }
        if (run - 1 >= c.fmax) {
            uint64_t r = run - 1 - c.fmax;
            for (; r >= kExtendMore; r -= kExtendMore) s->put(kExtendMore);
            s->put(static_cast<uint8_t>(r));
        }
    }
}

}  // namespace

/*
** {======================================================
** Writing (elements -> record)
** =======================================================
*/

int64_t pxu_write(const pxu_head *head, const uint8_t *elements, buffer_rec *out, int bits) {
    assert(head->dims >= 1 && head->dims <= 3);
    const int32_t start_cursor = out->cursor, start_length = out->length;
    // A one-dimensional shape with several rows keeps them as two dimensions.
    const int dims = head->dims == 1 && head->height > 1 ? 2 : head->dims;
    const uint32_t height = dims >= 2 ? head->height : 1;
    const uint32_t depth = dims >= 3 ? head->depth : 1;
    const bool wide = head->width >= kNarrowSizeLimit || height >= kNarrowSizeLimit || depth >= kNarrowSizeLimit;
    const uint64_t count = uint64_t{head->width} * height * depth;

    sink s(out);
    for (uint8_t t : kTag) s.put(t);
    s.put(static_cast<uint8_t>((dims - 1) * 64 + (head->type & 63)));
    s.put(static_cast<uint8_t>((bits == 0 ? PXU_UNCODED : PXU_CODED) | (wide ? PXU_WIDE_SIZES : 0)));
    const uint32_t sizes[3] = {head->width, height, depth};
    for (int k = 0; k < dims; k++) {
        if (wide) {
            s.put32(sizes[k]);
        } else {
            s.put(static_cast<uint8_t>(sizes[k]));
        }
    }
    if (bits == 0) {
        s.flush();
        if (s.ok && count > 0 && bwrite(elements, 1, static_cast<int64_t>(count), out) != static_cast<int64_t>(count))
            s.ok = false;
    } else {
        write_codes(&s, elements, count, clamp_bits(bits));
        s.flush();
    }
    if (!s.ok) {
        out->cursor = start_cursor;
        out->length = start_length;
        return 0;
    }
    return int64_t{out->cursor} - start_cursor;
}

/*
** {======================================================
** Reading (record -> elements)
** =======================================================
*/

const uint8_t *pxu_read_head(const uint8_t *p, const uint8_t *end, pxu_head *head) {
    if (end - p < 6 || memcmp(p, kTag, 4) != 0) return nullptr;
    const uint8_t format = p[5];
    if ((format & 0xF0) == 0) {
        // Legacy: three u32 sizes, then the type; coded, the bit count next.
        if (end - p < 18) return nullptr;
        head->width = load_le32(p + 4);
        head->height = load_le32(p + 8);
        head->depth = load_le32(p + 12);
        head->type = p[16] & 63;
        head->dims = 2;
        head->format = PXU_CODED;
        return p + 17;
    }
    head->type = p[4] & 63;
    head->dims = static_cast<uint8_t>((p[4] >> 6) + 1);
    head->format = format & 0xF0;
    const int size_bytes = (format & PXU_WIDE_SIZES) ? 4 : 1;
    const int sizes = head->dims == 2 ? 2 : head->dims == 3 ? 3 : 1;
    p += 6;
    if (end - p < sizes * size_bytes) return nullptr;
    uint32_t v[3] = {1, 1, 1};
    for (int k = 0; k < sizes; k++, p += size_bytes) v[k] = size_bytes == 4 ? load_le32(p) : *p;
    head->width = v[0];
    head->height = v[1];
    head->depth = v[2];
    return p;
}

uint64_t pxu_element_count(const pxu_head *head) {
    const unsigned __int128 n = static_cast<unsigned __int128>(uint64_t{head->width} * head->height) * head->depth;
    return n > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(n);
}

const uint8_t *pxu_read_body(const pxu_head *head, const uint8_t *p, const uint8_t *end, uint8_t *elements,
                             uint64_t count) {
    if (head->format == PXU_UNCODED) {
        if (static_cast<uint64_t>(end - p) < count) return nullptr;
        if (count > 0) memcpy(elements, p, static_cast<size_t>(count));
        return p + count;
    }
    if (head->format != PXU_CODED) return p;  // unknown format: the elements stay zero

    if (p >= end) return nullptr;
    const int bits = *p++;
    if (bits < PXU_MIN_BITS || bits > PXU_MAX_BITS) return nullptr;
    coder c(bits);
    uint64_t written = 0;
    while (written < count) {
        if (p >= end) return nullptr;
        const uint8_t x = *p++;
        const uint64_t f = x >> bits;
        const int s = x & c.marker;
        uint8_t v;
        if (s < c.marker) {
            v = c.value[s];
            c.move_to_front(static_cast<uint8_t>(s));
        } else {
            if (p >= end) return nullptr;
            v = *p++;
            c.take_literal(v);
        }
        uint64_t run = f;  // summed in 64 bits; each extension byte is one input byte
        if (f == c.fmax) {
            uint8_t more;
            do {
                if (p >= end) return nullptr;
                more = *p++;
                run += more;
            } while (more == kExtendMore);
        }
        const uint64_t n = std::min(run + 1, count - written);
        memset(elements + written, v, static_cast<size_t>(n));
        written += n;
    }
    return p;
}
