// Reads of process 3's display and video registers that make no page.
#include "wm_display.h"

#include <algorithm>
#include <cstring>

uint8_t wm_peek(const process_rec *rec, uint32_t a) {
    a &= ADDRESS_MASK;
    const uint32_t p = a >> PAGE_SHIFT;
    const int32_t o = static_cast<int32_t>(a & (PAGE_BYTES - 1));
    if (o < rec->page_len[p] && rec->page[p]) return rec->page[p][o];
    if (rec->page_own[p]) return rec->page_own[p][o];
    return 0;
}

int32_t video_mode_factor(uint8_t mode) {
    if (mode == 3) return 2;
    if (mode == 4) return 3;
    return 1;
}

int32_t wm_video_factor() {
    const process_rec *wm = get_process(WM_PID);
    return wm ? video_mode_factor(wm_peek(wm, VIDEO_MODE_ADDR)) : 1;
}

void wm_read_display(const process_rec *rec, uint8_t *out) {
    for (int32_t at = 0; at < DISPLAY_BYTES;) {
        const uint32_t a = DISPLAY_ADDR + static_cast<uint32_t>(at);
        const uint32_t p = a >> PAGE_SHIFT;
        const int32_t o = static_cast<int32_t>(a & (PAGE_BYTES - 1));
        const int32_t page_end = std::min(PAGE_BYTES - o, DISPLAY_BYTES - at);
        int32_t n = page_end;
        const int32_t mapped = rec->page[p] ? rec->page_len[p] : 0;
        if (o < mapped) {
            n = std::min(n, mapped - o);
            std::memcpy(out + at, rec->page[p] + o, static_cast<size_t>(n));
        } else if (rec->page_own[p]) {
            std::memcpy(out + at, rec->page_own[p] + o, static_cast<size_t>(n));
        } else {
            std::memset(out + at, 0, static_cast<size_t>(n));
        }
        at += n;
    }
}

void wm_read_row_banks(const process_rec *rec, uint32_t *banks) {
    for (uint32_t y = 0; y < DISPLAY_H; y++)
        banks[y] = (wm_peek(rec, ROW_BANKS_ADDR + (y >> 2)) >> ((2 * y) & 6)) & 3;
}
