// Pod against lua-cjson: the same seeded data sets (gen.lua) are built in
// our runtime and in stock lua5.4 with cjson (cjson_side.lua, a child
// process); writes and reads are timed in turns, ours with CPU accounting on
// and an unlimited budget, as the CPU seconds of one call (median of 5).
// Prints "pod <set> <read|write> ratio vs cjson: R" per set and direction,
// "pod <set> flags-6 <read|write> MB/s: X", and last "pod worst ratio vs
// cjson: R", the largest ratio of the first three sets.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
}
#include "buffer.h"
#include "pod_reader.h"
#include "pod_writer.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

inline constexpr int kRounds = 5;  // timings per set and direction; the median counts

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

[[noreturn]] void die(const char *what) {
    fprintf(stderr, "bench_pod: %s\n", what);
    exit(1);
}

/* ---- the cjson child ---- */

struct child {
    FILE *to = nullptr;    // its standard input
    FILE *from = nullptr;  // its standard output
    pid_t pid = -1;
};

child start_cjson() {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) die("pipe");
    child c;
    c.pid = fork();
    if (c.pid < 0) die("fork");
    if (c.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        execlp("lua5.4", "lua5.4", BENCH_POD_DIR "/cjson_side.lua", BENCH_POD_DIR "/gen.lua", (char *)nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    c.to = fdopen(in[1], "w");
    c.from = fdopen(out[0], "r");
    char line[64];
    if (!fgets(line, sizeof line, c.from) || strncmp(line, "ready", 5) != 0)
        die("lua5.4 with cjson did not start (install lua5.4 and lua-cjson)");
    return c;
}

double cjson_time(child &c, const char *set, const char *dir) {
    fprintf(c.to, "%s %s\n", set, dir);
    fflush(c.to);
    char line[64];
    if (!fgets(line, sizeof line, c.from)) die("cjson side ended");
    return atof(line);
}

void stop_cjson(child &c) {
    fclose(c.to);
    fclose(c.from);
    waitpid(c.pid, nullptr, 0);
}

/* ---- our side ---- */

void *bench_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        free(ptr);
        return nullptr;
    }
    return realloc(ptr, nsize);
}

struct pod_set {
    const char *name;  // set name in the output
    const char *key;   // the data set's field in gen.lua's result
    int flags;         // flags for the timed writes
};

// Leaves the sets table at index 1; its bitmap becomes a u8 typed array.
void build_sets(lua_State *L) {
    if (luaL_dofile(L, BENCH_POD_DIR "/gen.lua") != LUA_OK) die(lua_tostring(L, -1));
    lua_call(L, 0, 1);
    lua_getfield(L, 1, "bitmap");
    typed_ud_rec *rec = create_userdata(L, "u8", 2, 480, 270, 1, nullptr);
    for (int i = 0; i < 480 * 270; i++) {
        lua_rawgeti(L, -2, i + 1);
        ud_elements(rec)[i] = uint8_t(lua_tointeger(L, -1));
        lua_pop(L, 1);
    }
    lua_setfield(L, 1, "bitmap");
    lua_pop(L, 1);
}

double time_write(lua_State *L, buffer_rec *out, int flags) {
    bclear(out);
    lua_gc(L, LUA_GCCOLLECT);
    cpu_cycles = 0;
    const double t0 = cpu_seconds();
    stringify_object(L, -1, out, 0, flags);
    return cpu_seconds() - t0;
}

double time_read(lua_State *L, buffer_rec *text) {
    to_cstr(text);  // the reader needs the NUL after the text
    lua_gc(L, LUA_GCCOLLECT);
    cpu_cycles = 0;
    const double t0 = cpu_seconds();
    const int n = destringify_object(L, reinterpret_cast<const char *>(text->data), text->length);
    const double t = cpu_seconds() - t0;
    if (n != 1) die("a pod text did not read back");
    lua_pop(L, n);
    return t;
}

}  // namespace

int main() {
    lua_State *L = lua_newstate(bench_alloc, nullptr);
    luaL_openlibs(L);
    cpu_cycles_max = INT32_MAX;  // accounting on, budget unlimited
    build_sets(L);
    child cj = start_cjson();

    const pod_set sets[] = {
        {"events", "events", 0}, {"tree", "tree", 0}, {"string", "string", 0},
        {"bitmap", "bitmap", 0}, {"bitmap_pxu", "bitmap", 1},
    };
    buffer_rec *out = create_buffer_2(1 << 20, 'b');
    buffer_rec *text = create_buffer_2(1 << 20, 'b');
    double worst = 0;
    for (const auto &s : sets) {
        lua_getfield(L, 1, s.key);
        time_write(L, text, s.flags);  // the text the reads take
        std::vector<double> w, wj, r, rj;
        for (int round = 0; round < kRounds; round++) {
            w.push_back(time_write(L, out, s.flags));
            wj.push_back(cjson_time(cj, s.key, "write"));
            r.push_back(time_read(L, text));
            rj.push_back(cjson_time(cj, s.key, "read"));
        }
        const double write_ratio = median(w) / median(wj), read_ratio = median(r) / median(rj);
        printf("pod %s write ratio vs cjson: %.3f\n", s.name, write_ratio);
        printf("pod %s read ratio vs cjson: %.3f\n", s.name, read_ratio);
        if (&s - sets < 3) worst = std::max({worst, write_ratio, read_ratio});

        // Flags 6: LZ4 and base64 around the whole text.
        std::vector<double> w6, r6;
        buffer_rec *packed = create_buffer_2(1 << 20, 'b');
        time_write(L, packed, s.flags | POD_LZ4 | POD_B64);
        for (int round = 0; round < kRounds; round++) {
            w6.push_back(time_write(L, out, s.flags | POD_LZ4 | POD_B64));
            r6.push_back(time_read(L, packed));
        }
        const double mb = double(text->length) / (1 << 20);
        printf("pod %s flags-6 write MB/s: %.1f\n", s.name, mb / median(w6));
        printf("pod %s flags-6 read MB/s: %.1f\n", s.name, mb / median(r6));
        destroy_buffer(packed);
        lua_pop(L, 1);
        fflush(stdout);
    }
    printf("pod worst ratio vs cjson: %.3f\n", worst);
    destroy_buffer(out);
    destroy_buffer(text);
    stop_cjson(cj);
    lua_close(L);
    return 0;
}
