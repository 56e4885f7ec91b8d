// The effect nodes: filter, echo and gain act on their parent's buffer in
// place, with state kept in the effect's node record between ticks.
#include <cstring>

#include "engine.h"

namespace {

// One filter's coefficients and state for a block.
struct filter_run {
    int64_t D, a, b;
    int64_t s1, s2, s3;
    int16_t *x;

    filter_run(mudo_node_rec *parent, const mudo_node_rec *fx) {
        int64_t P0 = (fx->val[0] >> 8) & 0xFFFF;
        int64_t P1 = (fx->val[1] >> 8) & 0xFFFF;
        int64_t R = fx->val[2] >> 8;
        int64_t q = ((((R * R) >> 16) + R) / 2) * 128 + 0x10000;
        // q = 0 would divide by zero: it takes the open filter's value.
        D = q == 0 ? 0x10000 : (int64_t(1) << 32) / q;
        a = ((0x10000 - P0) * (0x10000 - P0)) >> 16;
        b = 0x10000 - ((P1 * P1) >> 16);
        s1 = fx->filt[0], s2 = fx->filt[1], s3 = fx->filt[2];
        x = parent->output;
    }

    void sample(int32_t k) {
        int64_t o = s1;
        s3 = wadd64(s3, wmul64(wsub64(x[k], wadd64(s3, o)), D) / 65536);
        s1 = wadd64(o, wmul64(s3, a) / 65536);
        int64_t t = wmul64(wadd64(wsub64(s2, int32_t(uint32_t(uint64_t(o)))), s1), b);
        s2 = t / 65536;
        if (t < -0x7FFFFFFF)
            x[k] = -32767;
        else
            x[k] = int16_t(uint16_t(uint64_t(s2 < 32767 ? s2 : 32767)));
    }

    void store(mudo_node_rec *fx) const {
        fx->filt[0] = s1;
        fx->filt[1] = s2;
        fx->filt[2] = s3;
    }
};

}  // namespace

void apply_fx_filter(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n) {
    filter_run f(parent, fx);
    for (int32_t k = 0; k < n; k++) f.sample(k);
    f.store(fx);
}

// Two filters over two different buffers, sample by sample together: each
// is a serial chain, so running them side by side overlaps their latencies.
void apply_fx_filter_pair(mudo_node_rec *parent_a, mudo_node_rec *fx_a, mudo_node_rec *parent_b,
                          mudo_node_rec *fx_b, int32_t n) {
    buffer_written(parent_a->output);
    buffer_written(parent_b->output);
    filter_run f(parent_a, fx_a), g(parent_b, fx_b);
    for (int32_t k = 0; k < n; k++) {
        f.sample(k);
        g.sample(k);
    }
    f.store(fx_a);
    g.store(fx_b);
}

void apply_fx_echo(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n) {
    int64_t d = fx->val[0];
    int64_t f = fx->val[1] & 0xFFFFFF;
    uint32_t w = uint32_t(fx->echo_pos) & 0x7FFF;
    if (n > 0) {
        int64_t pd = fx->echo_prev_delay < 0 ? d : fx->echo_prev_delay;
        int64_t pf = fx->echo_prev_fb < 0 ? f : fx->echo_prev_fb;
        int16_t *ring = fx->output, *x = parent->output;
        for (int32_t k = 0; k < n; k++) ring[(w + uint32_t(k)) & 0x7FFF] = x[k];
        int64_t D = (d * 32256) >> 8, Dp = (pd * 32256) >> 8;
        int64_t gd = (D - Dp) / n, gf = (f - pf) / n;
        uint64_t r = (uint64_t(int64_t(w) << 16) - uint64_t(Dp)) & 0x7FFFFFFE;
        int64_t g = pf;
        uint32_t i = w;
        for (int32_t k = 0; k < n; k++) {
            int64_t fb = wmul64(ring[r >> 16], g) / (int64_t(1) << 24);
            ring[i] = int16_t(clamp_sample(wadd64(ring[i], fb)));
            i = (i + 1) & 0x7FFF;
            r = (r + 0x10000 - uint64_t(gd)) & 0x7FFFFFFF;
            g = wadd64(g, gf);
        }
        for (int32_t k = 0; k < n; k++) x[k] = ring[(w + uint32_t(k)) & 0x7FFF];
    }
    fx->echo_pos = int32_t((w + uint32_t(n)) & 0x7FFF);
    fx->echo_prev_delay = d;
    fx->echo_prev_fb = f;
}

void apply_fx_gain(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n) {
    int64_t v0 = fx->val[0], v1 = fx->val[1], v2 = fx->val[2], v3 = fx->val[3];
    int64_t a = 0x10000 + (7 * v0) / 255;
    if (a == 0) a = 1;  // a drive of exactly -1 would divide by zero
    int64_t b = 0x10000 - v2 / 255;
    int64_t c = v1 / 255;
    int64_t t = wshl64(b, 16) / a;
    int64_t slope = 0;
    if (t != 0x10000) {
        int64_t den = 0x10000 - t;
        int64_t S0 = div64(wshl64(wsub64(a, b), 16), den);
        int64_t S1 = div64(wshl64(0x10000 - b, 16), den);
        if (v1 <= 0x7F7FFF)
            slope = wadd64(wmul64(2 * c, S1), wmul64(0x10000 - 2 * c, S0)) >> 16;
        else
            slope = wmul64(0x20000 - 2 * c, S1) >> 16;
    }
    int64_t m = v3 / 64;
    bool fold = v1 >= 0xFF0000;
    uint32_t fold_mul = uint32_t(uint64_t(c)) + 0x7FFF0000u;
    int16_t *x = parent->output;
    for (int32_t k = 0; k < n; k++) {
        int32_t s = x[k];
        int64_t ax = int64_t(s < 0 ? -s : s) * 2;
        int64_t y;
        if (ax < t) {
            y = wmul64(ax, a) >> 16;
        } else if (!fold) {
            y = wadd64(wmul64(ax - t, slope) >> 16, b);
        } else {
            uint32_t off = uint32_t(uint64_t(wsub64(wmul64(ax, a) >> 16, b))) * fold_mul;
            uint32_t e = ((off >> 16) & 0x7FFE) >> 1;
            y = wmul64(2 * b, int16_t(gain_tri[e])) >> 16;
        }
        if (y > 65535) y = 65535;
        int64_t mag = wmul64(y >> 1, m) >> 16;
        if (s < 0) mag = wsub64(0, mag);
        x[k] = int16_t(clamp_sample(mag));
    }
}

void apply_fx_node(mudo_node_rec *parent, mudo_node_rec *fx, int32_t n) {
    buffer_written(parent->output);
    if (fx->kind == 9) buffer_written(fx->output);  // the ring
    switch (fx->kind) {
    case 8: apply_fx_filter(parent, fx, n); break;
    case 9: apply_fx_echo(parent, fx, n); break;
    case 10: apply_fx_gain(parent, fx, n); break;
    default: break;
    }
}
