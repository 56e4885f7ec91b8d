// Shape calls through Lua against the rasteriser's primitives called in C on
// a bitmap of the same size under the same process state: the same bytes
// and the charge the call's rule gives from the primitive's cost.
#include <functional>

#include "crc32.h"
#include "draw_fixture.h"
#include "shapes.h"
#include "ud_methods.h"

namespace {

struct shape_case {
    const char *lua;                                   // the call, after camera(5, -3)
    std::function<int64_t(typed_ud_rec *)> reference;  // draws, returns the expected charge
};

int64_t third(int64_t cost) { return cost / 3; }

}  // namespace

using ShapeCalls = DrawTest;

TEST_F(ShapeCalls, EachCallDrawsWhatItsPrimitiveDrawsAndChargesByItsRule) {
    const shape_case cases[] = {
        {"rectfill(10, 20, 50, 60, 7)", [](typed_ud_rec *t) { return third(rectfill(t, 5, 23, 45, 63, 7)); }},
        {"rectfill(50, 60, 10, 20, 7)", [](typed_ud_rec *t) { return third(rectfill(t, 45, 63, 5, 23, 7)); }},
        {"rect(10, 20, 50, 60, 8)",
         [](typed_ud_rec *t) {
             return third(int64_t(draw_line(t, 5, 23, 45, 23, 8)) + draw_line(t, 5, 63, 45, 63, 8) +
                          draw_line(t, 5, 24, 5, 62, 8) + draw_line(t, 45, 24, 45, 62, 8));
         }},
        {"rect(10, 20, 50, 21, 8)",
         [](typed_ud_rec *t) { return third(int64_t(draw_line(t, 5, 23, 45, 23, 8)) + draw_line(t, 5, 24, 45, 24, 8)); }},
        {"ovalfill(1, 2, 40, 30, 9)", [](typed_ud_rec *t) { return third(draw_filloval(t, -4, 5, 35, 33, 9)); }},
        {"oval(1, 2, 40, 30, 9)", [](typed_ud_rec *t) { return int64_t(draw_oval(t, -4, 5, 35, 33, 9)); }},
        {"circfill(100, 100, 20, 10)", [](typed_ud_rec *t) { return third(draw_filloval(t, 75, 83, 115, 123, 10)); }},
        {"circfill(100, 100)", [](typed_ud_rec *t) { return third(draw_filloval(t, 91, 99, 99, 107, 6)); }},
        {"circ(100, 100, 20, 10)", [](typed_ud_rec *t) { return third(draw_oval(t, 75, 83, 115, 123, 10)); }},
        {"line(0, 0, 100, 50, 11)", [](typed_ud_rec *t) { return int64_t(draw_line(t, -5, 3, 95, 53, 11)); }},
        {"rrect(10, 10, 10, 6, 5, 12)",
         [](typed_ud_rec *t) {
             return third(int64_t(draw_rrect(t, 5, 13, 11, 19, 3, -1, 12)) + draw_line(t, 9, 13, 10, 13, 12) +
                          draw_line(t, 9, 18, 10, 18, 12));
         }},
        {"rrectfill(10, 10, 20, 12, 3, 13)",
         [](typed_ud_rec *t) {
             int64_t cost = draw_rrectfill(t, 5, 13, 13, 21, 11, 3, 13);
             for (int y = 18; y <= 19; y++) cost += draw_hline(t, 5, 24, y, 13) + 3;  // a cycle a row
             return third(cost);
         }},
        {"rrectfill(10, 10, 4, 2, 3, 13)",
         [](typed_ud_rec *t) { return third(int64_t(draw_hline(t, 5, 8, 13, 13)) + draw_hline(t, 5, 8, 14, 13) + 6); }},
        // A column as tall as the clip pays for each of its rows.
        {"rrectfill(10, 0, 1, 2^40, 0, 13)",
         [](typed_ud_rec *t) {
             int64_t cost = 0;
             for (int y = 3; y < 200; y++) cost += draw_hline(t, 5, 5, y, 13) + 3;
             return third(cost);
         }},
        {"rectfill(10, 20, 50, 60, 0x800000007)",
         [](typed_ud_rec *t) {
             return third(int64_t(rectfill(t, -1, -1, 480, 22, 7)) + rectfill(t, -1, 64, 480, 270, 7) +
                          rectfill(t, -1, 23, 4, 63, 7) + rectfill(t, 46, 23, 480, 63, 7));
         }},
        {"circfill(10, 10, -1, 0x800000003)", [](typed_ud_rec *t) { return third(rectfill(t, 0, 0, 479, 269, 3)); }},
        {"circfill(10, 10, -1, 3)", [](typed_ud_rec *) { return int64_t(0); }},
        {"rrect(10, 10, 0, 5, 1, 3)", [](typed_ud_rec *) { return int64_t(0); }},
        // y at the maximum: its sides once wrapped round and lit whole columns.
        {"rrect(10, math.maxinteger, 5, 5, 0, 7)", [](typed_ud_rec *) { return int64_t(0); }},
        // Wider than 32 bits: the right corners as those of a rectangle whose
        // left corners are just off the clip (they once went missing).
        {"rrect(-2^32, 10, 2^32 + 20, 10, 3, 7)",
         [](typed_ud_rec *t) {
             return third(int64_t(draw_rrect(t, -25, 13, -17, 21, 31, 1, 7)) + draw_line(t, -20, 13, 9, 13, 7) +
                          draw_line(t, -20, 22, 9, 22, 7));
         }},
        {"rrectfill(-2^32, 10, 2^32 + 20, 10, 3, 7)",
         [](typed_ud_rec *t) { return third(draw_rrectfill(t, -25, 13, -17, 21, 31, 1, 7)); }},
        {"rrectfill(10, 10, 0, 5, 1, 0x800000003)", [](typed_ud_rec *t) { return third(rectfill(t, 0, 0, 479, 269, 3)); }},
        {"pset(7, 7, 4)", [](typed_ud_rec *t) { putpixel(t, 2, 10, 4); return int64_t(0); }},
    };
    for (const shape_case &c : cases) {
        SCOPED_TRACE(c.lua);
        std::string call = c.lua;  // "f(args)" measured as charge(f, args)
        call.replace(call.find('('), 1, ", ");
        process_rec *p = run_drawing("camera(5, -3) clip(0, 0, 300, 200) color(6) out(charge(" + call + ")");
        ASSERT_NE(p, nullptr);
        const Lines lines = output();
        // The reference, drawn after the call under the state it left.
        c_bitmap ref(480, 270);
        const remembered_process prev = remember_current_process();
        cproc = p;
        refresh_clip(p);
        get_masks_shape();
        p->inverted_fill = 0;
        if (std::string(c.lua).find("0x8000000") != std::string::npos) p->inverted_fill = 1;
        const int64_t expected = c.reference(ref.rec);
        restore_current_process(prev);
        EXPECT_EQ(target_bytes(p), ref.bytes());
        ASSERT_FALSE(lines.empty());
        ASSERT_EQ(lines.back().substr(0, 2), "1:") << lines.back() << fake_host::log_text();
        const int64_t charged = std::stoll(lines.back().substr(2));
        // spend_cpu charges at least one cycle for any charge it is given.
        EXPECT_EQ(charged, expected > 0 ? expected : charged == 1 ? 1 : 0);
        processes_init();
    }
}

