// ROM cartridges: the block layout, round trips, legacy payloads, the system
// ROM, and hostile input.
#include <gtest/gtest.h>
#include <lz4.h>

#include <cstring>
#include <string>
#include <vector>

#include "cart_rom.h"
#include "cart_trees.h"
#include "fake_host.h"

namespace {

std::string encode(const std::vector<cart_entry> &entries, int flags = 0) {
    std::string out;
    EXPECT_TRUE(encode_kiv_rom(entries, flags, out));
    return out;
}

cart_read_result decode(const std::string &bytes) {
    return decode_kiv_rom(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), "/ram/mount/testcart");
}

// The decompressed block of a cartridge written by encode_kiv_rom.
std::string block_of(const std::string &rom) {
    uint32_t size;
    memcpy(&size, rom.data() + 4, 4);
    std::string block(1 << 20, '\0');
    const int n = LZ4_decompress_safe(rom.data() + 8, block.data(), static_cast<int>(size), static_cast<int>(block.size()));
    EXPECT_GE(n, 0);
    block.resize(static_cast<size_t>(n));
    return block;
}

// A cartridge around a hand-made block.
std::string rom_of_block(const std::string &block) {
    std::string packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(block.size()))), '\0');
    const int n = LZ4_compress_default(block.data(), packed.data(), static_cast<int>(block.size()),
                                       static_cast<int>(packed.size()));
    packed.resize(static_cast<size_t>(n));
    std::string rom = "kiv\x02";
    for (int i = 0; i < 4; i++) rom.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    return rom + packed;
}

}  // namespace

TEST(CartRom, SeedsAndRandomTreesRoundTripExactly) {
    std::vector<std::vector<cart_entry>> trees = {seed_entries()};
    for (uint32_t seed : kTreeSeeds) trees.push_back(random_tree(seed));
    for (const auto &tree : trees) {
        const std::string rom = encode(tree);
        EXPECT_EQ(rom.compare(0, 4, "kiv\x02"), 0);
        const cart_read_result r = decode(rom);
        EXPECT_TRUE(r.read_whole);
        EXPECT_EQ(r.entries, tree);
    }
}

TEST(CartRom, SizesUpTo254TakeOneByteAndLargerOnesAU32) {
    const std::string block = block_of(encode({file("a", std::string(254, 'x')), file("b", std::string(255, 'y')),
                                               folder("empty")}));
    const std::string expected = std::string("a\0\xFE", 3) + std::string(254, 'x') +
                                 std::string("b\0\xFF\xFF\0\0\0", 7) + std::string(255, 'y') +
                                 std::string("empty/\0", 7);
    EXPECT_EQ(block, expected);
}

TEST(CartRom, TheLabelFlagLeavesOutLabelsAtTheTopLevelOnly) {
    const std::vector<cart_entry> tree = {file("label.png", "png"), file("label.qoi", "qoi"), folder("sub"),
                                          file("sub/label.png", "kept"), file("main.lua", "")};
    EXPECT_EQ(decode(encode(tree, 0)).entries, tree);
    const std::vector<cart_entry> without = {folder("sub"), file("sub/label.png", "kept"), file("main.lua", "")};
    EXPECT_EQ(decode(encode(tree, KIV_ROM_SKIP_LABEL)).entries, without);
    EXPECT_EQ(decode(encode(tree, 28)).entries, without);
}

TEST(CartRom, AnEmptyCartridgeDecompressesToNothingAndIsReadWhole) {
    fake_host::reset();
    const std::string rom = encode({});
    EXPECT_EQ(block_of(rom), "");
    const cart_read_result r = decode(rom);
    EXPECT_TRUE(r.entries.empty());
    EXPECT_TRUE(r.read_whole);
    EXPECT_EQ(fake_host::log_text(), "  *** kiv.rom decompression failed: /ram/mount/testcart\n");
}

