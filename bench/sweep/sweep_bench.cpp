// The sweep: every function a user process receives (the globals of a fresh
// process, kernel-private ones included, the typed-array method table and the
// standard library but debug.sethook and debug.debug), each called in a user
// process with hostile and oversized argument tuples. For each tuple the
// figure is the real time per frame of charge: the main thread's CPU time of
// the calls over the cycles they were charged (a budget overrun counting no
// more than the slice debt the host keeps of it), against the same figure of
// a plain Lua loop timed in the same process: of a batch of calls, or of
// one call lasting 50 us or more by itself (the better of two such calls
// when it lasts under 5 ms). The goal is no call above 16
// times the loop. A tuple over 12 is measured again after a full collection
// when it would be its function's worst, and the lower figure counts.
//
// Each function runs in a child process of its own (forked, so that a crash,
// an exit or a hang ends only that child); several run at once. A call that
// runs past PIECE_STALL_NS of CPU time in one slice is stopped by a timer and
// reported with its tuple (a stall); the function's sweep goes on from the
// next tuple in a new child. The children's files live in a temporary folder,
// the SDL layer is the tests' fake (no host clipboard, no window), opening
// host paths runs a stub, and the network is a namespace of its own holding
// only loopback, where the system allows one; the loopback guard holds every
// connection and fetch to loopback either way.
//
// Prints a line per function, worst first: its worst tuple with the ratio,
// the time and charge of one call, and the worst ratio of each kind of tuple
// over the goal; then the stalls, the calls that ran long in one slice, and
// the tuples that ended the child or the process; last
// "sweep worst ratio: R (<call> <tuple>)".
// Usage: bench_sweep [-j N] [-v] [part of a name]; -v prints every tuple over
// the goal as it comes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "address_space.h"
#include "api_draw_state.h"
#include "app_state.h"
#include "boot_hooks.h"
#include "colour_tables.h"
#include "env.h"
#include "fake_sdl.h"
#include "host.h"
#include "lua.hpp"
#include "net_seam.h"
#include "pfile.h"
#include "pmount.h"
#include "process.h"
#include "slice.h"
#include "vm_hooks.h"

