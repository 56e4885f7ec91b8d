// Fetched-text decoding by extension.
#include "fetched_value.h"

#include <cstdlib>
#include <cstring>

#include "api_protected.h"
#include "bitmap_convert.h"
#include "buffer.h"
#include "host_text.h"
#include "lua.hpp"
#include "pod_bridge.h"
#include "png_buffer.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

inline constexpr char OBJECT_DATA_HEAD[] = "-- quillmar object data";  /* 23 characters */
inline constexpr char METADATA_HEAD[] = "--[[pod";                    /* 7 characters */
inline constexpr int64_t PNG_MIN_BYTES = 5;       /* shorter bytes are never taken as a PNG */
inline constexpr int64_t IHDR_END = 24;           /* signature, chunk length, "IHDR", width, height */
inline constexpr int32_t PNG_PIXELS_PER_CYCLE = 2;

enum class fetched_kind {
    host_text,  /* converted from host text, then as other */
    png,        /* a picture when it decodes, else as other */
    pod,        /* pod text */
    other,      /* pod when it carries a pod head, else raw */
};

fetched_kind kind_of(const char *ext) {
    if (!ext) return fetched_kind::other;
    if (!std::strcmp(ext, "txt") || !std::strcmp(ext, "pn") || !std::strcmp(ext, "lua"))
        return fetched_kind::host_text;
    if (!std::strcmp(ext, "png")) return fetched_kind::png;
    if (!std::strcmp(ext, "pod")) return fetched_kind::pod;
    return fetched_kind::other;
}

bool starts_with(const buffer_rec *b, const char *head, int64_t n) {
    return b->length >= n && std::memcmp(b->data, head, static_cast<size_t>(n)) == 0;
}

uint32_t read_be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// What the protected step decodes; the host side owns every pointer.
struct fetched_job {
    buffer_rec *text;   /* the bytes (NUL-terminated) */
    fetched_kind kind;  /* pod or other (host text already converted) */
    uint8_t *pixels;    /* decoded RGBA pixels of a PNG, or null */
    uint32_t w, h;      /* their size */
};

// RGBA pixels of a PNG whose header declares a size a u8 array can take;
// null when it does not qualify or does not decode. The caller frees them.
uint8_t *decode_png(buffer_rec *b, uint32_t *w, uint32_t *h) {
    uint32_t hw = 0, hh = 0;
    if (b->length < PNG_MIN_BYTES || std::memcmp(b->data + 1, "PNG", 3) != 0) return nullptr;
    if (!png_header_size(b->data, b->length, &hw, &hh)) return nullptr;
    if (hw == 0 || hh == 0 || uint64_t{hw} * hh > FETCH_PNG_MAX_PIXELS) return nullptr;
    uint8_t *pixels = nullptr;
    if (LodePNG_decode32_pbuffer(&pixels, w, h, b) != 0) return nullptr;
    if (*w != hw || *h != hh) {  // cannot happen: the decoder reads the same header
        std::free(pixels);
        return nullptr;
    }
    return pixels;
}

int decode_body(lua_State *L) {
    const auto *job = static_cast<const fetched_job *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    if (job->pixels) {
        typed_ud_rec *ud = create_userdata_shaped(L, UTYPE_U8, 2, job->w, job->h, 1);
        if (ud) {
            const uint64_t n = uint64_t{job->w} * job->h;
            convert_bitmap_32_to_8(job->pixels, ud_elements(ud), static_cast<int64_t>(n));
            spend_cpu(static_cast<int32_t>(n / PNG_PIXELS_PER_CYCLE));
            return 1;
        }
    }
    const char *text = to_cstr(job->text);
    const auto len = static_cast<size_t>(job->text->length);
    if (job->kind == fetched_kind::pod || starts_with(job->text, OBJECT_DATA_HEAD, sizeof OBJECT_DATA_HEAD - 1) ||
        starts_with(job->text, METADATA_HEAD, sizeof METADATA_HEAD - 1))
        return api_pod_read(L, text, len);
    lua_pushlstring(L, text, len);
    return 1;
}

}  // namespace

bool png_header_size(const uint8_t *bytes, int64_t len, uint32_t *w, uint32_t *h) {
    if (!bytes || len < IHDR_END || std::memcmp(bytes + 12, "IHDR", 4) != 0) return false;
    *w = read_be32(bytes + 16);
    *h = read_be32(bytes + 20);
    return true;
}

int unpod_from_fetched_buffer(lua_State *L, buffer_rec *b, const char *ext) {
    if (!b) return 0;
    fetched_job job{b, kind_of(ext), nullptr, 0, 0};
    if (job.kind == fetched_kind::host_text) {
        job.text = decode_host_text(b);
        destroy_buffer(b);
        if (!job.text) return 0;
        job.kind = fetched_kind::other;
    } else if (job.kind == fetched_kind::png) {
        job.pixels = decode_png(b, &job.w, &job.h);
        job.kind = fetched_kind::other;
    }
    const int top = lua_gettop(L);
    const int status = api_pcall(L, decode_body, &job, 0);
    std::free(job.pixels);
    destroy_buffer(job.text);
    if (status != LUA_OK) return lua_error(L);
    return lua_gettop(L) - top;
}
