// note, sfx and music: the calls that start sound. Each reads its arguments,
// takes the audio bracket for the caller (refused: nothing happens) and calls
// the engine with the caller's audio base addresses and default mix volume.
#include "address_space.h"
#include "api_args.h"
#include "api_functions.h"
#include "lua.h"
#include "mudo.h"
#include "process.h"

namespace {

constexpr uint32_t REG_DEFAULT_MIX_VOL = 0x553A, REG_AUDIO_BASE = 0x553C, REG_MUSIC_BASE = 0x553D;

int64_t caller_id() { return cproc ? cproc->id : 0; }

int32_t caller_byte(uint32_t addr) { return cproc ? peek_proc(cproc, addr) : 0; }

}  // namespace

int lua54_play_note(lua_State *L) {
    int top = lua_gettop(L);
    int32_t pitch = api_truncated(L, 1, 48);
    int32_t inst = api_truncated(L, 2, 0);
    int32_t vol = api_truncated(L, 3, 64);
    int32_t fx = api_truncated(L, 4, 0);
    int32_t param = api_truncated(L, 5, 0);
    int32_t ch = api_truncated(L, 6, top == 0 ? -1 : 0);
    int32_t retrig = top >= 7 ? lua_toboolean(L, 7) : 1;
    int32_t pan = api_truncated(L, 8, 0x7fffffff);
    if (audio_op_start(caller_id(), 1) != 0) return 0;
    mudo_set_note(ch, pitch, inst, vol, fx, param, retrig, pan);
    if (ch >= 0) {
        mudo_set_channel_mix_vol(ch, caller_byte(REG_DEFAULT_MIX_VOL));
        mudo_set_channel_base_addr(ch, caller_byte(REG_AUDIO_BASE) * 0x10000);
    }
    audio_op_end();
    return 0;
}

int lua54_play_track(lua_State *L) {
    int32_t track = api_truncated(L, 1, 0);
    int32_t ch = api_truncated(L, 2, -1);
    int32_t row = api_truncated(L, 3, 0);
    int32_t rows = api_truncated(L, 4, 0);
    int32_t pan = api_truncated(L, 5, 0x7fffffff);
    int32_t mix_vol = api_truncated(L, 6, caller_byte(REG_DEFAULT_MIX_VOL));
    int32_t base = caller_byte(REG_AUDIO_BASE) * 0x10000;
    if (audio_op_start(caller_id(), 1) != 0) return 0;
    int32_t c = mudo_play_track(track, ch, row, rows, 0, pan, mix_vol, base);
    mudo_set_channel_base_addr(c, base);
    audio_op_end();
    return 0;
}

int lua54_play_music(lua_State *L) {
    int32_t pattern = api_truncated(L, 1, 0);
    int32_t fade_ms = api_truncated(L, 2, 0);
    int32_t mask = api_truncated(L, 3, 255);
    int32_t base = int32_t(uint32_t(uint64_t(kiv_intp(L, 4, int64_t(caller_byte(REG_MUSIC_BASE)) * 0x10000))));
    if (audio_op_start(caller_id(), 1) != 0) return 0;
    if (pattern == -1)
        mudo_fade_out_music(fade_ms);
    else
        mudo_play_music(pattern, fade_ms, mask, base);
    audio_op_end();
    return 0;
}
