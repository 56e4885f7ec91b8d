// The script API's calls against baselines measured in the same process:
// each figure runs N calls in a numeric for loop inside one process (the
// budget refilled at every yield), the same loop with the standard library's
// call or a C baseline, and the same loop without any call; the three are
// interleaved over 5 rounds and their medians taken. Per-call time is (loop
// - empty loop) / N; the ratio is ours / baseline, lower is better. Prints
// "script <figure> ratio: R (goal G)" per figure and last
// "script worst goal margin: M", the largest ratio / goal.
#include <md5.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_host.h"
#include "lua.hpp"
#include "process.h"
#include "vm_hooks.h"

namespace {

inline constexpr int kRounds = 5;

struct figure {
    const char *name;
    double goal;
    long n;             // calls per loop
    const char *setup;  // runs before the loop, in all three
    const char *ours;   // the loop body with our call
    const char *base;   // the loop body with the baseline
    const char *empty;  // the loop body without a call
};

// Shared set-up texts.
#define F_ARGS "local x, y, z = 3.7, -1.25, 0.6 "
#define TABLE_1000 "local t = {} for j = 1, 1000 do t[j] = j end "
#define TABLES_1000 "local ts = {} for k = 1, N do local t = {} for j = 1, 1000 do t[j] = j end ts[k] = t end "

const figure kFigures[] = {
    {"flr", 1.05, 2000000, F_ARGS, "local r = flr(x)", "local r = math.floor(x)", "local r = x"},
    {"ceil", 1.05, 2000000, F_ARGS, "local r = ceil(x)", "local r = math.ceil(x)", "local r = x"},
    {"abs", 1.05, 2000000, F_ARGS, "local r = abs(y)", "local r = math.abs(y)", "local r = y"},
    {"sqrt", 1.05, 2000000, F_ARGS, "local r = sqrt(x)", "local r = math.sqrt(x)", "local r = x"},
    {"atan2", 1.05, 2000000, F_ARGS, "local r = atan2(x, y)", "local r = math.atan(y, x)", "local r = x"},
    {"max", 1.00, 2000000, F_ARGS, "local r = max(x, y)", "local r = math.max(x, y)", "local r = x"},
    {"min", 1.00, 2000000, F_ARGS, "local r = min(x, y)", "local r = math.min(x, y)", "local r = x"},
    {"sin", 1.15, 2000000, F_ARGS, "local r = sin(z)", "local r = math.sin(z)", "local r = z"},
    {"cos", 1.15, 2000000, F_ARGS, "local r = cos(z)", "local r = math.cos(z)", "local r = z"},
    {"sgn", 1.05, 2000000, F_ARGS, "local r = sgn(y)", "local r = math.abs(y)", "local r = y"},
    {"mid", 0.45, 2000000, F_ARGS, "local r = mid(x, y, z)",
     "local r = math.max(math.min(x, y), math.min(math.max(x, y), z))", "local r = x"},
    {"rnd", 1.05, 2000000, "srand(1) ", "local r = rnd()", "local r = math.random()", "local r = i"},
    {"rnd_table", 0.80, 2000000, "srand(1) local t = {} for j = 1, 100 do t[j] = j end ",
     "local r = rnd(t)", "local r = t[math.random(#t)]", "local r = t"},
    {"chr_1", 1.05, 2000000, "", "local r = chr(65)", "local r = string.char(65)", "local r = i"},
    {"chr_8", 1.05, 1000000, "", "local r = chr(65, 66, 67, 68, 69, 70, 71, 72)",
     "local r = string.char(65, 66, 67, 68, 69, 70, 71, 72)", "local r = i"},
    {"ord", 1.05, 2000000, "local s = string.rep('abcdefgh', 8) ", "local r = ord(s, 5)",
     "local r = string.byte(s, 5)", "local r = s"},
    {"ord_64", 1.05, 200000, "local s = string.rep('abcdefgh', 8) ", "local r = ord(s, 1, 64)",
     "local r = string.byte(s, 1, 64)", "local r = s"},
    {"strindex", 1.00, 2000000, "local s = string.rep('abcdefgh', 8) ", "local r = _strindex(s, 7)",
     "local r = string.sub(s, 7, 7)", "local r = s"},
    {"tokenoid", 1.50, 0 /* the tokens */, "local s, starts, ends, states = source_text() N = #starts ",
     "local r = tokenoid(s, starts[i], states[i])", "local r = string.sub(s, starts[i], ends[i])",
     "local r = starts[i]"},
    {"split", 1.10, 5, "local s = csv_text() ", "local r = split(s, ',', false)", "local r = c_split(s)",
     "local r = s"},
    {"md5", 1.02, 3, "local s = string.rep('0123456789abcdef', 1 << 20) ", "local r = _md5(s)",
     "local r = c_md5(s)", "local r = s"},
    {"add", 1.05, 1000, TABLE_1000, "add(t, i)", "table.insert(t, i)", "local r = t"},
    {"add_front", 1.05, 1000, TABLE_1000, "add(t, i, 1)", "table.insert(t, 1, i)", "local r = t"},
    {"deli", 1.05, 1000, TABLE_1000, "deli(t)", "table.remove(t)", "local r = t"},
    {"deli_front", 1.05, 1000, TABLE_1000, "deli(t, 1)", "table.remove(t, 1)", "local r = t"},
    {"count", 0.60, 20000, TABLE_1000, "local r = count(t, 500)",
     "local r = 0 for j = 1, #t do if t[j] == 500 then r = r + 1 end end", "local r = t"},
    {"del", 0.60, 500, TABLES_1000, "del(ts[i], 500)",
     "local t = ts[i] for j = 1, #t do if t[j] == 500 then table.remove(t, j) break end end",
     "local t = ts[i]"},
    {"peek", 1.05, 2000000, "local s = string.rep('x', 4096) ", "local r = peek(0x30000 + (i & 4095))",
     "local r = string.byte(s, 1 + (i & 4095))", "local r = 1 + (i & 4095)"},
    {"peek_run", 1.20, 2000, "local s = string.rep('x', 4096) ", "local a = peek(0x30000, 4096)",
     "local a = string.byte(s, 1, 4096)", "local a = s"},
    {"poke_run", 1.20, 2000, "local t = {} for j = 1, 4096 do t[j] = j & 255 end ",
     "poke(0x30000, table.unpack(t))", "local r = string.char(table.unpack(t))", "local r = t"},
    {"memcpy", 1.10, 2000, "", "memcpy(0x100000, 0x200000, 1 << 20)", "c_memcpy()", "local r = i"},
};

[[noreturn]] void die(const std::string &what) {
    std::fprintf(stderr, "bench_script: %s\n", what.c_str());
    std::exit(1);
}

/* ---- baselines and inputs written in C ---- */

int c_split(lua_State *L) {
    size_t len = 0;
    const char *s = luaL_checklstring(L, 1, &len);
    lua_createtable(L, 0, 0);
    lua_Integer k = 0;
    size_t start = 0;
    for (size_t i = 0; i <= len; i++) {
        if (i == len || s[i] == ',') {
            lua_pushlstring(L, s + start, i - start);
            lua_rawseti(L, -2, ++k);
            start = i + 1;
        }
    }
    return 1;
}

int c_md5(lua_State *L) {
    size_t len = 0;
    const char *s = luaL_checklstring(L, 1, &len);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const uint8_t *>(s), len);
    uint8_t d[MD5_DIGEST_LENGTH];
    MD5Final(d, &ctx);
    char hex[2 * MD5_DIGEST_LENGTH];
    for (int i = 0; i < MD5_DIGEST_LENGTH; i++) std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    lua_pushlstring(L, hex, sizeof hex);
    return 1;
}

