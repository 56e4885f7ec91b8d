// The process, message, load, signal, print, pod, file, socket, remote
// fetch and audio calls and the typed-array methods with random arguments,
// inside real processes: a kernel (pid 1) makes each call under pcall beside
// two idle system processes and runs frames, over a file system of RAM
// folders and a temporary application-data folder. No call may crash or trip
// a sanitizer (the audio calls reach the engine in the half of the inputs
// that grant the bracket), and only send_message and load may raise, and the
// calls that write pod text the pod writer's key-comparison and size errors,
// date, add, deli and abs their own errors, the typed-array methods the
// refusal of a walk past its bound (take's and lerp's own too), and any call
// the errors of the palette's metamethods (besides running out of memory or
// CPU, which any call may). _signal(65) mounts a temporary desktop folder.
//
// The machine is kept from input to input: what an input can change is put
// back before the next one (the kernel's pages, mappings, sprite slots, map,
// draw target, inbox and record state; the processes it made; the files,
// mounts, sockets and fetch jobs; the host's settings), and the machine is
// made again only after an input that ended the kernel (one that ended only
// the idle ones gets them again) or left it inside its calls. A kernel that
// ends itself with _halt is woken and passes the input's further calls.
// Leak detection is off for this target (api_calls.flags): the Lua states
// live on between inputs and free in their own time.
//
// Input: a sequence of calls, each a byte choosing the function, a byte
// giving the argument count (0 to 10), then one byte per argument choosing
// it from the palette below. The top bit of the last byte turns the
// network off. With bits 5 and 6 of the first byte both set (a quarter of
// the inputs), the calls are made with the collector stepping at every
// allocation and the finalizer ring of the collector-stress tests running
// on each call's arguments (tests/api/finalizer_ring.h). The loopback guard is installed: sockets and fetches reach
// loopback addresses only, and every socket and job ends with the input.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "address_space.h"
#include "api_draw_state.h"
#include "api_registry.h"
#include "buffer.h"
#include "env.h"
#include "finalizer_ring.h"
#include "host_open.h"
#include "boot_hooks.h"
#include "fake_host.h"
#include "gurl.h"
#include "host.h"
#include "net_seam.h"
#include "lua.hpp"
#include "mudo.h"
#include "pfile.h"
#include "pmount.h"
#include "process.h"
#include "slice.h"
#include "ud_methods.h"
#include "socket_calls.h"
#include "sockets.h"
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
    "_req_host_clipboard_text",           "_get_host_clipboard_text",
    "_set_host_clipboard_text",           "_open_host_path",
    "note",          "sfx",               "music",
    "_fetch_remote", "_fetch_remote_result",
    "_create_tcp_socket", "_create_udp_socket", "_close_socket", "_read_socket",
    "_sock_status",  "_accept_socket",    "_write_socket",
    "deli",          "add",               "del",
    "count",         "time",              "t",
    "stat",          "date",              "chr",
    "ord",           "tokenoid",          "rnd",
    "srand",         "abs",               "sgn",
    "max",           "min",               "mid",
    "sqrt",          "cos",               "sin",
    "atan2",         "flr",               "ceil",
    "userdata",      "vec",               "split",
    "_get_userland_clipboard_text",       "_set_userland_clipboard_text",
    "_apply_system_settings",             "_warp_mouse",
    "_update_buttons",                    "_set_host_window_icon",
    "_set_host_window_title",             "_md5",
    "_strindex",     "btn",               "btnp",
    "peek",          "poke",              "peek2",
    "poke2",         "peek4",             "poke4",
    "peek8",         "poke8",             "_ppeek",
    "_ppeek4",       "memcpy",            "memset",
    "cls",           "fillp",             "pset",
    "pget",          "fset",              "fget",
    "mset",          "mget",              "camera",
    "clip",          "rectfill",          "rect",
    "ovalfill",      "circfill",          "oval",
    "circ",          "rrect",             "rrectfill",
    "line",          "tline3d",           "sspr",
    "spr",           "_draw_map",         "blit",
    "_print_zenscii", "cursor",           "color",
    "pal",           "palt",              "get",
    "set",           "_set_draw_target",  "_blit_process_video",
    "_set_spr",      "_map_ram",          "_unmap_ram",
};

