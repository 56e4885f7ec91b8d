// add, deli, del and count: results, errors, proxies, equality and lying
// lengths.
#include "pfile.h"
#include "pmount.h"
#include "seam_fakes.h"

namespace {

// __len functions from C, so that measuring a call runs no Lua instruction.
int len_2_31(lua_State *L) {
    lua_pushinteger(L, 0x7FFFFFFF);
    return 1;
}
int len_2_40(lua_State *L) {
    lua_pushinteger(L, int64_t{1} << 40);
    return 1;
}

}  // namespace

class TableCalls : public SeamTest {
  protected:
    process_rec *p = nullptr;
    void SetUp() override {
        SeamTest::SetUp();
        p = spawn("");
        define(p, "len_2_31", len_2_31);
        define(p, "len_2_40", len_2_40);
    }
    // Up to 'frames' whole slices of 'q', while it lives.
    static void run_frames(process_rec *q, int frames) {
        for (int i = 0; i < frames && process_slot(q) >= 0; i++) {
            prepare_processes_for_frame();
            run_process_slice(q, 1.0);
        }
    }
};

TEST_F(TableCalls, ResultsAndTheTablesLeftBehind) {
    struct Case {
        const char *code;  // a function body over t; its results, then t's contents
        const char *want;
    } cases[] = {
        {"t = {'a', 'b'} return add(t, 'x')", "x|a,b,x"},
        {"t = {'a', 'b'} return add(t, 'x', 1)", "x|x,a,b"},
        {"t = {'a', 'b'} return add(t, 'x', 3)", "x|a,b,x"},
        {"t = {'a', 'b'} return add(t, 'x', nil)", "x|a,b,x"},
        {"t = {'a', 'b'} return add(t, 'x', '2')", "x|a,x,b"},
        {"t = {'a', 'b'} return add(t)", "|a,b"},
        {"t = {1, 2, 3} return deli(t)", "3|1,2"},
        {"t = {1, 2, 3} return deli(t, 1)", "1|2,3"},
        {"t = {1, 2, 3} return deli(t, nil)", "|1,2,3"},
        {"t = {1, 2, 3} return deli(t, 0)", "|1,2,3"},
        {"t = {} return deli(t)", "|"},
        {"t = {1, 2, 3, 2} return del(t, 2)", "2|1,3,2"},
        {"t = {1, 2, 3, 2} return del(t, 9)", "|1,2,3,2"},
        {"t = {} return del(nil, 1), del(t)", "nil|"},
        {"t = {1, 2, 3, 2} return count(t, 2), count(t), count({}, 1), count('abc', 'a')", "2,4,0|1,2,3,2"},
        {"t = {1, nil, 3, nil, 5} return count(t, nil), count(t, 3)", "2,1|1,nil,3,nil,5"},
    };
    for (const Case &c : cases) {
        const std::string code = std::string("(function() local r = table.pack((function() ") + c.code +
                                 " end)()) local s = {} for i = 1, r.n do s[i] = tostring(r[i]) end "
                                 "local u = {} for i = 1, #t do u[i] = tostring(t[i]) end "
                                 "return table.concat(s, ',') .. '|' .. table.concat(u, ',') end)()";
        EXPECT_EQ(eval(p, code), c.want) << c.code;
    }
}

TEST_F(TableCalls, AddAndDeliRaiseTheTableLibrarysErrors) {
    struct Case {
        const char *call;
        const char *message;
    } cases[] = {
        {"pcall(add, 5, 1)", "bad argument #1 to 'add' (table expected, got number)"},
        {"pcall(add, {}, 'x', 2)", "bad argument #3 to 'add' (position out of bounds)"},
        {"pcall(add, {}, 'x', 0)", "bad argument #3 to 'add' (position out of bounds)"},
        {"pcall(add, {}, 'x', {})", "bad argument #3 to 'add' (position out of bounds)"},
        {"pcall(add, {}, 1, 2, 3)", "wrong number of arguments to 'insert'"},
        {"pcall(deli, 'abc')", "bad argument #1 to 'deli' (table expected, got string)"},
        {"pcall(deli, print)", "bad argument #1 to 'deli' (table expected, got function)"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, std::string("select(2, ") + c.call + ")"), c.message) << c.call;
    // add and deli honour a proxy with the three metamethods; del and count take tables only.
    EXPECT_EQ(eval(p, "(function() local store = {1, 2} local proxy = setmetatable({}, {"
                      "__index = store, __newindex = store, __len = function() return #store end}) "
                      "add(proxy, 9, 1) local r = deli(proxy) "
                      "return r, table.concat(store, ','), select('#', del(proxy, 9)), count(proxy, 9) end)()"),
              "2,9,1,0,0");
}

