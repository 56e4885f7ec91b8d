// Line plans of stretched sprites and map cells.
#include "line_plan.h"

#include "api_draw_state.h"

tline_plan stretch_line(int64_t sx, int64_t sy, int64_t sw, int64_t sh, int64_t dx, int64_t dy, int64_t dw,
                        int64_t dh, bool flip_x, bool flip_y, int64_t k) {
    const double du = double(sw) / double(dw), dv = double(sh) / double(dh);
    tline_plan p;
    if (stretch_by_rows(dw, dh)) {
        const int64_t i = flip_y ? dh - 1 - k : k;
        p.x0 = dx;
        p.x1 = add64(dx, dw - 1);
        p.y0 = p.y1 = add64(dy, k);
        p.v0 = p.v1 = double(sy) + dv / 2 + double(i) * dv;
        const double first = double(sx) + du / 2, last = double(sx) + double(sw) - du / 2;
        p.u0 = flip_x ? last : first;
        p.u1 = flip_x ? first : last;
    } else {
        const int64_t i = flip_x ? dw - 1 - k : k;
        p.y0 = dy;
        p.y1 = add64(dy, dh - 1);
        p.x0 = p.x1 = add64(dx, k);
        p.u0 = p.u1 = double(sx) + du / 2 + double(i) * du;
        const double first = double(sy) + dv / 2, last = double(sy) + double(sh) - dv / 2;
        p.v0 = flip_y ? last : first;
        p.v1 = flip_y ? first : last;
    }
    return p;
}

tline_plan cell_line(int64_t w, int64_t h, int64_t x, int64_t y, int64_t cw, int64_t ch, bool transposed,
                     bool flip_x, bool flip_y, int64_t j) {
    const int64_t i = flip_y ? ch - 1 - j : j;
    tline_plan p;
    p.x0 = x;
    p.x1 = add64(x, cw - 1);
    p.y0 = p.y1 = add64(y, j);
    if (!transposed) {
        const double du = double(w) / double(cw), dv = double(h) / double(ch);
        p.v0 = p.v1 = (double(i) + 0.5) * dv;
        const double first = du / 2, last = double(w) - du / 2;
        p.u0 = flip_x ? last : first;
        p.u1 = flip_x ? first : last;
    } else {
        p.u0 = p.u1 = (double(i) + 0.5) * (double(w) / double(ch));
        const double hh = double(h) / double(cw);
        const double first = hh / 2, last = double(h) - hh / 2;
        p.v0 = flip_x ? last : first;
        p.v1 = flip_x ? first : last;
    }
    return p;
}
