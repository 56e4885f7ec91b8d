// The CPU budget against real time: for each call that does work in
// proportion to an argument, one user process (headless, alone) spends its
// whole budget on that call every frame, with arguments that make the call
// expensive. Each figure is the main thread's CPU time per frame over a few
// frames after a warm-up frame; the ratio is that time over one frame (16.7
// ms), and the goal is a ratio of 0.75 at most. A frame in which the slices
// the process ran charged more than a frame's budget besides its own (they
// count for it) is as many frames of charge as they and it charged. Calls
// that last longer than a frame by themselves are bounded by the debt cap
// instead of their charge: they are reported apart, with the length of one
// call; so are the calls that write a host file, whose time is the disk's.
// What a script prints goes to /dev/null, or to a file for the figures that
// measure printing. The host calls and socket calls are the platform's own,
// on loopback.
// Prints "budget <call> cpu per frame: T ms, calls per frame: C",
// "budget <call> ratio: R" per figure, the long calls and host writes, and last
// "budget worst goal margin: M", the largest ratio / 0.75.
// An optional argument runs only the figures whose name contains it.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "address_space.h"
#include "app_state.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "env.h"
#include "fake_host.h"
#include "host.h"
#include "lua.hpp"
#include "pfile.h"
#include "pmount.h"
#include "process.h"
#include "slice.h"
#include "ud_methods.h"
#include "vm_hooks.h"