std::vector<char> copy_src(1 << 20, 'a'), copy_dst(1 << 20);

int c_memcpy(lua_State *) {
    std::memcpy(copy_dst.data(), copy_src.data(), copy_src.size());
    return 0;
}

// A 1 MB CSV text of short fields.
int csv_text(lua_State *L) {
    std::string s;
    for (int i = 0; s.size() < (1u << 20); i++) s += std::to_string(i * 7919 % 100000) + (i % 10 == 9 ? "\n" : ",");
    lua_pushlstring(L, s.data(), s.size());
    return 1;
}

// A 5,000-line Lua source and its tokens: the text, then the start, end and
// entry state of every token (as tokenoid scans it from the start).
const char *const kSourceMaker = R"(
local lines = {}
for i = 1, 5000 do
  lines[i] = ({
    "local function f%d(a, b) return a + b * 0x1f end",
    "  -- a comment about line %d",
    "  x = \"text %d\" .. y .. [[long]]",
    "  if t[%d] ~= nil then count = count + 1.5 end",
    "--[==[ opened %d",
    "]==] z = %d",
  })[i % 6 + 1]:format(i)
end
local s = table.concat(lines, "\n")
local starts, ends, states = {}, {}, {}
local pos, st = 1, 0
while pos <= #s do
  local tok, nx, cat, ns = tokenoid(s, pos, st)
  starts[#starts + 1], ends[#ends + 1], states[#states + 1] = pos, nx - 1, st
  pos, st = nx, ns or 0
end
return s, starts, ends, states
)";