TEST_F(ShapeCalls, ClsFillsEverythingAndHomesTheCursor) {
    process_rec *p = run_drawing(R"(
        clip(10, 10, 5, 5) camera(3, 3) cursor(7, 9)
        out(charge(cls, 0x107))
        out(t_peek(0x54F0, 4), t_peek(0x54F4, 4), pget(3, 3), pget(482, 272))
    )");
    EXPECT_EQ(output(), (Lines{"1:2025", "4:0,0,7,7"}));
    for (uint8_t b : target_bytes(p)) ASSERT_EQ(b, 7);
}

TEST_F(ShapeCalls, LineSequencesAndTheFirstLineFromTheOrigin) {
    process_rec *p = run_drawing(R"(
        line(3, 0, 7)            -- a new process's line starts at (0, 0)
        line() line(10, 10) line(20, 10, 8)
        out(pget(0, 0), pget(3, 0), pget(10, 10), pget(15, 10), pget(20, 10), t_peek(0x5520, 4))
        line(1, 2, 3, 4, 9) out(t_peek(0x5520, 4), t_peek(0x5524, 4), t_peek(0x551F))
        line(0, 0, 2^40, -2^40) out(t_peek(0x5520, 4), t_peek(0x5524, 4))  -- saturated, not wrapped to 0
    )");
    (void)p;
    EXPECT_EQ(output(), (Lines{"6:7,7,8,8,8,20", "3:3,4,0", "2:2147483647,-2147483648"}));
}

