// Data safety under host faults, crashes, unreadable cartridges, exclusive
// runs, aliases and full tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fake_host.h"
#include "host.h"
#include "test_codec.h"
#include "vfs_fixture.h"

namespace {

using test_codec::entries_of;

std::string cart(const std::vector<cart_entry> &entries) { return test_codec::encode(entries); }

int count_of(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

// Records history while it lives.
struct history_on {
    history_on() { config.anywhen = 1; }
    ~history_on() { config.anywhen = 0; }
};

// Today's day log of the history.
std::string history_log() {
    std::ifstream in(anywhen_today_log_path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Checkpoint lines ('$' and '+') in a day log.
int checkpoints_in(const std::string &log) {
    int n = 0;
    for (size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
        n += log[at] == '$' || log[at] == '+';
        if (log.find('\n', at) == std::string::npos) break;
    }
    return n;
}

bool temp_files_left(const std::string &dir) {
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().find(".tmp.") != std::string::npos) return true;
    return false;
}

}  // namespace

using SafetyTest = VfsTest;

TEST_F(SafetyTest, AHostWriteCutShortLeavesTheOriginalAndReportsFailure) {
    history_on history;
    put_host("f.txt", "original");
    fs.cut_writes_after = 10;
    EXPECT_FALSE(put("/f.txt", "a much longer replacement"));
    EXPECT_EQ(get_host("f.txt"), "original");
    EXPECT_FALSE(temp_files_left(drive));
    EXPECT_EQ(pending_sync, 0) << "nothing recorded for a failed write";
    EXPECT_EQ(checkpoints_in(history_log()), 0) << "no checkpoint of a failed write";
    EXPECT_NE(history_log().find(" /f.txt\n"), std::string::npos) << "the day's branch holds the original";
    EXPECT_NE(fake_host::log_text().find("** could not write /f.txt"), std::string::npos);
    EXPECT_EQ(pdisk_count_slots_by_kind(1), 0);
}

TEST_F(SafetyTest, FailuresAtEachStepOfAHostWriteLeaveTheOriginal) {
    const host_op steps[] = {host_op::create_temp, host_op::write_temp, host_op::replace};
    for (const host_op step : steps) {
        put_host("f.txt", "original");
        fs.heal();
        fs.fail_all[static_cast<int>(step)] = true;
        EXPECT_FALSE(put("/f.txt", "replacement")) << static_cast<int>(step);
        EXPECT_EQ(get_host("f.txt"), "original") << static_cast<int>(step);
        EXPECT_FALSE(temp_files_left(drive)) << static_cast<int>(step);
    }
    fs.heal();
    fs.fail_all[static_cast<int>(host_op::append)] = true;
    EXPECT_FALSE(put("/f.txt", "more", "a"));
    EXPECT_EQ(get_host("f.txt"), "original");
}

TEST_F(SafetyTest, ACrashBeforeTheRenameLeavesTheOriginalForTheNextRun) {
    history_on history;
    put_host("f.txt", "original");
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);  // the branch's own renames come first
    fs.crash_nth[static_cast<int>(host_op::replace)] = fs.calls_of(host_op::replace) + 1;
    EXPECT_THROW(put("/f.txt", "replacement"), fault_fs::crash);
    restart();
    EXPECT_EQ(checkpoints_in(history_log()), 0) << "no checkpoint of the lost write";
    EXPECT_EQ(get_host("f.txt"), "original");
    EXPECT_EQ(get("/f.txt"), "original");
    EXPECT_EQ(listing("/"), "ram/ system/ f.txt") << "the stray temporary file stays hidden";
}

TEST_F(SafetyTest, AFailedWriteBackSurvivesAForcedPruneAndIsWrittenOnceTheFaultClears) {
    put_host("c.kiv", cart({{"a", "0", false}}));
    ASSERT_TRUE(put("/c.kiv/a", "edit"));
    fs.fail_all[static_cast<int>(host_op::replace)] = true;
    frame(300);
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=0");

    pending_prune = 1;
    frame();
    frame(6000);
    EXPECT_EQ(get("/c.kiv/a"), "edit") << "a dirty cartridge is never pruned";
    EXPECT_EQ(count_of(fake_host::log_text(), "** could not write back /c.kiv"), 1);

    fs.heal();
    fs.replaced.clear();
    frame(5000);
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=edit");
    frame(10000);
    EXPECT_EQ(fs.replaced.size(), 1u);
}

TEST_F(SafetyTest, AWriterThatRefusesKeepsTheCartridgeDirtyAndItsFileUntouched) {
    const std::string before = cart({{"a", "0", false}});
    put_host("c.kiv", before);
    ASSERT_TRUE(put("/c.kiv/a", "edit"));
    test_codec::refuse = true;
    flush_dirty_mounts_immediately();
    EXPECT_EQ(get_host("c.kiv"), before);
    EXPECT_EQ(pmount[3].dirty, 1u);
    EXPECT_EQ(pmount[3].flush_t, 1000 + FLUSH_RETRY_MS);
    test_codec::refuse = false;
    flush_dirty_mounts_immediately();
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=edit");
}

TEST_F(SafetyTest, CartridgesNotReadWholeAreNeverWrittenBackOverTheirFile) {
    const std::string whole = cart({{"a", "1", false}, {"b", "2", false}});
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"cut.kiv", whole.substr(0, whole.size() - 1)},
        {"bad.kiv.rom", "garbage that is not a cartridge"},
        {"pic.kiv.png", "\x89PNG not readable here"},
    };
    for (const auto &c : cases) {
        put_host(c.name, c.bytes);
        const std::string path = std::string("/") + c.name;
        ASSERT_TRUE(put(path + "/new", "n")) << c.name;
        frame(300);
        flush_dirty_mounts_immediately();
        pending_prune = 1;
        frame();
        EXPECT_EQ(get_host(c.name), c.bytes) << c.name;
        EXPECT_EQ(get(path + "/new"), "n") << c.name << ": the edit stays in RAM";
        EXPECT_EQ(count_of(fake_host::log_text(),
                           std::string("** not writing back ") + path + ": it was not read whole"),
                  1)
            << c.name;
    }
}

