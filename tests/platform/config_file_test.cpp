// quillmar_config.txt: the default content and the mount-line grammar.
#include <string>
#include <utility>
#include <vector>

#include "config_file.h"
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

}  // namespace
