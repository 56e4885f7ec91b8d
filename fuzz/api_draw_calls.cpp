// The drawing calls with fuzzer-chosen draw state and arguments, inside a
// real process: the input sets the register page (clip, camera, masks, fill
// pattern, map cell sizes, print flags), the colour tables, the target's
// type and shape, sprite slots and the map; then a sequence of drawing calls
// runs with arguments from a dictionary of edge values. No call may trip a
// sanitizer or raise, and no array's bytes past its described elements (the
// slack up to its rounded size) may change.
//
// Input: 24 bytes of state, then calls, each a byte choosing the function, a
// byte whose low three bits give the argument count, then one byte per
// argument choosing it from the palette.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "address_space.h"
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
};

const char *const kPalette[] = {
    "nil", "true", "false", "0", "1", "-1", "2", "3", "7", "8", "16", "63", "64", "255", "256", "32767",
    "-32767", "65536", "-65536", "0x100000", "-0x100000", "0x7fffffff", "-0x80000000", "2^31", "-2^31",
    "2^40", "-2^40", "0/0", "1/0", "-1/0", "1e300", "-0.0", "0.5", "-0.5", "'7'", "'x'", "{}", "{[1] = 8, [2] = 9}",
    "0x800000007", "0x15a5a0107", "0x1000000ff", "T", "S", "M", "B", "W", "N", "0x5000", "0x10000", "0x8000",
    "0xC000", "0x20000", "0x100000", "math.maxinteger", "math.mininteger",
};

inline constexpr size_t STATE_BYTES = 24;
inline constexpr size_t MAX_CALLS = 64;
inline constexpr int FRAMES = 3;

std::string bad;

int t_bad(lua_State *L) {
    if (bad.empty()) bad = lua_tostring(L, 1) ? lua_tostring(L, 1) : "?";
    return 0;
}

// t_array(type, w, h): a zeroed array.
int t_array(lua_State *L) {
    const lua_Integer w = luaL_checkinteger(L, 2), h = luaL_checkinteger(L, 3);
    if (!create_userdata(L, luaL_checkstring(L, 1), h > 1 ? 2 : 1, uint32_t(w), uint32_t(h), 1, nullptr)) return 0;
    return 1;
}

const char *kTypes[] = {"u8", "i16", "i32", "i64", "f64"};

struct shape {
    int w, h;
};
const shape kShapes[] = {{480, 270}, {1, 1}, {3, 5}, {40000, 1}, {105536, 1}, {16, 16}, {8, 300}, {7, 7}};

std::string generate(const uint8_t *data, size_t size) {
    const shape ts = kShapes[data[0] % std::size(kShapes)];
    std::string code =
        "local function try(name, ...) local ok, e = pcall(_G[name], ...) if ok then return end "
        "e = type(e) == 'string' and e or '?' "
        "if e:find('not enough memory', 1, true) or e:find('cpu budget exceeded', 1, true) then return end "
        "t_bad(name .. ': ' .. e) end\n";
    code += "T = t_array('" + std::string(kTypes[data[1] % 5]) + "', " + std::to_string(ts.w) + ", " +
            std::to_string(ts.h) + ")\n";
    code += "S = t_array('u8', " + std::to_string(1 + data[2] % 20) + ", " + std::to_string(1 + data[3] % 20) + ")\n";
    code += "M = t_array('i16', " + std::to_string(1 + data[4] % 40) + ", " + std::to_string(1 + data[5] % 40) + ")\n";
    code += "B = t_array('f64', " + std::to_string(1 + data[6] % 13) + ", " + std::to_string(1 + data[7] % 9) + ")\n";
    code += "W = t_array('i16', 3, 5) N = t_array('u8', 4096, 2)\n";
    code += "set(B, 0, 0, 0/0, 1/0, -1/0, 1e300, -1e300, 5, 7, 300, -4, 2^40, 3, 1, 2) set(M, 0, 0, 1, 2, 0x6001, 0xE002, 3)\n";
    code += "_set_draw_target(T) _set_spr(1, S) _set_spr(2, W) _set_spr(3, N) _map_ram(M, 0x100000)\n";
    size_t i = STATE_BYTES, calls = 0;
    while (i + 2 <= size && calls < MAX_CALLS) {
        const char *name = kCalls[data[i] % std::size(kCalls)];
        const int argc = data[i + 1] & 7;
        i += 2;
        code += "try(\"";
        code += name;
        code += "\"";
        for (int a = 0; a < argc && i < size; a++, i++) {
            code += ", ";
            code += kPalette[data[i] % std::size(kPalette)];
        }
        code += ")\n";
        calls++;
    }
    code += "while true do flip() end\n";
    return code;
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
    uint32_t s = uint32_t(data[20]) | uint32_t(data[21]) << 8 | uint32_t(data[22]) << 16;
    for (uint32_t a = 0x8000; a < 0xC000; a++) {   // colour tables
        s = s * 1103515245u + 12345u;
        poke_proc(p, a, int64_t(s >> 24));
    }
}

// Whether every array's slack past its elements is still zero.
bool slack_untouched(lua_State *L) {
    for (const char *name : {"T", "S", "M", "B", "W", "N"}) {
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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < STATE_BYTES) return 0;
    fake_host::reset();
    processes_init();
    app = app_state_rec{};
    config = config_rec{};
    config.headless = 1;
    cpu_cycles = cpu_cycles_max = cpu_superyielding = 0;
    bad.clear();
    // Pids 1 to 3 idle, so that an error in the drawing process is reported
    // and not fatal.
    for (int k = 0; k < 3; k++) create_process_from_code("while true do flip() end", "idle", "/i.lua", "");
    const std::string code = generate(data, size);
    process_rec *p = create_process_from_code(code.c_str(), "draw", "/d.lua", "");
    if (!p) {
        std::fprintf(stderr, "the generated program did not load:\n%s\n", code.c_str());
        std::abort();
    }
    lua_register(p->lua_state, "t_bad", t_bad);
    lua_register(p->lua_state, "t_array", t_array);
    set_state(p, data);
    for (int f = 0; f < FRAMES && get_process(p->id) == p; f++) {
        prepare_processes_for_frame();
        run_process_slice(p, 1.0);
        update_processes_after_frame();
    }
    const bool slack_ok = get_process(4) != p || !p->lua_state || slack_untouched(p->lua_state);
    processes_init();
    if (!bad.empty()) {
        std::fprintf(stderr, "a call raised: %s\n", bad.c_str());
        std::abort();
    }
    if (!slack_ok) std::abort();
    return 0;
}
