// The download cache: files kept below "cache/" in the application-data
// folder, one sub-folder per kind, written and read with the host's own
// file calls.
//
// Folder and file names are single plain names: empty, ".", "..", and
// names holding '/', '\' or a NUL are refused, and so is a host path over
// CACHE_PATH_MAX characters. A versioned name holds exactly one "%d" or
// "%i" and no other '%'; the number is written in its place here, never
// through a format function.
#include <cstdio>
#include <cstring>

#include "api_args.h"
#include "api_charges.h"
#include "api_functions.h"
#include "api_protected.h"
#include "buffer.h"
#include "host.h"
#include "lua.hpp"

namespace {

inline constexpr size_t CACHE_PATH_MAX = HOST_PATH_SIZE - 1;  /* characters of a cache host path */
inline constexpr int32_t CACHE_FILE_MIN = 512;                /* shorter cached files read as missing */
inline constexpr int CACHE_NEWEST_VERSION = 32;               /* versions tried: 32 down to 0 */
inline constexpr size_t VERSION_DIGITS_MAX = 2;               /* "32" */
inline constexpr int32_t CACHE_STORE_CYCLES = 16384;          /* a store: two folders made, a host file created and written */
inline constexpr int32_t CACHE_OPEN_CYCLES = 256;             /* each file a fetch tries to open (1-2 us) */

bool plain_name(const char *s, size_t len) {
    if (!s || len == 0 || len > CACHE_PATH_MAX) return false;  // too long for any path: not read through
    if ((len == 1 && s[0] == '.') || (len == 2 && s[0] == '.' && s[1] == '.')) return false;
    for (size_t i = 0; i < len; i++)
        if (s[i] == '/' || s[i] == '\\' || s[i] == 0) return false;
    return true;
}

// Appends the 'n' bytes at 's' to the path 'out' of 'used' characters;
// false when the result would pass CACHE_PATH_MAX.
bool append(char *out, size_t *used, const char *s, size_t n) {
    if (*used + n > CACHE_PATH_MAX) return false;
    std::memcpy(out + *used, s, n);
    *used += n;
    out[*used] = 0;
    return true;
}

// Where the one "%d" or "%i" of a versioned name is; false for any other
// use of '%'.
bool version_slot(const char *name, size_t len, size_t *at) {
    bool found = false;
    for (size_t i = 0; i < len; i++) {
        if (name[i] != '%') continue;
        if (found || i + 1 >= len || (name[i + 1] != 'd' && name[i + 1] != 'i')) return false;
        found = true;
        *at = i;
        i++;
    }
    return found;
}

}  // namespace

int lua54_cache_store(lua_State *L) {
    size_t folder_len = 0, name_len = 0, data_len = 0;
    const char *folder = api_string(L, 1, &folder_len);
    const char *name = api_string(L, 2, &name_len);
    const char *data = api_string(L, 3, &data_len);
    if (!data || !plain_name(folder, folder_len) || !plain_name(name, name_len)) return 0;
    spend_cpu(CACHE_STORE_CYCLES);
    charge_bytes_first(L, data_len, FILE_BYTES_PER_CYCLE);
    char path[HOST_PATH_SIZE];
    size_t used = std::strlen(codo_prefix_with_appdata_path("cache", path));
    if (used == 0) return 0;
    if (used + 1 + folder_len + 1 + name_len > CACHE_PATH_MAX) return 0;
    codo_mkdir(path);
    append(path, &used, "/", 1);
    append(path, &used, folder, folder_len);
    codo_mkdir(path);
    append(path, &used, "/", 1);
    append(path, &used, name, name_len);
    if (FILE *fp = std::fopen(path, "wb")) {
        std::fwrite(data, 1, data_len, fp);
        std::fclose(fp);
    }
    return 0;
}

int lua54_cache_fetch(lua_State *L) {
    size_t folder_len = 0, name_len = 0;
    const char *folder = api_string(L, 1, &folder_len);
    const char *name = api_string(L, 2, &name_len);
    const bool versioned = lua_toboolean(L, 3);
    if (!plain_name(folder, folder_len) || !plain_name(name, name_len)) return 0;
    size_t slot = 0;
    if (versioned && !version_slot(name, name_len, &slot)) return 0;

    char path[HOST_PATH_SIZE];
    size_t used = std::strlen(codo_prefix_with_appdata_path("cache/", path));
    if (used == 0 || !append(path, &used, folder, folder_len) || !append(path, &used, "/", 1)) return 0;
    buffer_rec *b = nullptr;
    if (!versioned) {
        spend_cpu(CACHE_OPEN_CYCLES);
        if (append(path, &used, name, name_len)) b = create_buffer_from_file(path);
    } else {
        for (int v = CACHE_NEWEST_VERSION; v >= 0 && !b; v--) {
            spend_cpu(CACHE_OPEN_CYCLES);
            char digits[VERSION_DIGITS_MAX + 1];
            const int n = std::snprintf(digits, sizeof digits, "%d", v);
            size_t at = used;
            path[at] = 0;
            if (append(path, &at, name, slot) && append(path, &at, digits, static_cast<size_t>(n)) &&
                append(path, &at, name + slot + 2, name_len - slot - 2))
                b = create_buffer_from_file(path);
        }
    }
    if (!b) return 0;
    charge_bytes(static_cast<size_t>(b->length), FILE_BYTES_PER_CYCLE / 2);  // read, then copied
    int status = LUA_OK;
    const bool long_enough = b->length >= CACHE_FILE_MIN;
    if (long_enough) status = api_push_bytes(L, b->data, static_cast<size_t>(b->length));
    destroy_buffer(b);
    if (status != LUA_OK) return lua_error(L);
    return long_enough ? 1 : 0;
}
