// Text cartridges: the layout, the text-or-binary choice, round trips, line
// sizes, the version 1 and 2 readers, and input that is cut or hostile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cart_text.h"
#include "cart_trees.h"
#include "fake_host.h"

namespace {

std::string encode(const std::vector<cart_entry> &entries, bool use_hex = false) {
    std::string out;
    EXPECT_TRUE(encode_kiv_text(entries, use_hex, out));
    return out;
}

cart_read_result decode(const std::string &text) {
    return decode_kiv_text(reinterpret_cast<const uint8_t *>(text.data()), text.size(), "/ram/mount/textcart");
}

const std::string head = std::string(KIV_TEXT_BANNER) + "version 2\n\n";

// The lines of a cartridge's text between its head and its end line.
std::vector<std::string> body_lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t at = head.size();
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) lines.push_back(text.substr(at, nl - at));
    EXPECT_EQ(lines.back(), ":: [eoc]");
    lines.pop_back();
    return lines;
}

std::string bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>(i * 37 + 1);
    return s;
}

}  // namespace

TEST(CartText, SeedsAndRandomTreesRoundTripExactlyInBothEncodings) {
    std::vector<std::vector<cart_entry>> trees = {seed_entries()};
    for (uint32_t seed : kTreeSeeds) trees.push_back(random_tree(seed));
    for (bool use_hex : {false, true}) {
        for (const auto &tree : trees) {
            const cart_read_result r = decode(encode(tree, use_hex));
            EXPECT_TRUE(r.read_whole);
            EXPECT_EQ(r.entries, tree) << (use_hex ? "hex" : "b64");
        }
    }
}

TEST(CartText, TheWriterLaysOutHeadEntriesAndEndLine) {
    const std::string text = encode({folder("gfx"), file("main.lua", "print(1)\n"), file("gfx/0.gfx", "\x01\xFF"),
                                     file("empty.bin", "")});
    EXPECT_EQ(text, head +
                        ":: gfx/\n"
                        ":: main.lua\nprint(1)\n\n"
                        ":: gfx/0.gfx\nb64$Af8=\n"
                        ":: empty.bin\nb64$\n"
                        ":: [eoc]\n");
    EXPECT_EQ(encode({file("gfx/0.gfx", "\x01\xFF")}, true), head + ":: gfx/0.gfx\nhex$01ff\n:: [eoc]\n");
}

TEST(CartText, EncodedLinesHold76CharactersAfterAShorterFirstChunk) {
    const struct {
        size_t size;
        bool use_hex;
        std::vector<size_t> line_lengths;  // of the body lines after the name line
    } cases[] = {
        {54, false, {76}},      {55, false, {76, 4}},      {54 + 57, false, {76, 76}},
        {36, true, {76}},       {37, true, {76, 2}},       {36 + 38, true, {76, 76}},
        {36 + 38 + 1, true, {76, 76, 2}},
    };
    for (const auto &c : cases) {
        const std::string data = bytes(c.size);
        const std::string text = encode({file("d.bin", data)}, c.use_hex);
        std::vector<std::string> lines = body_lines(text);
        lines.erase(lines.begin());
        std::vector<size_t> lengths;
        for (const auto &l : lines) lengths.push_back(l.size());
        EXPECT_EQ(lengths, c.line_lengths) << c.size << (c.use_hex ? " hex" : " b64");
        EXPECT_EQ(lines[0].substr(0, 4), c.use_hex ? "hex$" : "b64$");
        EXPECT_EQ(decode(text).entries, std::vector<cart_entry>{file("d.bin", data)});
    }
    // Only the last chunk carries padding.
    EXPECT_EQ(body_lines(encode({file("d.bin", bytes(55))}))[2].substr(2), "==");
}

TEST(CartText, OnlyTxtAndLuaFilesOfPlainLinesAreWrittenAsText) {
    const struct {
        const char *name;
        std::string data;
        bool text;
    } cases[] = {
        {"main.lua", "print(1)\n", true},
        {"README.TXT", "read me", true},
        {".lua", "x", true},
        {"empty.lua", "", true},
        {"a:: b.lua", "x", true},
        {"x.test.lua", "print(1)", false},  // the extension is test.lua
        {"notes.md", "text", false},
        {"dir.lua/file", "text", false},
        {"zero.lua", std::string("a\0b", 3), false},
        {"high.lua", "caf\xC3\xA9", false},
        {"crlf.lua", "a\r\nb", false},
        {"entry.lua", ":: x", false},
        {"later.lua", "a\n:: x", false},
        {"hex.lua", "hex$00", false},
        {"later_hex.lua", "a\nhex$00", false},
        {"later_b64.lua", "a\nb64$AA", false},
        {"colons.lua", "a\n::x\n :: y", true},
    };
    for (const auto &c : cases) EXPECT_EQ(is_writeable_as_ascii(c.name, c.data), c.text) << c.name;
}

