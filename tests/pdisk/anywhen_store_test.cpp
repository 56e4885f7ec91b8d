// The history store over a real folder: what saves, deletes and new folders
// write into the day log, the daily branch, blobs, and fetching versions
// back, with faults, torn logs, links and hostile fetch texts.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "anywhen_log.h"
#include "fake_host.h"
#include "host.h"
#include "vm_hooks.h"
#include "vfs_fixture.h"

namespace fsys = std::filesystem;

namespace {

int64_t utc(const char *text) {
    std::tm tm{};
    strptime(text, "%Y-%m-%d %H:%M:%S", &tm);
    return static_cast<int64_t>(timegm(&tm));
}

std::string hash_of(const std::string &s) {
    return anywhen_content_hash(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

std::string read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A text of 'n' lines that small edits change only a little.
std::string lines_text(int n, const std::string &tag = "") {
    std::string s;
    for (int i = 0; i < n; i++) s += "line " + std::to_string(i) + (i == n / 2 ? tag : "") + "\n";
    return s;
}

int count_of(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

}  // namespace

class AnywhenTest : public VfsTest {
protected:
    void SetUp() override {
        VfsTest::SetUp();
        config.anywhen = 1;
        at("2025-03-10 09:00:00");
    }
    void TearDown() override {
        config.anywhen = 0;
        VfsTest::TearDown();
    }

    static void at(const char *text) { pdisk_set_utc_s(utc(text)); }

    // The host path of the log of 'date' ("YYYY-MM-DD").
    std::string log_path(const std::string &date) const {
        return root + "/anywhen/" + date.substr(0, 7) + "/" + date.substr(8, 2) + ".log";
    }
    std::string log_of(const std::string &date) const { return read_all(log_path(date)); }

    // File names in the blob folder of 'month' ("YYYY-MM"), sorted.
    std::vector<std::string> blobs(const std::string &month) const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto &e : fsys::directory_iterator(root + "/anywhen/" + month + "/pod", ec))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    static std::optional<std::string> fetch(const std::string &text) {
        buffer_rec *b = anywhen_fetch(text.c_str());
        if (!b) return std::nullopt;
        std::string s(reinterpret_cast<const char *>(b->data), static_cast<size_t>(b->length));
        destroy_buffer(b);
        return s;
    }

    // Saves 'bytes' at 'path' at the UTC time 'when'.
    void save_at(const char *when, const std::string &path, const std::string &bytes) {
        at(when);
        ASSERT_TRUE(put(path, bytes)) << path << " at " << when;
    }
};

TEST_F(AnywhenTest, SavesGiveADollarLineThenDeltasFromTheFirstBlob) {
    const std::string v1 = lines_text(200), v2 = lines_text(200, " two"), v3 = lines_text(200, " three");
    save_at("2025-03-10 10:00:00", "/f.txt", v1);
    save_at("2025-03-10 10:10:00", "/f.txt", v2);
    save_at("2025-03-10 10:20:00", "/f.txt", v3);

    const std::string h1 = hash_of(v1);
    const std::string log = log_of("2025-03-10");
    EXPECT_EQ(log.find("@ 2025-03-10_10:00:00\n$ " + h1 + " /f.txt\n"), 0u) << log;
    EXPECT_NE(log.find("@ 2025-03-10_10:10:00\n+ " + h1 + " /f.txt\n| "), std::string::npos) << log;
    EXPECT_NE(log.find("@ 2025-03-10_10:20:00\n+ " + h1 + " /f.txt\n| "), std::string::npos) << log;
    EXPECT_EQ(blobs("2025-03"), std::vector<std::string>{h1}) << "deltas write no blob";

    EXPECT_EQ(fetch("/f.txt@2025-03-10 09:59:59"), std::nullopt);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 10:00:00"), v1);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 10:15:00"), v2);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 10:20:00"), v3);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 23:59:59"), v3);

    // After a restart the table is loaded from the log: still a delta from h1.
    restart();
    save_at("2025-03-10 10:30:00", "/f.txt", lines_text(200, " four"));
    EXPECT_EQ(count_of(log_of("2025-03-10"), "+ " + h1 + " /f.txt\n"), 3);
    EXPECT_NE(fake_host::log_text().find("[anywhen] loading log file: " + log_path("2025-03-10")), std::string::npos);

    // A save pays for its record: the file read back, hashed, its delta made.
    const std::string big = lines_text(20000, " five");
    cpu_cycles = 0;
    save_at("2025-03-10 10:40:00", "/f.txt", big);
    EXPECT_GE(cpu_cycles, int32_t(big.size() / 8 + big.size() / 2));  // written, then recorded
    cpu_cycles = 0;
}

