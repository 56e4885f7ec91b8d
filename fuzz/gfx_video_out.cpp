// Video out over random register pages, display mappings and video modes,
// checked pixel by pixel against a plain reference that reads the page table
// byte by byte; no page may be created.
#include "gfx_harness.h"
#include "video_out.h"

using namespace gfx_fuzz;

namespace {

process_rec *window_manager() {
    static process_rec *wm = [] {
        drawing_process();
        create_process_from_code("", "idle", "/t/idle.lua", "");
        return create_process_from_code("", "wm", "/t/wm.lua", "");
    }();
    return wm;
}

uint8_t reg(const process_rec *r, uint32_t a) {
    uint32_t p = a >> 12, o = a & 4095;
    if (int32_t(o) < r->page_len[p]) return r->page[p][o];
    return r->page_own[p] ? r->page_own[p][o] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    reader in(data, size);
    process_rec *wm = window_manager();
    for (uint32_t a = REG_RGB_PALETTE; a < REG_RGB_PALETTE + 0x1000; a++)
        poke_proc(wm, a, in.byte());
    if (in.byte() & 1) poke_proc(wm, REG_PROCESS_FLAGS, 0);  // mostly produce a frame
    uint8_t mode = in.byte() % 6;
    poke_proc(wm, REG_VIDEO_MODE, mode);
    std::vector<std::vector<uint8_t>> mapped;
    std::vector<int> pages;
    for (int k = in.byte() % 8; k > 0; k--) {
        int page = 16 + in.byte() % 32;
        mapped.emplace_back(1 + (in.byte() * 17) % 4096);
        for (uint8_t &v : mapped.back()) v = in.byte();
        map_page(wm, page, mapped.back().data(), int32_t(mapped.back().size()));
        pages.push_back(page);
    }
    uint64_t own = wm->own_page_bytes;

    fake_host::set_boot_time(2200);
    app.boot_release = 1;
    app.reboot_requested = in.byte() & 1;
    int32_t w = 0, h = 0;
    uint32_t *f = generate_video_out(&w, &h);
    bool no_frame = reg(wm, REG_PROCESS_FLAGS) & 2;
    if (no_frame != (f == nullptr) || wm->own_page_bytes != own) std::abort();
    if (f) {
        int s = mode == 3 ? 2 : mode == 4 ? 3 : 1;
        for (int y = 0; y < 270; y++)
            for (int x = 0; x < 480; x++) {
                int sx = x / s, sy = y / s;
                uint32_t a = 0x10000 + uint32_t(sy * 480 + sx), p = a >> 12, o = a & 4095;
                uint32_t want = 0;
                if (int32_t(o) < wm->page_len[p]) {
                    uint32_t bank = (reg(wm, 0x5400 + uint32_t(sy / 4)) >> (2 * (sy % 4))) & 3;
                    uint32_t e = bank * 64 | (reg(wm, 0x5480 + (wm->page[p][o] & 63)) & 63);
                    for (int i = 0; i < 4; i++)
                        want |= uint32_t(reg(wm, 0x5000 + 4 * e + uint32_t(i))) << (8 * i);
                    if (app.reboot_requested) want = (want >> 1) & 0x7F7F7F7F;
                }
                if (f[y * 480 + x] != want) {
                    std::fprintf(stderr, "pixel %d,%d is %08x, not %08x\n", x, y, f[y * 480 + x],
                                 want);
                    std::abort();
                }
            }
    }
    for (int page : pages) unmap_page(wm, page);
    return 0;
}
