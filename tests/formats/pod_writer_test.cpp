// Pod writer: exact texts for values, keys, typed arrays and flags, and the
// errors it raises.
#include <lz4.h>
#include <lz4hc.h>

#include <cmath>
#include <cstring>

#include "pod_fixture.h"

namespace {

struct Golden {
    const char *expr;  // Lua expression
    int flags;
    std::string text;  // exact pod text
};

class PodWriter : public PodTest {
  protected:
    PodWriter() {
        lua_register(L(), "t_shaped", t_shaped);
        exec(R"(
          function u8(...) local a = vec("u8", ...) return a end
          function meta(name) return setmetatable({}, {__name = name}) end
        )");
    }

    // t_shaped(type, dims, w, h, values...): an array with exactly this header.
    static int t_shaped(lua_State *L) {
        typed_ud_rec *rec = create_userdata_shaped(L, str_to_utype(lua_tostring(L, 1)), int(lua_tointeger(L, 2)),
                                                   uint32_t(lua_tointeger(L, 3)), uint32_t(lua_tointeger(L, 4)), 1);
        const int n = lua_gettop(L) - 5;
        for (int i = 0; i < n && i < int(ud_count(rec)); i++) ud_elements(rec)[i] = uint8_t(lua_tointeger(L, 5 + i));
        return 1;
    }
};

TEST_F(PodWriter, ValuesTablesAndKeysAreWrittenAsTheirExactTexts) {
    const Golden cases[] = {
        {"{}", 0, "{}"},
        {"{1,2,3}", 0, "{1,2,3}"},
        {"{['a b']=true,x=3,1,2}", 0, "{[\"a b\"]=true,x=3,1,2}"},
        {"{1,2,3,[0]=0,[-1]=-1,[5]=5,[1.5]=1}", 0, "{[-1]=-1,[0]=0,[1.5]=1,[5]=5,1,2,3}"},
        {"{['end']=1,['1st']=2,[true]=3}", 0, "{[\"1st\"]=2,end=1}"},
        {"3.0", 0, "3"},
        {"0.5", 0, "0.5"},
        {"10", 0, "10"},
        {"-0.0", 0, "-0"},
        {"1e300", 0, "1e+300"},
        {"math.mininteger", 0, "-9223372036854775808"},
        {"true", 0, "true"},
        {"nil", 0, "nil"},
        {"print", 0, "nil"},
        {"coroutine.create(print)", 0, "nil"},
        {"'a\\nb\"c'", 0, "\"a\\nb\\\"c\""},
        {"'\\200'", 0, "\"\\200\""},
        {"{nil,2}", 0, "{nil,2}"},
        // Keys: strings bytewise first, then numbers exactly across integers and floats.
        {"{b=1,B=2,_=3,a1=4,[2^63]=5,[math.maxinteger]=6,[1e300]=7,[-1e300]=8,[-0.5]=9,[-2^63]=10}", 0,
         "{B=2,_=3,a1=4,b=1,[-1e+300]=8,[-9223372036854775808]=10,[-0.5]=9,[9223372036854775807]=6,"
         "[9.2233720368548e+18]=5,[1e+300]=7}"},
        {"{[math.huge]=1,[-math.huge]=2}", 0, "{[-inf]=2,[inf]=1}"},
        // Keys that must not stand bare.
        {"{['']=1}", 0, "{[\"\"]=1}"},
        {"{['a\"b']=1}", 0, "{[\"a\\\"b\"]=1}"},
        {"{['x]]']=1}", 0, "{[\"x\\093\\093\"]=1}"},
        {"{['a\\0b']=1}", 0, "{[\"a\\000b\"]=1}"},
        {"{['a\\\\']=1}", 0, "{[\"a\\\\\"]=1}"},
        // Non-finite numbers; every NaN is nan.
        {"{1,math.huge,-math.huge,0/0,-(0/0)}", 0, "{1,inf,-inf,nan,nan}"},
        // Flag 8 is OR-ed into nested flags, so deep strings stay text.
        {"{{{{'s'}}}}", 0, "{{{{\"s\"}}}}"},
        {"{{{{'s'}}}}", 8, "{{{{\"s\"}}}}"},
        {"'ab'", 32, std::string("str\0", 4) + le32(2) + "ab"},
        {"{{'ab'}}", 32, std::string("{{str\0", 6) + le32(2) + "ab}}"},
        {"{1,2,3}", 4, "unpod(\"b64:ezEsMiwzfQ==\")"},
        // Typed arrays.
        {"u8(1,2,255)", 0, "userdata(\"u8\",3,\"0102ff\")"},
        {"vec('i16',-1,1)", 0, "userdata(\"i16\",2,\"ffff0001\")"},
        {"vec('i32',-2,16)", 0, "userdata(\"i32\",2,\"fffffffe00000010\")"},
        {"vec('i64',-1)", 0, "userdata(\"i64\",1,\"ffffffffffffffff\")"},
        {"vec('f64',1.5,0/0,-math.huge,3)", 0, "userdata(\"f64\",4,\"1.5,nan,-inf,3\")"},
        {"t_shaped('u8',2,2,2,0,1,2,3)", 0, "userdata(\"u8\",2,2,\"00010203\")"},
        {"t_shaped('u8',1,2,2,0,1,2,3)", 0, "userdata(\"u8\",2,2,\"00010203\")"},
        {"u8(7,7,7,7)", 1, std::string("pxu\0\x03\x20\x04\x04\x37", 9)},
        {"u8(7,7,7,7)", 17, std::string("pxu\0\x03\x10\x04\x07\x07\x07\x07", 11)},
        {"vec('i16',1)", 1, "userdata(\"i16\",1,\"0001\")"},
        {"t_shaped('u8',1,1,2,7,7)", 1, std::string("pxu\0\x43\x20\x01\x02\x04\x17", 10)},
        {"{{u8(7,7,7,7)}}", 1, std::string("{{pxu\0\x03\x20\x04\x04\x37}}", 13)},
    };
    for (const auto &c : cases) EXPECT_EQ(write(c.expr, c.flags), c.text) << c.expr << " flags " << c.flags;
}

TEST_F(PodWriter, FloatsAreWrittenAsPrintfWrites14SignificantDigits) {
    buffer_rec *out = create_buffer_2(0, 't');
    uint64_t x = 0x9E3779B97F4A7C15;
    for (int i = 0; i < 200000; i++) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        double v;
        if (i % 3 == 1) {
            memcpy(&v, &x, 8);  // any bit pattern
        } else if (i % 3 == 2) {
            // 15 digits ending in 5: the nearest double lies a hair above or
            // below the midpoint between two texts of 14 digits
            char text[40];
            snprintf(text, sizeof text, "%lld5e%d", static_cast<long long>(x % 90000000000000 + 10000000000000),
                     int(x >> 56) % 60 - 40);
            v = strtod(text, nullptr);
        } else {
            v = double(int64_t(x >> 20)) / double(1 << (x & 31));  // values with few digits
        }
        if (std::isnan(v)) continue;
        lua_pushnumber(L(), v);
        bclear(out);
        stringify_object(L(), -1, out, 0, 0);
        lua_pop(L(), 1);
        char expected[64];
        snprintf(expected, sizeof expected, "%.14g", v);
        ASSERT_EQ(std::string(reinterpret_cast<char *>(out->data), size_t(out->length)), expected) << i;
    }
    destroy_buffer(out);
}

