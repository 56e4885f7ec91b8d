// Remote fetches: _fetch_remote starts an HTTP GET, _fetch_remote_result
// collects and decodes its body, and gurl_cb keeps downloaded cartridge
// images in the download cache.
#include "api_remote.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "api_args.h"
#include "api_charges.h"
#include "api_functions.h"
#include "app_state.h"
#include "buffer.h"
#include "fetched_value.h"
#include "host.h"
#include "lua.hpp"
#include "paths.h"

namespace {

inline constexpr int32_t FETCHED_COPY_TAG = 'F';  /* buffer group of fetched bodies */
inline constexpr size_t URL_EXT_ROOM = 1024;      /* the part of a URL its extension is taken from */
inline constexpr char FORUM_SUFFIX[] = ".kiv.png";
inline constexpr char TEMP_NAME[] = "/.download-XXXXXX";
inline constexpr char CART_CACHE_FOLDER[] = "cache/carts";  /* below the application-data folder */
inline constexpr int32_t FETCH_START_CYCLES = 4096;          /* a fetch's job and worker thread made */

bool plain_name(const char *s, size_t len) {
    if (len == 0) return false;
    if ((len == 1 && s[0] == '.') || (len == 2 && s[0] == '.' && s[1] == '.')) return false;
    for (size_t i = 0; i < len; i++)
        if (s[i] == '/' || s[i] == '\\' || s[i] == 0) return false;
    return true;
}

bool starts_with(const char *s, size_t len, const char *prefix, size_t *prefix_len) {
    *prefix_len = std::strlen(prefix);
    return *prefix_len > 0 && len >= *prefix_len && !std::memcmp(s, prefix, *prefix_len);
}

// Length of 's' up to the first of the characters in 'stops'.
size_t span_until(const char *s, size_t len, const char *stops) {
    for (size_t i = 0; i < len; i++)
        if (std::strchr(stops, s[i]) && s[i]) return i;
    return len;
}

int no_network(lua_State *L, int nils) {
    for (int i = 0; i < nils; i++) lua_pushnil(L);
    lua_pushstring(L, "no network access");
    return nils + 1;
}

}  // namespace

bool cart_cache_name(const char *url, size_t url_len, char *out, size_t size) {
    if (size) out[0] = 0;
    if (!url || size == 0) return false;
    size_t at = 0, n = 0;
    const char *suffix = "";
    if (starts_with(url, url_len, gurl_cart_forum_prefix(), &at)) {
        n = span_until(url + at, url_len - at, "#");
        suffix = FORUM_SUFFIX;
    } else if (starts_with(url, url_len, gurl_cart_host_prefix(), &at)) {
        n = span_until(url + at, url_len - at, "?#");
    } else {
        return false;
    }
    const size_t suffix_len = std::strlen(suffix);
    if (n + suffix_len + 1 > size) return false;
    std::memcpy(out, url + at, n);
    std::memcpy(out + n, suffix, suffix_len);
    out[n + suffix_len] = 0;
    // The forum's suffix could make "" or "." plain: the id alone must be.
    if (!plain_name(url + at, n) || !plain_name(out, n + suffix_len)) {
        out[0] = 0;
        return false;
    }
    return true;
}

extern "C" void gurl_cb(gurl_job_rec *job) {
    if (gurl_job_state(job) != GURL_DONE) return;
    const gurl_buffer_rec *body = job->response;
    if (!body || body->length < CART_CACHE_MIN_BYTES || std::memcmp(body->data + 1, "PNG", 3) != 0) return;
    const char *url = reinterpret_cast<const char *>(job->url->data);
    // The folder came from the main thread (the extra text), where the host
    // paths are built and logged.
    const char *folder = job->extra ? reinterpret_cast<const char *>(job->extra->data) : "";
    const size_t folder_len = std::strlen(folder);
    char name[HOST_PATH_SIZE];
    const bool named = cart_cache_name(url, job->url->length, name, sizeof name);
    const size_t name_len = std::strlen(name);
    if (!named || folder_len == 0 || folder_len + 1 + name_len > HOST_PATH_SIZE - 1 ||
        folder_len + sizeof TEMP_NAME > HOST_PATH_SIZE) {
        std::printf("** gurl_cb: ignoring invalid png download %s\n", url);
        std::fflush(stdout);  // on the worker thread: no later print of ours may come to flush it
        return;
    }
    char cache[HOST_PATH_SIZE];
    std::memcpy(cache, folder, folder_len + 1);
    if (char *slash = std::strrchr(cache, '/')) *slash = 0;
    codo_mkdir(cache);
    codo_mkdir(folder);
    // A hidden file first, renamed into place: readers see the old file or
    // the whole new one.
    char temp[HOST_PATH_SIZE];
    std::memcpy(temp, folder, folder_len);
    std::memcpy(temp + folder_len, TEMP_NAME, sizeof TEMP_NAME);
    const int fd = mkstemp(temp);
    if (fd < 0) return;
    FILE *fp = fdopen(fd, "wb");
    if (!fp) {
        close(fd);
        unlink(temp);
        return;
    }
    const bool written = std::fwrite(body->data, 1, body->length, fp) == body->length;
    if (std::fclose(fp) != 0 || !written) {
        unlink(temp);
        return;
    }
    char path[HOST_PATH_SIZE];
    std::memcpy(path, folder, folder_len);
    path[folder_len] = '/';
    std::memcpy(path + folder_len + 1, name, name_len + 1);
    if (std::rename(temp, path) != 0) unlink(temp);
}

int lua54_fetch_remote(lua_State *L) {
    if (!config.network_access) return no_network(L, 1);
    size_t url_len = 0;
    const char *url = api_path(L, 1, &url_len);
    if (!url) return 0;
    spend_cpu(FETCH_START_CYCLES);
    charge_bytes(url_len, FILE_BYTES_PER_CYCLE);
    char folder[HOST_PATH_SIZE];
    codo_prefix_with_appdata_path(CART_CACHE_FOLDER, folder);
    lua_pushinteger(L, lua_Integer(gurl_get(url, folder, gurl_cb)));
    return 1;
}

int lua54_fetch_remote_result(lua_State *L) {
    if (!config.network_access) return no_network(L, 2);
    const gurl_job_rec *job = gurl_get_job(api_integer(L, 1));
    if (job && !gurl_job_finished(job)) return 0;
    if (!job || gurl_job_state(job) != GURL_DONE) {
        lua_pushnil(L);
        lua_pushnil(L);
        lua_pushstring(L, "could not download");
        return 3;
    }
    const gurl_buffer_rec *body = job->response;
    charge_bytes(body->length, FILE_BYTES_PER_CYCLE);  // copied before it is decoded
    buffer_rec *b = create_buffer_2(int32_t(body->length + 4), FETCHED_COPY_TAG);
    if (!b) return 0;
    if (body->length && bwrite(body->data, 1, int64_t(body->length), b) != int64_t(body->length)) {
        destroy_buffer(b);
        return 0;
    }
    b->cursor = 0;
    // The extension of the URL's path: the text before its first '?' or '#'.
    const char *url = reinterpret_cast<const char *>(job->url->data);
    char path[URL_EXT_ROOM];
    size_t n = span_until(url, job->url->length, "?#");
    if (n >= sizeof path) {  // keep the end, where the extension is
        url += n - (sizeof path - 1);
        n = sizeof path - 1;
    }
    std::memcpy(path, url, n);
    path[n] = 0;
    return unpod_from_fetched_buffer(L, b, get_ext(path));
}
