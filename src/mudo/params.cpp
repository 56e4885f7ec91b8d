// Parameter values: the per-tick evaluation of a node's seven mvals, the four
// envelope kinds, the envelope clock and its restart on a new note.
#include <cmath>

#include "engine.h"

namespace {

constexpr int64_t ENV_MAX = 65280;

// Envelope record fields.
inline uint8_t env_kind(uint32_t a) { return ram_u8(a); }
inline uint8_t env_flags(uint32_t a) { return ram_u8(a + 1); }
inline uint8_t env_speed(uint32_t a) { return ram_u8(a + 2); }
inline uint8_t env_loop_start(uint32_t a) { return ram_u8(a + 3); }
inline uint8_t env_loop_end(uint32_t a) { return ram_u8(a + 4); }
inline uint8_t env_start(uint32_t a) { return ram_u8(a + 5); }
inline uint8_t env_data(uint32_t a, int i) { return ram_u8(a + 8 + uint32_t(i)); }

// Loops and start positions apply to data envelopes and to any envelope that
// asks for them with flag bit 4.
inline bool env_uses_positions(uint32_t a) { return (env_kind(a) & 15) == 2 || (env_flags(a) & 16); }

// Brings t below k * e by whole loop lengths (k * (e - s)), as repeated
// subtraction would.
int32_t fold_loop(int64_t t, int64_t k, int64_t s, int64_t e) {
    int64_t end = k * e, span = k * (e - s);
    if (t < end || span <= 0) return int32_t(t);
    int64_t times = (t - end) / span + 1;
    return int32_t(t - times * span);
}

}  // namespace

uint32_t mval_envelope_addr(const mudo_channel_rec *chan, uint32_t mval) {
    uint32_t slot = (mval >> 24) & 15;
    return uint32_t(chan->inst) * 512u + uint32_t(chan->base_addr) + slot * 24u + 0x10100u;
}

int64_t evaluate_envelope_adsr(uint32_t address, int32_t t, const mudo_channel_rec *chan, int64_t held) {
    int64_t a = get_env_duration(env_data(address, 0));
    int64_t d = get_env_duration(env_data(address, 1));
    int64_t S = int64_t(env_data(address, 2)) * 256;
    int64_t r = get_env_duration(env_data(address, 3));
    if (chan->gate) {
        if (a > t) return int32_t((int64_t(t) * ENV_MAX + ENV_MAX) / (a + 1));
        int64_t u = int64_t(t) - a;
        if (u > d) return S;
        return S + ((d + 1 - u) * (ENV_MAX - S)) / (d + 1);
    }
    if (r == 0) return 0;
    int64_t left = r - chan->release_ticks;
    if (left < 0) left = 0;
    return wmul64(left, held) / (r + 1);
}

int64_t evaluate_envelope_lfo(uint32_t address, int32_t t, const mudo_channel_rec *chan) {
    int32_t p = get_spd(env_data(address, 4), chan);
    double x = std::sin(((double(t) * 3.141562) * 2.0) / double(p) +
                        (double(env_data(address, 6)) * 0.00390625) * 6.283124);
    double v = std::trunc(x * 32640.0);
    if (v > 32640.0) v = 32640.0;
    if (v < -32640.0) v = -32640.0;
    return int64_t(v) + 32640;
}

int64_t evaluate_envelope_data(uint32_t address, int32_t t, const mudo_channel_rec *chan) {
    int32_t k = get_spd(env_speed(address), chan);
    int32_t n = t / k, f = t % k;
    int64_t L = (n >= 0 && n <= 15) ? env_data(address, n) : 0;
    if (!(env_flags(address) & 1)) return L * 256;
    int64_t next = int64_t(n) + 1;
    int32_t ls = env_loop_start(address), le = env_loop_end(address);
    if (next == le && ls < le) next = ls;
    int64_t M = (next >= 0 && next < 16) ? env_data(address, int(next)) : 0;
    int64_t frac = (int64_t(f) * 256) / k;
    return frac * (M - L) + L * 256;
}