TEST_F(PodWriter, TablesWithManyKeysAreWrittenInKeyOrder) {
    // More keyed entries than the writer holds on the stack while sorting.
    exec("MANY = {} for i = 150, 1, -1 do MANY[string.format('k%03d', i)] = i; MANY[-i] = {i} end");
    std::string expected = "{";
    for (int i = 1; i <= 150; i++) {
        char key[8];
        snprintf(key, sizeof key, "k%03d", i);
        expected += std::string(i > 1 ? "," : "") + key + "=" + std::to_string(i);
    }
    for (int i = 150; i >= 1; i--) expected += ",[-" + std::to_string(i) + "]={" + std::to_string(i) + "}";
    EXPECT_EQ(write("MANY"), expected + "}");
}

TEST_F(PodWriter, Flag2GivesOneLz4RecordOfTheWholeText) {
    const std::string plain = write("{1,2,3,'abcabcabcabcabcabcabc'}");
    const std::string rec = write("{1,2,3,'abcabcabcabcabcabcabc'}", 2);
    ASSERT_GE(rec.size(), 12u);
    EXPECT_EQ(rec.substr(0, 4), std::string("lz4\0", 4));
    const uint32_t k = uint8_t(rec[4]) | uint8_t(rec[5]) << 8 | uint8_t(rec[6]) << 16 | uint32_t(uint8_t(rec[7])) << 24;
    const uint32_t r = uint8_t(rec[8]) | uint8_t(rec[9]) << 8 | uint8_t(rec[10]) << 16 | uint32_t(uint8_t(rec[11])) << 24;
    EXPECT_EQ(rec.size(), 12 + k);
    ASSERT_EQ(r, plain.size());
    std::string raw(r, '\0');
    ASSERT_EQ(LZ4_decompress_safe(rec.data() + 12, raw.data(), int(k), int(r)), int(r));
    EXPECT_EQ(raw, plain);
}

