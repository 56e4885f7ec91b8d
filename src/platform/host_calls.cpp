// The four host calls every process receives: the host clipboard and
// opening host files, folders and web addresses.
#include <cstring>

#include "api_args.h"
#include "api_charges.h"
#include "api_protected.h"
#include "buffer.h"
#include "host.h"
#include "host_open.h"
#include "host_text.h"
#include "lua.hpp"
#include "pmount.h"
#include "sdl_seam.h"

namespace {

/* The host clipboard's text, converted to or from the host's encoding. */
inline constexpr size_t HOST_TEXT_BYTES_PER_CYCLE = 1;

/* A host program started to open a path: the host waits for it to start
   (7.5 ms measured on a loaded machine, 63 us of its own time). */
inline constexpr int32_t HOST_OPEN_CYCLES = 131072;

int os_req_host_clipboard_text(lua_State *L) {
    (void)L;
    return 0;
}

// Nothing raises while the host's text and the buffers are held: the push
// is protected and its error, if any, is raised once they are released.
int os_get_host_clipboard_text(lua_State *L) {
    char *host = sdl.GetClipboardText();
    charge_bytes(host ? std::strlen(host) : 0, HOST_TEXT_BYTES_PER_CYCLE);
    buffer_rec *raw = create_buffer_from_str(host ? host : "");
    if (host) sdl.free(host);
    buffer_rec *text = raw ? decode_host_text(raw) : nullptr;
    destroy_buffer(raw);
    int status = text ? api_push_bytes(L, text->data, size_t(text->length)) : api_push_bytes(L, "", 0);
    destroy_buffer(text);
    if (status != LUA_OK) return lua_error(L);
    return 1;
}

int os_set_host_clipboard_text(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    if (!text) return 0;
    charge_bytes_first(L, len, HOST_TEXT_BYTES_PER_CYCLE);
    buffer_rec *utf8 = encode_host_text(text);
    if (!utf8) return 0;
    sdl.SetClipboardText(to_cstr(utf8));
    destroy_buffer(utf8);
    return 0;
}

int os_open_host_path(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    if (!path) return 0;
    charge_path(L, path, len);
    if (strncmp(path, "https:", 6) == 0) {
        if (open_host_file(path) == 0) spend_cpu(HOST_OPEN_CYCLES);
        return 0;
    }
    int kind = 0;
    buffer_rec *origin = resolve_to_origin(path, &kind, 0);
    if (origin && kind == 1 && open_host_file(to_cstr(origin)) == 0) spend_cpu(HOST_OPEN_CYCLES);
    destroy_buffer(origin);
    return 0;
}

}  // namespace

extern "C" void os_add_public_c_functions(lua_State *L) {
    lua_register(L, "_req_host_clipboard_text", os_req_host_clipboard_text);
    lua_register(L, "_get_host_clipboard_text", os_get_host_clipboard_text);
    lua_register(L, "_set_host_clipboard_text", os_set_host_clipboard_text);
    lua_register(L, "_open_host_path", os_open_host_path);
}
