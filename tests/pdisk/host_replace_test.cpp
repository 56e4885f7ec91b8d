// Host writes through temporaries: what interrupted writes leave behind is
// removed by the next write of the same file, the folder is synced after
// the rename, and temporaries still in use are kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_host.h"
#include "host_replace.h"
#include "pfile.h"
#include "vfs_fixture.h"

namespace {

// Names in the drive folder holding ".tmp.", sorted.
std::vector<std::string> temps_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".tmp.") != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int count_of(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

}  // namespace

class HostReplaceTest : public VfsTest {
protected:
    // A write of 'path' that dies after its temporary was made, then a new run.
    void interrupted_write(const std::string &path) {
        fs.crash_nth[static_cast<int>(host_op::write_temp)] = fs.calls_of(host_op::write_temp) + 1;
        EXPECT_THROW(put(path, "lost"), fault_fs::crash);
        restart();
    }
};

TEST(HostTempNames, NumbersRoundTripAndLongNamesAreCut) {
    const std::string long_name(300, 'n');
    const struct {
        std::string target;
        int n;
        std::string name;
    } cases[] = {
        {"/d/f.txt", 0, "/d/.f.txt.tmp.0"},
        {"/d/f.txt", 999, "/d/.f.txt.tmp.999"},
        {"f.txt", 7, ".f.txt.tmp.7"},
        {"/d/" + long_name, 3, "/d/." + long_name.substr(0, HOST_TEMP_STEM_MAX) + ".tmp.3"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(host_temp_name(c.target.c_str(), c.n), c.name);
        EXPECT_EQ(host_temp_number(c.name.c_str()), c.n) << c.name;
    }
    for (const char *bad : {"/d/f.txt", "/d/.f.txt.tmp.", "/d/.f.tmp.1000", "/d/.f.tmp.99999999999", "/d/.f.tmp.1a"})
        EXPECT_EQ(host_temp_number(bad), -1) << bad;
}

TEST_F(HostReplaceTest, AGoodWriteRemovesWhatInterruptedWritesLeft) {
    for (const int interruptions : {1, 3, 1500}) {
        for (int i = 0; i < interruptions; i++) interrupted_write("/f.txt");
        ASSERT_FALSE(temps_in(drive).empty()) << "an interrupted write leaves its temporary";
        ASSERT_TRUE(put("/f.txt", "whole " + std::to_string(interruptions))) << interruptions;
        EXPECT_EQ(get_host("f.txt"), "whole " + std::to_string(interruptions));
        EXPECT_EQ(temps_in(drive), std::vector<std::string>{}) << interruptions;
    }
}

TEST_F(HostReplaceTest, OtherFilesTemporariesAndOnesStillBeingWrittenAreKept) {
    put_host(".other.txt.tmp.0", "another file's");
    interrupted_write("/f.txt");              // leaves .f.txt.tmp.0
    pfile_rec *held = pfopen("/f.txt", "w");  // writes through .f.txt.tmp.1
    ASSERT_NE(held, nullptr);
    ASSERT_TRUE(put("/f.txt", "second"));     // .f.txt.tmp.2: removes 0, keeps 1
    EXPECT_EQ(temps_in(drive), (std::vector<std::string>{".f.txt.tmp.1", ".other.txt.tmp.0"}));
    ASSERT_EQ(pfwrite("first", 1, 5, held), 5);
    EXPECT_EQ(pfclose(held), 0) << "the open write's temporary was kept";
    EXPECT_EQ(get_host("f.txt"), "first");
    EXPECT_EQ(temps_in(drive), std::vector<std::string>{".other.txt.tmp.0"});
}

TEST_F(HostReplaceTest, TheFolderIsSyncedAfterTheRenameAndItsFailureOnlyLogged) {
    const int syncs = fs.calls_of(host_op::sync_dir);
    const size_t renames = fs.replaced.size();
    ASSERT_TRUE(put("/f.txt", "one"));
    EXPECT_EQ(fs.replaced.size(), renames + 1);
    EXPECT_EQ(fs.calls_of(host_op::sync_dir), syncs + 1);

    fs.fail_all[static_cast<int>(host_op::sync_dir)] = true;
    EXPECT_TRUE(put("/f.txt", "two")) << "the rename happened: the write counts as done";
    EXPECT_TRUE(put("/f.txt", "three"));
    EXPECT_EQ(get_host("f.txt"), "three");
    EXPECT_EQ(count_of(fake_host::log_text(), "** could not sync folder " + drive), 1);
    EXPECT_EQ(count_of(fake_host::log_text(), "** could not write"), 0);

    fs.heal();
    ASSERT_TRUE(put("/f.txt", "four"));
    fs.fail_all[static_cast<int>(host_op::sync_dir)] = true;
    ASSERT_TRUE(put("/f.txt", "five"));
    EXPECT_EQ(count_of(fake_host::log_text(), "** could not sync folder " + drive), 2)
        << "a new failure after a good sync is logged again";
}
