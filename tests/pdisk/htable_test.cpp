// Hash table: the hash, replacing, deleting, probe limits and growth of the
// record buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "htable.h"

namespace {

std::string get(htable_rec *t, const std::string &key) {
    uint32_t len = 99;
    const char *v = htable_get(t, key.c_str(), &len);
    if (!v) {
        EXPECT_EQ(len, 0u);
        return "<none>";
    }
    EXPECT_EQ(v[len], '\0');
    return std::string(v, len);
}

// The first bucket and step of a key in a table of 'buckets' buckets.
uint32_t home(const std::string &key, uint32_t buckets) { return htable_hash(key.c_str()) & (buckets - 1); }

// The buckets a key's probe visits, in order.
std::vector<uint32_t> probe_path(const std::string &key, uint32_t buckets) {
    std::vector<uint32_t> path;
    uint32_t i = home(key, buckets);
    const uint32_t step = (i & 31) + 1;
    for (uint32_t n = 0; n < HTABLE_MAX_PROBES; n++, i = (i + step) & (buckets - 1)) path.push_back(i);
    return path;
}

// A key other than 'not' whose first bucket is 'bucket'.
std::string key_homed_at(uint32_t bucket, uint32_t buckets, const std::string &not_this = "") {
    for (int n = 0;; n++) {
        const std::string k = std::string("f").append(std::to_string(n));
        if (k != not_this && home(k, buckets) == bucket) return k;
    }
}

}  // namespace

TEST(Htable, HashMatchesKnownValues) {
    const struct {
        const char *key;
        uint32_t hash;
    } cases[] = {
        {"", 0xCAFEF00Du}, {"frog", 0x428DBC5Fu}, {"zebra", 0x7E5D5C68u},
        {"cat", 0x1FDB0E92u}, {"\xE9", 0x5F1A9733u},  // a byte above 127 counts as negative
    };
    for (const auto &c : cases) EXPECT_EQ(htable_hash(c.key), c.hash) << c.key;
}

TEST(Htable, CreateRefusesBucketCountsThatAreNotPowersOfTwo) {
    EXPECT_EQ(create_htable(1000), nullptr);
    EXPECT_EQ(create_htable(0), nullptr);
    EXPECT_EQ(create_htable(3), nullptr);
    htable_rec *t = create_htable(1);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(htable_insert_str(t, "only", "one"), 0);
    EXPECT_EQ(htable_insert_str(t, "second", "refused"), 1);
    EXPECT_EQ(get(t, "only"), "one");
    destroy_htable(t);
    destroy_htable(nullptr);
}

TEST(Htable, InsertingAKeyTwiceKeepsOneItemWithTheSecondValue) {
    htable_rec *t = create_htable(1024);
    EXPECT_EQ(htable_insert_str(t, "frog", "green"), 0);
    EXPECT_EQ(htable_insert_str(t, "frog", "brown"), 0);
    EXPECT_EQ(t->items, 1u);
    EXPECT_EQ(get(t, "frog"), "brown");
    EXPECT_EQ(get(t, "toad"), "<none>");
    destroy_htable(t);
}

TEST(Htable, ValuesKeepZeroBytesAndMayBeEmpty) {
    htable_rec *t = create_htable(64);
    EXPECT_EQ(htable_insert(t, "bin", "a\0b", 3), 0);
    EXPECT_EQ(htable_insert(t, "empty", "", 0), 0);
    EXPECT_EQ(htable_insert_str(t, "", "empty key"), 0);
    EXPECT_EQ(get(t, "bin"), std::string("a\0b", 3));
    EXPECT_EQ(get(t, "empty"), "");
    EXPECT_EQ(get(t, ""), "empty key");
    destroy_htable(t);
}

TEST(Htable, ADeletedKeyDoesNotHideKeysFurtherAlongItsProbe) {
    const uint32_t n = 1024;
    const std::string key = "frog";
    const std::vector<uint32_t> path = probe_path(key, n);
    const std::string blocker = key_homed_at(path[0], n, key);

    htable_rec *t = create_htable(n);
    ASSERT_EQ(htable_insert_str(t, blocker.c_str(), "blocker"), 0);
    ASSERT_EQ(htable_insert_str(t, key.c_str(), "second bucket"), 0);
    EXPECT_EQ(t->keys[path[1]] != 0, true);

    EXPECT_EQ(htable_delete(t, blocker.c_str()), 1);
    EXPECT_EQ(htable_delete(t, blocker.c_str()), 0);
    EXPECT_EQ(t->items, 1u);
    EXPECT_EQ(get(t, key), "second bucket");

    // Deleted and inserted again, the key takes the first empty bucket,
    // which is now earlier than where it was.
    EXPECT_EQ(htable_delete(t, key.c_str()), 1);
    EXPECT_EQ(htable_insert_str(t, key.c_str(), "first bucket"), 0);
    EXPECT_NE(t->keys[path[0]], 0u);
    EXPECT_EQ(t->keys[path[1]], 0u);
    EXPECT_EQ(get(t, key), "first bucket");
    EXPECT_EQ(t->items, 1u);
    destroy_htable(t);
}

TEST(Htable, AKeyWhoseWholeProbeIsTakenIsRefused) {
    const uint32_t n = 1024;
    const std::string key = "zebra";
    htable_rec *t = create_htable(n);
    for (uint32_t b : probe_path(key, n)) {
        const std::string filler = key_homed_at(b, n, key);
        ASSERT_EQ(htable_insert_str(t, filler.c_str(), "x"), 0);
        ASSERT_NE(t->keys[b], 0u) << filler;
    }
    const uint32_t items = t->items;
    EXPECT_EQ(htable_insert_str(t, key.c_str(), "refused"), 1);
    EXPECT_EQ(t->items, items);
    EXPECT_EQ(get(t, key), "<none>");
    destroy_htable(t);
}

TEST(Htable, FiftyThousandInsertsStayReadableWhileTheBuffersGrow) {
    htable_rec *t = create_htable(65536);
    std::vector<bool> stored(50000);
    int refused = 0;
    for (int i = 0; i < 50000; i++) {
        const std::string k = "/drive/projects/file" + std::to_string(i) + ".lua";
        const std::string v = std::string(32, static_cast<char>('a' + i % 26)) + std::to_string(i);
        stored[i] = htable_insert_str(t, k.c_str(), v.c_str()) == 0;
        refused += !stored[i];
    }
    EXPECT_EQ(t->items, static_cast<uint32_t>(50000 - refused));
    EXPECT_LT(refused, 1000);  // at 76% load the probe limit refuses a few keys, not many
    for (int i = 0; i < 50000; i++) {
        const std::string k = "/drive/projects/file" + std::to_string(i) + ".lua";
        const std::string v = std::string(32, static_cast<char>('a' + i % 26)) + std::to_string(i);
        ASSERT_EQ(get(t, k), stored[i] ? v : "<none>") << k;
    }
    destroy_htable(t);
}