// The host calls, registered after the API's table (checked as globals).
bool is_host_call(const char *name) { return std::strstr(name, "_host_") != nullptr; }
// Registered by socket_add_public_c_functions, not the API table.
const char *const kSocketCalls[] = {
    "_create_tcp_socket", "_create_udp_socket", "_close_socket", "_read_socket",
    "_sock_status", "_accept_socket", "_write_socket",
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
    "'127.0.0.1'", "'::1'", "'localhost'", "'*'", "'*x'", "'example.invalid'", "FREE_PORT",
    "FREE_PORT + 65536", "CLOSED_URL", "CLOSED_URL .. 'x.png?v=1'", "'file:///etc/hostname'",
    "'ftp://127.0.0.1/'", "6", "7", "8", "5.0",
    "'%Ec%'", "'!*t'", "'%'", "'*t'", "'2024-04-01 00:00:00'", "'%Q'", "65536", "65537", "4294967296",
    "15", "16", "18", "19", "21", "22", "23", "35", "36", "37", "38", "43", "44", "65", "400", "464",
    "465", "0x5580", "0xFFFFFF", "'u8'", "'[gfx]0203abcdef'", "'--[==[ x'", "0x302", "'a,b;1,,2'",
    // Lying lengths far beyond the elements, yet few enough moves for add
    // and deli to finish before the watchdog's limit in a fuzzing run.
    "setmetatable({1, 2, 3}, {__len = function() return 1 << 22 end})",
    "setmetatable({1, 2}, {__len = function() return (1 << 22) + 5 end})",
    "setmetatable({}, {__index = {1, 2}, __newindex = function() end, __len = function() return 1 << 16 end})",
    "setmetatable({}, {__eq = function() return true end})",
    "setmetatable({}, {__eq = function() error('palette metamethod') end})",
    "{volume = 2^40, fullscreen = false, [1] = 5}",
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
    // Typed arrays for the drawing calls: every type, odd shapes, f64
    // batches holding non-finite values, and sizes at the edges.
    "userdata('u8', 1, 1)", "userdata('i16', 3, 5)", "userdata('u8', 40000, 1)", "userdata('u8', 105536, 1)",
    "userdata('i32', 7, 7)", "userdata('i64', 2, 3)", "userdata('u8', 480, 270)",
    "userdata('f64', 5, 3, '0/0 1/0 -1/0 1e300 -1e300 3 4 5 6 7 8 9 10 11 12')",
    "userdata('f64', 12, 2, '1 2 3 4 5 6 7 8 9 10 11 0 0 1e300 -1e300 0 0 0 0 0 0 0 0 0')",
    "2^30", "-2^31", "2^40", "0x100000", "0x10000",
    "'note(48) sfx(1, 2) music(0, 100) flip()'", "48", "255", "0x7fffffff", "'60'",
    // Values no call may take long over: a megabyte of text, a border far
    // above a table's entries, a length far above its elements.
    "-0.0", "BIG",
    "(function() local t = {} for e = 40, 0, -1 do t[1 << e] = e end return t end)()",
    "setmetatable({1, 2, 3}, {__len = function() return 1 << 40 end})",
};

inline constexpr int MAX_ARGS = 10;             /* arguments per call */

inline constexpr int32_t CONNECT_WAIT_MS = 50;  /* the bounded connect, shortened */
inline constexpr int64_t JOB_WAIT_MS = 5000;    /* how long the fetch jobs get to end */

// A port no one listens on, from the kernel.
int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        std::abort();
    close(fd);
    return ntohs(a.sin_port);
}

