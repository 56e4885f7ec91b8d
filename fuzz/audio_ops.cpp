// The buffer ops and the oscillator against their one-by-one rules, on
// arbitrary samples, lengths, offsets, gains, shifts and oscillator state.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mudo.h"
#include "mudo_testing.h"

namespace {

int16_t clamp16(int64_t v) { return int16_t(v > 32767 ? 32767 : v < -32767 ? -32767 : v); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    mudo_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 16) return 0;
    uint8_t op = data[0] % 9;
    int32_t off = data[1] % 4;
    uint32_t gl = (data[2] | data[3] << 8) % 4097, gr = (data[4] | data[5] << 8) % 4097;
    int32_t shift = int32_t(data[6] % 13) - 6;
    const uint8_t *body = data + 8;
    size_t avail = (size - 8) / 4;
    int32_t n = int32_t(avail > 1000 ? 1000 : avail);
    std::vector<int16_t> src(size_t(n) + 4), dst(size_t(n) + 4), right(size_t(n) + 4);
    for (int32_t k = 0; k < n; k++) {
        std::memcpy(&src[size_t(k + off)], body + 4 * k, 2);
        std::memcpy(&dst[size_t(k)], body + 4 * k + 2, 2);
        right[size_t(k)] = int16_t(dst[size_t(k)] ^ 0x5A5A);
    }
    if (op == 8) {  // the oscillator over the bytes as memory
        mudo_memcpy(0x200000, body, uint32_t(size - 8 > 0x10000 ? 0x10000 : size - 8));
        mudo_node_rec node{};
        node.kind = 2;
        node.wave_addr = 0x200000 - 0x100 * int32_t(data[7] % 3);
        node.wave_log2 = uint8_t(data[7] % 16);
        node.wave_len = 1 << node.wave_log2;
        node.wave_count = data[2] ? data[2] : 256;
        std::memcpy(&node.val[0], data + 1, 4);
        std::memcpy(&node.val[4], data + 3, 4);
        std::memcpy(&node.val[5], data + 4, 4);
        std::memcpy(&node.phase, data + 8, 8);
        node.step = uint64_t(data[5]) << 12;
        node.output = dst.data();
        mudo_node_rec ref = node;
        render_node_tick_osc(&node, n);
        int L = ref.wave_log2;
        uint32_t w = ((uint32_t(ref.val[4]) >> 16 & 0xFF) * uint32_t(ref.wave_count)) >> 8;
        uint32_t base = uint32_t(ref.wave_addr) + w * uint32_t(ref.wave_len) * 2;
        uint64_t M = (uint64_t(1) << (L + 16)) - 1;
        int32_t g = int32_t(uint32_t(ref.val[0]) << 8) >> 16;
        int64_t O = int64_t(int16_t(uint32_t(ref.val[5]) >> 16) + 128) * (int64_t(1) << (L + 8));
        uint64_t p = (ref.phase & M) - uint64_t(O);
        for (int32_t k = 0; k < n; k++) {
            uint64_t q = p & M;
            auto at = [&](uint64_t i) {
                uint32_t a = (base + uint32_t(i) * 2) & 0xFFFFFF;
                return int32_t(int16_t(mixer.audio_ram[a] | mixer.audio_ram[(a + 1) & 0xFFFFFF] << 8));
            };
            int32_t s0 = at(q >> 16), s1 = at(((q + 0x10000) & M) >> 16);
            int32_t y = s0 + int32_t((int64_t(q & 0xFFFF) * (s1 - s0)) >> 16);
            if (dst[size_t(k)] != int16_t(uint32_t((y * g) >> 14))) std::abort();
            p = q + ref.step;
        }
        if (node.phase != ((p + uint64_t(O)) & M)) std::abort();
        return 0;
    }
    std::vector<int16_t> want = dst, want_r = right;
    for (int32_t k = 0; k < n; k++) {
        int64_t c = src[size_t(k + off)], cl = (c * gl) / 4096, cr = (c * gr) / 4096;
        int16_t &x = want[size_t(k)], &y = want_r[size_t(k)];
        switch (op) {
        case 0: x = clamp16(x + c); break;
        case 1: x = clamp16((c * x) >> (15 - shift)); break;
        case 2: x = int16_t(x ^ int16_t(c)); break;
        case 3: x = int16_t(x | int16_t(c)); break;
        case 4: x = clamp16(x + cl), y = clamp16(y + cr); break;
        case 5: x = clamp16((cl * x) >> (15 - shift)), y = clamp16((cr * y) >> (15 - shift)); break;
        case 6: x = int16_t(x ^ int16_t(cl)), y = int16_t(y ^ int16_t(cr)); break;
        default: x = int16_t(x | int16_t(cl)), y = int16_t(y | int16_t(cr)); break;
        }
    }
    const int16_t *s = src.data() + off;
    switch (op) {
    case 0: add_buffer(dst.data(), s, n); break;
    case 1: mul_buffer(dst.data(), s, n, shift); break;
    case 2: xor_buffer(dst.data(), s, n); break;
    case 3: or_buffer(dst.data(), s, n); break;
    case 4: add_buffer_split(dst.data(), right.data(), gl, gr, s, n); break;
    case 5: mul_buffer_split(dst.data(), right.data(), gl, gr, s, n, shift); break;
    case 6: xor_buffer_split(dst.data(), right.data(), gl, gr, s, n); break;
    default: or_buffer_split(dst.data(), right.data(), gl, gr, s, n); break;
    }
    if (dst != want || right != want_r) std::abort();
    return 0;
}
