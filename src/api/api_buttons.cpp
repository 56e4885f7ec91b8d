// Button states: `btn`, the edge-triggered and repeating `btnp`, and
// `_update_buttons`, which takes the host's states once per frame.
#include <cmath>
#include <cstring>

#include "address_space.h"
#include "api_functions.h"
#include "api_host.h"
#include "intp.h"
#include "lua.hpp"
#include "process.h"

namespace {

inline constexpr int PLAYERS = 8;
inline constexpr int BUTTONS = 16;              /* per player */
inline constexpr int MASK_BUTTONS = 8;          /* per player in the mask forms */
inline constexpr int GROUP = 8;                 /* left, right, up, down and four more */
inline constexpr uint8_t PRESSED = 64;          /* btnp counts a state from here as pressed */
inline constexpr uint32_t RAW_STATES = 0x5580;  /* copy of the raw states, 8 rows of 16 */
inline constexpr uint32_t BTNP_DELAY = 0x5F5C;  /* calls before the first repeat; 0 = 30 */
inline constexpr uint32_t BTNP_INTERVAL = 0x5F5D; /* calls between repeats; 0 = 8 */
inline constexpr int32_t DEFAULT_DELAY = 30;
inline constexpr int32_t DEFAULT_INTERVAL = 8;
inline constexpr uint8_t NO_REPEAT = 255;       /* register value: never repeat */
inline constexpr int32_t NEVER = -1;            /* counter value: never repeat */
inline constexpr int64_t STICK_LIMIT = 65536;   /* squared length a stick is scaled down from */

/* A repeat register as a counter start. */
int32_t repeat_setting(uint32_t addr, int32_t fallback) {
    const uint8_t v = peek(addr);
    if (v == 0) return fallback;
    if (v == NO_REPEAT) return NEVER;
    return v;
}

/* The player is read whole: a number beyond 32 bits names no player. */
bool in_range(int32_t b, int64_t p) { return b >= 0 && b < BUTTONS && p >= 0 && p < PLAYERS; }

/* Left and right (then up and down) held together both read released. */
void cancel_opposites(uint8_t *s) {
    if (s[0] && s[1]) s[0] = s[1] = 0;
    if (s[2] && s[3]) s[2] = s[3] = 0;
}

/* A stick pushed beyond full length is scaled back to length 256. */
void normalise_stick(uint8_t *s) {
    const int64_t dx = static_cast<int64_t>(s[1]) - s[0];
    const int64_t dy = static_cast<int64_t>(s[3]) - s[2];
    const int64_t d2 = dx * dx + dy * dy;
    if (d2 <= STICK_LIMIT) return;
    const double len = std::sqrt(static_cast<double>(d2));
    for (int k = 0; k < 4; k++) {
        const double v = std::trunc(static_cast<double>(s[k]) * 256.0 / len);
        s[k] = static_cast<uint8_t>(v > 255.0 ? 255.0 : v < 0.0 ? 0.0 : v);
    }
}

}  // namespace

int lua54_btn(lua_State *L) {
    const auto b = static_cast<int32_t>(kiv_intp(L, 1, -1));
    const int64_t p = kiv_intp(L, 2, 0);
    process_rec *rec = cproc;
    if (!rec) return 0;
    if (b == -1) {
        uint64_t mask = 0;
        for (int pl = 0; pl < PLAYERS; pl++)
            for (int i = 0; i < MASK_BUTTONS; i++)
                if (rec->buttons[pl][i]) mask |= uint64_t{1} << (pl * MASK_BUTTONS + i);
        lua_pushinteger(L, static_cast<lua_Integer>(mask));
        return 1;
    }
    if (!in_range(b, p) || !rec->buttons[p][b]) {
        lua_pushboolean(L, 0);
        return 1;
    }
    lua_pushinteger(L, rec->buttons[p][b]);
    return 1;
}

int lua54_btnp(lua_State *L) {
    const auto b = static_cast<int32_t>(kiv_intp(L, 1, -1));
    const int64_t p = kiv_intp(L, 2, 0);
    process_rec *rec = cproc;
    if (!rec) return 0;
    if (b == -1) {
        uint64_t mask = 0;
        for (int pl = 0; pl < PLAYERS; pl++)
            for (int i = 0; i < MASK_BUTTONS; i++)
                if (rec->buttons[pl][i] >= PRESSED && rec->buttons_prev[pl][i] < PRESSED)
                    mask |= uint64_t{1} << (pl * MASK_BUTTONS + i);
        lua_pushinteger(L, static_cast<lua_Integer>(mask));
        return 1;
    }
    bool result = false;
    if (in_range(b, p)) {
        int32_t &counter = rec->btnp_counters[p * BUTTONS + b];
        const uint8_t now = rec->buttons[p][b];
        const uint8_t before = rec->buttons_prev[p][b];
        if (now >= PRESSED && before < PRESSED) {
            counter = repeat_setting(BTNP_DELAY, DEFAULT_DELAY);
            result = true;
        } else if (now >= PRESSED) {
            // A counter of 0 means btnp never saw the press: it counts as one.
            if (counter > 0) counter--;
            if (counter == 0) {
                counter = repeat_setting(BTNP_INTERVAL, DEFAULT_INTERVAL);
                result = true;
            }
        }
    }
    lua_pushboolean(L, result);
    return 1;
}

int lua54__update_buttons(lua_State *L) {
    process_rec *rec = cproc;
    if (!rec) return 0;
    if (!lua_toboolean(L, 1)) {
        std::memset(rec->buttons_prev, 0, sizeof rec->buttons_prev);
        std::memset(rec->buttons, 0, sizeof rec->buttons);
        std::memset(rec->btnp_counters, 0, sizeof rec->btnp_counters);
        std::memset(rec->buttons_released, 1, sizeof rec->buttons_released);
        return 0;
    }
    std::memcpy(rec->buttons_prev, rec->buttons, sizeof rec->buttons);
    std::memset(rec->buttons, 0, sizeof rec->buttons);
    for (int pl = 0; pl < PLAYERS; pl++) api_host.get_button_states(pl, rec->buttons[pl]);
    write_bytes_proc(rec, RAW_STATES, rec->buttons, sizeof rec->buttons);

    uint8_t *states = &rec->buttons[0][0];
    for (int g = 0; g < PLAYERS * BUTTONS; g += GROUP) {
        cancel_opposites(states + g);
        normalise_stick(states + g);
    }
    for (int i = 0; i < PLAYERS * BUTTONS; i++) {
        if (!rec->buttons_released[i]) continue;
        if (states[i]) states[i] = 0;
        else rec->buttons_released[i] = 0;
    }
    return 0;
}
