// The method table USERDATA: its fixed entry order, method lookup at call
// time, arrays made without it, and receivers that are not typed arrays.
#include <cstring>
#include <set>
#include <string>

#include "ud_fixture.h"
#include "ud_methods.h"

// The drawing calls behind set, get and blit, in place of the script API's:
// each returns its own name before the arguments it was given.
namespace {

int echo(lua_State *L, const char *name) {
    const int n = lua_gettop(L);
    lua_pushstring(L, name);
    lua_insert(L, 1);
    return n + 1;
}

}  // namespace

extern "C" int lua54_set_0(lua_State *L) { return echo(L, "set"); }
extern "C" int lua54_get_0(lua_State *L) { return echo(L, "get"); }
extern "C" int lua54_blit_0(lua_State *L) { return echo(L, "blit"); }

namespace {

using MethodTable = UdTest;

// Every entry of the table, in the order it is set.
const char *const expected_order[USERDATA_METHOD_COUNT] = {
    "sort", "convert", "copy", "take", "clear",
    "__add", "__sub", "__mul", "__div", "__idiv", "__mod", "__pow",
    "__band", "__bor", "__bxor", "__shl", "__shr",
    "add", "sub", "mul", "div", "idiv", "mod", "pow",
    "band", "bor", "bxor", "shl", "shr",
    "max", "min", "abs", "sgn", "sgn0",
    "__len", "__tostring", "__index", "__newindex",
    "set", "get", "blit",
    "peek", "poke",
    "width", "height", "attribs",
    "mutate",
    "lerp",
    "magnitude", "distance", "dot", "cross", "matmul", "matmul3d", "matmul2d", "transpose",
    "row", "column",
};

TEST_F(MethodTable, AllEntriesStandInTheirFixedOrder) {
    lua_getglobal(L(), "USERDATA");
    ASSERT_TRUE(lua_istable(L(), -1));
    for (int i = 0; i < USERDATA_METHOD_COUNT; i++) {
        const ud_method &m = userdata_methods[i];
        EXPECT_STREQ(m.name, expected_order[i]) << "entry " << i + 1;
        ASSERT_NE(m.fn, nullptr) << m.name;
        lua_getfield(L(), -1, expected_order[i]);
        EXPECT_EQ(lua_tocfunction(L(), -1), m.fn) << m.name;
        lua_pop(L(), 1);
    }
    // Nothing beyond the list.
    int keys = 0;
    lua_pushnil(L());
    while (lua_next(L(), -2)) {
        keys++;
        lua_pop(L(), 1);
    }
    EXPECT_EQ(keys, USERDATA_METHOD_COUNT);
    lua_pop(L(), 1);
    EXPECT_EQ(eval("getmetatable(USERDATA)"), "nil");
    // Each metamethod is the very function of its method.
    EXPECT_EQ(eval(R"((function()
      local odd = {}
      for _, n in ipairs{'add', 'sub', 'mul', 'div', 'idiv', 'mod', 'pow', 'band', 'bor', 'bxor', 'shl', 'shr'} do
        if USERDATA['__' .. n] ~= USERDATA[n] then odd[#odd + 1] = n end
      end
      return table.concat(odd, ' ')
    end)())"), "");
}

// Operators pass their operands in source order; a nil right operand gives
// nil, except for division, where it divides by zero.
TEST_F(MethodTable, OperatorsPassOperandsInSourceOrder) {
    exec("A = vec('i32', 1, 2, 3) B = vec('i32', 10, 20, 30)");
    struct Case { const char *expr, *want; } cases[] = {
        {"dump(A + B)", "3x1 i32 1: 11 22 33"},
        {"dump(5 - A)", "3x1 i32 1: 4 3 2"},
        {"dump(B // 3)", "3x1 i32 1: 3 6 10"},
        {"dump(B & 15)", "3x1 i32 1: 10 4 14"},
        {"dump(2 << A)", "3x1 i32 1: 4 8 16"},
        {"dump(A << 2)", "3x1 i32 1: 4 8 12"},
        {"dump(A ~ B)", "3x1 i32 1: 11 22 29"},
        {"dump(A % 2)", "3x1 i32 1: 1 0 1"},
        {"dump(B ^ 2)", "3x1 i32 1: 100 400 900"},
        {"A + nil", "nil"},
        {"dump(A / nil)", "3x1 i32 1: 2147483647 2147483647 2147483647"},
        {"dump(A)", "3x1 i32 1: 1 2 3"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(c.expr), c.want) << c.expr;
}

// The methods hand their receiver, every argument and every result through
// to the drawing calls (how those draw is the script API's own test).
TEST_F(MethodTable, SetGetAndBlitForwardToTheDrawingCalls) {
    exec("A = vec('u8', 1, 2, 3) B = vec('u8', 4, 5) "
         "function SHOW(...) local t = table.pack(...) "
         "for i = 1, t.n do t[i] = t[i] == A and 'A' or t[i] == B and 'B' or tostring(t[i]) end "
         "return table.concat(t, ' ', 1, t.n) end");
    struct Case { const char *expr, *want; } cases[] = {
        {"SHOW(A:get(1, 2))", "get A 1 2"},
        {"SHOW(A:set(0, 0, 7, 8))", "set A 0 0 7 8"},
        {"SHOW(A:blit(B, nil, 3))", "blit A B nil 3"},
        {"SHOW(USERDATA.get())", "get"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(c.expr), c.want) << c.expr;
}

TEST_F(MethodTable, FunctionsStoredInTheTableBecomeMethodsOfExistingArrays) {
    exec("A = vec('u8', 1, 2, 3)");
    EXPECT_EQ(eval("A.twice"), "nil");
    exec("function USERDATA.twice(self) return self:width() * 2 end");
    EXPECT_EQ(eval("A:twice(), A.twice == USERDATA.twice"), "6\ttrue");
    exec("USERDATA.width = nil");
    EXPECT_EQ(eval("A.width"), "nil");
    EXPECT_NE(eval("A:nosuch()").find("attempt to call a nil value (method 'nosuch')"),
              std::string::npos);
}

TEST_F(MethodTable, ArraysMadeWithoutATableHaveNoMetatable) {
    for (const char *value : {"nil", "5", "'USERDATA'"}) {
        exec(std::string("SAVED = USERDATA USERDATA = ") + value +
             " A = t_create('u8', 1, 4) USERDATA = SAVED");
        EXPECT_EQ(eval("getmetatable(A)"), "nil") << value;
        EXPECT_NE(eval("A[0]").find("attempt to index a userdata value"), std::string::npos) << value;
        EXPECT_EQ(eval("SAVED.width(A)"), "4") << value;
    }
    // The global is read raw: a metatable on the globals is never consulted.
    exec("SAVED = USERDATA USERDATA = nil "
         "setmetatable(_G, {__index = function(t, k) if k == 'USERDATA' then return SAVED end end}) "
         "A = t_create('u8', 1, 4) setmetatable(_G, nil) USERDATA = SAVED");
    EXPECT_EQ(eval("getmetatable(A)"), "nil");
    // Replacing the table later leaves arrays made before with the old one.
    exec("OLD = USERDATA B = t_create('u8', 1, 4) USERDATA = {}");
    EXPECT_EQ(eval("getmetatable(B) == OLD, getmetatable(t_create('u8', 1, 4)) == USERDATA"),
              "true\ttrue");
}

// A finalizer that the method's first allocation through Lua runs reshapes
// an operand with mutate. The methods read the shapes, made their result and
// went on with the shapes read before: reads and writes past the arrays
// (transpose, convert, row, column, matmul3d, matmul2d, take, copy with an
// index array, the element-wise frame), or a result of the wrong shape
// (matmul, palette mode), or elements never written (a fresh output meant to
// be overwritten whole). Each row's mutation must run inside its call (INSIDE).
struct ReshapedInside { const char *setup, *mutate, *call, *check, *want; };

const ReshapedInside reshaped_inside[] = {
    {"A = t_create('i64', 2, 8, 8)", "A:mutate('u8')", "R = A:transpose()",
     "R, A:attribs()", "nil\t64\t8\tu8\t2"},
    {"A = t_create('i64', 2, 8, 8)", "A:mutate('u8')", "R = A:convert('f64')",
     "R, A:attribs()", "nil\t64\t8\tu8\t2"},
    {"A = t_create('i64', 2, 8, 8)", "A:mutate('i64', 4)", "R = select('#', A:convert('u8', true))",
     "R, A:attribs()", "0\t4\t1\ti64\t1"},
    {"A = t_create('i64', 2, 8, 8)", "A:mutate('i64', 64)", "R = A:row(7)",
     "R, A:attribs()", "nil\t64\t1\ti64\t1"},
    {"A = t_create('i64', 2, 8, 8)", "A:mutate('i64', 1, 64)", "R = A:column(0)",
     "R, A:attribs()", "nil\t1\t64\ti64\t2"},
    {"A = t_create('f64', 2, 4, 4) B = t_create('f64', 2, 4, 4)", "A:mutate('f64', 16)", "R = A:matmul(B)",
     "R, A:attribs()", "nil\t16\t1\tf64\t1"},
    {"A = t_create('f64', 2, 3, 4) B = t_create('f64', 2, 3, 4)", "A:mutate('f64', 12)", "R = A:matmul3d(B)",
     "R, A:attribs()", "nil\t12\t1\tf64\t1"},
    {"A = t_create('f64', 2, 2, 3) B = t_create('f64', 2, 2, 3)", "A:mutate('f64', 6)", "R = A:matmul2d(B)",
     "R, A:attribs()", "nil\t6\t1\tf64\t1"},
    {"S = t_create('i64', 1, 8) I = vec('i32', 60, 61, 62, 63)", "S:mutate('u8')", "R = S:take(I)",
     "R, S:attribs()", "nil\t64\t1\tu8\t1"},
    {"S = t_create('i64', 1, 8) I = vec('i32', 60, 61, 62, 63)", "S:mutate('u8')", "R = S:copy(I)",
     "R, S:attribs()", "nil\t64\t1\tu8\t1"},
    // The element-wise frame reads its operands again: types that now differ
    // refuse; a b that became shorter leaves the rest of the fresh copy a's.
    {"A = t_create('i64', 2, 8, 8) B = t_create('i64', 1, 512)", "A:mutate('u8')", "R = A:add(B)",
     "R, A:attribs()", "nil\t64\t8\tu8\t2"},
    {"A = t_create('i64', 1, 64) for i = 0, 63 do A[i] = 1000 + i end B = t_create('i64', 1, 64) B:add(1, true)",
     "B:mutate('i64', 16)", "R = A:add(B)",
     "(function() for i = 0, 63 do if R[i] ~= 1000 + i + (i < 16 and 1 or 0) then return i end end return 'ok' end)()",
     "ok"},
};

TEST_F(MethodTable, OperandsReshapedByAFinalizerInsideTheFirstAllocationAreReadAgain) {
    exec(R"(
      IN_CALL, INSIDE, R = false, false, false
      local ran = 0
      local probe = {__gc = function() ran = ran + 1 end}
      function inside_first_alloc(mutate, call)
        ran = 0 INSIDE = false
        setmetatable({}, {__gc = function() INSIDE = IN_CALL pcall(mutate) end})
        for i = 1, 10 do setmetatable({}, probe) end
        collectgarbage("incremental", 1, 100, 1) repeat collectgarbage("step", 0) until ran == 10
        IN_CALL = true call() IN_CALL = false
        collectgarbage("incremental", 200, 100, 13)
      end
    )");
    for (const ReshapedInside &c : reshaped_inside) {
        exec(c.setup);
        exec(std::string("inside_first_alloc(function() ") + c.mutate + " end, function() " + c.call + " end)");
        EXPECT_EQ(eval(std::string("INSIDE, ") + c.check), std::string("true\t") + c.want) << c.call;
        exec("R = false collectgarbage()");
    }
}

// Full userdata blocks that are not typed arrays, set as globals F1.. by the test.
struct Foreign { const char *name; size_t size; uint8_t type; uint32_t w, h, d; };

const Foreign foreign_blocks[] = {
    {"F_SMALL", 8, 3, 0, 0, 0},          // shorter than a header
    {"F_HEADER_ONLY", 16, 3, 100, 1, 1}, // claims 100 bytes it does not hold
    {"F_SHORT", 24, 22, 2, 1, 1},        // two f64 need 16 bytes
    {"F_UNKNOWN_TYPE", 24, 7, 1, 1, 1},  // no such element type
    {"F_WRAP", 24, 3, 65536, 65536, 1},  // the product wraps in 32 bits
    {"F_HUGE", 24, 14, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
};

TEST_F(MethodTable, EveryEntryIgnoresReceiversThatAreNotArrays) {
    for (const Foreign &f : foreign_blocks) {
        auto *p = static_cast<uint8_t *>(lua_newuserdatauv(L(), f.size, 0));
        std::memset(p, 0xAB, f.size);
        if (f.size >= 16) {
            typed_ud_rec h{f.type, 1, {0, 0}, f.w, f.h, f.d};
            std::memcpy(p, &h, sizeof h);
        }
        lua_setglobal(L(), f.name);
    }
    // The light userdata of debug.upvalueid points into the interpreter's own
    // memory: writing through it used to corrupt the upvalue.
    exec(R"(
      local secret = 1234
      function SECRET() return secret end
      RECEIVERS = {debug.upvalueid(SECRET, 1), false, 0, 'x', {}, print,
                   coroutine.create(print), F_SMALL, F_HEADER_ONLY, F_SHORT,
                   F_UNKNOWN_TYPE, F_WRAP, F_HUGE}
      ARGSETS = {{}, {0, 5}, {'x', 5}, {1, 2, 3}, {'i16', 4, 4}, {'u8', true},
                 {0x10000, 0, 4}, {'f64'}}
    )");
    // set, get and blit are the drawing calls, which give other receivers
    // their own meaning (blit draws from the target); here they echo.
    std::string bad = eval(R"((function()
      local bad, k = {}, 0
      local drawing = {set = true, get = true, blit = true}
      for name, f in pairs(USERDATA) do
        if not drawing[name] then
          for r = 1, 13 do
            for _, args in ipairs(ARGSETS) do
              local n = select('#', f(RECEIVERS[r], table.unpack(args)))
              if n ~= 0 then k = k + 1 bad[k] = name .. '#' .. r end
            end
          end
          local n = select('#', f())
          if n ~= 0 then k = k + 1 bad[k] = name .. '()' end
        end
      end
      return table.concat(bad, ' ')
    end)())");
    EXPECT_EQ(bad, "");
    EXPECT_EQ(eval("SECRET()"), "1234");
    for (const Foreign &f : foreign_blocks) {
        lua_getglobal(L(), f.name);
        auto *p = static_cast<const uint8_t *>(lua_touserdata(L(), -1));
        for (size_t i = f.size >= 16 ? 16 : 0; i < f.size; i++) EXPECT_EQ(p[i], 0xAB) << f.name;
        if (f.size >= 16) {
            typed_ud_rec h;
            std::memcpy(&h, p, sizeof h);
            EXPECT_EQ(h.type, f.type) << f.name;
            EXPECT_EQ(h.width, f.w) << f.name;
            EXPECT_EQ(h.height, f.h) << f.name;
        }
        lua_pop(L(), 1);
    }
}

}  // namespace
