// The interpreter's own operations: the peek opcodes, integer division and
// modulo without errors, the opcode table and its dispatch, the stack limit
// and the refusal of binary chunks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

#include "lua_harness.h"
#include "vm_probe.h"

namespace {

// ---------------------------------------------------------------------------
// Peek opcodes

// Test hooks: each returns the raw value set in g_raw (cut to its width) and
// records the address it was called with.
uint64_t g_raw = 0;
uint32_t g_addr = 0;
int g_calls = 0;

uint8_t test_peek(uint32_t a) { g_addr = a; g_calls++; return uint8_t(g_raw); }
int16_t test_peek2(uint32_t a) { g_addr = a; g_calls++; return int16_t(uint16_t(g_raw)); }
int32_t test_peek4(uint32_t a) { g_addr = a; g_calls++; return int32_t(uint32_t(g_raw)); }
int64_t test_peek8(uint32_t a) { g_addr = a; g_calls++; return int64_t(g_raw); }

void install_test_peeks() {
    vm_peek.peek = test_peek;
    vm_peek.peek2 = test_peek2;
    vm_peek.peek4 = test_peek4;
    vm_peek.peek8 = test_peek8;
    g_raw = 0;
    g_addr = 0;
    g_calls = 0;
}

// Compiles a chunk that applies the peek opcode `op` to the local x (holding
// `operand`) on line 2 and returns the result: the chunk is compiled with a
// unary minus, which is then rewritten into the peek opcode (same operands).
std::string compile_peek(LuaHarness &h, const char *op, const std::string &operand) {
    std::string err = h.compile("local x = " + operand + "\nlocal y = -x\nreturn y");
    if (!err.empty()) return err;
    int n = vm_probe_replace_opcode(h.L(), -1, vm_probe_opcode("UNM"), vm_probe_opcode(op));
    return n == 1 ? "" : "expected one UNM, found " + std::to_string(n);
}

// Runs the compiled chunk; returns its error message, or "" and *result.
std::string run_peek(LuaHarness &h, lua_Integer *result) {
    if (lua_pcall(h.L(), 0, 1, 0) != LUA_OK) {
        std::string msg = lua_tostring(h.L(), -1);
        lua_pop(h.L(), 1);
        return msg;
    }
    EXPECT_TRUE(lua_isinteger(h.L(), -1));
    *result = lua_tointeger(h.L(), -1);
    lua_pop(h.L(), 1);
    return "";
}

struct PeekValueCase {
    const char *op;
    uint64_t raw;         // what the hook reads
    lua_Integer expected; // what the script sees
};

void PrintTo(const PeekValueCase &c, std::ostream *os) { *os << c.op << " of " << c.raw; }

class PeekValue : public ::testing::TestWithParam<PeekValueCase> {};

TEST_P(PeekValue, IsSignExtendedFromItsWidth) {
    const PeekValueCase &c = GetParam();
    LuaHarness h;
    install_test_peeks();
    g_raw = c.raw;
    ASSERT_EQ(compile_peek(h, c.op, "16"), "");
    lua_Integer v = 0;
    ASSERT_EQ(run_peek(h, &v), "");
    EXPECT_EQ(v, c.expected);
    EXPECT_EQ(g_addr, 16u);
    EXPECT_EQ(g_calls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Peek, PeekValue,
    ::testing::Values(PeekValueCase{"PEEK", 0xFF, 255}, PeekValueCase{"PEEK", 0x80, 128},
                      PeekValueCase{"PEEK2", 0xFFFF, -1}, PeekValueCase{"PEEK2", 0x7FFF, 32767},
                      PeekValueCase{"PEEK2", 0x8000, -32768},
                      PeekValueCase{"PEEK4", 0x80000000, -2147483648LL},
                      PeekValueCase{"PEEK4", 0x7FFFFFFF, 2147483647},
                      PeekValueCase{"PEEK8", 0x8000000000000000ULL, LUA_MININTEGER},
                      PeekValueCase{"PEEK8", 0x0123456789ABCDEFULL, 0x0123456789ABCDEFLL}));

struct PeekAddressCase {
    const char *operand;
    uint32_t address;
};

void PrintTo(const PeekAddressCase &c, std::ostream *os) { *os << c.operand; }

class PeekAddress : public ::testing::TestWithParam<PeekAddressCase> {};

TEST_P(PeekAddress, IsTheLow32BitsOfTheOperand) {
    const PeekAddressCase &c = GetParam();
    for (const char *op : {"PEEK", "PEEK2", "PEEK4", "PEEK8"}) {
        LuaHarness h;
        install_test_peeks();
        ASSERT_EQ(compile_peek(h, op, c.operand), "");
        lua_Integer v = 0;
        ASSERT_EQ(run_peek(h, &v), "") << op;
        EXPECT_EQ(g_addr, c.address) << op;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Peek, PeekAddress,
    ::testing::Values(PeekAddressCase{"2", 2}, PeekAddressCase{"2.0", 2},
                      PeekAddressCase{"-1", 0xFFFFFFFFu}, PeekAddressCase{"0x123456789", 0x23456789u},
                      PeekAddressCase{"-2.0", 0xFFFFFFFEu}, PeekAddressCase{"2^40 + 7", 7},
                      PeekAddressCase{"-2^63", 0}, PeekAddressCase{"math.mininteger", 0},
                      PeekAddressCase{"0x7FFFFFFFFFFFFFFF", 0xFFFFFFFFu}));

struct PeekErrorCase {
    const char *operand;
    const char *message;
};

void PrintTo(const PeekErrorCase &c, std::ostream *os) { *os << c.operand; }

class PeekError : public ::testing::TestWithParam<PeekErrorCase> {};

TEST_P(PeekError, IsTheArithmeticErrorOnTheOperand) {
    const PeekErrorCase &c = GetParam();
    for (const char *op : {"PEEK", "PEEK2", "PEEK4", "PEEK8"}) {
        LuaHarness h;
        install_test_peeks();
        ASSERT_EQ(compile_peek(h, op, c.operand), "");
        lua_Integer v = 0;
        EXPECT_EQ(run_peek(h, &v), c.message) << op;
        EXPECT_EQ(g_calls, 0) << op;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Peek, PeekError,
    ::testing::Values(
        PeekErrorCase{"'12'", "test:2: attempt to perform arithmetic on a string value (local 'x')"},
        PeekErrorCase{"1.5", "test:2: attempt to perform arithmetic on a number value (local 'x')"},
        PeekErrorCase{"0/0", "test:2: attempt to perform arithmetic on a number value (local 'x')"},
        PeekErrorCase{"2^63", "test:2: attempt to perform arithmetic on a number value (local 'x')"},
        PeekErrorCase{"-2^63 * 2", "test:2: attempt to perform arithmetic on a number value (local 'x')"},
        PeekErrorCase{"math.huge", "test:2: attempt to perform arithmetic on a number value (local 'x')"},
        PeekErrorCase{"nil", "test:2: attempt to perform arithmetic on a nil value (local 'x')"},
        PeekErrorCase{"true", "test:2: attempt to perform arithmetic on a boolean value (local 'x')"},
        // no metamethod is tried
        PeekErrorCase{"setmetatable({}, {__unm = function() return 1 end, "
                      "__add = function() return 1 end})",
                      "test:2: attempt to perform arithmetic on a table value (local 'x')"}));

// The peek operators written in the dialect's own syntax.
TEST(PeekOperators, ReadTheAddressSpaceInEachWidth) {
    LuaHarness h;
    if (!h.compile("local a = 1 return @a, %a, $a, *a").empty())
        GTEST_SKIP() << "the peek operators do not compile yet";
    lua_pop(h.L(), 1);
    install_test_peeks();
    g_raw = 0xFFFFFFFFFFFFFFFFULL;
    RunResult r = h.run("local a = 8 print(@a, %a, $a, *a)");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "255\t-1\t-1\t-1\n");
    RunResult e = h.run("local s = '1'\nprint(@s)");
    EXPECT_EQ(e.error, "test:2: attempt to perform arithmetic on a string value (local 's')");
}

// ---------------------------------------------------------------------------
// Integer division and modulo

struct DivisionCase {
    const char *m;  // Lua expressions of the operands
    const char *n;
    lua_Integer mv;
    lua_Integer nv;
    lua_Integer quotient;
    lua_Integer remainder;
};

void PrintTo(const DivisionCase &c, std::ostream *os) { *os << c.m << " by " << c.n; }

class IntegerDivision : public ::testing::TestWithParam<DivisionCase> {};

std::string expected_pair(const DivisionCase &c) {
    return std::to_string(c.quotient) + "\t" + std::to_string(c.remainder) + "\n";
}

TEST_P(IntegerDivision, OfVariablesNeverRaises) {
    const DivisionCase &c = GetParam();
    LuaHarness h;
    RunResult r = h.run(std::string("local m, n = ") + c.m + ", " + c.n + " print(m // n, m % n)");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, expected_pair(c));
}

TEST_P(IntegerDivision, OfConstantsGivesTheSameResults) {
    const DivisionCase &c = GetParam();
    LuaHarness h;
    RunResult r = h.run(std::string("print(") + c.m + " // " + c.n + ", " + c.m + " % " + c.n + ")");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, expected_pair(c));
}

TEST_P(IntegerDivision, ThroughLuaArithGivesTheSameResults) {
    const DivisionCase &c = GetParam();
    LuaHarness h;
    lua_State *L = h.L();
    lua_pushinteger(L, c.mv);
    lua_pushinteger(L, c.nv);
    lua_arith(L, LUA_OPIDIV);
    EXPECT_EQ(lua_tointeger(L, -1), c.quotient);
    lua_pushinteger(L, c.mv);
    lua_pushinteger(L, c.nv);
    lua_arith(L, LUA_OPMOD);
    EXPECT_EQ(lua_tointeger(L, -1), c.remainder);
    lua_settop(L, 0);
}

constexpr lua_Integer kMax = LUA_MAXINTEGER;
constexpr lua_Integer kMin = LUA_MININTEGER;

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, IntegerDivision,
    ::testing::Values(DivisionCase{"5", "0", 5, 0, kMax, 0},
                      DivisionCase{"-5", "0", -5, 0, -kMax, 0},
                      DivisionCase{"0", "0", 0, 0, kMax, 0},
                      DivisionCase{"(-9223372036854775807 - 1)", "0", kMin, 0, -kMax, 0},
                      DivisionCase{"5", "-1", 5, -1, -5, 0},
                      DivisionCase{"(-9223372036854775807 - 1)", "-1", kMin, -1, kMin, 0},
                      DivisionCase{"9223372036854775807", "-1", kMax, -1, -kMax, 0},
                      DivisionCase{"7", "2", 7, 2, 3, 1}, DivisionCase{"-7", "2", -7, 2, -4, 1},
                      DivisionCase{"7", "-2", 7, -2, -4, -1},
                      DivisionCase{"-7", "-2", -7, -2, 3, -1}));

