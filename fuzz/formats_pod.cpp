// Fuzz target: the pod reader over arbitrary texts held in an array of
// exactly their size and their NUL. Every read must move the stack by
// exactly its count; a value that reads is written again (flags 0 and 1)
// and, unless the writer refuses it, its text must read back.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}
#include "buffer.h"
#include "pod_reader.h"
#include "pod_writer.h"
#include "vm_hooks.h"

namespace {

// Rewritten texts longer than this are not read back: a text the reader
// expanded may hold strings past its string limit.
inline constexpr int32_t kMaxRecheck = 1 << 20;

void fail(const char *what) {
    fprintf(stderr, "pod: %s\n", what);
    abort();
}

void *fuzz_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

lua_State *state() {
    static lua_State *L = [] {
        // The reader reports bad headers on standard output; keep it quiet.
        if (!freopen("/dev/null", "w", stdout)) fail("standard output");
        return lua_newstate(fuzz_alloc, nullptr);
    }();
    return L;
}

// write_value(value, buffer, flags): stringify_object into the buffer.
int write_value(lua_State *L) {
    auto *out = static_cast<buffer_rec *>(lua_touserdata(L, 2));
    stringify_object(L, 1, out, 0, int(lua_tointeger(L, 3)));
    return 0;
}

// What a protected read is given, and its count.
struct read_job {
    const char *text;
    size_t n;
    int metadata;
    int got;
};

int read_body(lua_State *L) {
    auto *job = static_cast<read_job *>(lua_touserdata(L, 1));
    lua_pop(L, 1);
    job->got = destringify_object_ex(L, job->text, int64_t(job->n), job->metadata);
    return job->got;
}

// Reads the text and checks the stack; returns the count, or -1 when the
// reader refused a text whose charge would pass the watchdog's margin (the
// one error it may raise).
int read_checked(lua_State *L, const char *text, size_t n, int metadata) {
    const int top = lua_gettop(L);
    cpu_cycles = 0;  // each read on a margin of its own
    read_job job{text, n, metadata, 0};
    lua_pushcfunction(L, read_body);
    lua_pushlightuserdata(L, &job);
    if (lua_pcall(L, 1, LUA_MULTRET, 0) != LUA_OK) {
        const char *message = lua_tostring(L, -1);
        if (!message || !std::strstr(message, VM_WATCHDOG_MESSAGE)) fail("the reader raised another error");
        lua_settop(L, top);
        return -1;
    }
    const int got = job.got;
    if (got < 0 || got > 2 || lua_gettop(L) - top != got) fail("stack moved by other than the count");
    if (metadata && got != 1) fail("metadata mode did not give one table");
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lua_State *L = state();
    cpu_cycles = 0;
    std::unique_ptr<char[]> text(new char[size + 1]);
    if (size) memcpy(text.get(), data, size);
    text[size] = 0;

    const int top = lua_gettop(L);
    if (read_checked(L, text.get(), size, 1) == 1 && lua_type(L, -1) != LUA_TTABLE) fail("metadata is not a table");
    lua_settop(L, top);
    const int got = read_checked(L, text.get(), size, 0);
    if (got >= 1) {
        buffer_rec *out = create_buffer_2(64, 'f');
        for (int flags : {0, 1}) {
            bclear(out);
            lua_pushcfunction(L, write_value);
            lua_pushvalue(L, top + 1);
            lua_pushlightuserdata(L, out);
            lua_pushinteger(L, flags);
            if (lua_pcall(L, 3, 0, 0) != LUA_OK) {
                lua_pop(L, 1);  // unordered keys or nesting too deep for the writer
                continue;
            }
            if (out->length <= kMaxRecheck) {
                const int again = read_checked(L, to_cstr(out), size_t(out->length), 0);
                if (again != 1 && again != -1) fail("written text does not read back");
                if (again > 0) lua_pop(L, again);
            }
        }
        destroy_buffer(out);
    }
    lua_settop(L, top);
    return 0;
}
