// The program end to end: start-up failures, the boot of our ROM, messages,
// errors, reboot, exit and pacing, each in its own sandbox.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "cart_rom.h"
#include "cart_text.h"
#include "e2e_driver.h"

namespace {

using namespace e2e;

// Ends the run with SIGTERM once 'line' has been printed.
line_hook term_after(const std::string &line) {
    return [line](const std::string &text, int pid) {
        if (text == line) kill(pid, SIGTERM);
    };
}

/* ---- start-up failures ---- */

// How a case lays out its program folder before the run.
enum class layout { none, rom, blocks, home_is_file };

struct startup_case {
    const char *name;
    layout how;
    std::string boot;    // boot.lua for layout::rom ("" keeps ours)
    std::string stdout_text;   // exact standard output
    std::string prefix;        // for layout::home_is_file: the text before the file's path
};

void PrintTo(const startup_case &c, std::ostream *os) { *os << c.name; }

std::string random_bytes(size_t n) {
    std::mt19937 gen(42);
    std::string s(n, '\0');
    for (char &c : s) c = char(gen() & 0xFF);
    return s;
}

std::string rom_without_boot_file() {
    std::string rom;
    const std::vector<cart_entry> entries = {{"system", "", true}, {"system/idle.lua", "while true do end", false}};
    if (!encode_kiv_rom(entries, 0, rom)) throw std::runtime_error("encode_kiv_rom");
    return rom;
}

class StartupFailure : public ::testing::TestWithParam<startup_case> {};

TEST_P(StartupFailure, EndsWithStatusOneAndItsExactMessage) {
    const startup_case &c = GetParam();
    sandbox s;
    switch (c.how) {
        case layout::none: break;
        case layout::rom: s.pack({{"system/boot.lua", c.boot}}); break;
        case layout::blocks:
            s.write_blocks({"", c.boot.empty() ? rom_without_boot_file() : c.boot});
            break;
        case layout::home_is_file:
            s.pack();
            std::filesystem::remove_all(s.home);
            s.write_file("../home", "not a folder");
            break;
    }
    const run_result r = s.run();
    EXPECT_EQ(r.status, 1) << diagnostics(r);
    if (c.how == layout::home_is_file)
        EXPECT_EQ(r.out, c.prefix + s.appdata + "quillmar_config.txt\n") << diagnostics(r);
    else
        EXPECT_EQ(r.out, c.stdout_text) << diagnostics(r);
}

const std::string kBinaryChunk = std::string("\x1bLua\x54\x00\x19\x93\r\n\x1a\n", 12) + "\x04\x08\x08";

INSTANTIATE_TEST_SUITE_P(
    Boot, StartupFailure,
    ::testing::Values(
        startup_case{"NoSysromDat", layout::none, "", "sysrom.dat not found\n", ""},
        startup_case{"NoBootFile", layout::blocks, "", "could not find /system/boot.lua\n", ""},
        startup_case{"BootFileSyntaxError", layout::rom, "x = = 1",
                     "error in /system/boot.lua[string \"x = = 1\"]:1: unexpected symbol near '='\n", ""},
        startup_case{"BinaryChunkBootFile", layout::rom, kBinaryChunk,
                     "error in /system/boot.lua" "attempt to load a binary chunk (mode is 't')\n", ""},
        startup_case{"RandomBytesInBlockOne", layout::blocks, random_bytes(4096),
                     "could not find /system/boot.lua\n", ""},
        startup_case{"HomeIsARegularFile", layout::home_is_file, "", "", "ERROR: could not write to "},
        startup_case{"BootFileThatReturns", layout::rom, "print(\"boot: done\")",
                     "boot: done\n** root process ended\n", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(StartupLog, AMissingSysromDatIsLoggedToo) {
    sandbox s;
    const run_result r = s.run();
    EXPECT_NE(r.log.find("] sysrom.dat not found\n"), std::string::npos) << diagnostics(r);
}

TEST(StartupLog, AKernelErrorEndsTheProgramWithTheKernelBanner) {
    sandbox s;
    s.pack({{"system/boot.lua", "error(\"kernel fails\")"}});
    const run_result r = s.run();
    EXPECT_EQ(r.status, 1) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "** RUNTIME ERROR IN KERNEL **")) << diagnostics(r);
    EXPECT_NE(r.log.find("kernel fails"), std::string::npos);
}

/* ---- normal boot ---- */

TEST(NormalBoot, KernelThenWindowManagerWithTheStartUpLog) {
    sandbox s;
    s.pack();
    const run_result r = s.run(term_after("wm: ready 3"));
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    ASSERT_GE(r.lines.size(), 2u) << diagnostics(r);
    EXPECT_EQ(r.lines[0].text, "kernel: boot");
    EXPECT_EQ(r.lines[1].text, "wm: ready 3");

    for (const char *line : {"] load_quillmar_dat_files: sysrom.dat // from: ", "] booting quillmar ", "] build: ",
                             "] writing default config to ", "] mount: [/] [", "] creating process 1 [root] [root]\n",
                             "] anywhen init: ", "] creating process 2 idle /system/idle.lua\n",
                             "] creating process 3 wm /system/wm.lua\n"})
        EXPECT_NE(r.log.find(line), std::string::npos) << line << "\n" << r.log;
    static const std::regex prefixed(R"(\[\d{6} \d{3}\] .*)");
    std::istringstream log(r.log);
    for (std::string line; std::getline(log, line);) EXPECT_TRUE(std::regex_match(line, prefixed)) << line;

    EXPECT_EQ(read_file(s.appdata + "quillmar_config.txt"),
              "# quillmar config\n\nmount / " + s.appdata + "drive\n");
    EXPECT_TRUE(std::filesystem::is_directory(s.appdata + "drive"));
}

TEST(NormalBoot, WithThreeBlocksPidFourRunsAndReadsHostData) {
    sandbox s;
    s.pack({}, "host_data");
    s.write_file("data/x.txt", "from the host");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: pid 4")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: from the host")) << diagnostics(r);
}