// Constant folding keeps its rule: a zero divisor is computed when the
// instruction runs, a divisor of -1 is folded.
TEST(ConstantFolding, LeavesZeroDivisorsToTheInterpreterAndFoldsMinusOne) {
    LuaHarness h;
    const int idivk = vm_probe_opcode("IDIVK"), modk = vm_probe_opcode("MODK");
    ASSERT_EQ(h.compile("return 7 // 0, 7 % 0"), "");
    EXPECT_EQ(vm_probe_count_opcode(h.L(), -1, idivk, 0), 1);
    EXPECT_EQ(vm_probe_count_opcode(h.L(), -1, modk, 0), 1);
    lua_pop(h.L(), 1);
    ASSERT_EQ(h.compile("return 7 // -1, 7 % -1"), "");
    EXPECT_EQ(vm_probe_count_opcode(h.L(), -1, idivk, 0), 0);
    EXPECT_EQ(vm_probe_count_opcode(h.L(), -1, modk, 0), 0);
    lua_pop(h.L(), 1);
}

TEST(FloatDivision, KeepsItsInfinitiesAndNaN) {
    LuaHarness h;
    RunResult r = h.run(
        "local z = 0 print(5.0 // z == math.huge, -5.0 // z == -math.huge, 5 // 0.0 == math.huge)\n"
        "local r = 5.0 % z print(r ~= r)\n"
        "print(5.0 // 0 == math.huge, 5 / 0 == math.huge)");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "true\ttrue\ttrue\ntrue\ntrue\ttrue\n");
}

