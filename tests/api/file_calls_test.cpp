// The file-system calls: folders, the working folder, file status, paths,
// copying, deleting and mounting, over a real file system in real processes.
#include "file_fixture.h"

using FileCalls = FileApiTest;

TEST_F(FileCalls, MkdirMakesAFolderOnceAndNamesEveryFailure) {
    run(R"(
        out(select('#', mkdir("d")))
        out(mkdir("d"), mkdir("/d"), _mkdir(), mkdir("bad name"), mkdir({}))
        out((fstat("d")))
    )");
    EXPECT_EQ(output(), (Lines{"1:0",
                               "5:mkdir: directory already exists,mkdir: directory already exists,"
                               "mkdir: no path,mkdir failed,mkdir: no path",
                               "1:folder"}));
    EXPECT_TRUE(std::filesystem::is_directory(host("d")));
}

TEST_F(FileCalls, CdMovesTheWorkingFolderOnlyToAnExistingFolder) {
    std::filesystem::create_directories(host("a/b"));
    run(R"(
        out(pwd())
        out(select('#', cd("a")), pwd(), _pwd())
        out(select('#', cd("b")), pwd())
        out(cd("missing"), pwd())
        out(select('#', cd("..")), pwd())
        out(select('#', cd("bad name")), select('#', cd()), pwd())
        out(select('#', _cd("/")), pwd())
    )");
    EXPECT_EQ(output(), (Lines{"1:/", "3:0,/a,/a", "2:0,/a/b", "2:path not found,/a/b", "2:0,/a", "3:0,0,/a",
                               "2:0,/"}));
}

TEST_F(FileCalls, RawCdTakesThePathAsItIsUpTo256Characters) {
    run(R"(
        cd("/anything/../at all", true)
        out(pwd())
        local p256, p257 = "/" .. string.rep("x", 255), "/" .. string.rep("y", 256)
        out(select('#', cd(p256, true)), pwd() == p256)
        out(select('#', cd(p257, true)), pwd() == p256)
    )");
    EXPECT_EQ(output(), (Lines{"1:/anything/../at all", "2:0,true", "2:0,true"}));
}

TEST_F(FileCalls, RelativePathsResolveAgainstTheCallersWorkingFolder) {
    put_host("w/f.txt", "inside");
    run(R"(
        cd("/w")
        out(fetch("f.txt"), fullpath("f.txt"), fullpath("../x/./y"), fstat("f.txt"))
        store("g.txt", "text", '--[[pod_format="raw"]]')
    )");
    EXPECT_EQ(output(), (Lines{"6:inside,/w/f.txt,/x/y,file,6,nil"}));
    EXPECT_TRUE(get_host("w/g.txt"));
}

TEST_F(FileCalls, FstatGivesKindSizeAndTheMountDescription) {
    put_host("f.txt", "12345");
    run(R"(
        out(fstat("/f.txt"))
        out(fstat("/"))
        out(fstat("/ram"))
        out(select('#', fstat("/missing")), select('#', fstat("bad name")), select('#', _fstat()))
    )");
    const Lines lines = output();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "3:file,5,nil");
    EXPECT_EQ(lines[1].rfind("3:folder,", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(",host:" + drive), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].rfind("3:folder,0,", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "3:0,0,0");
}

