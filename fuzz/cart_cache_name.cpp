// Fuzz target: the cache name of a downloaded cartridge's URL. Random URLs,
// most behind one of the two cartridge prefixes: each name is either refused
// (empty) or one plain name that fits.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api_remote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    std::string url;
    if (data[0] % 3 == 0) url = GURL_CART_HOST_PREFIX;
    else if (data[0] % 3 == 1) url = GURL_CART_FORUM_PREFIX;
    url.append(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t room = 1 + data[0] % 64 * 32;  // output buffers of 1 to 2017 bytes
    char *out = static_cast<char *>(std::malloc(room));
    const bool ok = cart_cache_name(url.data(), url.size(), out, room);
    const size_t n = strnlen(out, room);
    if (n == room) std::abort();  // no NUL within the buffer
    if (!ok && n != 0) std::abort();
    if (ok) {
        if (n == 0 || (n == 1 && out[0] == '.') || (n == 2 && !std::memcmp(out, "..", 2))) std::abort();
        if (std::strchr(out, '/') || std::strchr(out, '\\')) std::abort();
        // The name is a piece of the URL (and the forum's suffix).
        if (url.find(std::string(out, n)) == std::string::npos &&
            url.find(std::string(out, n - std::strlen(".kiv.png"))) == std::string::npos)
            std::abort();
    }
    std::free(out);
    return 0;
}