TEST_F(SafetyTest, AnEmptyHostFileOfACartridgeNameIsReadAsAnEmptyCartridge) {
    // A missing file is a new cartridge and is written on the first edit.
    ASSERT_EQ(pmkdir("/new.kiv"), 0);
    ASSERT_TRUE(put("/new.kiv/a", "1"));
    frame(300);
    EXPECT_EQ(entries_of(get_host("new.kiv")), "a=1");
}

TEST_F(SafetyTest, AnExclusiveProcessDelaysWriteBackButNotTheExitFlush) {
    put_host("c.kiv", cart({{"a", "0", false}}));
    ASSERT_TRUE(put("/c.kiv/a", "1"));
    exclusive = 7;
    frame(1000);
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=0");
    pending_prune = 1;
    frame();
    EXPECT_EQ(pending_prune, 1) << "the requested prune waits too";
    flush_dirty_mounts_immediately();  // the exit path
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=1");
    exclusive = 0;
    frame();
    EXPECT_EQ(pending_prune, 0);
}

TEST_F(SafetyTest, AnEditThroughAnAliasReachesItsCartridge) {
    put_host("c.kiv", cart({{"a", "0", false}}));
    ASSERT_NE(mount_p_path("/al", "/c.kiv"), nullptr);
    ASSERT_TRUE(put("/al/b", "via alias"));
    pending_prune = 1;
    frame(300);
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=0 b=via alias");
    EXPECT_EQ(get("/al/b"), "via alias") << "a cartridge holding an alias's origin is not pruned";
}

