// Operators of the dialect: the alternative spellings of not-equal, floor
// division and exclusive or, and the four peek prefix operators.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lua_harness.h"
#include "lua_internals.h"

namespace {

// The instructions (opcodes) of a compiled chunk.
std::vector<int> code_of(const std::string &src) {
    LuaHarness h;
    EXPECT_EQ(h.compile(src), "") << src;
    return lua_internals::opcodes(lua_internals::top_proto(h.L()));
}

std::vector<Instruction> instructions_of(const std::string &src) {
    LuaHarness h;
    EXPECT_EQ(h.compile(src), "") << src;
    const Proto *p = lua_internals::top_proto(h.L());
    return std::vector<Instruction>(p->code, p->code + p->sizecode);
}

}  // namespace

TEST(LuaOperators, AlternativeSpellingsCompileToTheSameInstructions) {
    const struct {
        const char *dialect;
        const char *standard;
    } cases[] = {
        {"local a, b = ... return a != b", "local a, b = ... return a ~= b"},
        {"local a = ... return a != 1", "local a = ... return a ~= 1"},
        {"local a, b = ... if a != b then return 1 end", "local a, b = ... if a ~= b then return 1 end"},
        {"local a, b = ... return a \\ b", "local a, b = ... return a // b"},
        {"local a = ... return a \\ 2", "local a = ... return a // 2"},
        {"return 7 \\ 2", "return 7 // 2"},
        {"local a, b = ... return a ^^ b", "local a, b = ... return a ~ b"},
        {"local a = ... return ^^a", "local a = ... return ~a"},
        {"return ^^5", "return ~5"},
        {"local a, b, c = ... return a ^^ b & c", "local a, b, c = ... return a ~ b & c"},
        {"local a = ... a \\= 2 return a", "local a = ... a = a // 2 return a"},
        {"local a = ... a ^^= 3 return a", "local a = ... a = a ~ 3 return a"},
        {"local a = ... a += 1 return a", "local a = ... a = a + 1 return a"},
        {"local t = ... t.x ..= 's'", "local t = ... t.x = t.x .. 's'"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(instructions_of(c.dialect), instructions_of(c.standard)) << c.dialect;
}

TEST(LuaOperators, AlternativeSpellingsGiveTheStandardResults) {
    LuaHarness h;
    RunResult r = h.run(R"(
        print(1 != 2, 1 != 1, 'a' != 'a', nil != false)
        print(7 \ 2, -7 \ 2, 7.5 \ 2, 7 \ 2.0)
        print(5 ^^ 3, ^^5, ^^ ^^5, 6 ^^ 3 ^^ 5)
        print(1 | 2 ^^ 3, (1 | 2) ~ 3)
        print(2 ^ 3 ^ 2, -2 ^ 2)
    )");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output,
              "true\tfalse\tfalse\ttrue\n"
              "3\t-4\t3.0\t3.0\n"
              "6\t-6\t5\t0\n"
              "1\t0\n"
              "512.0\t-4.0\n");
}

// A fake address space behind the peek hooks: byte i holds i * 7 + 3, except
// for a few words set by the tests; every read is recorded.
namespace {

struct FakeMemory {
    std::array<uint8_t, 0x10000> bytes{};
    std::vector<std::string> reads;  // "peek2@0x10", ...
};

FakeMemory *g_mem = nullptr;

void record(const char *what, uint32_t addr) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s@%u", what, addr);
    g_mem->reads.emplace_back(buf);
}

template <typename T> T read_le(uint32_t addr) {
    T v;
    uint8_t tmp[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); i++) tmp[i] = g_mem->bytes[(addr + i) & 0xFFFF];
    std::memcpy(&v, tmp, sizeof(T));
    return v;
}

extern "C" uint8_t fake_peek(uint32_t a) { record("peek", a); return read_le<uint8_t>(a); }
extern "C" int16_t fake_peek2(uint32_t a) { record("peek2", a); return read_le<int16_t>(a); }
extern "C" int32_t fake_peek4(uint32_t a) { record("peek4", a); return read_le<int32_t>(a); }
extern "C" int64_t fake_peek8(uint32_t a) { record("peek8", a); return read_le<int64_t>(a); }

class LuaPeek : public testing::Test {
  protected:
    void SetUp() override {
        for (size_t i = 0; i < mem.bytes.size(); i++) mem.bytes[i] = uint8_t(i * 7 + 3);
        g_mem = &mem;
    }
    // Installs the fake hooks; a harness resets them when it is destroyed,
    // so each test installs them after creating its harness.
    static void install() {
        vm_peek.peek = fake_peek;
        vm_peek.peek2 = fake_peek2;
        vm_peek.peek4 = fake_peek4;
        vm_peek.peek8 = fake_peek8;
    }
    void TearDown() override {
        vm_reset_peek_hooks();
        g_mem = nullptr;
    }
    void put(uint32_t addr, uint64_t v, int n) {
        for (int i = 0; i < n; i++) mem.bytes[addr + i] = uint8_t(v >> (8 * i));
    }
    FakeMemory mem;
};

}  // namespace

TEST_F(LuaPeek, EachPrefixReadsItsWidthThroughItsHook) {
    put(0x100, 0xFFFF, 2);
    put(0x200, 0x80000000u, 4);
    put(0x300, 0x8000000000000001ull, 8);
    put(0x400, 0xAB, 1);
    LuaHarness h;
    install();
    RunResult r = h.run(R"(
        local a = 0x400
        print(@a, %0x100, $0x200, *0x300)
        print(@1024, %(0x100), $ 0x200)
    )");
    ASSERT_EQ(r.status, LUA_OK) << r.error;
    EXPECT_EQ(r.output, "171\t-1\t-2147483648\t-9223372036854775807\n171\t-1\t-2147483648\n");
    EXPECT_EQ(mem.reads, (std::vector<std::string>{"peek@1024", "peek2@256", "peek4@512",
                                                   "peek8@768", "peek@1024", "peek2@256",
                                                   "peek4@512"}));
}

