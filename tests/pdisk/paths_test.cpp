// Path rules: normalising, collapsing, legal characters and extensions.
#include <gtest/gtest.h>

#include <string>

#include "vfs_fixture.h"

namespace {

// The normalised form of 'path' with working folder 'cwd', or "<illegal>".
std::string norm(const std::string &path, const std::string &cwd = "/") {
    VfsTest::pwd = cwd;
    buffer_rec *b = normalise_quillmar_path_n(path.data(), path.size());
    VfsTest::pwd = "/";
    if (!b) return "<illegal>";
    std::string s(to_cstr(b));
    destroy_buffer(b);
    return s;
}

std::string collapse(const std::string &s) {
    buffer_rec *b = collapse_path(s.data(), static_cast<int32_t>(s.size()), 0);
    std::string out(to_cstr(b));
    destroy_buffer(b);
    return out;
}

struct norm_case {
    const char *what;
    std::string path;
    std::string cwd;
    std::string expect;
};

}  // namespace

using PathTest = VfsTest;

TEST_F(PathTest, NormalisingGivesTheCanonicalFormOrRefusesTheIllegal) {
    const std::string seg254(254, 's'), seg255(255, 's');
    const norm_case cases[] = {
        {"dot segments apply to the working folder", "a/./b/../c", "/x", "/x/a/c"},
        {"a working folder ending in / gets no second one", "a", "/x/", "/x/a"},
        {"dot-dot never climbs above the root", "/..", "/", "/"},
        {"a double slash is the root", "//", "/", "/"},
        {"one trailing slash is cut", "/a/", "/", "/a"},
        {"runs of slashes are one separator", "/a//b///c", "/", "/a/b/c"},
        {"the root stays the root", "/", "/", "/"},
        {"relative dot-dots stop at the root", "a/../..", "/", "/"},
        {"a leading # is illegal", "#a", "/", "<illegal>"},
        {"a leading - is illegal", "-a", "/", "<illegal>"},
        {"an empty path is illegal", "", "/", "<illegal>"},
        {"a space before # is illegal", "/a b#c", "/", "<illegal>"},
        {"a space after # is legal", "/a#b c", "/", "/a#b c"},
        {"a colon before # is illegal", "/a:b", "/", "<illegal>"},
        {"a segment of 254 characters stays", "/" + seg254, "/", "/" + seg254},
        {"a segment of 255 characters is dropped", "/x/" + seg255 + "/y", "/", "/x/y"},
        // Used to keep the ".." inside a protocol head copied unchanged,
        // which resolved above the root mount's host folder.
        {"no protocol head is recognised", "/../../#://x", "/", "/#:/x"},
        // The '#' that let the space pass used to be folded away, leaving a
        // canonical path that normalised again was illegal.
        {"a # folded away by .. takes its exemption along", "/#/../a b", "/", "<illegal>"},
        {"the same through the working folder", "../a'b", "/#", "<illegal>"},
        {"a newline is illegal", "/a\nb", "/", "<illegal>"},
        {"a control byte after # is illegal", "/a#\x01", "/", "<illegal>"},
        {"DEL after # is illegal", "/a#\x7f", "/", "<illegal>"},
        {"a NUL is illegal", std::string("/a\0b", 4), "/", "<illegal>"},
        {"bytes of 128 and above are illegal before #", "/a\xc3\xa9", "/", "<illegal>"},
        {"the joined working folder is tested too", "a", "/x\ny", "<illegal>"},
        {"a working folder that is not absolute is refused", "a", "x", "<illegal>"},
    };
    for (const norm_case &c : cases) EXPECT_EQ(norm(c.path, c.cwd), c.expect) << c.what;
}

TEST_F(PathTest, NormalisingTwiceChangesNothing) {
    const char *paths[] = {"/a/./b/../c", "x/../../y", "/#/../z", "/a#b c/..", "/..a/b..", "/a/.../b"};
    for (const char *p : paths) {
        const std::string once = norm(p, "/w");
        ASSERT_NE(once, "<illegal>") << p;
        EXPECT_EQ(norm(once), once) << p;
    }
}

TEST_F(PathTest, CollapsingKeepsAProtocolHeadAndItsFirstSegment) {
    EXPECT_EQ(collapse("anywhen://x/a/../.."), "anywhen://x");
    EXPECT_EQ(collapse("anywhen://xy/.."), "anywhen://xy");
    EXPECT_EQ(collapse("anywhen://x/./y"), "anywhen://x/y");
    EXPECT_EQ(collapse("/a/b/../../.."), "/");
    EXPECT_EQ(collapse("a/b"), "a/b");
}

TEST_F(PathTest, ExtensionsTakeUpToTwoLowerCasedDotParts) {
    const struct {
        const char *name;
        const char *ext;
        int kind;
    } cases[] = {
        {"a/b.c/d", "", 0},          {"x.KIV.PNG", "kiv.png", 3}, {".info.pod", "info.pod", 0},
        {"a.b.c", "b.c", 0},         {"main.lua", "lua", 0},      {"noext", "", 0},
        {"/d/game.kiv", "kiv", 1},   {"x.Kiv.Rom", "kiv.rom", 2}, {"x.test.lua", "test.lua", 0},
        {"a.kivx", "kivx", 0},       {"dir.d/", "", 0},           {"", "", 0},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(get_ext(c.name), c.ext) << c.name;
        EXPECT_EQ(kiv_path_kind(c.name), c.kind) << c.name;
    }
}

TEST_F(PathTest, OnlyTheDocumentedCharactersAreLegal) {
    std::string legal;
    for (int c = 0; c < 256; c++)
        if (is_path_char(c)) legal += static_cast<char>(c);
    EXPECT_EQ(legal, "-./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
}
