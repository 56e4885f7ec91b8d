// Deleting, copying and making folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

#include "test_codec.h"
#include "vfs_fixture.h"

using FsOpsTest = VfsTest;

TEST_F(FsOpsTest, MakingAFolderTwiceInRamReportsItAndOnTheHostGivesTheHostResult) {
    EXPECT_EQ(pmkdir("/ram/d"), 0);
    EXPECT_EQ(pmkdir("/ram/d"), 1);
    EXPECT_EQ(pmkdir("/hd"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(host("hd")));
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(std::filesystem::status(host("hd")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0755 & ~mask));
    EXPECT_EQ(pmkdir("/hd"), -1);
    EXPECT_EQ(pmkdir("/a b"), 1);
}

TEST_F(FsOpsTest, DeletingAFileInsideACartridgeFreesItAndMarksTheCartridgeDirty) {
    put_host("c.kiv", test_codec::encode({{"a", "1", false}, {"b", "2", false}}));
    ASSERT_EQ(get("/c.kiv/a"), "1");
    const int slots = pdisk_count_slots_by_kind(2);
    delete_path("/c.kiv/a");
    EXPECT_EQ(pdisk_count_slots_by_kind(2), slots - 1);
    EXPECT_EQ(get("/c.kiv/a"), std::nullopt);
    EXPECT_EQ(pmount[3].dirty, 1u);
    frame(300);
    const auto bytes = get_host("c.kiv");
    EXPECT_EQ(bytes, test_codec::encode({{"b", "2", false}}));
}

TEST_F(FsOpsTest, DeletingAMountedCartridgeWritesItBackUnmountsItAndRemovesTheFile) {
    put_host("c.kiv", test_codec::encode({{"a", "1", false}}));
    ASSERT_TRUE(put("/c.kiv/a", "edited"));
    const int slots = pdisk_count_slots_by_kind(2);
    delete_path("/c.kiv");
    EXPECT_EQ(fs.replaced.size(), 1u) << "written back first";
    EXPECT_EQ(pmounts, 3);
    EXPECT_EQ(pdisk_count_slots_by_kind(2), slots - 2) << "its folder and its file";
    EXPECT_FALSE(host_exists("c.kiv"));
}

TEST_F(FsOpsTest, CopyingFromAMissingSourceLeavesTheDestination) {
    put_host("dst.txt", "keep");
    EXPECT_EQ(fcopy("/missing", "/dst.txt"), 0);
    EXPECT_EQ(get_host("dst.txt"), "keep");
    EXPECT_EQ(fcopy("/a b", "/dst.txt"), 0);
}

TEST_F(FsOpsTest, CopyingBetweenHostAndRamCopiesTheBytes) {
    put_host("src.bin", std::string("\0\1\2", 3));
    EXPECT_EQ(fcopy("/src.bin", "/ram/copy"), 3);
    EXPECT_EQ(get("/ram/copy"), std::string("\0\1\2", 3));
    EXPECT_EQ(fcopy("/ram/copy", "/back.bin"), 3);
    EXPECT_EQ(get_host("back.bin"), std::string("\0\1\2", 3));
    fs.fail_all[static_cast<int>(host_op::replace)] = true;
    EXPECT_EQ(fcopy("/ram/copy", "/fails.bin"), 0) << "a failed host write copies nothing";
}

TEST_F(FsOpsTest, DeletingAHostFolderNeedsItEmpty) {
    put_host("full/f", "x");
    std::filesystem::create_directories(host("empty"));
    delete_path("/full");
    delete_path("/empty");
    EXPECT_TRUE(host_exists("full/f"));
    EXPECT_FALSE(host_exists("empty"));
    delete_path("/full/f");
    EXPECT_FALSE(host_exists("full/f"));
}

TEST_F(FsOpsTest, DeletingThroughAnAliasDeletesTheFileItStandsFor) {
    ASSERT_TRUE(put("/ram/data/f", "x"));
    ASSERT_NE(mount_p_path("/al", "/ram/data"), nullptr);
    delete_path("/al/f");
    EXPECT_EQ(get("/ram/data/f"), std::nullopt);
}

TEST_F(FsOpsTest, DeletingAnAliasRemovesOnlyTheAlias) {
    ASSERT_TRUE(put("/ram/data/f", "x"));
    ASSERT_NE(mount_p_path("/al", "/ram/data"), nullptr);
    delete_path("/al");
    EXPECT_EQ(pmounts, 3);
    EXPECT_EQ(get("/ram/data/f"), "x");
}

TEST_F(FsOpsTest, DeletingARamFolderTakesEverythingUnderIt) {
    ASSERT_EQ(pmkdir("/ram/t"), 0);
    ASSERT_TRUE(put("/ram/t/a", "1"));
    ASSERT_TRUE(put("/ram/t/b/c", "2"));
    ASSERT_TRUE(put("/ram/tx", "keep"));
    delete_path("/ram/t");
    EXPECT_EQ(get("/ram/t/a"), std::nullopt);
    EXPECT_EQ(get("/ram/t/b/c"), std::nullopt);
    EXPECT_EQ(get("/ram/tx"), "keep");
}

TEST_F(FsOpsTest, MakingACartridgeMountsItAndWritesItSoon) {
    EXPECT_EQ(pmkdir("/n.kiv.rom"), 0);
    EXPECT_EQ(pmounts, 4);
    EXPECT_EQ(pmount[3].flush_t, 1000 + FLUSH_DELAY_MS);
    frame(300);
    EXPECT_EQ(get_host("n.kiv.rom"), test_codec::encode({}));
    EXPECT_EQ(pmkdir("/n.kiv.rom"), 0) << "an existing mount is found again";
    EXPECT_EQ(pmounts, 4);
}

TEST_F(FsOpsTest, ACartridgeBufferFillsARamFolderWithoutMarkingAnythingDirty) {
    const std::string bytes = test_codec::encode({{"sub", "", true}, {"sub/f", "1", false}, {"../up", "x", false}});
    buffer_rec *b = create_buffer_2(static_cast<int32_t>(bytes.size()), 'b');
    bwrite(bytes.data(), 1, static_cast<int64_t>(bytes.size()), b);
    b->cursor = 0;
    ASSERT_EQ(mount_ram_folder("/ram/expcart"), 0);
    EXPECT_EQ(populate_ram_folder_from_kiv_rom_buffer("/ram/expcart", b), 0) << "the .. entry is skipped";
    EXPECT_EQ(b->cursor, b->length);
    EXPECT_EQ(get("/ram/expcart/sub/f"), "1");
    EXPECT_EQ(pdisk_directory_exists("/ram/expcart/sub", 0), 1);
    EXPECT_EQ(get("/ram/up"), std::nullopt);
    for (int i = 0; i < pmounts; i++) EXPECT_EQ(pmount[i].dirty, 0u) << i;
    EXPECT_EQ(populate_ram_folder_from_kiv_rom_buffer("/ram/expcart", nullptr), 0);
    destroy_buffer(b);
}
