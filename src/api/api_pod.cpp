// Pod and delta calls: values as pod text and back, binary deltas between
// two strings.
//
// Every buffer made here is released before an error is raised again: the
// pod writer and the pushes run protected.
#include <algorithm>
#include <cstdint>

#include "api_args.h"
#include "api_functions.h"
#include "api_protected.h"
#include "buffer.h"
#include "delta.h"
#include "lua.hpp"
#include "pod_bridge.h"
#include "vm_hooks.h"

namespace {

inline constexpr int32_t POD_INITIAL_CAPACITY = 256;  /* bytes of a new pod text buffer */
inline constexpr int32_t POD_TEXT_TAG = 'P';          /* buffer group of pod texts */
inline constexpr int32_t DELTA_BYTES_PER_CYCLE = 4;   /* delta calls charge length / 4 */
inline constexpr size_t DELTA_INPUT_BYTES_PER_CYCLE = 4;  /* and their two inputs' bytes / 4 */
/* A delta's making empties its 128 KB match index first, whatever the texts. */
inline constexpr int32_t DELTA_INDEX_CYCLES = 1024;

// Pushes the bytes of 'b' as one string and releases 'b'; raises a memory
// error only after the release. A null 'b' pushes nothing: 0. 'read' is the
// bytes of both inputs, which the call went through whatever it returns.
int push_and_release(lua_State *L, buffer_rec *b, size_t read) {
    const auto read_cycles =
        static_cast<int32_t>(std::min<size_t>(read / DELTA_INPUT_BYTES_PER_CYCLE, INT32_MAX / 2));
    if (read_cycles > 0) spend_cpu(read_cycles);
    if (!b) return 0;
    const int status = api_push_bytes(L, b->data, static_cast<size_t>(b->length));
    const int32_t length = b->length;
    destroy_buffer(b);
    if (status != LUA_OK) return lua_error(L);
    spend_cpu(length / DELTA_BYTES_PER_CYCLE);
    return 1;
}

}  // namespace

int lua54_stringify(lua_State *L) {
    const auto flags = static_cast<int>(kiv_intp(L, 2, 0));
    size_t prefix_len = 0;
    const char *prefix = api_string(L, 3, &prefix_len);
    buffer_rec *b = create_buffer_2(POD_INITIAL_CAPACITY, POD_TEXT_TAG);
    if (!b) return 0;
    if (prefix) bwrite(prefix, 1, static_cast<int64_t>(prefix_len), b);
    int status = api_pod_write(L, 1, b, flags);
    if (status == LUA_OK) status = api_push_bytes(L, b->data, static_cast<size_t>(b->length));
    destroy_buffer(b);
    if (status != LUA_OK) return lua_error(L);
    return 1;
}

int lua54_destringify(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    if (!text) return 0;
    return api_pod_read(L, text, len);
}

int lua54_create_diff(lua_State *L) {
    size_t a_len = 0, b_len = 0;
    const char *a = api_string(L, 1, &a_len);
    const char *b = api_string(L, 2, &b_len);
    if (!a || !b) return 0;
    spend_cpu(DELTA_INDEX_CYCLES);
    return push_and_release(L, generate_diff(reinterpret_cast<const uint8_t *>(a), static_cast<int64_t>(a_len),
                                             reinterpret_cast<const uint8_t *>(b), static_cast<int64_t>(b_len)),
                            a_len + b_len);
}

int lua54_apply_diff(lua_State *L) {
    size_t a_len = 0, d_len = 0;
    const char *a = api_string(L, 1, &a_len);
    const char *d = api_string(L, 2, &d_len);
    if (!a || !d) return 0;
    return push_and_release(L, apply_diff(reinterpret_cast<const uint8_t *>(a), static_cast<int64_t>(a_len),
                                          reinterpret_cast<const uint8_t *>(d), static_cast<int64_t>(d_len)),
                            a_len + d_len);
}
