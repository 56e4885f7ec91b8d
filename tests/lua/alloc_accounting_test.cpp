// The allocator interface: the nominal size of every kind of block, the
// symmetry of the count, the retry after an emergency collection and frees.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "recording_alloc.h"

namespace {

constexpr size_t tag_none = 0, tag_string = 4, tag_table = 5, tag_closure = 6, tag_userdata = 7,
                 tag_thread = 8, tag_upvalue = 9, tag_proto = 10;

int noop(lua_State *) {
    return 0;
}

// New blocks (no old block) among `calls` created with type tag `tag`.
std::vector<AllocCall> created(const std::vector<AllocCall> &calls, size_t tag) {
    std::vector<AllocCall> out;
    for (const AllocCall &c : calls)
        if (!c.had_block && c.nsize > 0 && c.osize == tag && c.granted) out.push_back(c);
    return out;
}

bool has_block(const std::vector<AllocCall> &calls, size_t tag, size_t nsize, size_t account) {
    for (const AllocCall &c : created(calls, tag))
        if (c.nsize == nsize && c.account_size == account) return true;
    return false;
}

bool has_resize(const std::vector<AllocCall> &calls, size_t osize, size_t nsize, size_t account) {
    for (const AllocCall &c : calls)
        if (c.had_block && c.osize == osize && c.nsize == nsize && c.account_size == account)
            return true;
    return false;
}

std::string describe(const std::vector<AllocCall> &calls) {
    std::string s;
    for (const AllocCall &c : calls)
        s += "(" + std::to_string(c.had_block) + ", " + std::to_string(c.osize) + ", " +
             std::to_string(c.nsize) + ", " + std::to_string(c.fail_hard) + ", " +
             std::to_string(c.account_size) + ")\n";
    return s;
}

// One kind of object: what creates it, the tag it is created with, its real
// size (0: not checked here) and the size it must be counted as.
struct NominalCase {
    const char *kind;
    std::function<void(lua_State *)> make;
    size_t tag;
    size_t real;
    size_t account;
};

void load(lua_State *L, const char *src) {
    ASSERT_EQ(luaL_loadbufferx(L, src, std::strlen(src), "=t", "t"), LUA_OK);
}

const NominalCase nominal_cases[] = {
    {"string of length 0", [](lua_State *L) { lua_pushlstring(L, "", 0); }, tag_string, 25, 32},
    {"string of length 1", [](lua_State *L) { lua_pushlstring(L, "\x01", 1); }, tag_string, 26, 33},
    {"long string of 100 bytes",
     [](lua_State *L) { lua_pushstring(L, std::string(100, 'q').c_str()); }, tag_string, 125, 132},
    {"table", [](lua_State *L) { lua_createtable(L, 0, 0); }, tag_table, 56, 56},
    {"array part of 10 slots", [](lua_State *L) { lua_createtable(L, 10, 0); }, tag_none, 160, 160},
    {"hash part of 64 nodes", [](lua_State *L) { lua_createtable(L, 0, 64); }, tag_none, 1536,
     1024},
    {"host closure with 1 upvalue",
     [](lua_State *L) {
         lua_pushnil(L);
         lua_pushcclosure(L, noop, 1);
     },
     tag_closure, 48, 56},
    {"host closure with 3 upvalues",
     [](lua_State *L) {
         for (int i = 0; i < 3; i++) lua_pushnil(L);
         lua_pushcclosure(L, noop, 3);
     },
     tag_closure, 80, 88},
    {"main chunk closure (1 upvalue)", [](lua_State *L) { load(L, "return 1"); }, tag_closure, 40,
     48},
    {"function prototype", [](lua_State *L) { load(L, "return 1"); }, tag_proto, 0, 128},
    {"userdata of 10 bytes", [](lua_State *L) { lua_newuserdatauv(L, 10, 0); }, tag_userdata, 0,
     66},
    {"userdata of 10 bytes with 2 user values", [](lua_State *L) { lua_newuserdatauv(L, 10, 2); },
     tag_userdata, 0, 66},
    {"upvalue",
     [](lua_State *L) {
         load(L, "local x = 0 return function() x = x + 1 end");
         lua_call(L, 0, 1);
     },
     tag_upvalue, 0, 40},
    {"thread", [](lua_State *L) { lua_newthread(L); }, tag_thread, 0, 1616},
    {"initial stack of a thread", [](lua_State *L) { lua_newthread(L); }, tag_none, 720, 720},
    {"call frame",
     [](lua_State *L) {
         lua_State *L1 = lua_newthread(L);
         lua_pushcfunction(L1, noop);
         lua_call(L1, 0, 0);
     },
     tag_none, 0, 64},
};

TEST(AllocAccounting, EachKindOfBlockIsCountedUnderItsNominalSize) {
    for (const NominalCase &c : nominal_cases) {
        SCOPED_TRACE(c.kind);
        // A bare state: nothing interned yet but what the core needs itself.
        RecordedState s(false);
        size_t mark = s.rec.log.size();
        c.make(s.L());
        std::vector<AllocCall> calls = s.rec.since(mark);
        bool found = false;
        for (const AllocCall &a : created(calls, c.tag))
            if (a.account_size == c.account && (c.real == 0 || a.nsize == c.real)) found = true;
        EXPECT_TRUE(found) << "calls:\n" << describe(calls);
    }
}

TEST(AllocAccounting, TheMainStateIsCountedAs1616AndCreatedWithoutRetry) {
    RecordedState s(false);
    ASSERT_FALSE(s.rec.log.empty());
    const AllocCall &first = s.rec.log.front();
    EXPECT_FALSE(first.had_block);
    EXPECT_EQ(first.osize, tag_thread);
    EXPECT_EQ(first.fail_hard, 0);
    EXPECT_EQ(first.account_size, 1616u);
}

TEST(AllocAccounting, TheStringTableStartsAt128SlotsCountedAs16Each) {
    RecordedState s(false);
    EXPECT_TRUE(has_block(s.rec.log, tag_none, 128 * sizeof(void *), 2048)) << describe(s.rec.log);
    // Doubling it to 256 slots counts 4096.
    size_t mark = s.rec.log.size();
    for (int i = 0; i < 200; i++) {
        lua_pushfstring(s.L(), "k%d", i);
        lua_pop(s.L(), 1);
    }
    EXPECT_TRUE(has_resize(s.rec.since(mark), 128 * sizeof(void *), 256 * sizeof(void *), 4096));
}

TEST(AllocAccounting, AGrowingTableHashPartOf64NodesCounts1024) {
    RecordedState s;
    size_t mark = s.rec.log.size();
    ASSERT_EQ(s.run("local t = {} for i = 1, 64 do t['k' .. i] = i end"), LUA_OK);
    // 64 nodes of 24 bytes, counted at 16 bytes each.
    EXPECT_TRUE(has_block(s.rec.since(mark), tag_none, 1536, 1024));
}

TEST(AllocAccounting, ACodeVectorGrownTo64InstructionsCounts1024) {
    RecordedState s;
    std::string src = "local a = 0\n";
    for (int i = 0; i < 20; i++) src += "a = a + 1\n";
    size_t mark = s.rec.log.size();
    ASSERT_EQ(luaL_loadbufferx(s.L(), src.data(), src.size(), "=code", "t"), LUA_OK);
    std::vector<AllocCall> calls = s.rec.since(mark);
    // The code vector doubles from 32 to 64 four-byte instructions...
    EXPECT_TRUE(has_resize(calls, 32 * 4, 64 * 4, 1024)) << describe(calls);
    // ...and every grown or shrunk vector counts 16 bytes per element.
    bool shrunk = false;
    for (const AllocCall &c : calls)
        if (c.had_block && c.osize == 64 * 4 && c.nsize > 0 && c.nsize < 64 * 4) {
            EXPECT_EQ(c.account_size, c.nsize / 4 * 16);
            shrunk = true;
        }
    EXPECT_TRUE(shrunk) << describe(calls);
}

TEST(AllocAccounting, TheLexerBufferIsCountedAtItsRealSize) {
    RecordedState s;
    std::string src = "return '" + std::string(100, 'w') + "'";
    size_t mark = s.rec.log.size();
    ASSERT_EQ(luaL_loadbufferx(s.L(), src.data(), src.size(), "=lex", "t"), LUA_OK);
    std::vector<AllocCall> calls = s.rec.since(mark);
    EXPECT_TRUE(has_block(calls, tag_none, 32, 32)) << describe(calls);
    EXPECT_TRUE(has_resize(calls, 32, 64, 64));
    EXPECT_TRUE(has_resize(calls, 64, 128, 128));
}

TEST(AllocAccounting, AGrownStackIsCountedAtItsRealSizeOf16PerSlot) {
    RecordedState s(false);
    lua_State *L1 = lua_newthread(s.L());
    size_t mark = s.rec.log.size();
    ASSERT_TRUE(lua_checkstack(L1, 100));
    std::vector<AllocCall> grown;
    for (const AllocCall &c : created(s.rec.since(mark), tag_none))
        if (c.nsize > 720) grown.push_back(c);
    ASSERT_EQ(grown.size(), 1u) << describe(s.rec.since(mark));
    EXPECT_EQ(grown[0].account_size, grown[0].nsize);
    EXPECT_EQ(grown[0].nsize % 16, 0u);
    EXPECT_GE(grown[0].nsize / 16, 100u + 5u);
}

TEST(AllocAccounting, TheStringBufferAsksOnceAndFinallyAtItsRealSize) {
    RecordedState s;
    size_t mark = s.rec.log.size();
    ASSERT_EQ(s.run("local s = string.rep('x', 5000) return s:len()"), LUA_OK);
    int box_calls = 0;
    for (const AllocCall &c : s.rec.since(mark))
        if (c.nsize >= 5000 && c.osize != tag_string) {
            box_calls++;
            EXPECT_EQ(c.fail_hard, 1);
            EXPECT_EQ(c.account_size, c.nsize);
        }
    EXPECT_GE(box_calls, 1) << describe(s.rec.since(mark));
}

// A mix of everything the collector frees: tables, strings, closures with
// upvalues, coroutines, userdata through the string buffer.
const char *garbage_script = R"(
    local keep = {}
    for round = 1, 20 do
        local t = {}
        for i = 1, 50 do t[i] = {i, tostring(i) .. "x", function() return i end} end
        local co = coroutine.wrap(function(a) while true do a = coroutine.yield(a * 2) end end)
        co(1) co(2)
        local s = string.rep("ab", 300) .. string.format("%d-%s", round, "z")
        keep[round % 3] = s:len()
        t = nil
    end
    return keep[0]
)";

