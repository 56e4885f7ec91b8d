// Folder listing and the order of names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "test_codec.h"
#include "vfs_fixture.h"

extern "C" {
#include "lauxlib.h"
#include "lua.h"
}

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

using ListingTest = VfsTest;

TEST(NameOrder, PairsCompareAsInANaturalListing) {
    const std::string run30a = "a" + std::string(30, '9'), run30b = "a1" + std::string(30, '0');
    const struct {
        std::string a, b;
        int expect;
    } cases[] = {
        {"dir/", "file2", -1},
        {"file2", "File10", -1},
        {"File10", "file2", 1},
        {"a2", "a02", 1},  // equal values: ordered by their bytes
        {"a02", "a2", -1},
        {"a2", "a2", 0},
        {"abc", "ABC", 1},
        {"ABC", "abc", -1},
        {run30a, run30b, -1},  // digit runs longer than any integer
        {"x" + std::string(40, '1'), "x" + std::string(39, '1') + "2", -1},
        {"a", "a1", -1},
        {"", "a", -1},
        {"", "", 0},
        {"9", "a", -1},
        {"dir/", "dir2/", -1},
        {"b/", "a", -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(sign(pdisk_compare_names(c.a, c.b)), c.expect) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(pdisk_compare_names(c.b, c.a)), -c.expect) << c.b << " vs " << c.a;
    }
}

TEST(NameOrder, IsATotalOrderOverAMixedSet) {
    std::vector<std::string> names = {"a",   "A",    "a1",  "a01",  "a001", "a10",  "a9",  "b",  "B2",
                                      "b02", "dir/", "Dir/", "x.lua", "x.LUA", "10",  "010", "9",  "",
                                      "_",   "-",    "a-b", "a_b",  "file2", "File10", "z/", "00"};
    std::mt19937 rng(7);
    for (int round = 0; round < 20; round++) {
        std::shuffle(names.begin(), names.end(), rng);
        for (const auto &a : names)
            for (const auto &b : names) {
                EXPECT_EQ(pdisk_compare_names(a, b) == 0, a == b) << a << " " << b;
                for (const auto &c : names) {
                    if (pdisk_compare_names(a, b) < 0 && pdisk_compare_names(b, c) < 0) {
                        ASSERT_LT(pdisk_compare_names(a, c), 0) << a << " " << b << " " << c;
                    }
                }
            }
    }
}

TEST_F(ListingTest, AHostFolderListsFoldersFirstInNaturalOrder) {
    std::filesystem::create_directories(host("d/dir"));
    put_host("d/file2", "");
    put_host("d/File10", "");
    put_host("d/.hidden", "");
    std::filesystem::create_directories(host("d/looks.kiv"));
    EXPECT_EQ(listing("/d"), "dir/ file2 File10 looks.kiv");
}

TEST_F(ListingTest, AHostFolderTooLargeToListIsTestedOnlyForTheNamesTaken) {
    put_host("h/real", "");
    for (size_t i = 0; i < LIST_NAMES_MAX + 1000; i++) fs.listed_too.push_back("n" + std::to_string(i));
    const int stats = fs.calls_of(host_op::stat);
    std::vector<std::string> names;
    int folders = 0;
    ASSERT_TRUE(pdisk_list("/h", &names, &folders));
    fs.listed_too.clear();
    EXPECT_EQ(names.size(), LIST_NAMES_MAX);
    EXPECT_LE(fs.calls_of(host_op::stat) - stats, int(LIST_NAMES_MAX) + 8);
}

TEST_F(ListingTest, AMountedCartridgeIsListedOnceAsAFile) {
    put_host("g/game.kiv", test_codec::encode({{"main.lua", "x", false}}));
    ASSERT_EQ(get("/g/game.kiv/main.lua"), "x");
    EXPECT_EQ(listing("/g"), "game.kiv");
    EXPECT_EQ(listing("/g/game.kiv"), "main.lua");
}

TEST_F(ListingTest, RamFoldersListTheirDirectChildrenAndHideDotNames) {
    ASSERT_EQ(pmkdir("/ram/f"), 0);
    ASSERT_EQ(pmkdir("/ram/f/sub"), 0);
    put("/ram/f/a2", "");
    put("/ram/f/a10", "");
    put("/ram/f/sub/deep", "");
    put("/ram/f/.dot", "");
    EXPECT_EQ(listing("/ram/f"), "sub/ a2 a10");
}

TEST_F(ListingTest, ARamFolderThatIsAMountPointIsListedOnce) {
    ASSERT_EQ(pmkdir("/ram/expcart"), 0);
    ASSERT_EQ(mount_ram_folder("/ram/expcart"), 0);
    EXPECT_EQ(listing("/ram"), "expcart/");
}

TEST_F(ListingTest, TheRootListsItsMountPointsAsFolders) {
    put_host("top.txt", "");
    EXPECT_EQ(listing("/"), "ram/ system/ top.txt");
}

TEST_F(ListingTest, IllegalPathsAndUnlistableFoldersGiveNothing) {
    EXPECT_EQ(listing("/a b"), "<refused>");
    EXPECT_EQ(listing("/missing"), "<refused>");
}

TEST_F(ListingTest, TheLuaTableHasNoHolesAndCountsEachFolderOnce) {
    std::filesystem::create_directories(host("m/x"));
    std::filesystem::create_directories(host("m/y"));
    put_host("m/z", "");
    ASSERT_NE(mount_p_path("/m/x", "/ram"), nullptr);  // x from the host and from the mounts
    lua_State *L = luaL_newstate();
    ASSERT_EQ(pflist("/m", L), 2);
    EXPECT_EQ(lua_tointeger(L, -1), 2);
    lua_pop(L, 1);
    EXPECT_EQ(luaL_len(L, -1), 3);
    const char *want[] = {"x", "y", "z"};
    for (int i = 0; i < 3; i++) {
        lua_rawgeti(L, -1, i + 1);
        EXPECT_STREQ(lua_tostring(L, -1), want[i]);
        lua_pop(L, 1);
    }
    lua_settop(L, 0);
    EXPECT_EQ(pflist("/a b", L), 0);
    EXPECT_EQ(lua_gettop(L), 0);
    lua_close(L);
}
