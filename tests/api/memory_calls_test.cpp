// peek and poke in four widths, _ppeek, memcpy and memset, userdata and vec.
#include "address_space.h"
#include "seam_fakes.h"
#include "typed_ud.h"

class MemoryCalls : public SeamTest {
  protected:
    // "<dims>d <w>x<h> <type>: <first elements>" of the typed array the call
    // 'call' returns, "none" when it returns nothing.
    static std::string shape_of(process_rec *rec, const std::string &call) {
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_State *L = rec->lua_state;
        const int base = lua_gettop(L);
        std::string result = "none";
        if (luaL_loadstring(L, ("return " + call).c_str()) != LUA_OK ||
            lua_pcall(L, 0, LUA_MULTRET, 0) != LUA_OK) {
            result = std::string("error: ") + lua_tostring(L, -1);
        } else if (lua_gettop(L) > base) {
            typed_ud_rec *u = to_typed_ud(L, base + 1);
            if (!u) {
                result = "not an array";
            } else {
                result = std::to_string(u->dims) + "d " + std::to_string(u->width) + "x" +
                         std::to_string(u->height) + " " + get_utype_string(ud_type(u)) + ":";
                const uint64_t n = std::min<uint64_t>(ud_count(u), 4);
                for (uint64_t i = 0; i < n; i++) {
                    if (ud_type(u) == UTYPE_F64) {
                        double d;
                        std::memcpy(&d, ud_elements(u) + 8 * i, 8);
                        result += " " + std::to_string(d).substr(0, 3);
                    } else {
                        result += " " + std::to_string(ud_elements(u)[i]);
                    }
                }
            }
        }
        lua_settop(L, base);
        restore_current_process(prev);
        return result;
    }
};

TEST_F(MemoryCalls, EachWidthReadsItsAddressItsOwnWay) {
    process_rec *p = spawn("");
    poke_proc(p, 0, 0x11);
    poke_proc(p, 16, 0x22);
    poke_proc(p, 0xFFFFFF, 0xAB);
    poke4_proc(p, 0x100, -1);
    poke8_proc(p, 0x200, -2);
    struct Case {
        const char *expr;
        const char *want;
    } cases[] = {
        // truncated addresses: toward zero, saturating at 2^31 - 1 (0xFFFFFF within 16 MB)
        {"peek(0.5), peek(-0.5), peek('16'), peek(2^31), peek(4294967296 + 16)", "17,17,34,171,171"},
        {"peek2(0.5), peek2(-0.5), peek2('16'), peek2(2^31)", "17,17,34,4523"},
        // floored addresses, the low 32 bits
        {"peek4(0.5), peek4(-0.5), peek4('16'), peek4(4294967296 + 16)", "17,4523,34,34"},
        {"peek8(-0.5) == 0x11AB, peek8(4294967296 + 16)", "true,34"},
        {"peek(0xFFFFFF, 3)", "171,17,0"},
        // sign extension
        {"peek2(0x100), peek4(0x100), peek8(0x100), peek(0x100)", "-1,-1,4294967295,255"},
        {"peek8(0x200), peek4(0x200), peek2(0x204)", "-2,-2,-1"},
        // counts
        {"select('#', peek(0, 0)), select('#', peek(0, 1)), select('#', peek(0, 65536))", "0,1,65536"},
        {"select('#', peek(0, 65537)), select('#', peek(0, -1)), select('#', peek2(0, 4294967297))",
         "0,0,1"},
        {"select('#', peek4(0, 65536)), select('#', peek8(0, 65537)), select('#', peek(0, '2'))",
         "65536,0,2"},
        {"select(65536, peek2(0x300, 65536))", "0"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, c.expr), c.want) << c.expr;
}

