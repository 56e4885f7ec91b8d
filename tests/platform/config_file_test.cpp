// quillmar_config.txt: the default content and the mount-line grammar.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app_state.h"
#include "config_file.h"
#include "pfile.h"
#include "sysrom_blocks.h"
#include "platform_fixture.h"

namespace {

using namespace platform_test;

using Mount = std::pair<std::string, std::string>;
std::vector<Mount> mounts;

int record_mount(const char *mount_point, const char *host_folder) {
    mounts.emplace_back(mount_point, host_folder);
    return 0;
}

std::vector<Mount> apply(const std::string &text) {
    mounts.clear();
    const int n = config_apply_mount_lines(text.data(), text.size(), record_mount);
    EXPECT_EQ(n, int(mounts.size()));
    return mounts;
}

class ConfigFile : public TempHome {};

TEST_F(ConfigFile, MountLinesFollowTheGrammar) {
    struct Case {
        const char *what;
        std::string text;
        std::vector<Mount> expected;
    };
    const std::vector<Case> cases = {
        {"a plain mount line", "mount /a /host/a\n", {{"/a", "/host/a"}}},
        {"lines apply in file order", "mount /a x\nmount /b y\n", {{"/a", "x"}, {"/b", "y"}}},
        {"a last line without a line feed", "mount /a x", {{"/a", "x"}}},
        {"CRLF ends a line and is not kept", "mount /a /h a\r\nmount /b y\r\n", {{"/a", "/h a"}, {"/b", "y"}}},
        {"a host path keeps inner and trailing spaces", "mount /a   /my host /\n", {{"/a", "/my host /"}}},
        {"two spaces after the word give an empty virtual path", "mount  /host dir\n", {{"", "/host dir"}}},
        {"a tab ends the virtual path and starts the host path", "mount /a\t/h\n", {{"/a", "\t/h"}}},
        {"a byte of 0x80 ends the virtual path", "mount /a\xC3\xA9 /h\n", {{"/a", "\xC3\xA9 /h"}}},
        {"a lone CR ends the host path", "mount /a /h\rjunk\n", {{"/a", "/h"}}},
        {"a NUL ends the line", std::string("mount /a /h\0junk\nmount /b y\n", 27), {{"/a", "/h"}, {"/b", "y"}}},
        {"a line without a host path mounts an empty one", "mount /a\n", {{"/a", ""}}},
        {"comments and other lines are ignored",
         "# quillmar config\n#mount /x y\n\n Mount /x y\nmount\nmounty /x y\nMOUNT /x y\n  mount /x y\n", {}},
        {"empty lines do not end the file", "\n\n\nmount /a x\n", {{"/a", "x"}}},
        {"an empty file", "", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(apply(c.text), c.expected);
    }
}

TEST_F(ConfigFile, AVirtualPathOf255CharactersMountsAnd256IsSkippedWithALogLine) {
    const std::string v255 = "/" + std::string(254, 'v');
    const std::string v256 = "/" + std::string(255, 'v');
    EXPECT_EQ(apply("mount " + v255 + " /h\nmount " + v256 + " /other\nmount /b y\n"),
              (std::vector<Mount>{{v255, "/h"}, {"/b", "y"}}));
    const std::string log = log_text();
    EXPECT_NE(log.find(CONFIG_MOUNT_TOO_LONG_MESSAGE), std::string::npos) << log;
    EXPECT_NE(log.find("mount: [" + v255 + "] [/h]\n"), std::string::npos);
}

TEST_F(ConfigFile, EachMountIsLoggedWithBothPaths) {
    apply("mount /a /host a \n");
    EXPECT_NE(log_text().find("] mount: [/a] [/host a ]\n"), std::string::npos) << log_text();
}

TEST_F(ConfigFile, DefaultContentMountsTheDriveFolderAtTheRoot) {
    char out[1100];
    const int n = config_default_text("/data/quillmar/exp/shared/", out, sizeof out);
    EXPECT_EQ(std::string(out), "# quillmar config\n\nmount / /data/quillmar/exp/shared/drive\n");
    EXPECT_EQ(n, int(std::string(out).size()));
    EXPECT_EQ(apply(out), (std::vector<Mount>{{"/", "/data/quillmar/exp/shared/drive"}}));
    char small[8];
    EXPECT_EQ(config_default_text("/data/", small, sizeof small), -1);
    EXPECT_STREQ(small, "");
}

class ProcessConfig : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        memset(&config, 0, sizeof config);
        free_dat_files();
        mounts.clear();
    }
    void TearDown() override {
        free_dat_files();
        memset(&config, 0, sizeof config);
        TempHome::TearDown();
    }
    std::string appdata() const { return home + "/.local/share/quillmar/exp/shared/"; }
};

