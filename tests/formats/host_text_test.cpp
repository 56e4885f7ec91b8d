// Host text conversion: zenscii to UTF-8, UTF-8/16/32 back to zenscii, the
// byte-order marks, transcoding and matching at the end of the text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_host.h"
#include "host_text.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const Bytes &zenscii) {
    std::string text(zenscii.begin(), zenscii.end());
    buffer_rec *b = encode_host_text(text.c_str());
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(b->tag, 'i');
    Bytes out(b->data, b->data + b->length);
    destroy_buffer(b);
    return out;
}

// Decodes exactly the bytes of 'host' from a record over an array of that
// size, so ASan sees any read past the end.
Bytes decode(const Bytes &host) {
    auto *exact = new uint8_t[host.size() ? host.size() : 1];
    std::copy(host.begin(), host.end(), exact);
    buffer_rec in{host.size(), exact, 't', static_cast<int32_t>(host.size()), 0};
    buffer_rec *b = decode_host_text(&in);
    delete[] exact;
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(b->tag, 'i');
    Bytes out(b->data, b->data + b->length);
    destroy_buffer(b);
    return out;
}

// UTF-16 code units as bytes, little- or big-endian.
Bytes utf16(std::initializer_list<uint16_t> units, bool big = false) {
    Bytes out;
    for (uint16_t u : units) {
        const uint8_t lo = static_cast<uint8_t>(u), hi = static_cast<uint8_t>(u >> 8);
        out.push_back(big ? hi : lo);
        out.push_back(big ? lo : hi);
    }
    return out;
}

}  // namespace

TEST(HostText, EncodesZensciiCodesAsTheirUnicodeForms) {
    const struct {
        Bytes zenscii;
        Bytes utf8;
    } cases[] = {
        {{128}, {0xE2, 0x96, 0x88}},
        {{130}, {0xF0, 0x9F, 0x90, 0xB1}},
        {{131}, {0xE2, 0xAC, 0x87, 0xEF, 0xB8, 0x8F}},
        {{142}, {0xF0, 0x9F, 0x85, 0xBE, 0xEF, 0xB8, 0x8F}},  // seven bytes, no NUL in the entry
        {{'A', 9, 10, 13}, {'A', 9, 10, 13}},
        {{127}, {0xE2, 0x97, 0x8B}},
        {{1}, {0xC2, 0xB9}},
        {{4}, {0xE2, 0x81, 0xB4}},
        {{16}, {0xE2, 0x96, 0xAE}},
        {{154}, {0xE3, 0x81, 0x82}},
        {{204}, {0xE3, 0x82, 0xA2}},
        {{253}, {0xE3, 0x83, 0xA7}},
        {{255}, {0xE2, 0x97, 0x9D}},
        {{'a', 0, 'b'}, {'a'}},  // NUL ends the text
    };
    for (const auto &c : cases) EXPECT_EQ(encode(c.zenscii), c.utf8) << int(c.zenscii[0]);
    EXPECT_EQ(encode_host_text(nullptr), nullptr);
    EXPECT_EQ(decode_host_text(nullptr), nullptr);
}

TEST(HostText, EveryCodeButCarriageReturnRoundTrips) {
    Bytes all;
    for (int c = 1; c < 256; c++) {
        if (c == 13) continue;
        all.push_back(static_cast<uint8_t>(c));
        EXPECT_EQ(decode(encode({static_cast<uint8_t>(c)})), Bytes{static_cast<uint8_t>(c)}) << c;
    }
    EXPECT_EQ(decode(encode(all)), all);
}

TEST(HostText, DecodesTheMappedAndLeavesTheUnmapped) {
    const struct {
        const char *what;
        Bytes utf8;
        Bytes zenscii;
    } cases[] = {
        {"sans-serif italic A", {0xF0, 0x9D, 0x98, 0xA2}, {'A'}},
        {"arrow without its selector", {0xE2, 0xAC, 0x87, 'x'}, {0xE2, 0xAC, 0x87, 'x'}},
        {"superscript nine", {0xE2, 0x81, 0xB9}, {0xE2, 0x81, 0xB9}},
        {"superscript zero", {0xE2, 0x81, 0xB0}, {0xE2, 0x81, 0xB0}},
        {"CR LF", {'a', 13, 10, 'b', 13}, {'a', 10, 'b'}},
        {"e acute", {'h', 0xC3, 0xA9}, {'h', 0xC3, 0xA9}},
        {"ideographic comma", {0xE3, 0x80, 0x81}, {28}},
        {"katakana", {0xE3, 0x82, 0xA2, 0xE3, 0x81, 0x82}, {204, 154}},
        {"superscript b", {0xE1, 0xB5, 0x87}, {11}},
    };
    for (const auto &c : cases) EXPECT_EQ(decode(c.utf8), c.zenscii) << c.what;
}