TEST_F(MemoryCalls, WritesConvertTheirValuesByWidthAndCount) {
    process_rec *p = spawn("");
    struct Case {
        const char *code;
        const char *read;
        const char *want;
    } cases[] = {
        {"poke(0x1000, 263)", "peek(0x1000)", "7"},
        {"poke(0x1000, 1.9, -1, 'x', '3')", "peek(0x1000, 4)", "1,255,0,3"},
        {"poke2(0x1000, 1.5)", "peek2(0x1000)", "1"},
        {"poke2(0x1000, -1.5, 65537)", "peek2(0x1000, 2)", "-2,1"},
        {"poke4(0x1000, 1.5)", "peek4(0x1000)", "0"},
        {"poke4(0x1000, 2.0, '7', -1)", "peek4(0x1000, 3)", "2,7,-1"},
        {"poke8(0x1000, math.mininteger, 3.5)", "peek8(0x1000, 2)", "-9223372036854775808,0"},
        {"poke(0x1000, 5) poke(0x1000)", "peek(0x1000)", "5"},
        {"poke(0xFFFFFF, 1, 2)", "peek(0xFFFFFF), peek(0)", "1,2"},
        {"poke(0x1000, 9) local t = {} for i = 1, 65537 do t[i] = 1 end poke(0x1000, table.unpack(t))",
         "peek(0x1000)", "9"},
        {"local t = {} for i = 1, 65536 do t[i] = i end poke(0x1000, table.unpack(t))",
         "peek(0x1000), peek(0x1000 + 65535)", "1,0"},
    };
    for (const Case &c : cases) {
        eval(p, c.code);
        EXPECT_EQ(eval(p, c.read), c.want) << c.code;
    }
}

TEST_F(MemoryCalls, PPeekReadsAnotherProcessOrNothing) {
    process_rec *a = spawn("");
    process_rec *b = spawn("");
    poke4_proc(b, 0x2000, -5);
    const std::string id = std::to_string(b->id);
    EXPECT_EQ(eval(a, "_ppeek(" + id + ", 0x2000), _ppeek4(" + id + ", 0x2000), _ppeek4(" + id + ", 0x2000.9)"),
              "251,-5,-5");
    EXPECT_EQ(eval(a, "select('#', _ppeek(999)), select('#', _ppeek4(999, 0)), select('#', _ppeek(1.5))"),
              "0,0,0");
    EXPECT_EQ(eval(a, "_ppeek(4294967296 + " + id + ", 0x2000)"), "251");
}

TEST_F(MemoryCalls, CopiesAndFillsClampTheirLengths) {
    process_rec *p = spawn("");
    struct Case {
        const char *code;
        const char *read;
        const char *want;
    } cases[] = {
        {"poke(0x100, 1, 2, 3, 4, 5) memcpy(0x101, 0x100, 4)", "peek(0x100, 5)", "1,1,2,3,4"},
        {"poke(0x100, 1, 2, 3, 4, 5) memcpy(0x100, 0x101, 4)", "peek(0x100, 5)", "2,3,4,5,5"},
        {"poke(0x100, 1, 2, 3) memcpy(0x200, 0x100, -1)", "peek(0x200)", "0"},
        {"poke(0x100, 1, 2, 3) memcpy(0x300, 0x100, '2')", "peek(0x300, 3)", "1,2,0"},
        {"poke(0x100, 1, 2, 3) memcpy(0x400, 0x100)", "peek(0x400)", "0"},
        {"memset(0x500, 263, 3)", "peek(0x4FF, 5)", "0,7,7,7,0"},
        {"memset(0x600, 1, -5) memset(0x600, 1, {})", "peek(0x600)", "0"},
        {"memset(0xFFFFFE, 9, 3)", "peek(0xFFFFFE, 3)", "9,9,9"},
    };
    for (const Case &c : cases) {
        eval(p, c.code);
        EXPECT_EQ(eval(p, c.read), c.want) << c.code;
    }
    // Over 16 MB copies 16 MB: the whole space shifted by one, wrapping.
    eval(p, "memset(0, 0, 0x1000000) poke(0x700, 42) memcpy(1, 0, 2^40)");
    EXPECT_EQ(eval(p, "peek(0x701), peek(0x700)"), "42,0");
}