/* ---- running loops ---- */

void refill() {
    cpu_cycles = 0;
    cpu_cycles_max = VM_FRAME_CYCLES;
    cpu_superyielding = 0;
}

// Runs the chunk 'code' (given N) to its end in a new thread of the process,
// refilling the budget at every yield; the seconds it took.
double run(process_rec *p, const std::string &code, long n) {
    lua_State *L = p->lua_state;
    lua_State *co = lua_newthread(L);
    if (luaL_loadstring(co, code.c_str()) != LUA_OK) die(lua_tostring(co, -1));
    lua_pushinteger(co, n);
    int nargs = 1, status, nres = 0;
    const auto t0 = std::chrono::steady_clock::now();
    do {
        refill();
        status = lua_resume(co, nullptr, nargs, &nres);
        nargs = 0;
        if (status == LUA_YIELD) lua_pop(co, nres);
    } while (status == LUA_YIELD);
    const auto t1 = std::chrono::steady_clock::now();
    if (status != LUA_OK) die(std::string(lua_tostring(co, -1)) + "\n" + code);
    lua_pop(L, 1);
    lua_gc(L, LUA_GCCOLLECT);
    return std::chrono::duration<double>(t1 - t0).count();
}

std::string loop(const figure &f, const char *body) {
    return std::string("local N = ... ") + f.setup + " for i = 1, N do " + body + " end";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    processes_init();
    process_rec *p = create_process_from_code("", "bench", "/bench.lua", "");
    if (!p) die("cannot create the process");
    cproc = p;
    lua_State *L = p->lua_state;
    lua_register(L, "c_split", c_split);
    lua_register(L, "c_md5", c_md5);
    lua_register(L, "c_memcpy", c_memcpy);
    lua_register(L, "csv_text", csv_text);
    // source_text() returns the text and token lists, made once here with
    // a budget that never runs out.
    if (luaL_loadstring(L, kSourceMaker) != LUA_OK) die(lua_tostring(L, -1));
    cpu_cycles = 0;
    cpu_cycles_max = 0x70000000;
    if (lua_pcall(L, 0, 4, 0) != LUA_OK) die(lua_tostring(L, -1));
    for (int k = 4; k >= 1; k--) lua_setglobal(L, ("source_" + std::to_string(k)).c_str());
    if (luaL_dostring(L, "function source_text() return source_1, source_2, source_3, source_4 end") != LUA_OK)
        die(lua_tostring(L, -1));

    double worst = 0;
    for (const figure &f : kFigures) {
        if (argc > 1 && std::strcmp(argv[1], f.name) != 0) continue;
        long n = f.n;
        if (n == 0) {  // the tokens
            lua_getglobal(L, "source_2");
            n = static_cast<long>(lua_rawlen(L, -1));
            lua_pop(L, 1);
        }
        std::vector<double> ours, base, empty;
        for (int r = 0; r < kRounds; r++) {
            ours.push_back(run(p, loop(f, f.ours), n));
            base.push_back(run(p, loop(f, f.base), n));
            empty.push_back(run(p, loop(f, f.empty), n));
        }
        const double e = median(empty);
        const double o = std::max(median(ours) - e, 1e-12), b = std::max(median(base) - e, 1e-12);
        const double ratio = o / b;
        worst = std::max(worst, ratio / f.goal);
        std::printf("script %s per call: %.1f ns, baseline %.1f ns\n", f.name, o / n * 1e9, b / n * 1e9);
        std::printf("script %s ratio: %.3f (goal %.2f)\n", f.name, ratio, f.goal);
        std::fflush(stdout);
    }
    std::printf("script worst goal margin: %.3f\n", worst);
    processes_init();
    return 0;
}
