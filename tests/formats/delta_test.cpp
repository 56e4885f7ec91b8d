// Binary delta: stream layouts, rebuilding over random edits, and refusal of
// wrong sources, damaged streams and lying containers.
#include <gtest/gtest.h>

#include <lz4.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crc32.h"
#include "delta.h"
#include "fake_host.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes contents(const buffer_rec *b) { return Bytes(b->data, b->data + b->length); }

uint32_t crc(const Bytes &b) { return crc32b(b.data(), static_cast<int64_t>(b.size())); }

void put32(Bytes &out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The operation stream inside a container made by generate_diff.
Bytes stream_of(const Bytes &container) {
    EXPECT_GE(container.size(), 8u);
    EXPECT_EQ(memcmp(container.data(), "dst", 4), 0);
    uint32_t n = 0;
    memcpy(&n, container.data() + 4, 4);
    Bytes s(n);
    const int got = LZ4_decompress_safe(reinterpret_cast<const char *>(container.data() + 8),
                                        reinterpret_cast<char *>(s.data()), static_cast<int>(container.size() - 8),
                                        static_cast<int>(n));
    EXPECT_EQ(got, static_cast<int>(n));
    return s;
}

Bytes generate(const Bytes &src, const Bytes &dst) {
    buffer_rec *b = generate_diff(src.data(), static_cast<int64_t>(src.size()), dst.data(),
                                  static_cast<int64_t>(dst.size()));
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(b->tag, 'i');
    Bytes out = contents(b);
    destroy_buffer(b);
    return out;
}

// Applies 'delta' to 'src'; *ok tells whether a buffer came back.
Bytes apply(const Bytes &src, const Bytes &delta, bool *ok) {
    buffer_rec *b = apply_diff(src.data(), static_cast<int64_t>(src.size()), delta.data(),
                               static_cast<int64_t>(delta.size()));
    *ok = b != nullptr;
    if (!b) return {};
    EXPECT_EQ(b->tag, 'i');
    Bytes out = contents(b);
    destroy_buffer(b);
    return out;
}

// A bare operation stream head for 'src' and 'dst'.
Bytes head(const Bytes &src, const Bytes &dst) {
    Bytes s;
    put32(s, static_cast<uint32_t>(dst.size()));
    put32(s, crc(src));
    put32(s, crc(dst));
    return s;
}

// 'stream' packed as a container.
Bytes container(const Bytes &stream) {
    Bytes out = {'d', 's', 't', 0};
    put32(out, static_cast<uint32_t>(stream.size()));
    std::vector<char> packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(stream.size()))));
    const int n = LZ4_compress_default(reinterpret_cast<const char *>(stream.data()), packed.data(),
                                       static_cast<int>(stream.size()), static_cast<int>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.begin() + n);
    return out;
}

std::string line(const char *format, int marker) {
    char buf[96];
    snprintf(buf, sizeof buf, format, marker);
    return buf;
}

Bytes random_bytes(std::mt19937 &rng, size_t n, int top = 256) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(rng() % static_cast<unsigned>(top));
    return b;
}

// Lines of Lua-like source: identifiers from a fixed vocabulary, numbers and
// strings.
Bytes lua_like_text(std::mt19937 &rng, size_t n) {
    std::vector<std::string> words;
    for (int i = 0; i < 400; i++) {
        std::string w;
        for (size_t k = 0, len = 3 + rng() % 8; k < len; k++) w += static_cast<char>('a' + rng() % 26);
        words.push_back(w);
    }
    static const char *const forms[] = {"local %s = %s(%d, \"%s\")\n", "if %s.%s > %d then %s() end\n",
                                        "  %s[%d] = %s + %s\n", "function %s(%s)\n  return %d\nend\n"};
    Bytes out;
    char line[256];
    while (out.size() < n) {
        auto w = [&] { return words[rng() % words.size()].c_str(); };
        const int k = static_cast<int>(rng() % 4);
        const int num = static_cast<int>(rng() % 1000);
        switch (k) {
            case 0: snprintf(line, sizeof line, forms[0], w(), w(), num, w()); break;
            case 1: snprintf(line, sizeof line, forms[1], w(), w(), num, w()); break;
            case 2: snprintf(line, sizeof line, forms[2], w(), num, w(), w()); break;
            default: snprintf(line, sizeof line, forms[3], w(), w(), num); break;
        }
        out.insert(out.end(), line, line + strlen(line));
    }
    out.resize(n);
    return out;
}

}  // namespace

TEST(Delta, EqualHundredByteInputsGiveOneCopyInAnEighteenByteStream) {
    Bytes a(100);
    for (size_t i = 0; i < a.size(); i++) a[i] = static_cast<uint8_t>(i * 7 + 1);
    Bytes want = head(a, a);
    want.insert(want.end(), {0, 100, 0, 0, 0, 0});
    const Bytes delta = generate(a, a);
    EXPECT_EQ(stream_of(delta), want);
    bool ok = false;
    EXPECT_EQ(apply(a, delta, &ok), a);
    EXPECT_TRUE(ok);
}

