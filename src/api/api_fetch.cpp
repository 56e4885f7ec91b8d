// Reading calls: a file's value, an earlier version's value, and a file's
// metadata header.
//
// A file slot is closed before any value is decoded: its bytes are copied
// (or pushed protected) first, so a memory error never leaves it open and
// no Lua code run meanwhile (a finalizer) can change the bytes being read.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "api_args.h"
#include "api_charges.h"
#include "api_functions.h"
#include "anywhen.h"
#include "api_protected.h"
#include "buffer.h"
#include "fetched_value.h"
#include "lua.hpp"
#include "paths.h"
#include "pfile.h"
#include "pod_bridge.h"

namespace {

inline constexpr int32_t HEADER_COPY_TAG = 'h';  /* buffer group of copied metadata headers */

/* Room for an extension the fetched-text rules name ("txt", "png", ...);
   a longer one is cut, and a cut one names no rule. */
inline constexpr size_t RULE_EXT_ROOM = 8;

int metadata_body(lua_State *L) {
    auto *header = static_cast<buffer_rec *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    return api_pod_read_metadata(L, to_cstr(header), static_cast<size_t>(header->length));
}

}  // namespace

int lua54_fetch_local(lua_State *L) {
    size_t path_len = 0;
    const char *path = api_path(L, 1, &path_len);
    if (!path) return 0;
    charge_path(L, path, path_len);
    if (kiv_path_kind(path)) {  // the cartridge file itself, as bytes
        pfile_rec *f = pfopen(path, "rf");
        if (!f) return 0;
        charge_bytes(static_cast<size_t>(f->data->length), FILE_BYTES_PER_CYCLE);
        const int status = api_push_bytes(L, f->data->data, static_cast<size_t>(f->data->length));
        pfclose(f);
        if (status != LUA_OK) return lua_error(L);
        return 1;
    }
    pfile_rec *f = pfopen(path, "rb");
    if (!f) return 0;
    buffer_rec *bytes = create_buffer_from_buffer(f->data);
    pfclose(f);
    return unpod_from_fetched_buffer(L, bytes, get_ext(path));
}

int lua54_fetch_anywhen(lua_State *L) {
    size_t len = 0;
    const char *text = api_path(L, 1, &len);
    if (!text) return 0;
    charge_path_text(len);
    buffer_rec *b = anywhen_fetch(text);
    if (!b) return 0;
    // The extension is the path's, before the '@' and its time.
    char ext[RULE_EXT_ROOM];
    {
        const char *at = static_cast<const char *>(std::memchr(text, '@', len));
        const std::string e = pdisk_ext(std::string_view(text, at ? static_cast<size_t>(at - text) : len));
        std::snprintf(ext, sizeof ext, "%s", e.c_str());
    }
    return unpod_from_fetched_buffer(L, b, ext);
}

int lua54_fetch_metadata(lua_State *L) {
    size_t path_len = 0;
    const char *path = api_path(L, 1, &path_len);
    if (!path) return 0;
    charge_path(L, path, path_len);
    pfile_rec *f = pfopen(path, "rm");
    if (!f) return 0;
    const int64_t n = api_pod_metadata_length(reinterpret_cast<const char *>(f->data->data), f->data->length);
    buffer_rec *header = nullptr;
    if (n > 0 && (header = create_buffer_2(static_cast<int32_t>(n), HEADER_COPY_TAG)))
        bwrite(f->data->data, 1, n, header);
    pfclose(f);
    if (!header) return 0;
    const int top = lua_gettop(L);
    const int status = api_pcall(L, metadata_body, header, 0);
    destroy_buffer(header);
    if (status != LUA_OK) return lua_error(L);
    return lua_gettop(L) - top;
}
