// Cartridge mounts over the real text and ROM codecs: trees survive a mount
// and a write-back, unreadable cartridges are never written over, and the
// system ROM lands in /system only.
#include <gtest/gtest.h>

#include <string>

#include "cart_rom.h"
#include "cart_text.h"
#include "cart_trees.h"
#include "fake_host.h"
#include "vfs_fixture.h"

namespace {

class CartMountTest : public VfsTest {
protected:
    void SetUp() override {
        VfsTest::SetUp();
        pdisk_reset_cart_codecs();
    }

    // The entries of the cartridge file 'rel' as its own reader sees them.
    cart_read_result read_back(const std::string &rel) {
        const std::string bytes = get_host(rel).value_or("");
        const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
        return pdisk_cart_kind(rel) == 1 ? decode_kiv_text(p, bytes.size(), "") : decode_kiv_rom(p, bytes.size(), "");
    }
};

std::string encoded(int kind, const std::vector<cart_entry> &entries) {
    std::string out;
    const bool ok = kind == 1 ? encode_kiv_text(entries, false, out) : encode_kiv_rom(entries, 0, out);
    EXPECT_TRUE(ok);
    return out;
}

}  // namespace

TEST_F(CartMountTest, TreesMountAndWriteBackUnchangedThroughBothForms) {
    pdisk_check_index_each_op = false;  // large trees: the per-operation scan is too slow
    for (const char *name : {"t.kiv", "t.kiv.rom"}) {
        const int kind = pdisk_cart_kind(name);
        std::vector<std::vector<cart_entry>> trees = {seed_entries()};
        for (const uint32_t seed : kTreeSeeds) trees.push_back(random_tree(seed));
        for (const auto &tree : trees) {
            restart();
            pdisk_check_index_each_op = false;
            put_host(name, encoded(kind, tree));
            const std::string top = std::string("/") + name;
            for (const cart_entry &e : tree) {
                if (e.is_folder)
                    EXPECT_EQ(pdisk_directory_exists((top + "/" + e.name).c_str(), 0), 1) << name << " " << e;
                else
                    EXPECT_EQ(get(top + "/" + e.name), e.data) << name << " " << e;
            }
            ASSERT_EQ(pmkdir(top.c_str()), 0);  // marks it dirty
            frame(FLUSH_DELAY_MS);
            const cart_read_result back = read_back(name);
            EXPECT_TRUE(back.read_whole) << name;
            EXPECT_EQ(back.entries, tree) << name;
        }
    }
    pdisk_check_index_each_op = true;
    pdisk_verify_index();
}

TEST_F(CartMountTest, UnreadableCartridgesAreNeverWrittenOver) {
    const std::string text = encoded(1, {file("a.lua", "print(1)\n")});
    const std::string rom = encoded(2, {file("a.lua", "print(1)\n")});
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"no_end.kiv", text.substr(0, text.find(":: [eoc]"))},
        {"version9.kiv", "quillmar cartridge\nversion 9\n\n:: a.lua\nx\n:: [eoc]\n"},
        {"bad_lz4.kiv.rom", rom.substr(0, 8) + std::string(rom.size() - 8, '\xff')},
        {"short.kiv.rom", "kiv"},
    };
    for (const auto &c : cases) {
        put_host(c.name, c.bytes);
        const std::string top = std::string("/") + c.name;
        ASSERT_TRUE(put(top + "/b.lua", "new")) << c.name;
        frame(FLUSH_DELAY_MS);
        flush_dirty_mounts_immediately();
        EXPECT_EQ(get_host(c.name), c.bytes) << c.name;
        EXPECT_EQ(get(top + "/b.lua"), "new") << c.name;
        EXPECT_NE(fake_host::log_text().find("** not writing back " + top + ": it was not read whole"),
                  std::string::npos)
            << c.name;
    }
}

TEST_F(CartMountTest, AnEmptyRomCartridgeIsReadWholeAndStaysWritable) {
    ASSERT_EQ(pmkdir("/e.kiv.rom"), 0);
    frame(FLUSH_DELAY_MS);
    ASSERT_TRUE(host_exists("e.kiv.rom"));
    restart();
    ASSERT_TRUE(put("/e.kiv.rom/a", "1"));
    frame(FLUSH_DELAY_MS);
    const cart_read_result back = read_back("e.kiv.rom");
    EXPECT_TRUE(back.read_whole);
    EXPECT_EQ(back.entries, std::vector<cart_entry>{file("a", "1")});
}

TEST_F(CartMountTest, TheSystemRomFillsSystemAndNothingElse) {
    const std::string rom =
        encoded(2, {folder("system"), file("system/boot.lua", "print"), file("stray.lua", "x"), folder("etc")});
    buffer_rec *b = create_buffer_2(static_cast<int32_t>(rom.size()), 'b');
    bwrite(rom.data(), 1, static_cast<int64_t>(rom.size()), b);
    b->cursor = 0;
    EXPECT_EQ(populate_system_rom(b), 0) << "the stray entries were skipped";
    EXPECT_EQ(b->cursor, b->length);
    destroy_buffer(b);
    EXPECT_EQ(get("/system/boot.lua"), "print");
    EXPECT_FALSE(host_exists("stray.lua"));
    EXPECT_FALSE(host_exists("etc"));
    EXPECT_EQ(get("/stray.lua"), std::nullopt);
}

TEST_F(CartMountTest, ACartridgeInsideACartridgeWritesBackThroughItsOuterOne) {
    const std::string inner = encoded(2, {file("f", "old")});
    put_host("outer.kiv", encoded(1, {file("inner.kiv.rom", inner)}));
    ASSERT_EQ(get("/outer.kiv/inner.kiv.rom/f"), "old");
    ASSERT_TRUE(put("/outer.kiv/inner.kiv.rom/f", "new"));
    frame(FLUSH_DELAY_MS);
    frame(FLUSH_DELAY_MS);
    restart();
    EXPECT_EQ(get("/outer.kiv/inner.kiv.rom/f"), "new");
}
