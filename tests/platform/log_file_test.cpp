// The log file: line format, marker stripping, opening and retrying.
#include <atomic>
#include <thread>
#include <vector>

#include <cstdlib>
#include <regex>

#include "host.h"
#include "log_file.h"
#include "vm_hooks.h"
#include "process.h"
#include "platform_fixture.h"

namespace {

using namespace platform_test;

std::atomic<int64_t> fake_ms{0};
std::atomic<int64_t> fake_pid{0};
int64_t clock_now() { return fake_ms; }
int64_t current_pid() { return fake_pid; }

class LogFile : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        fake_ms = 0;
        fake_pid = 0;
        codo_debug_set_clock(clock_now);
        codo_debug_set_pid_source(current_pid);
    }
};

TEST_F(LogFile, WritesEachLineWithTheClockAndProcessIdAndStripsOneMarkerOfEachKind) {
    struct Case {
        int64_t ms, pid;
        const char *text;
        const char *line;
    };
    const Case cases[] = {
        {42, 0, "x\n", "[000042 000] x\n"},
        {42, 0, "><x\n", "[000042 000] x\n"},
        {42, 0, "<>x\n", "[000042 000] >x\n"},
        {42, 0, ">>x\n", "[000042 000] >x\n"},
        {42, 0, "<<x\n", "[000042 000] <x\n"},
        {1234567, 12, "long\n", "[1234567 012] long\n"},
        {0, 4096, "", "[000000 4096] "},
    };
    std::string expected;
    for (const auto &c : cases) {
        fake_ms = c.ms;
        fake_pid = c.pid;
        codo_debug(c.text);
        expected += c.line;
    }
    EXPECT_EQ(log_text(), expected);
}

TEST_F(LogFile, TheFirstLineOfARunStartsTheLogAfresh) {
    fs::create_directories(fs::path(log_path()).parent_path());
    write_file(log_path(), "old run\n");
    codo_debug("new\n");
    EXPECT_EQ(log_text(), "[000000 000] new\n");
}

TEST_F(LogFile, LiesInTheDataHomeWhenItIsSet) {
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    codo_debug("here\n");
    codo_debug_flush();
    EXPECT_EQ(read_file(root + "/data/quillmar/exp/shared/log.txt"), "[000000 000] here\n");
}

TEST_F(LogFile, ALogThatCannotOpenIsSilentAndTheNextLineTriesAgain) {
    const std::string blocker = root + "/blocker";
    write_file(blocker, "a file where a folder should be");
    setenv("XDG_DATA_HOME", blocker.c_str(), 1);
    codo_debug("lost\n");
    fs::remove(blocker);
    fake_ms = 5;
    codo_debug("kept\n");
    codo_debug_flush();
    EXPECT_EQ(read_file(blocker + "/quillmar/exp/shared/log.txt"), "[000005 000] kept\n");
}

TEST_F(LogFile, ByDefaultTheLineCarriesTheHostClockAndTheRunningProcess) {
    codo_debug_set_clock(nullptr);
    codo_debug_set_pid_source(nullptr);
    cpu_cycles = 0;
    codo_debug("none\n");
    EXPECT_EQ(cpu_cycles, 0);
    auto *rec = static_cast<process_rec *>(calloc(1, sizeof(process_rec)));
    ASSERT_NE(rec, nullptr);
    rec->id = 12;
    cproc = rec;
    codo_debug("twelve\n");  // the running process pays for its line
    EXPECT_EQ(cpu_cycles, LOG_LINE_CYCLES);
    std::thread([] { codo_debug("twelve\n"); }).join();  // a worker's line is nobody's
    EXPECT_EQ(cpu_cycles, LOG_LINE_CYCLES);
    cproc = nullptr;
    cpu_cycles = 0;
    free(rec);
    const std::string log = log_text();
    EXPECT_TRUE(std::regex_match(log, std::regex("\\[\\d{6,} 000\\] none\n(\\[\\d{6,} 012\\] twelve\n){2}"))) << log;
}

TEST_F(LogFile, LinesFromSeveralThreadsStayWhole) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([] {
            for (int i = 0; i < 200; i++) codo_debug("0123456789abcdefghijklmnopqrstuvwxyz\n");
        });
    for (auto &th : threads) th.join();
    std::istringstream in(log_text());
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line, "[000000 000] 0123456789abcdefghijklmnopqrstuvwxyz");
        lines++;
    }
    EXPECT_EQ(lines, 800);
}

}  // namespace
