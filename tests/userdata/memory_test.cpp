// peek and poke copy elements between an array and the running process's
// address space, clipped to the array and charged per four elements.
#include <string>

#include "address_space.h"
#include "fake_host.h"
#include "process.h"
#include "ud_fixture.h"

namespace {

class Memory : public UdTest {
  protected:
    void SetUp() override {
        fake_host::reset();
        processes_init();
        proc_ = create_process_from_code("", "p", "/t/p.lua", "");
        ASSERT_NE(proc_, nullptr);
        cproc = proc_;
    }
    void TearDown() override {
        cproc = nullptr;
        processes_init();
    }

    // The bytes at [addr, addr + n) as "b0 b1 ...".
    static std::string bytes(uint32_t addr, int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += (i ? " " : "") + std::to_string(peek(addr + uint32_t(i)));
        return s;
    }

    process_rec *proc_ = nullptr;
};

TEST_F(Memory, PeekFillsElementsFromTheAddressOnward) {
    for (int i = 0; i < 8; i++) poke(0x10000 + uint32_t(i), 11 * (i + 1));
    struct Case { const char *args; const char *elements; int32_t cycles; } cases[] = {
        {"0x10000", "11 22 33 44", 2},
        {"0x10000, 2, 3", "0 0 11 22", 1},
        {"0x10000, 1, 2", "0 11 22 0", 1},
        {"0x10000, -5, 2", "11 22 0 0", 1},
        {"0x10000, 10", "0 0 0 0", 0},
        {"0x10000, 4", "0 0 0 0", 1},
        {"0x10000, 0, 0", "0 0 0 0", 1},
        {"0x10000, 0, -3", "0 0 0 0", 0},
        {"0x10000, 0, 2.9", "11 22 0 0", 1},
        {"'0x10001', '1', '2'", "0 22 33 0", 1},
        {"0x10000, nil, 100", "11 22 33 44", 2},
        {"0x1010000", "11 22 33 44", 2},
        {"0x10000 + 2^40", "11 22 33 44", 2},
    };
    for (const auto &c : cases) {
        exec("A = vec('u8', 0, 0, 0, 0)");
        std::string args = std::string("A, ") + c.args;
        EXPECT_EQ(charge("peek", args), c.cycles) << args;
        EXPECT_EQ(eval("dump(A)"), "4x1 u8 1: " + std::string(c.elements)) << args;
        EXPECT_EQ(eval("rawequal(A:peek(" + std::string(c.args) + "), A)"), "true") << args;
    }
}

TEST_F(Memory, PokeWritesElementsLittleEndianWithinTheArray) {
    struct Case { const char *make, *args; uint32_t addr; int n; const char *bytes; int32_t cycles; } cases[] = {
        {"vec('i32', 1, -1, 0x01020304, 0, 5)", "0x20000", 0x20000, 21,
         "1 0 0 0 255 255 255 255 4 3 2 1 0 0 0 0 5 0 0 0 0", 2},
        {"vec('u8', 1, 2, 3, 4)", "0x20000, 1, 2", 0x20000, 3, "2 3 0", 1},
        {"vec('u8', 1, 2, 3, 4)", "0x20000, 3, 9", 0x20000, 2, "4 0", 1},
        {"vec('u8', 1, 2, 3, 4)", "0x20000, 4", 0x20000, 1, "0", 1},
        {"vec('u8', 1, 2, 3, 4)", "0x20000, 9", 0x20000, 1, "0", 0},
        {"vec('i16', -2, 0x1234)", "0x20000", 0x20000, 5, "254 255 52 18 0", 1},
        {"vec('i64', -2)", "0x20000", 0x20000, 9, "254 255 255 255 255 255 255 255 0", 1},
        // Addresses wrap at 16 MB, whatever the higher bits say.
        {"vec('i16', 0x0201)", "0xFFFFFF", 0xFFFFFF, 1, "1", 1},
        {"vec('i16', 0x0201)", "-1", 0, 1, "2", 1},
    };
    for (const auto &c : cases) {
        for (int i = 0; i < c.n; i++) poke(c.addr + uint32_t(i), 0);
        poke(0, 0);
        exec(std::string("A = ") + c.make);
        std::string args = std::string("A, ") + c.args;
        EXPECT_EQ(charge("poke", args), c.cycles) << c.make << " " << args;
        EXPECT_EQ(bytes(c.addr, c.n), c.bytes) << c.make << " " << args;
    }
}

TEST_F(Memory, PeekAndPokeRoundTripEveryIntegerType) {
    struct Case { const char *type, *values; } cases[] = {
        {"u8", "0, 127, 128, 255"},
        {"i16", "-32768, -1, 0, 32767"},
        {"i32", "-2147483648, -1, 0, 2147483647"},
        {"i64", "math.mininteger, -1, 0, math.maxinteger"},
    };
    for (const auto &c : cases) {
        std::string t = c.type;
        exec("A = vec('" + t + "', " + c.values + ") A:poke(0x30000) B = vec('" + t +
             "', 9, 9, 9, 9) B:peek(0x30000)");
        EXPECT_EQ(eval("dump(B)"), eval("dump(A)")) << t;
    }
}

TEST_F(Memory, LargeCopiesAreChargedHalfTheirElements) {
    exec("A = t_create('i16', 1, 400) B = t_create('u8', 2, 64, 64)");
    EXPECT_EQ(charge("peek", "A, 0x40000"), 200);
    EXPECT_EQ(charge("poke", "A, 0x40000"), 200);
    EXPECT_EQ(charge("poke", "B, 0x40000, 96"), 2000);
}

TEST_F(Memory, F64ArraysAreRefused) {
    poke(0x10000, 0x55);
    exec("A = vec('f64', 1.5, 2.5)");
    EXPECT_EQ(eval("select('#', A:peek(0x10000)), select('#', A:poke(0x10000))"), "0\t0");
    EXPECT_EQ(charge("peek", "A, 0x10000"), 0);
    EXPECT_EQ(charge("poke", "A, 0x10000"), 0);
    EXPECT_EQ(eval("A[0], A[1]"), "1.5\t2.5");
    EXPECT_EQ(bytes(0x10000, 2), "85 0");
}

TEST_F(Memory, EveryNewProcessGetsItsOwnMethodTable) {
    process_rec *other = create_process_from_code("", "q", "/t/q.lua", "");
    ASSERT_NE(other, nullptr);
    const void *tables[2];
    lua_State *states[2] = {proc_->lua_state, other->lua_state};
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(lua_getglobal(states[i], "USERDATA"), LUA_TTABLE);
        tables[i] = lua_topointer(states[i], -1);
        EXPECT_EQ(lua_getfield(states[i], -1, "peek"), LUA_TFUNCTION);
        lua_pop(states[i], 2);
    }
    EXPECT_NE(tables[0], tables[1]);
}

}  // namespace
