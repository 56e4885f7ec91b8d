// The audio bracket: who may act on audio, how the audio focus moves, and the
// refresh of the mixer's copy of the focus process's memory, all under the
// audio lock.
#include <cstring>

#include "host.h"
#include "mudo.h"
#include "memory_map.h"
#include "mixer_state.h"
#include "process.h"

namespace {

constexpr int64_t NO_FOCUS = -2;

// Page p of r: its mapped bytes, then its own page or zeros.
void copy_page(process_rec *r, int32_t p) {
    int32_t L = r->page_len[p];
    uint32_t at = uint32_t(p) * PAGE_BYTES;
    if (L > PAGE_BYTES) L = PAGE_BYTES;
    if (L < 0) L = 0;
    if (L > 0) mudo_memcpy(at, r->page[p], uint32_t(L));
    if (L < PAGE_BYTES) {
        if (r->page_own[p])
            mudo_memcpy(at + uint32_t(L), r->page_own[p] + L, uint32_t(PAGE_BYTES - L));
        else
            mudo_memset(at + uint32_t(L), 0, uint32_t(PAGE_BYTES - L));
    }
    r->page_flags[p] &= uint8_t(~1u);
}

}  // namespace

extern "C" int audio_op_start(int64_t pid, int32_t force) {
    if (pid >= 4 && pid != app.audio_focus && pid != int64_t(app.audio_allowed_pid)) return 1;
    os_lock_audio();
    if (pid > 0) app.audio_focus = pid;
    int64_t target = pid > 0 ? pid : app.audio_focus;
    process_rec *r = get_process(target);
    if (!r || !process_is_live(r, target)) {
        if (target != NO_FOCUS) {
            mudo_memset(0, 0, MUDO_RAM_SIZE);
            app.audio_focus = NO_FOCUS;
            mudo_kill_all_audio();
        }
        os_unlock_audio();
        return 1;
    }
    bool changed = target != app.audio_synced_pid;
    if (changed) {
        for (int32_t p = 0; p < NUM_PAGES; p++) copy_page(r, p);
    } else if (force) {
        for (int32_t p = 0; p < NUM_PAGES; p++)
            if (r->page_flags[p] & 1) copy_page(r, p);
    }
    if (changed) mudo_kill_all_audio();
    app.audio_synced_pid = r->id;
    return 0;
}

extern "C" void audio_op_end(void) { os_unlock_audio(); }