TEST_F(SafetyTest, ManyRamFilesADirtyCartridgeAndACopyFromANestedOneAreSafe) {
    pdisk_check_index_each_op = false;  // 8200 files: the per-operation scan is too slow
    for (int i = 0; i < 8200; i++) ASSERT_TRUE(put("/ram/many/" + std::to_string(i), "x"));
    const std::string inner = cart({{"f", "payload", false}});
    put_host("outer.kiv", cart({{"inner.kiv", inner, false}}));
    ASSERT_TRUE(put("/outer.kiv/x", "dirty"));
    EXPECT_EQ(pending_prune, 1);

    EXPECT_EQ(fcopy("/outer.kiv/inner.kiv/f", "/ram/copy"), 7);
    EXPECT_EQ(get("/ram/copy"), "payload");
    frame(300);
    EXPECT_EQ(fs.replaced.size(), 1u);
    EXPECT_EQ(entries_of(get_host("outer.kiv")), "inner.kiv=" + inner + " x=dirty");
    EXPECT_EQ(get("/ram/many/8199"), "x");
    pdisk_check_index_each_op = true;
    pdisk_verify_index();
}

TEST_F(SafetyTest, CopyingAFileOntoItselfWritesNothing) {
    ASSERT_TRUE(put("/ram/a", "abc"));
    EXPECT_EQ(fcopy("/ram/a", "/ram/a"), 3);
    EXPECT_EQ(get("/ram/a"), "abc");
    put_host("h.txt", "host");
    EXPECT_EQ(fcopy("/h.txt", "/h.txt"), 4);
    EXPECT_EQ(fcopy("/h.txt", "/./h.txt"), 4);
    EXPECT_EQ(get_host("h.txt"), "host");
    EXPECT_TRUE(fs.replaced.empty());
}

TEST_F(SafetyTest, MountFoldersAndCartridgeRootsCannotBeDeleted) {
    put_host("c.kiv", cart({{"a", "1", false}}));
    ASSERT_EQ(get("/c.kiv/a"), "1");
    const int ram_slots = pdisk_count_slots_by_kind(2);
    delete_path("/ram/mount");
    delete_path("/ram");
    delete_path("/system");
    delete_path("/");
    EXPECT_EQ(pdisk_count_slots_by_kind(2), ram_slots);
    EXPECT_EQ(get("/c.kiv/a"), "1");
    EXPECT_EQ(pmounts, 4);
}

TEST_F(SafetyTest, AFolderMadeInsideACartridgeIsSaved) {
    put_host("c.kiv", cart({{"a", "1", false}}));
    ASSERT_EQ(pmkdir("/c.kiv/sub"), 0);
    frame(300);
    EXPECT_EQ(entries_of(get_host("c.kiv")), "a=1 sub/");
}

TEST_F(SafetyTest, AFullTableIsPrunedAtTheFrameEndEvenUnderAnExclusiveProcess) {
    pdisk_check_index_each_op = false;
    for (int i = 0; i < 10; i++) {
        put_host("c" + std::to_string(i) + ".kiv", cart({{"a", "0", false}}));
        const std::string file = "/c" + std::to_string(i) + ".kiv/a";
        ASSERT_EQ(get(file), "0");
        if (i % 2) ASSERT_TRUE(put(file, "edit"));
    }
    while (pmounts < PMOUNT_APPEND_LIMIT) ASSERT_EQ(mount_ram_folder(("/f" + std::to_string(pmounts)).c_str()), 0);
    exclusive = 9;  // the write-back at the limit does not wait
    pending_prune = 0;
    frame();
    EXPECT_EQ(pmounts, PMOUNT_APPEND_LIMIT - 10);
    EXPECT_EQ(fs.replaced.size(), 5u);
    EXPECT_EQ(entries_of(get_host("c1.kiv")), "a=edit");
    EXPECT_EQ(entries_of(get_host("c2.kiv")), "a=0");
    pdisk_check_index_each_op = true;
    pdisk_verify_index();
}
