// Sprites, blits of every element type and copies of another process's
// display with input-chosen page maps: no pixel outside the clip may change.
#include <memory>

#include "blits.h"
#include "gfx_harness.h"

using namespace gfx_fuzz;

namespace {

process_rec *other_process() {
    static process_rec *o = [] {
        process_rec *keep = drawing_process();
        process_rec *r = create_process_from_code("", "other", "/t/other.lua", "");
        cproc = keep;
        return r;
    }();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    reader in(data, size);
    process_rec *p = drawing_process();
    process_rec *o = other_process();
    load_state(p, in);
    std::unique_ptr<bitmap> t(make_target(p, in));
    std::vector<uint8_t> before(t->pixels(), t->pixels() + t->bytes);

    static const int types[] = {UTYPE_U8, UTYPE_I16, UTYPE_I32, UTYPE_I64, UTYPE_F64};
    uint8_t shape = in.byte();
    bitmap src(in.byte() % 40, in.byte() % 40, shape & 1 ? types[(shape >> 1) % 5] : UTYPE_U8);
    for (size_t i = 0; i < src.bytes; i++) src.pixels()[i] = in.byte();

    // The other process's display: its width register and some mapped pages.
    std::vector<std::vector<uint8_t>> mapped;
    std::vector<int> pages;
    poke2_proc(o, REG_DISPLAY_WIDTH, int16_t(in.i32()));
    for (int k = in.byte() % 4; k > 0; k--) {
        int page = in.byte() % 2 ? 16 + in.byte() % 32 : in.byte() << 4 | in.byte() % 16;
        mapped.emplace_back(1 + in.byte() * 16);
        for (uint8_t &v : mapped.back()) v = in.byte();
        map_page(o, page, mapped.back().data(), int32_t(mapped.back().size()));
        pages.push_back(page);
    }
    uint64_t own = o->own_page_bytes;

    for (int calls = 0; calls < 6 && in.more(); calls++) {
        int32_t sx = in.i32(), sy = in.i32(), dx = in.i32(), dy = in.i32(), w = in.i32(),
                h = in.i32();
        switch (in.byte() % 5) {
            case 0:
                draw_spr(src.rec, t->rec, sx, sy, dx, dy, w, h, in.byte() & 1, in.byte() & 1);
                break;
            case 1:
                blit(src.rec, t->rec, sx, sy, dx, dy, w, h);
                break;
            case 2:
                blit(t->rec, t->rec, sx, sy, dx, dy, w, h);
                break;
            case 3:
                blit(src.rec, src.rec, sx, sy, dx, dy, w, h);
                break;  // any element type, in place
            default:
                blit_from_ram(o, in.u32(), t->rec, sx, sy, dx, dy, w, h, in.byte());
                break;
        }
    }
    if (o->own_page_bytes != own) {
        std::fprintf(stderr, "a display copy created a page of the other process\n");
        std::abort();
    }
    for (int page : pages) unmap_page(o, page);
    check_outside_clip(p, *t, before);
    p->draw_target = nullptr;
    return 0;
}
