// draw_tline3d by the steps of its rule in doubles, over the running
// process: the reference of the textured-line tests and benchmarks.
#pragma once

#include <cmath>
#include <cstring>

#include "line_reference.h"
#include "pixel_reference.h"
#include "process.h"
#include "saturate.h"
#include "typed_ud.h"

namespace tline_reference {

inline uint8_t &byte_at(typed_ud_rec *b, int64_t x, int64_t y) {
    return ud_elements(b)[y * b->width + x];
}
inline uint8_t *bytes(typed_ud_rec *b) {
    return ud_elements(b);
}

inline int32_t low32_floor(double v) {
    if (!std::isfinite(v) || v >= 9.2e18 || v <= -9.2e18) return 0;
    return int32_t(uint32_t(uint64_t(int64_t(std::floor(v)))));
}

// draw_tline3d by its steps, reading registers through peek.
inline int32_t tline3d(process_rec *proc, typed_ud_rec *src, typed_ud_rec *dst, int32_t flags,
                       double x0, double y0, double x1, double y1, double tu0, double tv0,
                       double tu1, double tv1, double w0, double w1) {
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
        return 0;
    struct E {
        double x, y, u, v, w;
    } a{x0, y0, tu0, tv0, w0}, b{x1, y1, tu1, tv1, w1};
    if (b.y < a.y || (b.y == a.y && b.x < a.x)) std::swap(a, b);
    if (proc->clip_x0 >= proc->clip_x1 || proc->clip_y0 >= proc->clip_y1) return 0;
    ref_line L =
        reference_line(saturate_double_to_i32(a.x), saturate_double_to_i32(a.y),
                       saturate_double_to_i32(b.x), saturate_double_to_i32(b.y), proc->clip_x0,
                       proc->clip_y0, proc->clip_x1, proc->clip_y1, flags & 0x100);
    if (L.empty) return 0;
    double len = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    if (len == 0) len = 0.00001;
    double du = L.n ? (b.u - a.u) / len : 0, dv = L.n ? (b.v - a.v) / len : 0,
           dw = L.n ? (b.w - a.w) / len : 0;
    double u = a.u + double(L.first) * du, v = a.v + double(L.first) * dv,
           w = a.w + double(L.first) * dw;
    if (flags & 0x200) {
        double f = std::fmod(std::fabs(b.x - a.x) > std::fabs(b.y - a.y) ? a.x : a.y, 1.0);
        u += (1 - f) * du;
        v += (1 - f) * dv;
    }
    uint32_t mw = uint32_t(peek2(0x5534) - 1) & 0xFFFF, mh = uint32_t(peek2(0x5536) - 1) & 0xFFFF;
    int32_t ox = peek2(0x5530), oy = peek2(0x5532);
    for (int64_t i = L.first; i <= L.last; i++) {
        double r = 1.0 / w;
        int32_t tx = low32_floor(u * r), ty = low32_floor(v * r);
        uint32_t col = uint32_t((tx & int32_t(mw)) + ox) & (src->width - 1);
        uint32_t row = uint32_t((ty & int32_t(mh)) + oy) & (src->height - 1);
        uint32_t s;
        if (src->type == UTYPE_U8) {
            s = byte_at(src, col, row);
        } else {
            uint16_t cell;
            std::memcpy(&cell, bytes(src) + (row * src->width + col) * 2, 2);
            typed_ud_rec *spr = proc->sprite[cell & 0x1FFF];
            if (!spr || !spr->width || !spr->height) {
                s = 0;
            } else {
                uint32_t sw = spr->width, sh = spr->height;
                int32_t px_ = low32_floor(u * r * sw), py_ = low32_floor(v * r * sh);
                uint32_t c = (cell & 0x4000 ? ~uint32_t(px_) : uint32_t(px_)) & (sw - 1);
                uint32_t rr = uint32_t(py_) & (sh - 1);
                if (cell & 0x8000) rr = (sh - 1) ^ rr;
                s = byte_at(spr, c, rr);
            }
        }
        u += du, v += dv, w += dw;
        int64_t x = (L.X0 + i * L.sx) >> 16, y = (L.Y0 + i * L.sy) >> 16;
        byte_at(dst, x, y) = pixel_reference::sprite(x, y, s, byte_at(dst, x, y));
    }
    int64_t cost = std::clamp<int64_t>(L.last - L.first + 1, INT32_MIN, INT32_MAX);
    bool fast = src->type == UTYPE_U8 && peek(0x5508) == 0x3F && peek(0x5509) == 0x3F &&
                peek(0x550A) == 0x3F && peek8(0x5500) == 0;
    return int32_t(fast ? cost / 2 : cost);
}

}  // namespace tline_reference
