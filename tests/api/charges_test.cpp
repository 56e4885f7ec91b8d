// The CPU charge of every charging call, measured around one call made from
// C, so that no interpreted instruction is counted.
#include "api_charges.h"
#include "pfile.h"
#include "pmount.h"
#include "seam_fakes.h"
#include "ud_methods.h"

using Charges = SeamTest;

// A table of length 2^20 holding 21 entries, at 1, 2, 4, ..., 2^20.
#define SPARSE_20 "(function() local t = {} for e = 20, 0, -1 do t[1 << e] = e end return t end)()"
#define SPARSE_40 "(function() local t = {} for e = 40, 0, -1 do t[1 << e] = e end return t end)()"

// Lengths of the two deltas the table's rows make.
inline constexpr int64_t DELTA_AB_LEN = 38, DELTA_SHORT_LEN = 26;

TEST_F(Charges, EachCallChargesExactlyItsWork) {
    constexpr int64_t P = PATH_BYTES_PER_CYCLE;
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
        {"split", "string.rep('a,', 50)", 100 + 12},  // and the table's growth
        {"split", "'a', string.rep(',;', 50)", 1 + 100 / 8},  // a set of separators: each byte read
        {"tokenoid", "'local x', 1", 5},
        {"tokenoid", "'--[[ open', 1", 9},
        {"ord", "'abc', 1, 40", 40},
        {"ord", "'abc'", 1},
        {"add", "{'a', 'b'}, 'x'", 0},
        {"add", "{'a', 'b'}, 'x', 1", 2},
        {"add", "{'a', 'b'}, 'x', nil", 1},
        {"deli", "{1, 2, 3}, 1", 2},
        // through __index and __newindex: each move a read and a write that may call them, 4 a call
        {"deli", "setmetatable({1, 2, 3}, {__index = rawget, __newindex = rawset}), 1", 2 * (1 + 2 * 4)},
        {"deli", "userdata('i64', 1000), 1", 999 * (1 + 2 * 4)},
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
        // (finding the border 2^20 in the hash part: 41 look-ups, a cycle each)
        {"count", SPARSE_20 ", 2", 32 + 41},
        {"del", SPARSE_20 ", 0", 32 + 32 + 21 * 5 + 40 + 41},
        {"deli", SPARSE_20 ", 1", 32 + 21 * 5 + 40 + 41},
        {"add", SPARSE_20 ", 'x', 1", 32 + 21 * 5 + 40 + 41},
        {"memset", "0x100, 7, 1000", 8},
        // pod: 2 per value, key texts / 4, m * ceil(log2 m) / 2 for sorting
        // m keys, number texts / 8 (and 8 a float); unpod: 1 per value and per key, bare
        // key texts / 4.
        // (and each step of the walk of the keys past the array part)
        {"pod", "{abcdefgh=1,[1.5]=2,[-3]=3}", 8 + 8 / 4 + 5 / 4 + 4 / 4 + 3 * 2 + 4 * VM_WALK_STEP_CYCLES},
        {"pod", "{1.2345678901234,100,12345678}", 8 + 15 / 8 + 8 / 8 + 8 + VM_WALK_STEP_CYCLES},  // and 8 a float
        {"unpod", "'{abcdefgh=1,[\"x\"]=2,[-3]=3}'", 4 + 1 + 8 / 4 + 1 + 1 + 1 + 1 + 1 + 27 / 16},
        {"abs", "-3", 0},
        {"_get_process_list", "", 1},  // an entry a process
        {"btn", "", 0},
        {"stat", "988", 1024},  // the keyboard read through the host's event pump
        {"pal", "{a = 1, b = 2, c = 3, d = 4}", 4 * 16},  // 16 an entry walked
        // work that stays whatever the call returns: pages, input bytes, copies, paths
        {"_map_ram", "M4, 0x100000", 8},
        {"_unmap_ram", "M4", 4 + 8},
        {"_unmap_ram", "M4", 4},
        {"_map_ram", "M6000, 0x1000", 2},  // the partial second page is left alone there
        {"_map_ram", "M6000, 0x20000", 4},
        {"_unmap_ram", "M6000", 4 + 6},
        // each mapped page walked and tested, 8 a cycle: 8 MB mapped as the arguments are made
        {"_unmap_ram", "_map_ram(M8M, 0x800000) and M4", 4 + 2048 / 8},
        {"_unmap_ram", "M8M", 4 + 2048 * 2 + 2048 / 8},
        // (a delta's match index is emptied first: 1,024)
        {"create_delta", "string.rep('a', 1000), string.rep('b', 1000)", 1024 + 2000 / 4 + DELTA_AB_LEN / 4},
        {"create_delta", "'abc', 'abd'", 1024 + 6 / 4 + DELTA_SHORT_LEN / 4},
        {"apply_delta", "string.rep('a', 1000), DAB", (1000 + DELTA_AB_LEN) / 4 + 1000 / 4},
        {"_print_zenscii", "'\\0' .. string.rep('a', 5000)", 5001 / 128},
        {"load", "string.rep(' ', 1000)", 1000 + 2},  // a cycle a byte, 2 a token (the end)
        {"date", "string.rep('x', 800) .. '%Y%m'", 804 / 8 + 2 * 16},  // its format, 16 a conversion
        {"load", "'', string.rep('n', 3200)", 2 + 3200 / 32},  // its name, read and copied
        {"load", "'x x'", 3 + 2 * 2 + 38 / 2},  // a syntax error: its message, 2 bytes a cycle
        {"fullpath", "string.rep('a/', 100)", 32 + 200 / P},
        {"fstat", "'/nothing/here'", 32 + 13 / P},
        {"ls", "'/nothing/here'", 32 + 13 / P},
        {"cd", "string.rep('a/', 100)", 32 + 200 / P},
        {"_normalise_userland_path", "string.rep('a/', 100)", 200 / 2},
        {"norm", "string.rep('a/', 100)", 200 + 200 / 2 * 100 / 64 + 102 * 64},  // and its trace: the output so far, each segment, 64 a line
        {"_is_well_formed_bbs_path", "string.rep('a', 1000)", 1000 / 4},
        // up to the zero byte, and the line's write
        {"_printh", "string.rep('x', 1000) .. '\\0' .. string.rep('y', 1000)", 1000 / 2 + VM_OUTPUT_LINE_CYCLES},
        {"_printh", "'abc'", 3 / 2 + VM_OUTPUT_LINE_CYCLES},
        {"mget", "0, 0", VM_OUTPUT_LINE_CYCLES},  // with no map: the line that says so
        {"store", "'/nothing/here', 1", 32 + 13 / P + 3},  // and the pod text of 1
        {"store", "'/nothing/here', 1, string.rep('m', 6400)", 32 + 13 / P + 3 + (6400 + 1) / 32},  // and what it writes, 32 bytes a cycle
        {"store", "'/nothing/here', string.rep('x', 1000), '--[[pod_format=\"raw\"]]'", 32 + 13 / P + 1021 / 32},
        {"fetch", "'/nothing/here'", 32 + 13 / P},
        {"mount", "string.rep('x', 1000)", 1000 / 32},  // a path refused has been read through
        {"_store_metadata_str_to_file", "'/nothing/here', string.rep('x', 1000)", 32 + 13 / P + 1000 / 32},
        // and the file it rewrites (its 22-byte header and 4,000 bytes), from its size
        {"_store_metadata_str_to_file", "'/ram/m.txt', 'x'", 32 + 10 / P + (22 + 4000) / 4},
        // batch records that miss the target: each still read and clipped
        {"tline3d", "TL", 100 * 3 + 2 * 8192 / 8},  // and two looks for the target among the 8,192 sprite slots
        // a copy by its bytes, 64 a cycle, and a cycle a row
        {"blit", "userdata('i64', 4096), userdata('i64', 4096)", (4096 * 8 + 64) / 64},
        // a sprite it cannot draw: each of its 16 visible columns still planned and clipped
        {"sspr", "userdata('i32', 64, 64)", 16},
        // Both paths; each leading part naming a cartridge is tested for a
        // file to mount: 128 a part and its bytes / 4. Nothing copied: 1.
        {"cp", "'/a.kiv/b.kiv', '/c'", (32 + 12 / P + 2 * 128 + (6 + 12) / 4) + 32 + 2 / P + 1},
        {"_fdelete", "'/ram/d'", 32 + 6 / P + 9 * 32},  // 32 per entry gone: the folder and its 8 files
        // The dirty cartridge written back: its entries' bytes / 8 (a 1-byte
        // name, a 1023-byte file) besides the path, itself a cartridge part.
        {"fstat", "'/ram/x.kiv'", 32 + 10 / P + 128 + 10 / 4 + 1024 / 8},
        {"_set_userland_clipboard_text", "string.rep('x', 1000)", 1000 / 128},
        {"_cache_fetch", "'none', 'n%d', true", 33 * 256},  // 256 a file tried: 32 down to 0
        {"_apply_system_settings", "{a = 1, b = 2, c = 3, d = 4}", 4 * 8},
        {"_apply_system_settings", "1", VM_OUTPUT_LINE_CYCLES},  // the line that refuses it  // 8 a slot, its walk and its key's test
        // 2 bytes a cycle, at least 1 a write (a tab, 1); the line written out 128
        {"print", "string.rep('x', 1000), 1", 1000 / 2 + 2 + 128},
        {"unpod", "string.rep(' ', 1000) .. '1'", 1001 / 16 + 1},  // the text's bytes / 16 besides
    };
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    process_rec *p = spawn("");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(eval(p, "mkdir('/ram/d') for j = 1, 8 do store('/ram/d/f' .. j, j) end "
                      "mkdir('/ram/x.kiv') store('/ram/x.kiv/a', string.rep('x', 1000), '--[[pod_format=\"raw\"]]') "
                      "store('/ram/m.txt', string.rep('y', 4000), '--[[pod_format=\"raw\"]]')"),
              "");
    ASSERT_EQ(eval(p, "M4 = userdata('u8', 4096, 4) M6000 = userdata('u8', 6000) "
                      "M8M = userdata('u8', 4096, 2048) "
                      "DAB = create_delta(string.rep('a', 1000), string.rep('b', 1000)) "
                      "_set_draw_target(userdata('u8', 16, 16)) _set_spr(1, userdata('u8', 8, 8)) "
                      "TL = userdata('f64', 12, 100, string.rep('1,-100,-9,-50,-60,0,0,8,8,1,1,0,', 100)) "
                      "return #DAB, #create_delta('abc', 'abd')"),
              std::to_string(DELTA_AB_LEN) + "," + std::to_string(DELTA_SHORT_LEN));
    for (const Case &c : cases)
        EXPECT_EQ(charge_of(p, c.name, c.args), c.cycles) << c.name << "(" << c.args << ")";
    // stat(0) collects: charged for the heap the collection walks, 150,000
    // live tables more than before.
    const int64_t few = charge_of(p, "stat", "0");
    ASSERT_EQ(eval(p, "BIG = {} for i = 1, 150000 do BIG[i] = {} end return 1"), "1");
    EXPECT_GT(charge_of(p, "stat", "0") - few, 150000 * 56 / VM_GC_BYTES_PER_CYCLE);
    // A collector step pays for each slot it walks, whichever call brings it
    // on: a basic step does at least 200K units of work over that heap, two cycles each.
    EXPECT_GT(charge_of(p, "collectgarbage", "'step', 0"), 2 * 200000);
    // Border 2^40: the text passes its limit after 2^26 items, charged as if
    // each were written; the runs of nil need not be written to find that.
    bool raised = false;
    // and 81 look-ups for the border, and a walk of its 41 keys
    EXPECT_EQ(charge_of(p, "pod", SPARSE_40, &raised), 134217750 + 81 + 42 * VM_WALK_STEP_CYCLES);
    EXPECT_TRUE(raised);
    pfile_reset();
}

