// Textured lines: perspective over a bitmap or a map of sprites, and the
// affine form over a bitmap.
#include <cmath>

#include "blits.h"
#include "line_setup.h"
#include "saturate.h"
#include "textured_lines.h"

using namespace gfx;

namespace {

inline constexpr double ZERO_LENGTH = 0.00001;  // stands for a length of 0 in the texture steps
inline constexpr uint32_t MAP_SPRITE_BITS = 0x1FFF;
inline constexpr uint32_t MAP_FLIP_X = 0x4000;
inline constexpr uint32_t MAP_FLIP_Y = 0x8000;

// floor_double_to_i64_or_min, inline and without a library floor: the
// truncation, one lower for negative fractions.
inline int64_t floor_i64(double v) {
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return INT64_MIN;
    int64_t t = int64_t(v);
    return t - (double(t) > v);
}

// floor(v) as the low 32 bits of its 64-bit value; NaN and infinities give 0.
inline int32_t texel_floor(double v) {
    return int32_t(uint32_t(uint64_t(floor_i64(v))));
}

// A texture end: screen position and texture coordinates.
struct tline_end {
    double x, y, u, v, w;
};

// The source colour of map mode for the cell at (col, row), u x r and v x r;
// a cell naming the target reads it through 'before' when that is given.
uint32_t map_texel(const typed_ud_rec *map, uint32_t col, uint32_t row, double ur, double vr,
                   target_before *before) {
    int16_t cell;
    std::memcpy(
        &cell,
        ud_elements(const_cast<typed_ud_rec *>(map)) + (uint64_t(row) * map->width + col) * 2, 2);
    uint32_t c = uint16_t(cell);
    typed_ud_rec *spr = cproc->sprite[c & MAP_SPRITE_BITS];
    if (before && spr) spr = target_before_source(before, spr);
    // The sizes of the array read: the target's copy when that is it.
    if (!spr || spr->width == 0 || spr->height == 0) return 0;
    uint32_t sw = spr->width, sh = spr->height;
    uint32_t px = uint32_t(texel_floor(ur * double(sw))),
             py = uint32_t(texel_floor(vr * double(sh)));
    uint32_t scol = (c & MAP_FLIP_X ? ~px : px) & (sw - 1);
    uint32_t srow = py & (sh - 1);
    if (c & MAP_FLIP_Y) srow = (sh - 1) ^ srow;
    return ud_elements(spr)[uint64_t(srow) * sw + scol];
}

// draw_tline3d, reading the target through 'before' when that is given.
int32_t tline3d(target_before *before, typed_ud_rec *src, typed_ud_rec *target, int32_t flags,
                double x0, double y0, double x1, double y1, double tu0, double tv0, double tu1,
                double tv1, double w0, double w1) {
    if (!src || !target || !cproc) return 0;
    int type = ud_type(src);
    if (type != UTYPE_U8 && type != UTYPE_I16) return 0;
    if (src->width == 0 || src->height == 0) return 0;
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
        return 0;

    pixel_ctx c;
    load_ctx(c, cproc, REG_SPRITE_TARGET_MASK);
    clip_box box = clip_for(cproc, target);

    tline_end a{x0, y0, tu0, tv0, w0}, b{x1, y1, tu1, tv1, w1};
    if (b.y < a.y || (b.y == a.y && b.x < a.x)) std::swap(a, b);
    line_walk walk = setup_line(saturate_double_to_i32(a.x), saturate_double_to_i32(a.y),
                                saturate_double_to_i32(b.x), saturate_double_to_i32(b.y), box,
                                flags & TLINE_DROP_LAST);
    if (walk.empty) return 0;

    double adx = std::fabs(b.x - a.x), ady = std::fabs(b.y - a.y);
    double len = std::max(adx, ady);
    if (len == 0) len = ZERO_LENGTH;
    double du = 0, dv = 0, dw = 0;
    if (walk.n != 0) {
        du = (b.u - a.u) / len;
        dv = (b.v - a.v) / len;
        dw = (b.w - a.w) / len;
    }
    double u = a.u, v = a.v, w = a.w;
    double skip = double(walk.first);
    u += skip * du;
    v += skip * dv;
    w += skip * dw;
    if (flags & TLINE_SUBPIXEL) {
        double f = std::fmod(adx > ady ? a.x : a.y, 1.0);
        u += (1 - f) * du;
        v += (1 - f) * dv;
    }

    const uint32_t wrap_w = uint32_t(read_value_nocreate(cproc, REG_TLINE_WRAP_W, 2) - 1) & 0xFFFF;
    const uint32_t wrap_h = uint32_t(read_value_nocreate(cproc, REG_TLINE_WRAP_H, 2) - 1) & 0xFFFF;
    const int32_t off_x = int16_t(read_value_nocreate(cproc, REG_TLINE_OFFSET_X, 2));
    const int32_t off_y = int16_t(read_value_nocreate(cproc, REG_TLINE_OFFSET_Y, 2));
    if (before) {
        // The copy stands for the target: its type and sizes are the ones read.
        src = target_before_source(before, src);
        if (ud_type(src) != type || src->width == 0 || src->height == 0) return 0;
    }
    const uint32_t col_mask = src->width - 1, row_mask = src->height - 1;
    const uint8_t *texels = ud_elements(src);
    // The unmasked, unpatterned case is charged half; its pixels are the
    // general rule's, with only table 0 to look at.
    const bool fast_case = type == UTYPE_U8 && c.rm == 0x3F && c.wm == 0x3F && c.tm == 0x3F &&
                           read_value_nocreate(cproc, REG_FILL_PATTERN, 8) == 0;
    const bool fast = fast_case && !gfx_force_plain_paths;

    int64_t X = walk.X0 + walk.first * walk.sx, Y = walk.Y0 + walk.first * walk.sy;
    for (int64_t i = walk.first; i <= walk.last; i++, X += walk.sx, Y += walk.sy) {
        double r = 1.0 / w;
        double ur = u * r, vr = v * r;
        uint32_t col = (uint32_t(texel_floor(ur) & int32_t(wrap_w)) + uint32_t(off_x)) & col_mask;
        uint32_t row = (uint32_t(texel_floor(vr) & int32_t(wrap_h)) + uint32_t(off_y)) & row_mask;
        u += du;
        v += dv;
        w += dw;
        int64_t x = X >> 16, y = Y >> 16;
        uint8_t *p = row_of(target, y) + x;
        if (fast) {
            uint8_t t = texels[uint64_t(row) * src->width + col];
            *p = uint8_t((c.tab[0][(t & 63) * 64 + (*p & 63)] & 0x3F) | (*p & 0xC0));
            continue;
        }
        uint32_t s = type == UTYPE_U8 ? texels[uint64_t(row) * src->width + col]
                                      : map_texel(src, col, row, ur, vr, before);
        *p = texture_pixel(c, x, y, s, *p);
    }
    int32_t cost = walk.cost();
    return fast_case ? cost / 2 : cost;
}

}  // namespace