TEST_F(AnywhenTest, ABigChangeIsStoredWholeAndTheTableFollowsIt) {
    const std::string v1 = lines_text(200);
    std::string v2(v1.size(), 'z');
    for (size_t i = 0; i < v2.size(); i++) v2[i] = static_cast<char>((i * 2654435761u) >> 13);
    save_at("2025-03-10 10:00:00", "/f.bin", v1);
    save_at("2025-03-10 11:00:00", "/f.bin", v2);
    save_at("2025-03-10 12:00:00", "/f.bin", v2 + "!");
    const std::string log = log_of("2025-03-10");
    EXPECT_NE(log.find("$ " + hash_of(v2) + " /f.bin\n"), std::string::npos) << "a delta over 512 bytes and size/16";
    EXPECT_NE(log.find("+ " + hash_of(v2) + " /f.bin\n"), std::string::npos) << log;
    EXPECT_EQ(fetch("/f.bin@2025-03-10 10:30:00"), v1);
    EXPECT_EQ(fetch("/f.bin@2025-03-10 11:00:00"), v2);
    EXPECT_EQ(fetch("/f.bin@2025-03-10 12:00:00"), v2 + "!");
}

TEST_F(AnywhenTest, FetchesFollowTheTimeLinesOfAWrittenLog) {
    // The log of the worked example, written by hand over real blobs.
    const std::string c1 = "first", c2 = "second";
    const std::string h1 = hash_of(c1), h2 = hash_of(c2);
    fsys::create_directories(root + "/anywhen/2025-03/pod");
    std::ofstream(root + "/anywhen/2025-03/pod/" + h1) << c1;
    std::ofstream(root + "/anywhen/2025-03/pod/" + h2) << c2;
    std::ofstream(log_path("2025-03-10")) << "@ 2025-03-10_10:00:00\n$ " << h1 << " /a\n@ 2025-03-10_11:00:00\n$ "
                                          << h2 << " /a\n";
    EXPECT_EQ(fetch("/a@2025-03-10 09:00:00"), std::nullopt);
    EXPECT_EQ(fetch("/a@2025-03-10 10:00:00"), c1);
    EXPECT_EQ(fetch("/a@2025-03-10 10:30:00"), c1);
    EXPECT_EQ(fetch("/a@2025-03-10 11:00:00"), c2);

    // A fetch pays for the log it reads and searches.
    {
        std::ofstream more(log_path("2025-03-10"), std::ios::app);
        for (int i = 0; i < 20000; i++) more << "@ 2025-03-10_12:00:00\n";
    }
    cpu_cycles = 0;
    EXPECT_EQ(fetch("/a@2025-03-10 11:00:00"), c2);
    EXPECT_GE(cpu_cycles, int32_t(log_of("2025-03-10").size() / 4));
    cpu_cycles = 0;

    // A blob whose bytes do not hash to its name is never handed out.
    std::ofstream(root + "/anywhen/2025-03/pod/" + h2) << "tampered";
    EXPECT_EQ(fetch("/a@2025-03-10 11:00:00"), std::nullopt);
    fsys::remove(root + "/anywhen/2025-03/pod/" + h1);
    EXPECT_EQ(fetch("/a@2025-03-10 10:30:00"), std::nullopt);
}

TEST_F(AnywhenTest, BeforeTheFirstCheckpointAFetchGivesTheDailyBranch) {
    put_host("doc.txt", "as the day began");
    put_host("sub/other.txt", "untouched");
    save_at("2025-03-10 10:00:00", "/doc.txt", "after the save");
    const std::string log = log_of("2025-03-10");
    EXPECT_EQ(log.find(": " + hash_of("as the day began") + " /doc.txt\n"), 0u) << log;
    EXPECT_NE(log.find("^ /sub/\n: " + hash_of("untouched") + " /sub/other.txt\n"), std::string::npos) << log;
    EXPECT_EQ(fetch("/doc.txt@2025-03-10 09:00:00"), "as the day began");
    EXPECT_EQ(fetch("/doc.txt@2025-03-10 10:00:00"), "after the save");
    EXPECT_EQ(fetch("/sub/other.txt@2025-03-10 23:00:00"), "untouched");
    EXPECT_EQ(fetch("/ram/x@2025-03-10 23:00:00"), std::nullopt) << "RAM folders are not walked";
}

