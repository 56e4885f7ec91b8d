// The audio engine over arbitrary memory and arbitrary calls: input bytes
// fill windows of the mixer's memory copy, then drive note, track, music,
// fade, base-address, mix-volume and query calls with arbitrary 32-bit
// values, interleaved with mixes of 0..MAX_FRAMES_PER_INPUT frames. Every
// output sample must lie in -32767..32767, and no mix may write past the
// frames it was asked for; no sanitizer report, no hang. Between inputs the
// engine is put back by clearing only what the last input wrote.
//
// Input: a sequence of operations, each an opcode byte and its operands.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mudo.h"
#include "mudo_testing.h"

namespace {

struct reader {
    const uint8_t *p, *end;
    bool more() const { return p < end; }
    uint8_t u8() { return p < end ? *p++ : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v |= uint32_t(u8()) << (8 * i);
        return v;
    }
    // An argument: half the time a value near the interesting edges.
    int32_t arg() {
        static const int32_t edges[] = {0, 1, -1, 2, 15, 16, 255, 256, 127, -128, 48, 64, 0x7fffffff,
                                        INT32_MIN, 0xF00000, 0x1000000, 0x10000, 0x20000, 300, 1000};
        uint8_t sel = u8();
        if (sel & 1) return edges[(sel >> 1) % (sizeof edges / sizeof edges[0])];
        return int32_t(u32());
    }
};

// Frames mixed per input: eight ticks of MUDO_TICK_SAMPLES. A track can
// step a row every tick and an envelope or slide moves every tick, so eight
// are enough for notes to start, slide and release, for rows and patterns
// to advance and loop and for short fades to end. Longer renders mostly
// repeat the same ticks: at 200,000 frames mixing took two thirds of each
// input for little new coverage, while more, shorter inputs explore more
// calls.
constexpr int64_t MAX_FRAMES_PER_INPUT = 8 * MUDO_TICK_SAMPLES;
std::vector<int16_t> out(size_t(MAX_FRAMES_PER_INPUT) * 2 + 16);

// Whether one of the first 'n' output samples lies below -32767. The check
// is no code under test, so its loop stays out of the traced coverage.
__attribute__((no_sanitize("coverage"))) bool below_range(int32_t n) {
    for (int32_t i = 0; i < n; i++)
        if (out[size_t(i)] < -32767) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();  // the binding check's message
    mudo_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    mudo_reinit_changed_for_tests();
    mudo_set_volume(256);
    reader r{data, data + size};
    int64_t frames_left = MAX_FRAMES_PER_INPUT;
    uint8_t buf[32768 * 4];
    while (r.more()) {
        switch (r.u8() % 12) {
        case 0:
        case 1: {  // a window of memory, wrapping at 16 MB
            uint32_t at = (uint32_t(r.u8()) << 16 | uint32_t(r.u8()) << 8 | r.u8()) & 0xFFFFFF;
            if (r.u8() & 1) at = 0x10000 + (at & 0x1FFFF);  // most instruments and tracks live here
            size_t n = r.u8() + 1;
            for (size_t i = 0; i < n && r.more(); i++) {
                uint8_t b = r.u8();
                mudo_memcpy((at + uint32_t(i)) & 0xFFFFFF, &b, 1);
            }
            break;
        }
        case 2: {
            int32_t a[8];
            for (int32_t &x : a) x = r.arg();
            mudo_set_note(a[0] % 18, a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
            break;
        }
        case 3: {
            int32_t a[8];
            for (int32_t &x : a) x = r.arg();
            mudo_play_track(a[0], a[1] % 20, a[2], a[3], a[4], a[5], a[6], a[7]);
            break;
        }
        case 4: {
            int32_t a[4];
            for (int32_t &x : a) x = r.arg();
            mudo_play_music(a[0], a[1] % 5000, a[2], a[3]);
            break;
        }
        case 5: mudo_fade_out_music(r.arg() % 5000); break;
        case 6: mudo_set_channel_base_addr(r.arg() % 20, r.arg()); break;
        case 7: mudo_set_channel_mix_vol(r.arg() % 20, r.arg()); break;
        case 8: {
            int32_t ch = r.arg() % 20, code = r.arg() % 40;
            if (r.u8() & 1) ch = code = -1;
            mudo_get_channel_state(ch, code, buf);
            mudo_get_channel_state(ch, code, nullptr);
            mudo_get_active_channels();
            mudo_get_music_state(r.arg());
            break;
        }
        case 9: mudo_set_stereo_swap(r.u8() & 1); break;
        case 10: mudo_kill_all_audio(); break;
        default: {
            int32_t n = int32_t((uint32_t(r.u8()) << 8 | r.u8()) % (MAX_FRAMES_PER_INPUT + 1));
            if (n > frames_left) n = int32_t(frames_left);
            frames_left -= n;
            out[size_t(n) * 2] = 0x1234;
            mudo_mix(out.data(), n);
            if (below_range(n * 2)) std::abort();
            if (out[size_t(n) * 2] != 0x1234) std::abort();
            break;
        }
        }
    }
    return 0;
}
