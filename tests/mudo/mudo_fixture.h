// MudoTest: a freshly initialised engine for every test, and helpers that
// write instruments, envelopes, waves, tracks and patterns into the mixer's
// memory copy the way a script's pokes would reach it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crc32.h"
#include "mudo.h"
#include "mudo_testing.h"

namespace mt {

inline void poke8(uint32_t a, uint8_t v) { mudo_memcpy(a & 0xFFFFFF, &v, 1); }
inline void poke16(uint32_t a, uint16_t v) {
    poke8(a, uint8_t(v));
    poke8(a + 1, uint8_t(v >> 8));
}
inline void poke32(uint32_t a, uint32_t v) {
    poke16(a, uint16_t(v));
    poke16(a + 2, uint16_t(v >> 16));
}

// An mval: flags, A, B, byte 3.
inline uint32_t mval(uint8_t flags, uint8_t a, uint8_t b = 0, uint8_t b3 = 0) {
    return uint32_t(flags) | uint32_t(a) << 8 | uint32_t(b) << 16 | uint32_t(b3) << 24;
}

inline uint32_t inst_addr(int inst, uint32_t base = 0) { return base + 0x10000 + uint32_t(inst) * 512; }

// Node n of instrument inst: parent, op, kind, wave slot, flags, and up to
// seven mvals.
inline void node(int inst, int n, int parent, int op, int kind, int slot = 0, int flags = 0,
                 std::vector<uint32_t> vals = {}, uint32_t base = 0) {
    uint32_t a = inst_addr(inst, base) + uint32_t(n) * 32;
    poke8(a, uint8_t(parent | op << 4));
    poke8(a + 1, uint8_t(kind | slot << 4));
    poke8(a + 2, uint8_t(flags));
    poke8(a + 3, 0);
    for (int m = 0; m < 7; m++) poke32(a + 4 + uint32_t(m) * 4, m < int(vals.size()) ? vals[m] : 0);
}

inline void inst_flags(int inst, uint8_t f, uint32_t base = 0) { poke8(inst_addr(inst, base) + 479, f); }

inline void descriptor(int inst, int slot, uint16_t addr_word, uint8_t log2, uint8_t count, uint32_t base = 0) {
    uint32_t a = inst_addr(inst, base) + 480 + uint32_t(slot) * 4;
    poke16(a, addr_word);
    poke8(a + 2, log2);
    poke8(a + 3, count);
}

// Envelope slot e: kind, flags, speed, loop start, loop end, start, data.
inline void envelope(int inst, int e, uint8_t kind, uint8_t flags, uint8_t speed, uint8_t ls, uint8_t le,
                     uint8_t start, std::vector<uint8_t> data, uint32_t base = 0) {
    uint32_t a = inst_addr(inst, base) + 256 + uint32_t(e) * 24;
    uint8_t head[8] = {kind, flags, speed, ls, le, start, 0, 0};
    for (uint32_t i = 0; i < 8; i++) poke8(a + i, head[i]);
    for (uint32_t i = 0; i < 16; i++) poke8(a + 8 + i, i < data.size() ? data[i] : 0);
}

// A sine-like wave of 2^log2 samples at byte address addr (a simple
// deterministic shape: a triangle).
inline void triangle_wave(uint32_t addr, int log2, int amplitude = 30000) {
    int len = 1 << log2;
    for (int i = 0; i < len; i++) {
        int q = (i * 4) / len, f = (i * 4) % len;
        int v = q == 0 ? f : q == 1 ? len - f : q == 2 ? -f : f - len;
        poke16(addr + uint32_t(i) * 2, uint16_t(int16_t(int64_t(v) * amplitude / len)));
    }
}

// Track t at base: length, speed, loops, delay and rows of
// {pitch, inst, vol, fx, param}.
struct row {
    uint8_t pitch, inst, vol, fx, param;
};
inline uint32_t track_addr(int t, uint32_t base = 0) { return base + 0x20000 + uint32_t(t) * 328; }
inline void track(int t, uint16_t len, uint8_t speed, uint8_t ls, uint8_t le, uint8_t delay, std::vector<row> rows,
                  uint32_t base = 0) {
    uint32_t a = track_addr(t, base);
    poke16(a, len);
    poke8(a + 2, speed);
    poke8(a + 3, ls);
    poke8(a + 4, le);
    poke8(a + 5, delay);
    uint32_t L = len ? len : 1;
    for (uint32_t r = 0; r < L; r++) {
        row x = r < rows.size() ? rows[r] : row{255, 255, 255, 255, 255};
        poke8(a + 8 + r, x.pitch);
        poke8(a + 8 + L + r, x.inst);
        poke8(a + 8 + 2 * L + r, x.vol);
        poke8(a + 8 + 3 * L + r, x.fx);
        poke8(a + 8 + 4 * L + r, x.param);
    }
}

inline void pattern(int p, std::vector<uint8_t> tracks, uint8_t flags, uint8_t enable, uint32_t music_base = 0) {
    uint32_t a = music_base + 0x100 + uint32_t(p) * 20;
    for (uint32_t c = 0; c < 8; c++) poke8(a + c, c < tracks.size() ? tracks[c] : 0);
    poke8(a + 8, flags);
    poke8(a + 9, enable);
}

// Renders 'calls' blocks of 'frames' and returns every sample.
inline std::vector<int16_t> render(int calls, int frames = 512) {
    std::vector<int16_t> out(size_t(calls) * size_t(frames) * 2);
    for (int i = 0; i < calls; i++) mudo_mix(out.data() + size_t(i) * size_t(frames) * 2, frames);
    return out;
}

inline uint32_t crc_of(const std::vector<int16_t> &v) {
    return crc32b(reinterpret_cast<const uint8_t *>(v.data()), int64_t(v.size() * 2));
}

}  // namespace mt

class MudoTest : public ::testing::Test {
  protected:
    void SetUp() override { mudo_reinit_for_tests(); }
};