TEST_F(LuaPeek, PrefixesBindLikeOtherUnaryOperators) {
    put(4, 9, 1);       // @(2 ^ 2)
    put(10, 200, 1);    // @10
    put(20, 0xFFF9, 2); // %20 = -7
    put(40, 5, 8);      // *40 = 5
    const struct {
        const char *expr;
        const char *value;
        std::vector<std::string> reads;
    } cases[] = {
        {"@10 + 1", "201", {"peek@10"}},
        {"@a ^ 2", "9", {"peek@4"}},              // the power binds tighter: address a ^ 2
        {"(@a) ^ 2", "289.0", {"peek@2"}},
        {"%20 % 3", "2", {"peek2@20"}},           // infix % is still modulo
        {"*40 * 2", "10", {"peek8@40"}},          // infix * is still multiplication
        {"2 * *40", "10", {"peek8@40"}},
        {"-@10", "-200", {"peek@10"}},
        {"@@a", "122", {"peek@2", "peek@17"}},    // byte 2 is 17, byte 17 is 122
        {"#'ab' + @10", "202", {"peek@10"}},
        {"@10 .. ''", "200", {"peek@10"}},
        {"@10 == 200", "true", {"peek@10"}},
        {"not @10", "false", {"peek@10"}},
        {"@(a * 5)", "200", {"peek@10"}},
        {"@2.0", "17", {"peek@2"}},               // floats with an integer value
        {"@-1", "2", {"peek@4294967295"}},        // the low 32 bits of the address
        {"@(1 << 32 | 10)", "200", {"peek@10"}},
    };
    mem.bytes[2] = 17;
    mem.bytes[17] = 122;
    mem.bytes[0xFFFF] = 2;
    for (const auto &c : cases) {
        mem.reads.clear();
        LuaHarness h;
        install();
        RunResult r = h.run(std::string("local a = 2 print(") + c.expr + ")");
        ASSERT_EQ(r.status, LUA_OK) << c.expr << ": " << r.error;
        EXPECT_EQ(r.output, std::string(c.value) + "\n") << c.expr;
        EXPECT_EQ(mem.reads, c.reads) << c.expr;
    }
}

TEST_F(LuaPeek, ConstantOperandsAreReadWhenTheCodeRuns) {
    LuaHarness h;
    install();
    ASSERT_EQ(h.compile("local function f() return @5, %6, $8, *16 end return f"), "");
    ASSERT_EQ(lua_pcall(h.L(), 0, 1, 0), LUA_OK);
    auto call = [&]() {
        lua_pushvalue(h.L(), -1);
        EXPECT_EQ(lua_pcall(h.L(), 0, 4, 0), LUA_OK);
        std::string out;
        for (int i = -4; i < 0; i++) out += std::to_string(lua_tointeger(h.L(), i)) + " ";
        lua_pop(h.L(), 4);
        return out;
    };
    std::string before = call();
    mem.bytes.fill(1);
    EXPECT_EQ(call(), "1 257 16843009 72340172838076673 ");
    EXPECT_NE(before, "1 257 16843009 72340172838076673 ");
}

TEST_F(LuaPeek, ConstantOperandsAreLoadedIntoARegisterNotFolded) {
    // the main chunk begins with OP_VARARGPREP
    using V = std::vector<int>;
    EXPECT_EQ(code_of("return @5"), (V{OP_VARARGPREP, OP_LOADI, OP_PEEK, OP_RETURN, OP_RETURN}));
    EXPECT_EQ(code_of("return %5")[2], OP_PEEK2);
    EXPECT_EQ(code_of("return $5")[2], OP_PEEK4);
    EXPECT_EQ(code_of("return *5")[2], OP_PEEK8);
    EXPECT_EQ(code_of("return @'5'")[1], OP_LOADK);
    EXPECT_EQ(code_of("return #'abc'")[2], OP_LEN);
    // an operand already in a register is read from there
    EXPECT_EQ(code_of("local a = ... return @a"),
              (V{OP_VARARGPREP, OP_VARARG, OP_PEEK, OP_RETURN, OP_RETURN}));
    // unary minus and bitwise not still fold
    EXPECT_EQ(code_of("return -5"), code_of("return 0 - 5"));
    EXPECT_EQ(code_of("return ^^5"), code_of("return -6"));
}

TEST_F(LuaPeek, OperandsWithoutAnIntegerValueAreArithmeticErrors) {
    const struct {
        const char *src;
        const char *error;
    } cases[] = {
        {"local s = '5' return @s", "test:1: attempt to perform arithmetic on a string value (local 's')"},
        {"return %1.5", "test:1: attempt to perform arithmetic on a number value"},
        {"local t = {} return $t.x", "test:1: attempt to perform arithmetic on a nil value (field 'x')"},
        {"return *g", "test:1: attempt to perform arithmetic on a nil value (global 'g')"},
        {"return @true", "test:1: attempt to perform arithmetic on a boolean value"},
    };
    for (const auto &c : cases) {
        LuaHarness h;
        install();
        RunResult r = h.run(c.src);
        EXPECT_EQ(r.status, LUA_ERRRUN) << c.src;
        EXPECT_EQ(r.error, c.error) << c.src;
    }
    EXPECT_TRUE(mem.reads.empty());
}