TEST_F(TableCalls, DelAndCountUseLuaEquality) {
    EXPECT_EQ(eval(p, "(function() local mt = {__eq = function(a, b) return a.k == b.k end} "
                      "local x, y, z = setmetatable({k = 1}, mt), setmetatable({k = 2}, mt), setmetatable({k = 1}, mt) "
                      "local t = {y, x} local r = del(t, z) return r == x, #t, count({x, y, x}, z) end)()"),
              "true,1,2");
    EXPECT_EQ(eval(p, "count({1, 1.0, '1'}, 1), del({'a', 'b'}, 'b')"), "2,b");
}

// A lying length that a raw scan would take minutes over: the calls work
// from the entries, with the results of a full scan, charging their work.
TEST_F(TableCalls, LyingLengthsFinishAtOnceWithTheSameResults) {
    eval(p, "t = setmetatable({1, 2, 3}, {__len = len_2_31})");
    EXPECT_EQ(results_of(p, "del", "t, 2"), "2");
    EXPECT_EQ(eval(p, "rawget(t, 1), rawget(t, 2), rawget(t, 3)"), "1,3,nil");
    EXPECT_EQ(results_of(p, "del", "t, 5"), "");
    eval(p, "u = setmetatable({1, 2, nil, 2}, {__len = len_2_40})");
    EXPECT_EQ(results_of(p, "count", "u, 2"), "2");
    EXPECT_EQ(results_of(p, "count", "u, nil"), "1099511627773");
    EXPECT_EQ(results_of(p, "count", "u"), "1099511627776");
    // Three slots: a pass over them each, a sort of two keys, three sets.
    EXPECT_EQ(charge_of(p, "del", "setmetatable({1, 2, 3}, {__len = len_2_31}), 2"), 3 + 3 + 2 + 3);
    EXPECT_EQ(charge_of(p, "count", "setmetatable({1, 2, 3}, {__len = len_2_40}), 2"), 3);
    EXPECT_EQ(charge_of(p, "count", "setmetatable({1, 2, 3}, {__len = len_2_40})"), 1);
}

// Loops a lying length makes endless, and writing a table too big for the
// slice, stop at the margin.
TEST_F(TableCalls, LoopsTooLongForTheSliceStopAtTheWatchdog) {
    struct Case {
        const char *name, *args;
    } cases[] = {{"add", "setmetatable({}, {__len = len_2_40, __index = {}}), 1, 1"},
                 {"deli", "setmetatable({}, {__len = len_2_40, __newindex = {}}), 1"},
                 {"pod", "(function() local t = {} for i = 1, 20000 do t['k' .. i] = i end return t end)()"},
                 {"_store_metadata_str_to_file",
                  "(function() store('/ram/big.txt', string.rep('y', 1 << 16), '--[[pod_format=\"raw\"]]') "
                  "return '/ram/big.txt' end)(), 'x'"}};
    pfile_reset();
    mount_ram_folder("/ram");
    for (const Case &c : cases) {
        remembered_process prev = remember_current_process();
        cproc = p;
        lua_State *L = p->lua_state;
        const int base = lua_gettop(L);
        lua_getglobal(L, c.name);
        ASSERT_EQ(luaL_loadstring(L, (std::string("return ") + c.args).c_str()), LUA_OK);
        lua_call(L, 0, LUA_MULTRET);
        // Called from C, so no instruction meets the budget check first.
        cpu_cycles_max = 1000000;
        cpu_cycles = cpu_cycles_max + VM_WATCHDOG_MARGIN - 10000;
        const int status = lua_pcall(L, lua_gettop(L) - base - 1, 0, 0);
        EXPECT_EQ(status, LUA_ERRRUN) << c.name;
        EXPECT_STREQ(lua_tostring(L, -1), VM_WATCHDOG_MESSAGE) << c.name;
        lua_settop(L, base);
        cpu_cycles = 0;
        restore_current_process(prev);
    }
    pfile_reset();
}

