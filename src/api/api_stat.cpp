// `time` and `stat`: the process's clock, and the numbered queries about the
// process, the host program and the audio engine.
#include <cstring>
#include <ctime>

#include "address_space.h"
#include "api_functions.h"
#include "api_host.h"
#include "api_stat.h"
#include "buffer.h"
#include "host.h"
#include "host_services.h"
#include "intp.h"
#include "lua.hpp"
#include "pfile.h"
#include "process.h"
#include "slice.h"
#include "vm_hooks.h"

namespace {

inline constexpr double FRAME_BUDGET = 279620.0;  /* cycles of one frame, as a divisor */
inline constexpr int64_t DEFAULT_FPS = 60;        /* reported before a rate is measured */
inline constexpr int32_t KEY_LEFT_CTRL = 224;     /* scancodes read by code 988 */
inline constexpr int32_t KEY_RIGHT_CTRL = 228;
inline constexpr int32_t MAX_SCANCODE = 511;
inline constexpr int NUM_CHANNELS = 16;
inline constexpr int CACHED_FIELDS = 19;          /* fields 0..18 of each channel */
inline constexpr uint8_t ANY_KEY_FLAG = 16;       /* bit of the display-flags byte for code 305 */
inline constexpr uint32_t DISPLAY_FLAGS = 0x547F;

/* Sample scratch the mixer copies into inside the audio bracket: 256 KB,
   65,536 stereo frames or 131,072 mono samples. */
int16_t audio_dat[AUDIO_DAT_SAMPLES];

/* The cache stamps hold clock + 1 after a fill, 0 before the first one, so
   that a fresh process (clock 0) still reaches the mixer. */
uint64_t stamp_of(const process_rec *p) { return p->clock + 1; }

/* Writes 'samples' values of audio_dat from b on with poke2, at most what
   audio_dat holds; nothing for a count of 0 or less. */
void write_samples(uint32_t b, int64_t samples) {
    if (samples <= 0) return;
    if (samples > AUDIO_DAT_SAMPLES) samples = AUDIO_DAT_SAMPLES;
    for (int64_t k = 0; k < samples; k++) poke2(b + static_cast<uint32_t>(2 * k), audio_dat[k]);
}

/* Opens the audio bracket for the caller: true with the lock held. */
bool bracket_open(const process_rec *p) { return audio_op_start(p->id, 0) == 0; }

/* Codes 400-415: channel c, field a; -1 where the caller may not ask. */
int64_t channel_query(process_rec *p, int32_t c, int32_t a, uint32_t b) {
    if (a < 0 || p->id != app.audio_focus) return -1;
    if (a < CACHED_FIELDS) {
        if (p->channel_cache_stamp != stamp_of(p)) {
            if (!bracket_open(p)) return -1;
            for (int ch = 0; ch < NUM_CHANNELS; ch++)
                for (int f = 0; f < CACHED_FIELDS; f++)
                    p->channel_cache[ch][f] =
                        static_cast<uint32_t>(api_host.get_channel_state(ch, f, nullptr));
            audio_op_end();
            p->channel_cache_stamp = stamp_of(p);
        }
        return static_cast<int32_t>(p->channel_cache[c][a]);
    }
    if (!bracket_open(p)) return -1;
    const int32_t v = api_host.get_channel_state(c, a, reinterpret_cast<uint8_t *>(audio_dat));
    audio_op_end();
    write_samples(b, a == 19 ? 2 * static_cast<int64_t>(v) : v);
    return v;
}

/* Code 464: the active-channel mask, read once per clock tick. */
int64_t active_channels(process_rec *p) {
    if (p->active_channels_stamp != stamp_of(p)) {
        if (!bracket_open(p)) return -1;
        const int32_t mask = api_host.get_active_channels();
        audio_op_end();
        p->active_channels = mask;
        p->active_channels_stamp = stamp_of(p);
    }
    return p->active_channels;
}

/* Code 465: the last mixed output, copied to b; charged per frame pair. */
int64_t mixed_output(process_rec *p, uint32_t b) {
    if (!bracket_open(p)) return -1;
    const int32_t v = api_host.get_channel_state(-1, -1, reinterpret_cast<uint8_t *>(audio_dat));
    audio_op_end();
    write_samples(b, 2 * static_cast<int64_t>(v));
    spend_cpu(v / 2);
    return v;
}

/* Codes 466 and 467. */
int64_t music_state(process_rec *p, int32_t which) {
    if (!bracket_open(p)) return -1;
    const int32_t v = api_host.get_music_state(which);
    audio_op_end();
    return v;
}

void push_build_stamp(lua_State *L) {
    const char *stamp = nullptr;
    quillmar_build_info(nullptr, nullptr, &stamp);
    lua_pushstring(L, stamp ? stamp : "");
}

}  // namespace

int lua54_time(lua_State *L) {
    lua_pushnumber(L, cproc ? static_cast<double>(cproc->clock) / 60.0 : 0.0);
    return 1;
}