namespace {

inline constexpr double FRAME_MS = 16.7;
inline constexpr double GOAL = 0.75;
inline constexpr int WARMUP_FRAMES = 1;
inline constexpr int MEASURED_FRAMES = 5;
inline constexpr int LONG_CALL_FRAMES = 24;  // long calls: enough frames for a few calls
inline constexpr double MAX_CASE_SECONDS = 4.0;  // fewer frames for calls far over the goal

struct figure {
    const char *name;
    const char *setup;  // runs once, with a budget that does not run out
    const char *body;   // the loop body, run until the frame's budget is spent
    bool long_call;     // one call lasts longer than a frame by itself
    bool to_file = false;  // what the script prints goes to a file, not to /dev/null
    bool host_write = false;  // writes a host file: its time is the disk's, listed apart
};

// Shared set-up texts.
#define DRAW "T = userdata('u8', 480, 270) _set_draw_target(T) "
#define BIG_TEXT "local s = string.rep('abcdefghijklmnopqrstuvwxyz0123456789', 7282) "  // 256 KB
#define RANDOM_BYTES(n) "srand(7) local rt = {} for j = 1, " #n " do rt[j] = chr(flr(rnd(256))) end "
#define DEAD_CODE "local dead = string.rep('a = 1 ', 400000) "
#define DEEP_COROUTINE                                                                                   \
    "local function D(n) if n > 0 then D(n - 1) else coroutine.yield() end end "                           \
    "local co = coroutine.create(D) coroutine.resume(co, 30000) "
#define TABLE_N(n) "local t = {} for j = 1, " #n " do t[j] = j end "
#define DEEP                                                                                              \
    "local D = '/ram/dp' .. string.rep('/a', 16384) mkdir(D) local F, G = D .. '/f', D .. '/g' store(F, 1) "

const figure kFigures[] = {
    /* ---- drawing ---- */
    {"cls", DRAW, "cls(1)", false},
    {"rectfill", DRAW, "rectfill(-10, -10, 500, 300, 7)", false},
    {"rectfill_batch",
     DRAW "local B = userdata('f64', 5, 4096) for j = 0, 4095 do B:set(0, j, -10, -10, 500, 300, 7) end ",
     "rectfill(B)", false},
    {"rect", DRAW, "rect(-10, -10, 500, 300, 7)", false},
    {"ovalfill", DRAW, "ovalfill(-10, -10, 500, 300, 7)", false},
    {"oval", DRAW, "oval(0, 0, 479, 269, 7)", false},
    {"circfill", DRAW, "circfill(240, 135, 300, 7)", false},
    {"circ", DRAW, "circ(240, 135, 130, 7)", false},
    {"rrectfill", DRAW, "rrectfill(-10, -10, 500, 300, 20, 7)", false},
    {"rrect", DRAW, "rrect(0, 0, 479, 269, 20, 7)", false},
    {"line", DRAW, "line(0, 0, 479, 269, 7)", false},
    {"pset", DRAW, "pset(1, 1, 7)", false},
    {"fillp_rectfill", DRAW "fillp(0x5a5a) ", "rectfill(0, 0, 479, 269, 7)", false},
    {"tline3d", DRAW "local S = userdata('u8', 256, 256) ", "tline3d(S, 0, 0, 479, 269, 0, 0, 255, 255)", false},
    {"spr", DRAW "local S = userdata('u8', 480, 270) ", "spr(S, 0, 0)", false},
    {"sspr", DRAW "local S = userdata('u8', 64, 64) ", "sspr(S, 0, 0, 64, 64, 0, 0, 480, 270)", false},
    {"sspr_shrink", DRAW "local S = userdata('u8', 480, 270) ", "sspr(S, 0, 0, 480, 270, 0, 0, 8, 8)", false},
    {"blit", DRAW "local S = userdata('u8', 480, 270) ", "blit(S, T)", false},
    {"blit_i32", DRAW "local S = userdata('i32', 480, 270) local D = userdata('i32', 480, 270) ", "blit(S, D)",
     false},
    {"_draw_map", DRAW "local M = userdata('i16', 256, 256) _set_spr(1, userdata('u8', 8, 8)) M:copy(1, true) ",
     "_draw_map(M, 0, 0, 0, 0, 60, 34)", false},
    {"_print_zenscii", DRAW "local s = string.rep('abcdefgh ', 40) ", "_print_zenscii(s, 0, 0)", false},
    {"_print_zenscii_nul", DRAW "local s = '\\0' .. string.rep('a', 1 << 20) ", "_print_zenscii(s)", false},
    {"_print_zenscii_1mb", DRAW "local s = string.rep('x', 1 << 20) ", "_print_zenscii(s)", false},
    {"_blit_process_video", DRAW "local me = pid() ", "_blit_process_video(me, 0, 0, 480, 270)", false},
    {"_blit_process_video_part", DRAW "local me = pid() ", "_blit_process_video(me, 0, 0, 479, 270)", false},
    {"pal_table", DRAW "local pt = {} for j = 0, 63 do pt[j] = 63 - j end ", "pal(pt)", false},
    // Batches whose records all miss the target: each still read and clipped.
    {"tline3d_batch_off",
     DRAW "_set_spr(1, userdata('u8', 16, 16)) local B = userdata('f64', 12, 16384) "
          "for j = 0, 16383 do B:set(0, j, 1, -1e9, 300, 1e9, 5e8, 0, 0, 8, 8, 1, 1, 0) end ",
     "tline3d(B)", false},
    {"rectfill_batch_off",
     DRAW "local B = userdata('f64', 5, 16384) for j = 0, 16383 do B:set(0, j, -100, -100, -50, -60, 7) end ",
     "rectfill(B)", false},
    {"circfill_batch_off",
     DRAW "local B = userdata('f64', 4, 16384) for j = 0, 16383 do B:set(0, j, -1e6, 100, 999000, 7) end ",
     "circfill(B)", false},
    {"pset_batch_off", DRAW "local B = userdata('f64', 3, 16384) for j = 0, 16383 do B:set(0, j, -100, -100, 7) end ",
     "pset(B)", false},
    {"spr_batch_off",
     DRAW "_set_spr(1, userdata('u8', 16, 16)) local B = userdata('f64', 3, 16384) "
          "for j = 0, 16383 do B:set(0, j, 1, -100, -100) end ",
     "spr(B)", false},
    /* ---- memory ---- */
    {"peek_run", "", "peek(0x30000, 65536)", false},
    {"peek4_run", "", "peek4(0x30000, 16384)", false},
    {"peek8_run", "", "peek8(0x30000, 8192)", false},
    {"_printh", BIG_TEXT, "_printh(s)", false},
    {"poke4_run", "local v = {} for j = 1, 4096 do v[j] = j end ", "poke4(0x30000, table.unpack(v))", false},
    {"poke_run", "local v = {} for j = 1, 4096 do v[j] = j & 255 end ", "poke(0x30000, table.unpack(v))",
     false},
    {"_ppeek", "local me = pid() ", "_ppeek(me, 0x30000, 65536)", false},
    {"memcpy", "", "memcpy(0x100000, 0x200000, 1 << 20)", false},
    {"memset", "", "memset(0x100000, 7, 1 << 20)", false},
    {"_map_ram", "local A = userdata('u8', 4096, 2048) ", "_map_ram(A, 0x100000) _unmap_ram(A)", false},
    {"_map_ram_low", "local A = userdata('u8', 4096, 2048) ", "_map_ram(A, 0x10000, 0, 1 << 20) _unmap_ram(A)",
     false},
    /* ---- tables ---- */
    {"add_front", TABLE_N(100000), "add(t, 1, 1) deli(t, 1)", false},
    {"del", TABLE_N(100000), "del(t, -1)", false},
    {"count", TABLE_N(100000), "count(t, -1)", false},
    {"rnd_table", TABLE_N(100000), "rnd(t)", false},
    /* ---- strings ---- */
    {"chr", "local v = {} for j = 1, 200 do v[j] = 65 end ", "chr(table.unpack(v))", false},
    {"ord", BIG_TEXT, "ord(s, 1, 4000)", false},
    {"split", BIG_TEXT "s = string.rep('12,', 40000) ", "split(s, ',')", false},
    {"split_text", BIG_TEXT, "split(s, 'x', false)", false},
    {"_md5", BIG_TEXT, "_md5(s)", false},
    {"print_70kb", "local s = string.rep('x', 70000) ", "print(s)", false, true},
    {"tokenoid", "local s = '--[[' .. string.rep('x', 1 << 20) ", "tokenoid(s, 1, 0)", false},
    {"create_delta", BIG_TEXT "local s2 = string.rep('0123456789abcdefghijklmnopqrstuvwxyz', 7282) ",
     "create_delta(s, s2)", false},
    {"create_delta_same", BIG_TEXT, "create_delta(s, s)", false},
    {"create_delta_reversed", BIG_TEXT "local s2 = s:reverse() ", "create_delta(s, s2)", false},
    {"create_delta_random", RANDOM_BYTES(262144) "local s = table.concat(rt) local s2 = s:reverse() ",
     "create_delta(s, s2)", false},
    {"create_delta_runs",
     "local s = string.rep('a', 262144) local s2 = string.rep('a', 131072) .. 'b' .. string.rep('a', 131071) ",
     "create_delta(s, s2)", false},
    {"create_delta_small", "local s = string.rep('abcdefgh', 512) local s2 = s:reverse() ", "create_delta(s, s2)",
     false},
    {"apply_delta_random",
     RANDOM_BYTES(262144) "local s = table.concat(rt) local d = create_delta(s, s:reverse()) ",
     "apply_delta(s, d)", false},
    {"apply_delta", BIG_TEXT "local s2 = s:sub(2) .. 'x' local d = create_delta(s, s2) ", "apply_delta(s, d)",
     false},
    /* ---- libraries ---- */
    {"plain_loop", "", "local x = 0 for j = 1, 100 do x = x + j end", false},
    {"find_catastrophic", "local s = string.rep('a', 2000) local pat = string.rep('a?', 16) .. string.rep('a', 16) .. 'b' ",
     "pcall(string.find, s, pat)", true},
    {"match_backref", "local s = string.rep('a', 4096) ", "pcall(string.match, s, '(.-)%1b')", true},
    {"find_plain", "local s = string.rep('a', 1 << 20) local pat = string.rep('a', 4096) .. 'b' ",
     "pcall(string.find, s, pat, 1, true)", true},
    {"gmatch", "local s = string.rep('a', 4096) ", "pcall(function() for m in string.gmatch(s, '(.-)%1b') do end end)", true},
    {"gmatch_make", "", "string.gmatch('8080', '127.0.0.1', 1)", false},
    {"gsub_2mb", "local s = string.rep('ab', 1 << 20) ", "string.gsub(s, 'a', 'xy')", false},
    {"rep_empty", "", "string.rep('', 1 << 26)", false},
    {"rep_bytes", "", "string.rep('ab', 1 << 16)", false},
    {"format_q", "local s = string.rep('\\0\\n\"', 1 << 16) ", "string.format('%q', s)", false},
    {"tonumber_2mb", "local s = string.rep('1', 1 << 21) ", "tonumber(s)", false},
    {"tonumber_base", "local s = string.rep('1', 1 << 21) ", "tonumber(s, 16)", false},
    {"flr_2mb", "local s = string.rep('1', 1 << 21) ", "flr(s)", false},
    {"utf8_len", "local s = string.rep('a', 1 << 21) ", "utf8.len(s)", false},
    {"utf8_offset", "local s = string.rep('a', 1 << 21) ", "utf8.offset(s, 1 << 21)", false},
    {"packsize", "local f = string.rep('i', 1 << 19) ", "string.packsize(f)", false},
    {"pack_pad", "", "string.pack('c1000000', '')", false},
    {"lower_2mb", "local s = string.rep('A', 1 << 21) ", "s:lower()", false},
    {"table_move", TABLE_N(400000) "local d = {} ", "table.move(t, 1, 400000, 1, d)", false},
    {"next_emptied", TABLE_N(400000) "for j = 1, 400000 do t[j] = nil end ", "next(t)", false},
    {"concat_200k", "local t = {} for j = 1, 200000 do t[j] = 'ab' end ", "table.concat(t)", false},
    {"concat_op", "local s = string.rep('a', 1 << 20) ", "local x = s .. s", false},
    {"collect_150k", "local keep = {} for j = 1, 150000 do keep[j] = {} end ", "collectgarbage()", false},
    {"stat0_150k", "local keep = {} for j = 1, 150000 do keep[j] = {} end ", "stat(0)", false},
    {"stat3_150k", "local keep = {} for j = 1, 150000 do keep[j] = {} end ", "stat(3)", false},
    {"signal38_150k", "local keep = {} for j = 1, 150000 do keep[j] = {} end ", "_signal(38)", false},
    {"split_byte", "", "split('a', '')", false},
    {"setmetatable_gc", "local old = {} for j = 1, 2000 do old[j] = {} end local keep = {} "
                        "for j = 1, 150000 do keep[j] = {} end local mt = {__gc = false} local k = 0 ",
     "k = k % 2000 + 1 setmetatable(old[k], nil) setmetatable(old[k], mt)", false},
    {"hook_count", "debug.sethook(function() end, '', 1) ", "local x = 0 for j = 1, 100 do x = x + j end", false},
    {"hook_call", "debug.sethook(function() end, 'c') ", "math.abs(1)", false},
    {"traceback_loaded", "local L = debug.getregistry()._LOADED for j = 1, 4000 do L['m' .. j] = L end ",
     "debug.traceback('x')", false},
    // 400,000 instructions of dead code before the call or the error named:
    // its function's name sought from that code, the value's name in it
    {"getinfo_name_far",
     DEAD_CODE "local G = load('local t = {f = function() return debug.getinfo(1, \"n\") end} return function() "
               "local a if false then ' .. dead .. ' end t.f() end')() ",
     "G()", false},
    {"error_name_far",
     DEAD_CODE "local G = load('local t = {} return function() local a if false then ' .. dead .. "
               "' end return t.nope.x end')() ",
     "pcall(G)", false},
    // a coroutine suspended 30,000 frames deep: its traceback, its deepest frame
    {"traceback_deep", DEEP_COROUTINE, "debug.traceback(co)", false},
    {"getinfo_deep", DEEP_COROUTINE, "debug.getinfo(co, 30000, 'l')", false},
    {"argument_error", "", "pcall(string.rep)", false},
    {"report_loaded",
     "local code = 'local L = debug.getregistry()._LOADED for j = 1, 4000 do L[\"m\" .. j] = L end error(\"x\")' ",
     "_run_process_slice(_create_process_from_code(code, 'c', '/c.lua'), 1)", false},
    {"kill_150k_tables",
     "local code = 'local t = {} for j = 1, 150000 do t[j] = {} end while true do flip() end' ",
     "local c = _create_process_from_code(code, 'c', '/c.lua') "
     "for k = 1, 8 do _run_process_slice(c, 1) end _kill_process(c)", false},
    {"kill_looping_gc",
     "local code = 'setmetatable({}, {__gc = function() while true do end end}) error(\"x\")' ",
     "_run_process_slice(_create_process_from_code(code, 'c', '/c.lua'), 1)", true},
    {"metamethod_loop",
     "local mt = {__eq = function() while true do end end} local o, q = setmetatable({}, mt), setmetatable({}, mt) ",
     "pcall(del, {o}, q)", true},
    /* ---- pod ---- */
    {"pod_keys", "local t = {} for j = 1, 5000 do t['key_number_' .. j] = j end ", "pod(t)", false},
    {"unpod_keys", "local t = {} for j = 1, 5000 do t['key_number_' .. j] = j end local p = pod(t) ",
     "unpod(p)", false},
    {"pod_floats", "local t = {} for j = 1, 20000 do t[j] = j / 7 end ", "pod(t)", false},
    {"unpod_floats", "local t = {} for j = 1, 20000 do t[j] = j / 7 end local p = pod(t) ", "unpod(p)", false},
    {"pod_userdata", "local A = userdata('f64', 256, 256) ", "pod(A)", false},
    {"pod_compressed", "local A = userdata('u8', 512, 512) ", "pod(A, 1)", false},
    {"unpod_userdata", "local p = pod(userdata('u8', 512, 512), 1) ", "unpod(p)", false},
    // 2 MB of text: blanks before a value, a string never closed, raw text
    {"unpod_2mb_blanks", "local p = string.rep(' ', 1 << 21) .. '1' ", "unpod(p)", false},
    {"unpod_2mb_open", "local p = '\"\\\\' .. string.rep('a', 1 << 21) ", "unpod(p)", false},
    {"unpod_2mb_raw", "local p = '--[[pod_format=\"raw\"]]' .. string.rep('a', 1 << 21) ", "unpod(p)", false},
    /* ---- files ---- */
    {"store_fetch", "", "store('/ram/v.pod', {1, 2, 3}) fetch('/ram/v.pod')", false},
    {"store_big", RANDOM_BYTES(65536) "local v = table.concat(rt) ", "store('/ram/b.bin', v)", false},
    {"fetch_big", RANDOM_BYTES(65536) "store('/ram/b.bin', table.concat(rt)) ", "fetch('/ram/b.bin')", false},
    {"store_raw", BIG_TEXT, "store('/ram/r.txt', s, '--[[pod_format=\\\"raw\\\"]]')", false},
    {"store_1mb", RANDOM_BYTES(1048576) "local v = table.concat(rt) ", "store('/ram/m.bin', v)", true},
    {"ls", "mkdir('/ram/d') for j = 1, 2000 do store('/ram/d/f' .. j, j) end ", "ls('/ram/d')", false},
    {"fstat", "store('/ram/f', 1) ", "fstat('/ram/f')", false},
    {"fullpath", "local p = string.rep('a/', 100) ", "fullpath(p)", false},
    {"fullpath_long", "local p = string.rep('abc/../', 10000) ", "fullpath(p)", false},
    {"fstat_long", "local p = string.rep('abc/../', 10000) .. 'f' ", "fstat(p)", false},
    {"mkdir", "", "mkdir('/ram/m') _fdelete('/ram/m')", false},
    {"cp", RANDOM_BYTES(65536) "store('/ram/c.bin', table.concat(rt)) ", "cp('/ram/c.bin', '/ram/c2.bin')",
     false},
    {"_store_metadata", RANDOM_BYTES(65536) "store('/ram/sm.bin', table.concat(rt)) ",
     "_store_metadata_str_to_file('/ram/sm.bin', '--[[pod,title=\\\"x\\\"]]')", false},
    {"cd", "mkdir('/ram/w') local p = '/ram/w/' .. string.rep('./', 120) ", "cd(p)", false},
    {"_normalise_userland_path", "local p = string.rep('abc/../', 10000) ", "_normalise_userland_path(p)", false},
    {"norm", "local p = string.rep('abc/../', 1000) ", "norm(p)", false},
    {"norm_short", "local p = string.rep('abc/../', 100) ", "norm(p)", false},
    {"_is_well_formed_bbs_path", "local p = 'bbs://' .. string.rep('a', 1 << 20) ", "_is_well_formed_bbs_path(p)",
     false},
    {"_fetch_metadata", "store('/ram/md', 1, {title = string.rep('x', 1000)}) ", "_fetch_metadata_from_file('/ram/md')",
     false},
    // a cartridge written back at each call: 256 KB of random bytes in each form
    {"fstat_cart_kiv", RANDOM_BYTES(262144) "mkdir('/c.kiv') store('/c.kiv/big', table.concat(rt)) ",
     "store('/c.kiv/f', 'x') fstat('/c.kiv')", false},
    {"fstat_cart_rom", RANDOM_BYTES(262144) "mkdir('/c.kiv.rom') store('/c.kiv.rom/big', table.concat(rt)) ",
     "store('/c.kiv.rom/f', 'x') fstat('/c.kiv.rom')", false},
    {"fstat_cart_png", RANDOM_BYTES(262144) "mkdir('/c.kiv.png') store('/c.kiv.png/big', table.concat(rt)) ",
     "store('/c.kiv.png/f', 'x') fstat('/c.kiv.png')", false},
    {"fstat_cart_png_small", "mkdir('/s.kiv.png') ", "store('/s.kiv.png/f', 'x') fstat('/s.kiv.png')", false},
    {"ls_host", "mkdir('/hl') for j = 1, 2000 do store('/hl/f' .. j, j) end ", "ls('/hl')", false},
    // one entry listed, 8,000 walked under it
    {"ls_subtree", "mkdir('/ram/s') mkdir('/ram/s/x') for j = 1, 8000 do store('/ram/s/x/f' .. j, '') end ",
     "ls('/ram/s')", false},
    {"_fdelete_folder", "mkdir('/ram/fd') local names = {} for j = 1, 8000 do names[j] = '/ram/fd/f' .. j end ",
     "for j = 1, 8000 do store(names[j], '') end _fdelete('/ram/fd')", false},
    // a folder 16,384 segments deep, made: its file F, a second file G
    {"mkdir_deep", DEEP, "mkdir(D .. '/m') _fdelete(D .. '/m')", false},
    {"fstat_deep", DEEP, "fstat(F)", false},
    {"ls_deep", DEEP, "ls(D)", false},
    {"cd_deep", DEEP, "cd(D)", false},
    {"store_deep", DEEP, "store(F, 1)", false},
    {"fetch_deep", DEEP, "fetch(F)", false},
    {"cp_deep", DEEP, "cp(F, G)", false},
    // 512 leading parts that name cartridges, each tested for a file to mount
    {"fstat_carts", "local p = '/ram/k' .. string.rep('/a.kiv', 512) ", "fstat(p)", false},
    {"mkdir_carts_host", "local p = '/k' .. string.rep('/a.kiv', 512) ", "mkdir(p)", false},
    {"cp_carts_host", "local p = '/k' .. string.rep('/a.kiv', 512) ", "cp(p, p .. 'x')", false},
    /* ---- processes ---- */
    {"_create_process_from_code", "", "_kill_process(_create_process_from_code('', 'p', '/p.lua'))", false},
    {"_create_process_big",
     "local code = string.rep('a = 1 ', 40000) ",
     "_kill_process(_create_process_from_code(code, 'p', '/p.lua'))", false},
    {"send_message", "local me = pid() local m = {event = 'x', data = string.rep('y', 4096)} ",
     "send_message(me, m) _read_message()", false},
    {"load", "local code = string.rep('a = 1 ', 40000) ", "load(code)", false},
    {"load_dense", "local code = string.rep('a=1;', 60000) ", "load(code)", false},
    {"load_error", "local code = string.rep('a = 1 ', 40000) .. ')' ", "load(code)", false},
    {"_get_process_list", "", "_get_process_list()", false},
    /* ---- typed arrays ---- */
    {"userdata_new", "", "userdata('u8', 1024, 1024)", false},
    {"userdata_hex", "local h = string.rep('ab', 65536) ", "userdata('u8', 65536, 1, h)", false},
    {"vec", "local v = {} for j = 1, 200 do v[j] = j end ", "vec('f64', table.unpack(v))", false},
    {"ud_set", "local A = userdata('f64', 4096) local v = {} for j = 1, 200 do v[j] = j end ",
     "A:set(0, table.unpack(v))", false},
    {"ud_get", "local A = userdata('f64', 4096) ", "A:get(0, 4096)", false},
    {"ud_copy", "local A = userdata('u8', 1024, 1024) local B = userdata('u8', 1024, 1024) ", "B:copy(A, true)",
     false},
    {"ud_copy_new", "local A = userdata('f64', 256, 256) ", "A:copy()", false},
    {"ud_clear", "local A = userdata('f64', 512, 512) ", "A:clear()", false},
    {"ud_convert_f64", "local A = userdata('u8', 512, 512) ", "A:convert('f64')", false},
    {"ud_convert_palette",
     "local A = userdata('i32', 256, 256) for j = 0, 65535 do A:set(j, (j & 255) * 65793) end ",
     "A:convert('u8', true)", false},
    {"ud_take", "local S = userdata('f64', 65536) local I = userdata('i32', 65536) "
                "for j = 0, 65535 do I:set(j, (j * 7919) & 65535) end ",
     "S:take(I)", false},
    {"ud_take_overlap", "local S = userdata('u8', 65536) local I = userdata('i32', 1) ", "S:take(I, true, 0, 1, 65535)",
     false},
    {"ud_take_runs", "local S = userdata('u8', 65536) local I = userdata('i32', 64) ", "S:take(I, nil, 0, 0, 1024)",
     false},
    {"ud_add", "local A = userdata('f64', 512, 512) ", "A:add(1, true)", false},
    {"ud_mul_u8", "local A = userdata('u8', 1024, 1024) ", "A:mul(3, true)", false},
    {"ud_div", "local A = userdata('f64', 512, 512) ", "A:div(3, true)", false},
    {"ud_idiv_i64", "local A = userdata('i64', 512, 512) ", "A:idiv(3, true)", false},
    {"ud_mod_i64", "local A = userdata('i64', 512, 512) ", "A:mod(7, true)", false},
    {"ud_pow_f64", "local A = userdata('f64', 512, 512) ", "A:pow(1.5, true)", false},
    {"ud_pow_i64", "local A = userdata('i64', 512, 512) A:add(3, true) ", "A:pow(63, true)", false},
    {"ud_band", "local A = userdata('i32', 512, 512) ", "A:band(0xff, true)", false},
    {"ud_shl", "local A = userdata('i64', 512, 512) ", "A:shl(3, true)", false},
    {"ud_max", "local A = userdata('f64', 512, 512) ", "A:max(3, true)", false},
    {"ud_abs", "local A = userdata('f64', 512, 512) ", "A:abs(true)", false},
    {"ud_sgn", "local A = userdata('i32', 512, 512) ", "A:sgn(true)", false},
    {"ud_strided", "local A = userdata('f64', 512, 512) local B = userdata('f64', 512, 512) ",
     "A:add(B, true, 0, 0, 1, 512, 512, 512)", false},
    {"ud_blit", "local A = userdata('u8', 1024, 1024) local B = userdata('u8', 1024, 1024) ", "A:blit(B)", false},
    {"ud_peek", "local A = userdata('u8', 65536) ", "A:peek(0x30000)", false},
    {"ud_poke", "local A = userdata('u8', 65536) ", "A:poke(0x30000)", false},
    {"ud_mutate", "local A = userdata('u8', 1024, 1024) ", "A:mutate('u8', 1024, 1024)", false},
    {"ud_lerp", "local A = userdata('f64', 65536) ", "A:lerp(0, 65535, 1)", false},
    {"ud_magnitude", "local A = userdata('f64', 65536) ", "A:magnitude()", false},
    {"ud_distance", "local A = userdata('f64', 65536) local B = userdata('f64', 65536) ", "A:distance(B)", false},
    {"ud_dot", "local A = userdata('f64', 65536) local B = userdata('f64', 65536) ", "A:dot(B)", false},
    {"ud_matmul", "local A = userdata('f64', 64, 64) local B = userdata('f64', 64, 64) ", "A:matmul(B)", false},
    {"ud_matmul_1024", "local A = userdata('f64', 1024, 1024) local B = userdata('f64', 1024, 1024) ",
     "A:matmul(B)", true},
    {"ud_matmul_inplace_1448", "local A = userdata('f64', 1448, 1448) ", "A:matmul(A, true)", true},
    // in place in b where the copy of b fits the process's memory
    {"ud_matmul_inplace_1280", "local A = userdata('f64', 1280, 1280) ", "A:matmul(A, true)", true},
    {"ud_matmul_inplace_b_1024", "local A = userdata('f64', 1024, 1024) local B = userdata('f64', 1024, 1024) ",
     "A:matmul(B, B)", true},
    {"ud_matmul_inplace_a_1024", "local A = userdata('f64', 1024, 1024) local B = userdata('f64', 1024, 1024) ",
     "A:matmul(B, true)", true},
    {"ud_matmul_2048_wide", "local A = userdata('f64', 2048, 512) local B = userdata('f64', 1024, 2048) ",
     "A:matmul(B)", true},
    {"ud_take_bound", "local S = userdata('f64', 1024, 1024) local O = userdata('f64', 1024, 1024) "
                      "local I = userdata('i32', 256) ",
     "S:take(I, O, 0, 0, 1 << 20, 1, 0)", true},
    // in place: each step's run read from the array it writes
    {"ud_take_inplace_bound", "local S = userdata('f64', 2048, 1024) local I = userdata('i32', 128) ",
     "S:take(I, true, 0, 1, 1 << 21, 1, 0)", true},
    {"ud_pow_passes_2m", "local A = userdata('f64', 2048, 1024) ", "A:pow(1.5, true, 0, 0, 1 << 21, 0, 0, 2)", true},
    {"ud_add_passes_16mb", "local A = userdata('u8', 4096, 4096) ", "A:add(1, true, 0, 0, 1 << 24, 0, 0, 16)", true},
    {"ud_div_passes_2m", "local A = userdata('f64', 2048, 1024) ", "A:div(3, true, 0, 0, 1 << 21, 0, 0, 2)", true},
    {"ud_blit_8mb", "local A = userdata('u8', 4096, 2048) local B = userdata('u8', 4096, 2048) ", "A:blit(B)", true},
    {"ud_transpose_16mb", "local A = userdata('u8', 4096, 4096) ", "A:transpose(true)", true},
    {"ud_transpose", "local A = userdata('f64', 512, 512) ", "A:transpose()", false},
    {"ud_row", "local A = userdata('f64', 65536, 2) ", "A:row(1)", false},
    {"ud_column", "local A = userdata('f64', 2, 65536) ", "A:column(1)", false},
    {"ud_sort", "local A = userdata('i32', 65536) local B = userdata('i32', 65536) "
                "for j = 0, 65535 do B:set(j, (j * 2654435761) & 0x7fffffff) end ",
     "A:copy(B, true) A:sort()", false},
    {"ud_sort_rows", "local A = userdata('f64', 4, 16384) local B = userdata('f64', 4, 16384) "
                     "for j = 0, 65535 do B:set(j, (j * 2654435761) % 1000) end ",
     "A:copy(B, true) A:sort(2)", false},
    // two rows of 2 MB, one comparison
    {"ud_sort_wide_rows", "local A = userdata('u8', 1 << 21, 2) ", "A:sort()", false},
    // 2^27 spans of no element each
    {"ud_copy_empty_spans", "local A = userdata('u8', 1024) local B = userdata('u8', 1024) ",
     "A:copy(B, true, 0, 0, 0, 1, 1, 1 << 27)", false},
    // remainders of operands whose exponents lie 2,045 apart
    {"ud_mod_f64_far", "local A = userdata('f64', 256, 128) local O = userdata('f64', 256, 128) A:add(1.7e308, true) ",
     "A:mod(1.1e-308, O)", false},
    {"ud_row_f64_wide", "local A = userdata('f64', 1 << 18, 8) ", "A:row(1)", false},
    {"ud_column_f64_far", "local A = userdata('f64', 64, 32768) ", "A:column(1)", false},
    {"ud_matmul_dot", "local A = userdata('f64', 1 << 16, 1) local B = userdata('f64', 1, 1 << 16) ", "A:matmul(B)",
     false},
    {"ud_matmul_dot_nan",
     "local A = userdata('f64', 1 << 16, 1) A:add(0 / 0, true) local B = userdata('f64', 1, 1 << 16) ", "A:matmul(B)",
     false},
    {"ud_matmul_column", "local A = userdata('f64', 1, 1 << 16) local B = userdata('f64', 1, 1) ", "A:matmul(B)", false},
    {"ud_sort_2m", "local A = userdata('i32', 2097152) local B = userdata('i32', 2097152) "
                   "for j = 0, 2097151 do B:set(j, (j * 2654435761) & 0x7fffffff) end ",
     "A:copy(B, true) A:sort()", true},
    {"load_1mb", "local code = string.rep('a=1;', 1 << 18) ", "load(code)", true},
    {"_md5_16mb", "local s = string.rep('0123456789abcdef', 1 << 20) ", "_md5(s)", true},
    {"create_delta_4mb", "local s = string.rep('0123456789abcdef', 1 << 18) local s2 = s:reverse() ",
     "create_delta(s, s2)", true},
    // Too long for one slice: it stops at the watchdog's margin.
    {"pod_1m", "local t = {} for j = 1, 1 << 20 do t[j] = j / 7 end ", "pcall(pod, t)", true},
    {"ud_tostring", "local A = userdata('u8', 4096) ", "tostring(A)", false},
    /* ---- host ---- */
    {"_set_userland_clipboard_text", "local s = string.rep('x', 1 << 21) ", "_set_userland_clipboard_text(s)", false},
    {"_get_userland_clipboard_text", "_set_userland_clipboard_text(string.rep('x', 1 << 21)) ",
     "_get_userland_clipboard_text()", false},
    {"_set_host_clipboard_text", "local s = string.rep('\\x80', 1 << 21) ", "_set_host_clipboard_text(s)", false},
    {"_cache_store", "local s = string.rep('x', 1 << 21) ", "_cache_store('bench', 'big', s)", false, false, true},
    {"_cache_fetch", "_cache_store('bench', 'big', string.rep('x', 1 << 21)) ", "_cache_fetch('bench', 'big')", false},
    {"_cache_fetch_versions", "", "_cache_fetch('bench', 'v%d', true)", false},
    {"_apply_system_settings", "local t = {} for j = 1, 60000 do t['key' .. j] = j end ", "_apply_system_settings(t)",
     false},
    // a loopback client and the listener's side of it, each made and closed
    {"_create_tcp_socket",
     "local P, L = 47810 repeat P = P + 1 L = _create_tcp_socket(P, '*') until L or P > 48000 ",
     "local c = _create_tcp_socket(P, '127.0.0.1') _close_socket(_accept_socket(L)) _close_socket(c)", false},
    {"_create_udp_socket", "", "_close_socket(_create_udp_socket(47812, '127.0.0.1'))", false},
    {"_fetch_remote", "", "_fetch_remote('http://127.0.0.1:47813/x')", false},
};

[[noreturn]] void die(const std::string &what) {
    std::fprintf(stderr, "bench_budget: %s\n", what.c_str());
    std::exit(1);
}

double thread_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

const char *process_pwd() { return cproc ? cproc->pwd : "/"; }

// Runs rec's chunk with a budget that does not run out until it flips.
bool run_setup(process_rec *rec) {
    remembered_process prev = remember_current_process();
    cproc = rec;
    cpu_cycles = 0;
    cpu_cycles_max = VM_SUPERYIELD - 1;  // a flip still ends it
    cpu_superyielding = 0;
    rec->resume_depth++;
    int nres = 0;
    const int status = lua_resume(rec->lua_state, nullptr, 0, &nres);
    rec->resume_depth--;
    bool ok = status == LUA_YIELD;
    if (!ok) std::fprintf(stderr, "bench_budget: setup: %s\n", lua_tostring(rec->lua_state, -1));
    lua_settop(rec->lua_state, 0);
    cpu_cycles = 0;
    cpu_cycles_max = 0;
    restore_current_process(prev);
    return ok;
}

lua_Integer calls_so_far(process_rec *rec) {
    lua_State *L = rec->lua_state;
    lua_getglobal(L, "calls_made");
    const lua_Integer n = lua_tointeger(L, -1);
    lua_pop(L, 1);
    return n;
}

struct result {
    double ms_per_frame;
    double frames_of_charge;  // a frame, or more where nested slices ran beside it
    double calls_per_frame;
    double ms_per_call;
    double longest_frame_ms;
    bool failed;
};

result measure(const figure &f) {
    result r{0, 0, 0, 0, 0, true};
    const std::string code = std::string(f.setup) + " flip() calls_made = 0 while true do " + f.body +
                             " calls_made = calls_made + 1 end";
    process_rec *p = create_process_from_code(code.c_str(), "budget", "/budget.lua", "");
    if (!p) {
        std::fprintf(stderr, "bench_budget: %s does not load\n", f.name);
        return r;
    }
    const int64_t id = p->id;
    write_bytes_proc(p, 0x8000, default_coltabs, sizeof default_coltabs);
    const uint8_t masks[4] = {0x3F, 0x3F, 0x3F, 0x3F};
    write_bytes_proc(p, REG_READ_MASK, masks, 4);
    if (!run_setup(p)) {
        kill_process(p);
        return r;
    }
    double spent = 0;
    int frames = 0;
    double charged = 0;  // frames of charge: the process's cycles with its nested slices'
    lua_Integer calls0 = 0;
    double longest = 0;
    const int measured = f.long_call ? LONG_CALL_FRAMES : MEASURED_FRAMES;
    for (int i = 0; i < WARMUP_FRAMES + measured; i++) {
        if (i == WARMUP_FRAMES) {
            calls0 = calls_so_far(p);
            spent = 0;
            frames = 0;
            charged = 0;
        }
        const double t0 = thread_ms();
        prepare_processes_for_frame();
        run_process_slice(p, 1.0);
        const bool live = process_is_live(p, id);
        if (live) charged += std::max(1.0, double(p->cycles_this_frame) / VM_FRAME_CYCLES);
        update_processes_after_frame();
        const double frame_ms = thread_ms() - t0;
        spent += frame_ms;
        if (i >= WARMUP_FRAMES) longest = std::max(longest, frame_ms);
        frames++;
        if (!live) {
            std::fprintf(stderr, "bench_budget: %s ended: %s\n", f.name, fstl_buf);
            return r;
        }
        if (i >= WARMUP_FRAMES && spent > MAX_CASE_SECONDS * 1e3) break;
    }
    const lua_Integer calls = calls_so_far(p) - calls0;
    kill_process(p);
    r.ms_per_frame = spent / frames;
    r.frames_of_charge = charged / frames;
    r.calls_per_frame = double(calls) / frames;
    r.ms_per_call = calls > 0 ? spent / double(calls) : spent;
    r.longest_frame_ms = longest;
    r.failed = false;
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    // Naming the method table links the real one in place of the fake
    // host's stand-in, so the processes get the typed-array methods.
    if (!userdata_methods[0].fn) die("no typed-array methods");
    fake_host::reset();
    app = app_state_rec{};
    config = config_rec{};
    config.headless = 1;
    config.network_access = 1;
    processes_init();
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    init_default_coltabs();
    while (process_id < FIRST_USER_PID) create_process_from_code("", "filler", "/filler.lua", "");
    while (get_process_count() > 0) kill_process_by_index(get_process_count() - 1);

    char tmpl[] = "/tmp/bench_budget_XXXXXX";
    if (!mkdtemp(tmpl)) die("no temporary folder");
    const std::string root = tmpl, drive = root + "/drive", appdata = root + "/appdata/";
    std::filesystem::create_directories(drive);
    std::filesystem::create_directories(appdata);
    std::snprintf(config.home_path, sizeof config.home_path, "%s", appdata.c_str());
    pdisk_set_pwd_source(process_pwd);
    pdisk_set_appdata_folder(appdata);
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    mount_host_path("/", (drive + "/").c_str());

    // What the scripts print stays out of the results.
    std::fflush(stdout);
    const int out_fd = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    FILE *out = fdopen(out_fd, "w");
    if (!out) die("no output");

    double worst = 0, longest_frame = 0;
    std::string worst_name = "none", longest_name = "none";
    std::vector<std::string> long_lines;
    int failures = 0;
    for (const figure &f : kFigures) {
        if (argc > 1 && !std::strstr(f.name, argv[1])) continue;
        std::fflush(stdout);
        const int file_fd = f.to_file ? open((root + "/printed").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600) : -1;
        dup2(file_fd >= 0 ? file_fd : null_fd, 1);
        const result r = measure(f);
        if (file_fd >= 0) close(file_fd);
        std::fflush(stdout);
        dup2(out_fd, 1);
        if (r.failed) {
            failures++;
            std::fprintf(out, "budget %s failed\n", f.name);
            std::fflush(out);
            continue;
        }
        const double ratio = r.ms_per_frame / r.frames_of_charge / FRAME_MS;
        std::fprintf(out, "budget %s cpu per frame: %.2f ms, calls per frame: %.2f, per call: %.4f ms\n", f.name,
                     r.ms_per_frame, r.calls_per_frame, r.ms_per_call);
        if (f.host_write) {
            char line[200];
            std::snprintf(line, sizeof line, "budget host write %s: ratio %.3f, longest frame %.1f ms", f.name, ratio,
                          r.longest_frame_ms);
            long_lines.push_back(line);
        } else if (f.long_call) {
            char line[200];
            std::snprintf(line, sizeof line, "budget long call %s: %.1f ms a call, longest frame %.1f ms, ratio %.3f",
                          f.name, r.ms_per_call, r.longest_frame_ms, ratio);
            long_lines.push_back(line);
        } else {
            std::fprintf(out, "budget %s ratio: %.3f, longest frame: %.1f ms\n", f.name, ratio, r.longest_frame_ms);
            if (r.longest_frame_ms > longest_frame) {
                longest_frame = r.longest_frame_ms;
                longest_name = f.name;
            }
            if (ratio / GOAL > worst) {
                worst = ratio / GOAL;
                worst_name = f.name;
            }
        }
        std::fflush(out);
    }
    for (const std::string &l : long_lines) std::fprintf(out, "%s\n", l.c_str());
    std::fprintf(out, "budget longest frame: %.1f ms (%s)\n", longest_frame, longest_name.c_str());
    std::fprintf(out, "budget worst call: %s\n", worst_name.c_str());
    std::fprintf(out, "budget worst goal margin: %.3f\n", worst);
    std::fflush(out);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    _exit(failures ? 1 : 0);  // the processes and files go with the program
}