TEST(AllocAccounting, TheCountReturnsToItsBaselineAfterCollectingGarbage) {
    RecordedState s;
    // A first run grows what stays: the string table, the stack, call frames.
    ASSERT_EQ(s.run(garbage_script), LUA_OK);
    s.collect();
    int64_t baseline = s.rec.account_bytes;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(s.run(garbage_script), LUA_OK);
        EXPECT_GT(s.rec.peak_account, baseline);
        s.collect();
        EXPECT_EQ(s.rec.account_bytes, baseline) << "after run " << i;
    }
    s.close();
    EXPECT_EQ(s.rec.account_bytes, 0);
    EXPECT_EQ(s.rec.real_bytes, 0);
}

TEST(AllocAccounting, TheCollectorCountsRealSizesNotNominalOnes) {
    RecordedState s;
    ASSERT_EQ(s.run(garbage_script), LUA_OK);
    s.collect();
    int64_t gc_count = int64_t(lua_gc(s.L(), LUA_GCCOUNT)) * 1024 + lua_gc(s.L(), LUA_GCCOUNTB);
    EXPECT_EQ(gc_count, s.rec.real_bytes);
    EXPECT_NE(s.rec.account_bytes, s.rec.real_bytes);
}

TEST(AllocAccounting, FreesPassSizeZeroNoRetryAndNoAccount) {
    RecordedState s;
    ASSERT_EQ(s.run(garbage_script), LUA_OK);
    s.collect();
    s.close();
    int frees = 0;
    for (const AllocCall &c : s.rec.log)
        if (c.nsize == 0) frees++;
    EXPECT_GT(frees, 100);
    EXPECT_EQ(s.rec.bad_frees, 0);
}

