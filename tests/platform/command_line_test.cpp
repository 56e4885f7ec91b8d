// The command line: options, the pending state and the -home folder.
#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "command_line.h"
#include "platform_fixture.h"

namespace {

using namespace platform_test;

class CommandLine : public TempHome {
protected:
    // Runs process_arguments over a fresh config; "@" in an argument stands
    // for the temporary folder.
    void run(std::vector<std::string> args) {
        memset(&config, 0, sizeof config);
        for (auto &a : args)
            if (size_t at = a.find('@'); at != std::string::npos) a.replace(at, 1, root);
        std::vector<char *> argv = {const_cast<char *>("quillmar")};
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        process_arguments(int(argv.size() - 1), argv.data());
    }
};

TEST_F(CommandLine, OptionsAndPlainArgumentsSetTheSettings) {
    struct Case {
        const char *what;
        std::vector<std::string> args;
        std::string home_path, launch_arg;
        uint32_t headless, use_system_rom;
    };
    const std::vector<Case> cases = {
        {"-home names the folder, the next plain argument is launched",
         {"-home", "@/a/b", "extra"}, "@/a/b", "extra", 0, 0},
        {"an unknown option skips the next argument", {"-foo", "extra"}, "", "", 0, 0},
        {"-x keeps the next argument as the launch argument", {"-x", "extra"}, "", "extra", 1, 0},
        {"'>' ends the parsing", {"a", ">", "log"}, "", "a", 0, 0},
        {"'|' ends the parsing", {"a", "|tee", "b"}, "", "a", 0, 0},
        {"'&' ends the parsing", {"a", "&", "b", "-x"}, "", "a", 0, 0},
        {"an option after -home replaces it", {"-home", "-x", "foo"}, "", "foo", 1, 0},
        {"-home is matched on its first five characters", {"-homeX", "@/h"}, "@/h", "", 0, 0},
        {"the last -home wins", {"-home", "@/one", "-home", "@/two"}, "@/two", "", 0, 0},
        {"-home twice in a row", {"-home", "-home", "@/h"}, "@/h", "", 0, 0},
        {"-use_system_rom", {"-use_system_rom", "z"}, "", "z", 0, 1},
        {"a later plain argument replaces an earlier one", {"a", "b"}, "", "b", 0, 0},
        {"-x is matched on its first two characters", {"-xyz", "q"}, "", "q", 1, 0},
        {"an option after a skipping option replaces it", {"-foo", "-x", "bar"}, "", "bar", 1, 0},
        {"a skipping option after -x skips", {"-x", "-foo", "bar"}, "", "", 1, 0},
        {"a plain '-' skips the next argument", {"-", "bar"}, "", "", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        run(c.args);
        std::string home_path = c.home_path;
        if (size_t at = home_path.find('@'); at != std::string::npos) home_path.replace(at, 1, root);
        EXPECT_EQ(std::string(config.home_path), home_path);
        EXPECT_EQ(std::string(config.launch_arg), c.launch_arg);
        EXPECT_EQ(config.headless, c.headless);
        EXPECT_EQ(config.use_system_rom, c.use_system_rom);
    }
}

TEST_F(CommandLine, EveryHomeFolderIsCreatedWithItsParents) {
    run({"-home", "@/one/deep/er", "-home", "@/two"});
    EXPECT_TRUE(is_dir(root + "/one/deep/er"));
    EXPECT_TRUE(is_dir(root + "/two"));
    EXPECT_EQ(std::string(config.home_path), root + "/two");
}

TEST_F(CommandLine, LongArgumentsAreCutTo1023Characters) {
    run({std::string(3000, 'a')});
    EXPECT_EQ(strlen(config.launch_arg), 1023u);
    run({"-home", "@/" + std::string(3000, 'h')});
    EXPECT_EQ(strlen(config.home_path), 1023u);
}

TEST_F(CommandLine, NoArgumentsChangeNothing) {
    run({});
    EXPECT_STREQ(config.launch_arg, "");
    EXPECT_STREQ(config.home_path, "");
    EXPECT_EQ(config.headless, 0u);
}

}  // namespace
