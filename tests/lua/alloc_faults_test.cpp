// Refused allocations: whatever request the allocator refuses, a script ends
// in the ordinary memory error or runs on unharmed; the state stays sound and
// closes without leaking. Also the size limits of the memory layer.
#include <gtest/gtest.h>

#include <string>

#include "recording_alloc.h"

extern "C" {
#include "lmem.h"
}

namespace {

// Touches every allocating path a script can reach: the string buffer
// (string.rep, string.format, gsub, table.concat), table growth, closures and
// upvalues, coroutines nested and wrapped, metamethods, to-be-closed values.
const char *fault_script = R"(
    local parts = {}
    for i = 1, 30 do
        parts[i] = string.format("%d:%s|%5.2f", i, string.rep("ab", i), i / 3)
    end
    local s = table.concat(parts, ",")
    local replaced, n = s:gsub("ab", function(m) return m:upper() end)
    local t = {}
    for i = 1, 300 do t[i] = i * 2 end
    local h = {}
    for i = 1, 150 do h["k" .. i] = {i, tostring(i)} end
    local function counter()
        local c = 0
        return function(d) c = c + (d or 1) return c end
    end
    local f = counter()
    for i = 1, 10 do f(i) end
    local gen = coroutine.wrap(function(a)
        local acc = a
        while true do acc = acc + coroutine.yield(acc) end
    end)
    gen(1) gen(2)
    -- a resume the budget stopped (a yield with no values) goes on
    local function finish(c, ...)
        local res = table.pack(coroutine.resume(c, ...))
        while res[1] and res.n == 1 and coroutine.status(c) == "suspended" do
            res = table.pack(coroutine.resume(c))
        end
        return table.unpack(res, 1, res.n)
    end
    local co = coroutine.create(function(x)
        local inner = coroutine.create(function() coroutine.yield(string.rep("y", 200)) end)
        local ok, y = finish(inner)
        if not ok then error(y, 0) end
        return y .. x
    end)
    local ok, r = finish(co, "z")
    if not ok then error(r, 0) end
    setmetatable(h, {__index = function(_, k) return k .. "!" end})
    local m = h.missing .. tostring(rawlen(t))
    local big = string.rep("q", 4000, ",")
    local packed = string.pack("i4i8z", 1, 2, "three")
    local words = {}
    for w in ("alpha beta gamma delta"):gmatch("%a+") do words[rawlen(words) + 1] = w end
    local u = table.concat(words, " "):upper():reverse()
    do local closer <close> = setmetatable({}, {__close = function() f(100) end}) end
    local deep
    deep = function(k) if k == 0 then return 0 end return 1 + deep(k - 1) end
    return string.format("%d %d %d %s %d %d %s %d %d %s", s:len(), n, rawlen(t), m,
                         big:len(), f(), u, packed:len(), deep(150), r)
)";

struct Outcome {
    int status;
    std::string text;
    long refusals;
    int64_t account_after_close;
    int64_t real_after_close;
    int bad_frees;
};

// How the script is run: with the collector in a given mode, in one call or
// resumed slice by slice.
struct RunMode {
    const char *name;
    const char *prefix;  // Lua run before the script, in the same chunk
    int32_t slice;       // cycles per slice; 0 runs the chunk in one protected call
};

const RunMode run_modes[] = {
    {"incremental collector, one call", "", 0},
    {"generational collector, one call", "collectgarbage('generational') ", 0},
    {"incremental collector, slices of 3000 cycles", "", 3000},
};

// Runs the script in a fresh state whose allocator refuses as told from the
// moment the script is compiled.
Outcome run_refusing(const RunMode &mode, Refuse how, long nth, int64_t budget) {
    Outcome o{};
    RecordedState s;
    s.rec.recording = false;
    s.rec.arm(how);
    s.rec.nth = nth;
    s.rec.budget = budget;
    std::string src = std::string(mode.prefix) + fault_script;
    o.status = mode.slice ? s.run_sliced(src, mode.slice, &o.text) : s.run(src, &o.text);
    o.refusals = s.rec.refusals;
    // The state must still collect and close cleanly.
    s.rec.arm(Refuse::nothing);
    lua_gc(s.L(), LUA_GCCOLLECT);
    s.close();
    o.account_after_close = s.rec.account_bytes;
    o.real_after_close = s.rec.real_bytes;
    o.bad_frees = s.rec.bad_frees;
    return o;
}