TEST(AllocAccounting, AFailedFirstTryIsRetriedWithFailHardAndTheScriptNeverNotices) {
    std::string expected;
    {
        RecordedState s;
        ASSERT_EQ(s.run(garbage_script, &expected), LUA_OK);
    }
    RecordedState s;
    s.rec.arm(Refuse::first_tries);
    size_t mark = s.rec.log.size();
    std::string got;
    ASSERT_EQ(s.run(garbage_script, &got), LUA_OK) << got;
    EXPECT_EQ(got, expected);
    EXPECT_GT(s.rec.refusals, 100);
    EXPECT_EQ(s.rec.final_refusals, 0);
    // Every refused first try is followed, after the frees of the emergency
    // collection, by the same request with fail_hard 1.
    std::vector<AllocCall> calls = s.rec.since(mark);
    for (size_t i = 0; i < calls.size(); i++) {
        if (calls[i].granted) continue;
        ASSERT_EQ(calls[i].fail_hard, 0);
        size_t next = i + 1;
        while (next < calls.size() && calls[next].nsize == 0) next++;
        ASSERT_LT(next, calls.size());
        const AllocCall &retry = calls[next];
        EXPECT_EQ(retry.fail_hard, 1);
        EXPECT_TRUE(retry.granted);
        EXPECT_EQ(retry.had_block, calls[i].had_block);
        EXPECT_EQ(retry.osize, calls[i].osize);
        EXPECT_EQ(retry.nsize, calls[i].nsize);
        EXPECT_EQ(retry.account_size, calls[i].account_size);
    }
}