TEST_F(MemoryCalls, ARandomSequenceAgreesWithALuaTableModel) {
    skip_to_pid(4);  // no wavetables near the top of the space
    process_rec *p = start(R"(
        math.randomseed(7)
        local m = {}
        local function get(a) return m[a & 0xFFFFFF] or 0 end
        local function put(a, v) m[a & 0xFFFFFF] = v & 255 end
        local function model_read(a, w)
          local v = 0
          for k = w - 1, 0, -1 do v = (v << 8) | get(a + k) end
          local bits = w * 8
          if w < 8 and v >= 1 << (bits - 1) then v = v - (1 << bits) end
          return v
        end
        local bad = 0
        for i = 1, 1000 do
          local op = math.random(8)
          local a = (math.random(0, 300) + ({0, 0xFE0, 0xFFFF00})[math.random(3)]) & 0xFFFFFF
          local w = ({1, 2, 4, 8})[math.random(4)]
          if op == 1 then
            local v = math.random(-100000, 100000)
            if w == 1 then poke(a, v) elseif w == 2 then poke2(a, v) elseif w == 4 then poke4(a, v) else poke8(a, v) end
            for k = 0, w - 1 do put(a + k, v >> (8 * k)) end
          elseif op == 2 then
            local n = math.random(0, 40)
            local v = math.random(0, 255)
            memset(a, v, n)
            for k = 0, n - 1 do put(a + k, v) end
          elseif op == 3 then
            local s = (math.random(0, 300)) & 0xFFFFFF
            local n = math.random(0, 40)
            local copy = {}
            for k = 0, n - 1 do copy[k] = get(s + k) end
            memcpy(a, s, n)
            for k = 0, n - 1 do put(a + k, copy[k]) end
          elseif op == 4 then  -- a run of bytes, perhaps across pages
            local vals = {}
            for k = 1, math.random(1, 60) do vals[k] = math.random(-300, 300) end
            poke(a, table.unpack(vals))
            for k = 1, #vals do put(a + k - 1, vals[k]) end
          elseif op == 5 then
            local n = math.random(1, 60)
            local got = {peek(a, n)}
            for k = 1, n do
              if got[k] ~= get(a + k - 1) then bad = bad + 1 if bad < 4 then out(i, a, k, got[k]) end break end
            end
          else
            local got
            if w == 1 then got = peek(a) elseif w == 2 then got = peek2(a) elseif w == 4 then got = peek4(a) else got = peek8(a) end
            local want = w == 1 and get(a) or model_read(a, w)
            if got ~= want then bad = bad + 1 if bad < 4 then out(i, a, w, got, want) end end
          end
        end
        out("mismatches", bad)
    )");
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10 && process_slot(p) >= 0; i++) frame();
    EXPECT_EQ(output(), (Lines{"2:mismatches,0"}));
}

TEST_F(MemoryCalls, UserdataCountsItsSizeArgumentsAroundTheDataText) {
    process_rec *p = spawn("");
    struct Case {
        const char *call;
        const char *want;
    } cases[] = {
        {"userdata('u8', 4)", "1d 4x1 u8: 0 0 0 0"},
        {"userdata('u8', 4, 4)", "2d 4x4 u8: 0 0 0 0"},
        {"userdata('u8', 4, '01020304')", "1d 4x1 u8: 1 2 3 4"},
        {"userdata('u8', 4, 4, '0102')", "2d 4x4 u8: 1 2 0 0"},
        {"userdata('u8', 4, 4, 5)", "2d 4x4 u8: 0 0 0 0"},
        {"userdata('i16', 2, 3)", "2d 2x3 i16: 0 0 0 0"},
        {"userdata('u8', -1)", "none"},
        {"userdata('u8', 4294967296 + 4)", "none"},
        {"userdata('u8', -4294967296 + 4)", "none"},
        {"userdata('u8', 4, 4294967296 + 4)", "none"},
        {"userdata('u8')", "none"},
        {"userdata('[gfx]0203abcdef')", "2d 2x3 u8: 10 11 12 13"},
        {"vec()", "none"},
        {"vec('1')", "none"},
        {"vec(1, '2', {})", "1d 3x1 f64: 1.0 2.0 0.0"},
    };
    for (const Case &c : cases) EXPECT_EQ(shape_of(p, c.call), c.want) << c.call;
}

TEST_F(MemoryCalls, RunsSplitAtTheEndOfAMappedSegment) {
    process_rec *p = spawn("");
    static uint8_t backing[100];
    std::memset(backing, 0, sizeof backing);
    map_page(p, 0x30, backing, 100);
    p->page_flags[0x30] = 0;
    eval(p, "poke(0x30000 + 95, 1, 2, 3, 4, 5, 6, 7, 8)");
    EXPECT_EQ(backing[95], 1);
    EXPECT_EQ(backing[99], 5);
    EXPECT_EQ(p->page_flags[0x30], 255);
    ASSERT_NE(p->page_own[0x30], nullptr);
    EXPECT_EQ(p->page_own[0x30][100], 6);
    EXPECT_EQ(eval(p, "peek(0x30000 + 94, 10)"), "0,1,2,3,4,5,6,7,8,0");
    unmap_page(p, 0x30);
    EXPECT_EQ(eval(p, "peek(0x30000 + 99, 3)"), "0,6,7");  // the own page serves the whole page again
}
