// The download cache calls, over a temporary application-data folder.
#include "file_fixture.h"

#include <algorithm>
#include <set>

class CacheCalls : public FileApiTest {
  protected:
    std::string cached(const std::string &rel) const { return appdata + "cache/" + rel; }

    // Every path below the temporary folder.
    std::set<std::string> tree() const {
        std::set<std::string> all;
        for (const auto &e : std::filesystem::recursive_directory_iterator(root)) all.insert(e.path().string());
        return all;
    }
};

TEST_F(CacheCalls, AStoredFileIsFetchedBackFrom512BytesOn) {
    run(R"(
        _cache_store("carts", "short.bin", string.rep("s", 511))
        _cache_store("carts", "long.bin", string.rep("l", 512))
        out(select('#', _cache_fetch("carts", "short.bin")))
        local v = _cache_fetch("carts", "long.bin")
        out(#v, v == string.rep("l", 512))
        out(select('#', _cache_fetch("carts", "missing.bin")), select('#', _cache_fetch("other", "long.bin")))
    )");
    EXPECT_EQ(output(), (Lines{"1:0", "2:512,true", "2:0,0"}));
    EXPECT_EQ(read_file(cached("carts/short.bin")), std::string(511, 's'));
}

TEST_F(CacheCalls, AVersionedNameGivesTheHighestNumberPresent) {
    write_file(cached("carts/c3.png"), std::string(600, '3'));
    write_file(cached("carts/c7.png"), std::string(600, '7'));
    write_file(cached("carts/c40.png"), std::string(600, '4'));  // above 32: never tried
    write_file(cached("carts/x0"), std::string(600, '0'));
    run(R"(
        out(_cache_fetch("carts", "c%d.png", true):sub(1, 1), _cache_fetch("carts", "c%i.png", 1):sub(1, 1))
        out(_cache_fetch("carts", "x%d", true):sub(1, 1), select('#', _cache_fetch("carts", "c%d.png")))
    )");
    EXPECT_EQ(output(), (Lines{"2:7,7", "2:0,0"}));
}

TEST_F(CacheCalls, NamesThatAreNotPlainOrHoldOtherConversionsTouchNothing) {
    write_file(cached("carts/%s"), std::string(600, 's'));
    write_file(cached("carts/%d%d"), std::string(600, 'd'));
    write_file(cached("carts/5"), std::string(600, '5'));
    write_file(root + "/x", std::string(600, 'x'));
    const std::set<std::string> before = tree();
    const char *bad[] = {"../x", "a/b", "", "..", ".", "a\\\\b", "a\\0b"};
    std::string code;
    for (const char *name : bad) {
        code += std::string("_cache_store('carts', '") + name + "', string.rep('n', 600)) ";
        code += std::string("_cache_store('") + name + "', 'n', string.rep('n', 600)) ";
        code += std::string("out(select('#', _cache_fetch('carts', '") + name + "')), select('#', _cache_fetch('" +
                name + "', 'n'))) ";
    }
    code += R"(out(select('#', _cache_fetch("carts", "%s", true)), select('#', _cache_fetch("carts", "%d%d", true)),
                   select('#', _cache_fetch("carts", "%", true)), select('#', _cache_fetch("carts", "%05d", true)),
                   #_cache_fetch("carts", "%s")))";
    run(code);
    Lines want(std::size(bad), "2:0,0");
    want.push_back("5:0,0,0,0,600");
    EXPECT_EQ(output(), want);
    EXPECT_EQ(tree(), before);
}

TEST_F(CacheCalls, AHostPathOver1023CharactersIsRefused) {
    // An application-data folder deep enough that a 200-character name
    // just fits.
    std::string deep = root + "/";
    const size_t want = 1023 - std::string("cache/carts/").size() - 200;
    while (deep.size() < want) deep += std::string(std::min<size_t>(200, want - deep.size() - 1), 'd') + "/";
    ASSERT_EQ(deep.size(), want);
    std::filesystem::create_directories(deep);
    std::snprintf(config.home_path, sizeof config.home_path, "%s", deep.c_str());
    const std::string fits(200, 'f'), over(201, 'o');
    run("_cache_store('carts', '" + fits + "', string.rep('f', 600)) "
        "_cache_store('carts', '" + over + "', string.rep('o', 600)) "
        "out(#_cache_fetch('carts', '" + fits + "'), select('#', _cache_fetch('carts', '" + over + "')))");
    EXPECT_EQ(output(), (Lines{"2:600,0"}));
    EXPECT_TRUE(std::filesystem::exists(deep + "cache/carts/" + fits));
    EXPECT_FALSE(std::filesystem::exists(deep + "cache/carts/" + over));
}