int lua54_stat(lua_State *L) {
    const auto n = static_cast<int32_t>(kiv_intp(L, 1, 0));
    const auto a = static_cast<int32_t>(kiv_intp(L, 2, 0));
    const auto b = static_cast<uint32_t>(kiv_intp(L, 3, 0));
    process_rec *p = cproc;
    if (!p) {
        lua_pushinteger(L, 0);
        return 1;
    }
    if (n >= 400 && n <= 415) {
        lua_pushinteger(L, channel_query(p, n - 400, a, b));
        return 1;
    }
    switch (n) {
        case 0:
            lua_gc(L, LUA_GCCOLLECT);
            lua_pushinteger(L, memory_figure(p));
            return 1;
        case 1:
            lua_pushnumber(L, (static_cast<double>(static_cast<uint32_t>(cpu_cycles)) +
                               p->cycles_since_flip) / FRAME_BUDGET);
            return 1;
        case 3:
            lua_gc(L, LUA_GCCOLLECT);
            lua_pushinteger(L, static_cast<lua_Integer>(lua_gc(L, LUA_GCCOUNT)) * 1024 +
                                   lua_gc(L, LUA_GCCOUNTB));
            return 1;
        case 5: {
            int64_t number = 0;
            const char *version = nullptr;
            quillmar_build_info(&number, &version, nullptr);
            lua_pushinteger(L, number);
            lua_pushstring(L, version ? version : "");
            return 2;
        }
        case 7: {
            const int64_t fps = p->fps ? p->fps : DEFAULT_FPS;
            if (app.idle) lua_pushnumber(L, 0.5 * static_cast<double>(fps));
            else lua_pushinteger(L, fps);
            return 1;
        }
        case 86: lua_pushinteger(L, static_cast<lua_Integer>(std::time(nullptr))); return 1;
        case 87:
            tzset();
            lua_pushinteger(L, static_cast<lua_Integer>(timezone));
            return 1;
        case 101: lua_pushnil(L); return 1;
        case 150: case 151: case 152: case 153: lua_pushliteral(L, ""); return 1;
        case 301: lua_pushnumber(L, get_total_frame_cycles() / FRAME_BUDGET); return 1;
        case 302: {
            const char *name =
                a >= 0 && a <= MAX_SCANCODE ? api_host.key_from_scancode(a) : nullptr;
            lua_pushstring(L, name ? name : "");
            return 1;
        }
        case 303: lua_pushinteger(L, static_cast<lua_Integer>(app.frame_count)); return 1;
        case 304: lua_pushnumber(L, get_total_frame_cycles_since_wm_flip() / FRAME_BUDGET); return 1;
        case 305:
            lua_pushboolean(L, (peek(DISPLAY_FLAGS) & ANY_KEY_FLAG) && api_host.key_state(-1) != 0);
            return 1;
        case 306: push_build_stamp(L); return 1;
        case 307: lua_pushinteger(L, p->is_system); return 1;
        case 308: lua_pushinteger(L, get_total_num_buffers()); return 1;
        case 309: lua_pushinteger(L, static_cast<lua_Integer>(get_total_buffer_allocation())); return 1;
        case 310: lua_pushinteger(L, pdisk_count_slots_by_kind(2)); return 1;
        case 311: lua_pushinteger(L, pdisk_count_slots_by_kind(0)); return 1;
        case 312:
            lua_pushinteger(L, a >= 0 && static_cast<uint32_t>(a) <= ADDRESS_MASK
                                   ? p->page_len[static_cast<uint32_t>(a) >> 12] : 0);
            return 1;
        case 313: lua_pushinteger(L, static_cast<lua_Integer>(p->own_page_bytes)); return 1;
        case 314: lua_pushnumber(L, 3.141592653589793); return 1;
        case 315: lua_pushinteger(L, config.headless); return 1;
        case 316: lua_pushstring(L, config.stat_text); return 1;
        case 317: lua_pushinteger(L, app.has_expcart ? 3 : 1); return 1;
        case 320: lua_pushinteger(L, app.gif_recording ? 1 : 0); return 1;
        case 321: lua_pushinteger(L, app.gif_recording ? app.gif_frame_count / 2 : 0); return 1;
        case 322: lua_pushinteger(L, app.audio_capturing); return 1;
        case 330: lua_pushinteger(L, app.idle); return 1;
        case 464: lua_pushinteger(L, active_channels(p)); return 1;
        case 465: lua_pushinteger(L, mixed_output(p, b)); return 1;
        case 466: lua_pushinteger(L, music_state(p, 0)); return 1;
        case 467: lua_pushinteger(L, music_state(p, 1)); return 1;
        case 498: lua_pushinteger(L, static_cast<lua_Integer>(app.audio_allowed_pid)); return 1;
        case 499: lua_pushinteger(L, app.audio_focus); return 1;
        case 984: lua_pushinteger(L, p->flipped); return 1;
        case 985: lua_pushinteger(L, app.boot_done); return 1;
        case 986: lua_pushinteger(L, app.signal36_flag); return 1;
        case 987: lua_pushinteger(L, boot_get_time()); return 1;
        case 988:
            api_host.start_frame();
            spend_cpu(EVENT_PUMP_CYCLES);
            lua_pushinteger(L, api_host.key_state(KEY_LEFT_CTRL) && api_host.key_state(KEY_RIGHT_CTRL));
            return 1;
        default: lua_pushinteger(L, 0); return 1;
    }
}
