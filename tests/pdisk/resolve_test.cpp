// Resolution through mounts, automounting of cartridges and the mount table.
#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"
#include "test_codec.h"
#include "vfs_fixture.h"

namespace {

struct origin_of {
    std::string origin;
    int kind;
};

origin_of resolve(const std::string &path, int skip_exact = 0) {
    int kind = 0;
    buffer_rec *b = resolve_to_origin(path.c_str(), &kind, skip_exact);
    origin_of r{to_cstr(b), kind};
    destroy_buffer(b);
    return r;
}

std::string cart(const std::string &name, const std::string &data) {
    return test_codec::encode({cart_entry{name, data, false}});
}

}  // namespace

using ResolveTest = VfsTest;

TEST_F(ResolveTest, TheDeepestMountWinsAndTheFirstOfEquallyDeepOnes) {
    ASSERT_EQ(mount_ram_folder("/ram/mount/abcdefgh"), 0);
    ASSERT_NE(mount_p_path("/q", "/ram/first"), nullptr);
    ASSERT_NE(mount_p_path("/q", "/ram/second"), nullptr);

    const struct {
        const char *path;
        std::string origin;
        int kind;
    } cases[] = {
        {"/ram/mount/abcdefgh/x", "/ram/mount/abcdefgh/x", 2},
        {"/ram/x", "/ram/x", 2},
        {"/ramx", drive + "/ramx", 1},
        {"/", drive, 1},
        {"/q/z", "/ram/first/z", 2},
        {"/q", "/ram/first", 2},
    };
    for (const auto &c : cases) {
        const origin_of r = resolve(c.path);
        EXPECT_EQ(r.origin, c.origin) << c.path;
        EXPECT_EQ(r.kind, c.kind) << c.path;
    }
}

TEST_F(ResolveTest, SkipExactPassesOverAMountAtThePathItself) {
    ASSERT_NE(mount_p_path("/q", "/ram/inside"), nullptr);
    EXPECT_EQ(resolve("/q", 1).origin, drive + "/q");
    EXPECT_EQ(resolve("/q", 1).kind, 1);
    EXPECT_EQ(resolve("/q/a", 1).origin, "/ram/inside/a");
}

TEST_F(ResolveTest, AnIllegalOrUncoveredPathGivesAnEmptyOriginAndLeavesTheKind) {
    int kind = 7;
    buffer_rec *b = resolve_to_origin("/a b", &kind, 0);
    EXPECT_EQ(b->length, 0);
    EXPECT_EQ(kind, 7);
    destroy_buffer(b);

    pfile_reset();  // no mounts at all now
    ASSERT_EQ(mount_ram_folder("/ram"), 0);
    EXPECT_EQ(resolve("/elsewhere").origin, "");
    EXPECT_EQ(resolve("/elsewhere/2").origin, "");
    EXPECT_EQ(pfopen("/elsewhere", "w"), nullptr);
    const std::string log = fake_host::log_text();
    const std::string message = "** fatal: could not resolve file to origin: /elsewhere (no matching mount found";
    ASSERT_NE(log.find(message), std::string::npos);
    EXPECT_EQ(log.find(message, log.find(message) + 1), std::string::npos) << "logged once per run";
}

TEST_F(ResolveTest, ACartridgeOnThePathMountsOnceAndItsFileStaysReachable) {
    const std::string bytes = cart("main.lua", "print(1)");
    put_host("desktop/game.kiv", bytes);
    const int before = pmounts;

    EXPECT_EQ(get("/desktop/game.kiv/main.lua"), "print(1)");
    EXPECT_EQ(pmounts, before + 1);
    EXPECT_EQ(get("/desktop/game.kiv/main.lua"), "print(1)");
    EXPECT_EQ(pmounts, before + 1);

    EXPECT_EQ(get("/desktop/game.kiv", "rf"), bytes);
    EXPECT_EQ(get("/desktop/game.kiv"), std::nullopt) << "a mounted cartridge is a folder";
    const origin_of folder = resolve("/desktop/game.kiv");
    EXPECT_EQ(folder.kind, 2);
    EXPECT_EQ(folder.origin.rfind("/ram/mount/", 0), 0u);
    EXPECT_EQ(resolve("/desktop/game.kiv", 1).origin, host("desktop/game.kiv"));
    EXPECT_STREQ(get_mount_description("/desktop/game.kiv"), folder.origin.c_str());
    EXPECT_EQ(pmount[before].made_by, MOUNT_BY_CART);
    EXPECT_EQ(pmount[before].load_ok, 1u);
}