int64_t evaluate_envelope(uint32_t address, int32_t t, const mudo_channel_rec *chan, int64_t held) {
    switch (env_kind(address)) {
    case 0: return evaluate_envelope_adsr(address, t, chan, held);
    case 1: return evaluate_envelope_lfo(address, t, chan);
    case 2: return evaluate_envelope_data(address, t, chan);
    default: return 0;  // map and unknown kinds
    }
}

// The interpolation between B (envelope 0) and A (envelope 65280).
static int64_t interpolate(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval, int64_t a,
                           int64_t b) {
    uint8_t flags = uint8_t(mval);
    if (flags & 4) {
        int64_t e = evaluate_envelope(mval_envelope_addr(chan, mval), node->env_t[m], chan, node->env_held[m]);
        if (chan->gate) node->env_held[m] = e;
        return (wmul64(ENV_MAX - e, b) + wmul64(a, e)) * 256 / 255;
    }
    if (flags & 16) {
        int64_t r = node->rnd[m];
        return (a * r + b * (ENV_MAX - r)) * 256 / 255;
    }
    return a * 65536;
}

int64_t evaluate_mval2(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval, int64_t b, int64_t a) {
    return interpolate(chan, node, m, mval, a, b);
}

int32_t eval_mval(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval, int64_t base) {
    uint8_t flags = uint8_t(mval), b3 = uint8_t(mval >> 24);
    int64_t A = uint8_t(mval >> 8), B = uint8_t(mval >> 16);
    if (node->kind < 5 && is_mval_signed(node->kind, m)) {
        A = int8_t(A);
        B = int8_t(B);
    }
    int64_t v = interpolate(chan, node, m, mval, A, B);
    int s = 0;
    if (b3 >= 64) {
        s = ((b3 & 64) ? 2 : 0) + ((b3 & 128) ? 4 : 0);
        if (b3 & 32) s = -s;
    }
    if (m == 0 && node->kind == 2 && (node->op == 1 || node->op == 2)) {
        node->mul_shift = s;
    } else if (s > 0) {
        v = wshl64(v, s);
    } else if (s < 0) {
        v = v / (int64_t(1) << -s);
    }
    switch (flags & 3) {
    case 1: v = wadd64(v, base); break;
    case 2: v = wmul64(v >> 11, base >> 11); break;
    default: break;
    }
    if (flags & 32) v = int64_t(uint64_t(v) & ~uint64_t(0xFFFF));
    return int32_t(uint32_t(uint64_t(v)));
}

void advance_env_clock(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval) {
    node->env_t[m] = wadd32(node->env_t[m], 1);
    if (!chan->gate) return;
    uint32_t e_addr = mval_envelope_addr(chan, mval);
    int32_t s = env_loop_start(e_addr), e = env_loop_end(e_addr);
    if (!(s < e) || !env_uses_positions(e_addr)) return;
    int32_t k = get_spd(env_speed(e_addr), chan);
    node->env_t[m] = fold_loop(node->env_t[m], k, s, e);
}

void retrigger_mval_env_tick(mudo_channel_rec *chan, mudo_node_rec *node, int m, uint32_t mval) {
    uint32_t e_addr = mval_envelope_addr(chan, mval);
    if (!env_uses_positions(e_addr)) {
        node->env_t[m] = 0;
        return;
    }
    int64_t k = get_spd(env_speed(e_addr), chan);
    int64_t start = env_start(e_addr);
    int64_t t = start * k;
    if ((env_flags(e_addr) & 8) && start != 0) t = int64_t(mudo_rand() % uint64_t(start * k));
    int32_t s = env_loop_start(e_addr), e = env_loop_end(e_addr);
    node->env_t[m] = s < e ? fold_loop(t, k, s, e) : int32_t(t);
}
