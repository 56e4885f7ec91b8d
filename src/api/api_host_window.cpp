// Settings from the user-land, the host window calls and the userland
// clipboard.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api_args.h"
#include "api_charges.h"
#include "api_clipboard.h"
#include "api_functions.h"
#include "api_host.h"
#include "host_yield.h"
#include "intp.h"
#include "lua.hpp"
#include "vm_hooks.h"
#include "system_palette.h"
#include "table_scan.h"
#include "typed_ud.h"

namespace {

inline constexpr const char *SETTINGS_NOT_A_TABLE =
    "** lua54__apply_system_settings failed; not a table\n";
inline constexpr uint32_t ICON_SIZE = 16;  /* the icon is 16 x 16 colour indices */
inline constexpr int32_t ICON_CYCLES = 4096;  /* a host icon made from the pixels and handed to the window */
inline constexpr size_t CLIPBOARD_BYTES_PER_CYCLE = 128;  /* the clipboard's text, copied or compared */
inline constexpr lua_Integer SETTING_SLOT_CYCLES = 8;     /* each slot of a settings table: its key tested */

/* Program-wide: shared by every process and kept across reboots. */
char *userland_clipboard_text = nullptr;

/* A setting's value: booleans 0/1, numbers by integer conversion (a float
   without an exact integer value gives 0) saturated to 32 bits, others 0. */
int32_t setting_value(lua_State *L, int index) {
    switch (lua_type(L, index)) {
        case LUA_TBOOLEAN: return lua_toboolean(L, index);
        case LUA_TNUMBER: {
            int ok = 0;
            const lua_Integer v = lua_tointegerx(L, index, &ok);
            if (!ok) return 0;
            if (v > INT32_MAX) return INT32_MAX;
            if (v < INT32_MIN) return INT32_MIN;
            return static_cast<int32_t>(v);
        }
        default: return 0;
    }
}

}  // namespace

int set_userland_clipboard_text(const char *text) {
    if (!text) return 0;
    const size_t len = std::strlen(text);
    char *copy = static_cast<char *>(std::malloc(len + 1));
    if (!copy) return 0;
    std::memcpy(copy, text, len + 1);
    std::free(userland_clipboard_text);
    userland_clipboard_text = copy;
    return 0;
}

const char *get_userland_clipboard_text(void) {
    return userland_clipboard_text ? userland_clipboard_text : "";
}

int lua54__apply_system_settings(lua_State *L) {
    if (!lua_istable(L, 1)) {
        std::fputs(SETTINGS_NOT_A_TABLE, stdout);
        spend_cpu(VM_OUTPUT_LINE_CYCLES);
        return 0;
    }
    // Every slot of the table is walked and each key tested against the
    // settings: charged before any is applied, so a table too large for
    // the watchdog's margin changes nothing.
    const lua_Integer slots = table_slots(L, 1);
    host_charge_check(L, static_cast<int32_t>(std::min<lua_Integer>(slots * SETTING_SLOT_CYCLES, INT32_MAX / 2)));
    lua_pushnil(L);
    while (lua_next(L, 1)) {
        // Only keys that are strings already: converting one in place would
        // break the traversal.
        if (lua_type(L, -2) == LUA_TSTRING) {
            size_t len = 0;
            const char *key = lua_tolstring(L, -2, &len);
            if (!std::memchr(key, 0, len)) api_host.apply_setting(key, setting_value(L, -1));
        }
        lua_pop(L, 1);
    }
    api_host.apply_settings();
    return 0;
}

int lua54__warp_mouse(lua_State *L) {
    api_host.warp_mouse_pointer(static_cast<int32_t>(kiv_intp(L, 1, 0)),
                                static_cast<int32_t>(kiv_intp(L, 2, 0)));
    return 0;
}

int lua54__set_host_window_icon(lua_State *L) {
    spend_cpu(ICON_CYCLES);  // the window's icon is made anew, whatever it shows
    typed_ud_rec *icon = to_typed_ud(L, 1);
    if (!icon) {
        api_host.set_window_icon(nullptr, 0, 0, nullptr);
        return 0;
    }
    if (ud_type(icon) != UTYPE_U8 || icon->width != ICON_SIZE || icon->height != ICON_SIZE) return 0;
    api_host.set_window_icon(ud_elements(icon), ICON_SIZE, ICON_SIZE, system_palette);
    return 0;
}

int lua54__set_host_window_title(lua_State *L) {
    const char *title = api_string(L, 1, nullptr);
    if (title) api_host.set_window_title(title);
    return 0;
}

int lua54_get_userland_clipboard_text(lua_State *L) {
    const char *text = get_userland_clipboard_text();
    charge_bytes_first(L, std::strlen(text), CLIPBOARD_BYTES_PER_CYCLE);
    lua_pushstring(L, text);
    return 1;
}

int lua54_set_userland_clipboard_text(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    charge_bytes_first(L, len, CLIPBOARD_BYTES_PER_CYCLE);
    set_userland_clipboard_text(text);
    return 0;
}