TEST_F(AnywhenTest, ASaveAfterMidnightFetchedAtHalfPastTwelveGivesTheOldContent) {
    save_at("2025-03-09 22:00:00", "/f.txt", "old");
    save_at("2025-03-10 01:00:00", "/f.txt", "new");
    // The new day's branch was made before the save replaced the file.
    EXPECT_EQ(log_of("2025-03-10").find(": " + hash_of("old") + " /f.txt\n"), 0u);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 00:30:00"), "old");
    EXPECT_EQ(fetch("/f.txt@2025-03-10 01:00:00"), "new");
    EXPECT_EQ(fetch("/f.txt@2025-03-09 23:00:00"), "old");
}

TEST_F(AnywhenTest, FetchesWalkBackAcrossAMonthAndAYear) {
    save_at("2024-12-30 10:00:00", "/f.txt", "december");
    save_at("2025-02-27 10:00:00", "/f.txt", "february");
    at("2025-03-10 12:00:00");
    EXPECT_EQ(fetch("/f.txt@2025-01-02 12:00:00"), "december") << "back over the year's end";
    EXPECT_EQ(fetch("/f.txt@2025-03-05 12:00:00"), "february") << "back over the month's end";
    EXPECT_EQ(fetch("/f.txt@2025-02-27 09:00:00"), "december") << "that day's branch";
    EXPECT_EQ(fetch("/f.txt@2024-12-29 23:59:59"), std::nullopt);
    EXPECT_EQ(fetch("/f.txt@2031-07-01 00:00:00"), "february") << "a later date counts as today";
}

TEST_F(AnywhenTest, YearsAfter2030StayReachable) {
    save_at("2031-06-01 10:00:00", "/f.txt", "later");
    EXPECT_EQ(log_of("2031-06-01").empty(), false);
    EXPECT_EQ(fetch("/f.txt@2031-06-01 11:00:00"), "later");
}

TEST_F(AnywhenTest, HostileFetchTextsGiveNullAtOnce) {
    save_at("2025-03-10 10:00:00", "/a", "a");
    const std::string long_text = "/" + std::string(2030, 'x') + "@2025-03-10 10:00:00";
    const struct {
        const char *what;
        std::string text;
    } refused[] = {
        {"a 16-character time", "/a@2025-03-10 10:00"},
        {"a 20-character time", "/a@2025-03-10 10:00:00 "},
        {"no '@'", "/a 2025-03-10 10:00:00"},
        {"month and day 0", "/a@0000-00-00 00:00:00"},
        {"month 0", "/a@2025-00-10 10:00:00"},
        {"month 13", "/a@2025-13-10 10:00:00"},
        {"day 0", "/a@2025-03-00 10:00:00"},
        {"day 32", "/a@2025-03-32 10:00:00"},
        {"a letter in the year", "/a@2O25-03-10 10:00:00"},
        {"a sign", "/a@-025-03-10 10:00:00"},
        {"spaces for digits", "/a@2025- 3-10 10:00:00"},
        {"over 2047 characters", long_text},
    };
    for (const auto &c : refused) {
        const int before = fs.calls_of(host_op::stat) + fs.calls_of(host_op::read);
        EXPECT_EQ(fetch(c.text), std::nullopt) << c.what;
        EXPECT_EQ(fs.calls_of(host_op::stat) + fs.calls_of(host_op::read), before) << c.what << ": no host call";
    }
    EXPECT_EQ(anywhen_fetch(nullptr), nullptr);

    // Valid but far from any log: the walk skips months without a folder.
    for (const char *text : {"/a@1000-12-31 10:00:00", "/a@2024-04-01 00:00:00", "/b@9999-12-31 23:59:59",
                             "/a@2025-03-09 10:00:00"}) {
        const int before = fs.calls_of(host_op::stat);
        EXPECT_EQ(fetch(text), std::nullopt) << text;
        EXPECT_LT(fs.calls_of(host_op::stat) - before, 80) << text;
    }
}

TEST_F(AnywhenTest, ABlobWriteFailingAtByte100LeavesNoBlobAndNoLine) {
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);
    const std::string bytes = lines_text(40);
    ASSERT_GT(bytes.size(), 100u);
    put_host("f.txt", bytes);
    fs.cut_writes_after = 100;
    anywhen_event(ANYWHEN_CHECKPOINT, "/f.txt", host("f.txt").c_str());
    EXPECT_EQ(blobs("2025-03"), std::vector<std::string>{}) << "neither the blob nor its temporary file";
    EXPECT_EQ(log_of("2025-03-10").find("/f.txt"), std::string::npos);
    EXPECT_NE(fake_host::log_text().find("[anywhen] couldn't write blob"), std::string::npos);

    fs.heal();
    anywhen_event(ANYWHEN_CHECKPOINT, "/f.txt", host("f.txt").c_str());
    EXPECT_EQ(blobs("2025-03"), std::vector<std::string>{hash_of(bytes)});
    EXPECT_NE(log_of("2025-03-10").find("$ " + hash_of(bytes) + " /f.txt\n"), std::string::npos);
}

