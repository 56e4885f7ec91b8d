// What a new process finds in its audio memory, and the per-process
// generator behind the noise.
#include <cstring>

#include "process_rng.h"
#include "runtime_fixture.h"

namespace {

// CRC-32 with the zlib polynomial.
uint32_t crc32(const std::vector<uint8_t> &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::vector<uint8_t> read_bytes(process_rec *p, uint32_t a, uint32_t n) {
    std::vector<uint8_t> out(n);
    for (uint32_t i = 0; i < n; i++) out[i] = peek_proc(p, a + i);
    return out;
}

}  // namespace

using DefaultAudio = RuntimeTest;

TEST_F(DefaultAudio, EveryProcessStartsWithTheWavetablesOfProcessOne) {
    process_rec *root = spawn("", "root");
    process_rec *later = spawn("", "later");
    for (process_rec *p : {root, later}) {
        SCOPED_TRACE(p->id);
        EXPECT_EQ(peek2_proc(p, 0xF78000), -23135) << "the first noise sample";
        EXPECT_EQ(peek2_proc(p, 0xF80000), 0) << "wave 0, sample 0";
        EXPECT_EQ(peek2_proc(p, 0xF80200), -32766) << "wave 0, sample 256";
        uint32_t wave64 = 0xF80000 + 64 * 2048, wave128 = 0xF80000 + 128 * 2048;
        uint32_t wave255 = 0xF80000 + 255 * 2048;
        EXPECT_EQ(peek2_proc(p, wave64 + 2 * 256), -32768);
        EXPECT_EQ(peek2_proc(p, wave128 + 2 * 512), 0);
        EXPECT_EQ(peek2_proc(p, wave255), -32767);
        EXPECT_EQ(peek2_proc(p, wave255 + 2 * 1023), 32767);
    }
    EXPECT_EQ(crc32(read_bytes(root, 0xF78000, 0x88000)), 0x214017CCu);
    EXPECT_EQ(read_bytes(later, 0xF78000, 0x88000), read_bytes(root, 0xF78000, 0x88000));
}

TEST_F(DefaultAudio, TheDefaultInstrumentAndDescriptorsAreWrittenByteForByte) {
    spawn("", "root");
    process_rec *p = spawn("", "p");
    const std::vector<uint8_t> nodes = {
        0x00, 0x01, 0x00, 0x00, 0x06, 0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02,
        0x00, 0x00, 0x02, 0x20, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x01,
        0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(read_bytes(p, 0x40000, 64), nodes);
    EXPECT_EQ(read_bytes(p, 0x401E0, 8),
              (std::vector<uint8_t>{0x00, 0xF8, 0x0A, 0xFF, 0x80, 0xF7, 0x0D, 0x01}));
    EXPECT_EQ(read_bytes(p, 0x40040, 0x1A0), std::vector<uint8_t>(0x1A0, 0));
}

TEST_F(DefaultAudio, BuildingTheNoiseLeavesProcessOnesGeneratorSixteenThousandStepsOn) {
    // Only the first process 1 of a run builds the wavetables, so this runs
    // in a fresh copy of the test program.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            process_rec *root = spawn("", "root");
            rng_state_rec expect{};
            xoshiro256ss_seed(&expect, 0x12345678);
            for (int i = 0; i < 16384; i++) xoshiro256ss(&expect);
            bool same = std::memcmp(&expect, &root->rng_state, sizeof expect) == 0;
            std::exit(same ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DefaultAudio, GeneratorsArePerProcess) {
    process_rec *a = spawn("", "a");  // the wavetables seed process 1 in the first run only
    process_rec *b = spawn("", "b");
    process_rec *c = spawn("", "c");
    cproc = c;
    EXPECT_EQ(xoshiro256ss_rand(), 0u) << "an unseeded process draws 0";
    EXPECT_EQ(xoshiro256ss_rand(), 0u);
    (void)a;
    cproc = b;
    xoshiro256ss_srand(77);
    uint64_t b1 = xoshiro256ss_rand(), b2 = xoshiro256ss_rand();
    cproc = c;
    xoshiro256ss_srand(77);
    EXPECT_EQ(xoshiro256ss_rand(), b1) << "c's draws do not depend on b's";
    EXPECT_EQ(xoshiro256ss_rand(), b2);
    rng_state_rec manual{};
    manual.s[0] = 77 ^ 0xDEADBEEFu;
    manual.s[1] = 0xFF;
    manual.s[2] = uint64_t{77} << 32;
    for (int i = 0; i < 8; i++) xoshiro256ss(&manual);
    cproc = b;
    xoshiro256ss_srand(77);
    EXPECT_EQ(std::memcmp(&manual, &b->rng_state, sizeof manual), 0);
}
