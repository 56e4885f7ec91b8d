// The mixer record, its start-up and the calls made on it from outside the
// mix: the memory copy, the master volume, the stereo exchange, the reset of
// every channel.
#include <cstring>

#include "engine.h"
#include "host.h"
#include "mudo.h"
#include "mudo_testing.h"

mudo_mixer_rec mixer;
uint16_t gain_tri[16384];
int32_t choose_offset;
int16_t last_mixed_out[MUDO_MIX_BLOCK * 2];
int32_t last_num_samples_mixed;
int16_t node_ramp_buf[MUDO_NODE_SAMPLES];
mudo_node_rec root_node;
rng_state_rec mudo_rng;
int32_t node_zeroed[MUDO_NODE_SLOTS];

namespace {

bool mudo_inited;

// What the first start-up writes into the zeroed record.
void initialise_mixer() {
    for (int c = 1; c < MUDO_CHANNELS; c++) mixer.channels[c].index = c;
    build_gain_tri();
    // Every channel's and ghost's node buffers are bound from the start, so
    // that no note finds an unbound buffer before the first mix.
    for (int r = 0; r < 2 * MUDO_CHANNELS; r++) bind_node_outputs(&mixer.channels[r], r);
    xoshiro256ss_seed(&mudo_rng, 0x6D75646F);
}

}  // namespace

extern "C" void mudo_init(void) {
    if (mudo_inited) return;
    mudo_inited = true;
    initialise_mixer();  // the record is static, so it starts zeroed
}

// Pages of the memory copy known to hold only zeros: clearing them again is
// skipped. Any write of other bytes forgets the page.
namespace {

constexpr uint32_t RAM_PAGE = 4096;
uint64_t zero_pages[MUDO_RAM_SIZE / RAM_PAGE / 64];

bool page_zero(uint32_t p) { return (zero_pages[p >> 6] >> (p & 63)) & 1; }
void mark_page(uint32_t p, bool zero) {
    uint64_t bit = uint64_t(1) << (p & 63);
    zero_pages[p >> 6] = zero ? zero_pages[p >> 6] | bit : zero_pages[p >> 6] & ~bit;
}

}  // namespace

extern "C" void mudo_memcpy(uint32_t offset, const void *src, uint32_t n) {
    if (n == 0) return;
    std::memcpy(mixer.audio_ram + offset, src, n);
    for (uint32_t p = offset / RAM_PAGE; p <= (offset + n - 1) / RAM_PAGE; p++) mark_page(p, false);
}

extern "C" void mudo_memset(uint32_t offset, int32_t byte, uint32_t n) {
    if (n == 0) return;
    uint8_t b = uint8_t(byte);
    for (uint32_t at = offset, end = offset + n; at < end;) {
        uint32_t p = at / RAM_PAGE, stop = (p + 1) * RAM_PAGE < end ? (p + 1) * RAM_PAGE : end;
        bool whole = at == p * RAM_PAGE && stop == (p + 1) * RAM_PAGE;
        if (!(b == 0 && page_zero(p))) {
            std::memset(mixer.audio_ram + at, b, stop - at);
            if (b != 0)
                mark_page(p, false);
            else if (whole)
                mark_page(p, true);
        }
        at = stop;
    }
}

extern "C" void mudo_set_volume(int32_t volume) {
    mixer.master_vol.store(volume < 0 ? 0 : volume > 256 ? 256 : volume, std::memory_order_relaxed);
}

extern "C" void mudo_set_stereo_swap(int32_t flag) { mixer.stereo_swap.store(flag, std::memory_order_relaxed); }

extern "C" void mudo_kill_all_audio(void) {
    os_lock_audio();
    for (int c = 0; c < MUDO_CHANNELS; c++) kill_channel(&mixer.channels[c], 1);
    mudo_stop_music();
    os_unlock_audio();
}

namespace {

// Everything but the memory copy, the node buffers and the channel buffers,
// as the first start-up leaves it.
void reinit_records() {
    std::memset(static_cast<void *>(mixer.channels), 0, sizeof mixer.channels);
    mixer.master_vol.store(0, std::memory_order_relaxed);
    mixer.stereo_swap.store(0, std::memory_order_relaxed);
    mixer.music_base = mixer.music_mask = mixer.music_on = mixer.music_pattern = 0;
    mixer.fade_ticks = mixer.fade_pos = mixer.fade_from = mixer.fade_to = 0;
    mixer.music_vol = mixer.fade_samples = 0;
    choose_offset = 0;
    std::memset(last_mixed_out, 0, sizeof last_mixed_out);
    last_num_samples_mixed = 0;
    std::memset(node_ramp_buf, 0, sizeof node_ramp_buf);
    std::memset(static_cast<void *>(&root_node), 0, sizeof root_node);
    mudo_inited = true;
    initialise_mixer();
}

}  // namespace

void mudo_reinit_for_tests() {
    std::memset(mixer.audio_ram, 0, sizeof mixer.audio_ram);
    std::memset(zero_pages, 0xFF, sizeof zero_pages);
    std::memset(mixer.node_output, 0, sizeof mixer.node_output);
    std::memset(node_zeroed, 0, sizeof node_zeroed);
    std::memset(mixer.chan_buf, 0, sizeof mixer.chan_buf);
    reinit_records();
}

void mudo_reinit_changed_for_tests() {
    for (uint32_t p = 0; p < MUDO_RAM_SIZE / RAM_PAGE; p++)
        if (!page_zero(p)) std::memset(mixer.audio_ram + size_t(p) * RAM_PAGE, 0, RAM_PAGE);
    std::memset(zero_pages, 0xFF, sizeof zero_pages);
    // A node buffer is whole zero while its known-zero prefix is the whole
    // buffer; the others are cleared and then known zero, as they are.
    for (int slot = 0; slot < MUDO_NODE_SLOTS; slot++) {
        if (node_zeroed[slot] < MUDO_NODE_SAMPLES)
            std::memset(mixer.node_output[slot], 0, sizeof mixer.node_output[slot]);
        node_zeroed[slot] = MUDO_NODE_SAMPLES;
    }
    // A mix block writes at most MUDO_MIX_BLOCK frames into each channel buffer.
    for (auto &buf : mixer.chan_buf) std::memset(buf, 0, size_t(MUDO_MIX_BLOCK) * 4);
    reinit_records();
}
