// The sysrom.dat block reader over bytes, and the block table.
#include <cstring>
#include <string>
#include <vector>

#include "buffer.h"
#include "platform_fixture.h"
#include "sysrom_blocks.h"

namespace {

using namespace platform_test;

std::string u32be(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string block(const std::string &payload) { return u32be(uint32_t(payload.size())) + payload; }

struct Blocks {
    std::vector<buffer_rec *> b = std::vector<buffer_rec *>(SYSROM_MAX_BLOCKS, nullptr);
    int n = 0;
    explicit Blocks(const std::string &bytes) {
        n = sysrom_split_blocks(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                                b.data(), SYSROM_MAX_BLOCKS);
    }
    ~Blocks() {
        for (int i = 0; i < n; i++) destroy_buffer(b[i]);
    }
    std::string text(int i) const { return std::string(reinterpret_cast<char *>(b[i]->data), b[i]->length); }
};

struct SplitCase {
    const char *what;
    std::string bytes;
    std::vector<std::string> expected;  // payload of each block kept
};

class SysromSplit : public TempHome {};

TEST_F(SysromSplit, SplitsBytesIntoBlocksAndStopsWhereTheDataEnds) {
    const std::vector<SplitCase> cases = {
        {"two blocks", block("abc") + block("xy"), {"abc", "xy"}},
        {"three blocks", block("name") + block("rom") + block("cart"), {"name", "rom", "cart"}},
        {"a block of length 0 is an empty block", block("") + block("a"), {"", "a"}},
        {"a cut-short last block is kept empty and ends the list",
         block("ab") + u32be(5) + "ab", {"ab", ""}},
        {"a cut-short block with no payload at all", block("ab") + u32be(1), {"ab", ""}},
        {"a length above the limit ends the list", block("a") + u32be(0x2000001) + "zz", {"a"}},
        {"a length of all ones ends the list", block("a") + u32be(0xFFFFFFFF), {"a"}},
        {"stray trailing bytes are ignored", block("a") + "\x01\x02\x03", {"a"}},
        {"no bytes give no blocks", "", {}},
        {"fewer than four bytes give no blocks", std::string("\0\0\0", 3), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Blocks got(c.bytes);
        ASSERT_EQ(got.n, int(c.expected.size()));
        for (int i = 0; i < got.n; i++) {
            EXPECT_EQ(got.text(i), c.expected[i]);
            EXPECT_EQ(got.b[i]->cursor, 0);
            EXPECT_EQ(got.b[i]->tag, 'i');
            EXPECT_EQ(got.b[i]->data[got.b[i]->length], 0) << "payload is NUL-terminated";
        }
    }
}

TEST_F(SysromSplit, ABlockHasRoomForItsLengthPlusEight) {
    Blocks got(block("abcd") + u32be(9) + "xy");
    ASSERT_EQ(got.n, 2);
    EXPECT_EQ(got.b[0]->capacity, 12u);
    EXPECT_EQ(got.b[1]->capacity, 17u) << "the cut-short block keeps its declared size";
    EXPECT_EQ(got.b[1]->length, 0);
}

TEST_F(SysromSplit, ALengthOfExactlyTheLimitIsRead) {
    std::string bytes = u32be(SYSROM_MAX_BLOCK_LENGTH) + std::string(SYSROM_MAX_BLOCK_LENGTH, 'q') + block("z");
    Blocks got(bytes);
    ASSERT_EQ(got.n, 2);
    EXPECT_EQ(got.b[0]->length, int32_t(SYSROM_MAX_BLOCK_LENGTH));
    EXPECT_EQ(got.text(1), "z");
}

TEST_F(SysromSplit, MoreThanSixtyFourBlocksKeepSixtyFourAndLogOnce) {
    std::string bytes;
    for (int i = 0; i < 66; i++) bytes += block(std::to_string(i));
    Blocks got(bytes);
    ASSERT_EQ(got.n, 64);
    EXPECT_EQ(got.text(63), "63");
    const std::string log = log_text();
    EXPECT_NE(log.find(SYSROM_TOO_MANY_BLOCKS_MESSAGE), std::string::npos) << log;
    EXPECT_EQ(log.find(SYSROM_TOO_MANY_BLOCKS_MESSAGE), log.rfind(SYSROM_TOO_MANY_BLOCKS_MESSAGE));
}

TEST_F(SysromSplit, ExactlySixtyFourBlocksLogNothing) {
    std::string bytes;
    for (int i = 0; i < 64; i++) bytes += block("b");
    Blocks got(bytes + "\x00\x00");
    EXPECT_EQ(got.n, 64);
    EXPECT_EQ(log_text().find("more than 64"), std::string::npos);
}

TEST_F(SysromSplit, BlockTableLoadsAFileAndRewindsOnEachGet) {
    const std::string path = root + "/sysrom.dat";
    write_file(path, block("name") + block("rom"));
    ASSERT_EQ(load_dat_files(path.c_str()), 2);
    buffer_rec *b = get_dat_file(1);
    ASSERT_NE(b, nullptr);
    b->cursor = 2;
    EXPECT_EQ(get_dat_file(1)->cursor, 0);
    EXPECT_EQ(get_dat_file(0)->length, 4);
    for (int n : {-1, 2, 64, 1 << 30}) EXPECT_EQ(get_dat_file(n), nullptr) << n;
    free_dat_files();
    EXPECT_EQ(get_dat_file(0), nullptr);
}

TEST_F(SysromSplit, AMissingFileLeavesTheTableEmpty) {
    EXPECT_EQ(load_dat_files((root + "/none.dat").c_str()), 0);
    EXPECT_EQ(dat_files, 0);
    EXPECT_EQ(get_dat_file(0), nullptr);
}

}  // namespace
