// Audio engine benchmarks. The first four figures are real-time factors:
// seconds of audio rendered per wall second through 512-frame mudo_mix
// calls (a call covers 11.61 ms of audio); their margin is goal / factor.
// The other four are ratios of our time to a baseline measured in the same
// run (median of several runs); their margin is ratio / goal. Each figure
// prints "audio <figure> ratio: R"; the last line is
// "audio worst goal margin: M". Names on the command line run only those
// figures (bench_audio mix16 osc).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "address_space.h"
#include "crc32.h"
#include "fake_host.h"
#include "mudo.h"
#include "mudo_testing.h"
#include "process.h"

namespace {

using clock_type = std::chrono::steady_clock;
double worst_margin = 0;
volatile int64_t sink;

double elapsed(clock_type::time_point a) { return std::chrono::duration<double>(clock_type::now() - a).count(); }

double median_seconds(int runs, const std::function<void()> &f) {
    std::vector<double> t;
    for (int i = 0; i < runs; i++) {
        auto a = clock_type::now();
        f();
        t.push_back(elapsed(a));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void report_factor(const char *name, double factor, double goal) {
    worst_margin = std::max(worst_margin, goal / factor);
    std::printf("audio %s ratio: %.1f\n", name, factor);
}

void report_ratio(const char *name, double ratio, double goal) {
    worst_margin = std::max(worst_margin, ratio / goal);
    std::printf("audio %s ratio: %.3f\n", name, ratio);
}

/* ---- the audio image ---- */

std::vector<uint8_t> image(0x1000000);

void put8(uint32_t a, uint8_t v) { image[a & 0xFFFFFF] = v; }
void put16(uint32_t a, uint16_t v) { put8(a, uint8_t(v)), put8(a + 1, uint8_t(v >> 8)); }
void put32(uint32_t a, uint32_t v) { put16(a, uint16_t(v)), put16(a + 2, uint16_t(v >> 16)); }
uint32_t mval(uint8_t flags, uint8_t a, uint8_t b = 0, uint8_t b3 = 0) {
    return uint32_t(flags) | uint32_t(a) << 8 | uint32_t(b) << 16 | uint32_t(b3) << 24;
}
void node(int inst, int n, int parent, int op, int kind, int slot, std::vector<uint32_t> vals) {
    uint32_t a = 0x10000 + uint32_t(inst) * 512 + uint32_t(n) * 32;
    put8(a, uint8_t(parent | op << 4));
    put8(a + 1, uint8_t(kind | slot << 4));
    for (size_t m = 0; m < vals.size(); m++) put32(a + 4 + uint32_t(m) * 4, vals[m]);
}

void build_image() {
    // Wavetables in the default places: 256 waves of 1024 samples at
    // 0xF80000 (sine to square) and one long wave at 0xF78000.
    for (int w = 0; w < 256; w++)
        for (int i = 0; i < 1024; i++) {
            double s = std::sin(i * 3.141562 / 512);
            double v = s * (256 - w) / 256 + (s >= 0 ? 1 : -1) * w / 256.0;
            put16(0xF80000 + uint32_t(w * 1024 + i) * 2, uint16_t(int16_t(v * 30000)));
        }
    for (int i = 0; i < 8192; i++) put16(0xF78000 + uint32_t(i) * 2, uint16_t(int16_t(std::sin(i * 0.01) * 20000)));
    put8(0x5538, 64);
    put8(0x5539, 64);
    // Instrument 1: a group with an ADSR volume, an oscillator and its FM modulator.
    node(1, 0, 0, 0, 1, 0, {mval(4 | 1, 255, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
    uint32_t env = 0x10000 + 512 + 256;
    put8(env, 0), put8(env + 8, 2), put8(env + 9, 10), put8(env + 10, 160), put8(env + 11, 6);
    node(1, 1, 0, 0, 2, 0, {mval(0, 64), mval(1, 0), mval(1, 0), mval(1, 0), mval(0, 20)});
    node(1, 2, 1, 1, 2, 0, {mval(0, 24, 0, 0x40), mval(1, 0), mval(1, 12), mval(1, 0), mval(0, 200)});
    // Instrument 2: wide; two oscillators, a filter, an echo and a gain stage
    // (slots 6 and 7 take the filter's and the echo's right-hand copies).
    put8(0x10000 + 2 * 512 + 479, 2);
    node(2, 0, 0, 0, 1, 0, {mval(1, 0), mval(1, 0), mval(1, 0), mval(1, 0)});
    node(2, 1, 0, 0, 2, 0, {mval(0, 40), mval(0, 90, 0), mval(1, 0), mval(1, 0), mval(0, 30)});
    node(2, 2, 0, 0, 2, 0, {mval(0, 40), mval(0, 160, 0), mval(1, 7), mval(1, 0), mval(0, 250)});
    node(2, 3, 0, 0, 8, 0, {mval(0, 100), mval(0, 20), mval(1, 30)});
    node(2, 4, 0, 0, 9, 0, {mval(0, 3), mval(0, 120)});
    node(2, 5, 0, 0, 10, 0, {mval(0, 60), mval(0, 100), mval(0, 40), mval(1, 0)});
    for (int inst : {1, 2}) {
        uint32_t d = 0x10000 + uint32_t(inst) * 512 + 480;
        put16(d, 0xF800), put8(d + 2, 10), put8(d + 3, 255);
    }
    // Tracks 0..15 on instrument 1 and 16..31 on instrument 2: 32 rows at
    // speed 4, a note every row, looping.
    for (int t = 0; t < 32; t++) {
        uint32_t a = 0x20000 + uint32_t(t) * 328;
        put16(a, 32), put8(a + 2, 4), put8(a + 3, 0), put8(a + 4, 32);
        for (uint32_t r = 0; r < 32; r++) {
            put8(a + 8 + r, uint8_t(36 + (r * 7 + uint32_t(t) * 3) % 36));
            put8(a + 8 + 32 + r, t < 16 ? 1 : 2);
            put8(a + 8 + 64 + r, 48);
            put8(a + 8 + 96 + r, 0);
            put8(a + 8 + 128 + r, 0);
        }
    }
    // Song tracks 40..47 (not looping, 16 rows) and four patterns: the last
    // loops back to pattern 1.
    for (int t = 40; t < 48; t++) {
        uint32_t a = 0x20000 + uint32_t(t) * 328;
        put16(a, 16), put8(a + 2, 6);
        for (uint32_t r = 0; r < 16; r++) {
            put8(a + 8 + r, (r + uint32_t(t)) % 3 == 0 ? 255 : uint8_t(30 + (r * 5 + uint32_t(t)) % 40));
            put8(a + 8 + 16 + r, 1);
            put8(a + 8 + 32 + r, 30);
            put8(a + 8 + 48 + r, r % 4 == 1 ? 'v' : 0);
            put8(a + 8 + 64 + r, 0);
        }
    }
    for (int p = 0; p < 4; p++) {
        uint32_t a = 0x100 + uint32_t(p) * 20;
        for (uint32_t c = 0; c < 8; c++) put8(a + c, uint8_t(40 + (c + uint32_t(p)) % 8));
        put8(a + 8, p == 1 ? 1 : p == 3 ? 2 : 0);
        put8(a + 9, 0xFF);
    }
}

void fresh_engine() {
    mudo_reinit_for_tests();
    mudo_memcpy(0, image.data(), 0x1000000);
    mudo_set_volume(256);
}

// Seconds of audio per wall second over 'calls' 512-frame mixes.
double realtime_factor(int calls, const std::function<void(int)> &before = {}) {
    std::vector<int16_t> out(1024);
    auto a = clock_type::now();
    for (int i = 0; i < calls; i++) {
        if (before) before(i);
        mudo_mix(out.data(), 512);
    }
    double wall = elapsed(a);
    sink = out[5];
    return calls * 512.0 / 44100.0 / wall;
}

constexpr int CALLS_PER_MINUTE = int(60 * 44100 / 512);

void start_tracks(int first) {
    for (int c = 0; c < 16; c++) mudo_play_track(first + c, c, 0, 0, 0, -120 + c * 16, 64, 0);
}

/* ---- ratios ---- */

// The oscillator's rule, one sample at a time through the wrapping accessor.
__attribute__((noinline)) void reference_osc(mudo_node_rec *node, int32_t n) {
    int L = node->wave_log2;
    uint32_t w = ((uint32_t(node->val[4]) >> 16 & 0xFF) * uint32_t(node->wave_count)) >> 8;
    uint32_t base = uint32_t(node->wave_addr) + w * uint32_t(node->wave_len) * 2;
    uint64_t M = (uint64_t(1) << (L + 16)) - 1;
    int32_t g = int32_t(uint32_t(node->val[0]) << 8) >> 16;
    int64_t O = int64_t(int16_t(uint32_t(node->val[5]) >> 16) + 128) * (int64_t(1) << (L + 8));
    uint64_t p = (node->phase & M) - uint64_t(O);
    auto at = [&](uint64_t i) {
        uint32_t a = (base + uint32_t(i) * 2) & 0xFFFFFF;
        return int32_t(int16_t(mixer.audio_ram[a] | mixer.audio_ram[(a + 1) & 0xFFFFFF] << 8));
    };
    for (int32_t k = 0; k < n; k++) {
        uint64_t q = p & M;
        int32_t s0 = at(q >> 16), s1 = at(((q + 0x10000) & M) >> 16);
        int32_t y = s0 + int32_t((int64_t(q & 0xFFFF) * (s1 - s0)) >> 16);
        node->output[k] = int16_t(uint32_t((y * g) >> 14));
        p = q + node->step;
    }
    node->phase = (p + uint64_t(O)) & M;
}

double bench_osc() {
    fresh_engine();
    std::vector<int16_t> out(367);
    mudo_node_rec node{};
    node.kind = 2, node.wave_addr = 0xF80000, node.wave_log2 = 10, node.wave_len = 1024, node.wave_count = 255;
    node.val[0] = 64 << 16, node.val[4] = 30 << 16, node.step = 397935, node.output = out.data();
    mudo_node_rec ref = node;
    const int reps = 20000;
    double ours = median_seconds(7, [&] {
        for (int r = 0; r < reps; r++) render_node_tick_osc(&node, 367);
    });
    double base = median_seconds(7, [&] {
        for (int r = 0; r < reps; r++) reference_osc(&ref, 367);
    });
    sink = out[3] + int64_t(node.phase) + int64_t(ref.phase);
    return ours / base;
}

// The eight ops one sample at a time, kept scalar.
#define SCALAR __attribute__((noinline, optimize("no-tree-vectorize")))
SCALAR void scalar_ops(int16_t *d, int16_t *r, const int16_t *s, int n) {
    auto cl = [](int32_t v) { return int16_t(v > 32767 ? 32767 : v < -32767 ? -32767 : v); };
    for (int k = 0; k < n; k++) d[k] = cl(d[k] + s[k]);
    for (int k = 0; k < n; k++) d[k] = cl((s[k] * d[k]) >> 13);
    for (int k = 0; k < n; k++) d[k] = int16_t(d[k] ^ s[k]);
    for (int k = 0; k < n; k++) d[k] = int16_t(d[k] | s[k]);
    for (int k = 0; k < n; k++) {
        int32_t c = s[k];
        d[k] = cl(d[k] + c * 3000 / 4096), r[k] = cl(r[k] + c * 1000 / 4096);
    }
    for (int k = 0; k < n; k++) {
        int32_t c = s[k];
        d[k] = cl(((c * 3000 / 4096) * d[k]) >> 13), r[k] = cl(((c * 1000 / 4096) * r[k]) >> 13);
    }
    for (int k = 0; k < n; k++) {
        int32_t c = s[k];
        d[k] = int16_t(d[k] ^ (c * 3000 / 4096)), r[k] = int16_t(r[k] ^ (c * 1000 / 4096));
    }
    for (int k = 0; k < n; k++) {
        int32_t c = s[k];
        d[k] = int16_t(d[k] | (c * 3000 / 4096)), r[k] = int16_t(r[k] | (c * 1000 / 4096));
    }
}

double bench_ops() {
    std::vector<int16_t> s(367), d(367), r(367);
    for (int i = 0; i < 367; i++) s[size_t(i)] = int16_t(i * 97 - 17000), d[size_t(i)] = int16_t(i * 31);
    const int reps = 20000;
    double ours = median_seconds(7, [&] {
        for (int k = 0; k < reps; k++) {
            add_buffer(d.data(), s.data(), 367);
            mul_buffer(d.data(), s.data(), 367, 2);
            xor_buffer(d.data(), s.data(), 367);
            or_buffer(d.data(), s.data(), 367);
            add_buffer_split(d.data(), r.data(), 3000, 1000, s.data(), 367);
            mul_buffer_split(d.data(), r.data(), 3000, 1000, s.data(), 367, 2);
            xor_buffer_split(d.data(), r.data(), 3000, 1000, s.data(), 367);
            or_buffer_split(d.data(), r.data(), 3000, 1000, s.data(), 367);
        }
    });
    double base = median_seconds(7, [&] {
        for (int k = 0; k < reps; k++) scalar_ops(d.data(), r.data(), s.data(), 367);
    });
    sink = d[7] + r[9];
    return ours / base;
}

process_rec *full_process() {
    processes_init();
    app = app_state_rec{};
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    process_rec *p = create_process_from_code("", "root", "/t/root.lua", "");
    if (!p) std::abort();
    for (uint32_t pg = 0; pg < NUM_PAGES; pg++) {
        own_page(p, pg)[7] = uint8_t(pg);
        p->page_flags[pg] = 255;
    }
    return p;
}

double bench_sync_full() {
    process_rec *p = full_process();
    std::vector<uint8_t> a(0x1000000, 1), b(0x1000000);
    double ours = median_seconds(9, [&] {
        app.audio_synced_pid = -3;
        if (audio_op_start(p->id, 1) == 0) audio_op_end();
    });
    double base = median_seconds(9, [&] {
        std::memcpy(b.data(), a.data(), a.size());
        sink = b[12345];
    });
    return ours / base;
}

double bench_sync_dirty() {
    process_rec *p = full_process();
    if (audio_op_start(p->id, 1) == 0) audio_op_end();
    std::vector<uint8_t> a(0x1000000, 1), b(0x1000000);
    std::vector<uint32_t> pages;
    for (uint32_t i = 0; i < 64; i++) pages.push_back((i * 2654435761u) % NUM_PAGES);
    const int reps = 200;
    double ours = median_seconds(9, [&] {
        for (int r = 0; r < reps; r++) {
            for (uint32_t pg : pages) p->page_flags[pg] = 255;
            if (audio_op_start(0, 1) == 0) os_unlock_audio();
        }
    });
    double base = median_seconds(9, [&] {
        for (int r = 0; r < reps; r++)
            for (uint32_t pg : pages) std::memcpy(b.data() + pg * 4096, a.data() + pg * 4096, 4096);
        sink = b[4096 * 5];
    });
    processes_init();
    return ours / base;
}

}  // namespace

namespace {

void song() {
    fresh_engine();
    mudo_play_music(0, 0, 0xFF, 0);
    std::vector<int16_t> out(1024);
    const int song_calls = 3 * CALLS_PER_MINUTE;
    std::vector<uint8_t> all;
    all.reserve(size_t(song_calls) * 2048);
    auto a = clock_type::now();
    for (int i = 0; i < song_calls; i++) {
        if (i == song_calls - 600) mudo_fade_out_music(5000);
        mudo_mix(out.data(), 512);
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(out.data());
        all.insert(all.end(), bytes, bytes + 2048);
    }
    double wall = elapsed(a);
    uint32_t crc = crc32b(all.data(), int64_t(all.size()));
    std::printf("audio song crc: 0x%08X\n", crc);
    report_factor("song", song_calls * 512.0 / 44100.0 / wall, 300);
}

}  // namespace

int main(int argc, char **argv) {
    auto wanted = [&](const char *name) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; i++)
            if (std::strcmp(argv[i], name) == 0) return true;
        return false;
    };
    build_image();

    if (wanted("mix16")) {
        fresh_engine();
        start_tracks(0);
        report_factor("mix16", realtime_factor(CALLS_PER_MINUTE), 200);
    }
    if (wanted("mix16_fx")) {
        fresh_engine();
        start_tracks(16);
        report_factor("mix16_fx", realtime_factor(CALLS_PER_MINUTE), 40);
    }
    if (wanted("idle16")) {
        fresh_engine();
        mudo_kill_all_audio();
        report_factor("idle16", realtime_factor(CALLS_PER_MINUTE), 500);
    }
    if (wanted("song")) song();
    if (wanted("osc")) report_ratio("osc", bench_osc(), 0.8);
    if (wanted("ops")) report_ratio("ops", bench_ops(), 0.3);
    if (wanted("sync_full")) report_ratio("sync_full", bench_sync_full(), 1.2);
    if (wanted("sync_dirty")) report_ratio("sync_dirty", bench_sync_dirty(), 1.5);
    std::printf("audio worst goal margin: %.3f\n", worst_margin);
    return 0;
}
