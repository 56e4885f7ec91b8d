// File slots: open modes, host reads and writes, CPU charges, sizes and
// the timing of cartridge write-back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "test_codec.h"
#include "vfs_fixture.h"
#include "vm_hooks.h"

namespace {

using test_codec::entries_of;

std::string cart(const std::string &name, const std::string &data) {
    return test_codec::encode({cart_entry{name, data, false}});
}

int writes_to(const fault_fs &fs, const std::string &target) {
    int n = 0;
    for (const std::string &t : fs.replaced) n += t == target;
    return n;
}

}  // namespace

using FileTest = VfsTest;

TEST_F(FileTest, ARamFileOpenedForWritingTwiceIsTheSameSlotEmptied) {
    pfile_rec *f = pfopen("/ram/a", "w");
    ASSERT_NE(f, nullptr);
    pfwrite("abc", 1, 3, f);
    EXPECT_EQ(pfclose(f), 0);
    pfile_rec *g = pfopen("/ram/a", "w");
    EXPECT_EQ(g, f);
    EXPECT_EQ(g->data->length, 0);
    pfclose(g);
}

TEST_F(FileTest, AppendingAddsAtTheEndOfRamAndHostFiles) {
    ASSERT_TRUE(put("/ram/a", "abc"));
    ASSERT_TRUE(put("/ram/a", "def", "a"));
    EXPECT_EQ(get("/ram/a"), "abcdef");
    ASSERT_TRUE(put("/ram/new", "x", "a"));
    EXPECT_EQ(get("/ram/new"), "x");

    put_host("log.txt", "one\n");
    ASSERT_TRUE(put("/log.txt", "two\n", "a"));
    EXPECT_EQ(get_host("log.txt"), "one\ntwo\n");
    ASSERT_TRUE(put("/fresh.txt", "x", "ab"));
    EXPECT_EQ(get_host("fresh.txt"), "x");
}

TEST_F(FileTest, ReadModesGiveTheWholeFileTheFirst64KOrAProbe) {
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>('a' + i % 26);
    put_host("big.bin", big);

    EXPECT_EQ(get("/big.bin"), big);
    EXPECT_EQ(get("/big.bin", "rb"), big);
    EXPECT_EQ(get("/big.bin", "rm"), big.substr(0, 65536));

    pfile_rec *f = pfopen("/big.bin", "re");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->data->length, 0);
    EXPECT_EQ(f->data->capacity, 32u);
    pfclose(f);
    EXPECT_EQ(pdisk_count_slots_by_kind(1), 0) << "host slots are freed at close";
}

TEST_F(FileTest, FoldersMissingFilesAndOddHostFilesGiveNoSlot) {
    std::filesystem::create_directory(host("dir"));
    ASSERT_EQ(pmkdir("/ram/folder"), 0);
    ASSERT_EQ(mkfifo(host("fifo").c_str(), 0600), 0);
    put_host("huge", "");
    std::filesystem::resize_file(host("huge"), uint64_t(1) << 30);  // sparse

    const struct {
        const char *path;
        const char *mode;
    } cases[] = {
        {"/dir", "r"},     {"/dir", "re"},        {"/dir", "w"},  {"/ram/folder", "r"}, {"/ram/folder", "w"},
        {"/missing", "r"}, {"/ram/missing", "r"}, {"/fifo", "r"}, {"/fifo", "re"},      {"/huge", "r"},
        {"/ram/a", "x"},   {"/ram/a", ""},        {"/a b", "w"},
    };
    for (const auto &c : cases) EXPECT_EQ(pfopen(c.path, c.mode), nullptr) << c.path << " " << c.mode;
    EXPECT_EQ(pdisk_file_exists("/dir"), 0);
    EXPECT_EQ(pdisk_file_exists("/ram/folder"), 0);
    EXPECT_EQ(pdisk_count_slots_by_kind(1), 0);
}

TEST_F(FileTest, HostReadsAndWritesAreChargedRamAccessIsNot) {
    put_host("f.bin", std::string(8000, 'z'));
    cpu_cycles = 0;
    get("/f.bin");
    EXPECT_EQ(cpu_cycles, 1000 + 2 * HOST_FS_CALL_CYCLES);  // its bytes, a look and the read

    cpu_cycles = 0;
    pdisk_file_exists("/f.bin");
    EXPECT_EQ(cpu_cycles, HOST_PROBE_CYCLES + HOST_FS_CALL_CYCLES);

    cpu_cycles = 0;
    put("/g.bin", std::string(800, 'y'));
    EXPECT_EQ(cpu_cycles, 100 + HOST_WRITE_CYCLES + 6 * HOST_FS_CALL_CYCLES);  // and six calls into the host

    cpu_cycles = 0;
    put("/ram/r", std::string(8000, 'r'));
    get("/ram/r");
    EXPECT_EQ(cpu_cycles, 0);
}

