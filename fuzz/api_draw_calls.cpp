// The drawing, sprite, map and print calls with fuzzer-chosen draw state and
// arguments, inside one real process kept from input to input: the input
// sets the register page (clip, camera, masks, fill pattern, map cell sizes,
// print flags), the colour tables, the target's type and shape, sprite slots
// and the map; then a sequence of drawing calls is made from C, each under
// pcall, with arguments from a dictionary of edge values. No call may trip a
// sanitizer or raise, and no array's bytes past its described elements (the
// slack up to its rounded size) may change. What an input can change (the
// register page, mappings, sprite slots, the map, the draw state of the
// record) is put back before the next one.
//
// Leak detection is off for this target (api_draw_calls.flags): the Lua
// state lives on between inputs and frees in its own time.
//
// Input: 24 bytes of state, then calls, each a byte choosing the function, a
// byte whose low four bits give the argument count, then one byte per
// argument choosing it from the palette.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "address_space.h"
#include "api_draw_state.h"
#include "api_registry.h"
#include "fake_host.h"
#include "lua.hpp"
#include "process.h"
#include "slice.h"
#include "typed_ud.h"
#include "vm_hooks.h"

namespace {

const char *const kCalls[] = {
    "cls",  "fillp", "pset",     "pget",    "fset",  "fget", "mset", "mget", "camera",  "clip",     "rectfill",
    "rect", "ovalfill", "circfill", "oval", "circ", "rrect", "rrectfill", "line", "cursor", "color", "pal",
    "palt", "get",  "set",      "_set_draw_target", "_set_spr", "_map_ram", "_unmap_ram",
    "spr",  "sspr", "_draw_map", "tline3d", "blit", "_blit_process_video", "_print_zenscii",
};

// Argument values, as Lua expressions evaluated at each use.
const char *const kPalette[] = {
    "nil", "true", "false", "0", "1", "-1", "2", "3", "7", "8", "16", "63", "64", "255", "256", "32767",
    "-32767", "65536", "-65536", "0x100000", "-0x100000", "0x7fffffff", "-0x80000000", "2^31", "-2^31",
    "2^40", "-2^40", "0/0", "1/0", "-1/0", "1e300", "-0.0", "0.5", "-0.5", "'7'", "'x'", "{}", "{[1] = 8, [2] = 9}",
    "0x800000007", "0x15a5a0107", "0x1000000ff", "T", "S", "M", "B", "W", "N", "0x5000", "0x10000", "0x8000",
    "0xC000", "0x20000", "0x100000", "math.maxinteger", "math.mininteger", "4", "5", "0.25", "-8", "480", "270",
    "'hello\\nworld'", "'\\^w\\^t\\#3\\f7x\\*5y\\-3\\|9'", "LONG",
    "(function() local t = {} for e = 40, 0, -1 do t[1 << e] = e end return t end)()",
    "setmetatable({1, 2, 3}, {__len = function() return 1 << 40 end})",
};

inline constexpr size_t STATE_BYTES = 24;
inline constexpr size_t MAX_CALLS = 64;
inline constexpr int DRAW_PID = 4;  // after three idle system processes: its errors are not fatal

const char *kTypes[] = {"u8", "i16", "i32", "i64", "f64"};

struct shape {
    int w, h;
};
const shape kShapes[] = {{480, 270}, {1, 1}, {3, 5}, {40000, 1}, {105536, 1}, {16, 16}, {8, 300}, {7, 7}};

const char *const kArrays[] = {"T", "S", "M", "B", "W", "N"};

process_rec *proc = nullptr;                 // the drawing process
std::vector<uint8_t> low_memory;             // its first 64 KB as made: registers, tables, sprite flags
int palette_ref = LUA_NOREF;                 // table: palette index + 1 -> function making the value
int calls_ref = LUA_NOREF;                   // table: call index + 1 -> the global
int setup_ref = LUA_NOREF;                   // function filling the arrays and setting them up

// What each input's arrays get: values, the draw target, sprites, the map.
const char *kSetup =
    "set(B, 0, 0, 0/0, 1/0, -1/0, 1e300, -1e300, 5, 7, 300, -4, 2^40, 3, 1, 2) "
    "set(M, 0, 0, 1, 2, 0x6001, 0xE002, 3) "
    "_set_draw_target(T) _set_spr(1, S) _set_spr(2, W) _set_spr(3, N) _map_ram(M, 0x100000)";

// A zeroed array of 'type', w x h, as the global 'name'.
void make_array(lua_State *L, const char *name, const char *type, uint32_t w, uint32_t h) {
    if (!create_userdata(L, type, h > 1 ? 2 : 1, w, h, 1, nullptr)) std::abort();
    lua_setglobal(L, name);
}

// The machine, once: pids 1 to 3 idle, the drawing process 4, its palette
// and call tables.
void boot() {
    fake_host::reset();
    processes_init();
    app = app_state_rec{};
    config = config_rec{};
    config.headless = 1;
    for (int k = 0; k < 3; k++) create_process_from_code("while true do flip() end", "idle", "/i.lua", "");
    proc = create_process_from_code("", "draw", "/d.lua", "");
    if (!proc || proc->id != DRAW_PID) std::abort();
    cproc = proc;
    lua_State *L = proc->lua_state;
    std::string code = "LONG = string.rep('x\\n', 2000) return {";
    for (const char *v : kPalette) code += "function() return " + std::string(v) + " end, ";
    code += "}";
    cpu_cycles = 0;
    cpu_cycles_max = 0x10000000;
    if (luaL_dostring(L, code.c_str()) != LUA_OK) std::abort();
    palette_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_createtable(L, int(std::size(kCalls)), 0);
    for (size_t i = 0; i < std::size(kCalls); i++) {
        if (lua_getglobal(L, kCalls[i]) != LUA_TFUNCTION) {
            std::fprintf(stderr, "%s is not registered\n", kCalls[i]);
            std::abort();
        }
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    calls_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    if (luaL_loadstring(L, kSetup) != LUA_OK) std::abort();
    setup_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    low_memory.resize(0x10000);
    for (uint32_t i = 0; i < 0x10000; i++) low_memory[i] = uint8_t(peek_proc(proc, i));
}

// Puts back what the last input may have changed: mappings, sprite slots,
// the map, the first 64 KB (registers, colour tables, sprite flags) and the
// record's draw state.
void reset(lua_State *L) {
    for (int w = 0; w < NUM_PAGES / 64; w++)
        for (uint64_t bits = proc->mapped_pages[w]; bits; bits &= bits - 1) {
            const int pg = w * 64 + __builtin_ctzll(bits);
            unmap_page(proc, pg);
            anchor_clear(L, ANCHOR_PAGE + pg);
        }
    // Slots in runs of 64, compared whole: a loop over every slot would
    // cost more than most inputs.
    static typed_ud_rec *empty[64];
    if (!empty[0]) std::fill(std::begin(empty), std::end(empty), get_null_sprite());
    for (int run = 0; run < 16384; run += 64)
        if (std::memcmp(proc->sprite + run, empty, sizeof empty) != 0)
            for (int s = run; s < run + 64; s++)
                if (proc->sprite[s] != empty[0]) {
                    proc->sprite[s] = empty[0];
                    anchor_clear(L, ANCHOR_SPRITE + s);
                }
    proc->map = nullptr;
    anchor_clear(L, ANCHOR_MAP);
    write_bytes_proc(proc, 0, low_memory.data(), uint32_t(low_memory.size()));
    proc->inverted_fill = 0;
    proc->clip_target = nullptr;
    lua_settop(L, 0);
}

// The register and table state the input chooses, written into p.
void set_state(process_rec *p, const uint8_t *data) {
    write_bytes_proc(p, 0x5528, data + 8, 8);      // clip
    write_bytes_proc(p, 0x5510, data + 16, 4);     // camera x
    poke_proc(p, 0x5508, data[20]);                // read mask
    poke_proc(p, 0x5509, data[21]);                // write mask
    poke_proc(p, 0x550A, data[22]);                // sprite target mask
    poke_proc(p, 0x550B, data[22] ^ 0x3F);         // shape target mask
    poke_proc(p, 0x550E, data[23] & 31);           // map cell width
    poke_proc(p, 0x550F, data[23] >> 3);           // map cell height
    poke_proc(p, 0x5F36, data[23]);                // print flags
    static uint32_t tables[0x1000];                // colour tables, four bytes a step
    uint64_t s = uint64_t(data[20]) | uint64_t(data[21]) << 8 | uint64_t(data[22]) << 16;
    for (uint32_t &w : tables) {
        s = s * 6364136223846793005u + 1442695040888963407u;
        w = uint32_t(s >> 32);
    }
    write_bytes_proc(p, 0x8000, tables, sizeof tables);
}

// The arrays of this input and the draw target, sprite slots and map they fill.
void make_arrays(lua_State *L, const uint8_t *data) {
    const shape ts = kShapes[data[0] % std::size(kShapes)];
    make_array(L, "T", kTypes[data[1] % 5], uint32_t(ts.w), uint32_t(ts.h));
    make_array(L, "S", "u8", 1 + data[2] % 20u, 1 + data[3] % 20u);
    make_array(L, "M", "i16", 1 + data[4] % 40u, 1 + data[5] % 40u);
    make_array(L, "B", "f64", 1 + data[6] % 13u, 1 + data[7] % 9u);
    make_array(L, "W", "i16", 3, 5);
    make_array(L, "N", "u8", 4096, 2);
    lua_rawgeti(L, LUA_REGISTRYINDEX, setup_ref);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
        std::fprintf(stderr, "the arrays' set-up failed: %s\n", lua_tostring(L, -1));
        std::abort();
    }
}

// Whether every array's slack past its elements is still zero.
bool slack_untouched(lua_State *L) {
    for (const char *name : kArrays) {
        lua_getglobal(L, name);
        typed_ud_rec *a = to_typed_ud(L, -1);
        if (a) {
            const uint64_t used = (ud_count(a) << (ud_type(a) & 7)) >> 3;
            const uint64_t rounded = (used + 7) & ~uint64_t(7);
            for (uint64_t b = used; b < rounded; b++)
                if (ud_elements(a)[b]) {
                    std::fprintf(stderr, "%s: slack byte %llu changed\n", name, (unsigned long long)b);
                    lua_pop(L, 1);
                    return false;
                }
        }
        lua_pop(L, 1);
    }
    return true;
}

// Makes one call from the input; false when it raised where it may not.
bool call(lua_State *L, size_t fn, const uint8_t *args, int argc) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, calls_ref);
    lua_rawgeti(L, -1, lua_Integer(fn + 1));
    lua_remove(L, -2);
    lua_rawgeti(L, LUA_REGISTRYINDEX, palette_ref);
    for (int a = 0; a < argc; a++) {
        lua_rawgeti(L, 2, lua_Integer(args[a] % std::size(kPalette) + 1));
        lua_call(L, 0, 1);
    }
    lua_remove(L, 2);
    cpu_cycles = 0;
    cpu_cycles_max = 0x10000000;
    const int status = lua_pcall(L, argc, 0, 0);
    cpu_superyielding = 0;
    bool ok = status == LUA_OK;
    if (!ok) {
        const char *e = lua_tostring(L, -1);
        ok = e && (std::strstr(e, "not enough memory") || std::strstr(e, "cpu budget exceeded"));
        if (!ok) std::fprintf(stderr, "%s raised: %s\n", kCalls[fn], e ? e : "?");
    }
    lua_settop(L, 0);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc;
    (void)argv;
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    for (const char *name : kCalls) {
        bool found = false;
        for (const api_entry &e : api_table) found |= std::strcmp(e.name, name) == 0 && e.fn;
        if (!found) {
            std::fprintf(stderr, "%s is not registered\n", name);
            std::abort();
        }
    }
    boot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < STATE_BYTES) return 0;
    cproc = proc;
    lua_State *L = proc->lua_state;
    reset(L);
    cpu_cycles = 0;
    cpu_cycles_max = 0x10000000;
    make_arrays(L, data);
    set_state(proc, data);
    bool ok = true;
    size_t i = STATE_BYTES, calls = 0;
    while (ok && i + 2 <= size && calls < MAX_CALLS) {
        const size_t fn = data[i] % std::size(kCalls);
        const int argc = int(std::min<size_t>(data[i + 1] & 15, size - i - 2));
        ok = call(L, fn, data + i + 2, argc);
        i += 2 + size_t(argc);
        calls++;
    }
    const bool slack_ok = slack_untouched(L);
    // Arrays of a megabyte and more each input: collect now and then.
    if (lua_gc(L, LUA_GCCOUNT, 0) > 64 * 1024) lua_gc(L, LUA_GCCOLLECT, 0);
    if (!ok || !slack_ok) std::abort();
    return 0;
}
