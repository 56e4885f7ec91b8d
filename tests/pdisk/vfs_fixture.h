// The file-system test fixture: a fresh VFS over a temporary host folder,
// the fault-injecting seam, fixed clocks, a stub working folder and
// exclusive process, and the standard mounts (/ on the host folder
// "drive", /ram, /system).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "fault_fs.h"
#include "pdisk.h"

// The stand-in cartridge codec is installed for kinds 1 and 2 unless a test
// calls pdisk_reset_cart_codecs().
class VfsTest : public ::testing::Test {
public:
    // The settings the stubs hand to the VFS.
    static std::string pwd;
    static uint64_t exclusive;

protected:
    void SetUp() override;
    void TearDown() override;

    // Empties the tables and makes the standard mounts (a fresh start).
    void boot();

    // Drops the whole VFS and boots a new one over the same host folder,
    // as after a restart of the program.
    void restart();

    // The host path of 'rel' inside the drive folder.
    std::string host(const std::string &rel) const;
    void put_host(const std::string &rel, const std::string &bytes) const;
    std::optional<std::string> get_host(const std::string &rel) const;
    bool host_exists(const std::string &rel) const;

    // Writes 'bytes' through pfopen/pfwrite/pfclose; true when pfopen gave
    // a slot and pfclose returned 0.
    bool put(const std::string &path, const std::string &bytes, const char *mode = "w");

    // The contents pfopen gives for 'path', or nothing.
    std::optional<std::string> get(const std::string &path, const char *mode = "r");

    // Moves the clock on by 'ms' and runs the frame end (delayed write-back,
    // pruning, sync).
    void frame(int64_t ms = 16);

    // Names in 'path' as pdisk_list gives them, joined by ' '.
    std::string listing(const std::string &path);

    std::string root;   // the temporary folder
    std::string drive;  // root + "/drive", mounted at /
    fault_fs fs;
};