TEST_F(ShapeCalls, BatchesStopAtTheirLimitsAndReadTheirFields) {
    run_drawing(R"(
        -- Records one element apart, three fields each: the last record,
        -- number 262144, alone would draw colour 9 at (0, 0); every other
        -- record draws colour 0 there or elsewhere.
        local a = t_userdata('f64', 1, 262147)
        set(a, 0, 262146, 9)
        pset(a, 0, 1000000, 3, 1)
        out(pget(0, 0))
        local r = t_userdata('f64', 4, 2)
        set(r, 0, 0, 1, 1, 3, 3,  10, 10, 12, 12)
        color(5) rectfill(r)
        out(pget(1, 1), pget(3, 3), pget(11, 11), pget(4, 4))
        local w = t_userdata('f64', 7, 2)
        set(w, 0, 0, 20, 20, 22, 22, 9, 99, 99,  30, 30, 31, 31, 10, 99, 99)
        rectfill(w)
        out(pget(21, 21), pget(30, 30), t_peek(0x550C, 2))
        local pts = t_userdata('f64', 3, 1)
        set(pts, 0, 40, 40, 0x8107)
        pset(pts) out(pget(40, 40), t_peek(0x550C, 2), t_peek(0x5500, 8))
        -- Records without a colour apply the pen 0x8107 as it is: no pattern,
        -- no inverted fill from its sign.
        local disc = t_userdata('f64', 3, 1) set(disc, 0, 60, 60, 0) circfill(disc)
        local box = t_userdata('f64', 4, 1) set(box, 0, 50, 50, 51, 51) rectfill(box)
        out(pget(60, 60), pget(50, 50), pget(100, 100), t_peek(0x5500, 8))
        local neg = t_userdata('f64', 2, 4)
        out(charge(pset, neg, -2), charge(pset, neg, 2, 10, 2, -4))
        local odd = t_userdata('f64', 3, 2)
        set(odd, 0, 0, 0/0, 1/0, -1e300, 1e300, 0/0, 1)
        pset(odd) rectfill(odd) circfill(odd) out("survived")
    )");
    EXPECT_EQ(output(), (Lines{"1:0", "4:5,5,5,0", "3:9,10,10", "3:7,-32505,0", "4:7,7,0,0", "2:1,3", "1:survived"}));
}

namespace {

int t_budget(lua_State *L) {
    lua_pushinteger(L, cpu_cycles_max);
    return 1;
}

int t_set_cycles(lua_State *L) {
    cpu_cycles = int32_t(lua_tointeger(L, 1));
    return 0;
}

uint32_t crc_of(const std::vector<uint8_t> &v) { return crc32b(v.data(), int64_t(v.size())); }

inline constexpr int LONG_BATCH = 1200;  // records of each long batch

struct long_batch_case {
    const char *call;                                  // a batch call on B
    const char *record;                                // set(B, 0, i, ...): record i's fields
    std::function<int64_t(typed_ud_rec *)> reference;  // draws B's records, returns the whole call's charge
};

}  // namespace