TEST(NormalBoot, WithTwoBlocksThereIsNoExpansionFolder) {
    sandbox s;
    s.pack({{"system/idle.lua", "_printh(\"idle: expcart \" .. tostring(fstat(\"/ram/expcart\") ~= nil))\n"
                                "while true do flip() end\n"}});
    const run_result r = s.run(term_after("wm: ready 3"));
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "idle: expcart false")) << diagnostics(r);
}

/* ---- typed arrays ---- */

TEST(TypedArrays, OperationsOnArraysFromPodTexts) {
    sandbox s;
    s.pack({}, "typed_ops");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    for (const char *line : {
             "typed: add userdata(\"u8\",4,\"2c011406\")",
             "typed: running userdata(\"i32\",5,\"0000000100000003000000060000000a0000000f\")",
             "typed: take userdata(\"i16\",3,\"0028000a001e\")",
             "typed: point userdata(\"f64\",3,\"11,22,33\")",
             "typed: sorted 3",
             "typed: rows userdata(\"i32\",2,3,\"000000020000000a0000000300000014000000010000001e\")",
             // every method at every type, whatever the processor (the same
             // bits at every kernel level)
             "typed: every method 278 0b318b6f0b8087d64040702d6aeff739",
         })
        EXPECT_TRUE(has_line(r, line)) << line << "\n" << diagnostics(r);
}

/* ---- messages ---- */

TEST(Messages, ExchangeWithAnEchoProcessTheWindowManagerAndAChildEnd) {
    sandbox s;
    s.pack({}, "messages");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    for (const char *line : {"main: echo is 5", "main: sent from 4 flags 0", "echo: ping from 4 flags 0",
                             "main: reply ping back from 5 flags 0", "main: child_completed 5"})
        EXPECT_TRUE(has_line(r, line)) << line << "\n" << diagnostics(r);
    bool wm_printed = false;
    for (const out_line &l : r.lines)
        wm_printed |= l.text.rfind("wm: ", 0) == 0 && l.text.find("note=\"hello wm\"") != std::string::npos &&
                      l.text.find("_from=4") != std::string::npos;
    EXPECT_TRUE(wm_printed) << diagnostics(r);
}