// count and del read raw elements through a fast scan: over random tables
// with holes, hash parts and mixed value kinds they must agree with the
// plain loop of Lua comparisons.
TEST_F(TableCalls, FastScansAgreeWithPlainLuaLoops) {
    process_rec *q = start(R"(
        local ok, e = pcall(function()
        math.randomseed(11)
        local values = {1, 1.0, 2, "1", "a", true, false, 0.5, -0.0, 0}
        local bad = 0
        for round = 1, 300 do
          local n = math.random(0, 40)
          local t = {}
          for k = 1, n do
            if math.random(5) > 1 then t[k] = values[math.random(#values)] end
          end
          if math.random(2) == 1 then t.x = 1 t[n + 3] = 2 end  -- hash part and a key past n
          local v = values[math.random(#values)]
          if math.random(6) == 1 then v = nil end
          local want = 0
          for k = 1, #t do if rawequal(t[k], v) or t[k] == v then want = want + 1 end end
          if count(t, v) ~= (#t < 1 and 0 or want) then bad = bad + 1 end
          local copy, len = {}, #t
          for k = 1, len do copy[k] = t[k] end
          local first
          for k = 1, len do if copy[k] == v then first = k break end end
          local r = del(t, v)
          if first then
            if r ~= copy[first] and not (r ~= r) then bad = bad + 1 end
            for k = first, len - 1 do copy[k] = copy[k + 1] end
            copy[len] = nil
          end
          for k = 1, len do if not rawequal(t[k], copy[k]) then bad = bad + 1 break end end
        end
        out("mismatches", bad)
        end)
        if not ok then out(e) end
    )");
    ASSERT_NE(q, nullptr);
    run_frames(q, 40);
    EXPECT_EQ(output(), (Lines{"2:mismatches,0"})) << fake_host::log_text();
}

// A border far above the entries (keys 1, 2, 4, ..., 2^k) used to make every
// call scan or move each index below it; the calls now work from the entries
// and give what the plain loops give.
TEST_F(TableCalls, SparseTablesWithHugeBordersFinishAtOnce) {
    eval(p, "(function() function sparse(top) local t = {} for e = top, 0, -1 do t[1 << e] = e end return t end "
            "function keys(t) local s = {} for k, v in pairs(t) do s[#s + 1] = k .. '=' .. tostring(v) end "
            "for i = 2, #s do local j = i while j > 1 and s[j] < s[j - 1] do s[j], s[j - 1] = s[j - 1], s[j] "
            "j = j - 1 end end return table.concat(s, ' ') end end)()");
    eval(p, std::string("(function() ") + kArmedFinalizer + " end)()");
    struct Case {
        const char *setup, *name, *args;
        const char *check;  // an expression list read after the call
        const char *want;   // the call's results, '|', the check's values
    } cases[] = {
        {"t = sparse(40)", "count", "t, 2", "#t", "1|1099511627776"},
        {"t = sparse(40)", "count", "t, nil", "", "1099511627735|"},
        {"t = sparse(40)", "count", "t, 41", "", "0|"},
        {"t = setmetatable({1, 2, 3}, {__len = function() return 1 << 40 end})", "count", "t, '\\0\\1\\2'", "",
         "0|"},
        {"t = setmetatable(sparse(4), {__len = function() return 40 end})", "del", "t, 1", "keys(t)",
         "1|15=4 1=0 3=2 7=3"},
        {"t = sparse(30)", "del", "t, 0", "t[1], t[(1 << 29) - 1], t[(1 << 30) - 1], t[1 << 30]", "0|1,29,30,nil"},
        {"t = sparse(30)", "deli", "t, 2", "t[1], t[3], t[(1 << 30) - 1]", "1|0,2,30"},
        {"t = sparse(30)", "add", "t, 'x', 2", "t[1], t[2], t[3], t[5], t[(1 << 30) + 1]", "x|0,x,1,2,30"},
        {"t = sparse(3)", "add", "t, 'x', 1", "keys(t)", "x|1=x 2=0 3=1 5=2 9=3"},
        // A finalizer run by the key buffer's allocation adds keys.
        {"t = sparse(20) v = {}", "count",
         "t, armed(v, function() for k = 1, 300 do t[(1 << 19) + 3 * k] = k end end)", "settled()", "0|true"},
    };
    for (const Case &c : cases) {
        eval(p, std::string("(function() ") + c.setup + " end)()");
        const std::string results = results_of(p, c.name, c.args);
        EXPECT_EQ(results + "|" + eval(p, c.check), c.want) << c.setup << "; " << c.name << "(" << c.args << ")";
    }
}

// Over small tables whose length (by __len or by their keys) is often many
// times their entries, count, del, deli and add must leave what the plain
// loops over every index leave, __eq calls included.
TEST_F(TableCalls, SparseScansAndMovesAgreeWithPlainLuaLoops) {
    process_rec *q = start(R"(
        local ok, e = pcall(function()
        math.randomseed(23)
        local mt = {__eq = function(a, b) return a.k == b.k end}
        local values = {1, 2, "a", true, 0.5, setmetatable({k = 1}, mt), setmetatable({k = 2}, mt)}
        local function same(a, b)
          for k, v in pairs(a) do if not rawequal(b[k], v) then return false end end
          for k, v in pairs(b) do if not rawequal(a[k], v) then return false end end
          return true
        end
        local function copy(t) local c = {} for k, v in pairs(t) do c[k] = v end return c end
        local bad, sparse = 0, 0
        for round = 1, 400 do
          local t = {}
          for e = 0, math.random(0, 6) do
            if math.random(3) > 1 then t[1 << e] = values[math.random(#values)] end
          end
          if math.random(2) == 1 then t[math.random(1, 12)] = values[math.random(#values)] t.x = 1 end
          local n = #t
          if math.random(2) == 1 then
            n = math.random(0, 90)
            setmetatable(t, {__len = function() return n end})
          end
          if n >= 32 then sparse = sparse + 1 end
          local v = values[math.random(#values)]
          if math.random(6) == 1 then v = nil end
          -- count
          local want = 0
          for k = 1, n do if rawequal(rawget(t, k), v) or rawget(t, k) == v then want = want + 1 end end
          if count(t, v) ~= (n < 1 and 0 or want) then bad = bad + 1 end
          -- del
          local ref, first = copy(t), nil
          for k = 1, n do if rawequal(ref[k], v) or ref[k] == v then first = k break end end
          if first then
            for k = first, n - 1 do rawset(ref, k, rawget(ref, k + 1)) end
            rawset(ref, n, nil)
          end
          local u = copy(t) setmetatable(u, getmetatable(t))
          local r = del(u, v)
          if not rawequal(r, first and t[first] or nil) or not same(u, ref) then bad = bad + 1 end
          -- deli
          local pos = math.random(0, n + 1)
          ref, u = copy(t), copy(t) setmetatable(u, getmetatable(t))
          local want_r
          if pos >= 1 and pos <= n then
            want_r = ref[pos]
            for k = pos, n - 1 do ref[k] = ref[k + 1] end
            ref[n] = nil
          end
          r = deli(u, pos)
          if not rawequal(r, want_r) or not same(u, ref) then bad = bad + 1 end
          -- add
          pos = math.random(1, n + 1)
          ref, u = copy(t), copy(t) setmetatable(u, getmetatable(t))
          for i = n + 1, pos + 1, -1 do ref[i] = ref[i - 1] end
          ref[pos] = "new"
          add(u, "new", pos)
          if not same(u, ref) then bad = bad + 1 end
        end
        out("mismatches", bad, sparse > 100)
        end)
        if not ok then out(e) end
    )");
    ASSERT_NE(q, nullptr);
    run_frames(q, 40);
    EXPECT_EQ(output(), (Lines{"3:mismatches,0,true"})) << fake_host::log_text();
}
