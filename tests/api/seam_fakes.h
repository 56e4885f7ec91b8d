// Recording fakes behind the API's seam table (api_host): SeamTest installs
// them before each test and puts the real entries back after it. Each fake
// records its calls in `seam` and answers what the test set there.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "api_host.h"

struct icon_call {
    bool has_pixels;
    std::vector<uint8_t> pixels;    // the 256 indices passed, when any
    std::vector<uint32_t> palette;  // the 64 colours passed, when any
    int32_t width, height;
};

struct seam_record {
    // keyboard, mouse and controllers
    int32_t key_down[512] = {};                 // os_key_state per scancode
    int32_t any_key = 0;                        // os_key_state(-1)
    const char *key_name = nullptr;             // os_key_from_scancode's answer
    std::vector<int32_t> key_name_calls;
    uint8_t buttons[8][16] = {};                // what os_get_button_states reports
    std::vector<std::pair<int32_t, int32_t>> warps;
    // window
    std::vector<icon_call> icons;
    std::vector<std::string> titles;
    // captures
    int screenshots = 0;
    int32_t gif_start_result = 0;
    int gif_starts = 0, gif_ends = 0;
    int capture_starts = 0, capture_ends = 0;
    // settings and the pump
    std::vector<std::pair<std::string, int32_t>> settings;
    int settings_applied = 0;
    int pumps = 0;
    // the mixer
    int channel_calls = 0, active_calls = 0, music_calls = 0;
    int32_t channel_field_value = 7;            // fields 0..15 of every channel
    int32_t copied_count = 0;                   // what fields >= 19 and (-1, -1) return
    int32_t active_mask = 0x5;
    int32_t music[2] = {12, 3};
    int lock_level_seen = -1;                   // the audio lock level at the last mixer call
};

inline seam_record seam;

namespace seam_fakes {

inline int32_t key_state(int32_t scancode) {
    if (scancode == -1) return seam.any_key;
    return scancode >= 0 && scancode < 512 ? seam.key_down[scancode] : 0;
}
inline const char *key_from_scancode(int32_t scancode) {
    seam.key_name_calls.push_back(scancode);
    return seam.key_name;
}
inline void get_button_states(int32_t player, uint8_t *out) {
    for (int i = 0; i < 16; i++)
        if (seam.buttons[player][i]) out[i] = seam.buttons[player][i];
}
inline void warp(int32_t x, int32_t y) { seam.warps.emplace_back(x, y); }
inline void set_icon(const uint8_t *pixels, int32_t w, int32_t h, const uint32_t *palette) {
    icon_call c{pixels != nullptr, {}, {}, w, h};
    if (pixels) c.pixels.assign(pixels, pixels + 256);
    if (palette) c.palette.assign(palette, palette + 64);
    seam.icons.push_back(c);
}
inline void set_title(const char *t) { seam.titles.emplace_back(t); }
inline void screenshot() { seam.screenshots++; }
inline int32_t gif_start() {
    seam.gif_starts++;
    return seam.gif_start_result;
}
inline int32_t gif_end() {
    seam.gif_ends++;
    return 0;
}
inline int32_t capture_start() {
    seam.capture_starts++;
    app.audio_capturing = 1;
    return 0;
}
inline int32_t capture_end() {
    seam.capture_ends++;
    app.audio_capturing = 0;
    return 0;
}
inline void apply_setting(const char *key, int32_t v) { seam.settings.emplace_back(key, v); }
inline void apply_settings() { seam.settings_applied++; }
inline void pump() { seam.pumps++; }
inline int32_t channel_state(int32_t channel, int32_t field, uint8_t *bytes) {
    int16_t *dest = reinterpret_cast<int16_t *>(bytes);
    seam.channel_calls++;
    seam.lock_level_seen = fake_host::audio_lock_level();
    if (field >= 16 && field <= 18) return -1;
    if (field >= 0 && field < 16) return seam.channel_field_value + channel * 100 + field;
    if ((field == 19 || (field >= 20 && field <= 27) || (channel == -1 && field == -1)) && dest) {
        const int64_t samples = (field == 19 || field == -1) ? 2 * int64_t{seam.copied_count} : seam.copied_count;
        for (int64_t k = 0; k < samples && k < 131072; k++) dest[k] = static_cast<int16_t>(k + 1);
        return seam.copied_count;
    }
    return -1;
}
inline int32_t active_channels() {
    seam.active_calls++;
    seam.lock_level_seen = fake_host::audio_lock_level();
    return seam.active_mask;
}
inline int32_t music_state(int32_t which) {
    seam.music_calls++;
    return seam.music[which ? 1 : 0];
}

// Points the API's host seam at these fakes.
inline void install() {
    api_host = api_host_rec{
        key_state,     key_from_scancode, get_button_states, warp,           set_icon,
        set_title,     screenshot,        gif_start,         gif_end,        capture_start,
        capture_end,   apply_setting,     apply_settings,    pump,           channel_state,
        active_channels, music_state,
    };
}

}  // namespace seam_fakes

class SeamTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        seam = seam_record{};
        seam_fakes::install();
    }
    void TearDown() override {
        api_host_reset();
        ApiTest::TearDown();
    }

    // Runs 'code' in a new process for one slice and returns its out() lines.
    Lines run(const std::string &code) {
        process_rec *p = start(code);
        EXPECT_NE(p, nullptr) << code;
        if (!p) return {};
        run_process_slice(p, 1.0);
        return output();
    }

    // Evaluates the Lua expression list 'expr' in rec's state from C, rec
    // current meanwhile, and returns tostring of each value joined by commas,
    // or "error: " and the message when it raised. A text that is no
    // expression list runs as a function body, its results taken alike.
    static std::string eval(process_rec *rec, const std::string &expr) {
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_State *L = rec->lua_state;
        const int base = lua_gettop(L);
        cpu_cycles = 0;  // a fresh budget: no instruction may meet a spent one
        cpu_cycles_max = 0x10000000;
        const std::string code = "local t = table.pack(" + expr +
                                 ") local s = {} for i = 1, t.n do s[i] = tostring(t[i]) end "
                                 "return table.concat(s, ',')";
        std::string result;
        int status = luaL_loadstring(L, code.c_str());
        if (status != LUA_OK) {
            lua_pop(L, 1);
            const std::string body = "local t = table.pack((function() " + expr +
                                     " end)()) local s = {} for i = 1, t.n do s[i] = tostring(t[i]) "
                                     "end return table.concat(s, ',')";
            status = luaL_loadstring(L, body.c_str());
        }
        if (status != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK)
            result = std::string("error: ") + (lua_tostring(L, -1) ? lua_tostring(L, -1) : "?");
        else {
            size_t len = 0;
            const char *text = lua_tolstring(L, -1, &len);
            result.assign(text, len);
        }
        lua_settop(L, base);
        restore_current_process(prev);
        return result;
    }

    // Calls global 'name' from C with the values of the Lua expression list
    // 'args' and returns its results as eval does; no instruction runs after
    // the call, so a call that charges the whole budget can be read.
    static std::string results_of(process_rec *rec, const std::string &name, const std::string &args) {
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_State *L = rec->lua_state;
        const int base = lua_gettop(L);
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        lua_getglobal(L, name.c_str());
        luaL_loadstring(L, ("return " + args).c_str());
        lua_call(L, 0, LUA_MULTRET);
        std::string result;
        if (lua_pcall(L, lua_gettop(L) - base - 1, LUA_MULTRET, 0) != LUA_OK) {
            result = std::string("error: ") + lua_tostring(L, -1);
        } else {
            cpu_cycles = 0;
            for (int i = base + 1; i <= lua_gettop(L); i++) {
                if (i > base + 1) result += ",";
                size_t len = 0;
                const char *text = luaL_tolstring(L, i, &len);
                result.append(text, len);
                lua_pop(L, 1);
            }
        }
        lua_settop(L, base);
        cpu_cycles = 0;
        restore_current_process(prev);
        return result;
    }

    // The allocator behind the state during charge_of, without its charge
    // for each block: only the calls' own charges are measured.
    static inline lua_Alloc charged_alloc = nullptr;
    static void *uncharged_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                                 size_t account_size) {
        const int32_t before = cpu_cycles;
        void *r = charged_alloc(ud, ptr, osize, nsize, fail_hard, account_size);
        cpu_cycles = before;
        return r;
    }

    // Calls global 'name' from C in rec's state with the values of the Lua
    // expression list 'args', so that no interpreted instruction and no
    // allocation is counted; returns the cycles charged (-1 when it raised,
    // unless 'raised' is given: it then receives whether the call raised).
    static int64_t charge_of(process_rec *rec, const std::string &name, const std::string &args,
                             bool *raised = nullptr) {
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_State *L = rec->lua_state;
        void *ud = nullptr;
        charged_alloc = lua_getallocf(L, &ud);
        lua_setallocf(L, uncharged_alloc, ud);
        const int base = lua_gettop(L);
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        lua_getglobal(L, name.c_str());
        luaL_loadstring(L, ("return " + args).c_str());
        lua_call(L, 0, LUA_MULTRET);
        const int nargs = lua_gettop(L) - base - 1;
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        const int status = lua_pcall(L, nargs, 0, 0);
        const int64_t used = status == LUA_OK || raised ? cpu_cycles : -1;
        if (raised) *raised = status != LUA_OK;
        lua_settop(L, base);
        lua_setallocf(L, charged_alloc, ud);
        cpu_cycles = 0;
        restore_current_process(prev);
        return used;
    }

    // The charge of running the Lua statements 'loop' once, after 'setup'
    // has made their locals, with the collector stopped and the allocator's
    // charge left out as in charge_of; -1 when it raised. The set-up is
    // charged too: measure by difference.
    static int64_t loop_charge(process_rec *rec, const std::string &setup, const std::string &loop) {
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_State *L = rec->lua_state;
        const int base = lua_gettop(L);
        cpu_cycles = 0;
        cpu_cycles_max = 0x10000000;
        int64_t used = -1;
        if (luaL_loadstring(L, ("collectgarbage('stop') return function() " + setup + " " + loop + " end").c_str()) ==
                LUA_OK &&
            lua_pcall(L, 0, 1, 0) == LUA_OK) {
            void *ud = nullptr;
            charged_alloc = lua_getallocf(L, &ud);
            lua_setallocf(L, uncharged_alloc, ud);
            cpu_cycles = 0;
            if (lua_pcall(L, 0, 0, 0) == LUA_OK) used = cpu_cycles;
            lua_setallocf(L, charged_alloc, ud);
        }
        lua_settop(L, base);
        lua_gc(L, LUA_GCRESTART);
        cpu_cycles = 0;
        restore_current_process(prev);
        return used;
    }
};
