// sysrom-pack: the blocks it writes, the system ROM it packs, determinism,
// and every refusal.
#include <gtest/gtest.h>
#include <lz4.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cart_rom.h"
#include "cart_trees.h"

namespace fs = std::filesystem;

namespace {

struct run_result {
    int status;          /* exit status */
    std::string output;  /* standard output and error */
};

run_result run(const std::string &args) {
    const std::string cmd = std::string(SYSROM_PACK) + " " + args + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string slurp(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const fs::path &file, const std::string &data) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << data;
}

// The blocks of a data file.
std::vector<std::string> blocks_of(const std::string &dat) {
    std::vector<std::string> blocks;
    for (size_t at = 0; at + 4 <= dat.size();) {
        const uint32_t n = (uint8_t(dat[at]) << 24) | (uint8_t(dat[at + 1]) << 16) | (uint8_t(dat[at + 2]) << 8) |
                           uint8_t(dat[at + 3]);
        blocks.push_back(dat.substr(at + 4, n));
        at += 4 + n;
    }
    return blocks;
}

cart_read_result system_rom(const std::string &block) {
    return decode_system_rom(reinterpret_cast<const uint8_t *>(block.data()), block.size());
}

class SysromPack : public ::testing::Test {
  protected:
    fs::path dir, rom, out;

    void SetUp() override {
        char tmpl[] = "/tmp/sysrom_pack_XXXXXX";
        dir = mkdtemp(tmpl);
        rom = dir / "rom";
        out = dir / "sysrom.dat";
        fs::create_directories(rom);
    }
    void TearDown() override { fs::remove_all(dir); }

    run_result pack(const std::string &extra = "") {
        return run("--export '' --out " + out.string() + " " + rom.string() + extra);
    }
};

}  // namespace

TEST_F(SysromPack, ASmallTreeReloadsIntoIdenticalEntries) {
    std::string binary(300, '\0');
    for (size_t i = 0; i < binary.size(); i++) binary[i] = static_cast<char>(i * 7);
    put(rom / "system/boot.lua", "print('boot')\n");
    put(rom / "system/lib/util.lua", "return {}\n");
    put(rom / "system/lib/a-b_c.d.lua", "");
    put(rom / "system/data.bin", binary);
    fs::create_directories(rom / "system/empty");

    const run_result r = pack();
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::string> blocks = blocks_of(slurp(out));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], "");
    const cart_read_result rom_entries = system_rom(blocks[1]);
    EXPECT_TRUE(rom_entries.read_whole);
    EXPECT_EQ(rom_entries.entries,
              (std::vector<cart_entry>{folder("system"), file("system/boot.lua", "print('boot')\n"),
                                       file("system/data.bin", binary), folder("system/empty"), folder("system/lib"),
                                       file("system/lib/a-b_c.d.lua", ""), file("system/lib/util.lua", "return {}\n")}));
}

TEST_F(SysromPack, TwoRunsGiveIdenticalBytes) {
    for (int i = 0; i < 50; i++) put(rom / ("system/f" + std::to_string(i * 37 % 50) + ".lua"), std::to_string(i));
    put(rom / "system/boot.lua", "x");
    ASSERT_EQ(pack().status, 0);
    const std::string first = slurp(out);
    fs::remove(out);
    ASSERT_EQ(pack().status, 0);
    EXPECT_EQ(slurp(out), first);
}

TEST_F(SysromPack, TheSmallestRomHoldsExactlyTheFolderAndBootLua) {
    put(rom / "system/boot.lua", "print");
    ASSERT_EQ(pack().status, 0);
    const std::string block = blocks_of(slurp(out))[1];
    ASSERT_GE(block.size(), 8u);
    EXPECT_EQ(block.substr(0, 4), "kiv\x02");
    std::string entries(256, '\0');
    const int n = LZ4_decompress_safe(block.data() + 8, entries.data(), static_cast<int>(block.size() - 8), 256);
    ASSERT_GE(n, 0);
    entries.resize(static_cast<size_t>(n));
    EXPECT_EQ(entries, std::string("system/\0system/boot.lua\0\x05print", 30));
}

TEST_F(SysromPack, TheExportNameAndAnExpansionGoInBlocksZeroAndTwo) {
    put(rom / "system/boot.lua", "print");
    put(dir / "exp/main.lua", "print('expansion')");
    put(dir / "exp/gfx/0.gfx", "pixels");
    const run_result r = run("--export my_game-2 --out " + out.string() + " " + rom.string() + " --expansion " +
                             (dir / "exp").string());
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::string> blocks = blocks_of(slurp(out));
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], "my_game-2");
    const cart_read_result exp =
        decode_kiv_rom(reinterpret_cast<const uint8_t *>(blocks[2].data()), blocks[2].size(), "/ram/expcart");
    EXPECT_TRUE(exp.read_whole);
    EXPECT_EQ(exp.entries, (std::vector<cart_entry>{folder("gfx"), file("gfx/0.gfx", "pixels"),
                                                    file("main.lua", "print('expansion')")}));
}