inline constexpr size_t MAX_CALLS = 48;         /* calls per input */
inline constexpr int MAX_CREATIONS = 6;         /* process creations per input */
inline constexpr int MAX_FRAMES = 12;           /* frames run per input */
inline constexpr int32_t MAX_LIVE = 48;         /* frames stop beyond this many processes */

std::string bad;   // the first call that raised where it may not
bool done;         // the kernel has made every call of the input
bool halted;       // the kernel ended itself (_halt): its further calls are passed
std::string home;  // the application-data folder (download cache), made once
std::string desktop;  // the desktop folder _signal(65) mounts from, made once

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

int t_done(lua_State *) {
    done = true;
    return 0;
}

int t_halted(lua_State *L) {
    lua_pushboolean(L, halted);
    return 1;
}

// The kernel: the calls and the pool of arguments are made once (each pool
// entry a function making its value at each use, so that what one input
// changes in a table or array never reaches the next); then each frame it
// makes the calls of INPUT, a flat list of call index, argument count and
// pool indices, and reports with t_done.
const char *kKernelHead = R"lua(
local allowed = {send_message = true, _send_message = true, load = true,
                 date = true, add = true, deli = true, abs = true}
local writes_pod = {pod = true, _pod = true, store = true, _store_local = true}
local pcall, type, flip, t_bad, t_done, t_halted = pcall, type, flip, t_bad, t_done, t_halted
)lua";

const char *kKernelTail = R"lua(
local fns = {}
for i, name in ipairs(names) do
  if name:sub(1, 3) == "ud." then fns[i] = USERDATA[name:sub(4)] else fns[i] = _G[name] end
end
-- The values of pool entries input[k..last], made in order.
local function args(input, k, last)
  if k > last then return end
  return pool[input[k]](), args(input, k + 1, last)
end
-- Call c with the arguments input[k..last] names; with the ring on, they
-- are the ring's too.
local function call(c, input, k, last)
  if RING_ON then
    local a = table.pack(args(input, k, last))
    RING_ARGS = a
    return fns[c](table.unpack(a, 1, a.n))
  end
  return fns[c](args(input, k, last))
end
-- The designed refusals of a typed-array walk too long for its bound: an
-- element-wise method's (its own name in the message), take's (copy with an
-- index array is take) and lerp's.
local function walk_refused(name, e)
  if name:sub(1, 3) ~= "ud." then return false end
  local m = (name:sub(4):gsub("^__", ""))
  if e:find(m .. ": the spans ask for ", 1, true) and e:find(", past the bound of ", 1, true) then return true end
  if (m == "take" or m == "copy") and e:find("take: the steps write up to ", 1, true) then return true end
  return m == "lerp" and e:find("lerp: the runs ask for ", 1, true) ~= nil
end
local function try(c, input, k, last)
  if t_halted() then return end
  local ok, e = pcall(call, c, input, k, last)
  local name = names[c]
  if ok or allowed[name] then return end
  e = type(e) == "string" and e or "(not a string)"
  if walk_refused(name, e) then return end
  if writes_pod[name] and (e:find("attempt to compare", 1, true) or
                          e:find("pod: text larger than", 1, true)) then return end
  if e:find("not enough memory", 1, true) or e:find("cpu budget exceeded", 1, true) then return end
  if e:find("palette metamethod", 1, true) then return end
  t_bad(name .. ": " .. e)
end
while true do
  local input = INPUT
  if input then
    INPUT = nil
    if RING_ON then
      ARMED = true
      for r = 1, 3 do setmetatable({}, RING_MT) end
      collectgarbage("incremental", 1, 100, 1)
    end
    local i, n = 1, #input
    while i <= n do
      local c, argc = input[i], input[i + 1]
      try(c, input, i + 2, i + 1 + argc)
      i = i + 2 + argc
    end
    if RING_ON then
      ARMED, RING_ARGS = false, nil
      collectgarbage("incremental", 200, 100, 13)
    end
    t_done()
  end
  flip()