TEST_F(Charges, ProcessCreationChargesItsStateAndEveryByteOfCode) {
    process_rec *p = spawn("");
    ASSERT_NE(p, nullptr);
    const int64_t empty = charge_of(p, "_create_process_from_code", "'', 'a', '/a.lua'");
    const int64_t spaces = charge_of(p, "_create_process_from_code", "string.rep(' ', 4000), 'b', '/b.lua'");
    const int64_t named = charge_of(p, "_create_process_from_code", "'', 'a', string.rep('p', 4000)");
    EXPECT_GE(empty, 2048);
    // and no collector steps over a state being built, where nothing is garbage
    EXPECT_LT(empty, 2 * 2048);
    EXPECT_EQ(spaces - empty, 4000);
    EXPECT_EQ(named - empty, 4001 / 2 - 7 / 2);  // its texts copied and logged: 2 bytes a cycle
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

// What one iteration of an ordinary loop costs in a user process drawing
// into a 480x270 target: its instructions (1 or 2 cycles each) and each
// call's own charge, nothing more. Measured from C by difference, N against
// 2N iterations, with the collector stopped and allocations uncharged.
TEST_F(Charges, OrdinaryLoopsCostTheirInstructionsAndEachCallsOwnCharge) {
    struct Case {
        const char *body;
        double cycles;  // an iteration; a loop over entries: an entry
        int entries = 1;
    } cases[] = {
        {"f(1)", 6},
        {"flr(i / 3)", 8},
        {"sin(i / 100)", 8},
        {"mid(1, i, 3)", 9},
        {"rnd(10)", 7 + 4},
        {"btn(0)", 7},
        {"pset(i % 480, 10, 7)", 10},
        {"spr(1, 10, 10)", 9 + 21},
        {"camera(0, 0)", 8},
        {"rectfill(0, 0, 7, 7, 8)", 11 + 8},
        {"circfill(100, 100, 4, 8)", 10 + 28},
        {"tostring(i)", 7},
        {"tostring(1.5)", 7},
        {"string.format('%.2f', i / 3)", 11 + 1},  // its text / 4
        {"s:sub(2, 4)", 8},
        {"('abc'):upper()", 7},
        {"s:find('wor', 1, true)", 9 + 1},  // 4 matcher steps where 'w' is found
        // and the table's growth
        {"add(t, i)", 8.384},
        {"table.insert(t, i)", 10.384},
        {"t[#t + 1] = i", 7.384},
        {"for k, v in pairs(h) do end", 2.1, 100},
        {"for k, v in ipairs(a) do end", 2.1, 100},
        {"next(h)", 7},
        {"pcall(error, 'x')", 9},
        {"coroutine.resume(coroutine.create(g))", 15 + 2},  // and g's RETURN0
        {"setmetatable({}, mt)", 9},
        {"select('#', 1, 2, 3)", 10},
        {"u:get(1)", 7 + 1},
        {"_get_process_list()", 6 + 1},  // an entry read
    };
    ASSERT_EQ(userdata_methods[40].fn, lua54_ud_blit);  // the real method table, linked
    process_rec *p = spawn("");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(eval(p, "_set_draw_target(userdata('u8', 480, 270)) _set_spr(1, userdata('u8', 8, 8)) return 1"), "1");
    for (const Case &c : cases) {
        auto cost = [&](int n) {
            return loop_charge(p,
                               "local f, s, mt, u = math.abs, 'hello world', {}, userdata('u8', 4) "
                               "local t, h, a = {}, {}, {} for j = 1, 100 do h['k' .. j] = j a[j] = j end "
                               "local function g() end",
                               "for i = 1, " + std::to_string(n) + " do " + c.body + " end");
        };
        const int n = 1000;
        const double got = double(cost(2 * n) - cost(n)) / n / c.entries;
        EXPECT_NEAR(got, c.cycles, 0.01) << c.body;
    }
}