TEST_F(AnywhenTest, AMissingOrDamagedBaseBlobMakesTheNextSaveWhole) {
    const std::string v1 = lines_text(100), v2 = lines_text(100, "+"), v3 = lines_text(100, "++");
    save_at("2025-03-10 10:00:00", "/f.txt", v1);
    restart();  // the base is read from its file again
    std::string other = v1;
    other[10] ^= 1;  // same size, other bytes
    std::ofstream(root + "/anywhen/2025-03/pod/" + hash_of(v1)) << other;
    save_at("2025-03-10 11:00:00", "/f.txt", v2);
    fsys::remove(root + "/anywhen/2025-03/pod/" + hash_of(v2));
    save_at("2025-03-10 12:00:00", "/f.txt", v3);
    const std::string log = log_of("2025-03-10");
    EXPECT_EQ(count_of(log, "\n+ "), 0) << log;
    EXPECT_NE(log.find("$ " + hash_of(v2) + " /f.txt\n"), std::string::npos);
    EXPECT_NE(log.find("$ " + hash_of(v3) + " /f.txt\n"), std::string::npos);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 12:00:00"), v3);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 10:00:00"), std::nullopt) << "the damaged blob is not handed out";
}

TEST_F(AnywhenTest, TornLogLinesAreIgnoredAndTheNextAppendEndsThem) {
    const std::string v1 = lines_text(50), v2 = lines_text(50, "!");
    save_at("2025-03-10 10:00:00", "/f.txt", v1);
    // A crash cut a line short, and a line with a damaged hash came before it.
    std::ofstream(log_path("2025-03-10"), std::ios::app)
        << "@ 2025-03-10_10:30:00\n$ " << std::string(31, 'a') << "G /f.txt\n$ " << hash_of("other") << " /f.t";
    restart();
    save_at("2025-03-10 11:00:00", "/f.txt", v2);

    const std::string log = log_of("2025-03-10");
    EXPECT_NE(log.find(" /f.t\x7f\n@ 2025-03-10_11:00:00\n+ " + hash_of(v1) + " /f.txt\n"), std::string::npos)
        << "the damaged lines left the table on the first blob; the torn line was ended first";
    EXPECT_EQ(fetch("/f.txt@2025-03-10 10:45:00"), v1);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 11:00:00"), v2);
    EXPECT_EQ(fetch("/f.t@2025-03-10 23:00:00"), std::nullopt) << "the torn line never reads as a whole one";
}

TEST_F(AnywhenTest, TheBranchNeverFollowsLinksIntoFolders) {
    put_host("real.txt", "r");
    put_host("sub/inner.txt", "i");
    fsys::create_directory_symlink(".", host("loop"));
    fsys::create_directory_symlink("..", host("sub/up"));
    fsys::create_symlink("self", host("self"));
    fsys::create_symlink("nowhere", host("dangling"));
    fsys::create_symlink("real.txt", host("filelink"));
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);

    const std::string log = log_of("2025-03-10");
    EXPECT_EQ(log, ": " + hash_of("r") + " /filelink\n: " + hash_of("r") + " /real.txt\n^ /sub/\n: " + hash_of("i") +
                       " /sub/inner.txt\n");
    EXPECT_EQ(fake_host::log_text().find("exceeded maximum depth"), std::string::npos);
}

TEST_F(AnywhenTest, TheBranchSkipsBinFoldersDotNamesAndNamesNoPathCanHold) {
    put_host("x.bin/inside.txt", "no");
    put_host("X.BIN/inside.txt", "no");
    put_host("a.b.bin/in.txt", "yes");
    put_host("y.bin", "file");
    put_host(".hidden/f.txt", "no");
    put_host(".dot", "no");
    put_host("two words.txt", "no");
    put_host("line\nbreak", "no");
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);

    const std::string log = log_of("2025-03-10");
    EXPECT_EQ(log, "^ /a.b.bin/\n: " + hash_of("yes") + " /a.b.bin/in.txt\n: " + hash_of("file") + " /y.bin\n");
}