end
)lua";

std::string kernel_code() {
    std::string code = kKernelHead;
    code += "local names = {";
    for (const char *name : kCalls) code += "\"" + std::string(name) + "\", ";
    for (const char *name : kUdCalls) code += "\"ud." + std::string(name) + "\", ";
    code += "}\nlocal pool = {\n";
    for (const char *v : kPalette) code += "function() return (" + std::string(v) + ") end,\n";
    code += "}\n";
    code += kKernelTail;
    return code;
}

// The input's calls as the kernel's INPUT list.
void push_input(lua_State *L, const uint8_t *data, size_t size) {
    lua_createtable(L, int(std::min<size_t>(size, MAX_CALLS * (MAX_ARGS + 2))), 0);
    lua_Integer n = 0;
    size_t i = 0, calls = 0;
    int creations = 0;
    while (i + 2 <= size && calls < MAX_CALLS) {
        const size_t pick = data[i] % (std::size(kCalls) + std::size(kUdCalls));
        const int argc = data[i + 1] % (MAX_ARGS + 1);
        i += 2;
        if (pick < std::size(kCalls) && std::strcmp(kCalls[pick], "_create_process_from_code") == 0 &&
            ++creations > MAX_CREATIONS)
            continue;
        const int given = int(std::min<size_t>(size_t(argc), size - i));
        lua_pushinteger(L, lua_Integer(pick + 1));
        lua_rawseti(L, -2, ++n);
        lua_pushinteger(L, given);
        lua_rawseti(L, -2, ++n);
        for (int a = 0; a < given; a++, i++) {
            lua_pushinteger(L, lua_Integer(data[i] % std::size(kPalette) + 1));
            lua_rawseti(L, -2, ++n);
        }
        calls++;
    }
}

void run_frame(process_rec *root) {
    prepare_processes_for_frame();
    run_process_slice(root, 1.0);
    update_processes_after_frame();
    app.frame_count++;
}

// The machine kept from input to input: the kernel (pid 1) and two idle
// system processes, and the kernel's record and pages as made.
process_rec *kernel = nullptr;
bool need_boot = true;
uint32_t sockets_made = ~0u;             // next_socket_id when the kernel's ports were taken
process_rec *made = nullptr;             // a copy of the kernel's record as made
uint8_t *made_pages[NUM_PAGES];          // copies of its own pages as made
std::vector<int> made_list;              // the pages that have one

// The idle system processes, pids 2 and 3, after the kernel.
void make_system_processes() {
    process_id = ROOT_PID + 1;
    if (!create_process_from_code("while true do flip() end", "idle", "/system/idle.lua", "") ||
        !create_process_from_code("while true do flip() end", "wm", "/system/wm.lua", ""))
        std::abort();
}

void forget_made() {
    for (uint8_t *&pg : made_pages) {
        std::free(pg);
        pg = nullptr;
    }
}

