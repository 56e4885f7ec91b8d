// Writing calls: a value, raw text, a picture or a cartridge image into a
// file, and a file's metadata header replaced.
//
// Everything written is made ready first (pod text, PNG bytes); the file is
// then opened, written and closed with no Lua call in between, so an error
// raised by the pod writer leaves the file untouched.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "api_args.h"
#include "api_charges.h"
#include "api_functions.h"
#include "bitmap_convert.h"
#include "buffer.h"
#include "lua.hpp"
#include "paths.h"
#include "pfile.h"
#include "png_buffer.h"
#include "pod_bridge.h"
#include "process.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

inline constexpr char RAW_FORMAT_HEAD[] = "--[[pod_format=\"raw\"";      /* 20 characters */
inline constexpr char NO_METADATA[] = "metadata_format=\"none\"";
inline constexpr char DEFAULT_HEADER[] = "--[[pod]]\n";
inline constexpr char BAD_CART_PNG[] = "invalid .kiv.png file: not a valid PNG";
inline constexpr size_t CART_PNG_MIN_BYTES = 512;  /* shorter cartridge images are refused */
inline constexpr int STORE_POD_FLAGS = 3;          /* pxu images and LZ4 records */
inline constexpr int32_t POD_INITIAL_CAPACITY = 256;
inline constexpr int32_t STORE_TEXT_TAG = 'S';     /* buffer group of texts made ready to store */

bool contains(const char *text, size_t len, const char *what) {
    return std::string_view(text, len).find(what) != std::string_view::npos;
}

bool starts_with(const char *text, size_t len, const char *head, size_t n) {
    return len >= n && std::memcmp(text, head, n) == 0;
}

// Opens 'path' with 'mode', writes the pieces in order (null pieces skipped)
// and closes it; nothing when it does not open.
void write_file(const char *path, const char *mode, const void *a, size_t a_len, const void *b = nullptr,
                size_t b_len = 0, const void *c = nullptr, size_t c_len = 0) {
    pfile_rec *f = pfopen(path, mode);
    if (!f) return;
    if (a) pfwrite(a, 1, static_cast<int64_t>(a_len), f);
    if (b) pfwrite(b, 1, static_cast<int64_t>(b_len), f);
    if (c) pfwrite(c, 1, static_cast<int64_t>(c_len), f);
    pfclose(f);
}

// A 2-dimensional u8 or i32 array as a PNG file.
void store_png(const char *path, typed_ud_rec *ud) {
    if (!ud || ud->dims != 2 || (ud_type(ud) != UTYPE_U8 && ud_type(ud) != UTYPE_I32)) return;
    const uint64_t n = uint64_t{ud->width} * ud->height;
    if (n == 0) return;
    uint8_t *converted = nullptr;
    const uint8_t *rgba = ud_elements(ud);  // i32: each element's bytes in memory order are R, G, B, A
    if (ud_type(ud) == UTYPE_U8) {
        converted = static_cast<uint8_t *>(std::malloc(n * 4));
        if (!converted) return;
        convert_bitmap_8_to_32(ud_elements(ud), converted, static_cast<int64_t>(n));
        rgba = converted;
    }
    buffer_rec *png = create_buffer_2(0, STORE_TEXT_TAG);
    if (png && LodePNG_encode32_pbuffer(rgba, ud->width, ud->height, png) == 0)
        write_file(path, "wb", png->data, static_cast<size_t>(png->length));
    destroy_buffer(png);
    std::free(converted);
    spend_cpu(static_cast<int32_t>(n));
}

}  // namespace

int lua54_store_local(lua_State *L) {
    size_t path_len = 0;
    const char *path = api_path(L, 1, &path_len);
    if (!path) return 0;
    charge_path(L, path, path_len);
    size_t meta_len = 0;
    const char *meta = api_string(L, 3, &meta_len);

    // Raw text under a raw-format header.
    if (lua_type(L, 2) == LUA_TSTRING && meta &&
        starts_with(meta, meta_len, RAW_FORMAT_HEAD, sizeof RAW_FORMAT_HEAD - 1)) {
        size_t len = 0;
        const char *text = lua_tolstring(L, 2, &len);
        const bool sandboxed = cproc && cproc->has_argument;
        charge_bytes(meta_len + len, FILE_BYTES_PER_CYCLE);
        if (!sandboxed && contains(meta, meta_len, NO_METADATA))
            write_file(path, "w", text, len);
        else
            write_file(path, "w", meta, meta_len, "\n", 1, text, len);
        return 0;
    }

    // A cartridge: only a PNG image is written, as the cartridge file itself.
    if (kiv_path_kind(path)) {
        size_t len = 0;
        const char *bytes = api_string(L, 2, &len);
        if (!bytes) return 0;
        charge_bytes(len, FILE_BYTES_PER_CYCLE);
        if (len >= CART_PNG_MIN_BYTES && std::memcmp(bytes + 1, "PNG", 3) == 0) {
            write_file(path, "wf", bytes, len);
            return 0;
        }
        lua_pushstring(L, BAD_CART_PNG);
        return 1;
    }

    if (std::strcmp(get_ext(path), "png") == 0) {
        store_png(path, to_typed_ud(L, 2));
        return 0;
    }

    // Anything else: a metadata header, then the value's pod text.
    buffer_rec *text = create_buffer_2(POD_INITIAL_CAPACITY, STORE_TEXT_TAG);
    if (!text) return 0;
    if (api_pod_write(L, 2, text, STORE_POD_FLAGS) != LUA_OK) {
        destroy_buffer(text);
        return lua_error(L);
    }
    charge_bytes(meta_len + static_cast<size_t>(text->length), FILE_BYTES_PER_CYCLE);
    if (meta)
        write_file(path, "w", meta, meta_len, text->data, static_cast<size_t>(text->length));
    else
        write_file(path, "w", DEFAULT_HEADER, sizeof DEFAULT_HEADER - 1, text->data,
                   static_cast<size_t>(text->length));
    destroy_buffer(text);
    return 0;
}

int lua54_store_metadata_str(lua_State *L) {
    size_t path_len = 0, meta_len = 0;
    const char *path = api_path(L, 1, &path_len);
    const char *meta = api_string(L, 2, &meta_len);
    if (!path || !meta) return 0;
    charge_path(L, path, path_len);
    charge_bytes(meta_len, FILE_BYTES_PER_CYCLE);
    // The whole file read, its rest copied, then written back: paid for from
    // its size before any of it, so a file too big for the slice stops first.
    const int64_t size = pfile_size(path, 0);
    if (size > 0) charge_bytes_first(L, static_cast<size_t>(size), FILE_BYTES_PER_CYCLE / 8);
    pfile_rec *f = pfopen(path, "r");
    if (!f) {  // a new file holds the header alone
        write_file(path, "w", meta, meta_len);
        return 0;
    }
    const char *old = reinterpret_cast<const char *>(f->data->data);
    const int64_t header = api_pod_metadata_length(old, f->data->length);
    const int64_t rest_len = f->data->length - header;
    buffer_rec *rest = create_buffer_2(static_cast<int32_t>(rest_len), STORE_TEXT_TAG);
    if (rest) bwrite(old + header, 1, rest_len, rest);
    pfclose(f);
    if (!rest) return 0;
    const bool keep_meta = !contains(meta, meta_len, NO_METADATA);
    write_file(path, "w", keep_meta ? meta : nullptr, meta_len, rest->data, static_cast<size_t>(rest->length));
    destroy_buffer(rest);
    return 0;
}