struct Baseline {
    std::string text;  // the script's result with nothing refused
    long requests;     // requests it makes
    int64_t start;     // account before it runs
    int64_t peak;      // highest account while it runs
};

const Baseline &baseline() {
    static const Baseline b = [] {
        Baseline r;
        RecordedState s;
        s.rec.recording = false;
        r.start = s.rec.account_bytes;
        s.rec.peak_account = r.start;
        s.rec.arm(Refuse::nothing);
        int st = s.run(fault_script, &r.text);
        EXPECT_EQ(st, LUA_OK) << r.text;
        r.requests = s.rec.requests;
        r.peak = s.rec.peak_account;
        return r;
    }();
    return b;
}

void expect_clean(const Outcome &o, const std::string &what) {
    SCOPED_TRACE(what);
    if (o.status == LUA_OK) {
        EXPECT_EQ(o.text, baseline().text);
    } else {
        EXPECT_EQ(o.status, LUA_ERRMEM) << o.text;
        EXPECT_EQ(o.text, "not enough memory");
    }
    EXPECT_EQ(o.account_after_close, 0);
    EXPECT_EQ(o.real_after_close, 0);
    EXPECT_EQ(o.bad_frees, 0);
}

TEST(AllocFaults, TheScriptRunsUnrefusedAndMakesManyRequests) {
    EXPECT_GT(baseline().requests, 500);
    EXPECT_EQ(baseline().text, "1220 465 300 missing!300 7999 156 ATLED AMMAG ATEB AHPLA 18 150 " +
                                   std::string(200, 'y') + "z");
}

TEST(AllocFaults, RefusingAnySingleRequestEndsInAMemoryErrorOrChangesNothing) {
    long total = baseline().requests;
    for (const RunMode &mode : run_modes) {
        SCOPED_TRACE(mode.name);
        int errors = 0;
        for (long n = 1; n <= total + 1; n++) {
            Outcome o = run_refusing(mode, Refuse::nth_request, n, 0);
            expect_clean(o, "request " + std::to_string(n));
            if (o.status == LUA_ERRMEM) errors++;
            if (HasFailure()) return;
        }
        EXPECT_GT(errors, total / 2);
    }
}

TEST(AllocFaults, RefusingEverythingAboveABudgetEndsInAMemoryErrorOrChangesNothing) {
    const Baseline &b = baseline();
    int64_t step = (b.peak - b.start) / 300 + 1;
    for (const RunMode &mode : run_modes) {
        SCOPED_TRACE(mode.name);
        int errors = 0;
        for (int64_t budget = b.start - 64; budget <= b.peak + step; budget += step) {
            Outcome o = run_refusing(mode, Refuse::over_budget, 0, budget);
            expect_clean(o, "budget " + std::to_string(budget));
            if (o.status == LUA_ERRMEM) errors++;
            if (HasFailure()) return;
        }
        EXPECT_GT(errors, 10);
    }
}

// The string buffer allocates outside the memory layer; its refusal must
// still be the ordinary memory error, which pcall sees as such.
TEST(AllocFaults, ARefusedStringBufferIsTheOrdinaryMemoryError) {
    RecordedState s;
    s.rec.arm(Refuse::over_budget);
    s.rec.budget = s.rec.account_bytes + 100000;
    std::string text;
    ASSERT_EQ(s.run("local ok, e = pcall(string.rep, 'x', 1000000)\n"
                    "return tostring(ok) .. ' ' .. e",
                    &text),
              LUA_OK);
    EXPECT_EQ(text, "false not enough memory");
    EXPECT_EQ(s.run("return table.concat({string.rep('y', 200000), 'z'})", &text), LUA_ERRMEM);
    EXPECT_EQ(text, "not enough memory");
    EXPECT_GT(s.rec.final_refusals, 0);
}

// --- the size limits of the memory layer -------------------------------

struct GrowProbe {
    int size;             // the vector's capacity, in elements
    int limit;            // most elements allowed
    int nelems;           // elements in use
    void *block;          // the vector
    std::string error;    // the error raised, if any
    RecordingAlloc *rec;  // the state's allocator
    size_t mark;          // its log's length when the growth began
};