TEST(CartRom, ALargeBlockGrowsTheOutputUntilItFits) {
    // 3 MiB of one byte compresses about 250 times, far past the first guess.
    const std::vector<cart_entry> tree = {file("big.bin", std::string(3u << 20, 'z')), file("after.lua", "end")};
    const std::string rom = encode(tree);
    EXPECT_LT(rom.size(), 20000u);
    const cart_read_result r = decode(rom);
    EXPECT_TRUE(r.read_whole);
    EXPECT_EQ(r.entries, tree);
}

TEST(CartRom, TheWriterRefusesWhatNoReaderCouldReadBack) {
    const struct {
        const char *name;
        std::vector<cart_entry> tree;
    } cases[] = {
        {"a \"..\" name", {file("a/../b", "x")}},
        {"\"..\" inside a segment", {file("a..b", "x")}},
        {"an empty name", {file("", "x")}},
        {"an empty segment", {file("a//b", "x")}},
        {"a 401-byte name", {file(std::string(401, 'n'), "x")}},
        {"a 400-byte folder name with its '/'", {folder(std::string(400, 'n'))}},
        {"a block over 64 MiB", {file("huge", std::string(KIV_ROM_MAX_BLOCK, 'h'))}},
    };
    for (const auto &c : cases) {
        std::string out = "before";
        EXPECT_FALSE(encode_kiv_rom(c.tree, 0, out)) << c.name;
        EXPECT_EQ(out, "before") << c.name;
    }
    std::vector<cart_entry> many(KIV_ROM_MAX_ENTRIES + 1, folder("f"));
    std::string out;
    EXPECT_FALSE(encode_kiv_rom(many, 0, out));
    many.pop_back();
    EXPECT_TRUE(encode_kiv_rom(many, 0, out));
    std::string ok;
    EXPECT_TRUE(encode_kiv_rom({file(std::string(400, 'n'), "x")}, 0, ok));
    EXPECT_EQ(decode(ok).entries, std::vector<cart_entry>{file(std::string(400, 'n'), "x")});
}

TEST(CartRom, BlocksOfMoreThan16384EntriesYieldTheFirst16384) {
    std::string block;
    for (size_t i = 0; i <= KIV_ROM_MAX_ENTRIES; i++) block.append("f").append(std::to_string(i)).append("\0\x01x", 3);
    const cart_read_result r = decode(rom_of_block(block));
    ASSERT_EQ(r.entries.size(), KIV_ROM_MAX_ENTRIES);
    EXPECT_EQ(r.entries.back().name, "f16383");
    EXPECT_FALSE(r.read_whole);
}

TEST(CartRom, PlainTextWithoutMagicBecomesMainLua) {
    const struct {
        std::string input;
        std::vector<cart_entry> entries;
        bool whole;
    } cases[] = {
        {"print(\"hi\")", {file("main.lua", "print(\"hi\")")}, true},
        {std::string("abc\0rest", 8), {file("main.lua", "abc")}, false},  // the rest is dropped
        {"ab", {}, false},
        {"", {}, true},
    };
    for (const auto &c : cases) {
        const cart_read_result r = decode(c.input);
        EXPECT_EQ(r.entries, c.entries) << c.input;
        EXPECT_EQ(r.read_whole, c.whole) << c.input;
    }
}

TEST(CartRom, APxaPayloadBecomesMainLua) {
    // Literal k = 2, v = 17 ('A'), then literal k = 0, v = 0 ('A' again):
    // bits 1 110 100010 1 0 0000, least significant bit first.
    const std::string good("\0pxa\0\x02\0\x0b\x17\x05\x00", 11);
    cart_read_result r = decode(good);
    EXPECT_EQ(r.entries, std::vector<cart_entry>{file("main.lua", "AA")});
    EXPECT_TRUE(r.read_whole);

    // The same stream claiming 5 bytes of output runs out of bits.
    std::string truncated = good;
    truncated[5] = 5;
    r = decode(truncated);
    EXPECT_EQ(r.entries, std::vector<cart_entry>{file("main.lua", "AA")});
    EXPECT_FALSE(r.read_whole);
}