TEST_F(AnywhenTest, FilesOf16MiBOrMoreAreNeverRecorded) {
    const std::string under(static_cast<size_t>(ANYWHEN_BLOB_MAX - 1), 'u');
    const std::string limit(static_cast<size_t>(ANYWHEN_BLOB_MAX), 'l');
    put_host("under.bin", under);
    put_host("limit.bin", limit);
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);
    anywhen_event(ANYWHEN_CHECKPOINT, "/limit.bin", host("limit.bin").c_str());
    const std::string log = log_of("2025-03-10");
    EXPECT_EQ(log, ": " + hash_of(under) + " /under.bin\n");
    EXPECT_EQ(blobs("2025-03"), std::vector<std::string>{hash_of(under)});
}

TEST_F(AnywhenTest, TheBranchSkipsSubtreesDeeperThan1024Folders) {
    std::string deep;
    for (int i = 0; i <= ANYWHEN_MAX_DEPTH; i++) {
        deep += "d/";
        fsys::create_directory(host(deep));  // one level at a time: the whole chain at once is refused
    }
    deep.resize(deep.size() - 2);
    put_host(deep + "kept.txt", "k");
    put_host(deep + "d/lost.txt", "l");
    put_host("top.txt", "t");
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);

    const std::string log = log_of("2025-03-10");
    EXPECT_NE(log.find(" /" + deep + "kept.txt\n"), std::string::npos);
    EXPECT_EQ(log.find("lost.txt"), std::string::npos);
    EXPECT_NE(log.find(": " + hash_of("t") + " /top.txt\n"), std::string::npos) << "the walk goes on after the skip";
    EXPECT_EQ(count_of(fake_host::log_text(), "** anywhen exceeded maximum depth (1024). circular mount?"), 1);
}

TEST_F(AnywhenTest, DeletesAndNewFoldersAreRecordedAfterTheStateBeforeThem) {
    put_host("gone.txt", "bye");
    put_host("full/keep.txt", "k");
    at("2025-03-10 10:00:00");
    delete_path("/gone.txt");
    delete_path("/full");  // not empty: nothing is deleted
    ASSERT_EQ(pmkdir("/made"), 0);
    const std::string log = log_of("2025-03-10");
    const size_t before = log.find(": " + hash_of("bye") + " /gone.txt\n");
    EXPECT_NE(before, std::string::npos) << log;
    EXPECT_GT(log.find("- /gone.txt\n"), before);
    EXPECT_EQ(log.find("- /full"), std::string::npos) << "a failed delete is not recorded";
    EXPECT_NE(log.find("> /made\n"), std::string::npos);
    EXPECT_EQ(fetch("/gone.txt@2025-03-10 09:00:00"), "bye");
}

TEST_F(AnywhenTest, NothingIsRecordedWhileTheSettingIsOff) {
    config.anywhen = 0;
    ASSERT_TRUE(put("/f.txt", "x"));
    anywhen_open();
    EXPECT_FALSE(fsys::exists(root + "/anywhen"));
    config.anywhen = 1;
    anywhen_event(ANYWHEN_OPEN_DAY, nullptr, nullptr);
    EXPECT_EQ(log_of("2025-03-10"), ": " + hash_of("x") + " /f.txt\n");
    EXPECT_EQ(fsys::status(root + "/anywhen/2025-03").permissions() & fsys::perms::all,
              fsys::perms::owner_all | fsys::perms::group_read | fsys::perms::group_exec |
                  fsys::perms::others_read | fsys::perms::others_exec);
}

TEST_F(AnywhenTest, EachSessionStartsWithATimeLineAndReloadsTheLog) {
    anywhen_open();
    EXPECT_EQ(log_of("2025-03-10"), "@ 2025-03-10_09:00:00 __start_session\n");
    EXPECT_NE(fake_host::log_text().find("[anywhen] generating new log file: " + log_path("2025-03-10")),
              std::string::npos);
    at("2025-03-10 09:05:00");
    anywhen_open();
    EXPECT_EQ(log_of("2025-03-10"), "@ 2025-03-10_09:00:00 __start_session\n@ 2025-03-10_09:05:00 __start_session\n");
    EXPECT_NE(fake_host::log_text().find("[anywhen] loading log file: " + log_path("2025-03-10")), std::string::npos);
}

TEST_F(AnywhenTest, AnUnwritableStoreNeverStopsTheSave) {
    std::ofstream(root + "/anywhen") << "a file where the folder should be";
    EXPECT_TRUE(put("/f.txt", "saved"));
    EXPECT_EQ(get_host("f.txt"), "saved");
    EXPECT_NE(fake_host::log_text().find("[anywhen] ** could not open new log file"), std::string::npos);
    EXPECT_EQ(fetch("/f.txt@2025-03-10 23:00:00"), std::nullopt);
}
