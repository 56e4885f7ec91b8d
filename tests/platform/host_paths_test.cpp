// Host paths: the program's folder, the application-data folder, the desktop.
#include <cstring>
#include <string>

#include "app_state.h"
#include "host.h"
#include "host_paths.h"
#include "platform_fixture.h"
#include "sysrom_blocks.h"

namespace {

using namespace platform_test;

class HostPaths : public TempHome {
protected:
    // Sets 'name' to 'value', or unsets it for null.
    static void set_env(const char *name, const char *value) {
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
};

TEST_F(HostPaths, ProgramFolderComesFromArgvZero) {
    struct Case {
        const char *argv0, *expected;
    };
    const Case cases[] = {
        {"/opt/q/quillmar", "/opt/q/sysrom.dat"},
        {"./quillmar", "./sysrom.dat"},
        {"quillmar", "/sysrom.dat"},
        {"", "sysrom.dat"},
        {"a\\b\\q", "a\\b/sysrom.dat"},
        {"/quillmar", "/sysrom.dat"},
        {"/opt/q/", "/opt/q/sysrom.dat"},
    };
    char out[HOST_PATH_SIZE];
    for (const auto &c : cases) {
        codo_set_argv0(c.argv0);
        EXPECT_STREQ(codo_prefix_with_program_path("sysrom.dat", out), c.expected) << c.argv0;
    }
    codo_set_argv0(nullptr);
    EXPECT_STREQ(codo_prefix_with_program_path("data", out), "data");
}

TEST_F(HostPaths, ArgvZeroKeepsAtMost1023Characters) {
    const std::string longest(2000, 'a');
    codo_set_argv0(longest.c_str());
    EXPECT_EQ(strlen(codo_argv0), 1023u);
    codo_set_argv0("");
}

TEST_F(HostPaths, ApplicationDataFolderFollowsTheEnvironmentAndTheExportName) {
    struct Case {
        const char *what;
        const char *xdg_data_home;  // relative to root; null unset
        const char *home;           // relative to root; null unset, "" empty
        const char *export_name;
        std::string expected;       // relative to root unless it starts with "exp/"
    };
    const Case cases[] = {
        {"data home wins over HOME", "/data", "/home", nullptr, "/data/quillmar/exp/shared/n"},
        {"HOME without data home", nullptr, "/home", nullptr, "/home/.local/share/quillmar/exp/shared/n"},
        {"an empty data home counts as unset", "", "/home", nullptr, "/home/.local/share/quillmar/exp/shared/n"},
        {"block 0 names the export folder", nullptr, "/home", "abc", "/home/.local/share/quillmar/exp/abc/n"},
        {"an empty block 0 gives shared", nullptr, "/home", "", "/home/.local/share/quillmar/exp/shared/n"},
        {"neither variable gives a relative folder", nullptr, nullptr, nullptr, "exp/shared/n"},
        {"an empty HOME counts as unset", nullptr, "", nullptr, "exp/shared/n"},
    };
    char out[HOST_PATH_SIZE];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        set_env("XDG_DATA_HOME", c.xdg_data_home ? (c.xdg_data_home[0] ? (root + c.xdg_data_home).c_str() : "") : nullptr);
        set_env("HOME", c.home ? (c.home[0] ? (root + c.home).c_str() : "") : nullptr);
        ASSERT_EQ(codo_build_appdata_path("n", out, "", c.export_name, 1), 0);
        const bool relative = c.expected.rfind("exp/", 0) == 0;
        const std::string want = relative ? c.expected : root + c.expected;
        EXPECT_EQ(std::string(out), want);
        const std::string folder = want.substr(0, want.size() - 1);
        EXPECT_TRUE(is_dir(relative ? root + "/" + folder : folder)) << "every level is created";
        std::error_code ec;
        fs::remove_all(root + "/exp", ec);
    }
}

TEST_F(HostPaths, HomeOptionIsUsedAsGivenWithForwardSlashesAndNothingCreated) {
    struct Case {
        const char *home_path, *expected;
    };
    const Case cases[] = {
        {"C:\\quill\\data", "C:/quill/data/n"},
        {"/srv/q/", "/srv/q/n"},
        {"rel", "rel/n"},
    };
    char out[HOST_PATH_SIZE];
    for (const auto &c : cases) {
        ASSERT_EQ(codo_build_appdata_path("n", out, c.home_path, "abc", 1), 0);
        EXPECT_STREQ(out, c.expected) << "no exp/ folder after a -home folder";
    }
    EXPECT_FALSE(fs::exists(root + "/rel"));
    EXPECT_FALSE(fs::exists(home + "/.local"));
}

TEST_F(HostPaths, HomeOptionWithALeadingSpaceCountsAsNotSet) {
    char out[HOST_PATH_SIZE];
    ASSERT_EQ(codo_build_appdata_path("n", out, " /srv/q", nullptr, 1), 0);
    EXPECT_EQ(std::string(out), home + "/.local/share/quillmar/exp/shared/n");
}

TEST_F(HostPaths, APathThatDoesNotFitIsEmptyLoggedAndCreatesNothing) {
    codo_debug("start\n");  // the log opens under the normal HOME first
    const std::string deep = root + "/" + std::string(1100, 'd');
    setenv("HOME", deep.c_str(), 1);
    char out[HOST_PATH_SIZE];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(codo_build_appdata_path("n", out, "", nullptr, 1), -1);
    EXPECT_STREQ(out, "");
    const std::string home_option(1020, 'h');
    EXPECT_EQ(codo_build_appdata_path("name", out, home_option.c_str(), nullptr, 1), -1);
    EXPECT_STREQ(out, "");
    codo_set_argv0(("/" + std::string(1000, 'p') + "/q").c_str());
    EXPECT_STREQ(codo_prefix_with_program_path("sysrom.dat.with.a.long.name", out), "");
    codo_set_argv0("");
    setenv("HOME", home.c_str(), 1);
    const std::string log = log_text();
    size_t count = 0;
    for (size_t at = log.find(HOST_PATH_TOO_LONG_MESSAGE); at != std::string::npos;
         at = log.find(HOST_PATH_TOO_LONG_MESSAGE, at + 1))
        count++;
    EXPECT_EQ(count, 3u) << log;
    EXPECT_FALSE(fs::exists(root + "/" + std::string(200, 'd')));
}

TEST_F(HostPaths, APathOfExactly1023CharactersFits) {
    char out[HOST_PATH_SIZE];
    const std::string home_option(1000, 'h');
    const std::string name(1023 - 1001, 'n');
    ASSERT_EQ(codo_build_appdata_path(name.c_str(), out, home_option.c_str(), nullptr, 1), 0);
    EXPECT_EQ(strlen(out), 1023u);
}

TEST_F(HostPaths, DesktopComesFromTheOverrideTheEnvironmentTheUserDirsOrHome) {
    char out[HOST_PATH_SIZE];
    // Plain HOME: $HOME/Desktop, created.
    ASSERT_EQ(codo_build_desktop_path("shot.png", out, ""), 0);
    EXPECT_EQ(std::string(out), home + "/Desktop/shot.png");
    EXPECT_TRUE(is_dir(home + "/Desktop"));

    // user-dirs.dirs with $HOME expanded; the last assignment wins.
    fs::create_directories(home + "/.config");
    write_file(home + "/.config/user-dirs.dirs",
               "# written by xdg-user-dirs-update\n"
               "XDG_DESKTOP_DIR=\"$HOME/Old\"\n"
               "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/deep\"\n");
    ASSERT_EQ(codo_build_desktop_path("a", out, ""), 0);
    EXPECT_EQ(std::string(out), home + "/Schreibtisch/deep/a");
    EXPECT_TRUE(is_dir(home + "/Schreibtisch/deep")) << "created with its parents";

    // XDG_CONFIG_HOME moves the user-dirs file.
    fs::create_directories(root + "/cfg");
    write_file(root + "/cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + root + "/abs\"\n");
    setenv("XDG_CONFIG_HOME", (root + "/cfg").c_str(), 1);
    ASSERT_EQ(codo_build_desktop_path("a", out, ""), 0);
    EXPECT_EQ(std::string(out), root + "/abs/a");

    // The environment variable wins over the file.
    setenv("XDG_DESKTOP_DIR", (root + "/envdesk").c_str(), 1);
    ASSERT_EQ(codo_build_desktop_path("a", out, ""), 0);
    EXPECT_EQ(std::string(out), root + "/envdesk/a");

    // The settings' override wins over everything.
    ASSERT_EQ(codo_build_desktop_path("a", out, (root + "/mine/").c_str()), 0);
    EXPECT_EQ(std::string(out), root + "/mine/a");
    EXPECT_TRUE(is_dir(root + "/mine"));

    // Nothing known: the name alone.
    unsetenv("XDG_DESKTOP_DIR");
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    ASSERT_EQ(codo_build_desktop_path("a", out, " "), 0);
    EXPECT_STREQ(out, "a");
}

TEST_F(HostPaths, MkdirWithParentsMakesEveryLevelAndAcceptsAnExistingFolder) {
    const std::string deep = root + "/a/b/c";
    EXPECT_EQ(codo_mkdir_parents(deep.c_str()), 0);
    EXPECT_TRUE(is_dir(deep));
    EXPECT_EQ(codo_mkdir_parents(deep.c_str()), 0);
    EXPECT_EQ(codo_mkdir(deep.c_str()), -1) << "the one-level call reports an existing folder";
    write_file(root + "/f", "x");
    EXPECT_EQ(codo_mkdir_parents((root + "/f/g").c_str()), -1);
    EXPECT_EQ(codo_mkdir_parents(""), -1);
}

TEST_F(HostPaths, TrimDropsSpacesControlCharactersAndHighBytesAtBothEnds) {
    EXPECT_STREQ(codo_trim(" \t\x01 a b \r\n"), "a b");
    EXPECT_STREQ(codo_trim("\xC3\xA9x\xC3\xA9"), "x");
    EXPECT_STREQ(codo_trim("   "), "");
    EXPECT_STREQ(codo_trim(nullptr), "");
    char text[] = "a\\b\\c";
    codo_fix_backslashes(text);
    EXPECT_STREQ(text, "a/b/c");
}

}  // namespace

