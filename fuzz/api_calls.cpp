// The process, message, load, signal, print, pod and file calls and the
// typed-array methods with random arguments, inside real processes: a
// generated kernel (pid 1) makes each
// call under pcall beside two idle system processes and runs frames, over a
// file system of RAM folders and a temporary application-data folder. No
// call may crash or trip a sanitizer, and only send_message and load may
// raise, and the calls that write pod text the pod writer's key-comparison
// error (besides running out of memory or CPU, which any call may).
//
// Input: a sequence of calls, each a byte choosing the function, a byte
// whose low two bits give the argument count, then one byte per argument
// choosing it from the palette below.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api_registry.h"
#include "env.h"
#include "fake_host.h"
#include "lua.hpp"
#include "pfile.h"
#include "pmount.h"
#include "process.h"
#include "slice.h"
#include "ud_methods.h"
#include "vm_hooks.h"

namespace {

// The calls under test; each must be registered.
const char *const kCalls[] = {
    "pid",           "_send_message",     "send_message",
    "_read_message", "_flip",             "flip",
    "_yielded_to_escape_slice",           "_create_process_from_code",
    "_run_process_slice",                 "_kill_process",
    "_close_process_host_resources",      "_halt",
    "load",          "_process_state",    "_get_process_display_size",
    "_get_process_list",                  "_signal",
    "_printh",
    "pod",           "_pod",              "unpod",
    "create_delta",  "apply_delta",       "fetch",
    "store",         "_fetch_local",      "_store_local",
    "_cache_store",  "_cache_fetch",      "_fetch_metadata_from_file",
    "_store_metadata_str_to_file",        "_ls",
    "_mkdir",        "_fstat",            "_fullpath",
    "ls",            "mkdir",             "fstat",
    "fullpath",      "cp",                "_fcopy",
    "_fdelete",      "_mount",            "mount",
    "_pwd",          "_cd",               "pwd",
    "cd",            "_normalise_userland_path",
    "norm",          "_is_well_formed_bbs_path",
    "_fetch_anywhen",
};

// The typed-array methods beyond the core ones, called as USERDATA.<name>.
const char *const kUdCalls[] = {
    "sort", "copy", "take", "clear", "__add", "__sub", "__mul", "__div", "__idiv", "__mod", "__pow",
    "__band", "__bor", "__bxor", "__shl", "__shr", "add", "sub", "mul", "div", "idiv", "mod", "pow",
    "band", "bor", "bxor", "shl", "shr", "max", "min", "abs", "sgn", "sgn0", "set", "get", "blit",
    "lerp", "magnitude", "distance", "dot", "cross", "matmul", "matmul3d", "matmul2d", "transpose",
    "row", "column",
};

// Argument values, as Lua expressions evaluated at the call.
const char *const kPalette[] = {
    "nil", "true", "false", "0", "1", "2", "3", "4", "5", "-1", "99999", "0.5", "1.5", "0/0",
    "1/0", "-1/0", "2^63", "-2^63", "math.maxinteger", "math.mininteger", "2^31", "pid()",
    "''", "'abc'", "'3.5'", "'0x10'", "'2'", "'\\0x'", "string.rep('y', 300)", "'\\27Lua'",
    "{}", "{a = 1, b = 'x', [3] = true}", "{1, 2, 3}", "{t = {}, f = print}",
    "setmetatable({}, {__newindex = function() error('ni') end})",
    "setmetatable({}, {__newindex = function() flip() end})",
    "setmetatable({}, {__newindex = function(t, k, v) _kill_process(2, 0) rawset(t, k, v) end})",
    "function() end", "print", "coroutine.running()", "coroutine.create(function() end)",
    "(function() local n = 0 return function() n = n + 1 if n < 3 then return 'x = 1 ' end end end)()",
    "'while true do flip() end'", "'return'", "'error(\"boom\")'", "'x = = 1'",
    "'send_message(1, {hi = 1}) while true do flip() end'", "'_kill_process(1, 0)'",
    "'_run_process_slice(1, 1) flip()'", "'while true do end'", "'_halt()'",
    "'_kill_process(pid(), 1) flip()'", "'local m = _read_message() flip()'",
    "'/system/x.lua'", "'/apps/x.lua'", "'box'", "33", "34", "40", "41",
    "'/ram/a.txt'", "'/ram/v.pod'", "'/ram/p.png'", "'/ram/c.kiv.png'", "'/ram/c.kiv'", "'/ram/d'",
    "'/ram'", "'/'", "'x.dat'", "'..'", "'.'", "'a/b'", "'../x'", "'%d'", "'c%d.png'", "'%s'",
    "'carts'", "'anywhen://x'", "'/ram/a.txt@2024-01-01 00:00:00'", "'bad name'",
    "'--[[pod_format=\"raw\",metadata_format=\"none\"]]'", "'--[[pod_format=\"raw\"]]'",
    "'--[[pod x=1]]\\n'", "'--[[pod'", "'\\137PNG' .. string.rep('z', 600)",
    "'\\137PNG\\r\\n\\26\\n\\0\\0\\0\\13IHDR\\0\\0\\19\\136\\0\\0\\19\\136'",
    "'-- quillmar object data\\n{a=1}'", "'{a=1,b={c=2}}'", "'{'", "pod({1, 2})",
    "create_delta('abc', 'abd')", "{[true] = 1, [false] = 2}", "{[{}] = 1, [{}] = 2}",
    "string.rep('/x', 200)", "'/' .. string.rep('q', 256)",
    // Typed arrays of every type in shapes 1x1, 3x1, 4x4 and 17x3.
    "unpod('userdata(\"u8\",1,\"fe\")')",
    "unpod('userdata(\"u8\",3,\"fe0c03\")')",
    "unpod('userdata(\"u8\",4,4,\"fe0c03fa08ff0d04fb09000e05fc0a01\")')",
    "unpod('userdata(\"u8\",17,3,\"fe0c03fa08ff0d04fb09000e05fc0a010f06fd0b02f907fe0c03fa08ff0d04fb09000e05fc0a010f06fd0b02f907fe0c03fa08\")')",
    "unpod('userdata(\"i16\",1,\"fffe\")')",
    "unpod('userdata(\"i16\",3,\"fffe000c0003\")')",
    "unpod('userdata(\"i16\",4,4,\"fffe000c0003fffa0008ffff000d0004fffb00090000000e0005fffc000a0001\")')",
    "unpod('userdata(\"i16\",17,3,\"fffe000c0003fffa0008ffff000d0004fffb00090000000e0005fffc000a0001000f0006fffd000b0002fff90007fffe000c0003fffa0008ffff000d0004fffb00090000000e0005fffc000a0001000f0006fffd000b0002fff90007fffe000c0003fffa0008\")')",
    "unpod('userdata(\"i32\",1,\"fffffffe\")')",
    "unpod('userdata(\"i32\",3,\"fffffffe0000000c00000003\")')",
    "unpod('userdata(\"i32\",4,4,\"fffffffe0000000c00000003fffffffa00000008ffffffff0000000d00000004fffffffb00000009000000000000000e00000005fffffffc0000000a00000001\")')",
    "unpod('userdata(\"i32\",17,3,\"fffffffe0000000c00000003fffffffa00000008ffffffff0000000d00000004fffffffb00000009000000000000000e00000005fffffffc0000000a000000010000000f00000006fffffffd0000000b00000002fffffff900000007fffffffe0000000c00000003fffffffa00000008ffffffff0000000d00000004fffffffb00000009000000000000000e00000005fffffffc0000000a000000010000000f00000006fffffffd0000000b00000002fffffff900000007fffffffe0000000c00000003fffffffa00000008\")')",
    "unpod('userdata(\"i64\",1,\"fffffffffffffffe\")')",
    "unpod('userdata(\"i64\",3,\"fffffffffffffffe000000000000000c0000000000000003\")')",
    "unpod('userdata(\"i64\",4,4,\"fffffffffffffffe000000000000000c0000000000000003fffffffffffffffa0000000000000008ffffffffffffffff000000000000000d0000000000000004fffffffffffffffb00000000000000090000000000000000000000000000000e0000000000000005fffffffffffffffc000000000000000a0000000000000001\")')",
    "unpod('userdata(\"i64\",17,3,\"fffffffffffffffe000000000000000c0000000000000003fffffffffffffffa0000000000000008ffffffffffffffff000000000000000d0000000000000004fffffffffffffffb00000000000000090000000000000000000000000000000e0000000000000005fffffffffffffffc000000000000000a0000000000000001000000000000000f0000000000000006fffffffffffffffd000000000000000b0000000000000002fffffffffffffff90000000000000007fffffffffffffffe000000000000000c0000000000000003fffffffffffffffa0000000000000008ffffffffffffffff000000000000000d0000000000000004fffffffffffffffb00000000000000090000000000000000000000000000000e0000000000000005fffffffffffffffc000000000000000a0000000000000001000000000000000f0000000000000006fffffffffffffffd000000000000000b0000000000000002fffffffffffffff90000000000000007fffffffffffffffe000000000000000c0000000000000003fffffffffffffffa0000000000000008\")')",
    "unpod('userdata(\"f64\",1,\"-1.0\")')",
    "unpod('userdata(\"f64\",3,\"-1.0,6.0,1.5\")')",
    "unpod('userdata(\"f64\",4,4,\"-1.0,6.0,1.5,-3.0,4.0,-0.5,6.5,2.0,-2.5,4.5,0.0,7.0,2.5,-2.0,5.0,0.5\")')",
    "unpod('userdata(\"f64\",17,3,\"-1.0,6.0,1.5,-3.0,4.0,-0.5,6.5,2.0,-2.5,4.5,0.0,7.0,2.5,-2.0,5.0,0.5,7.5,3.0,-1.5,5.5,1.0,-3.5,3.5,-1.0,6.0,1.5,-3.0,4.0,-0.5,6.5,2.0,-2.5,4.5,0.0,7.0,2.5,-2.0,5.0,0.5,7.5,3.0,-1.5,5.5,1.0,-3.5,3.5,-1.0,6.0,1.5,-3.0,4.0\")')",
};

inline constexpr size_t MAX_CALLS = 48;         /* calls per input */
inline constexpr int MAX_CREATIONS = 6;         /* process creations per input */
inline constexpr int MAX_FRAMES = 12;           /* frames run per input */
inline constexpr int32_t MAX_LIVE = 48;         /* frames stop beyond this many processes */

std::string bad;   // the first call that raised where it may not
std::string home;  // the application-data folder (download cache), made once

const char *process_pwd() { return cproc ? cproc->pwd : "/"; }

// A file system of RAM folders only: nothing reaches the host but the cache.
void reset_files() {
    pfile_init();
    pfile_reset();
    mount_ram_folder("/");
    mount_ram_folder("/ram");
}

int t_bad(lua_State *L) {
    if (bad.empty()) bad = lua_tostring(L, 1) ? lua_tostring(L, 1) : "?";
    return 0;
}

const char *kPrelude = R"lua(
local allowed = {send_message = true, _send_message = true, load = true}
local writes_pod = {pod = true, _pod = true, store = true, _store_local = true}
local function try(name, ...)
  local f = _G[name]
  if name:sub(1, 3) == "ud." then f = USERDATA[name:sub(4)] end
  local ok, e = pcall(f, ...)
  if ok or allowed[name] then return end
  e = type(e) == "string" and e or "(not a string)"
  if writes_pod[name] and e:find("attempt to compare", 1, true) then return end
  if e:find("not enough memory", 1, true) or e:find("cpu budget exceeded", 1, true) then return end
  t_bad(name .. ": " .. e)
end
)lua";

