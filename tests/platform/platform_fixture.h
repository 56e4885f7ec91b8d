// Shared helpers of the platform tests: a temporary folder standing in for
// HOME and the XDG folders, with the environment restored afterwards, and
// small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "log_file.h"

namespace platform_test {

namespace fs = std::filesystem;

// The variables the platform reads; each test starts with them unset except
// HOME, which points into the temporary folder.
inline const char *const kEnvNames[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                                        "XDG_DESKTOP_DIR", "PATH"};

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// How long a test waits for something that comes by itself (a datagram over
// loopback, a callback of the audio device, a worker's end, an X event)
// before it calls it a stall: far beyond what a slow machine under load and
// the sanitizers needs, and spent only when the thing never comes.
inline constexpr int kStallMs = 10000;

// Asks 'done' every millisecond until it answers true or 'ms' have passed;
// its last answer.
template <class F>
bool eventually(F done, int ms = kStallMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return done();
        usleep(1000);
    }
    return true;
}

inline bool is_dir(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A fresh temporary folder as HOME (and working folder), the log closed so
// that the next line opens it there; everything restored on tear-down.
class TempHome : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillmar_platform_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        home = root + "/home";
        fs::create_directories(home);
        for (const char *name : kEnvNames) {
            const char *v = getenv(name);
            saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DESKTOP_DIR");
        setenv("HOME", home.c_str(), 1);
        old_cwd = fs::current_path();
        fs::current_path(root);
        codo_debug_close();
        codo_debug_set_clock(nullptr);
        codo_debug_set_pid_source(nullptr);
    }

    void TearDown() override {
        codo_debug_close();
        codo_debug_set_clock(nullptr);
        codo_debug_set_pid_source(nullptr);
        for (auto &[name, value] : saved) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        fs::current_path(old_cwd);
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Where the log lies with HOME as set up.
    std::string log_path() const { return home + "/.local/share/quillmar/exp/shared/log.txt"; }

    std::string log_text() const {
        codo_debug_flush();
        return read_file(log_path());
    }

    std::string root;  // the temporary folder, removed afterwards
    std::string home;  // root + "/home", the HOME of the test
    fs::path old_cwd;
    std::map<std::string, std::optional<std::string>> saved;
};

}  // namespace platform_test