TEST(CartRom, HostileInputKeepsWhatWasReadAndIsNotReadWhole) {
    const std::string good_entry = std::string("ok.lua\0\x02hi", 10);
    // A literal run that claims more bytes than the block holds.
    const std::string corrupt("kiv\x02\x04\0\0\0\xF0\xFF\xFF\xFF", 12);
    std::string cut = encode({file("a.lua", "aaa")});
    cut.resize(cut.size() - 3);
    const struct {
        const char *name;
        std::string rom;
        size_t entries;
        const char *log;
    } cases[] = {
        {"a header under 8 bytes", std::string("kiv\x02\x10", 5), 0, "decompression failed"},
        {"a block size beyond the input", cut, 0, "decompression failed"},
        {"corrupt LZ4", corrupt, 0, "decompression failed"},
        {"a name without NUL", rom_of_block(good_entry + "tail"), 1, "filename parsing failed"},
        {"an empty name", rom_of_block(good_entry + std::string("\0", 1)), 1, "filename parsing failed"},
        {"a 401-character name", rom_of_block(good_entry + std::string(401, 'n') + std::string("\0\0", 2)), 1,
         "filename parsing failed"},
        {"a \"..\" name", rom_of_block(good_entry + std::string("../up\0\x01x", 8)), 1, "bad file description"},
        {"\"..\" inside a name", rom_of_block(good_entry + std::string("a..b\0\x01x", 7)), 1, "bad file description"},
        {"a leading '/'", rom_of_block(good_entry + std::string("/abs\0\x01x", 7)), 1, "bad file description"},
        {"a size beyond the block", rom_of_block(good_entry + std::string("t.bin\0\x09short", 12)), 2, "truncated"},
        {"a u32 size cut short", rom_of_block(good_entry + std::string("t.bin\0\xFF\x01\x02", 9)), 2, "truncated"},
        {"a file without its size", rom_of_block(good_entry + std::string("t.bin\0", 6)), 2, "truncated"},
    };
    for (const auto &c : cases) {
        fake_host::reset();
        const cart_read_result r = decode(c.rom);
        EXPECT_FALSE(r.read_whole) << c.name;
        EXPECT_EQ(r.entries.size(), c.entries) << c.name;
        if (c.entries > 0 && !r.entries.empty()) {
            EXPECT_EQ(r.entries[0], file("ok.lua", "hi")) << c.name;
        }
        EXPECT_NE(fake_host::log_text().find(c.log), std::string::npos) << c.name << ": " << fake_host::log_text();
    }
    // A truncated entry keeps the bytes that were present.
    const cart_read_result r = decode(rom_of_block(good_entry + std::string("t.bin\0\x09short", 12)));
    EXPECT_EQ(r.entries.back(), file("t.bin", "short"));
}

TEST(CartRom, TheSystemRomTakesOnlyEntriesUnderSystem) {
    fake_host::reset();
    const std::vector<cart_entry> tree = {folder("system"), file("system/boot.lua", "print"), file("main.lua", "x"),
                                          folder("other"), file("systemx/a.lua", "y"), folder("system/lib"),
                                          file("system/lib/util.lua", "return {}")};
    const std::string rom = encode(tree);
    const cart_read_result r = decode_system_rom(reinterpret_cast<const uint8_t *>(rom.data()), rom.size());
    EXPECT_EQ(r.entries, (std::vector<cart_entry>{folder("system"), file("system/boot.lua", "print"),
                                                  folder("system/lib"), file("system/lib/util.lua", "return {}")}));
    EXPECT_FALSE(r.read_whole);
    const std::string log = fake_host::log_text();
    EXPECT_NE(log.find("main.lua"), std::string::npos);
    EXPECT_NE(log.find("other/"), std::string::npos);
    EXPECT_NE(log.find("systemx/a.lua"), std::string::npos);
}

TEST(CartRom, TheSystemRomRefusesLegacyPayloads) {
    for (const std::string &payload : {std::string("print(\"hi\")"), std::string("\0pxa\0\x02\0\x0b\x17\x05\x00", 11)}) {
        const cart_read_result r =
            decode_system_rom(reinterpret_cast<const uint8_t *>(payload.data()), payload.size());
        EXPECT_TRUE(r.entries.empty());
        EXPECT_FALSE(r.read_whole);
    }
}
