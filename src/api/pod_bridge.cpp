// The script API's pod writing and reading, over the runtime's pod writer
// and reader.
#include "pod_bridge.h"

#include "buffer.h"
#include "host_call.h"
#include "lua.hpp"
#include "pod_reader.h"
#include "pod_writer.h"

namespace {

// What the protected write needs besides the value.
struct write_job {
    buffer_rec *b; /* receives the text */
    int flags;     /* pod writer flags */
};

// Runs protected: (light job, value).
int write_body(lua_State *L) {
    const auto *job = static_cast<const write_job *>(lua_touserdata(L, 1));
    stringify_object(L, 2, job->b, 0, job->flags);
    return 0;
}

}  // namespace

int api_pod_write(lua_State *L, int index, buffer_rec *b, int flags) {
    index = lua_absindex(L, index);
    const bool present = index <= lua_gettop(L);  // an absent value is written as nil
    write_job job{b, flags};
    if (present)
        lua_pushvalue(L, index);
    else
        lua_pushnil(L);
    return host_pcall(L, write_body, &job, 1, 0);
}

int api_pod_read(lua_State *L, const char *text, size_t len) {
    return destringify_object(L, text, static_cast<int64_t>(len));
}

int api_pod_read_metadata(lua_State *L, const char *text, size_t len) {
    return destringify_object_metadata(L, text, static_cast<int64_t>(len));
}

int64_t api_pod_metadata_length(const char *text, int64_t len) { return find_metadata_length(text, len); }