// A batch whose work is many budgets is drawn over many slices, yielding
// between records: the pixels and the whole charge are those of one run.
TEST_F(ShapeCalls, LongBatchesPayAsTheyGoAndSpanTheirSlices) {
    const long_batch_case cases[] = {
        // boxes over the whole target, in changing colours
        {"rectfill(B)", "-10 + i % 7, -10 + i % 3, 490 - i % 5, 280 - i % 11, i % 16",
         [](typed_ud_rec *t) {
             int64_t cost = 0;
             for (int i = 0; i < LONG_BATCH; i++)
                 cost += rectfill(t, -15 + i % 7, -7 + i % 3, 485 - i % 5, 283 - i % 11, i % 16);
             return 3 * LONG_BATCH + cost / 3;
         }},
        // discs over the clip, 5 elements a record of which 4 are read
        {"circfill(B, 0, 1e9, 4)", "150 + i % 7, 97 + i % 3, 190 - i % 5, i % 16",
         [](typed_ud_rec *t) {
             int64_t cost = 0;
             for (int i = 0; i < LONG_BATCH; i++) {
                 const int32_t x = 145 + i % 7, y = 100 + i % 3, r = 190 - i % 5;
                 cost += draw_filloval(t, x - r, y - r, x + r, y + r, i % 16);
             }
             return 4 * LONG_BATCH + cost / 3;
         }},
    };
    for (const long_batch_case &c : cases) {
        SCOPED_TRACE(c.call);
        const std::string n = std::to_string(LONG_BATCH);
        const long_call_result r =
            long_call("camera(5, -3) clip(0, 0, 300, 200) color(6) B = t_userdata('f64', 5, " + n + ") for i = 0, " + n +
                          " - 1 do set(B, 0, i, " + c.record + ") end",
                      c.call);
        process_rec *p = get_process_by_index(0);
        ASSERT_NE(p, nullptr);
        c_bitmap ref(480, 270);
        const remembered_process prev = remember_current_process();
        cproc = p;
        refresh_clip(p);
        p->inverted_fill = 0;
        const int64_t expected = c.reference(ref.rec);
        restore_current_process(prev);
        EXPECT_EQ(crc_of(target_bytes(p)), crc_of(ref.bytes()));
        EXPECT_EQ(r.charged, expected);
        const int64_t budgets = expected / FRAME_CYCLES;
        EXPECT_GE(budgets, 8) << "the case is many budgets";
        EXPECT_GE(r.slices, budgets);
        EXPECT_LE(r.slices, budgets + 2);
        processes_init();
    }
}

// Where the call cannot yield (a callback of a C function), a batch runs on
// past its budget as Lua code there does, and is stopped by the watchdog
// once past the margin, between two records.
TEST_F(ShapeCalls, ABatchThatCannotYieldRunsOnUpToTheWatchdog) {
    struct Case {
        const char *context;    // calls f where it cannot yield
        int64_t before_margin;  // the count set in f, this far below budget + margin
        const char *out;
    } cases[] = {
        {"string.gsub('a', 'a', f)", 100000, "4:true,b,7,7"},
        {"string.gsub('a', 'a', f)", 4, "4:false,p:1: " VM_WATCHDOG_MESSAGE ",7,0"},
        {"tostring(setmetatable({}, {__tostring = f}))", 4, "4:false,p:1: " VM_WATCHDOG_MESSAGE ",7,0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.context) + " " + std::to_string(c.before_margin));
        process_rec *p = drawing(
            "color(7) local B = t_userdata('f64', 4, 2) set(B, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1) "
            "local function f() t_set_cycles(t_budget() + " + std::to_string(VM_WATCHDOG_MARGIN - c.before_margin) +
            ") rectfill(B) return 'b' end "
            "local ok, r = pcall(function() return " + c.context + " end) "
            "out(ok, r, pget(0, 0), pget(1, 1))");
        ASSERT_NE(p, nullptr);
        define(p, "t_budget", t_budget);
        define(p, "t_set_cycles", t_set_cycles);
        // The chunk yields right after the call; the overrun is debt of
        // ten frames at most.
        for (int i = 0; i < 12; i++) frame();
        const Lines lines = output();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), c.out);
        processes_init();
    }
}

