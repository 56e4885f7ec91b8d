// CPU charges of the pod writer and reader, measured around one call made
// from C, so no instruction of the interpreter runs inside the span.
#include "pod_fixture.h"

namespace {

struct Charge {
    bool writing;      // true: write 'what' (a Lua expression); false: read it (a text)
    std::string what;
    int flags;         // writer flags
    int32_t cycles;
};

class PodCharges : public PodTest {
  protected:
    int32_t measure(const Charge &c) {
        lua_State *l = L();
        if (c.writing) {
            exec("X = " + c.what);
            lua_getglobal(l, "X");
            buffer_rec *out = create_buffer_2(0, 't');
            cpu_cycles = 0;
            stringify_object(l, -1, out, 0, c.flags);
            const int32_t used = cpu_cycles;
            destroy_buffer(out);
            lua_settop(l, 0);
            return used;
        }
        cpu_cycles = 0;
        const int n = destringify_object(l, c.what.c_str(), int64_t(c.what.size()));
        const int32_t used = cpu_cycles;
        EXPECT_GE(n, 1) << c.what;
        lua_settop(l, 0);
        return used;
    }
};

TEST_F(PodCharges, WriterAndReaderChargeTheirValuesBytesAndElements) {
    constexpr int32_t N = VM_WALK_STEP_CYCLES;
    exec("A64 = t_create('u8', 1, 64) F4 = t_create('f64', 1, 4) S4000 = string.rep('x', 4000)");
    const Charge cases[] = {
        // Writer: 2 per value; strings (appended characters) / 4, at least 1;
        // typed arrays elements x bits / 32; LZ4 raw length / 2; base64
        // encoded length / 8. A table's walk past its array part: a step a
        // key and one that finds no more (N below).
        {true, "1", 0, 2},
        {true, "{}", 0, 2 + N},
        {true, "{1,2,3}", 0, 8 + N},
        {true, "{a=1,b={2}}", 0, 8 + 2 + 4 * N},
        // Keys: their texts / 4 and m * ceil(log2 m) comparisons for sorting
        // m of them (and their bytes / 32 as often); numbers: their texts / 8
        // beyond the value, and 4 a float value.
        {true, "{abcdefgh=1,[1.5]=2,[-3]=3}", 0, 8 + 8 / 4 + 5 / 4 + 4 / 4 + 3 * 2 + 4 * N},
        {true, "{[string.rep('k', 64)]=1,[string.rep('j', 64)]=2}", 0, 6 + 2 * 64 / 4 + 2 * 1 + 128 / 32 + 3 * N},
        {true, "{1.2345678901234,100,12345678}", 0, 8 + 15 / 8 + 8 / 8 + 8 + N},  // and 8 a float
        // A sparse table: its 64 items, 57 of them nil, as if each were read,
        // and the 13 look-ups that find its border.
        {true, "(function() local t = {} for e = 6, 0, -1 do t[1 << e] = e end return t end)()", 0, 2 + 64 * 2 + 13 + 8 * N},
        {true, "'abcdefgh'", 0, 2 + 10 / 4},
        {true, "''", 0, 2 + 1},
        {true, "'abcdefgh'", 32, 2 + 8 / 4},
        {true, "A64", 0, 2 + 64 * 8 / 32},
        {true, "A64", 1, 2 + 64 * 8 / 32},
        {true, "F4", 0, 2 + 4 * 64 / 32 + 4 * 8},  // and 8 an element's float text
        {true, "{1,2,3}", 4, 8 + 12 / 8 + N},
        {true, "{1,2,3}", 2, 8 + 7 / 2 + N},
        {true, "S4000", 2, 2 + 4002 / 4 + 4002 / 2},
        // Reader: the whole text / 16; 1 per value (each unpod wrapper too)
        // and per key; strings length / 4, at least 1; arrays elements x
        // bits / 32; base64 and LZ4 decoded length / 12.
        {false, "1", 0, 1},
        {false, "{1,2,3}", 0, 4},
        {false, "{a=1,b={2}}", 0, 4 + 2},
        // Keys: 1 each, and a bare key's text / 4.
        {false, "{abcdefgh=1,[\"x\"]=2,[-3]=3}", 0, 4 + 1 + 8 / 4 + 1 + 1 + 1 + 1 + 1 + 27 / 16},
        {false, "\"abcdefgh\"", 0, 1 + 2},
        {false, "\"\"", 0, 1 + 1},
        {false, "\"a\\065bcdefghijk\"", 0, 1 + 12 / 4 + 17 / 16},
        {false, std::string("str\0", 4) + le32(8) + "abcdefgh", 0, 1 + 16 / 16},
        {false, "userdata(\"u8\",64,\"\")", 0, 1 + 64 * 8 / 32 + 21 / 16},
        {false, std::string("pxu\0", 4) + "\x03\x20\x40\x04\xF0\x30", 0, 1 + 64 * 8 / 32},
        {false, "unpod(\"b64:ezEsMiwzfQ==\")", 0, 2 + 1 + 4 + 25 / 16},
        {false, "{" + std::string("lz4\0", 4) + le32(8) + le32(7) + "\x70{1,2,3}" + "}", 0, 1 + 1 + 1 + 4 + 22 / 16},
    };
    for (const auto &c : cases) EXPECT_EQ(measure(c), c.cycles) << (c.writing ? "write " : "read ") << c.what;
}

}  // namespace