/* ---- errors ---- */

TEST(Errors, AFailingUserProcessIsReportedToTheWindowManagerAndRemoved) {
    sandbox s;
    s.pack({}, "runtime_error");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: bad is 5")) << diagnostics(r);
    EXPECT_EQ(count_lines_with(r, "event=\"report_error\""), 3) << diagnostics(r);
    EXPECT_EQ(count_lines_with(r, "content=\"*runtime error\""), 1) << diagnostics(r);
    EXPECT_GE(count_lines_with(r, "boom"), 1) << diagnostics(r);
    EXPECT_NE(r.log.find("SYSTEM ERROR: *runtime error\n"), std::string::npos) << r.log;
    EXPECT_TRUE(has_line(r, "main: bad state -1")) << diagnostics(r);
}

TEST(Errors, ASyntaxErrorIsReportedAndUsesUpItsId) {
    sandbox s;
    s.pack({}, "syntax_error");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: bad is nil")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: good is 6")) << diagnostics(r);
    EXPECT_EQ(count_lines_with(r, "content=\"*syntax error\""), 1) << diagnostics(r);
    EXPECT_NE(r.log.find("SYSTEM ERROR: *syntax error\n"), std::string::npos) << r.log;
}

TEST(Errors, AnErrorInTheServiceProcessIsNotFatal) {
    sandbox s;
    s.pack({{"system/idle.lua", "flip() error(\"idle fails\")\n"}}, "alive");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: alive")) << diagnostics(r);
    EXPECT_NE(r.log.find("idle fails"), std::string::npos) << r.log;
}

TEST(Errors, AWindowManagerErrorEndsTheProgramWhileTheServiceLives) {
    sandbox s;
    s.pack({{"system/wm.lua", "_printh(\"wm: ready \" .. pid()) flip() flip() error(\"wm fails\")\n"}});
    const run_result r = s.run();
    EXPECT_EQ(r.status, 1) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "wm: ready 3")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "** RUNTIME ERROR IN WINDOW MANAGER **")) << diagnostics(r);
}

/* ---- audio ---- */

// The window manager (a system process, so the audio bracket grants it) calls
// note, sfx and music with edge arguments over several frames.
TEST(Audio, AudioCalls) {
    sandbox s;
    s.pack({{"system/wm.lua",
             "note(48) flip()\n"
             "note(60, 1, 64, 0, 0, 3) note(60, 1, 64, 0, 0, 20) note('60', {}, 300, 52, 9, 15, true, 200)\n"
             "note(48, 0, 64, 0, 0, -1, false, -2^31) flip()\n"
             "note(255) note() flip()\n"
             "sfx(5) sfx(5, 2, 8, 4) sfx(-1) sfx(-2, 99) sfx(-4, -1, 300) sfx(2^40, -1, -5, 2^31) flip()\n"
             "music(0, 1000, 15) flip() music(-1, 500) flip()\n"
             "music(-1) music(3, 0, 255, 2^40) music(-5) music(2^31, 0/0, 'x', {}) flip()\n"
             "_printh(\"wm: audio ok\") _signal(33) while true do flip() end\n"}});
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "wm: audio ok")) << diagnostics(r);
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
}

/* ---- reboot ---- */

TEST(Reboot, RestoresTheRomKeepsTheDriveAndBootsAgain) {
    sandbox s;
    s.pack({}, "reboot");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_EQ(count_lines_with(r, "kernel: boot"), 2) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: rebooting")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: marker found")) << diagnostics(r);
    EXPECT_NE(r.log.find("] --- rebooting ---\n"), std::string::npos) << r.log;
}

/* ---- exit ---- */