TEST_F(FileTest, AHostWriteReplacesTheFileWholeAndKeepsItsMode) {
    put_host("f.txt", "old");
    ASSERT_EQ(chmod(host("f.txt").c_str(), 0640), 0);
    pfile_rec *f = pfopen("/f.txt", "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(get_host("f.txt"), "old") << "the old file stays until the close";
    pfwrite("new", 1, 3, f);
    EXPECT_EQ(pfclose(f), 0);
    EXPECT_EQ(get_host("f.txt"), "new");
    EXPECT_EQ(std::filesystem::status(host("f.txt")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640));
    for (const auto &e : std::filesystem::directory_iterator(drive))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
    EXPECT_EQ(pending_sync, 1);
}

TEST_F(FileTest, WritingThroughASymbolicLinkReplacesItsTarget) {
    std::filesystem::create_directory(root + "/elsewhere");
    std::ofstream(root + "/elsewhere/real.txt") << "old";
    std::filesystem::create_symlink(root + "/elsewhere/real.txt", host("link.txt"));
    ASSERT_TRUE(put("/link.txt", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(host("link.txt")));
    EXPECT_EQ(get_host("link.txt"), "new");
}

TEST_F(FileTest, SizesComeFromRamSlotsTheHostOrTheCartridgeFile) {
    put("/ram/s", "12345");
    put_host("h.bin", std::string(300, 'h'));
    const std::string bytes = cart("a", "x");
    put_host("c.kiv", bytes);
    ASSERT_EQ(get("/c.kiv/a"), "x");

    EXPECT_EQ(pfile_size("/ram/s", 0), 5);
    EXPECT_EQ(pfile_size("/h.bin", 0), 300);
    EXPECT_EQ(pfile_size("/missing", 0), 0);
    EXPECT_EQ(pfile_size("/c.kiv", 1), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(pdisk_directory_exists("/c.kiv", 1), 1) << "a mounted cartridge counts as a folder";
    EXPECT_EQ(pdisk_directory_exists("/ram", 0), 0) << "no RAM slot holds /ram itself";
    EXPECT_EQ(pdisk_directory_exists("/ram", 1), 1);
    EXPECT_EQ(pdisk_directory_exists("/", 0), 1);
}

TEST_F(FileTest, TwoWritesAFifthOfASecondApartAreWrittenBackOnceAfterTheDelay) {
    put_host("c.kiv", cart("a", "0"));
    ASSERT_EQ(get("/c.kiv/a"), "0");
    ASSERT_TRUE(put("/c.kiv/a", "1"));
    frame(200);
    ASSERT_TRUE(put("/c.kiv/a", "2"));
    frame(99);
    EXPECT_EQ(writes_to(fs, host("c.kiv")), 0) << "299 ms after the first write";
    frame(1);
    EXPECT_EQ(writes_to(fs, host("c.kiv")), 1) << "300 ms after the first write";
    frame(1000);
    EXPECT_EQ(writes_to(fs, host("c.kiv")), 1);
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=2");
}

TEST_F(FileTest, ReadingTheCartridgeFileSeesEditsNotYetDue) {
    put_host("c.kiv", cart("a", "0"));
    ASSERT_TRUE(put("/c.kiv/b", "new"));
    EXPECT_EQ(entries_of(get("/c.kiv", "rf")), "a=0 b=new");
    EXPECT_EQ(pmount[3].dirty, 0u);
}

TEST_F(FileTest, ReadingARamFileDoesNotMarkItsCartridgeDirty) {
    put_host("c.kiv", cart("a", "0"));
    ASSERT_EQ(get("/c.kiv/a"), "0");
    EXPECT_EQ(pmount[3].dirty, 0u);
    ASSERT_TRUE(put("/c.kiv/a", "1"));
    EXPECT_EQ(pmount[3].dirty, 1u);
    EXPECT_EQ(pmount[3].flush_t, 1000 + FLUSH_DELAY_MS);
}

TEST_F(FileTest, AClockStartingJustBelow2To32StillWritesBack) {
    pdisk_set_clock_ms((int64_t(1) << 32) - 100);
    put_host("c.kiv", cart("a", "0"));
    ASSERT_TRUE(put("/c.kiv/a", "1"));
    frame(299);
    EXPECT_EQ(writes_to(fs, host("c.kiv")), 0);
    frame(1);
    EXPECT_EQ(writes_to(fs, host("c.kiv")), 1);
}

TEST_F(FileTest, TheSyncStepClearsItsFlagAtMostEveryTwoSecondsUnlessForced) {
    put("/f", "x");
    ASSERT_EQ(pending_sync, 1);
    pdisk_set_clock_ms(5000);
    sync_fs(0);
    EXPECT_EQ(pending_sync, 0);
    put("/f", "y");
    pdisk_advance_clock_ms(1000);
    sync_fs(0);
    EXPECT_EQ(pending_sync, 1);
    sync_fs(1);
    EXPECT_EQ(pending_sync, 0);
}
