// CPU charges of the table functions, made after the work, in proportion to
// the elements moved or copied (a raising function pays for its error
// alone); and of the other library functions whose work grows with what they
// are given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "lua_harness.h"
#include "vm_hooks.h"

namespace {

struct ChargeCase {
    const char *setup;    // Lua run first (globals for the call)
    const char *call;     // "return f, args..." giving the function and its arguments
    int32_t cycles;       // cycles the call charges
    const char *check;    // Lua printing the state afterwards, or nullptr
    const char *printed;  // what `check` prints
};

struct Measured {
    int32_t cycles = -1;  // cycles charged by the call itself
    std::string error;    // the call's error message, "" when it returned
};

// A length of -5, from C so that taking it runs no instruction.
int length_minus_five(lua_State *L) {
    lua_pushinteger(L, -5);
    return 1;
}

// Runs `setup`, evaluates `call` into a function and its arguments, then calls
// that function directly from C: no instruction runs inside the measured span,
// so the difference of cpu_cycles is the function's own charge. The global
// `length_minus_five` is a C function usable as __len.
Measured measure(LuaHarness &h, const char *setup, const char *call) {
    Measured m;
    lua_State *L = h.L();
    lua_pushcfunction(L, length_minus_five);
    lua_setglobal(L, "length_minus_five");
    RunResult r = h.run(setup);
    if (r.status != LUA_OK) {
        m.error = "setup: " + r.error;
        return m;
    }
    std::string err = h.compile(call);
    if (!err.empty() || lua_pcall(L, 0, LUA_MULTRET, 0) != LUA_OK) {
        m.error = "call expression: " + (err.empty() ? std::string(lua_tostring(L, -1)) : err);
        lua_settop(L, 0);
        return m;
    }
    int nargs = lua_gettop(L) - 1;
    lua_gc(L, LUA_GCSTOP);  // the collector's steps are no part of the call's charge
    cpu_cycles = 1000;
    int status = lua_pcall(L, nargs, 0, 0);
    m.cycles = cpu_cycles - 1000;
    lua_gc(L, LUA_GCRESTART);
    if (status != LUA_OK) m.error = lua_tostring(L, -1);
    lua_settop(L, 0);
    return m;
}

const char *kFill1000 = "t = {} for i = 1, 1000 do t[i] = i end";
const char *kFill10 = "t = {} for i = 1, 10 do t[i] = i * 10 end";

const ChargeCase kCharges[] = {
    // insert: the number of elements moved up; appending is free
    {kFill1000, "return table.insert, t, 1, 0", 1000, "print(rawlen(t), t[1], t[2], t[1001])",
     "1001\t0\t1\t1000\n"},
    {kFill1000, "return table.insert, t, 'x'", 0, "print(rawlen(t), t[1001])", "1001\tx\n"},
    {kFill10, "return table.insert, t, 4, 'x'", 7, "print(t[3], t[4], t[5], t[11])",
     "30\tx\t40\t100\n"},
    {kFill10, "return table.insert, t, 11, 'x'", 1, nullptr, nullptr},  // 0 moved counts as 1
    {"t = {}", "return table.insert, t, 1, 'x'", 1, nullptr, nullptr},
    // remove: the number of elements moved down
    {kFill1000, "return table.remove, t, 1", 999, "print(rawlen(t), t[1], t[999])", "999\t2\t1000\n"},
    {kFill1000, "return table.remove, t", 1, "print(rawlen(t), t[999])", "999\t999\n"},
    {kFill10, "return table.remove, t, 8", 2, "print(t[8], t[9], t[10])", "90\t100\tnil\n"},
    {"t = {}", "return table.remove, t", 1, nullptr, nullptr},
    // pos = #t + 1 moves nothing and costs nothing
    {kFill10, "return table.remove, t, 11", 0, "print(rawlen(t))", "10\n"},
    // a read and a write outside the array part cost a cycle more each
    // (and the length's search over the hash part 81)
    {"t = {} for e = 40, 0, -1 do t[1 << e] = e end", "return table.remove, t, (1 << 40) - 100", 300 + 81,
     "print(t[(1 << 40) - 1], t[1 << 40])", "40\tnil\n"},
    // pack: 2 per value
    {"", "return table.pack, 'a', 'b', 'c'", 6, nullptr, nullptr},
    {"", "return table.pack, nil, nil", 4, nullptr, nullptr},
    {"", "return table.pack", 1, nullptr, nullptr},
    // unpack: 2 per value returned, nothing for an empty range
    {kFill10, "return table.unpack, t", 20, nullptr, nullptr},
    {kFill10, "return table.unpack, t, 3, 5", 6, nullptr, nullptr},
    {kFill10, "return table.unpack, t, -1, 1", 6, nullptr, nullptr},
    {kFill10, "return table.unpack, t, 5, 3", 0, nullptr, nullptr},
    {"t = {}", "return table.unpack, t", 0, nullptr, nullptr},
    // through a metamethod: 9 per value
    {"t = setmetatable({}, {__index = {1, 2, 3, 4}})", "return table.unpack, t, 1, 4", 36, nullptr, nullptr},
    // a length below zero from __len makes a negative count, which charges nothing
    {"t = setmetatable({}, {__len = length_minus_five})", "return table.insert, t, 1, 'x'",
     0, nullptr, nullptr},
    // concatenations and moves: a cycle an element (the first of a
    // concatenation free), and the destination's growth
    {kFill10, "return table.concat, t, ','", 9, nullptr, nullptr},
    {kFill10, "return table.move, t, 1, 10, 2", 10, nullptr, nullptr},
    // through a metamethod: 8 an element (the first free), and the bytes
    {"t = setmetatable({}, {__index = type})", "return table.concat, t, '', 1, 10", 9 * 8 + 50 / 32, nullptr, nullptr},
    // long ones pay as they go (1024 elements at a time) and for each
    // byte; the other libraries for each byte, element, slot or matcher step
    {"t = {} for i = 1, 400000 do t[i] = i end", "return table.move, t, 1, 400000, 1, {}", 596596, nullptr, nullptr},
    {"t = {} for i = 1, 100000 do t[i] = 'ab' end", "return table.concat, t", 106252, nullptr, nullptr},
    {"t = {} for i = 1, 65536 do t[i] = i end for i = 1, 65536 do t[i] = nil end", "return next, t", 8192, nullptr,
     nullptr},
    {"", "return string.rep, 'ab', 1 << 16", 12291, nullptr, nullptr},
    {"", "return string.rep, '', 1 << 40", 0, nullptr, nullptr},
    {"s = string.rep('1', 1 << 16)", "return tonumber, s", (1 << 16) / 8, nullptr,
     nullptr},  // too long for an integer: read as a float
    {"s = string.rep('z', 1 << 16)", "return tonumber, s, 36", (1 << 16) / 4, nullptr, nullptr},
    // a long string put into a message: its length found, copied twice
    {"t = setmetatable({}, {__name = string.rep('n', 1 << 16)})", "return tostring, t", (1 << 16) / 16 + (1 << 16) / 32, nullptr, nullptr},
    // a long float's text through a format: its length squared / 64, and its
    // bytes / 4; a short one only its bytes
    {"", "return string.format, '%99.99f', 1e308", 409 * 409 / 64 + 409 / 4, nullptr, nullptr},
    {"", "return string.format, '%.2f', 1 / 3", 4 / 4, nullptr, nullptr},
    {"s = string.rep('a', 1 << 16)", "return utf8.len, s", 8192, nullptr, nullptr},
    {"", "return utf8.char, 65, 66, 67, 68", 4 * 4, nullptr, nullptr},  // each code's text made and added
    {"s = string.rep('i', 1 << 16)", "return string.packsize, s", 1 << 16, nullptr, nullptr},  // a cycle an option
    // a replacement 4 steps, each position a match starts at 2
    {"s = string.rep('ab', 1 << 15)", "return string.gsub, s, 'a', 'xy'", 73728, nullptr, nullptr},
    // an optional item tries both ways, a lazy one each length: three steps a
    // way tried (a call and its return) besides its match
    {"s = string.rep('a', 1000)", "return string.find, s, 'a?a?a?a?b'", 19485, nullptr, nullptr},
    // a set's characters walked at each position: its end sought, a character tested
    {"s = string.rep('x', 1000) p = '[' .. string.rep('a', 1000) .. ']'", "return string.find, s, p", 188813, nullptr, nullptr},
    {"s = string.rep('a', 300)", "return string.find, s, '(.-)%1b'", 1199090, nullptr, nullptr},
    // a plain search: 4 steps a place its first character is found, and
    // the bytes scanned
    {"s = string.rep('x', 4096)", "return string.find, s, 'xy', 1, true", 4095 * 4 / 4 + 4096 / 32, nullptr, nullptr},
    // a finalizer's object is found among every object made since it
    {"old = {} keep = {} for i = 1, 10000 do keep[i] = {} end", "return setmetatable, old, {__gc = false}", 10006,
     nullptr, nullptr},
};

struct RaiseCase {
    const char *setup;
    const char *call;
    const char *message;  // the error the call raises (called from C, so the
                          // argument errors name the function by its global path)
    int64_t before = 0;   // the work done before the error
};

const RaiseCase kRaises[] = {
    {kFill10, "return table.insert, t, 0, 'x'", "bad argument #2 to 'table.insert' (position out of bounds)"},
    {kFill10, "return table.insert, t, 12, 'x'",
     "bad argument #2 to 'table.insert' (position out of bounds)"},
    {kFill10, "return table.insert, t, 1, 2, 3", "wrong number of arguments to 'insert'"},
    {kFill10, "return table.insert, t", "wrong number of arguments to 'insert'"},
    {kFill10, "return table.remove, t, 12", "bad argument #1 to 'table.remove' (position out of bounds)"},
    {kFill10, "return table.remove, t, 0", "bad argument #1 to 'table.remove' (position out of bounds)"},
    {kFill10, "return table.unpack, t, 1, 100000000", "too many results to unpack"},
    {kFill10, "return table.unpack, t, math.mininteger, math.maxinteger",
     "too many results to unpack"},
    // more values than the stack limit leaves room for
    {kFill10, "return table.unpack, t, 1, 200000", "too many results to unpack"},
    // the elements read through a metamethod before the one that is no string
    {"t = setmetatable({}, {__index = {'a', 'b', 'c'}})", "return table.concat, t, '', 1, 9",
     "invalid value (nil) at index 4 in table for 'concat'", 4 * 8},
};

// The debug library's and error messages' scans, each measured with the
// code it reads or the stack it walks at N and at 2N (setup and call with
// $N, $DEAD for N instructions, $LOCALS for N variables' records): the
// larger pays exactly for what it adds, 2 instructions or records a cycle,
// 2 frames a cycle.
struct ScanCase {
    const char *what;
    const char *setup;
    const char *call;
    int n;          // a multiple of 2048, the scans' charges' unit
    int32_t extra;  // cycles the call pays at 2N over N
};

const char *kDeepCoroutine =
    "co = coroutine.create(function(n) local function D(n) if n > 0 then D(n - 1) else coroutine.yield() end end D(n) end) "
    "coroutine.resume(co, $N)";

const ScanCase kScans[] = {
    {"a level walked to", kDeepCoroutine, "return debug.getinfo, co, $N, 'l'", 2048, 2048 / 2},
    {"a traceback's frames walked", kDeepCoroutine, "return debug.traceback, co", 2048, 2048 / 2},
    // the call's register and the table it was read from: two scans
    {"a function's name sought in its caller's code",
     "co = coroutine.create(function() local a if a then $DEAD end coroutine.yield() end) coroutine.resume(co)",
     "return debug.getinfo, co, 0, 'n'", 2048, 2048},
    {"an error's value named in its function's code",
     "t = {} E = function() local a if a then $DEAD end return t.nope.x end", "return pcall, E", 2048, 2048},
    {"a local's name sought among the variables' records",
     "co = coroutine.create(function() $LOCALS coroutine.yield() end) coroutine.resume(co)",
     "return debug.getlocal, co, 1, 1", 2048, 2048 / 2},
};

// 'text' with $N, $DEAD and $LOCALS for size n.
std::string sized(std::string text, int n) {
    std::string dead, locals;
    for (int i = 0; i < n; i++) {
        dead += "a = 1 ";
        locals += "do local x end ";
    }
    const std::pair<std::string, std::string> subs[] = {{"$N", std::to_string(n)}, {"$DEAD", dead}, {"$LOCALS", locals}};
    for (const auto &[from, to] : subs)
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

TEST(TableCharges, TheDebugLibrarysScansPayForWhatTheyRead) {
    for (const ScanCase &c : kScans) {
        int32_t cycles[2] = {};
        for (int k = 0; k < 2; k++) {
            LuaHarness h;
            const int n = c.n << k;
            Measured m = measure(h, sized(c.setup, n).c_str(), sized(c.call, n).c_str());
            EXPECT_EQ(m.error, "") << c.what;
            cycles[k] = m.cycles;
        }
        EXPECT_EQ(cycles[1] - cycles[0], c.extra) << c.what << ": " << cycles[0] << " then " << cycles[1];
    }
}

TEST(TableCharges, EachFunctionChargesItsWorkAfterDoingIt) {
    for (const ChargeCase &c : kCharges) {
        LuaHarness h;
        Measured m = measure(h, c.setup, c.call);
        EXPECT_EQ(m.error, "") << c.call;
        EXPECT_EQ(m.cycles, c.cycles) << c.call;
        if (c.check) {
            RunResult r = h.run(c.check);
            EXPECT_EQ(r.output, c.printed) << c.call;
        }
    }
}

TEST(TableCharges, FunctionsThatRaiseChargeTheirMessageAndTheWorkBeforeIt) {
    for (const RaiseCase &c : kRaises) {
        LuaHarness h;
        Measured m = measure(h, c.setup, c.call);
        EXPECT_EQ(m.error, c.message) << c.call;
        EXPECT_EQ(m.cycles, c.before + std::max<int64_t>(1, std::strlen(c.message) / VM_MESSAGE_BYTES_PER_CYCLE))
            << c.call;
    }
}

TEST(TableCharges, PackRecordsTheCountInFieldN) {
    LuaHarness h;
    RunResult r = h.run("local p = table.pack(1, nil, 3, nil) print(p.n, p[1], p[3], p[4])");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "4\t1\t3\tnil\n");
}