// The compressor state is kept between texts: every record must still be
// the block a fresh state makes, whatever came before it.
TEST_F(PodWriter, Lz4RecordsAreTheBlocksOfAFreshCompressor) {
    const char *values[] = {
        "string.rep('abcdefgh', 5000)", "{1,2,3}", "{x='hello hello hello hello',y={1,1,1,1,1,1}}",
        "string.rep('abcdefgh', 5000) .. 'x'", "(function() local t = {} for i = 1, 3000 do t[i] = i * i % 977 end "
        "return t end)()", "{1,2,3}", "''",
    };
    for (int round = 0; round < 2; round++) {
        for (const char *v : values) {
            const std::string plain = write(v);
            const std::string rec = write(v, 2);
            std::string block(size_t(LZ4_compressBound(int(plain.size()))), '\0');
            const int k = LZ4_compress_HC(plain.data(), block.data(), int(plain.size()), int(block.size()), 1);
            ASSERT_GT(k, 0) << v;
            EXPECT_EQ(rec, std::string("lz4\0", 4) + le32(uint32_t(k)) + le32(uint32_t(plain.size())) +
                               block.substr(0, size_t(k)))
                << v;
        }
    }
}

TEST_F(PodWriter, Flags6WrapTheLz4RecordInBase64) {
    const std::string wrapped = write("{x='hello hello hello hello'}", 6);
    ASSERT_EQ(wrapped.substr(0, 11), "unpod(\"b64:");
    ASSERT_EQ(wrapped.substr(wrapped.size() - 2), "\")");
    ASSERT_EQ(read(wrapped), 1);
    EXPECT_EQ(show("V1"), "{[\"x\"]=\"hello hello hello hello\"}");
    // The base64 text decodes to a record starting "lz4" NUL: "bHo0A" begins its base64.
    EXPECT_EQ(wrapped.substr(11, 5), "bHo0A");
}

// Tables whose length is far above their entries are written from their
// entries: the text is the one the loop over every index writes.
TEST_F(PodWriter, SparseTablesGiveTheTextOfEveryIndex) {
    exec(R"(
      function sparse(top) local t = {} for e = top, 0, -1 do t[1 << e] = e end return t end
      function every_index(t, keyed)
        local s = {}
        for i = 1, #t do
          local v = t[i]
          s[i] = v == nil and 'nil' or type(v) == 'table' and every_index(v) or tostring(v)
        end
        return '{' .. (keyed or '') .. table.concat(s, ',') .. '}'
      end
    )");
    const struct {
        const char *table;  // Lua code making T
        const char *keyed;  // the text of T's keyed entries
    } cases[] = {
        {"T = sparse(6)", ""},
        {"T = sparse(9)", ""},
        {"T = sparse(6) T.k = 'v'", "k=\"v\","},
        {"T = {sparse(6), sparse(9)}", ""},
        {"T = sparse(9) T[4] = sparse(6)", ""},
    };
    for (const auto &c : cases) {
        exec(std::string(c.table) + " EXPECTED = every_index(T, '" + std::string(c.keyed) + "')");
        lua_getglobal(L(), "EXPECTED");
        const std::string expected = lua_tostring(L(), -1);
        lua_pop(L(), 1);
        EXPECT_EQ(write("T"), expected) << c.table;
    }
    // 2^40 items: the text passes its limit after 2^26 of them, as it did
    // when every one of them was looked up (about a second).
    EXPECT_EQ(write("sparse(40)"), "error: pod: text larger than 256 MiB");
}