TEST_F(FileCalls, AMountedCartridgeIsAFolderWhoseSizeIsItsFileWrittenBackFirst) {
    run(R"(
        out(select('#', mkdir("/c.kiv")))
        store("/c.kiv/a.txt", string.rep("a", 100), '--[[pod_format="raw",metadata_format="none"]]')
        local kind, size = fstat("/c.kiv")
        local bytes = fetch("/c.kiv")
        out(kind, size > 100, size == #bytes, type(bytes))
    )");
    EXPECT_EQ(output(), (Lines{"1:0", "4:folder,true,true,string"}));
    EXPECT_GT(get_host("c.kiv").value_or("").size(), 100u);
}

TEST_F(FileCalls, FullpathLeavesHistoryPathsAloneAndRefusesIllegalOnes) {
    run(R"(
        out(fullpath("anywhen://x"), _fullpath("anywhen://a/../b"), fullpath("/a//b/./c/.."))
        out(select('#', fullpath("bad name")), select('#', fullpath("")), select('#', fullpath()))
    )");
    EXPECT_EQ(output(), (Lines{"3:anywhen://x,anywhen://a/../b,/a/b", "3:0,0,0"}));
}

TEST_F(FileCalls, CpCopiesAFileAndIsChargedItsByteCount) {
    put_host("big.bin", std::string(150000, 'q'));
    const uint32_t missing = run(R"(cp("/none.bin", "/copy0.bin"))");
    const uint32_t copied = run(R"(out(select('#', cp("/big.bin", "/copy.bin"))))");
    EXPECT_EQ(get_host("copy.bin"), std::string(150000, 'q'));
    EXPECT_FALSE(get_host("copy0.bin"));
    EXPECT_GE(copied - missing, 150000u);
    EXPECT_EQ(output(), (Lines{"1:0"}));
}

TEST_F(FileCalls, LsListsFoldersAndMountPointsFirstAndTheRootByDefault) {
    put_host("b.txt", "");
    put_host("a.txt", "");
    std::filesystem::create_directories(host("z"));
    run(R"(
        local names, folders = ls()
        out(table.concat(names, " "), folders)
        out(table.concat(_ls("/"), " "))
        out(select('#', ls("bad name")), select('#', ls({})))
    )");
    EXPECT_EQ(output(), (Lines{"2:ram z a.txt b.txt,2", "1:ram z a.txt b.txt", "2:0,0"}));
}

// A finalizer that calls the file system inside a call's first allocation
// leaves the call's result whole.
TEST_F(FileCalls, AFinalizerCallingTheFileSystemInsideACallLeavesItsResultWhole) {
    put_host("a/x.txt", "");
    for (int i = 0; i < 40; i++) put_host("b/long_name_" + std::to_string(i) + ".txt", "");
    struct Case {
        const char *call;  // a call whose last argument is armed(v, f)
        const char *want;  // out(its first result, settled())
    } cases[] = {
        {"(function(t) return table.concat(t, ' ') end)(ls(armed('/a', function() ls('/b') end)))", "2:x.txt,true"},
    };
    for (const Case &c : cases) {
        const size_t before = output().size();
        run(std::string(kArmedFinalizer) + "out(" + c.call + ", settled())");
        const Lines lines = output();
        EXPECT_EQ(Lines(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()), (Lines{c.want}))
            << c.call;
    }
}

TEST_F(FileCalls, LsIsChargedForEveryEntryItLists) {
    for (int i = 0; i < 300; i++) put_host("many/f" + std::to_string(i), "");
    std::filesystem::create_directories(host("none"));
    const uint32_t empty = run(R"(ls("/none"))");
    const uint32_t listed = run(R"(ls("/many"))");
    EXPECT_GE(listed - empty, 300u * 16);
}

// A metadata rewrite copies the whole file, and was once free however long it was.
TEST_F(FileCalls, MetadataRewritesAreChargedForTheFileTheyCopy) {
    const std::string make = R"(local s = string.rep("x", 1 << 16) local t = s:sub(1, 1) )";
    const std::string raw = R"(, '--[[pod_format="raw"]]') )";
    const std::string rewrite = "_store_metadata_str_to_file('/ram/a.txt', '--[[pod]]')";
    const uint32_t store_short = run(make + "store('/ram/a.txt', t" + raw);
    const uint32_t store_long = run(make + "store('/ram/a.txt', s" + raw);
    const uint32_t rewrite_short = run(make + "store('/ram/a.txt', t" + raw + rewrite);
    const uint32_t rewrite_long = run(make + "store('/ram/a.txt', s" + raw + rewrite);
    EXPECT_GE((rewrite_long - rewrite_short) - (store_long - store_short), (1u << 16) / 64);
}

TEST_F(FileCalls, FdeleteAndMountActOnTheirPaths) {
    put_host("d/x.txt", "x");
    run(R"(
        mount("/m", "/d")
        out(fetch("/m/x.txt"))
        _fdelete("/d/x.txt")
        out(select('#', fetch("/m/x.txt")))
        mount("/n")
        out(select('#', ls("/n")))
    )");
    EXPECT_EQ(output(), (Lines{"1:x", "1:0", "1:0"}));
    EXPECT_FALSE(get_host("d/x.txt"));
}

TEST_F(FileCalls, NormPrintsEachCollapseStep) {
    run(R"(
        out(norm("/a/./b/../c"))
        out(norm("http://x/../y"))
    )");
    EXPECT_EQ(output(), (Lines{
                            ":: collapse: [/a/./b/../c]",
                            "  left segment: a  -> /a",
                            "  skipped .  -> /a",
                            "  left segment: b  -> /a/b",
                            "  folded ..  -> /a",
                            "  left segment: c  -> /a/c",
                            "  --> [/a/c]",
                            "1:/a/c",
                            ":: collapse: [http://x/../y]",
                            "skipping prot: http",
                            "  left segment: x  -> http://x",
                            "  folded ..  -> http://x",
                            "  left segment: y  -> http://x/y",
                            "  --> [http://x/y]",
                            "1:http://x/y",
                        }));
}

TEST_F(FileCalls, NormaliseUserlandPathCollapsesQuietly) {
    run(R"(
        out(_normalise_userland_path("/a//b/./c/.."), _normalise_userland_path(""),
            _normalise_userland_path("../.."), select('#', _normalise_userland_path()))
    )");
    EXPECT_EQ(output(), (Lines{"4:/a/b,/,/,0"}));
}

TEST_F(FileCalls, WellFormedBbsPathsAreCheckedFromTheSeventhCharacter) {
    struct Case {
        const char *text;
        const char *result;
    } cases[] = {
        {"", "true"},           {"ABCDEF", "true"},       {"ABCDEFg", "true"},
        {"ABCDEFG", "false"},   {"abcdef_1./z", "true"},  {"abcdefx y", "false"},
        {"abcdef-", "false"},   {"######abc", "true"},    {"abcdefxyZ", "false"},
    };
    std::string code;
    for (const Case &c : cases) code += std::string("out(_is_well_formed_bbs_path('") + c.text + "')) ";
    code += "out(select('#', _is_well_formed_bbs_path()))";
    run(code);
    Lines want;
    for (const Case &c : cases) want.push_back(std::string("1:") + c.result);
    want.push_back("1:0");
    EXPECT_EQ(output(), want);
}