std::string generate(const uint8_t *data, size_t size) {
    std::string code = kPrelude;
    size_t i = 0, calls = 0;
    int creations = 0;
    while (i + 2 <= size && calls < MAX_CALLS) {
        const size_t pick = data[i] % (std::size(kCalls) + std::size(kUdCalls));
        const bool ud = pick >= std::size(kCalls);
        const char *name = ud ? kUdCalls[pick - std::size(kCalls)] : kCalls[pick];
        const int argc = data[i + 1] & 3;
        i += 2;
        if (std::strcmp(name, "_create_process_from_code") == 0 && ++creations > MAX_CREATIONS)
            continue;
        code += ud ? "try(\"ud." : "try(\"";
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

void run_frame(process_rec *root) {
    prepare_processes_for_frame();
    run_process_slice(root, 1.0);
    update_processes_after_frame();
    app.frame_count++;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc;
    (void)argv;
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();  // _printh and norm output
    static char appdata[] = "/tmp/fuzz_api_calls_XXXXXX";
    if (!mkdtemp(appdata)) std::abort();
    home = std::string(appdata) + "/";
    pdisk_set_pwd_source(process_pwd);
    pdisk_set_appdata_folder(home);
    // Every typed-array method under test is an entry of the real method
    // table (naming the table also links it in place of the fake host's
    // stand-in, so processes get USERDATA).
    for (const char *name : kUdCalls) {
        bool found = false;
        for (const ud_method &m : userdata_methods) found |= std::strcmp(m.name, name) == 0 && m.fn;
        if (!found) {
            std::fprintf(stderr, "USERDATA.%s is not an entry\n", name);
            std::abort();
        }
    }
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
    fake_host::reset();
    processes_init();
    app = app_state_rec{};
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    config = config_rec{};
    config.headless = 1;
    std::snprintf(config.home_path, sizeof config.home_path, "%s", home.c_str());
    reset_files();
    total_frame_cycles = 0;
    total_frame_cycles_since_wm_flip = 0;
    cpu_cycles = cpu_cycles_max = cpu_superyielding = 0;
    bad.clear();

    const std::string code = generate(data, size);
    process_rec *root = create_process_from_code(code.c_str(), "kernel", "/system/boot.lua", "");
    if (!root) {
        std::fprintf(stderr, "the generated kernel did not load:\n%s\n", code.c_str());
        std::abort();
    }
    lua_register(root->lua_state, "t_bad", t_bad);
    create_process_from_code("while true do flip() end", "idle", "/system/idle.lua", "");
    create_process_from_code("while true do flip() end", "wm", "/system/wm.lua", "");

    for (int f = 0; f < MAX_FRAMES && get_process(ROOT_PID) && num_processes <= MAX_LIVE; f++)
        run_frame(get_process(ROOT_PID));

    processes_init();
    pdisk_shutdown();
    if (!bad.empty()) {
        std::fprintf(stderr, "a call raised where it may not: %s\n", bad.c_str());
        std::abort();
    }
    return 0;
}
