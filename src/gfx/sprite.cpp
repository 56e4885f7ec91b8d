// Sprites through the colour tables, with flips.
#include <cstdlib>
#include <cstring>

#include "blits.h"
#include "pixel_rule.h"

using namespace gfx;

namespace {

// draw_spr's clipping in 64 bits; false when nothing remains.
bool clip_sprite(const typed_ud_rec *spr, const clip_box &box, int64_t &sx, int64_t &sy,
                 int64_t &dx, int64_t &dy, int64_t &w, int64_t &h) {
    if (sx < 0) dx -= sx, w += sx, sx = 0;
    if (sy < 0) dy -= sy, h += sy, sy = 0;
    if (sx >= int64_t(spr->width) || sy >= int64_t(spr->height) || dx >= box.x1 || dy >= box.y1)
        return false;
    w = std::min<int64_t>(w, int64_t(spr->width) - sx);
    h = std::min<int64_t>(h, int64_t(spr->height) - sy);
    if (dx < box.x0) w -= box.x0 - dx, sx += box.x0 - dx, dx = box.x0;
    if (dy < box.y0) h -= box.y0 - dy, sy += box.y0 - dy, dy = box.y0;
    w = std::min<int64_t>(w, box.x1 - dx);
    h = std::min<int64_t>(h, box.y1 - dy);
    return w >= 1 && h >= 1;
}

}  // namespace

extern "C" void clip_bitmaps(typed_ud_rec *src, typed_ud_rec *dst, int32_t *sx, int32_t *sy,
                             int32_t *dx, int32_t *dy, int32_t *w, int32_t *h) {
    int64_t x = *sx, y = *sy, px = *dx, py = *dy, ww = *w, hh = *h;
    if (!src || !dst || !cproc || !clip_sprite(src, clip_for(cproc, dst), x, y, px, py, ww, hh)) {
        *h = 0;
        return;
    }
    *sx = int32_t(x), *sy = int32_t(y), *dx = int32_t(px), *dy = int32_t(py), *w = int32_t(ww),
    *h = int32_t(hh);
}

extern "C" int32_t draw_spr(typed_ud_rec *sprite, typed_ud_rec *target, int32_t sx, int32_t sy,
                            int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t flip_x,
                            int32_t flip_y) {
    if (!sprite || !target || !cproc) return 0;
    pixel_ctx c;
    load_ctx(c, cproc, REG_SPRITE_TARGET_MASK);
    clip_box box = clip_for(cproc, target);
    int64_t x = sx, y = sy, px = dx, py = dy, ww = w, hh = h;
    if (box.empty() || !clip_sprite(sprite, box, x, y, px, py, ww, hh)) return 0;
    int64_t sw = sprite->width, sh = sprite->height;
    const uint8_t *spix = ud_elements(sprite);
    // A flipped sprite that is the target would read pixels already drawn:
    // the part the rectangle reads is copied first, the rows and columns of
    // the copy counted from the end the flips read from.
    uint8_t *copy = nullptr;
    if (sprite == target && (flip_x || flip_y)) {
        copy = static_cast<uint8_t *>(std::malloc(size_t(ww * hh)));
        if (!copy) return 0;
        for (int64_t j = 0; j < hh; j++) {
            const int64_t row = flip_y ? sh - 1 - (y + j) : y + j;
            const int64_t col = flip_x ? sw - (x + ww) : x;
            std::memcpy(copy + (flip_y ? hh - 1 - j : j) * ww, spix + row * sw + col, size_t(ww));
        }
        spix = copy;
        // The copy stands for a ww x hh sprite read at (0, 0) with the same flips.
        sw = ww;
        sh = hh;
        x = 0;
        y = 0;
    }
    for (int64_t j = 0; j < hh; j++) {
        int64_t row = y + j;
        const uint8_t *src = spix + (flip_y ? sh - 1 - row : row) * sw;
        uint8_t *dst = row_of(target, py + j) + px;
        int64_t ty = py + j;
        if (flip_x) {
            for (int64_t i = 0; i < ww; i++)
                dst[i] = texture_pixel(c, px + i, ty, src[sw - 1 - (x + i)], dst[i]);
        } else {
            for (int64_t i = 0; i < ww; i++)
                dst[i] = texture_pixel(c, px + i, ty, src[x + i], dst[i]);
        }
    }
    std::free(copy);
    return int32_t(std::min<int64_t>(ww * hh, INT32_MAX));
}

extern "C" typed_ud_rec *target_before_source(target_before *b, typed_ud_rec *source) {
    if (!source || source != b->target) return source;
    if (!b->tried) {
        b->tried = 1;
        const size_t bytes = TYPED_UD_HEADER + size_t(ud_count(source) * utype_size(ud_type(source)));
        if (void *copy = std::malloc(bytes)) {
            std::memcpy(copy, source, bytes);
            b->copy = static_cast<typed_ud_rec *>(copy);
        }
    }
    return b->copy ? b->copy : source;
}

extern "C" int64_t target_before_end(target_before *b) {
    if (!b->copy) return 0;
    const int64_t cost = int64_t(uint64_t(b->copy->width) * b->copy->height / 64);
    std::free(b->copy);
    b->copy = nullptr;
    return cost;
}