TEST_F(ProcessConfig, AMissingFileIsWrittenWithTheDefaultBytesAndItsRootMountAppliesAtOnce) {
    EXPECT_EQ(process_config_with(record_mount), 1);
    const std::string path = appdata() + CONFIG_FILE_NAME;
    EXPECT_EQ(read_file(path), "# quillmar config\n\nmount / " + appdata() + "drive\n");
    EXPECT_TRUE(is_dir(appdata() + "drive"));
    EXPECT_EQ(mounts, (std::vector<Mount>{{"/", appdata() + "drive"}}));
    EXPECT_NE(log_text().find("writing default config to " + path + "\n"), std::string::npos);
}

TEST_F(ProcessConfig, TheDefaultRootMountServesFilesOnTheSameBoot) {
    pfile_init();
    pfile_reset();
    process_config();
    pfile_rec *f = pfopen("/hello.txt", "w");
    ASSERT_NE(f, nullptr);
    pfwrite("hi", 1, 2, f);
    EXPECT_EQ(pfclose(f), 0);
    EXPECT_EQ(read_file(appdata() + "drive/hello.txt"), "hi");
    pfile_reset();
}

TEST_F(ProcessConfig, AnExistingFileIsReadAsItIs) {
    fs::create_directories(appdata());
    const std::string text = "mount /a /x\nmount /b /y \n";
    write_file(appdata() + CONFIG_FILE_NAME, text);
    EXPECT_EQ(process_config_with(record_mount), 2);
    EXPECT_EQ(mounts, (std::vector<Mount>{{"/a", "/x"}, {"/b", "/y "}}));
    EXPECT_EQ(read_file(appdata() + CONFIG_FILE_NAME), text);
    EXPECT_TRUE(is_dir(appdata() + "drive")) << "the drive folder is made every time";
    EXPECT_EQ(log_text().find("writing default config"), std::string::npos);
}

TEST_F(ProcessConfig, AFileOfManyKilobytesIsReadWhole) {
    fs::create_directories(appdata());
    std::string text;
    for (int i = 0; i < 500; i++) text += "mount /m" + std::to_string(i) + " /host/" + std::to_string(i) + "\n";
    write_file(appdata() + CONFIG_FILE_NAME, text);
    EXPECT_EQ(process_config_with(record_mount), 500);
    EXPECT_EQ(mounts.back(), (Mount{"/m499", "/host/499"}));
}

TEST_F(ProcessConfig, TheFileFollowsTheHomeOptionAndTheExportName) {
    const std::string folder = root + "/opt";
    fs::create_directories(folder);
    strcpy(config.home_path, folder.c_str());
    process_config_with(record_mount);
    EXPECT_EQ(mounts, (std::vector<Mount>{{"/", folder + "/drive"}}));
    EXPECT_TRUE(fs::exists(folder + "/" CONFIG_FILE_NAME));

    memset(&config, 0, sizeof config);
    const std::string dat = root + "/sysrom.dat";
    write_file(dat, std::string("\0\0\0\3abc\0\0\0\0", 11));
    ASSERT_EQ(load_dat_files(dat.c_str()), 2);
    mounts.clear();
    process_config_with(record_mount);
    const std::string abc = home + "/.local/share/quillmar/exp/abc/";
    EXPECT_EQ(mounts, (std::vector<Mount>{{"/", abc + "drive"}}));
    EXPECT_TRUE(fs::exists(abc + CONFIG_FILE_NAME));
}

TEST_F(ProcessConfig, AFileThatCannotBeWrittenEndsTheProgramWithStatusOne) {
    write_file(root + "/plain", "x");
    strcpy(config.home_path, (root + "/plain/sub").c_str());
    const std::string expected = "ERROR: could not write to " + root + "/plain/sub/" CONFIG_FILE_NAME;
    EXPECT_EXIT(
        {
            dup2(2, 1);  // standard output, where the message goes, into the checked stream
            process_config_with(record_mount);
        },
        ::testing::ExitedWithCode(1), expected);
}

}  // namespace