// A batch inside the program's own coroutine stops the slice as the
// interpreter's budget stop does; a process killed while suspended inside a
// batch leaves nothing behind (the sanitizer build checks the frees); a
// program that rewrites a suspended call's stack through the debug library
// may stop it or change what it draws or writes, never make it reach
// outside its arrays (the sanitizer build checks the accesses).
TEST_F(ShapeCalls, ASuspendedBatchGoesOnInItsCoroutineOrDiesWithItsProcess) {
    const std::string records =
        "color(6) B = t_userdata('f64', 4, 100) for i = 0, 99 do set(B, 0, i, -1, -1, 480, 270) end ";
    process_rec *p = drawing(records +
                             "local co = coroutine.create(function() rectfill(B) out(_yielded_to_escape_slice()) end) "
                             "local n = 0 while coroutine.status(co) ~= 'dead' do coroutine.resume(co) n = n + 1 end "
                             "out(n > 3, n == t_slices())");
    ASSERT_NE(p, nullptr);
    define(p, "t_slices", [](lua_State *L) {
        lua_pushinteger(L, cproc->slices_run);
        return 1;
    });
    for (int i = 0; i < 40; i++) frame();
    EXPECT_EQ(output(), (Lines{"1:true", "2:true,true"})) << fake_host::log_text();
    processes_init();

    // An in-place product whose copy of b would pass the memory limit holds
    // it outside the limit: freed with the process. While one is held,
    // another raises an error; closing the first's coroutine lets it go.
    const std::string held = "G = t_userdata('f64', 320, 320) F = t_userdata('u8', 0x1000000, 1) "
                             "F2 = t_userdata('u8', 0x2000000 - stat(0) - 400000, 1) ";
    const struct {
        std::string code;
        bool holds;
        Lines out;
    } killed[] = {
        {records + "t_mark() rectfill(B) t_mark()", false, {}},
        {held + "co = coroutine.create(function() G:matmul(G, true) end) coroutine.resume(co) "
                "out(pcall(G.matmul, G, G, true)) coroutine.close(co) t_mark() G:matmul(G, true) t_mark()",
         true, {"2:false,matmul: the process already holds the copy of another product made in place"}},
    };
    for (const auto &c : killed) {
        SCOPED_TRACE(c.code);
        marks_.clear();
        const size_t before = output().size();
        p = drawing(c.code);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 20 && marks_.empty(); i++) frame();
        frame();
        ASSERT_EQ(marks_.size(), 1u) << "suspended inside the call";
        EXPECT_EQ(lua_status(p->lua_state), LUA_YIELD);
        EXPECT_EQ(p->held_copy != nullptr, c.holds);
        const Lines all = output();
        EXPECT_EQ(Lines(all.begin() + std::ptrdiff_t(before), all.end()), c.out);
        const int64_t id = p->id;
        kill_process(p);
        EXPECT_EQ(get_process(id), nullptr);
        frame();
        EXPECT_EQ(marks_.size(), 1u);
        processes_init();
    }

    // The calls that stop between records, rows or steps alike. A row that
    // does not tally tries to read and rewrite each of the suspended call's
    // slots in turn with each value of a list (one coroutine a try; 8 values
    // a slot), runs the call to its end and shows the number of slots the
    // debug library reached in the host call's frame: none, a host frame
    // shows no locals (a try whose budget ran out before the call began is
    // passed over). A row that tallies shows the slices a single
    // coroutine's call spanned and the cycles it charged.
    ASSERT_EQ(userdata_methods[40].fn, lua54_ud_blit);  // the real methods, in place of the stand-in
    const std::string full_boxes = "color(6) B = t_userdata('f64', 4, 30) for i = 0, 29 do set(B, 0, i, -1e18, -1e18, 1e18, "
                                   "1e18) end ";
    // 3000 lines across the target textured by T itself (sprite 5), each
    // column read one to the left (the offset register at -1): a copy of
    // width 0 taken for T's once masked that to 2^32 - 1.
    const std::string self_lines = "_set_spr(5, T) t_poke(0x5530, -1, 2) B = t_userdata('f64', 5, 3000) "
                                   "for i = 0, 2999 do set(B, 0, i, 5, 0, i % 270, 479, i % 270) end ";
    // 100 steps of 261,120 f64 each: charged as their runs are copied.
    const std::string take_steps = "S = t_userdata('f64', 512, 510) O = t_userdata('f64', 512, 510) "
                                   "I = t_userdata('i32', 100, 1) for i = 0, 512 * 510 - 1 do S[i] = i * 3 end ";
    const struct {
        std::string setup;
        const char *call;
        bool tally;
        const char *out;
    } rewrites[] = {
        {"color(6) B = t_userdata('f64', 4, 30) for i = 0, 29 do set(B, 0, i, -1, -1, 480, 270) end ", "rectfill(B)",
         false, "1:0"},
        {self_lines, "tline3d(B)", false, "1:0"},
        {"A = t_userdata('f64', 140, 140) M = t_userdata('f64', 140, 140) ", "A:matmul(M, M)", false, "1:0"},
        {"A = t_userdata('f64', 140, 140) ", "A:matmul(A, true)", false, "1:0"},
        {"Q = t_userdata('f64', 256, 256) O = t_userdata('f64', 256, 256) I = t_userdata('i32', 64, 1) ",
         "Q:take(I, O, 0, 0, 65536, 1, 0)", false, "1:0"},
        {"T = t_userdata('u8', 2600, 2600) ", "T:transpose(true)", false, "1:0"},
        // in place in b with no room for a copy of b in the process's memory
        {"A = t_userdata('f64', 140, 140) F = t_userdata('u8', 0x1000000, 1) "
         "F2 = t_userdata('u8', 0x2000000 - stat(0) - 100000, 1) ",
         "A:matmul(A, true)", false, "1:0"},
        // What counts and costs of records held across slices.
        {full_boxes, "rectfill(B)", true, "2:5,1296163"},
        {take_steps, "S:take(I, O, 0, 0, 1 << 20, 1, 0, 100)", true, "2:9,2176177"},
        {self_lines, "tline3d(B)", true, "2:3,741255"},
    };
    for (const auto &c : rewrites) {
        SCOPED_TRACE(c.call);
        const size_t before = output().size();
        const std::string sweep =
            "local z = t_userdata('u8', 1, 8) t_reshape(z, 'i64', 0, 8) "  // as mutate('i64') leaves it
            "local n, vals = 0, {'x', -1, 2^62, math.mininteger, math.maxinteger, 1.5, t_userdata('f64', 4, 2), z} "
            "for slot = 1, 16 do for _, v in ipairs(vals) do "
            "  local co = coroutine.create(function() " + std::string(c.call) + " end) coroutine.resume(co) "
            "  if coroutine.status(co) == 'suspended' and debug.getinfo(co, 0, 'S').what == 'C' and "
            "     (debug.getlocal(co, 0, slot) or debug.setlocal(co, 0, slot, v)) then n = n + 1 end "
            "  while coroutine.status(co) ~= 'dead' do coroutine.resume(co) end "
            "end end out(n)";
        // The charge of a slice the call leaves: the budget less the count
        // at the resume, plus the debt the next slice starts at.
        const std::string tally =
            "collectgarbage('stop') "  // the collector's steps are no part of the call's charge
            "local co = coroutine.create(function() " + std::string(c.call) + " end) "
            "local slices, spent = 0, 0 "
            "while true do "
            "  local c0 = t_cycles() coroutine.resume(co) local c1 = t_cycles() slices = slices + 1 "
            "  if coroutine.status(co) == 'dead' then spent = spent + c1 - c0 break end "
            "  spent = spent + t_budget() - c0 + c1 "
            "end out(slices, spent)";
        p = drawing(c.setup + (c.tally ? tally : sweep));
        ASSERT_NE(p, nullptr);
        define(p, "t_budget", t_budget);
        for (int i = 0; i < 2000 && output().size() <= before; i++) frame();
        EXPECT_EQ(output().back(), c.out);
        processes_init();
    }
}