TEST_F(SysromPack, DotNamesAreSkippedWithAWarning) {
    put(rom / "system/boot.lua", "print");
    put(rom / "system/.hidden.lua", "secret");
    put(rom / "system/.git/config", "x");
    put(rom / ".DS_Store", "x");
    const run_result r = pack();
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(".hidden.lua"), std::string::npos);
    EXPECT_NE(r.output.find(".git"), std::string::npos);
    EXPECT_EQ(system_rom(blocks_of(slurp(out))[1]).entries,
              (std::vector<cart_entry>{folder("system"), file("system/boot.lua", "print")}));
}

TEST_F(SysromPack, SegmentsOf254AndNamesOf400BytesArePacked) {
    put(rom / "system/boot.lua", "print");
    put(rom / "system" / std::string(254, 's'), "long");
    // "system/", three folders of 99 characters and a file of 93: 400 bytes.
    const std::string seg(99, 'd');
    put(rom / "system" / seg / seg / seg / std::string(93, 'f'), "deep");
    const run_result r = pack();
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(system_rom(blocks_of(slurp(out))[1]).read_whole);
}

TEST_F(SysromPack, EachRefusalExitsOneNamingTheFile) {
    const std::string seg(100, 'd');
    const struct {
        const char *name;
        std::vector<std::pair<std::string, std::string>> files;  // path under rom/, contents
        const char *named;                                          // what the message must name
        const char *export_name;
    } cases[] = {
        {"a character outside the set", {{"system/boot.lua", ""}, {"system/a+b.lua", ""}}, "system/a+b.lua", ""},
        {"a space", {{"system/boot.lua", ""}, {"system/a b.lua", ""}}, "system/a b.lua", ""},
        {"\"..\" inside a name", {{"system/boot.lua", ""}, {"system/a..b.lua", ""}}, "system/a..b.lua", ""},
        {"a 255-character segment", {{"system/boot.lua", ""}, {"system/" + std::string(255, 'x'), ""}},
         "xxxxxxxxxx", ""},
        {"a name over 400 bytes", {{"system/boot.lua", ""}, {"system/" + seg + "/" + seg + "/" + seg + "/" + seg, ""}},
         "ddddd", ""},
        {"a file outside system/", {{"system/boot.lua", ""}, {"readme.txt", ""}}, "readme.txt", ""},
        {"nothing to pack", {}, "rom", ""},
        {"no system/boot.lua", {{"system/main.lua", ""}}, "system/boot.lua", ""},
        {"system/boot.lua as a folder", {{"system/boot.lua/x.lua", ""}}, "system/boot.lua", ""},
        {"an export name with a space", {{"system/boot.lua", ""}}, "bad name", "bad name"},
        {"an export name of 33 characters", {{"system/boot.lua", ""}}, "123456789012345678901234567890123",
         "123456789012345678901234567890123"},
    };
    for (const auto &c : cases) {
        fs::remove_all(rom);
        fs::create_directories(rom);
        for (const auto &[path, data] : c.files) put(rom / path, data);
        const run_result r =
            run("--export '" + std::string(c.export_name) + "' --out " + out.string() + " " + rom.string());
        EXPECT_EQ(r.status, 1) << c.name << ": " << r.output;
        EXPECT_NE(r.output.find(c.named), std::string::npos) << c.name << ": " << r.output;
        EXPECT_FALSE(fs::exists(out)) << c.name;
    }
}

TEST_F(SysromPack, SymbolicLinksAreRefused) {
    put(rom / "system/boot.lua", "print");
    fs::create_symlink("boot.lua", rom / "system/link.lua");
    const run_result r = pack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("system/link.lua"), std::string::npos) << r.output;
}

TEST_F(SysromPack, MoreThan16384EntriesAreRefused) {
    put(rom / "system/boot.lua", "print");
    // "system", boot.lua and 16383 empty files.
    for (int i = 0; i < 16383; i++) std::ofstream(rom / "system" / std::to_string(i));
    const run_result r = pack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("more than 16384 entries"), std::string::npos) << r.output.substr(0, 200);
    fs::remove(rom / "system/0");  // 16384 entries
    EXPECT_EQ(pack().status, 0);
}

TEST_F(SysromPack, DataOver64MiBOrABlockOver32MiBIsRefused) {
    put(rom / "system/boot.lua", "print");
    {
        std::ofstream big(rom / "system/big.bin", std::ios::binary);
    }
    fs::resize_file(rom / "system/big.bin", KIV_ROM_MAX_BLOCK + 1);
    run_result r = pack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("system/big.bin"), std::string::npos) << r.output;

    // 33 MiB that do not compress make a block over 0x2000000 bytes.
    std::string noise(33u << 20, '\0');
    std::mt19937_64 rng(7);
    for (size_t i = 0; i < noise.size(); i += 8) {
        const uint64_t v = rng();
        memcpy(&noise[i], &v, 8);
    }
    put(rom / "system/big.bin", noise);
    r = pack();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("0x2000000"), std::string::npos) << r.output;
}

TEST(SysromDat, TheBuildPacksRomBesideTheProgram) {
    const std::vector<std::string> blocks = blocks_of(slurp(SYSROM_DAT));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], "");
    const cart_read_result r = system_rom(blocks[1]);
    EXPECT_TRUE(r.read_whole);
    bool has_boot = false;
    for (const cart_entry &e : r.entries) has_boot |= e.name == "system/boot.lua" && !e.is_folder;
    EXPECT_TRUE(has_boot);
}