// ---------------------------------------------------------------------------
// Concatenation

// Regression: after a __concat metamethod, the interpreter set the stack top
// from a pointer taken before the call; when the call had reallocated the
// stack, the top pointed into the freed stack (found by the budget fuzzer).
TEST(Concat, AMetamethodThatGrowsTheStackLeavesAValidTop) {
    LuaHarness h;
    RunResult r = h.run(
        "local o = setmetatable({}, {__concat = function(x, y) return tostring(1) end})\n"
        "local function deep(n)\n"
        "  if n == 0 then return o .. o .. 0.5 end\n"
        "  return (deep(n - 1))\n"
        "end\n"
        "local all = {}\n"
        "for n = 0, 300 do all[rawlen(all) + 1] = deep(n) end\n"
        "print(rawlen(all), all[1], all[301])");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "301\t1\t1\n");
}

// ---------------------------------------------------------------------------
// Opcode table and dispatch

TEST(OpcodeTable, HasThePeekOpcodesAfterNotAndTheRestShiftedByFour) {
    const struct { const char *name; int number; } table[] = {
        {"MOVE", 0},  {"NOT", 51},    {"PEEK", 52},  {"PEEK2", 53},   {"PEEK4", 54},
        {"PEEK8", 55}, {"LEN", 56},   {"CONCAT", 57}, {"JMP", 60},    {"CALL", 72},
        {"RETURN", 74}, {"FORLOOP", 77}, {"VARARGPREP", 85}, {"EXTRAARG", 86}};
    for (const auto &e : table) EXPECT_EQ(vm_probe_opcode(e.name), e.number) << e.name;
    EXPECT_EQ(vm_probe_num_opcodes(), 87);
    for (const char *peek : {"PEEK", "PEEK2", "PEEK4", "PEEK8"})
        EXPECT_EQ(vm_probe_opmode(vm_probe_opcode(peek)), 0x08) << peek;
}