namespace {

/* ---- limits ---- */

inline constexpr double GOAL = 16.0;                       // ratio to the plain loop
inline constexpr double RETRY_AT = 12.0;                   // measured again after a full collection
inline constexpr int64_t ALONE_NS = 50'000;                // a first call this long is a figure by itself
inline constexpr int64_t AGAIN_NS = 5'000'000;             //   once more when shorter than this
inline constexpr int64_t BATCH_NS = 200'000;               // shorter calls: a batch of about this long
inline constexpr int64_t BATCH_MAX = 2000;                 // calls in a batch at most
inline constexpr int64_t PIECE_STALL_NS = 2'000'000'000;   // a call's run in one slice at most: then a stall
inline constexpr int64_t SLICE_GUARD_NS = 20'000'000'000;  // a slice's CPU time outside calls at most
inline constexpr int64_t LONG_PIECE_NS = 250'000'000;      // a call's longer run in one slice is listed
inline constexpr int64_t TUPLE_LIMIT_NS = 1'000'000'000;   // a call paying as it goes is cut after this
inline constexpr int64_t SLOW_CALL_NS = 250'000'000;       // two calls this slow with one value: the value
inline constexpr int SLOW_CALLS = 2;                        //   is not tried again with that function
inline constexpr int64_t FUNCTION_BUDGET_NS = 60'000'000'000;  // CPU time of one function's tuples
inline constexpr int WALL_STALL_MS = 30'000;               // a child silent this long is stopped
inline constexpr int MAX_STALLS = 6;                        // stalls before a function's sweep ends
inline constexpr int BASELINE_RUNS = 9;
inline constexpr int64_t FIRST_PID = 100;                   // no small number of a tuple names the caller

/* ---- the callees ---- */

struct callee {
    std::string name;     // as printed: "string.find", "ud:copy", "pod"
    std::string path;     // how the process reaches it: "string.find", "USERDATA.copy"; empty for pseudo
    std::string aliases;  // other names of the same function
    bool method = false;  // typed-array method: the method baselines
};

// Functions the library hands out rather than names: each tuple makes one.
const char *const kPseudo[] = {"string.gmatch iterator", "utf8.codes iterator", "coroutine.wrap function"};

/* ---- values, baselines, tuples ---- */

// cheap: with every baseline; big: with the core baselines; slow (a loop
// that never ends but at the watchdog): with two baselines.
enum value_class { CHEAP, BIG, SLOW };

struct value {
    const char *label;
    const char *expr;
    value_class cls;
    const char *kind;  // what it stands for, in the summary by kind
};

const value kValues[] = {
    // numbers
    {"0/0", "0/0", CHEAP, "number"},
    {"1/0", "1/0", CHEAP, "number"},
    {"-1/0", "-1/0", CHEAP, "number"},
    {"maxinteger", "math.maxinteger", CHEAP, "number"},
    {"mininteger", "math.mininteger", CHEAP, "number"},
    {"-1", "-1", CHEAP, "number"},
    {"-0.0", "-0.0", CHEAP, "number"},
    {"0.5", "0.5", CHEAP, "number"},
    {"2^26", "1 << 26", CHEAP, "number"},
    {"2^27", "1 << 27", CHEAP, "number"},
    {"2^31", "1 << 31", CHEAP, "number"},
    {"2^32", "1 << 32", CHEAP, "number"},
    {"2^40", "1 << 40", CHEAP, "number"},
    {"2^53", "1 << 53", CHEAP, "number"},
    {"-2^31", "-(1 << 31)", CHEAP, "number"},
    {"-2^53", "-(1 << 53)", CHEAP, "number"},
    {"2.0^63", "2.0^63", CHEAP, "number"},
    {"1e308", "1e308", CHEAP, "number"},
    {"65536", "65536", CHEAP, "number"},
    // strings (made once, kept)
    {"''", "''", CHEAP, "string"},
    {"2 MB of x", "V.s2m()", CHEAP, "long string"},
    {"70 KB of y", "V.s70k()", CHEAP, "long string"},
    {"70 KB numeral", "V.num70k()", CHEAP, "long numeral"},
    {"2 MB numeral", "V.num2m()", CHEAP, "long numeral"},
    {"1 MB hex numeral", "V.hex1m()", CHEAP, "long numeral"},
    {"1 MB of spaces, 1", "V.space1m()", CHEAP, "long numeral"},
    {"1 MB fraction numeral", "V.frac1m()", CHEAP, "long numeral"},
    {"2 MB UTF-8", "V.utf2m()", CHEAP, "long string"},
    {"2 MB of all bytes", "V.bin2m()", CHEAP, "long string"},
    {"2 MB of NULs", "V.nul2m()", CHEAP, "long string"},
    {"16,384-segment path", "V.deep()", CHEAP, "long path"},
    {"16,384 ../", "V.dots()", CHEAP, "long path"},
    {"2 MB path", "V.path2m()", CHEAP, "long path"},
    {"64 KB name", "V.name64k()", CHEAP, "long string"},
    {"2 MB pod text", "V.pod2m()", CHEAP, "long string"},
    {"1 MB code", "V.code1m()", CHEAP, "long string"},
    // tables
    {"400,000-entry array", "V.t400k()", BIG, "big table"},
    {"emptied 400,000-slot array", "V.emptied()", BIG, "big table"},
    {"200,000 string keys", "V.hash200k()", BIG, "big table"},
    {"200,000 strings", "V.strs200k()", BIG, "big table"},
    {"10,000-deep nesting", "V.nest()", BIG, "big table"},
    {"sparse, border 2^40", "V.sparse()", CHEAP, "big table"},
    {"__len 2^40", "setmetatable({1, 2, 3}, {__len = function() return 1 << 40 end})", CHEAP, "big table"},
    {"looping metamethods", "setmetatable({}, LOOPMT)", SLOW, "looping callback"},
    {"looping function", "LOOP", SLOW, "looping callback"},
    {"function", "function(...) return ... end", CHEAP, "other value"},
    {"coroutine", "coroutine.create(function() end)", CHEAP, "other value"},
    {"true", "true", CHEAP, "other value"},
    {"nil", "nil", CHEAP, "other value"},
    // typed arrays
    {"u8 1x1", "userdata('u8', 1, 1)", CHEAP, "typed array"},
    {"f64 65536", "V.f64_64k()", CHEAP, "typed array"},
    {"i32 65536 indices", "V.idx64k()", CHEAP, "typed array"},
    {"u8 4096x4096", "V.u8_big()", BIG, "typed array"},
    {"i16 4096x2048", "V.i16_big()", BIG, "typed array"},
    {"i32 2048x2048", "V.i32_big()", BIG, "typed array"},
    {"i64 2048x1024", "V.i64_big()", BIG, "typed array"},
    {"f64 2048x1024", "V.f64_big()", BIG, "typed array"},
    {"f64 2^21", "V.f64_long()", BIG, "typed array"},
    {"f64 262144x4 (2 MB rows)", "V.f64_wide()", BIG, "typed array"},
    {"u8 4194304x2", "V.u8_wide()", BIG, "typed array"},
    {"u8 2x4194304", "V.u8_tall()", BIG, "typed array"},
};

struct baseline {
    const char *name;
    const char *args[8];
    bool core;     // big values too
    bool slow_ok;  // slow values too
};

// The ordinary argument lists of globals. The zeros are given as many as the
// position tried needs; the others all eight.
const baseline kGlobalBaselines[] = {
    {"zeros", {"0", "0", "0", "0", "0", "0", "0", "0"}, true, true},
    {"ints", {"1", "2", "3", "4", "5", "6", "7", "8"}, true, false},
    {"strings", {"'abc'", "'b'", "1", "2", "3", "4", "5", "6"}, true, false},
    {"ram paths", {"'/ram/sweep/f.txt'", "'/ram/sweep/g.txt'", "'/ram/sweep'", "1", "2", "3", "4", "5"}, true, false},
    {"host paths", {"'/sweep/h.txt'", "'/sweep/i.txt'", "'/sweep'", "1", "2", "3", "4", "5"}, false, false},
    {"u8", {"userdata('u8', 16, 16)", "1", "2", "3", "4", "5", "6", "7"}, true, false},
    {"arrays", {"userdata('f64', 8, 8)", "userdata('f64', 8, 8)", "0", "0", "8", "8", "0", "0"}, true, false},
    {"tables", {"{1, 2, 3}", "{4, 5, 6}", "1", "2", "3", "4", "5", "6"}, true, true},
    {"function", {"function(...) return ... end", "1", "2", "3", "4", "5", "6", "7"}, false, false},
    {"batch off target", {"V.offrec()", "0", "4096", "12", "0", "0", "0", "0"}, false, false},
    {"batch", {"V.onrec()", "0", "256", "12", "0", "0", "0", "0"}, false, false},
    {"socket", {"TCP_PORT", "'127.0.0.1'", "1", "2", "3", "4", "5", "6"}, false, false},
    {"url", {"HTTP_URL", "'b'", "1", "2", "3", "4", "5", "6"}, false, false},
};

// The ordinary argument lists of typed-array methods: the receiver first.
const baseline kMethodBaselines[] = {
    {"zeros", {"0", "0", "0", "0", "0", "0", "0", "0"}, true, true},
    {"f64 scalar", {"userdata('f64', 16, 16)", "3", "true", "0", "0", "16", "1", "1"}, true, true},
    {"u8 operand", {"userdata('u8', 16, 16)", "userdata('u8', 16, 16)", "true", "0", "0", "16", "16", "16"}, true,
     false},
    {"index",
     {"userdata('i32', 6, 2)", "userdata('i32', 4, 1, '000000000000000b0000000500000007')", "nil", "0", "1", "2",
      "3", "4"},
     true, false},
    {"f64 operands", {"userdata('f64', 4, 4)", "userdata('f64', 4, 4)", "nil", "0", "0", "4", "4", "1"}, true,
     false},
    {"i64 scalar", {"userdata('i64', 64)", "7", "true", "0", "0", "64", "1", "1"}, true, false},
    {"u8 ints", {"userdata('u8', 16, 16)", "1", "2", "3", "4", "5", "6", "7"}, false, false},
    {"f64 long", {"V.f64_64k()", "V.f64_64k()", "true", "0", "0", "65536", "1", "1"}, false, false},
};

// Tuples made for one function by hand: the arguments a generic list cannot
// reach (catastrophic patterns, a child holding many tables, a folder of
// many files...). 'body' is a chunk returning the arguments; for a pseudo
// function, the function first.
struct special {
    const char *callee;
    const char *label;
    const char *body;
};

#define CATASTROPHE(n) "string.rep('a', 2000), string.rep('a?', " #n ") .. string.rep('a', " #n ") .. 'b'"

const special kSpecials[] = {
    // patterns
    {"string.find", "2000 a, (a?)^12 a^12 b", "return " CATASTROPHE(12)},
    {"string.find", "2000 a, (a?)^16 a^16 b", "return " CATASTROPHE(16)},
    {"string.find", "4 KB of a, (.-)%1b", "return string.rep('a', 4096), '(.-)%1b'"},
    {"string.find", "16 KB of x, x*y", "return string.rep('x', 16384), 'x*y'"},
    {"string.find", "64 KB of x, .-.-y", "return string.rep('x', 65536), '.-.-y'"},
    {"string.find", "2 MB, plain miss", "return V.s2m(), 'xy', 1, true"},
    {"string.find", "2 MB, [^x]", "return V.s2m(), '[^x]'"},
    {"string.find", "2 MB, %f[%a]y", "return V.s2m(), '%f[%a]y'"},
    {"string.find", "2 MB, 32 captures", "return V.s2m(), string.rep('(x)', 32) .. 'y'"},
    {"string.find", "2 MB, %b()", "return string.rep('(', 1 << 20), '%b()'"},
    {"string.match", "2000 a, (a?)^12 a^12 b", "return " CATASTROPHE(12)},
    {"string.match", "2000 a, (a?)^16 a^16 b", "return " CATASTROPHE(16)},
    {"string.match", "4 KB of a, (.-)%1b", "return string.rep('a', 4096), '(.-)%1b'"},
    {"string.match", "16 KB of x, x*y", "return string.rep('x', 16384), 'x*y'"},
    {"string.match", "2 MB, (.*)", "return V.s2m(), '(.*)'"},
    {"string.gmatch", "2000 a, (a?)^16 a^16 b", "return " CATASTROPHE(16)},
    {"string.gsub", "2000 a, (a?)^12 a^12 b", "return " CATASTROPHE(12) ", ''"},
    {"string.gsub", "2000 a, (a?)^16 a^16 b", "return " CATASTROPHE(16) ", ''"},
    {"string.gsub", "4 KB of a, (.-)%1b", "return string.rep('a', 4096), '(.-)%1b', ''"},
    {"string.gsub", "16 KB of x, x*y", "return string.rep('x', 16384), 'x*y', ''"},
    {"string.gsub", "2 MB, x to %0%0", "return V.s2m(), 'x', '%0%0'"},
    {"string.gsub", "2 MB, x to ''", "return V.s2m(), 'x', ''"},
    {"string.gsub", "2 MB, . to a table", "return V.s2m(), '.', {x = 'y'}"},
    {"string.gsub", "2 MB, '' to -", "return V.s2m(), '', '-'"},
    {"string.gsub", "2 MB, x to %1 x 8", "return V.s2m(), '(x)', '%1%1%1%1%1%1%1%1'"},
    {"string.gmatch iterator", "2000 a, (a?)^12 a^12 b", "return string.gmatch(" CATASTROPHE(12) ")"},
    {"string.gmatch iterator", "2000 a, (a?)^16 a^16 b", "return string.gmatch(" CATASTROPHE(16) ")"},
    {"string.gmatch iterator", "4 KB of a, (.-)%1b", "return string.gmatch(string.rep('a', 4096), '(.-)%1b')"},
    {"string.gmatch iterator", "2 MB, y", "return string.gmatch(V.s2m(), 'y')"},
    {"string.gmatch iterator", "2 MB, ''", "return string.gmatch(V.s2m(), '')"},
    // other string functions
    {"string.rep", "'', 2^26", "return '', 1 << 26"},
    {"string.rep", "'', 2^40", "return '', 1 << 40"},
    {"string.rep", "'', 2^26, ''", "return '', 1 << 26, ''"},
    {"string.rep", "x, 2^24", "return 'x', 1 << 24"},
    {"string.rep", "'', 2^26, x", "return '', 1 << 26, 'x'"},
    {"string.format", "%q of 2 MB of all bytes", "return '%q', V.bin2m()"},
    {"string.format", "%s of 2 MB", "return '%s', V.s2m()"},
    {"string.format", "1 MB of %%", "return string.rep('%%', 1 << 19)"},
    {"string.format", "%99.99f of 1e308", "return '%99.99f', 1e308"},
    {"string.format", "%a of 2^1000", "return string.rep('%a', 200), ARGS(200, 2.0^1000)"},
    {"string.format", "%s of __tostring",
     "return '%s', setmetatable({}, {__tostring = function() return V.s2m() end})"},
    {"string.packsize", "2 MB of i16", "return string.rep('i16', 1 << 18)"},
    {"string.packsize", "2 MB of !", "return string.rep('!', 1 << 21)"},
    {"string.pack", "s of 2 MB", "return 's', V.s2m()"},
    {"string.pack", "2 MB of x", "return string.rep('x', 1 << 21)"},
    {"string.pack", "i16 x 200", "return string.rep('i16', 200), ARGS(200)"},
    {"string.unpack", "2 MB of b", "return string.rep('b', 1 << 20), V.s2m()"},
    {"string.unpack", "2 MB of x", "return string.rep('x', 1 << 20), V.s2m()"},
    {"string.unpack", "z of 2 MB", "return 'z', V.s2m()"},
    {"string.byte", "2 MB, 1, 900,000", "return V.s2m(), 1, 900000"},
    {"string.char", "200 codes", "return ARGS(200, 65)"},
    {"string.dump", "a 1 MB chunk", "return load(V.code1m())"},
    {"string.dump", "a 1 MB chunk, stripped", "return load(V.code1m()), true"},
    {"string.reverse", "2 MB", "return V.s2m()"},
    {"string.upper", "2 MB", "return V.s2m()"},
    {"string.sub", "2 MB, 2, -2", "return V.s2m(), 2, -2"},
    {"string.len", "2 MB", "return V.s2m()"},
    // utf8
    {"utf8.len", "2 MB of UTF-8", "return V.utf2m()"},
    {"utf8.len", "2 MB of x", "return V.s2m()"},
    {"utf8.len", "2 MB lax", "return V.bin2m(), 1, -1, true"},
    {"utf8.offset", "2 MB of UTF-8, 2^20", "return V.utf2m(), 1 << 20"},
    {"utf8.offset", "2 MB of UTF-8, -2^20", "return V.utf2m(), -(1 << 20)"},
    {"utf8.offset", "2 MB of continuation bytes", "return string.rep('\\x80', 1 << 21), 0, 1 << 21"},
    {"utf8.codepoint", "2 MB, 1, 900,000", "return V.s2m(), 1, 900000"},
    {"utf8.char", "200 codes", "return ARGS(200, 0x10ffff)"},
    {"utf8.codes iterator", "2 MB of UTF-8",
     "local f, s, i = utf8.codes(V.utf2m()) return function() return f(s, i) end"},
    {"utf8.codes iterator", "2 MB of continuation bytes",
     "local f, s, i = utf8.codes(string.rep('\\x80', 1 << 21)) return function() return f(s, i) end"},
    // tables
    {"table.concat", "200,000 strings", "return V.strs200k()"},
    {"table.concat", "400,000 integers, ','", "return V.t400k(), ','"},
    {"table.concat", "200,000 strings, 2 MB separator", "return V.strs200k(), V.s2m()"},
    {"table.concat", "{} 1 to 2^40", "return {}, '', 1, 1 << 40"},
    {"table.move", "400,000 by one", "return V.t400k(), 1, 400000, 2"},
    {"table.move", "400,000 to a new table", "return V.t400k(), 1, 400000, 1, {}"},
    {"table.move", "2^40 nils", "return {}, 1, 1 << 40, 2"},
    {"table.move", "2^40 through __index",
     "return setmetatable({}, {__index = function() return 1 end}), 1, 1 << 40, 2"},
    {"table.insert", "400,000, at 1", "return V.t400k(), 1, 0"},
    {"table.remove", "400,000, at 1", "return V.t400k(), 1"},
    {"table.unpack", "{}, 1, 999,000", "return {}, 1, 999000"},
    {"table.unpack", "400,000", "return V.t400k()"},
    {"table.sort", "400,000", "return V.t400k()"},
    {"table.sort", "400,000, reversing", "return V.t400k(), function(a, b) return a > b end"},
    {"table.sort", "100,000 compared by __lt",
     "local mt = {__lt = function(a, b) return a[1] < b[1] end} local t = {} for i = 1, 100000 do t[i] = "
     "setmetatable({(i * 7919) % 100003}, mt) end return t"},
    {"table.sort", "200,000 strings", "return V.strs200k()"},
    {"table.sort", "a looping comparison", "return {3, 2, 1}, LOOP"},
    {"table.pack", "200 values", "return ARGS(200)"},
    {"deli", "i64 65,536, at 1", "return userdata('i64', 65536), 1"},
    {"next", "emptied 400,000-slot array", "return V.emptied()"},
    {"next", "emptied array, from its last key",
     "local t = V.t400k() for i = 1, 399999 do t[i] = nil end return t, 400000"},
    {"ipairs", "400,000", "return V.t400k()"},
    {"pairs", "emptied 400,000-slot array", "return V.emptied()"},
    {"rawlen", "emptied 400,000-slot array", "return V.emptied()"},
    {"select", "-1 of 250", "return -1, ARGS(250)"},
    // base functions
    {"tonumber", "2 MB numeral", "return V.num2m()"},
    {"tonumber", "2 MB numeral, base 36", "return V.num2m(), 36"},
    {"tonumber", "2 MB of x, base 36", "return V.s2m(), 36"},
    {"tonumber", "1 MB hex numeral", "return V.hex1m()"},
    {"tonumber", "1 MB of spaces, 1", "return V.space1m()"},
    {"tostring", "__tostring of 2 MB", "return setmetatable({}, {__tostring = function() return V.s2m() end})"},
    {"tostring", "__name of 2 MB", "return setmetatable({}, {__name = V.s2m()})"},
    {"print", "70 KB", "return V.s70k()"},
    {"print", "2 MB", "return V.s2m()"},
    {"print", "200 values", "return ARGS(200, 'abc')"},
    {"error", "2 MB, level 2", "return V.s2m(), 2"},
    {"assert", "false, 2 MB", "return false, V.s2m()"},
    {"load", "1 MB code", "return V.code1m()"},
    {"load", "a reader of one byte at a time",
     "local n = 0 return function() n = n + 1 if n < 200000 then return ' ' end end"},
    {"load", "a reader that never ends", "return function() return 'a=1 ' end"},
    {"load", "200 nested brackets", "return 'return ' .. string.rep('(', 190) .. '1' .. string.rep(')', 190)"},
    {"load", "1 MB long string", "return 'return [[' .. V.s2m() .. ']]'"},
    {"load", "1 MB of comment", "return '--[[' .. V.s2m() .. ']]'"},
    {"load", "2 MB of binary", "return V.bin2m()"},
    {"collectgarbage", "collect, 150,000 live tables", "LIVE = V.heap() return 'collect'"},
    {"collectgarbage", "step 0, 150,000 live tables", "LIVE = V.heap() return 'step', 0"},
    {"collectgarbage", "step 2^30, 150,000 live tables", "LIVE = V.heap() return 'step', 1 << 30"},
    {"collectgarbage", "generational, 150,000 live tables", "LIVE = V.heap() return 'generational'"},
    {"collectgarbage", "incremental, 150,000 live tables", "LIVE = V.heap() return 'incremental'"},
    {"collectgarbage", "count, 150,000 live tables", "LIVE = V.heap() return 'count'"},
    {"pcall", "a looping function", "return LOOP"},
    {"xpcall", "a looping handler", "return error, LOOP"},
    {"setmetatable", "__gc on 150,000 live tables", "LIVE = V.heap() return {}, {__gc = function() end}"},
    // coroutines
    {"coroutine.close", "a looping __close",
     "local co = coroutine.create(function() local x <close> = setmetatable({}, {__close = LOOP}) "
     "coroutine.yield() end) coroutine.resume(co) return co"},
    {"coroutine.wrap function", "a loop of 2^20", "return coroutine.wrap(function() for i = 1, 1 << 20 do end end)"},
    {"coroutine.wrap function", "a loop that never ends", "return coroutine.wrap(LOOP)"},
    {"coroutine.resume", "a loop that never ends", "return coroutine.create(LOOP)"},
    // debug
    {"debug.traceback", "2 MB message", "return V.s2m()"},
    {"debug.traceback", "a coroutine 190 deep",
     "local function d(n) if n == 0 then coroutine.yield() else d(n - 1) end end local co = coroutine.create(d) "
     "coroutine.resume(co, 190) return co, V.s2m()"},
    {"debug.getinfo", "a 1 MB chunk, L", "return load(V.code1m()), 'L'"},
    {"debug.getinfo", "a 1 MB chunk", "return load(V.code1m())"},
    // drawing
    {"tline3d", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 12, 0"},
    {"tline3d", "262,144 records, a sprite off the target",
     "local r = V.offrec() r[0] = 1 return r, 0, 1 << 18, 12, 0"},
    {"rectfill", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 5, 0"},
    {"circfill", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 4, 0"},
    {"line", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 5, 0"},
    {"pset", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 3, 0"},
    {"spr", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 6, 0"},
    {"sspr", "262,144 records off the target", "return V.offrec(), 0, 1 << 18, 12, 0"},
    {"print", "a 70 KB line", "return V.s70k(), 0, 0"},
    {"_print_zenscii", "2 MB", "return V.s2m(), 0, 0"},
    // typed arrays
    {"ud:copy", "count 0, 2^27 spans",
     "return userdata('u8', 16, 16), userdata('u8', 16, 16), true, 0, 0, 0, 1, 1, 1 << 27"},
    {"ud:copy", "2^27 spans of 1",
     "return userdata('u8', 16, 16), userdata('u8', 16, 16), true, 0, 0, 1, 0, 0, 1 << 27"},
    {"ud:sort", "u8 2 MB rows, by column 0", "local a = V.u8_wide2() return a, 0"},
    {"ud:sort", "f64 262144x4, by column 1",
     "local a = V.f64_wide() for i = 0, 3 do a:set(1, i, 4 - i) end return a, 1"},
    {"ud:sort", "f64 2^21 descending",
     "local a = V.f64_long() for i = 0, 255 do a[i * 8192] = -i end return a, nil, true"},
    {"ud:mod", "f64 2048x1024", "return V.f64_big(), 7, true"},
    {"ud:mod", "f64 2^21 by an array", "return V.f64_long(), V.f64_long(), true"},
    {"ud:row", "f64 4x2^19", "return userdata('f64', 4, 1 << 19), 1"},
    {"ud:column", "f64 2^19x4", "return userdata('f64', 1 << 19, 4), 1"},
    {"ud:row", "f64 2^19x4", "return userdata('f64', 1 << 19, 4), 1"},
    {"ud:column", "f64 4x2^19", "return userdata('f64', 4, 1 << 19), 1"},
    {"ud:matmul", "f64 1x2^20 by 2^20x1", "return userdata('f64', 1 << 20, 1), userdata('f64', 1, 1 << 20)"},
    {"ud:matmul", "f64 2^20x1 by 1x2^20", "return userdata('f64', 1, 1 << 20), userdata('f64', 1 << 20, 1)"},
    {"ud:matmul", "f64 1024x1024 squared", "local a = V.f64_big2() return a, a"},
    {"ud:take", "2^21 indices of 2^21", "return V.f64_long(), V.idx_long()"},
    {"ud:take", "65536 indices, runs of 256", "return V.f64_long(), V.idx64k(), nil, 0, 0, 256"},
    {"ud:lerp", "f64 2^21", "return V.f64_long(), 0, 1 << 21, 1"},
    {"ud:convert", "f64 2^21 to u8", "return V.f64_long(), 'u8'"},
    {"ud:transpose", "u8 4096x4096", "return V.u8_big()"},
    {"ud:blit", "u8 4096x4096 into itself", "local a = V.u8_big() return a, a"},
    {"ud:blit", "i64 2^20 into another", "return userdata('i64', 1 << 20), userdata('i64', 1 << 20)"},
    {"ud:__tostring", "u8 4096x4096", "return V.u8_big()"},
    {"ud:mutate", "u8 4096x4096 to f64", "return V.u8_big(), 'f64', 2048, 1024"},
    {"ud:set", "200 values", "return userdata('f64', 4096), 0, ARGS(200)"},
    {"ud:get", "2^21, 0, 2^21", "return V.f64_long(), 0, 1 << 21"},
    {"userdata", "u8 4096x4096 from 2 MB hex", "return 'u8', 4096, 4096, string.rep('ab', 1 << 20)"},
    {"userdata", "f64 2^21 from 2 MB of text", "return 'f64', 1 << 21, 1, V.s2m()"},
    {"vec", "200 values", "return 'f64', ARGS(200)"},
    // processes
    {"_kill_process", "a child holding 150,000 tables",
     "return CHILD('t = {} for i = 1, 150000 do t[i] = {} end while true do flip() end', 12)"},
    {"_kill_process", "a child with a looping __gc",
     "return CHILD('G = setmetatable({}, {__gc = LOOP}) while true do flip() end', 1)"},
    {"_kill_process", "a child with a looping __close",
     "return CHILD('local x <close> = setmetatable({}, {__close = LOOP}) while true do flip() end', 1)"},
    {"_run_process_slice", "a child that loops in a metamethod",
     "return CHILD('local t = setmetatable({}, {__index = LOOP}) pod(t)', 0), 1"},
    {"_run_process_slice", "a child that fails with a looping __close",
     "return CHILD('local x <close> = setmetatable({}, {__close = LOOP}) error(\"x\")', 0), 1"},
    {"_create_process_from_code", "1 MB code", "return V.code1m(), 'p', '/p.lua'"},
    {"_unmap_ram", "1 MB, 8 MB mapped",
     "MAPPED = userdata('u8', 4096, 2048) _map_ram(MAPPED, 0x800000) return userdata('u8', 1 << 20)"},
    {"_get_process_list", "200 processes", "for i = 1, 200 do _create_process_from_code('', 'p', '/p.lua') end"},
    {"send_message", "4 KB to self, 2000 queued",
     "local me = pid() for i = 1, 2000 do send_message(me, {event = 'x', data = string.rep('y', 4096)}) end return "
     "me, {event = 'x', data = string.rep('y', 4096)}"},
    {"_read_message", "2000 queued of 4 KB",
     "local me = pid() for i = 1, 2000 do send_message(me, {event = 'x', data = string.rep('y', 4096)}) end"},
    {"stat", "0, 150,000 live tables", "LIVE = V.heap() return 0"},
    {"stat", "3, 150,000 live tables", "LIVE = V.heap() return 3"},
    {"_signal", "38, 150,000 live tables", "LIVE = V.heap() return 38"},
    {"split", "a single byte, 150,000 live tables", "LIVE = V.heap() return 'a', ','"},
    {"split", "2 MB of commas", "return string.rep(',', 1 << 21), ','"},
    {"split", "2 MB, width 1", "return V.s2m(), 1"},
    {"split", "2 MB of 1,", "return string.rep('1,', 1 << 20), ','"},
    {"unpod", "2 MB pod text", "return V.pod2m()"},
    {"unpod", "1 MB of [[", "return '{' .. string.rep('{', 1 << 20)"},
    {"pod", "10,000-deep nesting", "return V.nest()"},
    {"pod", "200,000 string keys", "return V.hash200k()"},
    // files
    {"_fdelete", "a folder of 8,000 files",
     "mkdir('/ram/del') for i = 1, 8000 do store('/ram/del/f' .. i, i) end return '/ram/del'"},
    {"ls", "a folder of 8,000 files",
     "mkdir('/ram/many') for i = 1, 8000 do store('/ram/many/f' .. i, i) end return '/ram/many'"},
    {"cp", "a folder of 2,000 files",
     "mkdir('/ram/cpf') for i = 1, 2000 do store('/ram/cpf/f' .. i, i) end return '/ram/cpf', '/ram/cpg'"},
    {"cp", "a file to a 16,384-segment path", "return '/ram/sweep/f.txt', V.deep()"},
    {"cp", "a 16,384-segment path to a file", "return V.deep(), '/ram/sweep/c.txt'"},
    {"mkdir", "16,384 segments", "return V.deep()"},
    {"mkdir", "16,384 segments on the host drive", "return '/' .. string.rep('a/', 16384)"},
    {"store", "2 MB at a 16,384-segment path", "return V.deep() .. 'f', V.s2m()"},
    {"store", "2 MB on the host drive", "return '/sweep/big.bin', V.s2m()"},
    {"store", "2 MB of metadata", "return '/ram/sweep/m.txt', 'x', {title = V.s2m()}"},
    {"fetch", "a 2 MB file", "store('/ram/sweep/big.bin', V.s2m()) return '/ram/sweep/big.bin'"},
    {"fetch", "a 2 MB pod file", "store('/ram/sweep/big.pod', V.t400k()) return '/ram/sweep/big.pod'"},
    {"_fetch_metadata_from_file", "2 MB of metadata",
     "store('/ram/sweep/md.txt', 'x', {title = V.s2m()}) return '/ram/sweep/md.txt'"},
    {"_cache_store", "2 MB", "return 'sweep', 'big', V.s2m()"},
    {"_cache_fetch", "2 MB", "_cache_store('sweep', 'big', V.s2m()) return 'sweep', 'big'"},
    {"_fetch_anywhen", "a 16,384-segment path", "return V.deep() .. '@2024-01-01'"},
    {"mount", "16,384 segments", "return V.deep(), '/ram/sweep'"},
    // host
    {"_set_host_clipboard_text", "2 MB", "return V.s2m()"},
    {"_set_host_clipboard_text", "2 MB of UTF-8", "return V.utf2m()"},
    {"_get_host_clipboard_text", "2 MB there", "_set_host_clipboard_text(V.s2m())"},
    {"_set_userland_clipboard_text", "2 MB", "return V.s2m()"},
    {"_get_userland_clipboard_text", "2 MB there", "_set_userland_clipboard_text(V.s2m())"},
    {"_apply_system_settings", "60,000 keys", "local t = {} for i = 1, 60000 do t['key' .. i] = i end return t"},
    {"pal", "60,000 string keys", "local t = {} for i = 1, 60000 do t['key' .. i] = i end return t"},
    {"_open_host_path", "an https address", "return 'https://127.0.0.1/' .. string.rep('a', 1000)"},
    {"_open_host_path", "a host file", "return '/sweep/h.txt'"},
    {"_set_host_window_title", "2 MB", "return V.s2m()"},
    // sockets and fetches, on loopback
    {"_create_tcp_socket", "a listener on loopback", "return TCP_PORT, '127.0.0.1'"},
    {"_create_tcp_socket", "a closed port", "return CLOSED_PORT, '127.0.0.1'"},
    {"_create_tcp_socket", "listening, isolated", "assert(ISOLATED) return 40000 + math.random(1000), '*'"},
    {"_create_udp_socket", "loopback", "return UDP_PORT, '127.0.0.1'"},
    {"_write_socket", "2 MB to a listener", "return _create_tcp_socket(TCP_PORT, '127.0.0.1'), V.s2m()"},
    {"_write_socket", "2 MB over UDP", "return _create_udp_socket(UDP_PORT, '127.0.0.1'), V.s2m()"},
    {"_read_socket", "a socket with nothing", "return _create_tcp_socket(TCP_PORT, '127.0.0.1')"},
    {"_sock_status", "a socket", "return _create_tcp_socket(TCP_PORT, '127.0.0.1')"},
    {"_close_socket", "a socket", "return _create_tcp_socket(TCP_PORT, '127.0.0.1')"},
    {"_fetch_remote", "a closed loopback port", "return HTTP_URL"},
    {"_fetch_remote", "a 2 MB address", "return HTTP_URL .. V.s2m()"},
    {"_fetch_remote_result", "a job", "return _fetch_remote(HTTP_URL)"},
};

struct tuple {
    std::string label;  // what is printed
    std::string body;   // a chunk returning the arguments
    std::string value;  // the hostile value's label, or empty
    std::string kind;   // the value's kind, "own tuple", "live tables", "many globals" or "ordinary"
};

std::string join_args(const std::vector<std::string> &v) {
    std::string s;
    for (size_t i = 0; i < v.size(); i++) s += (i ? ", " : "") + v[i];
    return s;
}

// Every tuple of a function, in a fixed order: its own first, then those
// with many live tables, then the ordinary lists with one value changed.
std::vector<tuple> tuples_for(const callee &c) {
    std::vector<tuple> out;
    for (const special &s : kSpecials)
        if (c.name == s.callee) out.push_back({s.label, s.body, "", "own tuple"});
    if (c.path.empty()) return out;
    // With 150,000 live tables: the ordinary lists.
    for (const char *args : {"", "0", "0, 0", "1, 2, 3", "'abc', 'b'", "{1, 2, 3}, 1"})
        out.push_back({std::string("(") + args + ") with 150,000 live tables",
                       std::string("LIVE = V.heap() return ") + args, "", "live tables"});
    // Value by value, so that a value kept in the process serves all its
    // tuples before the next one needs the room.
    const baseline *bases = c.method ? kMethodBaselines : kGlobalBaselines;
    const size_t nbases = c.method ? std::size(kMethodBaselines) : std::size(kGlobalBaselines);
    for (size_t bi = 0; bi < nbases; bi++) {
        const baseline &b = bases[bi];
        std::vector<std::string> a(b.args, b.args + (bi == 0 ? 0 : 8));
        out.push_back({b.name + std::string(": (") + join_args(a) + ")", "return " + join_args(a), "", "ordinary"});
    }
    for (const value &v : kValues)
        for (size_t bi = 0; bi < nbases; bi++) {
            const baseline &b = bases[bi];
            if ((v.cls == BIG && !b.core) || (v.cls == SLOW && !b.slow_ok)) continue;
            for (int p = 0; p < 8; p++) {
                // The zeros are given as many as the position needs.
                std::vector<std::string> a(b.args, b.args + (bi == 0 ? p + 1 : 8)), labels = a;
                a[size_t(p)] = v.expr;
                labels[size_t(p)] = v.label;
                out.push_back({b.name + std::string(": (") + join_args(labels) + ")", "return " + join_args(a),
                               v.label, v.kind});
            }
        }
    // Last, as they stay: argument errors with 100,000 globals (and 20,000
    // more names in each library), where a message that names the function
    // searches the loaded modules.
    const char *const global_lists[] = {"{}", "{}, {}", "0, {}", "0, 0, {}", "'', {}, {}"};
    const char *const method_lists[] = {"{}", "userdata('u8', 4, 4), {}", "userdata('u8', 4, 4), 0, {}",
                                        "userdata('f64', 4, 4), {}, {}"};
    for (const char *args : c.method ? std::vector<const char *>(std::begin(method_lists), std::end(method_lists))
                                     : std::vector<const char *>(std::begin(global_lists), std::end(global_lists)))
        out.push_back({std::string("(") + args + ") with 100,000 globals, 20,000 names a library",
                       std::string("MANY_GLOBALS() return ") + args, "", "many globals"});
    return out;
}

/* ---- the process's own code ---- */

// The values, the fixtures and the driver. The driver asks NEXT for each
// tuple, makes its arguments, times one call and, when that is short, a
// batch, and hands the figures to RESULT.
const char kPrelude[] = R"LUA(
local BEGIN, FINISH, NEXT, RESULT, CLEAN, BASELINE = BEGIN, FINISH, NEXT, RESULT, CLEAN, BASELINE
local pcall, rawlen, next, getmetatable, setmetatable = pcall, rawlen, next, getmetatable, setmetatable
local rep, unpack, pack, move = string.rep, table.unpack, table.pack, table.move
local collectgarbage, userdata, ipairs = collectgarbage, userdata, ipairs
local dsetmetatable = debug.setmetatable
local SETTLE = SETTLE
-- A full collection, and the allocator's sorting of what it freed done now
-- rather than in the next call measured.
local function collect() collectgarbage() SETTLE() end
local STRING_MT = getmetatable('')
local draw = {_set_draw_target, camera, clip, pal, palt, fillp, color, cursor}

CACHE = {}
V = {}
local LIMIT = 22 * 1024 * 1024
-- A kept value of about 'bytes': made when first asked for, made again once
-- a call changed it; the others kept go when there is no room for it.
local function keep(name, bytes, make, valid)
  V[name] = function()
    local v = CACHE[name]
    local good = v ~= nil
    if good and valid then
      local ok, yes = pcall(valid, v)
      good = ok and yes
    end
    if not good then
      CACHE[name] = nil
      if collectgarbage('count') * 1024 + bytes > LIMIT then CACHE = {} collect() end
      v = make()
      CACHE[name] = v
    end
    return v
  end
end
-- A value made for each tuple: the kept ones go first when there is no room.
local function fresh(name, bytes, make)
  V[name] = function()
    if collectgarbage('count') * 1024 + bytes > LIMIT then CACHE = {} collect() end
    return make()
  end
end
local function bare(t) return getmetatable(t) == nil end
local function shape(w, h, ty)
  return function(a)
    local aw, ah, at = a:attribs()
    return aw == w and (h == nil or ah == h) and at == ty
  end
end

keep('s2m', 2 << 20, function() return rep('x', 1 << 21) end)
keep('s70k', 70000, function() return rep('y', 70000) end)
keep('num70k', 70000, function() return '1' .. rep('0', 70000) end)
keep('num2m', 2 << 20, function() return rep('9', 1 << 21) end)
keep('hex1m', 1 << 20, function() return '0x' .. rep('f', 1 << 20) end)
keep('space1m', 1 << 20, function() return rep(' ', 1 << 20) .. '1' end)
keep('frac1m', 1 << 20, function() return '0.' .. rep('0', 1 << 20) .. '1e5' end)
keep('utf2m', 2 << 20, function() return rep('\u{e9}', 1 << 20) end)
keep('bin2m', 2 << 20, function()
  local b = {}
  for i = 0, 255 do b[i + 1] = string.char(i) end
  return rep(table.concat(b), 8192)
end)
keep('nul2m', 2 << 20, function() return rep('\0', 1 << 21) end)
keep('deep', 32768, function() return '/ram/' .. rep('a/', 16384) end)
keep('dots', 49152, function() return rep('../', 16384) .. 'x' end)
keep('path2m', 2 << 20, function() return '/' .. rep('a/', 1 << 20) end)
keep('name64k', 65536, function() return '/ram/' .. rep('a', 1 << 16) end)
keep('pod2m', 2 << 20, function() return '{' .. rep('1,', 1 << 20) .. '}' end)
keep('code1m', 1 << 20, function() return rep('a=1;', 1 << 18) end)
local function array(n) local t = {} for i = 1, n do t[i] = i end return t end
keep('t400k', 7 << 20, function() return array(400000) end,
     function(t) return bare(t) and rawlen(t) == 400000 and t[1] == 1 end)
keep('emptied', 7 << 20, function() local t = array(400000) for i = 1, 400000 do t[i] = nil end return t end,
     function(t) return bare(t) and next(t) == nil end)
keep('hash200k', 14 << 20, function() local t = {} for i = 1, 200000 do t['k' .. i] = i end return t end,
     function(t) return bare(t) and t.k1 == 1 and t.k200000 == 200000 end)
keep('strs200k', 12 << 20, function() local t = {} for i = 1, 200000 do t[i] = 'abcdefghij' .. i end return t end,
     function(t) return bare(t) and rawlen(t) == 200000 end)
keep('nest', 1 << 20, function()
  local t = {}
  local c = t
  for i = 1, 10000 do local n = {} c[1] = n c = n end
  return t
end)
keep('heap', 13 << 20, function() local t = {} for i = 1, 150000 do t[i] = {} end return t end,
     function(t) return rawlen(t) == 150000 end)
V.sparse = function() local t = {} for e = 40, 0, -1 do t[1 << e] = e end return t end
keep('f64_64k', 1 << 19, function()
  local a = userdata('f64', 65536)
  for i = 0, 65535 do a[i] = (i * 7919) % 65536 * 0.5 end
  return a
end, shape(65536, nil, 'f64'))
keep('idx64k', 1 << 18, function()
  local a = userdata('i32', 65536)
  for i = 0, 65535 do a[i] = (i * 7919) % 65536 end
  return a
end, shape(65536, nil, 'i32'))
fresh('idx_long', 8 << 20, function()
  local a = userdata('i32', 1 << 21)
  for i = 0, (1 << 21) - 1, 64 do a[i] = i end
  return a
end)
fresh('u8_big', 16 << 20, function() return userdata('u8', 4096, 4096) end)
fresh('i16_big', 16 << 20, function() return userdata('i16', 4096, 2048) end)
fresh('i32_big', 16 << 20, function() return userdata('i32', 2048, 2048) end)
fresh('i64_big', 16 << 20, function() return userdata('i64', 2048, 1024) end)
fresh('f64_big', 16 << 20, function() return userdata('f64', 2048, 1024) end)
fresh('f64_big2', 8 << 20, function() return userdata('f64', 1024, 1024) end)
fresh('f64_long', 16 << 20, function() return userdata('f64', 1 << 21) end)
fresh('f64_wide', 8 << 20, function() return userdata('f64', 262144, 4) end)
fresh('u8_wide', 8 << 20, function() return userdata('u8', 1 << 22, 2) end)
fresh('u8_wide2', 16 << 20, function()
  local a = userdata('u8', 1 << 21, 8)
  for i = 0, 7 do a:set(0, i, 8 - i) end
  return a
end)
fresh('u8_tall', 8 << 20, function() return userdata('u8', 2, 1 << 22) end)
-- Batch records: far off the target (sprite 0 first), and on it.
keep('offrec', 1024, function()
  local r = userdata('f64', 16, 1)
  for i = 1, 15 do r[i] = -100000 end
  return r
end, shape(16, 1, 'f64'))
keep('onrec', 1024, function()
  local r = userdata('f64', 16, 1)
  for i = 0, 15 do r[i] = (i * 37) % 200 end
  return r
end, shape(16, 1, 'f64'))

LOOP = function() while true do end end
-- n values, each v (or 1 to n)
function ARGS(n, v)
  local t = {}
  for i = 1, n do t[i] = v or i end
  return table.unpack(t, 1, n)
end
-- A child running 'code' (LOOP its looping function), given 'slices' slices
-- a frame apart.
function CHILD(code, slices)
  local c = _create_process_from_code('local LOOP = function() while true do end end ' .. code, 'child', '/child.lua')
  for i = 1, slices do _run_process_slice(c, 1) flip() end
  return c
end
-- 100,000 globals and 20,000 more names in each library table, whichever
-- of them a search meets first.
function MANY_GLOBALS()
  if G100K then return end
  CACHE = {}
  collect()
  for i = 1, 100000 do rawset(_G, 'G' .. i, i) end
  for _, lib in ipairs{string, table, math, utf8, coroutine, debug} do
    for i = 1, 20000 do rawset(lib, 'G' .. i, i) end
  end
  G100K = true
end
LOOPMT = {}
for _, e in ipairs{'__index', '__newindex', '__len', '__call', '__eq', '__lt', '__le', '__concat', '__unm', '__add',
                   '__sub', '__mul', '__div', '__mod', '__pow', '__idiv', '__band', '__bor', '__bxor', '__shl',
                   '__shr', '__bnot', '__tostring', '__pairs'} do LOOPMT[e] = LOOP end

-- The fixtures: files on the RAM folder and the host drive, the draw target.
mkdir('/ram/sweep') store('/ram/sweep/f.txt', 'hello') store('/ram/sweep/g.pod', {1, 2, 3})
mkdir('/sweep') store('/sweep/h.txt', 'hello')
T = userdata('u8', 480, 270)
function RESET()
  LIVE = nil
  for i = 1, #draw do pcall(draw[i]) end
  pcall(draw[1], T)
  dsetmetatable(nil, nil) dsetmetatable(0, nil) dsetmetatable(true, nil) dsetmetatable(print, nil)
  dsetmetatable(coroutine.running(), nil) dsetmetatable('', STRING_MT)
  if collectgarbage('count') * 1024 > LIMIT then CACHE = {} end
end
RESET()

local function run(f, iters, r, first, protect)
  local n = r.n - first + 1
  local runner = iters == 1 and ONE[n] or (protect and MANYP or MANY)[n]
  if runner then return runner(f, iters, unpack(r, first, r.n)) end
  local a = move(r, first, r.n, 1, {})
  if iters == 1 then return ONEV(f, n, a) end
  return (protect and MANYPV or MANYV)(f, iters, n, a)
end

local function case(k, maker, f)
  local r = pack(pcall(maker))
  if not r[1] then RESULT(k, -1, 0, 0, 0, 0, false, r[2]) return end
  local first = 2
  if f == nil then f, first = r[2], 3 end
  local ns, c, ok = run(f, 1, r, first)
  if ns >= ALONE_NS and ns < AGAIN_NS then
    -- The first call may have met what making the tuple left (cold
    -- memory, a collector's debt): once more, and the better figure.
    local nsb, cb, okb = run(f, 1, r, first)
    if nsb * (c > 0 and c or 1) < ns * (cb > 0 and cb or 1) then ns, c, ok = nsb, cb, okb end
  end
  local ns2, c2, iters = 0, 0, 0
  if ns < ALONE_NS then
    iters = BATCH_NS // (ns > 150 and ns or 150)
    if iters > BATCH_MAX then iters = BATCH_MAX elseif iters < 2 then iters = 2 end
    local done = false
    if ok then
      local okb
      okb, ns2, c2 = pcall(run, f, iters, r, first, false)
      if not okb then FINISH() end
      done = okb
    end
    if not done then ns2, c2 = run(f, iters, r, first, true) end
  end
  return ns, c, ns2, c2, iters
end

if MEASURE_BASELINE then
  local function plain(n) local x = 0 for i = 1, n do x = x + i * 3 end return x end
  collect()
  for j = 1, BASELINE_RUNS do BEGIN() plain(60000) BASELINE(FINISH()) end
end

while true do
  local k, maker, f = NEXT()
  if not k then break end
  local ns, c, ns2, c2, iters = case(k, maker, f)
  if ns and RESULT(k, ns, c, ns2, c2, iters, false) then
    CLEAN() RESET() collect()
    ns, c, ns2, c2, iters = case(k, maker, f)
    if ns then RESULT(k, ns, c, ns2, c2, iters, true) end
  end
  CLEAN() RESET()
end
)LUA";

// The runners: one call, or a batch, of arity 0 to 8 (ONEV, MANYV and
// MANYPV beyond). A batch calls the function as a program would; where the
// first call raised, or a call of the batch does, each call is protected.
std::string runners() {
    std::string s =
        "ONE, MANY, MANYP = {}, {}, {}\nlocal BEGIN, FINISH, pcall, unpack = BEGIN, FINISH, pcall, table.unpack\n";
    for (int n = 0; n <= 8; n++) {
        std::string params, args;
        for (int i = 1; i <= n; i++) {
            params += ", a" + std::to_string(i);
            args += ", a" + std::to_string(i);
        }
        s += "ONE[" + std::to_string(n) + "] = function(f, iters" + params + ") BEGIN() local ok, e = pcall(f" + args +
             ") return FINISH(ok, e) end\n";
        s += "MANY[" + std::to_string(n) + "] = function(f, iters" + params + ") BEGIN() for i = 1, iters do f(" +
             args.substr(args.empty() ? 0 : 2) + ") end return FINISH() end\n";
        s += "MANYP[" + std::to_string(n) + "] = function(f, iters" + params +
             ") BEGIN() for i = 1, iters do pcall(f" + args + ") end return FINISH() end\n";
    }
    s += "function ONEV(f, n, a) BEGIN() local ok, e = pcall(f, unpack(a, 1, n)) return FINISH(ok, e) end\n";
    s += "function MANYV(f, iters, n, a) BEGIN() for i = 1, iters do f(unpack(a, 1, n)) end return FINISH() end\n";
    s += "function MANYPV(f, iters, n, a) BEGIN() for i = 1, iters do pcall(f, unpack(a, 1, n)) end return FINISH() "
         "end\n";
    return s;
}

/* ---- clocks ---- */

int64_t thread_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

int64_t wall_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1'000'000;
}

/* ---- the child: one function's tuples ---- */

struct worker_state {
    int fd = -1;                       // lines to the parent
    const callee *c = nullptr;
    const std::vector<tuple> *tuples = nullptr;
    size_t next = 0;                   // the next tuple handed out
    long cur = -1;                     // the tuple under way
    bool cur_done = true;
    bool finished = false;             // NEXT has run out
    bool in_call = false;              // between BEGIN and FINISH
    int64_t t0 = 0, c0 = 0;            // at BEGIN
    process_rec *p = nullptr;
    int64_t pid = 0;
    lua_State *L = nullptr;
    int target_ref = LUA_NOREF;
    int64_t acc = 0;                   // cycles charged in finished slices
    int64_t ctf_start = 0;             // p->cycles_this_frame at the slice's start
    double loop_ns_per_cycle = 0;      // the plain loop's figure
    std::vector<double> baseline;
    bool first_seen = false;           // the first call's outcome is kept
    bool first_ok = true;
    std::string first_err;
    double pending_ratio = 0, pending_ns = 0, pending_cycles = 0;  // before a retry
    double worst = 0;                  // the function's worst ratio so far
    int64_t slice_start_ns = 0;        // the running slice's start
    int64_t piece_ns = 0;              // the tuple's calls' longest run within one slice
    int64_t slice_end_ns = 0;          // the last slice's end
    int64_t outside_ns = 0;            // the host's time between slices since BEGIN
    int64_t slices = 0;                // slices run
    int64_t slices_at_begin = 0;
    int64_t spans = 0;                 // slices the last timed calls ran in, less one
    std::set<std::string> skip;        // values not tried again
    std::map<std::string, int> slow;
    int64_t budget_ns = 0;             // CPU time left for this function
    int64_t started_ns = 0;
    uint8_t registers[0x1000];
    std::string root;
    int tcp_port = 0, udp_port = 0, closed_port = 0;
    bool isolated = false;
};

worker_state W;

void send(const std::string &line) {
    std::string l = line + "\n";
    const char *s = l.c_str();
    size_t n = l.size();
    while (n) {
        const ssize_t w = write(W.fd, s, n);
        if (w <= 0) {
            if (errno == EINTR) continue;
            _exit(4);
        }
        s += w;
        n -= size_t(w);
    }
}

// Cycles charged so far: the finished slices, the running one's count (an
// overrun counts as far as the debt the host keeps of it) and the slices of
// children run inside it.
int64_t charge_now() {
    const int64_t own = std::min<int64_t>(cpu_cycles, int64_t{cpu_cycles_max} + MAX_CYCLE_DEBT_START);
    const int64_t nested = W.p ? int64_t{W.p->cycles_this_frame} - W.ctf_start : 0;
    return W.acc + std::max<int64_t>(own, 0) + nested;
}

// The watchdog: a call that ran PIECE_STALL_NS in one slice (or a slice that
// ran SLICE_GUARD_NS outside the calls) ends the child, its last words made
// without allocating.
void put_num(char *&o, int64_t v) {
    char b[24];
    int n = 0;
    if (v < 0) {
        *o++ = '-';
        v = -v;
    }
    do b[n++] = char('0' + v % 10);
    while ((v /= 10) && n < 23);
    while (n) *o++ = b[--n];
}

// "S tuple piece call cycles": the call's run in this slice, the call's
// time and charge so far (-1 for a slice that stalled outside a call).
void on_stall(int) {
    char line[128], *o = line;
    const int64_t now = thread_ns();
    *o++ = 'S';
    *o++ = ' ';
    put_num(o, W.cur);
    *o++ = ' ';
    put_num(o, now - (W.in_call ? std::max(W.slice_start_ns, W.t0) : W.slice_start_ns));
    *o++ = ' ';
    put_num(o, W.in_call ? now - W.t0 : -1);
    *o++ = ' ';
    put_num(o, W.in_call ? charge_now() - W.c0 : -1);
    *o++ = '\n';
    (void)!write(W.fd, line, size_t(o - line));
    _exit(3);
}

timer_t g_timer;

void arm(int64_t ns) {
    const itimerspec t{{0, 0}, {ns / 1'000'000'000, ns % 1'000'000'000}};
    timer_settime(g_timer, 0, &t, nullptr);
}

std::string clip_text(const char *s, size_t n) {
    std::string t(s, std::min<size_t>(n, 100));
    for (char &ch : t)
        if (ch == '\n' || ch == '\r' || ch == '\t' || uint8_t(ch) < 32 || uint8_t(ch) > 126) ch = ' ';
    return t;
}

/* the helpers the process calls */

int l_begin(lua_State *) {
    W.in_call = true;
    W.slices_at_begin = W.slices;
    W.c0 = charge_now();
    arm(PIECE_STALL_NS);
    W.outside_ns = 0;
    W.t0 = thread_ns();
    return 0;
}

int l_finish(lua_State *L) {
    const int64_t now = thread_ns(), ns = now - W.t0 - W.outside_ns;
    W.piece_ns = std::max(W.piece_ns, now - std::max(W.slice_start_ns, W.t0));
    const int64_t c = charge_now() - W.c0;
    W.in_call = false;
    W.spans = W.slices - W.slices_at_begin;
    arm(SLICE_GUARD_NS);
    if (!W.first_seen && lua_gettop(L) >= 1) {
        W.first_seen = true;
        W.first_ok = lua_toboolean(L, 1);
        size_t n = 0;
        const char *e = lua_type(L, 2) == LUA_TSTRING ? lua_tolstring(L, 2, &n) : nullptr;
        W.first_err = W.first_ok ? "" : e ? clip_text(e, n) : "(an error object)";
    }
    const bool ok = lua_gettop(L) < 1 || lua_toboolean(L, 1);
    lua_pushinteger(L, ns);
    lua_pushinteger(L, c);
    lua_pushboolean(L, ok);
    return 3;
}

// glibc sorts the chunks that free() left in its unsorted list into their
// bins at the next malloc that reaches them, up to 10,000 a malloc: after
// the driver's own collections, large requests do that sorting here. The
// block is written through a volatile pointer so that the pair stays.
int l_settle(lua_State *) {
    for (int i = 0; i < 64; i++) {
        volatile char *b = static_cast<volatile char *>(std::malloc(size_t{96} * 1024 + size_t(i) * 16));
        if (!b) break;
        b[0] = 0;
        std::free(const_cast<char *>(b));
    }
    return 0;
}

int l_baseline(lua_State *L) {
    const double ns = double(lua_tointeger(L, 1)), c = double(lua_tointeger(L, 2));
    if (c > 0) W.baseline.push_back(ns / c);
    if (W.baseline.size() == size_t(BASELINE_RUNS)) {
        std::vector<double> b = W.baseline;
        std::sort(b.begin(), b.end());
        W.loop_ns_per_cycle = b[b.size() / 2];
        char line[64];
        std::snprintf(line, sizeof line, "L %.6f", W.loop_ns_per_cycle);
        send(line);
    }
    return 0;
}

bool over_budget() { return thread_ns() - W.started_ns > W.budget_ns; }

int l_next(lua_State *L) {
    if (W.cur >= 0 && !W.cur_done) {
        send("X " + std::to_string(W.cur) + " the process ran its code again");
        W.cur_done = true;
    }
    const std::vector<tuple> &ts = *W.tuples;
    for (;;) {
        while (W.next < ts.size() && !ts[W.next].value.empty() && W.skip.count(ts[W.next].value)) W.next++;
        if (W.next >= ts.size() || over_budget()) {
            if (W.next < ts.size()) send("C " + std::to_string(W.next));
            W.finished = true;
            return 0;
        }
        const long k = long(W.next++);
        const tuple &t = ts[size_t(k)];
        W.cur = k;
        W.cur_done = false;
        W.first_seen = false;
        W.first_err.clear();
        W.pending_ratio = 0;
        W.piece_ns = 0;
        send("B " + std::to_string(k));
        if (luaL_loadbuffer(L, t.body.data(), t.body.size(), "=tuple") != LUA_OK) {
            send("U " + std::to_string(k) + " " + clip_text(lua_tostring(L, -1), 1000));
            lua_pop(L, 1);
            W.cur_done = true;
            continue;
        }
        lua_pushinteger(L, k);
        lua_insert(L, -2);
        if (W.target_ref != LUA_NOREF) lua_rawgeti(L, LUA_REGISTRYINDEX, W.target_ref);
        else lua_pushnil(L);
        return 3;
    }
}

// RESULT(k, ns1, c1, ns2, c2, iters, retry [, error]): true asks for the
// tuple again after a full collection.
int l_result(lua_State *L) {
    const long k = long(lua_tointeger(L, 1));
    const int64_t ns1 = lua_tointeger(L, 2), c1 = lua_tointeger(L, 3);
    const int64_t ns2 = lua_tointeger(L, 4), c2 = lua_tointeger(L, 5), iters = lua_tointeger(L, 6);
    const bool retry = lua_toboolean(L, 7);
    if (ns1 < 0) {
        size_t n = 0;
        const char *e = lua_type(L, 8) == LUA_TSTRING ? lua_tolstring(L, 8, &n) : "(an error object)";
        send("U " + std::to_string(k) + " " + clip_text(e, n));
        W.cur_done = true;
        return 0;
    }
    const double base = W.loop_ns_per_cycle > 0 ? W.loop_ns_per_cycle : 1;
    double ratio = 0, ns_call = double(ns1), cyc_call = double(c1);
    if (ns1 >= ALONE_NS) ratio = double(ns1) / double(std::max<int64_t>(c1, 1)) / base;
    if (iters > 0) {
        const double r2 = double(ns2) / double(std::max<int64_t>(c2, 1)) / base;
        if (r2 > ratio) {
            ratio = r2;
            ns_call = double(ns2) / double(iters);
            cyc_call = double(c2) / double(iters);
        }
    }
    // Measured again after a full collection (the collector's steps fall in
    // whichever call allocates) when it would be the function's worst.
    if (!retry && ratio > RETRY_AT && ratio > W.worst) {
        W.pending_ratio = ratio;
        W.pending_ns = ns_call;
        W.pending_cycles = cyc_call;
        lua_pushboolean(L, 1);
        return 1;
    }
    if (retry && W.pending_ratio > 0 && W.pending_ratio < ratio) {
        ratio = W.pending_ratio;
        ns_call = W.pending_ns;
        cyc_call = W.pending_cycles;
    }
    // A batch in which each call ended the slice (flip, a yield): no call
    // of it can run twice in a frame, so its ratio is no measure of it.
    const bool ends_slice = iters >= 4 && W.spans >= iters && cyc_call < FRAME_CYCLES / 2;
    if (!ends_slice) W.worst = std::max(W.worst, ratio);
    char line[400];
    std::snprintf(line, sizeof line, "R %ld %.4f %.0f %.1f %lld %d %d %s", k, ratio, ns_call, cyc_call,
                  (long long)W.piece_ns, ends_slice ? 1 : 0, W.first_ok ? 1 : 0, W.first_err.c_str());
    send(line);
    W.cur_done = true;
    const std::string &v = (*W.tuples)[size_t(k)].value;
    if (!v.empty() && ns_call > double(SLOW_CALL_NS) && ++W.slow[v] >= SLOW_CALLS) W.skip.insert(v);
    lua_pushboolean(L, 0);
    return 1;
}

// What a call may have changed that the next tuples rely on: the other
// processes, the draw-state registers, the colour tables and masks, the
// mappings, the working folder, the host's run flags, the collector.
int l_clean(lua_State *L) {
    process_rec *p = W.p;
    for (int32_t i = num_processes - 1; i >= 0; i--)
        if (i < num_processes && process[i] != p) kill_process_by_index(i);
    for (int w = 0; w < NUM_PAGES / 64; w++)
        for (uint64_t bits = p->mapped_pages[w]; bits; bits &= bits - 1) {
            const int pg = w * 64 + __builtin_ctzll(bits);
            unmap_page(p, pg);
            anchor_clear(L, ANCHOR_PAGE + pg);
        }
    write_bytes_proc(p, DRAW_STATE_ADDR, W.registers, sizeof W.registers);
    write_bytes_proc(p, 0x8000, default_coltabs, sizeof default_coltabs);
    const uint8_t masks[4] = {0x3F, 0x3F, 0x3F, 0x3F};
    write_bytes_proc(p, REG_READ_MASK, masks, 4);
    std::snprintf(p->pwd, sizeof p->pwd, "/");
    p->priority = 1.0;
    p->high_priority = 0;
    app.exclusive_pid = 0;
    app.exit_requested = 0;
    app.reboot_requested = 0;
    lua_gc(L, LUA_GCRESTART);
    lua_gc(L, LUA_GCINC, 0, 0, 0);
    return 0;
}

const char *process_pwd() { return cproc ? cproc->pwd : "/"; }

// A new process running the driver from the next tuple on.
void make_process() {
    if (process_id < FIRST_PID) process_id = int32_t(FIRST_PID);
    std::string code = runners() + kPrelude;
    W.p = create_process_from_code(code.c_str(), "sweep", "/sweep.lua", W.isolated ? "" : "sandboxed");
    if (!W.p) {
        send("F the sweep's process does not load");
        _exit(5);
    }
    W.pid = W.p->id;
    W.L = W.p->lua_state;
    W.target_ref = LUA_NOREF;
    write_bytes_proc(W.p, 0x8000, default_coltabs, sizeof default_coltabs);
    const uint8_t masks[4] = {0x3F, 0x3F, 0x3F, 0x3F};
    write_bytes_proc(W.p, REG_READ_MASK, masks, 4);
    for (uint32_t i = 0; i < sizeof W.registers; i++) W.registers[i] = uint8_t(peek_proc(W.p, DRAW_STATE_ADDR + i));
    remembered_process prev = remember_current_process();
    cproc = W.p;
    lua_State *L = W.L;
    lua_register(L, "BEGIN", l_begin);
    lua_register(L, "FINISH", l_finish);
    lua_register(L, "NEXT", l_next);
    lua_register(L, "RESULT", l_result);
    lua_register(L, "CLEAN", l_clean);
    lua_register(L, "BASELINE", l_baseline);
    lua_register(L, "SETTLE", l_settle);
    auto set_int = [&](const char *name, int64_t v) {
        lua_pushinteger(L, v);
        lua_setglobal(L, name);
    };
    set_int("ALONE_NS", ALONE_NS);
    set_int("AGAIN_NS", AGAIN_NS);
    set_int("BATCH_NS", BATCH_NS);
    set_int("BATCH_MAX", BATCH_MAX);
    set_int("BASELINE_RUNS", BASELINE_RUNS);
    set_int("TCP_PORT", W.tcp_port);
    set_int("UDP_PORT", W.udp_port);
    set_int("CLOSED_PORT", W.closed_port);
    lua_pushboolean(L, W.loop_ns_per_cycle == 0);
    lua_setglobal(L, "MEASURE_BASELINE");
    lua_pushboolean(L, W.isolated);
    lua_setglobal(L, "ISOLATED");
    const std::string url = "http://127.0.0.1:" + std::to_string(W.closed_port) + "/";
    lua_pushstring(L, url.c_str());
    lua_setglobal(L, "HTTP_URL");
    // The function under test, found as the program would find it.
    if (!W.c->path.empty()) {
        const std::string find = "local v = _G for part in string.gmatch(..., '[^.]+') do v = v[part] end return v";
        if (luaL_loadstring(L, find.c_str()) == LUA_OK) {
            lua_pushstring(L, W.c->path.c_str());
            // Outside a slice the count holds what the host charged there
            // (the closing of a process a tuple ended): the search starts
            // from nothing, or it would meet the watchdog.
            const int32_t outside = cpu_cycles;
            cpu_cycles = 0;
            const int status = lua_pcall(L, 1, 1, 0);
            cpu_cycles = outside;
            if (status == LUA_OK && lua_isfunction(L, -1)) {
                W.target_ref = luaL_ref(L, LUA_REGISTRYINDEX);
            } else {
                lua_pop(L, 1);
                send("F " + W.c->path + " is not a function");
                _exit(5);
            }
        }
    }
    restore_current_process(prev);
    W.acc = 0;
}

int loopback_socket(int type, bool listening) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    if (listening && listen(fd, 4096) != 0) return -1;
    const int port = ntohs(a.sin_port);
    if (!listening && type == SOCK_STREAM) close(fd);  // a port nobody listens on
    return port;
}

// The child's world: its own folders, the fake SDL, the loopback guard, the
// file system's mounts, a loopback listener.
void worker_setup(int slot) {
    const std::string w = W.root + "/w" + std::to_string(slot);
    std::error_code ec;
    std::filesystem::remove_all(w, ec);
    for (const char *d : {"/home", "/drive", "/appdata", "/desktop"}) std::filesystem::create_directories(w + d);
    setenv("HOME", (w + "/home").c_str(), 1);
    setenv("XDG_DATA_HOME", (w + "/home/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (w + "/home/.config").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", (w + "/desktop").c_str(), 1);
    setenv("PATH", (W.root + "/bin").c_str(), 1);
    unsetenv("http_proxy");
    unsetenv("https_proxy");
    unsetenv("HTTP_PROXY");
    unsetenv("HTTPS_PROXY");
    unsetenv("ALL_PROXY");
    unsetenv("all_proxy");
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    close(null_fd);

    platform_test::FakeSdl::install();
    net_install_loopback_guard();
    config = config_rec{};
    app = app_state_rec{};
    config.headless = 1;
    config.network_access = 1;
    config.volume = 192;
    std::snprintf(config.home_path, sizeof config.home_path, "%s/appdata/", w.c_str());
    std::snprintf(config.desktop_path, sizeof config.desktop_path, "%s/desktop", w.c_str());
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    sockets_init();
    processes_init();
    init_default_coltabs();
    pdisk_set_pwd_source(process_pwd);
    pdisk_set_appdata_folder(w + "/appdata/");
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    mount_host_path("/", (w + "/drive/").c_str());
    W.tcp_port = loopback_socket(SOCK_STREAM, true);
    W.udp_port = loopback_socket(SOCK_DGRAM, false);
    W.closed_port = loopback_socket(SOCK_STREAM, false);

    signal(SIGPIPE, SIG_IGN);
    signal(SIGXCPU, on_stall);
    sigevent ev{};
    ev.sigev_notify = SIGEV_THREAD_ID;
    ev.sigev_signo = SIGXCPU;
    ev._sigev_un._tid = int(gettid());
    if (timer_create(CLOCK_THREAD_CPUTIME_ID, &ev, &g_timer) != 0) {
        send("F no CPU timer");
        _exit(5);
    }
}

// Runs the function's tuples from 'start' on, a slice a frame, until they
// run out or the time given to the function does.
[[noreturn]] void run_worker() {
    W.started_ns = thread_ns();
    make_process();
    for (;;) {
        prepare_processes_for_frame();
        W.ctf_start = W.p->cycles_this_frame;
        arm(W.in_call ? PIECE_STALL_NS : SLICE_GUARD_NS);
        W.slice_start_ns = thread_ns();
        W.slices++;
        // The host's work between two slices (the frame's end and start) is
        // no call's: it is taken off a call that goes on over slices.
        if (W.in_call) W.outside_ns += W.slice_start_ns - std::max(W.slice_end_ns, W.t0);
        run_process_slice(W.p, 1.0);
        arm(0);
        W.slice_end_ns = thread_ns();
        if (W.in_call) W.piece_ns = std::max(W.piece_ns, thread_ns() - std::max(W.slice_start_ns, W.t0));
        const bool alive = process_is_live(W.p, W.pid) && W.p->state == PROC_RUNNING && W.p->lua_state == W.L;
        if (alive) {
            W.acc += int64_t{W.p->cycles_this_frame} - W.ctf_start + std::min(W.p->cycle_debt, MAX_CYCLE_DEBT_START);
            W.p->cycle_debt = 0;
            W.ctf_start = 0;
        }
        update_processes_after_frame();
        if (!alive) {
            if (W.finished) break;
            if (W.cur >= 0 && !W.cur_done) {
                send("X " + std::to_string(W.cur) + " the call ended the process");
                W.cur_done = true;
            }
            W.in_call = false;
            if (process_is_live(W.p, W.pid)) kill_process(W.p);
            for (int32_t i = num_processes - 1; i >= 0; i--) kill_process_by_index(i);
            W.p = nullptr;
            make_process();
            continue;
        }
        // A call that pays as it goes but goes on and on: cut, with the
        // figure it had come to.
        if (W.in_call && thread_ns() - W.t0 > TUPLE_LIMIT_NS) {
            const double base = W.loop_ns_per_cycle > 0 ? W.loop_ns_per_cycle : 1;
            const int64_t ns = thread_ns() - W.t0, c = std::max<int64_t>(charge_now() - W.c0, 1);
            char line[200];
            std::snprintf(line, sizeof line, "R %ld %.4f %lld %lld %lld 0 1 cut after %.1f s", W.cur,
                          double(ns) / double(c) / base, (long long)ns, (long long)c, (long long)W.piece_ns,
                          double(ns) / 1e9);
            send(line);
            W.cur_done = true;
            W.in_call = false;
            kill_process(W.p);
            for (int32_t i = num_processes - 1; i >= 0; i--) kill_process_by_index(i);
            W.p = nullptr;
            make_process();
        }
    }
    send("D");
    _exit(0);
}

/* ---- the census: the functions a fresh process has ---- */

[[noreturn]] void run_census() {
    process_rec *p = create_process_from_code("", "census", "/census.lua", "");
    if (!p) _exit(5);
    lua_State *L = p->lua_state;
    cproc = p;
    struct found {
        std::string name, path;
        bool method;
    };
    std::map<const void *, std::vector<found>> by_fn;
    std::vector<const void *> order;
    auto note = [&](const void *fn, const found &f) {
        if (!by_fn.count(fn)) order.push_back(fn);
        by_fn[fn].push_back(f);
    };
    lua_pushglobaltable(L);
    const int g = lua_gettop(L);
    lua_pushnil(L);
    while (lua_next(L, g)) {
        if (lua_type(L, -2) == LUA_TSTRING) {
            const std::string key = lua_tostring(L, -2);
            if (lua_isfunction(L, -1)) {
                note(lua_topointer(L, -1), {key, key, false});
            } else if (lua_istable(L, -1) && key != "_G") {
                const int t = lua_gettop(L);
                lua_pushnil(L);
                while (lua_next(L, t)) {
                    if (lua_type(L, -2) == LUA_TSTRING && lua_isfunction(L, -1)) {
                        const std::string member = lua_tostring(L, -2);
                        const bool method = key == "USERDATA";
                        const std::string name = method ? "ud:" + member : key + "." + member;
                        if (name != "debug.sethook" && name != "debug.debug")
                            note(lua_topointer(L, -1), {name, key + "." + member, method});
                    }
                    lua_pop(L, 1);
                }
            }
        }
        lua_pop(L, 1);
    }
    for (const void *fn : order) {
        std::vector<found> &names = by_fn[fn];
        // The plain name first, then the shorter, then the first in order.
        std::stable_sort(names.begin(), names.end(), [](const found &a, const found &b) {
            const bool ua = a.name[0] == '_', ub = b.name[0] == '_';
            if (ua != ub) return ub;
            if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
            return a.name < b.name;
        });
        std::string aliases;
        for (size_t i = 1; i < names.size(); i++) aliases += (i > 1 ? "," : "") + names[i].name;
        send("N " + names[0].name + " " + names[0].path + " " + (names[0].method ? "1" : "0") + " " +
             (aliases.empty() ? "-" : aliases));
    }
    for (const char *pseudo : kPseudo) send(std::string("N ") + pseudo + "\t");
    send("D");
    _exit(0);
}

/* ---- the parent ---- */

bool put_file(const char *path, const std::string &text) {
    const int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return ok;
}

// A network namespace of its own with loopback up: a listener on the
// any-address then takes no traffic from anywhere else.
bool isolate_network() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    put_file("/proc/self/setgroups", "deny");
    if (!put_file("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !put_file("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
        return false;
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "lo");
    const bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP | IFF_RUNNING, ioctl(s, SIOCSIFFLAGS, &ifr) == 0);
    if (s >= 0) close(s);
    return up;
}

std::string goal_text() {
    char b[16];
    std::snprintf(b, sizeof b, "%g", GOAL);
    return b;
}

std::string fmt_ratio(double r) {
    char b[32];
    std::snprintf(b, sizeof b, r >= 1000 ? "%.0f" : r >= 100 ? "%.1f" : "%.2f", r);
    return b;
}

// One tuple's figure: the ratio (for a stall, the least it can be), the
// time and charge of one call, the first call's error or a cut.
struct figure {
    double ratio = -1;
    long k = -1;
    double ns = 0, cycles = 0;
    std::string note;
    bool stalled = false;  // stopped by the watchdog: ns is the call's time so far
};

struct callee_run {
    callee c;
    std::vector<tuple> tuples;
    size_t next = 0;                       // where a new child starts
    figure worst;
    std::map<std::string, figure> by_kind;  // the worst of each kind of tuple
    int over = 0;                          // tuples over the goal
    std::vector<figure> stalls;
    std::vector<std::pair<long, double>> long_pieces;  // tuple, ms in one piece
    std::vector<std::string> events;                   // crashes, exits, silences
    std::set<std::string> skip;
    std::map<std::string, int> slow;
    int measured = 0, unmade = 0, ended = 0;
    int slice_enders = 0;                  // tuples whose every call ended the slice
    double slice_ender_ns = 0;             // the longest such call
    std::string unmade_example, ended_example;
    long cut_at = -1;
    int64_t cpu_ns = 0;                    // spent by its children so far
};

struct child {
    pid_t pid;
    int fd;
    size_t callee;
    std::string buf;
    int64_t last_ms;
    long cur = -1;
    bool got_done = false;
    bool killed_silent = false;
};

std::vector<double> g_loops;
std::string g_root;
bool g_isolated = false;
bool g_verbose = false;

pid_t fork_child(int slot, int *fd_out, const std::function<void()> &body) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        W.fd = fds[1];
        W.root = g_root;
        W.isolated = g_isolated;
        worker_setup(slot);
        body();
        _exit(0);
    }
    close(fds[1]);
    *fd_out = fds[0];
    return pid;
}

// A call that raised at once is filed as an error whatever its value was:
// what it costs is the error's making.
inline constexpr double ERROR_NS = 20'000;

void record(callee_run &r, const figure &f) {
    if (f.ratio > r.worst.ratio) r.worst = f;
    const bool error = f.note.rfind("raised", 0) == 0 && f.ns < ERROR_NS;
    figure &kind = r.by_kind[error ? "error" : r.tuples[size_t(f.k)].kind];
    if (f.ratio > kind.ratio) kind = f;
    r.over += f.ratio > GOAL;
}

std::string after_space(const char *s) {
    const char *sp = std::strchr(s, ' ');
    return sp ? sp + 1 : "";
}

void handle_line(callee_run &r, child &ch, const std::string &line) {
    if (line.empty()) return;
    const char kind = line[0];
    const char *rest = line.c_str() + std::min<size_t>(2, line.size());
    if (kind == 'B') {
        ch.cur = std::atol(rest);
    } else if (kind == 'L') {
        g_loops.push_back(std::atof(rest));
    } else if (kind == 'R') {
        long k = 0;
        double ratio = 0, ns = 0, cyc = 0;
        long long piece = 0;
        int ends = 0, ok = 1, used = 0;
        if (std::sscanf(rest, "%ld %lf %lf %lf %lld %d %d %n", &k, &ratio, &ns, &cyc, &piece, &ends, &ok, &used) < 7)
            return;
        if (piece > LONG_PIECE_NS) r.long_pieces.push_back({k, double(piece) / 1e6});
        figure f{ratio, k, ns, cyc, ok ? std::string(rest + used) : "raised: " + std::string(rest + used), false};
        if (f.note == "raised: ") f.note = "raised";
        r.measured++;
        if (ends) {
            r.slice_enders++;
            r.slice_ender_ns = std::max(r.slice_ender_ns, ns);
            r.next = size_t(k) + 1;
            return;
        }
        record(r, f);
        if (g_verbose && ratio > GOAL)
            std::printf("sweep over %s: ratio %s, %.1f us a call for %.0f cycles, %s%s\n", r.c.name.c_str(),
                        fmt_ratio(ratio).c_str(), ns / 1e3, cyc, r.tuples[size_t(k)].label.c_str(),
                        f.note.empty() ? "" : (" [" + f.note + "]").c_str());
        const std::string &v = r.tuples[size_t(k)].value;
        if (!v.empty() && ns > double(SLOW_CALL_NS) && ++r.slow[v] >= SLOW_CALLS) r.skip.insert(v);
        r.next = size_t(k) + 1;
    } else if (kind == 'U') {
        const long k = std::atol(rest);
        if (r.unmade++ == 0) r.unmade_example = r.tuples[size_t(k)].label + ": " + after_space(rest);
        r.next = size_t(k) + 1;
    } else if (kind == 'X') {
        const long k = std::atol(rest);
        if (r.ended++ == 0) r.ended_example = r.tuples[size_t(k)].label + ": " + after_space(rest);
        r.next = size_t(k) + 1;
    } else if (kind == 'S') {
        long k = 0;
        long long piece = 0, call = 0, cyc = 0;
        if (std::sscanf(rest, "%ld %lld %lld %lld", &k, &piece, &call, &cyc) == 4) {
            figure f;
            f.k = k;
            f.stalled = true;
            f.ns = double(call >= 0 ? call : piece);
            f.cycles = double(cyc);
            f.note = call >= 0 ? "" : "outside the call";
            r.stalls.push_back(f);
            if (k >= 0) {
                const std::string &v = r.tuples[size_t(k)].value;
                if (!v.empty()) r.skip.insert(v);
                r.next = size_t(k) + 1;
                ch.cur = -1;
            }
        }
    } else if (kind == 'C') {
        r.cut_at = std::atol(rest);
        r.next = r.tuples.size();
    } else if (kind == 'D') {
        ch.got_done = true;
    } else if (kind == 'F') {
        r.events.push_back(std::string("failed: ") + rest);
        r.next = r.tuples.size();
    }
}

}  // namespace

int main(int argc, char **argv) {
    int jobs = int(sysconf(_SC_NPROCESSORS_ONLN));
    std::string filter;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "-j") && i + 1 < argc) jobs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "-v")) g_verbose = true;
        else filter = argv[i];
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int64_t t_start = wall_ms();

    g_isolated = isolate_network();
    char tmpl[] = "/tmp/bench_sweep_XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::fprintf(stderr, "bench_sweep: no temporary folder\n");
        return 1;
    }
    g_root = tmpl;
    std::filesystem::create_directories(g_root + "/bin");
    {
        const std::string stub = g_root + "/bin/xdg-open";
        FILE *f = std::fopen(stub.c_str(), "w");
        if (f) {
            std::fputs("#!/bin/sh\nexit 0\n", f);
            std::fclose(f);
        }
        chmod(stub.c_str(), 0755);
    }
    signal(SIGPIPE, SIG_IGN);

    // The census.
    std::vector<callee> callees;
    {
        int fd = -1;
        const pid_t pid = fork_child(0, &fd, [] { run_census(); });
        std::string all;
        char buf[65536];
        for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) all.append(buf, size_t(n));
        close(fd);
        int status = 0;
        waitpid(pid, &status, 0);
        size_t at = 0;
        while (at < all.size()) {
            const size_t nl = all.find('\n', at);
            const std::string line = all.substr(at, nl - at);
            at = nl == std::string::npos ? all.size() : nl + 1;
            if (line.size() < 2 || line[0] != 'N') continue;
            callee c;
            const size_t tab = line.find('\t');
            if (tab != std::string::npos) {
                c.name = line.substr(2, tab - 2);
            } else {
                char name[256], path[256], aliases[1024];
                int method = 0;
                if (std::sscanf(line.c_str() + 2, "%255s %255s %d %1023s", name, path, &method, aliases) != 4) continue;
                c.name = name;
                c.path = path;
                c.method = method != 0;
                c.aliases = std::strcmp(aliases, "-") ? aliases : "";
            }
            callees.push_back(c);
        }
        if (callees.empty()) {
            std::fprintf(stderr, "bench_sweep: the census found no functions\n");
            return 1;
        }
    }
    std::sort(callees.begin(), callees.end(), [](const callee &a, const callee &b) { return a.name < b.name; });
    std::vector<callee_run> runs;
    for (const callee &c : callees) {
        if (!filter.empty() && c.name.find(filter) == std::string::npos &&
            c.aliases.find(filter) == std::string::npos)
            continue;
        callee_run r;
        r.c = c;
        r.tuples = tuples_for(c);
        runs.push_back(std::move(r));
    }
    size_t total_tuples = 0;
    for (const callee_run &r : runs) total_tuples += r.tuples.size();
    std::fprintf(stderr, "bench_sweep: %zu functions, %zu tuples, %d at once, network %s\n", runs.size(),
                 total_tuples, jobs, g_isolated ? "isolated" : "held to loopback by the guard");

    // The children: one function each, a new one from the next tuple after
    // a stall or a crash.
    std::vector<child> live;
    std::vector<int> free_slots;
    for (int s = jobs; s >= 1; s--) free_slots.push_back(s);
    std::map<pid_t, int> slot_of;
    size_t next_run = 0;
    std::vector<size_t> again;  // functions to go on with
    size_t finished = 0;
    auto start_child = [&](size_t ri) {
        callee_run &r = runs[ri];
        const int slot = free_slots.back();
        free_slots.pop_back();
        W.c = &r.c;
        W.tuples = &r.tuples;
        W.next = r.next;
        W.skip = r.skip;
        W.slow = r.slow;
        W.budget_ns = std::max<int64_t>(FUNCTION_BUDGET_NS - r.cpu_ns, 1);
        W.loop_ns_per_cycle = 0;
        W.worst = r.worst.ratio;
        int fd = -1;
        const pid_t pid = fork_child(slot, &fd, [] { run_worker(); });
        if (pid < 0) {
            std::fprintf(stderr, "bench_sweep: fork failed\n");
            std::exit(1);
        }
        slot_of[pid] = slot;
        live.push_back({pid, fd, ri, "", wall_ms(), -1, false, false});
    };
    while (finished < runs.size()) {
        while (int(live.size()) < jobs && (!again.empty() || next_run < runs.size())) {
            if (!again.empty()) {
                start_child(again.back());
                again.pop_back();
            } else {
                start_child(next_run++);
            }
        }
        std::vector<pollfd> pf;
        for (const child &ch : live) pf.push_back({ch.fd, POLLIN, 0});
        poll(pf.data(), pf.size(), 1000);
        const int64_t now = wall_ms();
        for (size_t i = 0; i < live.size(); i++) {
            child &ch = live[i];
            callee_run &r = runs[ch.callee];
            bool closed = false;
            if (pf[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                const ssize_t n = read(ch.fd, buf, sizeof buf);
                if (n <= 0) {
                    closed = true;
                } else {
                    ch.last_ms = now;
                    ch.buf.append(buf, size_t(n));
                    size_t nl;
                    while ((nl = ch.buf.find('\n')) != std::string::npos) {
                        handle_line(r, ch, ch.buf.substr(0, nl));
                        ch.buf.erase(0, nl + 1);
                    }
                }
            }
            if (!closed && now - ch.last_ms > WALL_STALL_MS) {
                kill(ch.pid, SIGKILL);
                ch.killed_silent = true;
                closed = true;
            }
            if (!closed) continue;
            close(ch.fd);
            int status = 0;
            rusage ru{};
            wait4(ch.pid, &status, 0, &ru);
            r.cpu_ns += int64_t(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1'000'000'000 +
                        int64_t(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1000;
            free_slots.push_back(slot_of[ch.pid]);
            slot_of.erase(ch.pid);
            if (!ch.got_done) {
                // Stalled (already noted), silent, or crashed: the tuple under
                // way is passed over and a new child goes on after it.
                if (ch.cur >= 0) {
                    std::string what;
                    if (ch.killed_silent) what = "silent for " + std::to_string(WALL_STALL_MS / 1000) + " s";
                    else if (WIFSIGNALED(status)) what = "crashed with signal " + std::to_string(WTERMSIG(status));
                    else what = "ended the host with status " + std::to_string(WEXITSTATUS(status));
                    r.events.push_back(r.tuples[size_t(ch.cur)].label + ": " + what);
                    r.next = size_t(ch.cur) + 1;
                }
                if (r.next < r.tuples.size() && r.stalls.size() < size_t(MAX_STALLS) && r.events.size() < 20 &&
                    r.cpu_ns < FUNCTION_BUDGET_NS) {
                    again.push_back(ch.callee);
                } else {
                    if (r.next < r.tuples.size()) r.cut_at = long(r.next);
                    finished++;
                }
            } else {
                finished++;
                std::fprintf(stderr, "bench_sweep: %zu/%zu %s: %s (%d tuples)\n", finished, runs.size(),
                             r.c.name.c_str(), r.worst.ratio >= 0 ? fmt_ratio(r.worst.ratio).c_str() : "-",
                             r.measured);
            }
            live.erase(live.begin() + long(i));
            pf.erase(pf.begin() + long(i));
            i--;
        }
    }

    // The report. A stall's ratio is the least it can be: its time so far
    // over its charge so far, against the loop.
    std::vector<double> loops = g_loops;
    std::sort(loops.begin(), loops.end());
    const double loop = loops.empty() ? 1 : loops[loops.size() / 2];
    std::printf("sweep plain loop: %.3f ms per frame of charge (median of %zu children)\n",
                loop * FRAME_CYCLES / 1e6, loops.size());
    for (callee_run &r : runs)
        for (figure &f : r.stalls)
            if (f.k >= 0 && f.note.empty()) {
                f.ratio = f.ns / std::max(f.cycles, 1.0) / loop;
                record(r, f);
            }
    std::vector<const callee_run *> order;
    for (const callee_run &r : runs) order.push_back(&r);
    std::stable_sort(order.begin(), order.end(),
                     [](const callee_run *a, const callee_run *b) { return a->worst.ratio > b->worst.ratio; });
    auto describe = [&](const callee_run &r, const figure &f) {
        char fig[200];
        if (f.stalled)
            std::snprintf(fig, sizeof fig, "ratio at least %s, stopped after %.2f s in one piece for %.0f cycles",
                          fmt_ratio(f.ratio).c_str(), f.ns / 1e9, f.cycles);
        else
            std::snprintf(fig, sizeof fig, "ratio %s, %.1f us a call for %.0f cycles", fmt_ratio(f.ratio).c_str(),
                          f.ns / 1e3, f.cycles);
        std::string d = std::string(fig) + ", " + r.tuples[size_t(f.k)].label;
        if (!f.note.empty()) d += " [" + f.note + "]";
        return d;
    };
    double worst = -1;
    std::string worst_text = "none";
    int above = 0;
    size_t tuples_run = 0;
    for (const callee_run *r : order) {
        tuples_run += size_t(r->measured);
        std::string line = "sweep " + r->c.name + (r->c.aliases.empty() ? "" : " (= " + r->c.aliases + ")") + ": ";
        line += r->worst.ratio >= 0 ? describe(*r, r->worst) : "no figure";
        line += "; " + std::to_string(r->measured) + " tuples, " + std::to_string(r->over) + " over " +
                goal_text();
        if (r->unmade) line += ", " + std::to_string(r->unmade) + " not made";
        if (r->slice_enders) {
            char fig[120];
            std::snprintf(fig, sizeof fig, ", %d where each call ended its slice (at most %.1f us a call)",
                          r->slice_enders, r->slice_ender_ns / 1e3);
            line += fig;
        }
        if (r->cut_at >= 0) line += ", cut at " + std::to_string(r->cut_at) + " of " + std::to_string(r->tuples.size());
        // The worst of each kind over the goal, worst first.
        std::vector<std::pair<double, std::string>> kinds;
        for (const auto &[kind, f] : r->by_kind)
            if (f.ratio > GOAL) kinds.push_back({f.ratio, kind});
        std::sort(kinds.rbegin(), kinds.rend());
        for (size_t i = 0; i < kinds.size(); i++)
            line += (i ? ", " : "; over " + goal_text() + " by kind: ") + kinds[i].second + " " +
                    fmt_ratio(kinds[i].first);
        std::printf("%s\n", line.c_str());
        if (r->worst.ratio > GOAL) above++;
        if (r->worst.ratio > worst) {
            worst = r->worst.ratio;
            worst_text = r->c.name + " " + r->tuples[size_t(r->worst.k)].label;
        }
    }
    for (const callee_run *r : order) {
        for (const figure &f : r->stalls)
            std::printf("sweep stall %s: %s\n", r->c.name.c_str(),
                        f.k < 0          ? "between tuples"
                        : f.note.empty() ? describe(*r, f).c_str()
                                         : (r->tuples[size_t(f.k)].label + ": outside the call").c_str());
        for (const auto &lp : r->long_pieces)
            std::printf("sweep long piece %s: %.0f ms, %s\n", r->c.name.c_str(), lp.second,
                        r->tuples[size_t(lp.first)].label.c_str());
    }
    for (const callee_run *r : order) {
        for (const std::string &e : r->events) std::printf("sweep event %s: %s\n", r->c.name.c_str(), e.c_str());
        if (r->ended)
            std::printf("sweep ended %s: %d tuples ended the process (out of memory, or the call ended it), as %s\n",
                        r->c.name.c_str(), r->ended, r->ended_example.c_str());
        if (r->unmade)
            std::printf("sweep not made %s: %d tuples, as %s\n", r->c.name.c_str(), r->unmade,
                        r->unmade_example.c_str());
    }
    std::printf("sweep functions: %zu, tuples measured: %zu, functions above %s: %d, %.0f s\n", runs.size(),
                tuples_run, goal_text().c_str(), above, double(wall_ms() - t_start) / 1e3);
    std::printf("sweep worst ratio: %s (%s)\n", worst >= 0 ? fmt_ratio(worst).c_str() : "-", worst_text.c_str());
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
    return 0;
}