extern "C" int32_t draw_tline3d(typed_ud_rec *src, typed_ud_rec *target, int32_t flags, double x0,
                                double y0, double x1, double y1, double tu0, double tv0, double tu1,
                                double tv1, double w0, double w1) {
    return tline3d(nullptr, src, target, flags, x0, y0, x1, y1, tu0, tv0, tu1, tv1, w0, w1);
}

extern "C" int32_t draw_tline3d_reading(struct target_before *before, typed_ud_rec *src,
                                        typed_ud_rec *target, int32_t flags, double x0, double y0,
                                        double x1, double y1, double tu0, double tv0, double tu1,
                                        double tv1, double w0, double w1) {
    return tline3d(before, src, target, flags, x0, y0, x1, y1, tu0, tv0, tu1, tv1, w0, w1);
}

extern "C" int32_t draw_tline_sspr(typed_ud_rec *src, typed_ud_rec *target, int32_t x0, int32_t y0,
                                   int32_t x1, int32_t y1, double tu0, double tv0, double tu1,
                                   double tv1) {
    if (!src || !target || !cproc || ud_type(src) != UTYPE_U8) return 0;
    if (src->width == 0 || src->height == 0) return 0;
    pixel_ctx c;
    load_ctx(c, cproc, REG_SPRITE_TARGET_MASK);
    clip_box box = clip_for(cproc, target);
    bool first_is_start = y0 <= y1;
    int64_t xa = first_is_start ? x0 : x1, ya = first_is_start ? y0 : y1;
    int64_t xb = first_is_start ? x1 : x0, yb = first_is_start ? y1 : y0;
    double ua = first_is_start ? tu0 : tu1, va = first_is_start ? tv0 : tv1;
    double ub = first_is_start ? tu1 : tu0, vb = first_is_start ? tv1 : tv0;
    line_walk walk = setup_line(xa, ya, xb, yb, box, false);
    if (walk.empty) return 0;
    double du = 0, dv = 0;
    if (walk.n != 0) {
        du = (ub - ua) / double(walk.n);
        dv = (vb - va) / double(walk.n);
    }
    double u = ua + double(walk.first) * du, v = va + double(walk.first) * dv;
    const int64_t sw = src->width, sh = src->height;
    const uint8_t *texels = ud_elements(src);
    int64_t X = walk.X0 + walk.first * walk.sx, Y = walk.Y0 + walk.first * walk.sy;
    for (int64_t i = walk.first; i <= walk.last;
         i++, X += walk.sx, Y += walk.sy, u += du, v += dv) {
        int64_t tx = floor_i64(u), ty = floor_i64(v);
        if (tx < 0 || ty < 0 || tx >= sw || ty >= sh)
            continue;  // outside the sprite: the pixel is left alone
        int64_t x = X >> 16, y = Y >> 16;
        uint8_t *p = row_of(target, y) + x;
        *p = texture_pixel(c, x, y, texels[ty * sw + tx], *p);
    }
    return walk.cost();
}
