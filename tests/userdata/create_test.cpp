// Typed arrays are created from type names, sizes and init texts within the
// 16 MiB limit, and creation with an init text is charged.
#include <cstring>
#include <memory>
#include <vector>

#include "ud_fixture.h"

namespace {

using Creation = UdTest;

// The init text in a heap block of exactly its length plus the NUL, so the
// sanitizer sees any read past its end.
std::unique_ptr<char[]> exact_text(const std::string &s) {
    auto p = std::make_unique<char[]>(s.size() + 1);
    std::memcpy(p.get(), s.c_str(), s.size() + 1);
    return p;
}

TEST_F(Creation, TypeNamesFollowTheSecondThenFirstCharacterRule) {
    struct Case { const char *lua_name; const char *type; } cases[] = {
        {"nil", "u8"},   {"''", "u8"},     {"'u8'", "u8"},   {"'i16'", "i16"},
        {"'i32'", "i32"}, {"'i64'", "i64"}, {"'f64'", "f64"}, {"'f32'", "i32"},
        {"'i8'", "i64"},  {"'u16'", "i16"}, {"'u32'", "i32"}, {"'u64'", "u8"},
        {"'float'", "f64"}, {"'int'", "i64"}, {"'x1'", "i16"}, {"'?'", "u8"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(eval("(select(3, t_create(" + std::string(c.lua_name) + ", 1, 4):attribs()))"),
                  c.type)
            << c.lua_name;
    }
}

TEST_F(Creation, TypeCodesHaveTheirNamesAndOtherCodesAreUnnamed) {
    struct Case { int code; const char *name; } cases[] = {
        {3, "u8"}, {12, "i16"}, {13, "i32"}, {14, "i64"}, {22, "f64"},
        {0, "?"},  {4, "?"},    {21, "?"},   {23, "?"},   {255, "?"}, {-1, "?"},
    };
    for (const auto &c : cases) EXPECT_STREQ(get_utype_string(c.code), c.name) << c.code;
}

TEST_F(Creation, SizesOutsideEightBytesTo16MiBAreRefused) {
    struct Case { const char *args; const char *shape; } cases[] = {
        {"'u8', 0, 4, 1", "nil"},
        {"'u8', 3, 4, 1", "nil"},
        {"'u8', -1, 4, 1", "nil"},
        {"'u8', 1, 0, 1", "nil"},
        {"'u8', 2, 4, 0", "nil"},
        {"'u8', 2, 4096, 4096", "4096 4096"},
        {"'u8', 2, 4097, 4096", "nil"},
        {"'f64', 2, 2048, 1024", "2048 1024"},
        {"'f64', 2, 2048, 1025", "nil"},
        // 65536 x 65537 wraps to 65536 in 32 bits.
        {"'u8', 2, 65536, 65537", "nil"},
        {"'u8', 2, 4294967295, 4294967295", "nil"},
        // One dimension ignores the height, two ignore the depth.
        {"'u8', 1, 16, 1000000000", "16 1"},
        {"'u8', 2, 16, 2, 1000000000", "16 2"},
    };
    for (const auto &c : cases) {
        std::string got = eval("(function() local a = t_create(" + std::string(c.args) +
                               ") if not a then return 'nil' end "
                               "local w, h = a:attribs() return w .. ' ' .. h end)()");
        EXPECT_EQ(got, c.shape) << c.args;
    }
}

TEST_F(Creation, TheElementAreaIsRoundedUpToEightZeroedBytes) {
    struct Case { const char *type; uint32_t w; size_t block; } cases[] = {
        {"u8", 1, 16 + 8}, {"u8", 8, 16 + 8}, {"u8", 9, 16 + 16}, {"i16", 5, 16 + 16},
        {"i32", 3, 16 + 16}, {"f64", 3, 16 + 24},
    };
    for (const auto &c : cases) {
        typed_ud_rec *rec = create_userdata(L(), c.type, 1, c.w, 1, 1, nullptr);
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(lua_rawlen(L(), -1), c.block) << c.type << " " << c.w;
        const uint8_t *area = ud_elements(rec);
        for (size_t i = 0; i < c.block - TYPED_UD_HEADER; i++) EXPECT_EQ(area[i], 0);
        EXPECT_EQ(rec->zero[0] | rec->zero[1], 0);
        lua_pop(L(), 1);
    }
}

TEST_F(Creation, InitTextsFollowTheirGrammar) {
    struct Case { const char *type; int dims; int w; int h; const char *init; const char *dump; } cases[] = {
        {"[gfx]0203abcdef", 0, 0, 0, nullptr, "2x3 u8 2: 10 11 12 13 14 15"},
        {"[gfx]0202ab", 1, 9, 9, nullptr, "2x2 u8 2: 10 11 0 0"},
        {"[gfx]0201zA_-", 1, 1, 1, "ignored", "2x1 u8 2: 35 36"},
        {"[gfx]0401_-!9", 1, 1, 1, nullptr, "4x1 u8 2: 62 63 0 9"},
        {"[map]0201000aFFFF", 1, 1, 1, nullptr, "2x1 i16 2: 10 -1"},
        {"[map]0102000a", 1, 1, 1, nullptr, "1x2 i16 2: 10 0"},
        // Non-hex size digits count as 0; a 0 size fails.
        {"[gfx]0x02", 1, 1, 1, nullptr, "nil"},
        {"[gfx]g102", 1, 1, 1, nullptr, "1x2 u8 2: 0 0"},
        {"[gfx]0000", 1, 1, 1, nullptr, "nil"},
        // Shorter than 9 characters: an ordinary type name.
        {"[gfx]08", 1, 3, 1, nullptr, "3x1 u8 1: 0 0 0"},
        {"i16", 1, 3, 1, "hex:0001ffff", "3x1 i16 1: 1 -1 0"},
        {"i16", 1, 3, 1, "0001ffff8000", "3x1 i16 1: 1 -1 -32768"},
        {"u8", 1, 2, 1, "1", "2x1 u8 1: 0 0"},
        {"u8", 1, 3, 1, "0aFFzz", "3x1 u8 1: 10 255 0"},
        {"i32", 1, 2, 1, "ffffffff80000000", "2x1 i32 1: -1 -2147483648"},
        {"i64", 1, 2, 1, "ffffffffffffffff7fffffffffffffff",
         "2x1 i64 1: -1 9223372036854775807"},
        {"f64", 1, 3, 1, "1.5,2", "3x1 f64 1: 1.5 2.0 0.0"},
        {"f64", 1, 3, 1, "1 2 3", "3x1 f64 1: 1.0 0.0 0.0"},
        {"f64", 1, 3, 1, "7,8\"9,10", "3x1 f64 1: 7.0 8.0 0.0"},
        {"f64", 1, 3, 1, "7,8),9", "3x1 f64 1: 7.0 8.0 0.0"},
        {"f64", 1, 3, 1, " -1e2 ,x,0x10", "3x1 f64 1: -100.0 0.0 16.0"},
        {"f64", 1, 4, 1, "inf,-inf,1e999,-0", "4x1 f64 1: inf -inf inf -0.0"},
        {"f64", 1, 2, 1, ",5", "2x1 f64 1: 0.0 5.0"},
    };
    for (const auto &c : cases) {
        std::string init = c.init ? "'" + std::string(c.init) + "'" : "nil";
        // Lua's own escape for the quote character inside the init text.
        for (size_t p = 0; (p = init.find('"', p)) != std::string::npos; p += 2) init.insert(p, "\\");
        std::string call = "t_create('" + std::string(c.type) + "', " + std::to_string(c.dims) +
                           ", " + std::to_string(c.w) + ", " + std::to_string(c.h) + ", 1, " +
                           init + ")";
        EXPECT_EQ(eval("dump(" + call + ")"), c.dump) << call;
    }
}

TEST_F(Creation, ShortGfxAndMapTextsDecodeNothingAndReadNoFurther) {
    const std::string full_gfx = "[gfx]0203abcdef";
    const std::string full_map = "[map]0201000aFFFF";
    for (const std::string &full : {full_gfx, full_map}) {
        for (size_t n = 0; n <= full.size(); n++) {
            auto init = exact_text(full.substr(0, n));
            // As the init text of an ordinary array.
            typed_ud_rec *rec = create_userdata(L(), "u8", 2, 4, 4, 1, init.get());
            ASSERT_NE(rec, nullptr);
            if (n >= 5 && n < 10) {
                for (int i = 0; i < 16; i++) EXPECT_EQ(ud_elements(rec)[i], 0) << full << " " << n;
            }
            lua_pop(L(), 1);
            // As a type text.
            typed_ud_rec *own = create_userdata(L(), init.get(), 1, 3, 1, 1, nullptr);
            ASSERT_NE(own, nullptr);
            EXPECT_EQ(own->width, n < 9 ? 3u : 2u) << full << " " << n;
            lua_pop(L(), 1);
        }
    }
}

TEST_F(Creation, MapTextsStayInsideSmallElementAreas) {
    // A u8 array takes count / 2 values, each filling two bytes little-endian;
    // 8 elements fill the block exactly, so a ninth byte would be caught.
    auto init = exact_text("[map]0000010203040506070809");
    typed_ud_rec *rec = create_userdata(L(), "u8", 1, 8, 1, 1, init.get());
    ASSERT_NE(rec, nullptr);
    const uint8_t want[8] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07};
    EXPECT_EQ(std::memcmp(ud_elements(rec), want, 8), 0);
    lua_pop(L(), 1);

    auto longer = exact_text("[map]0000" + std::string(64, 'f'));
    struct Case { const char *type; uint32_t count; size_t filled; } cases[] = {
        {"u8", 7, 6}, {"u8", 1, 0}, {"i16", 5, 10}, {"i32", 3, 6}, {"f64", 2, 4},
    };
    for (const auto &c : cases) {
        rec = create_userdata(L(), c.type, 1, c.count, 1, 1, longer.get());
        ASSERT_NE(rec, nullptr);
        size_t area = lua_rawlen(L(), -1) - TYPED_UD_HEADER;
        for (size_t i = 0; i < area; i++)
            EXPECT_EQ(ud_elements(rec)[i], i < c.filled ? 0xff : 0) << c.type << " byte " << i;
        lua_pop(L(), 1);
    }
}

TEST_F(Creation, InitTextsAreChargedByElementBits) {
    struct Case { const char *type; uint32_t count; const char *init; int32_t cycles; } cases[] = {
        {"u8", 400, "", 100},   {"i16", 400, "", 200}, {"i32", 400, "", 400},
        {"i64", 400, "", 800},  {"f64", 400, "", 800}, {"u8", 3, "", 1},
        {"u8", 400, nullptr, 0}, {"[gfx]1010", 0, nullptr, 64},
    };
    lua_gc(L(), LUA_GCSTOP);  // the collector's steps are no part of the charge
    for (const auto &c : cases) {
        cpu_cycles = 0;
        ASSERT_NE(create_userdata(L(), c.type, 1, c.count, 1, 1, c.init), nullptr);
        EXPECT_EQ(cpu_cycles, c.cycles) << c.type << " " << c.count;
        lua_pop(L(), 1);
    }
    lua_gc(L(), LUA_GCRESTART);
    cpu_cycles = 0;
}

TEST_F(Creation, FailedCreationPushesNothing) {
    int top = lua_gettop(L());
    EXPECT_EQ(create_userdata(L(), "u8", 3, 4, 4, 1, "00"), nullptr);
    EXPECT_EQ(create_userdata(L(), "[gfx]00ff", 1, 1, 1, 1, nullptr), nullptr);
    EXPECT_EQ(lua_gettop(L()), top);
}

TEST_F(Creation, DuplicatesCopyHeaderAndElementsIntoANewBlock) {
    exec("A = vec('i16', 1, -2, 3)");
    lua_getglobal(L(), "A");
    typed_ud_rec *a = to_typed_ud(L(), -1);
    ASSERT_NE(a, nullptr);
    typed_ud_rec *b = push_duplicate_userdata(L(), a);
    ASSERT_NE(b, a);
    EXPECT_EQ(std::memcmp(a, b, TYPED_UD_HEADER + 8), 0);
    lua_setglobal(L(), "B");
    lua_pop(L(), 1);
    exec("B[0] = 9");
    EXPECT_EQ(eval("dump(A), dump(B)"), "3x1 i16 1: 1 -2 3\t3x1 i16 1: 9 -2 3");
    EXPECT_EQ(eval("getmetatable(B) == USERDATA"), "true");
}

TEST_F(Creation, OperationLengthIsTheSmallestThatFitsBothArrays) {
    typed_ud_rec *a = create_userdata(L(), "u8", 1, 10, 1, 1, nullptr);
    typed_ud_rec *b = create_userdata(L(), "u8", 1, 4, 1, 1, nullptr);
    struct Case { bool use_a, use_b; int32_t off_a, count, off_b, want; } cases[] = {
        {true, true, 0, 100, 0, 4},  {true, true, 8, 100, 0, 2},   {true, false, 3, 100, 0, 7},
        {false, true, 0, 100, 1, 3}, {true, true, 0, 2, 0, 2},     {true, true, 11, 100, 0, -1},
        {true, true, 0, 100, -5, 9}, {false, false, 0, -3, 0, -3},
        {true, true, INT32_MIN, INT32_MAX, 0, 4},
    };
    for (const auto &c : cases)
        EXPECT_EQ(get_userdata_len2(c.use_a ? a : nullptr, c.use_b ? b : nullptr, c.off_a, c.count,
                                    c.off_b),
                  c.want);
    lua_pop(L(), 2);
}

}  // namespace

namespace {

TEST(ScratchCopies, HoldTheirValuesPerSlotAndAreChargedPer256) {
    std::vector<double> a(1000), b(3);
    for (size_t i = 0; i < a.size(); i++) a[i] = double(i) * 0.5;
    b = {-1, 2, -3};
    struct Case { int slot; const std::vector<double> *src; int32_t cycles; } cases[] = {
        {0, &a, 3}, {1, &b, 1}, {0, &b, 1}, {1, &a, 3},
    };
    for (const auto &c : cases) {
        cpu_cycles = 0;
        const double *copy = copy_dat(c.slot, c.src->data(), int32_t(c.src->size()));
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, c.src->data());
        EXPECT_EQ(std::memcmp(copy, c.src->data(), c.src->size() * 8), 0) << c.slot;
        EXPECT_EQ(cpu_cycles, c.cycles);
    }
    // The other slot keeps its copy.
    const double *zero = copy_dat(0, b.data(), 3);
    const double *one = copy_dat(1, a.data(), 1000);
    EXPECT_EQ(zero[2], -3);
    EXPECT_EQ(one[999], 499.5);
    EXPECT_EQ(copy_dat(2, b.data(), 3), nullptr);
    cpu_cycles = 0;
}

}  // namespace