TEST(Delta, EmptyDestinationIsOnlyTheHeadAndRebuildsEmpty) {
    const Bytes src = {1, 2, 3};
    const Bytes delta = generate(src, {});
    EXPECT_EQ(stream_of(delta), head(src, {}));
    bool ok = false;
    EXPECT_TRUE(apply(src, delta, &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(Delta, ShortDestinationIsOneLiteralWithoutCopy) {
    const Bytes src = {1, 2, 3, 4, 5, 6, 7};
    Bytes want = head(src, src);
    want.push_back(7);
    want.insert(want.end(), src.begin(), src.end());
    EXPECT_EQ(stream_of(generate(src, src)), want);
}

TEST(Delta, LiteralOf300BytesTakesTheLongLengthForm) {
    std::mt19937 rng(5);
    const Bytes dst = random_bytes(rng, 300);
    const Bytes s = stream_of(generate({}, dst));
    ASSERT_EQ(s.size(), 12u + 5 + 300);
    EXPECT_EQ(Bytes(s.begin() + 12, s.begin() + 17), (Bytes{0xFF, 0x2C, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Bytes(s.begin() + 17, s.end()), dst);
}

TEST(Delta, HashIndexFindsMovedText) {
    // The source's text moved 50 bytes right: the copy comes from the index.
    Bytes src(4000);
    for (size_t i = 0; i < src.size(); i++) src[i] = static_cast<uint8_t>('a' + (i * i / 7) % 26);
    Bytes dst(50, '#');
    dst.insert(dst.end(), src.begin(), src.end());
    const Bytes delta = generate(src, dst);
    EXPECT_LT(delta.size(), 200u);
    bool ok = false;
    EXPECT_EQ(apply(src, delta, &ok), dst);
}

TEST(Delta, FindMatchLenStopsAtTheShorterEnd) {
    const uint8_t a[] = "abcdefghijklmnopq", b[] = "abcdefghijklmnopX";
    EXPECT_EQ(find_match_len(a, b, a + 17, b + 17), 16);
    EXPECT_EQ(find_match_len(a, b, a + 5, b + 17), 5);
    EXPECT_EQ(find_match_len(a, b, a + 17, b + 9), 9);
    EXPECT_EQ(find_match_len(a, b, a, b + 9), 0);
    EXPECT_EQ(find_match_len(a + 3, b, a, b + 9), 0);
    EXPECT_EQ(find_match_len(a + 2, b, a + 17, b + 17), 0);
}

TEST(Delta, RebuildsTheDestinationOverRandomEdits) {
    std::mt19937 rng(11);
    // Lengths near the format's edges; bytes above 127 make the search hash
    // miss the index, which must cost only compression.
    const size_t lengths[] = {0, 1, 6, 7, 8, 9, 30, 31, 32, 33, 254, 255, 256, 257, 1000, 5000};
    for (size_t src_len : lengths) {
        for (size_t dst_len : lengths) {
            for (int top : {256, 128, 3}) {
                const Bytes src = random_bytes(rng, src_len, top);
                Bytes dst = random_bytes(rng, dst_len, top);
                // Splice in pieces of the source at random places.
                for (size_t k = 0; k + 1 < std::min(src_len, dst_len) / 16 + 2 && src_len > 0; k++) {
                    const size_t from = rng() % src_len, len = std::min<size_t>(src_len - from, rng() % 300);
                    const size_t at = dst_len ? rng() % dst_len : 0;
                    const size_t n = std::min(len, dst_len - at);
                    std::copy(src.begin() + from, src.begin() + from + n, dst.begin() + at);
                }
                bool ok = false;
                ASSERT_EQ(apply(src, generate(src, dst), &ok), dst) << src_len << " " << dst_len << " " << top;
                ASSERT_TRUE(ok);
            }
        }
    }
}

TEST(Delta, RebuildsEditedMegabytesCompactly) {
    std::mt19937 rng(13);
    const Bytes src = lua_like_text(rng, 1 << 20);
    Bytes scattered = src;
    for (int k = 0; k < 10000; k++) scattered[rng() % scattered.size()] = static_cast<uint8_t>(rng());
    Bytes inserted = src;
    inserted.insert(inserted.begin() + 1000, 4096, 0xE9);
    Bytes both = scattered;
    both.insert(both.begin() + 1000, 4096, 0xE9);
    both.erase(both.begin() + 500000, both.begin() + 503000);
    const struct {
        const char *what;
        const Bytes &dst;
        size_t most;  // delta bytes at most
    } cases[] = {
        {"1% scattered", scattered, 100000},
        {"4 KB inserted", inserted, 2000},
        {"both and a deletion", both, 1 << 20},
    };
    for (const auto &c : cases) {
        const Bytes delta = generate(src, c.dst);
        EXPECT_LT(delta.size(), c.most) << c.what;
        bool ok = false;
        EXPECT_EQ(apply(src, delta, &ok), c.dst) << c.what;
        EXPECT_TRUE(ok);
    }
}

TEST(Delta, SkewedLengthsRebuild) {
    std::mt19937 rng(17);
    const Bytes small = random_bytes(rng, 40);
    Bytes big;
    for (int i = 0; i < 3000; i++) big.insert(big.end(), small.begin(), small.end());
    bool ok = false;
    EXPECT_EQ(apply(small, generate(small, big), &ok), big);
    EXPECT_EQ(apply(big, generate(big, small), &ok), small);
    EXPECT_EQ(apply({}, generate({}, big), &ok), big);
    EXPECT_TRUE(apply(big, generate(big, {}), &ok).empty());
}

TEST(Delta, WrongSourceIsRefusedWithTheSourceLineAndItsMarker) {
    const Bytes src = {'s', 'o', 'u', 'r', 'c', 'e', 's', 'o', 'u', 'r', 'c', 'e'};
    const Bytes dst = {'d', 'e', 's', 't'};
    Bytes bare = head(src, dst);
    bare.push_back(4);
    bare.insert(bare.end(), dst.begin(), dst.end());
    for (const auto &[delta, marker] : {std::pair{container(bare), 1}, std::pair{bare, 0}}) {
        bool ok = true;
        apply(src, delta, &ok);
        ASSERT_TRUE(ok);
        fake_host::reset();
        const Bytes other = {'o', 't', 'h', 'e', 'r'};
        apply(other, delta, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(fake_host::log_text(), line(DELTA_FAILED_SRC_MESSAGE, marker));
        // An empty source needs a stored source CRC of 0.
        fake_host::reset();
        apply({}, delta, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(fake_host::log_text(), line(DELTA_FAILED_SRC_MESSAGE, marker));
    }
}

TEST(Delta, WrongDestinationIsRefusedWithTheDestinationLineAndItsMarker) {
    const Bytes src = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes dst = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '!'};
    auto with_ops = [&](uint32_t declared_len, uint32_t declared_crc, const Bytes &ops) {
        Bytes s;
        put32(s, declared_len);
        put32(s, crc(src));
        put32(s, declared_crc);
        s.insert(s.end(), ops.begin(), ops.end());
        return s;
    };
    const Bytes good_ops = {0, 10, 0, 0, 0, 0, 1, '!'};
    const struct {
        const char *what;
        Bytes stream;
    } cases[] = {
        {"damaged byte", with_ops(11, crc(dst), {0, 10, 0, 0, 0, 0, 1, '?'})},
        {"copy beyond the source is skipped", with_ops(11, crc(dst), {0, 10, 1, 0, 0, 0, 1, '!'})},
        {"result shorter than declared", with_ops(12, crc(dst), good_ops)},
        {"result longer than declared", with_ops(10, crc(dst), good_ops)},
        {"literal past the stream", with_ops(11, crc(dst), {0, 10, 0, 0, 0, 0, 2, '!'})},
        {"long literal past the stream", with_ops(11, crc(dst), {255, 1, 0})},
        {"copy position cut off", with_ops(11, crc(dst), {0, 10, 0, 0})},
        {"copy length cut off", with_ops(11, crc(dst), {0, 255, 10, 0})},
    };
    for (const auto &c : cases) {
        for (const auto &[delta, marker] : {std::pair{container(c.stream), 1}, std::pair{c.stream, 0}}) {
            fake_host::reset();
            bool ok = true;
            apply(src, delta, &ok);
            EXPECT_FALSE(ok) << c.what;
            EXPECT_EQ(fake_host::log_text(), line(DELTA_FAILED_DST_MESSAGE, marker)) << c.what;
        }
    }
    bool ok = false;
    EXPECT_EQ(apply(src, with_ops(11, crc(dst), good_ops), &ok), dst);
    EXPECT_TRUE(ok);
}

TEST(Delta, ShortOrLyingContainersGiveNullWithoutReading) {
    const Bytes src = {1, 2, 3};
    const Bytes good = generate(src, {9, 9});
    auto lying = [&](uint32_t declared) {
        Bytes c = good;
        memcpy(c.data() + 4, &declared, 4);
        return c;
    };
    const uint32_t packed = static_cast<uint32_t>(good.size() - 8);
    const struct {
        const char *what;
        Bytes delta;
    } cases[] = {
        {"empty", {}},
        {"under eight bytes", {'d', 's', 't', 0, 20, 0, 0}},
        {"bare stream under twelve bytes", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"declared stream under its head", lying(11)},
        {"declared stream beyond the LZ4 ratio", lying(255 * packed + 1)},
        {"declared stream of 4 GB", lying(0xFFFFFFFF)},
        {"LZ4 block cut short", Bytes(good.begin(), good.end() - 1)},
        {"LZ4 block damaged", [&] { Bytes c = good; c[8] = 0xFF; c.resize(10); return c; }()},
    };
    for (const auto &c : cases) {
        fake_host::reset();
        bool ok = true;
        apply(src, c.delta, &ok);
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(fake_host::log_text(), "") << c.what;
    }
    bool ok = false;
    EXPECT_EQ(apply(src, good, &ok), (Bytes{9, 9}));
}
