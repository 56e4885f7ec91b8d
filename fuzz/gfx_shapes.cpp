// Spans, rectangles, lines, ovals and rounded rectangles on input-chosen
// targets, clips and registers: no pixel outside the clip may change.
#include <memory>

#include "gfx_harness.h"
#include "shapes.h"

using namespace gfx_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    reader in(data, size);
    process_rec *p = drawing_process();
    load_state(p, in);
    std::unique_ptr<bitmap> t(make_target(p, in));
    typed_ud_rec *b = t->rec;
    std::vector<uint8_t> before(t->pixels(), t->pixels() + t->bytes);
    for (int calls = 0; calls < 8 && in.more(); calls++) {
        int32_t a = in.i32(), c = in.i32(), d = in.i32(), e = in.i32(), col = in.i32();
        switch (in.byte() % 13) {
            case 0:
                draw_hline(b, a, c, d, col);
                break;
            case 1:
                draw_hline_inv(b, a, c, d, col);
                break;
            case 2:
                putpixel(b, a, c, col);
                break;
            case 3:
                rectfill(b, a, c, d, e, col);
                break;
            case 4:
                rectfill_raw(b, a, c, d, e, col);
                break;
            case 5:
                rectfill_shadow(b, a, c, d, e);
                break;
            case 6:
                draw_line(b, a, c, d, e, col);
                break;
            case 7:
                draw_oval(b, a, c, d, e, col);
                break;
            case 8:
                draw_filloval(b, a, c, d, e, col);
                break;
            case 9:
                draw_rrect(b, a, c, d, e, in.i32(), in.i32(), col);
                break;
            case 10:
                draw_rrectfill(b, a, c, d, e, in.i32(), in.i32(), col);
                break;
            case 11:
                draw_ellipse_1(b, a, c, d & 0xFFFF, e & 0xFFFF, in.i32(), in.i32(), col);
                break;
            default:
                fill_ellipse_1(b, a, c, d & 0xFFFF, e & 0xFFFF, in.i32(), in.i32(), col);
                break;
        }
    }
    check_outside_clip(p, *t, before);
    p->draw_target = nullptr;
    return 0;
}