TEST(AllocAccounting, AShrinkThatFailsIsNotRetried) {
    // Compiling ends by shrinking each vector to its final size. Find the
    // first shrink, then compile again in a twin state refusing just it.
    std::string src = "local a = 0\n";
    for (int i = 0; i < 20; i++) src += "a = a + 1\n";
    long index = 0;
    {
        RecordedState s;
        s.rec.arm(Refuse::nothing);
        size_t mark = s.rec.log.size();
        ASSERT_EQ(luaL_loadbufferx(s.L(), src.data(), src.size(), "=code", "t"), LUA_OK);
        for (const AllocCall &c : s.rec.since(mark)) {
            if (c.nsize == 0) continue;
            index++;
            if (c.had_block && c.nsize < c.osize) break;
        }
    }
    ASSERT_GT(index, 0);
    RecordedState s;
    s.rec.arm(Refuse::nth_request);
    s.rec.nth = index;
    size_t mark = s.rec.log.size();
    EXPECT_EQ(luaL_loadbufferx(s.L(), src.data(), src.size(), "=code", "t"), LUA_ERRMEM);
    std::vector<AllocCall> calls = s.rec.since(mark);
    ASSERT_EQ(s.rec.refusals, 1) << describe(calls);
    EXPECT_EQ(s.rec.final_refusals, 0);
    for (const AllocCall &c : calls) {
        if (!c.granted) {
            EXPECT_LT(c.nsize, c.osize) << "the refused request is a shrink";
        }
    }
}

}  // namespace

namespace {

TEST(AllocAccounting, ARequestRefusedInsideACollectionStepIsNotRetried) {
    RecordedState s;
    // A deep recursion leaves the main stack large; the next collection
    // shrinks it, allocating in the middle of a step.
    ASSERT_EQ(s.run("local function deep(k) if k == 0 then return 0 end return 1 + deep(k - 1) end "
                    "return deep(3000)"),
              LUA_OK);
    s.rec.arm(Refuse::first_tries);
    size_t mark = s.rec.log.size();
    lua_gc(s.L(), LUA_GCCOLLECT);
    std::vector<AllocCall> calls = s.rec.since(mark);
    int unretried = 0;
    for (size_t i = 0; i < calls.size(); i++) {
        if (calls[i].granted) continue;
        size_t next = i + 1;
        while (next < calls.size() && calls[next].nsize == 0) next++;
        if (next == calls.size() || calls[next].fail_hard == 0) unretried++;
    }
    EXPECT_GE(unretried, 1) << describe(calls);
    s.rec.arm(Refuse::nothing);
    std::string text;
    EXPECT_EQ(s.run("local t = {} for i = 1, 100 do t[i] = tostring(i) end return t[100]", &text),
              LUA_OK);
    EXPECT_EQ(text, "100");
}

}  // namespace