// An opcode byte past the last opcode does nothing: the instruction after it
// runs as usual.
TEST(Dispatch, OpcodeBytesPastTheLastOpcodeDoNothing) {
    for (int op : {87, 100, 127}) {
        LuaHarness h;
        ASSERT_EQ(h.compile("local a, b = 1, 7\nb = -a\nreturn b"), "");
        ASSERT_EQ(vm_probe_replace_opcode(h.L(), -1, vm_probe_opcode("UNM"), op), 1);
        ASSERT_EQ(lua_pcall(h.L(), 0, 1, 0), LUA_OK) << lua_tostring(h.L(), -1);
        EXPECT_EQ(lua_tointeger(h.L(), -1), 7) << "opcode " << op;
    }
}

// ---------------------------------------------------------------------------
// Stack limit

TEST(StackLimit, CheckstackRefusesBeyondOneHundredThousandSlots) {
    LuaHarness h;
    // a fresh thread uses 1 slot, plus the 5 extra slots the check adds
    lua_State *t = lua_newthread(h.L());
    EXPECT_EQ(lua_checkstack(t, 100000), 0);
    EXPECT_EQ(lua_checkstack(t, 99995), 0);
    EXPECT_EQ(lua_checkstack(t, 99994), 1);
    lua_State *u = lua_newthread(h.L());
    EXPECT_EQ(lua_checkstack(u, 1000), 1);
}

TEST(StackLimit, DeepRecursionRaisesStackOverflow) {
    LuaHarness h;
    RunResult r = h.run(
        "local depth = 0\n"
        "local function f() depth = depth + 1 return 1 + f() end\n"
        "local ok, err = pcall(f)\n"
        "print(ok, err)\n"
        "print(depth > 10000 and depth < 100000)");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "false\ttest:2: stack overflow\ntrue\n");
}

// ---------------------------------------------------------------------------
// Binary chunks

int append_chunk(lua_State *, const void *p, size_t sz, void *ud) {
    static_cast<std::string *>(ud)->append(static_cast<const char *>(p), sz);
    return 0;
}

TEST(BinaryChunks, AreRefusedWhateverTheMode) {
    LuaHarness h;
    ASSERT_EQ(h.compile("return 42"), "");
    std::string chunk;
    ASSERT_EQ(lua_dump(h.L(), append_chunk, &chunk, 0), 0);
    lua_pop(h.L(), 1);
    ASSERT_FALSE(chunk.empty());
    const struct { const char *mode; const char *shown; } modes[] = {
        {"b", "b"}, {"bt", "bt"}, {nullptr, "bt"}, {"t", "t"}};
    for (const auto &m : modes) {
        int st = luaL_loadbufferx(h.L(), chunk.data(), chunk.size(), "=bin", m.mode);
        EXPECT_EQ(st, LUA_ERRSYNTAX);
        EXPECT_EQ(std::string(lua_tostring(h.L(), -1)),
                  std::string("attempt to load a binary chunk (mode is '") + m.shown + "')");
        lua_pop(h.L(), 1);
    }
}

}  // namespace
