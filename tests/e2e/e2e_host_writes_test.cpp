// Saving while the program is killed: files read back whole afterwards, and
// the drive folder keeps no temporary once a last clean save has run.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "cart_text.h"
#include "e2e_driver.h"

namespace {

using namespace e2e;

}  // namespace

TEST(HostWrites, KilledWhileSavingTheFilesStayWholeAndNoTemporaryRemains) {
    sandbox s;
    std::string cart;
    ASSERT_TRUE(encode_kiv_text({{"data.txt", "", false}}, false, cart));
    s.write_file("../home/.local/share/quillmar/exp/shared/drive/c.kiv", cart);
    s.pack({}, "host_writes");

    std::mt19937 gen(20261207);
    for (int run = 0; run < 10; run++) {
        // Killed after a random save, a random few milliseconds into the next.
        const std::string after = "main: saved " + std::to_string(1 + gen() % 40);
        const int delay_us = static_cast<int>(gen() % 20000);
        const run_result r = s.run([&](const std::string &text, int pid) {
            if (text != after) return;
            std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
            kill(pid, SIGKILL);
        });
        ASSERT_EQ(r.status, 128 + SIGKILL) << "run " << run << "\n" << r.out << r.err;
    }

    s.pack({}, "host_writes_check");
    const run_result r = s.run([](const std::string &text, int pid) {
        if (text == "main: clean") kill(pid, SIGTERM);
    });
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.log;
    EXPECT_TRUE(has_line(r, "main: plain whole")) << r.out;
    EXPECT_TRUE(has_line(r, "main: cart whole")) << r.out;

    const std::string drive = s.appdata + "drive";
    for (const auto &e : std::filesystem::directory_iterator(drive))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
    const std::string written = read_file(drive + "/c.kiv");
    const cart_read_result back =
        decode_kiv_text(reinterpret_cast<const uint8_t *>(written.data()), written.size(), "c.kiv");
    bool saved = false;
    for (const cart_entry &e : back.entries) saved |= e.name == "data.txt" && !e.data.empty();
    EXPECT_TRUE(saved) << "the cartridge reads whole after the last save:\n" << written.substr(0, 300);
}
