// End to end: captures in the running program.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_driver.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

std::string diagnostics(const run_result &r) {
    return "status " + std::to_string(r.status) + (r.timed_out ? " (timed out)" : "") + "\n--- stdout\n" +
           r.out + "--- stderr\n" + r.err + "--- log\n" + r.log;
}

// Names in 'folder' (none when it is missing).
std::vector<std::string> names_in(const std::string &folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto &e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    return names;
}

TEST(Captures, ARebootDuringARecordingAndAnAudioCaptureLeavesNothingBehind) {
    sandbox s;
    s.pack({}, "capture_reboot");
    const std::string desk = s.home + "/Desktop/quillmar_desktop";
    fs::create_directories(s.home + "/Desktop");
    // What the desktop holds once the reboot is done, before the exit path
    // could clean anything up.
    std::vector<std::string> after_reboot = {"<not seen>"};
    const run_result r = s.run([&](const std::string &line, int) {
        if (line == "main: after reboot") after_reboot = names_in(desk);
    });
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_NE(r.out.find("main: capturing"), std::string::npos) << diagnostics(r);
    EXPECT_NE(r.out.find("could not write gif"), std::string::npos) << "an end with no frame\n" << diagnostics(r);
    EXPECT_TRUE(after_reboot.empty()) << after_reboot.size() << " names, the first " << after_reboot[0];
    EXPECT_TRUE(fs::is_directory(desk)) << diagnostics(r);
    EXPECT_TRUE(names_in(desk).empty());
}

}  // namespace