TEST(CartText, TheWriterRefusesWhatNoReaderCouldReadBack) {
    const struct {
        const char *name;
        std::vector<cart_entry> tree;
    } cases[] = {
        {"a \"..\" name", {file("a/../b", "x")}},
        {"a space in a name", {file("a b.lua", "x")}},
        {"a byte above 127 in a name", {file("caf\xC3\xA9.lua", "x")}},
        {"an empty name", {folder("")}},
        {"a name read as the end line", {file("[eoc]x", "")}},
        {"data over 64 MiB", {file("a", std::string(KIV_TEXT_MAX_DATA / 2, 'a')), file("b", std::string(KIV_TEXT_MAX_DATA / 2 + 1, 'b'))}},
        {"more than 16384 entries", std::vector<cart_entry>(KIV_TEXT_MAX_ENTRIES + 1, folder("f"))},
    };
    for (const auto &c : cases) {
        std::string out = "before";
        EXPECT_FALSE(encode_kiv_text(c.tree, false, out)) << c.name;
        EXPECT_EQ(out, "before") << c.name;
    }
}

TEST(CartText, TheReaderTakesCrlfLinesAndBase64LinesOfAnyLength) {
    const std::string data = bytes(3000);
    std::string b64_line;
    {
        // One long line, as another writer might produce it.
        std::string text = encode({file("d.bin", data)});
        for (const std::string &l : body_lines(text)) {
            if (l.substr(0, 3) != ":: ") b64_line += l;
        }
    }
    ASSERT_GT(b64_line.size(), 1024u);
    const std::string text = "banner\r\nversion 2\r\n\r\n:: a.lua\r\none\r\ntwo\r\n:: d.bin\r\n" + b64_line +
                             "\r\n:: [eoc]\r\n";
    const cart_read_result r = decode(text);
    EXPECT_TRUE(r.read_whole);
    EXPECT_EQ(r.entries, (std::vector<cart_entry>{file("a.lua", "one\ntwo"), file("d.bin", data)}));
}

TEST(CartText, ATextBodyTurnsToHexOrBase64AtALineWithThePrefix) {
    const cart_read_result r = decode(head + ":: a.lua\nx = 1\nhex$4142\n4\n:: b.lua\ny\nb64$QUJD\n:: [eoc]\n");
    EXPECT_TRUE(r.read_whole);
    EXPECT_EQ(r.entries, (std::vector<cart_entry>{file("a.lua", "x = 1\nAB"), file("b.lua", "y\nABC")}));
}

TEST(CartText, SkippedEntriesAndAMissingEndLineKeepTheRestButAreNotReadWhole) {
    const struct {
        const char *name;
        std::string text;
        std::vector<cart_entry> entries;
        const char *log;
    } cases[] = {
        {"a \"..\" name", head + ":: a/../b.lua\nbody\n:: ok.lua\nfine\n:: [eoc]\n", {file("ok.lua", "fine")}, ""},
        {"an empty name", head + ":: \nbody\n:: ok.lua\nfine\n:: [eoc]\n", {file("ok.lua", "fine")}, ""},
        {"no end line", head + ":: ok.lua\nfine\n:: cut.lua\nhalf", {file("ok.lua", "fine"), file("cut.lua", "half\n")},
         "** warning: no [eoc] found while mounting /ram/mount/textcart\n"},
        {"nothing after the version line", head, {}, "** warning: no [eoc] found while mounting /ram/mount/textcart\n"},
        {"an unknown version", std::string(KIV_TEXT_BANNER) + "version 3\n\n:: a.lua\nx\n:: [eoc]\n", {}, ""},
        {"no version line", "just one line", {}, ""},
    };
    for (const auto &c : cases) {
        fake_host::reset();
        const cart_read_result r = decode(c.text);
        EXPECT_FALSE(r.read_whole) << c.name;
        EXPECT_EQ(r.entries, c.entries) << c.name;
        EXPECT_EQ(fake_host::log_text(), c.log) << c.name;
    }
}

TEST(CartText, TheVersionOneReaderTakesFoldersAndHexBetweenBrackets) {
    fake_host::reset();
    const std::string text = "old banner\nversion 1\n"
                             "## a comment\n"
                             "gfx 0:1\n"
                             "main.lua 5:0 [0x68656c6c6f]\n"
                             "gfx/odd.bin 1:0 [0xab5]\n"
                             "x\n"
                             "after.lua 1:0 [0x41]\n";
    cart_read_result r = decode(text);
    EXPECT_TRUE(r.read_whole);
    EXPECT_EQ(r.entries, (std::vector<cart_entry>{folder("gfx"), file("main.lua", "hello"), file("gfx/odd.bin", "\xAB")}));

    // A control byte in a name skips the line, like ".." does.
    r = decode("b\nversion 1\n\rbad.lua 1:0 [0x41]\na/../b 1:0 [0x41]\n[eoc] 1:0 [0x41]\n");
    EXPECT_FALSE(r.read_whole);
    EXPECT_TRUE(r.entries.empty());

    r = decode("b\nversion 1\nbroken.lua 3:0 no brackets\nok.lua 1:0 [0x41]\n");
    EXPECT_FALSE(r.read_whole);
    EXPECT_EQ(r.entries, (std::vector<cart_entry>{file("broken.lua", ""), file("ok.lua", "A")}));
    EXPECT_NE(fake_host::log_text().find("could not read legacy kiv"), std::string::npos);
    EXPECT_NE(fake_host::log_text().find("new_path: /ram/mount/textcart/broken.lua"), std::string::npos);
}