void boot() {
    processes_init();
    process_id = 1;
    kernel = create_process_from_code(kernel_code().c_str(), "kernel", "/system/boot.lua", "");
    if (!kernel || kernel->id != ROOT_PID) {
        std::fprintf(stderr, "the kernel did not load\n");
        std::abort();
    }
    lua_State *L = kernel->lua_state;
    lua_register(L, "t_bad", t_bad);
    lua_register(L, "t_done", t_done);
    lua_register(L, "t_halted", t_halted);
    // A megabyte of text, copied in (string.rep would take longer than
    // the rest of the set-up together).
    static const std::string big(size_t(1) << 20, 'x');
    lua_pushlstring(L, big.data(), big.size());
    lua_setglobal(L, "BIG");
    lua_pushboolean(L, 0);
    lua_setglobal(L, "RING_ON");
    {
        remembered_process prev = remember_current_process();
        cproc = kernel;
        const bool ring = luaL_dostring(L, "RING_HOME = userdata('u8', 480, 270)") == LUA_OK &&
                          luaL_dostring(L, kFinalizerRing) == LUA_OK;
        restore_current_process(prev);
        if (!ring) {
            std::fprintf(stderr, "the finalizer ring did not load\n");
            std::abort();
        }
    }
    make_system_processes();
    // The first slice runs the kernel's set-up (the pool, the megabyte of
    // text) up to its first flip: what the record holds then is what each
    // input starts from.
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    run_frame(kernel);
    if (!get_process(ROOT_PID) || kernel->state != PROC_RUNNING) {
        std::fprintf(stderr, "the kernel did not start\n");
        std::abort();
    }
    if (!made) made = static_cast<process_rec *>(std::malloc(sizeof(process_rec)));
    std::memcpy(made, kernel, sizeof(process_rec));
    forget_made();
    made_list.clear();
    for (int p = 0; p < NUM_PAGES; p++)
        if (kernel->page_own[p]) {
            made_pages[p] = static_cast<uint8_t *>(std::malloc(PAGE_BYTES));
            std::memcpy(made_pages[p], kernel->page_own[p], PAGE_BYTES);
            made_list.push_back(p);
        }
    lua_gc(kernel->lua_state, LUA_GCCOLLECT, 0);
    need_boot = false;
    sockets_made = ~0u;
}

bool running(int64_t id) {
    const process_rec *p = get_process(id);
    return p && p->state == PROC_RUNNING && p->pending_action == PENDING_NONE;
}

// Puts back what an input may have changed in the kernel: its mappings,
// sprite slots, map and draw target; its pages (own pages made since are
// freed, the others copied back where they differ); its inbox; and the
// record's draw, button, audio, clock, priority, folder and random state.
void reset_kernel() {
    process_rec *k = kernel;
    lua_State *L = k->lua_state;
    cproc = k;
    for (int w = 0; w < NUM_PAGES / 64; w++)
        for (uint64_t bits = k->mapped_pages[w]; bits; bits &= bits - 1) {
            const int pg = w * 64 + __builtin_ctzll(bits);
            unmap_page(k, pg);
            anchor_clear(L, ANCHOR_PAGE + pg);
        }
    if (std::memcmp(k->sprite, made->sprite, sizeof k->sprite) != 0)
        for (int s = 0; s < 16384; s++)
            if (k->sprite[s] != made->sprite[s]) {
                k->sprite[s] = made->sprite[s];
                anchor_clear(L, ANCHOR_SPRITE + s);
            }
    if (k->map != made->map) {
        k->map = made->map;
        anchor_clear(L, ANCHOR_MAP);
    }
    if (k->draw_target != made->draw_target) {
        k->draw_target = made->draw_target;
        anchor_clear(L, ANCHOR_TARGET);
    }
    // Own pages are only ever added: the count tells whether any were.
    if (k->own_page_bytes != made->own_page_bytes)
        for (int p = 0; p < NUM_PAGES; p++) {
            uint8_t *pg = k->page_own[p];
            if (!pg || made_pages[p]) continue;
            if (k->page[p] == pg) {
                k->page[p] = nullptr;
                k->page_len[p] = 0;
            }
            std::free(pg);
            k->page_own[p] = nullptr;
            k->own_page_bytes -= PAGE_BYTES;
        }
    for (int p : made_list)
        if (std::memcmp(k->page_own[p], made_pages[p], PAGE_BYTES) != 0) {
            std::memcpy(k->page_own[p], made_pages[p], PAGE_BYTES);
            k->page_flags[p] = 255;
        }
    if (k->message_queue) k->message_queue->length = k->message_queue->cursor = 0;
    k->message_read = 0;
    k->cycle_debt = made->cycle_debt;
    k->cycles_this_frame = made->cycles_this_frame;
    k->cycles_since_flip = made->cycles_since_flip;
    k->cycles_last_frame = made->cycles_last_frame;
    k->cycles_last_flip = made->cycles_last_flip;
    k->flipped = made->flipped;
    k->frames_since_flip = made->frames_since_flip;
    k->fps = made->fps;
    k->clock = made->clock;
    k->memory_baseline = made->memory_baseline;
    std::memcpy(k->pwd, made->pwd, sizeof k->pwd);
    k->priority = made->priority;
    k->high_priority = made->high_priority;
    k->clip_x0 = made->clip_x0;
    k->clip_x1 = made->clip_x1;
    k->clip_y0 = made->clip_y0;
    k->clip_y1 = made->clip_y1;
    k->clip_source = made->clip_source;
    k->clip_target = made->clip_target;
    k->clip_target_w = made->clip_target_w;
    k->clip_target_h = made->clip_target_h;
    k->inverted_fill = made->inverted_fill;
    k->print_newline_flag = made->print_newline_flag;
    std::memcpy(k->buttons_prev, made->buttons_prev, sizeof k->buttons_prev);
    std::memcpy(k->buttons, made->buttons, sizeof k->buttons);
    std::memcpy(k->buttons_released, made->buttons_released, sizeof k->buttons_released);
    std::memcpy(k->btnp_counters, made->btnp_counters, sizeof k->btnp_counters);
    std::memcpy(k->channel_cache, made->channel_cache, sizeof k->channel_cache);
    k->channel_cache_stamp = made->channel_cache_stamp;
    k->active_channels_stamp = made->active_channels_stamp;
    k->active_channels = made->active_channels;
    k->rng_state = made->rng_state;
    k->stat_scratch = made->stat_scratch;
    // Garbage is left to the collector (an allocation refused at the limit
    // collects before it fails) unless it has grown large.
    if (memory_figure(k) > MEMORY_LIMIT / 2) lua_gc(L, LUA_GCCOLLECT, 0);
}

