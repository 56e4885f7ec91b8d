// Base64 variant: vectors, skipping, pieces of any size, and round trips.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base64.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

// Encodes 'in' in pieces that end at the given cut positions.
std::string encode(const Bytes &in, const std::vector<size_t> &cuts = {}) {
    std::string out(4 * (in.size() / 3 + 2) + 8, '\0');
    base64_encodestate st;
    base64_init_encodestate(&st);
    int64_t n = 0;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(in.size());
    for (size_t to : ends) {
        n += base64_encode_block(in.data() + from, static_cast<int64_t>(to - from), &out[n], &st);
        from = to;
    }
    n += base64_encode_blockend(&out[n], &st);
    out.resize(static_cast<size_t>(n));
    return out;
}

// Decodes 'in' in pieces that end at the given cut positions.
Bytes decode(const std::string &in, const std::vector<size_t> &cuts = {}) {
    Bytes out(in.size() + 4);
    base64_decodestate st;
    base64_init_decodestate(&st);
    int64_t n = 0;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(in.size());
    for (size_t to : ends) {
        n += base64_decode_block(in.data() + from, static_cast<int64_t>(to - from), &out[n], &st);
        from = to;
    }
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace

TEST(Base64, EncodesTheVectorsWithItsOwnAlphabetAndPadding) {
    const struct {
        Bytes in;
        const char *text;
    } cases[] = {
        {bytes_of(""), ""},
        {bytes_of("abc"), "YWJj"},
        {bytes_of("a"), "YQ=="},
        {bytes_of("ab"), "YWI="},
        {{0xFB, 0xFF}, "_-8="},
        {{0xFF, 0xFF, 0xFF}, "----"},
        {{0x00, 0x10, 0x83}, "ABCD"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(encode(c.in), c.text);
        EXPECT_EQ(decode(c.text), c.in) << c.text;
    }
}

TEST(Base64, HundredBytesGiveOneLineOf136Characters) {
    Bytes in(100);
    for (size_t i = 0; i < in.size(); i++) in[i] = static_cast<uint8_t>(i * 37);
    const std::string text = encode(in);
    EXPECT_EQ(text.size(), 136u);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.substr(132), "Tw==");
    EXPECT_EQ(decode(text), in);
}

TEST(Base64, DecodingSkipsEveryCharacterOutsideTheAlphabet) {
    const struct {
        const char *text;
        Bytes out;
    } cases[] = {
        {"YW Jj", bytes_of("abc")},
        {"YWJj\n", bytes_of("abc")},
        {"\r\nY\tW=J j==", bytes_of("abc")},
        {"YQ", bytes_of("a")},
        {"Y", {}},
        {"+/8=", {}},            // '+' and '/' belong to the common alphabet only
        {"YQ==YQ==", {0x61, 0x06, 0x10}},  // padding is skipped, not an end
    };
    for (const auto &c : cases) EXPECT_EQ(decode(c.text), c.out) << c.text;
}

TEST(Base64, ValueMappingsAtTheEdges) {
    EXPECT_EQ(base64_encode_value(0), 'A');
    EXPECT_EQ(base64_encode_value(62), '_');
    EXPECT_EQ(base64_encode_value(63), '-');
    EXPECT_EQ(base64_encode_value(64), '=');
    EXPECT_EQ(base64_encode_value(-1), '=');
    int valid = 0;
    for (int c = 0; c < 256; c++) {
        const int v = base64_decode_value(static_cast<char>(c));
        if (v == BASE64_INVALID) continue;
        valid++;
        EXPECT_EQ(base64_encode_value(v), static_cast<char>(c));
    }
    EXPECT_EQ(valid, 64);
}

TEST(Base64, SplittingAtEveryPositionGivesTheSameOutput) {
    Bytes in(50);
    for (size_t i = 0; i < in.size(); i++) in[i] = static_cast<uint8_t>(255 - i * 11);
    const std::string whole = encode(in);
    // Spaces and padding inside the text exercise the skipping steps too.
    const std::string noisy = " " + whole.substr(0, 9) + "\n =" + whole.substr(9) + " ";
    for (size_t a = 0; a <= in.size(); a++) {
        for (size_t b = a; b <= in.size(); b += 7) EXPECT_EQ(encode(in, {a, b}), whole);
    }
    for (size_t a = 0; a <= noisy.size(); a++) {
        for (size_t b = a; b <= noisy.size(); b++) ASSERT_EQ(decode(noisy, {a, b}), in) << a << " " << b;
    }
}

TEST(Base64, RandomPiecesRoundTripEveryLength) {
    std::mt19937 rng(7);
    for (size_t len = 0; len < 200; len++) {
        Bytes in(len);
        for (auto &b : in) b = static_cast<uint8_t>(rng());
        std::vector<size_t> cuts;
        for (size_t at = 0; at < len; at += 1 + rng() % 9) cuts.push_back(at);
        const std::string text = encode(in, cuts);
        ASSERT_EQ(text.size(), 4 * ((len + 2) / 3));
        ASSERT_EQ(text, encode(in));
        std::vector<size_t> text_cuts;
        for (size_t at = 0; at < text.size(); at += 1 + rng() % 6) text_cuts.push_back(at);
        ASSERT_EQ(decode(text, text_cuts), in);
    }
}

TEST(Base64, EncoderEndLeavesAFreshState) {
    base64_encodestate st;
    base64_init_encodestate(&st);
    char out[16];
    const uint8_t a = 'a';
    EXPECT_EQ(base64_encode_block(&a, 1, out, &st), 1);
    EXPECT_EQ(base64_encode_blockend(out + 1, &st), 3);
    EXPECT_EQ(std::string(out, 4), "YQ==");
    EXPECT_EQ(base64_encode_blockend(out, &st), 0);
    EXPECT_EQ(base64_encode_block(&a, 0, out, &st), 0);
    EXPECT_EQ(base64_encode_block(&a, -5, out, &st), 0);
}