TEST_F(ResolveTest, CartridgeEndingsAreMatchedCaseSensitivelyButMkdirFoldsCase) {
    put_host("x.KIV", cart("a", "1"));
    const int before = pmounts;
    EXPECT_EQ(get("/x.KIV/a"), std::nullopt);
    EXPECT_EQ(pmounts, before) << "x.KIV/a never automounts";

    EXPECT_EQ(pmkdir("/y.KIV"), 0);
    EXPECT_EQ(pmounts, before + 1) << "pmkdir of x.KIV mounts a cartridge";
}

TEST_F(ResolveTest, AutomountingStopsAtTheMountLimitWithinOneFrame) {
    pdisk_check_index_each_op = false;  // 2100 mounts: the per-operation scan is too slow here
    const std::string bytes = cart("a", "x");
    for (int i = 0; i < 2100; i++) put_host("c/" + std::to_string(i) + ".kiv", bytes);

    int reached = 0;
    for (int i = 0; i < 2100; i++)
        if (get("/c/" + std::to_string(i) + ".kiv/a") == "x") reached++;
    EXPECT_EQ(pmounts, PMOUNT_APPEND_LIMIT);
    EXPECT_EQ(reached, PMOUNT_APPEND_LIMIT - 3);
    EXPECT_EQ(pending_prune, 1);
    EXPECT_NE(fake_host::log_text().find("** too many mounts (2041)"), std::string::npos);
    EXPECT_EQ(mount_ram_folder("/full"), 1);
    EXPECT_EQ(mount_host_path("/h", "/tmp"), 1);
    EXPECT_EQ(mount_p_path("/al", "/ram"), nullptr);

    frame();
    EXPECT_EQ(pmounts, 3) << "every clean cartridge pruned";
    EXPECT_EQ(pdisk_count_slots_by_kind(2), 1) << "their RAM files went; /ram/mount stays";
    pdisk_check_index_each_op = true;
    pdisk_verify_index();
}

TEST_F(ResolveTest, HostMountsCutOneTrailingSlashAndDescribeThemselves) {
    ASSERT_EQ(mount_host_path("/desktop/host/", "/tmp/somewhere/"), 0);
    EXPECT_STREQ(get_mount_description("/desktop/host"), "host:/tmp/somewhere");
    EXPECT_STREQ(get_mount_description("/"), ("host:" + drive).c_str());
    EXPECT_STREQ(get_mount_description("/ram"), "/ram");
    EXPECT_EQ(get_mount_description("/ram/x"), nullptr);
    EXPECT_EQ(resolve("/desktop/host/f").origin, "/tmp/somewhere/f");
}

TEST_F(ResolveTest, AnAliasNeedsAResolvableTarget) {
    // An unresolvable target used to leave an empty host origin: the alias
    // then reached the host's own root folder.
    EXPECT_EQ(mount_p_path("/al", "bad path"), nullptr);
    EXPECT_EQ(mount_p_path("bad path", "/ram"), nullptr);
    pmount_rec *m = mount_p_path("/al", "/ram/data");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->made_by, MOUNT_BY_ALIAS);
    EXPECT_EQ(m->kind, 2u);
    EXPECT_EQ(delete_mount_point("/al"), 1);
    EXPECT_EQ(delete_mount_point("/al"), 0);
    EXPECT_EQ(resolve("/al/x").kind, 1);
}
