// Fuzz target: the printer. Leading bytes set the registers it reads (print
// attributes, font registers, sizes, offsets, camera, cursor, clip, print
// flags), the font's bytes and the target's size; the rest is the text. The
// print must end, and no pixel outside the clip may change.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "address_space.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "fake_host.h"
#include "printer.h"
#include "typed_ud.h"

namespace {

process_rec *g_proc = nullptr;

void setup() {
    processes_init();
    init_default_coltabs();
    g_proc = create_process_from_code("", "fuzz", "/fuzz.lua", "");
    if (!g_proc) std::abort();
    cproc = g_proc;
    write_bytes_proc(g_proc, COLOUR_TABLES_ADDR, default_coltabs, sizeof default_coltabs);
}

// The fixed prefix: registers, then 64 font bytes (header and glyph rows at 0x4000).
struct __attribute__((packed)) prefix {
    uint8_t attributes, default_font, alt_font, size, wide_tab, offsets, print_flags, wrap;
    int8_t camera_x, camera_y;
    int32_t cursor_x, cursor_y, home_x;
    uint8_t clip[8];
    uint8_t width, height, colours, pad;
    uint8_t font[64];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setup(), true);
    (void)ready;
    if (size < sizeof(prefix)) return 0;
    fake_host::reset();
    prefix f;
    std::memcpy(&f, data, sizeof f);
    const uint32_t w = f.width % 64 + 1, h = f.height % 48 + 1;
    std::vector<uint8_t> block(TYPED_UD_HEADER + size_t{w} * h);
    auto *t = reinterpret_cast<typed_ud_rec *>(block.data());
    t->type = UTYPE_U8;
    t->dims = 2;
    t->width = w;
    t->height = h;
    t->depth = 1;
    for (size_t i = 0; i < size_t{w} * h; i++) ud_elements(t)[i] = uint8_t(i * 7);
    const std::vector<uint8_t> before(ud_elements(t), ud_elements(t) + size_t{w} * h);

    g_proc->draw_target = t;
    poke(REG_PRINT_ATTRIBUTES, f.attributes);
    poke(REG_DEFAULT_FONT, f.default_font % 2 ? 0x40 : f.default_font);
    poke(REG_ALT_FONT, f.alt_font);
    poke(REG_CHAR_SIZE, f.size);
    poke(REG_WIDE_AND_TAB, f.wide_tab);
    poke(REG_GLYPH_OFFSETS, f.offsets);
    poke(REG_PRINT_FLAGS, f.print_flags);
    poke4(REG_CAMERA_X, f.camera_x);
    poke4(REG_CAMERA_Y, f.camera_y);
    poke4(REG_CURSOR_X, f.cursor_x);
    poke4(REG_CURSOR_Y, f.cursor_y);
    poke4(REG_HOME_X, f.home_x);
    for (int i = 0; i < 8; i++) poke(REG_CLIP_X0 + uint32_t(i), f.clip[i]);
    refresh_clip(g_proc);
    write_bytes_proc(g_proc, 0x4000, f.font, sizeof f.font);
    get_masks_shape();

    const int32_t x0 = g_proc->clip_x0, x1 = g_proc->clip_x1, y0 = g_proc->clip_y0, y1 = g_proc->clip_y1;
    print_zenscii(t, data + sizeof f, size - sizeof f, f.wrap & 0x10, f.colours | f.pad << 8);
    if (g_proc->draw_target != t) std::abort();  // the text cannot change the draw target
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            const bool inside = int64_t(x) >= x0 && int64_t(x) < x1 && int64_t(y) >= y0 && int64_t(y) < y1;
            // 'c' clears the whole draw target on purpose.
            if (!inside && ud_elements(t)[y * w + x] != before[y * w + x] &&
                std::memchr(data + sizeof f, 'c', size - sizeof f) == nullptr)
                std::abort();
        }
    g_proc->draw_target = nullptr;
    destroy_print_buffer(&g_proc->print_ctx);
    return 0;
}
