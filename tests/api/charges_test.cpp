// The CPU charge of every charging call, measured around one call made from
// C, so that no interpreted instruction is counted.
#include "seam_fakes.h"

using Charges = SeamTest;

// A table of length 2^20 holding 21 entries, at 1, 2, 4, ..., 2^20.
#define SPARSE_20 "(function() local t = {} for e = 20, 0, -1 do t[1 << e] = e end return t end)()"

TEST_F(Charges, EachCallChargesExactlyItsWork) {
    struct Case {
        const char *name;
        const char *args;
        int64_t cycles;  // 0: nothing charged
    } cases[] = {
        {"chr", "", 1},
        {"chr", "72, 105, 33", 3},
        {"peek", "0x10", 1},
        {"peek", "0x10, 300", 299},
        {"peek2", "0x10", 0},
        {"peek4", "0x10, 2", 1},
        {"peek8", "0x10, 10", 9},
        {"poke", "0x10, 1", 0},
        {"poke", "0x10, 1, 2, 3", 2},
        {"poke4", "0x10, 1, 2", 1},
        {"rnd", "", 4},
        {"rnd", "{}", 4},
        {"rnd", "{1, 2}", 4},
        {"sqrt", "2", 6},
        {"_md5", "''", 1},
        {"_md5", "string.rep('x', 1000)", 500},
        {"split", "string.rep('a,', 50)", 100},
        {"tokenoid", "'local x', 1", 5},
        {"tokenoid", "'--[[ open', 1", 9},
        {"ord", "'abc', 1, 40", 40},
        {"ord", "'abc'", 1},
        {"add", "{'a', 'b'}, 'x'", 0},
        {"add", "{'a', 'b'}, 'x', 1", 2},
        {"add", "{'a', 'b'}, 'x', nil", 1},
        {"deli", "{1, 2, 3}, 1", 2},
        {"deli", "{1, 2, 3}", 1},
        {"del", "{1, 2, 3, 2}, 2", 4},
        {"del", "{1, 2, 3, 2}, 9", 4},
        {"del", "{}, 9", 1},
        {"count", "{1, 2, 3, 2}", 1},
        {"count", "{1, 2, 3, 2}, 2", 4},
        {"count", "{}, 2", 1},
        // Length 2^20 over 21 entries in 32 slots: a pass over the slots for
        // each search and each key list, 21 * 5 for sorting the keys, one
        // per set (40 of them).
        {"count", SPARSE_20 ", 2", 32},
        {"del", SPARSE_20 ", 0", 32 + 32 + 21 * 5 + 40},
        {"deli", SPARSE_20 ", 1", 32 + 21 * 5 + 40},
        {"add", SPARSE_20 ", 'x', 1", 32 + 21 * 5 + 40},
        {"memset", "0x100, 7, 1000", 8},
        // pod: 2 per value, key texts / 4, m * ceil(log2 m) / 2 for sorting
        // m keys, number texts / 8; unpod: 1 per value and per key, bare
        // key texts / 4.
        {"pod", "{abcdefgh=1,[1.5]=2,[-3]=3}", 8 + 8 / 4 + 5 / 4 + 4 / 4 + 3 * 2 / 2},
        {"pod", "{1.2345678901234,100,12345678}", 8 + 15 / 8 + 8 / 8},
        {"unpod", "'{abcdefgh=1,[\"x\"]=2,[-3]=3}'", 4 + 1 + 8 / 4 + 1 + 1 + 1 + 1 + 1},
        {"stat", "0", 0},
        {"abs", "-3", 0},
        {"btn", "", 0},
    };
    process_rec *p = spawn("");
    ASSERT_NE(p, nullptr);
    for (const Case &c : cases)
        EXPECT_EQ(charge_of(p, c.name, c.args), c.cycles) << c.name << "(" << c.args << ")";
}

TEST_F(Charges, MixedOutputChargesHalfItsFramesAndOneWhenEmpty) {
    process_rec *p = spawn("");
    fake_host::set_audio_op_start_result(0);
    app.audio_focus = p->id;
    seam.copied_count = 100;
    EXPECT_EQ(charge_of(p, "stat", "465, 0, 0x30000"), 50);
    seam.copied_count = 0;
    EXPECT_EQ(charge_of(p, "stat", "465, 0, 0x30000"), 1);
}