TEST(Exit, SigtermEndsWithStatusZeroAndWritesTheDirtyCartridge) {
    sandbox s;
    s.pack({}, "sigterm");
    std::string cart;
    ASSERT_TRUE(encode_kiv_text({{"note.txt", "old", false}}, false, cart));
    s.write_file("../home/.local/share/quillmar/exp/shared/drive/saved.kiv", cart);

    const run_result r = s.run(term_after("main: dirty"));
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    const std::string written = read_file(s.appdata + "drive/saved.kiv");
    const cart_read_result back =
        decode_kiv_text(reinterpret_cast<const uint8_t *>(written.data()), written.size(), "saved.kiv");
    bool kept = false;
    for (const cart_entry &e : back.entries)
        kept |= e.name == "note.txt" && e.data.find("kept") != std::string::npos;
    EXPECT_TRUE(kept) << written;
}

TEST(Exit, AnExclusiveProcessRunsOneHundredEightyFramesAfterItsExitRequest) {
    sandbox s;
    s.pack({}, "exclusive_exit");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: exit requested at 10")) << diagnostics(r);
    std::string last;
    for (const out_line &l : r.lines)
        if (l.text.rfind("main: frame ", 0) == 0) last = l.text;
    EXPECT_EQ(last, "main: frame 190") << diagnostics(r);
}

TEST(Exit, AWindowManagerThatKillsTheKernelEndsTheProgram) {
    sandbox s;
    s.pack({{"system/wm.lua", "_printh(\"wm: ready \" .. pid()) flip() _kill_process(1)\n"
                              "while true do flip() end\n"}});
    const run_result r = s.run();
    EXPECT_EQ(r.status, 1) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "** root process ended")) << diagnostics(r);
    EXPECT_NE(r.log.find("] ** root process ended\n"), std::string::npos) << r.log;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
}

/* ---- pacing ---- */

TEST(Pacing, OneHundredTwentyHeadlessFramesTakeAtLeastOnePointEightFiveSeconds) {
    sandbox s;
    s.pack({}, "pacing");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    std::optional<std::chrono::steady_clock::time_point> a, b;
    for (const out_line &l : r.lines) {
        if (l.text == "main: mark a") a = l.arrived;
        if (l.text == "main: mark b") b = l.arrived;
    }
    ASSERT_TRUE(a && b) << diagnostics(r);
    EXPECT_GE(std::chrono::duration<double>(*b - *a).count(), 1.85);
}

}  // namespace

/* ---- the script API's host calls ---- */

TEST(ScriptApi, BuildCodesDesktopMountSettingsAndTheClipboardAcrossAReboot) {
    sandbox s;
    s.pack({}, "script_api");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    std::smatch version, stamp;
    ASSERT_TRUE(std::regex_search(r.log, version, std::regex("booting quillmar ([^\\n]*)\\n"))) << r.log;
    ASSERT_TRUE(std::regex_search(r.log, stamp, std::regex("build: ([^\\n]*)\\n"))) << r.log;
    EXPECT_TRUE(has_line(r, "main: build 1 " + version[1].str())) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: stamp " + stamp[1].str())) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: headless 1 expcart 3")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "** lua54__apply_system_settings failed; not a table")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: clipboard kept across the reboot")) << diagnostics(r);
    // store writes pod: the text is inside it.
    EXPECT_NE(read_file(s.home + "/Desktop/quillmar_desktop/hello.txt").find("from the desktop"),
              std::string::npos);
}

/* ---- with video out ---- */

// The boot sequence lasts a number of frames, however long they take: the
// run ends a second after the log shows its end.
TEST(Windowed, TheShippedRomRunsWithVideoOutAndLogsTheBootSequenceOnce) {
    sandbox s;
    s.pack();
    s.windowed = true;
    std::thread watcher;
    const run_result r = s.run([&](const std::string &line, int pid) {
        if (line != "kernel: boot" || watcher.joinable()) return;
        watcher = std::thread([&, pid] {
            const auto until = std::chrono::steady_clock::now() + RUN_DEADLINE / 2;
            while (read_file(s.appdata + "log.txt").find("@@ finished_boot_sequence\n") == std::string::npos &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::seconds(1));
            kill(pid, SIGTERM);
        });
    });
    if (watcher.joinable()) watcher.join();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_FALSE(r.timed_out);
    size_t first = r.log.find("@@ finished_boot_sequence\n");
    EXPECT_NE(first, std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("@@ finished_boot_sequence\n", first + 1), std::string::npos) << r.log;
}