int grow_in_state(lua_State *L) {
    auto *p = static_cast<GrowProbe *>(lua_touserdata(L, 1));
    p->mark = p->rec->log.size();
    p->block = luaM_growaux_(L, p->block, p->nelems, &p->size, 8, p->limit, "things");
    return 0;
}

// Grows `p` through luaM_growaux_ in protected mode.
void grow(lua_State *L, GrowProbe &p) {
    lua_pushcfunction(L, grow_in_state);
    lua_pushlightuserdata(L, &p);
    if (lua_pcall(L, 1, 0, 0) != LUA_OK) {
        p.error = lua_tostring(L, -1);
        lua_pop(L, 1);
    }
}

TEST(AllocLimits, AVectorDoublesFromFourUpToItsLimitThenRaisesTooMany) {
    RecordedState s(false);
    GrowProbe p{0, 10, 0, nullptr, "", &s.rec, 0};
    struct Step {
        int nelems;
        int size_after;
        size_t account;
    };
    const Step steps[] = {{0, 4, 64}, {3, 4, 64}, {4, 8, 128}, {8, 10, 160}, {9, 10, 160}};
    for (const Step &st : steps) {
        SCOPED_TRACE(st.nelems);
        p.nelems = st.nelems;
        grow(s.L(), p);
        EXPECT_EQ(p.error, "");
        EXPECT_EQ(p.size, st.size_after);
        for (const AllocCall &c : s.rec.since(p.mark))
            if (c.nsize > 0) {
                EXPECT_EQ(c.nsize, size_t(st.size_after) * 8);
                EXPECT_EQ(c.account_size, st.account);
            }
    }
    p.nelems = 10;
    grow(s.L(), p);
    EXPECT_EQ(p.error, "too many things (limit is 10)");
    EXPECT_EQ(p.size, 10);
    lua_pushcfunction(s.L(), [](lua_State *L) {
        auto *q = static_cast<GrowProbe *>(lua_touserdata(L, 1));
        luaM_free_(L, q->block, size_t(q->size) * 8);
        return 0;
    });
    lua_pushlightuserdata(s.L(), &p);
    lua_call(s.L(), 1, 0);
}

TEST(AllocLimits, ARefusedGrowthLeavesTheVectorAsItWas) {
    RecordedState s(false);
    GrowProbe p{0, 100, 0, nullptr, "", &s.rec, 0};
    grow(s.L(), p);
    ASSERT_EQ(p.size, 4);
    void *before = p.block;
    s.rec.arm(Refuse::nth_request);
    s.rec.nth = 1;
    p.nelems = 4;
    grow(s.L(), p);
    EXPECT_EQ(p.error, "not enough memory");
    EXPECT_EQ(p.size, 4);
    EXPECT_EQ(p.block, before);
    EXPECT_EQ(s.rec.final_refusals, 1);
    s.rec.arm(Refuse::nothing);
    lua_pushcfunction(s.L(), [](lua_State *L) {
        auto *q = static_cast<GrowProbe *>(lua_touserdata(L, 1));
        luaM_free_(L, q->block, size_t(q->size) * 8);
        return 0;
    });
    lua_pushlightuserdata(s.L(), &p);
    lua_call(s.L(), 1, 0);
}

TEST(AllocLimits, TooManyPendingGotosIsReportedWithTheLimit) {
    RecordedState s;
    std::string src;
    for (int i = 0; i < 32768; i++) src += "goto a ";
    src += "::a::";
    std::string text;
    EXPECT_NE(s.run(src, &text), LUA_OK);
    EXPECT_NE(text.find("too many labels/gotos (limit is 32767)"), std::string::npos) << text;
}

TEST(AllocLimits, AnOverflowingSizeIsABlockTooBig) {
    RecordedState s;
    lua_pushcfunction(s.L(), [](lua_State *L) {
        lua_newuserdatauv(L, ~size_t(0) - 8, 0);
        return 0;
    });
    ASSERT_EQ(lua_pcall(s.L(), 0, 0, 0), LUA_ERRRUN);
    EXPECT_STREQ(lua_tostring(s.L(), -1), "memory allocation error: block too big");
}

}  // namespace