TEST(HostText, ByteOrderMarksChooseTheForm) {
    const struct {
        const char *what;
        Bytes host;
        Bytes zenscii;
    } cases[] = {
        {"UTF-8", {0xEF, 0xBB, 0xBF, 'h', 'i'}, {'h', 'i'}},
        {"UTF-32LE", {0xFF, 0xFE, 0, 0, 'h', 0, 0, 0, 'i', 0, 0, 0}, {'h', 'i'}},
        {"UTF-16LE", {0xFF, 0xFE, 'h', 0, 'i', 0}, {'h', 'i'}},
        {"UTF-16BE", {0xFE, 0xFF, 0, 'h', 0, 'i'}, {'h', 'i'}},
        {"UTF-32BE", {0, 0, 0xFE, 0xFF, 0, 0, 0, 'h', 0, 0, 0, 'i'}, {'h', 'i'}},
        {"FE FF 00 00 is UTF-8", {0xFE, 0xFF, 0, 0}, {0xFE, 0xFF, 0, 0}},
        {"no mark", {'h', 'i'}, {'h', 'i'}},
        {"mark alone", {0xFF, 0xFE}, {}},
        {"empty", {}, {}},
    };
    for (const auto &c : cases) EXPECT_EQ(decode(c.host), c.zenscii) << c.what;
}

TEST(HostText, WideFormsAreTranscodedBeforeMatching) {
    Bytes le = {0xFF, 0xFE}, be = {0xFE, 0xFF};
    auto with = [](Bytes mark, const Bytes &units) {
        mark.insert(mark.end(), units.begin(), units.end());
        return mark;
    };
    const struct {
        const char *what;
        Bytes host;
        Bytes zenscii;
    } cases[] = {
        {"e acute keeps the rest", with(le, utf16({'h', 0xE9, 'i'})), {'h', 0xC3, 0xA9, 'i'}},
        {"star LE", with(le, utf16({0x2605})), {146}},
        {"star BE", with(be, utf16({0x2605}, true)), {146}},
        {"U+3000 does not end the text", with(le, utf16({0x3000, 'A'})), {0xE3, 0x80, 0x80, 'A'}},
        {"surrogate pair", with(le, utf16({0xD83D, 0xDC31})), {130}},
        {"glyph with selector", with(le, utf16({0x2B07, 0xFE0F})), {131}},
        {"lone high surrogate", with(le, utf16({'a', 0xD83D, 'b'})), {'a', 'b'}},
        {"lone low surrogate", with(le, utf16({'a', 0xDC31})), {'a'}},
        {"high surrogate at the end", with(le, utf16({'a', 0xD83D})), {'a'}},
        {"trailing partial unit", with(le, {'a', 0, 'b'}), {'a'}},
        {"CR LF", with(le, utf16({'a', 13, 10})), {'a', 10}},
        {"UTF-32 beyond Unicode", {0xFF, 0xFE, 0, 0, 'a', 0, 0, 0, 0, 0, 0x11, 0, 0x22, 0xD6, 1, 0},
         {'a', 'A'}},
    };
    for (const auto &c : cases) EXPECT_EQ(decode(c.host), c.zenscii) << c.what;
}

TEST(HostText, GlyphSequencesCutAtTheEndStayAsBytes) {
    // Every prefix of every multi-byte form, alone at the end of the text.
    for (int c = 1; c < 256; c++) {
        const Bytes full = encode({static_cast<uint8_t>(c)});
        for (size_t cut = 1; cut < full.size(); cut++) {
            Bytes host = {'x'};
            host.insert(host.end(), full.begin(), full.begin() + static_cast<long>(cut));
            const Bytes got = decode(host);
            ASSERT_FALSE(got.empty());
            EXPECT_EQ(got[0], 'x');
        }
    }
    EXPECT_EQ(decode({0xE2, 0xAC, 0x87, 0xEF, 0xB8}), (Bytes{0xE2, 0xAC, 0x87, 0xEF, 0xB8}));
    EXPECT_EQ(decode({0xF0, 0x9F, 0x90}), (Bytes{0xF0, 0x9F, 0x90}));
    EXPECT_EQ(decode({0xE3, 0x81}), (Bytes{0xE3, 0x81}));
}