namespace {

using namespace platform_test;

class AppdataFromSettings : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        memset(&config, 0, sizeof config);
        free_dat_files();
    }
    void TearDown() override {
        free_dat_files();
        memset(&config, 0, sizeof config);
        TempHome::TearDown();
    }
};

TEST_F(AppdataFromSettings, TheHomeOptionAndBlockZeroChooseTheFolder) {
    char out[HOST_PATH_SIZE];
    EXPECT_EQ(std::string(codo_prefix_with_appdata_path("x", out)), home + "/.local/share/quillmar/exp/shared/x");
    const std::string dat = root + "/sysrom.dat";
    write_file(dat, std::string("\0\0\0\3abc", 7));
    ASSERT_EQ(load_dat_files(dat.c_str()), 1);
    EXPECT_EQ(std::string(codo_prefix_with_appdata_path("x", out)), home + "/.local/share/quillmar/exp/abc/x");
    strcpy(config.home_path, "D:\\q");
    EXPECT_STREQ(codo_prefix_with_appdata_path("x", out), "D:/q/x");
    strcpy(config.desktop_path, (root + "/desk").c_str());
    EXPECT_EQ(std::string(codo_prefix_with_desktop_path("y", out)), root + "/desk/y");
}

TEST_F(AppdataFromSettings, TheLogStaysInTheDefaultFolderWhateverTheHomeOptionSays) {
    strcpy(config.home_path, (root + "/elsewhere").c_str());
    codo_debug("where\n");
    EXPECT_NE(log_text().find("where"), std::string::npos);
    EXPECT_FALSE(fs::exists(root + "/elsewhere/log.txt"));
}

}  // namespace
