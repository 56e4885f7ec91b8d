// Both textured lines from raw double bit patterns, over bitmaps and maps
// of sprite slots: no pixel outside the clip may change.
#include <memory>

#include "gfx_harness.h"
#include "textured_lines.h"

using namespace gfx_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    reader in(data, size);
    process_rec *p = drawing_process();
    load_state(p, in);
    std::unique_ptr<bitmap> t(make_target(p, in));
    std::vector<uint8_t> before(t->pixels(), t->pixels() + t->bytes);

    bitmap tex(in.byte() % 33, in.byte() % 33);
    for (size_t i = 0; i < tex.bytes; i++) tex.pixels()[i] = in.byte();
    bitmap map(in.byte() % 9, in.byte() % 9, UTYPE_I16);
    for (size_t i = 0; i < map.bytes; i++) map.pixels()[i] = in.byte();
    bitmap spr_a(in.byte() % 17, in.byte() % 17), spr_b(0, 8);
    for (size_t i = 0; i < spr_a.bytes; i++) spr_a.pixels()[i] = in.byte();
    p->sprite[in.byte() % 8] = spr_a.rec;
    p->sprite[8 + in.byte() % 8] = spr_b.rec;

    for (int calls = 0; calls < 4 && in.more(); calls++) {
        uint8_t k = in.byte();
        if (k & 1) {
            draw_tline_sspr(k & 2 ? tex.rec : map.rec, t->rec, in.i32(), in.i32(), in.i32(),
                            in.i32(), in.f64(), in.f64(), in.f64(), in.f64());
        } else {
            int32_t flags = int32_t(in.byte()) << 8;
            double v[10];
            for (double &d : v) d = in.f64();
            draw_tline3d(k & 2 ? tex.rec : map.rec, t->rec, flags, v[0], v[1], v[2], v[3], v[4],
                         v[5], v[6], v[7], v[8], v[9]);
        }
    }
    for (auto &s : p->sprite) s = nullptr;
    check_outside_clip(p, *t, before);
    p->draw_target = nullptr;
    return 0;
}