// Ends every process the input made; ids start again after the system ones.
void end_user_processes() {
    for (int32_t i = get_process_count() - 1; i >= 0; i--) {
        process_rec *p = get_process_by_index(i);
        if (p && p->id >= FIRST_USER_PID) kill_process_by_index(i);
    }
    process_id = FIRST_USER_PID;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    (void)argc;
    (void)argv;
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();  // _printh and norm output
    static char appdata[] = "/tmp/fuzz_api_calls_XXXXXX";
    if (!mkdtemp(appdata)) std::abort();
    home = std::string(appdata) + "/";
    desktop = std::string(appdata) + "/desktop";
    pdisk_set_pwd_source(process_pwd);
    pdisk_set_appdata_folder(home);
    // A stub opener for _open_host_path, first on PATH.
    const std::string bin = home + "bin";
    if (mkdir(bin.c_str(), 0755) != 0) std::abort();
    FILE *stub = std::fopen((bin + "/xdg-open").c_str(), "w");
    if (!stub) std::abort();
    std::fputs("#!/bin/sh\nexit 0\n", stub);
    std::fclose(stub);
    chmod((bin + "/xdg-open").c_str(), 0755);
    const char *path = getenv("PATH");
    setenv("PATH", (bin + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    net_install_loopback_guard();
    socket_connect_timeout_ms = CONNECT_WAIT_MS;
    sockets_init();
    processes_init();
    process_rec *probe = create_process_from_code("", "probe", "/t/probe.lua", "");
    if (!probe) std::abort();
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
    mudo_init();
    for (const char *name : kCalls) {
        bool found = false;
        found = is_host_call(name);
        for (const api_entry &e : api_table) found |= std::strcmp(e.name, name) == 0 && e.fn;
        for (const char *s : kSocketCalls)
            if (std::strcmp(s, name) == 0) {
                found = lua_getglobal(probe->lua_state, name) == LUA_TFUNCTION;
                lua_pop(probe->lua_state, 1);
            }
        if (!found) {
            std::fprintf(stderr, "%s is not registered\n", name);
            std::abort();
        }
    }
    processes_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fake_host::reset();
    destroy_buffer(app.audio_capture_buffer);  // a capture _signal started
    app = app_state_rec{};
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    config = config_rec{};
    config.headless = 1;
    config.network_access = size > 0 && (data[size - 1] & 0x80) ? 0 : 1;
    std::snprintf(config.home_path, sizeof config.home_path, "%s", home.c_str());
    std::snprintf(config.desktop_path, sizeof config.desktop_path, "%s", desktop.c_str());
    reset_files();
    total_frame_cycles = 0;
    total_frame_cycles_since_wm_flip = 0;
    cpu_cycles = cpu_cycles_max = cpu_superyielding = 0;
    if (need_boot) boot();
    const uint32_t pdisk_calls_at_start = total_pdisk_calls;
    reset_kernel();
    total_frame_cycles = 0;
    total_frame_cycles_since_wm_flip = 0;
    cpu_cycles = cpu_cycles_max = cpu_superyielding = 0;
    bad.clear();
    done = halted = false;
    // Half of the runs grant the audio bracket to every caller.
    fake_host::set_audio_op_start_result(size > 0 && (data[0] & 0x80) ? 0 : 1);

    lua_State *L = kernel->lua_state;
    push_input(L, data, size);
    lua_setglobal(L, "INPUT");
    lua_pushboolean(L, size > 0 && (data[0] & 0x60) == 0x60);
    lua_setglobal(L, "RING_ON");
    // Two ports no one listens on, taken again after an input that made
    // sockets (one may linger on its port).
    if (next_socket_id != sockets_made) {
        lua_pushinteger(L, free_port());
        lua_setglobal(L, "FREE_PORT");
        const std::string closed = "http://127.0.0.1:" + std::to_string(free_port()) + "/";
        lua_pushstring(L, closed.c_str());
        lua_setglobal(L, "CLOSED_URL");
    }

    for (int f = 0; f < MAX_FRAMES && !done && get_process(ROOT_PID) == kernel && num_processes <= MAX_LIVE; f++) {
        run_frame(kernel);
        // A kernel that ended itself stays in the table, its slice cut
        // short: it is woken again and passes its further calls, so that
        // it is back at its flip for the next input as when it ends its
        // calls. (What it resumes is a slice cut short, as the CPU budget
        // cuts them.)
        if (get_process(ROOT_PID) == kernel && kernel->state == PROC_ENDED &&
            kernel->pending_action == PENDING_NONE && !kernel->out_of_memory &&
            lua_status(kernel->lua_state) == LUA_YIELD) {
            kernel->state = PROC_RUNNING;
            halted = true;
        }
    }
    while (reap_host_openers() > 0) usleep(1000);

    end_user_processes();
    // An input that ended or stopped the kernel, or left it inside its
    // calls, gets the machine made again for the next one; one that ended
    // only the idle ones gets them again.
    if (!done || get_process(ROOT_PID) != kernel || !running(ROOT_PID)) {
        processes_init();
        need_boot = true;
    } else if (!running(ROOT_PID + 1) || !running(WM_PID)) {
        kill_process_by_id(WM_PID);
        kill_process_by_id(ROOT_PID + 1);
        make_system_processes();
        process_id = FIRST_USER_PID;
    }
    // The file system's tables are large: they are made again only after
    // an input that opened a file (the RAM folders and mounts are made
    // again before each input).
    if (total_pdisk_calls != pdisk_calls_at_start) pdisk_shutdown();
    delete_sockets_by_process(0);
    if (sockets != 0) std::abort();
    sockets_made = next_socket_id;
    if (!gurl_shutdown(JOB_WAIT_MS)) {
        std::fprintf(stderr, "a fetch job did not end\n");
        std::abort();
    }
    if (!bad.empty()) {
        std::fprintf(stderr, "a call raised where it may not: %s\n", bad.c_str());
        std::abort();
    }
    return 0;
}