TEST_F(PodWriter, KeysOfOneTypeWithoutAnOrderRaiseTheComparisonError) {
    const struct {
        const char *expr;
        const char *error;
    } cases[] = {
        {"{[true]=1,[false]=2}", "error: attempt to compare two boolean values"},
        {"{[{}]=1,[{}]=2}", "error: attempt to compare two table values"},
        {"{[print]=1,[type]=2}", "error: attempt to compare two function values"},
        {"{[meta('Foo')]=1,[meta('Foo')]=2}", "error: attempt to compare two Foo values"},
        {"{[u8(1)]=1,[u8(2)]=2}", "error: attempt to compare two userdata values"},
        {"{x={[true]=1,[false]=2}}", "error: attempt to compare two boolean values"},
    };
    for (const auto &c : cases) EXPECT_EQ(write(c.expr), c.error) << c.expr;
    // One key of each such type is simply left out.
    EXPECT_EQ(write("{[true]=1,[{}]=2,[print]=3,a=4}"), "{a=4}");
}

TEST_F(PodWriter, TablesNestedMoreThan200DeepRaise) {
    exec("function nest(n) local t = {} for i = 1, n - 1 do t = {t} end return t end");
    const std::string ok = write("nest(200)");
    EXPECT_EQ(ok.size(), 400u);
    EXPECT_EQ(write("nest(201)"), "error: pod: tables nested more than 200 deep");
    exec("SELF = {} SELF.me = SELF");
    EXPECT_EQ(write("SELF"), "error: pod: tables nested more than 200 deep");
}

TEST_F(PodWriter, TextsPassing256MiBRaise) {
    exec("BIG = string.rep('x', 16 << 20) LOTS = {} for i = 1, 17 do LOTS[i] = BIG end");
    EXPECT_EQ(write("LOTS"), "error: pod: text larger than 256 MiB");
    EXPECT_EQ(write("LOTS", 32), "error: pod: text larger than 256 MiB");
    exec("LOTS[17] = nil LOTS[16] = nil");
    EXPECT_EQ(write("LOTS", 32).size(), 15u * (8 + (16 << 20)) + 16);
    exec("LOTS = nil BIG = nil collectgarbage()");
}

TEST_F(PodWriter, AnErrorLeavesTheBufferAsItWasAndTheWriterUsable) {
    buffer_rec *out = create_buffer_2(0, 't');
    bappend_str(out, "keep");
    exec("BAD = {1, {[true]=1,[false]=2}}");
    lua_getglobal(L(), "BAD");
    lua_pushcfunction(L(), [](lua_State *l) {
        stringify_object(l, 1, static_cast<buffer_rec *>(lua_touserdata(l, 2)), 0, 0);
        return 0;
    });
    lua_pushvalue(L(), -2);
    lua_pushlightuserdata(L(), out);
    EXPECT_NE(lua_pcall(L(), 2, 0, 0), LUA_OK);
    EXPECT_STREQ(lua_tostring(L(), -1), "attempt to compare two boolean values");
    lua_settop(L(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out->data), size_t(out->length)), "keep");
    EXPECT_EQ(out->cursor, 4);
    EXPECT_EQ(lua_gc(L(), LUA_GCISRUNNING), 1);  // the collector runs again
    destroy_buffer(out);
    EXPECT_EQ(write("{1}"), "{1}");
}

TEST_F(PodWriter, TextGoesAtTheCursorOfTheBuffer) {
    buffer_rec *out = create_buffer_2(0, 't');
    bappend_str(out, "abcdef");
    out->cursor = 2;
    lua_pushinteger(L(), 42);
    stringify_object(L(), -1, out, 0, 0);
    lua_settop(L(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out->data), size_t(out->length)), "ab42ef");
    EXPECT_EQ(out->cursor, 4);
    destroy_buffer(out);
}

}  // namespace
