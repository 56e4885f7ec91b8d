/*
** pxa decompressor.
*/
#include "pxa.h"

namespace {

// Bits of the input, least significant bit of each byte first. Reading past
// the input gives 0-bits and sets 'overrun'.
struct bit_reader {
    const uint8_t *in;  /* the whole input, header included */
    size_t len;         /* real input length in bytes */
    uint64_t bit;       /* index of the next bit from the input's start */
    bool overrun;       /* a bit past the input was asked for */

    size_t byte_pos() const { return static_cast<size_t>(bit >> 3); }

    int get() {
        const size_t byte = byte_pos();
        if (byte >= len) {
            overrun = true;
            return 0;
        }
        const int b = (in[byte] >> (bit & 7)) & 1;
        bit++;
        return b;
    }

    // 'n' bits as a number, least significant bit first.
    uint32_t get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; i++) v |= static_cast<uint32_t>(get()) << i;
        return v;
    }
};

}  // namespace

int pxa_decompress(const uint8_t *in, size_t in_len, uint8_t *out, int capacity) {
    if (capacity < 0) return PXA_OK;
    out[0] = 0;
    if (in_len < PXA_HEADER_SIZE) return PXA_MALFORMED;
    const int raw_len = (in[4] << 8) | in[5];
    const size_t compressed_len = (static_cast<size_t>(in[6]) << 8) | in[7];
    if (compressed_len < 9 || raw_len < 1 || capacity < 1) return PXA_OK;

    uint8_t mtf[256];
    for (int i = 0; i < 256; i++) mtf[i] = static_cast<uint8_t>(i);
    bit_reader br{in, in_len, PXA_HEADER_SIZE * 8, false};
    int pos = 0;
    int result = PXA_OK;

    while (br.byte_pos() < compressed_len && pos < raw_len && pos < capacity) {
        if (br.get() == 1) {
            // Literal: a unary count k, then 4 + k bits of table index.
            int k = 0;
            for (;;) {
                const int b = br.get();
                if (!b || k == 16) break;
                k++;
            }
            const uint32_t index = br.get(4 + k) + 16u * ((1u << k) - 1);
            if (br.overrun || index > 255) {
                result = PXA_MALFORMED;
                break;
            }
            const uint8_t c = mtf[index];
            out[pos++] = c;
            out[pos] = 0;
            for (uint32_t i = index; i > 0; i--) mtf[i] = mtf[i - 1];
            mtf[0] = c;
            continue;
        }

        // Back-reference: the offset's width, then the offset.
        const int width = br.get() == 0 ? 15 : br.get() == 0 ? 10 : 5;
        const int offset = static_cast<int>(br.get(width));
        if (br.overrun) {
            result = PXA_MALFORMED;
            break;
        }
        if (width == 10 && offset == 0) {
            // Raw run: bytes as they are, up to and including a zero byte.
            bool ended = false;
            for (;;) {
                if (pos >= raw_len) {
                    ended = true;
                    break;
                }
                if (pos >= capacity) {
                    result = PXA_MALFORMED;
                    break;
                }
                const uint8_t v = static_cast<uint8_t>(br.get(8));
                if (br.overrun) {
                    result = PXA_MALFORMED;
                    break;
                }
                out[pos] = v;
                if (v == 0) break;
                pos++;
            }
            if (ended || result != PXA_OK) break;
            continue;
        }

        const int distance = offset + 1;
        int length = 3, fields = 0;
        uint32_t field;
        do {
            field = br.get(3);
            length += static_cast<int>(field);
        } while (field == 7 && ++fields < PXA_MAX_LENGTH_FIELDS);
        if (br.overrun || distance > pos || length > capacity - pos) {
            result = PXA_MALFORMED;
            break;
        }
        for (int i = 0; i < length; i++, pos++) out[pos] = out[pos - distance];
        if (pos < capacity - 1) out[pos] = 0;
    }
    out[pos] = 0;
    return result;
}
