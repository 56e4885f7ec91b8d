// Pod stored formats, built byte by byte from the record layouts rather
// than by our writer, and the reader's hardening: truncations, LZ4 sizes,
// depth and memory caps.
#include <lz4.h>

#include <cstdlib>
#include <cstring>

#include "fake_host.h"
#include "pod_fixture.h"

namespace {

std::string lz4_block(const std::string &raw) {
    std::string block(size_t(LZ4_compressBound(int(raw.size()))), '\0');
    const int k = LZ4_compress_default(raw.data(), block.data(), int(raw.size()), int(block.size()));
    block.resize(size_t(k));
    return block;
}

// "lz4" NUL, u32 compressed size, u32 raw size (given), the block.
std::string lz4_record(const std::string &raw, uint32_t raw_size) {
    const std::string block = lz4_block(raw);
    return std::string("lz4\0", 4) + le32(uint32_t(block.size())) + le32(raw_size) + block;
}
std::string lz4_record(const std::string &raw) { return lz4_record(raw, uint32_t(raw.size())); }

std::string str_record(const std::string &s) { return std::string("str\0", 4) + le32(uint32_t(s.size())) + s; }

std::string b64(const std::string &bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int k = 3; k >= 0; k--) out += alphabet[(v >> (6 * k)) & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += "=";
    }
    return out;
}

std::string b64_wrapper(const std::string &text) { return "unpod(\"b64:" + b64(text) + "\")"; }

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += char(b);
    return s;
}

class PodFormats : public PodTest {
  protected:
    // Reads a heap copy of exactly 'text' and its NUL, so that any read past
    // them is caught; returns the count and checks the stack balance.
    int read_exact(const std::string &text) {
        char *copy = static_cast<char *>(malloc(text.size() + 1));
        memcpy(copy, text.data(), text.size());
        copy[text.size()] = 0;
        const int top = lua_gettop(L());
        const int n = destringify_object(L(), copy, int64_t(text.size()));
        EXPECT_EQ(lua_gettop(L()) - top, n);
        lua_settop(L(), top);
        free(copy);
        return n;
    }
};

TEST_F(PodFormats, RecordsBuiltFromTheirLayoutsReadBack) {
    const std::string pxu_coded = std::string("pxu\0", 4) + bytes({0x03, 0x20, 0x04, 0x04, 0x37});
    const std::string pxu_uncoded = std::string("pxu\0", 4) + bytes({0x03, 0x10, 0x04, 1, 2, 3, 4});
    const std::string pxu_legacy =
        std::string("pxu\0", 4) + le32(4) + le32(1) + le32(1) + bytes({0x03, 0x04, 0x37});
    // 300 zeros: one code F0 with the excess 284 as extension bytes 255, 29.
    const std::string pxu_wide = std::string("pxu\0", 4) + bytes({0x03, 0x28}) + le32(300) + bytes({0x04, 0xF0, 0xFF, 29});
    const std::string pxu_2d = std::string("pxu\0", 4) + bytes({0x43, 0x20, 0x02, 0x02, 0x04, 0x11, 0x0F, 200, 0x01});
    const std::string pxu_unknown = std::string("pxu\0", 4) + bytes({0x03, 0x30, 0x03});
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {str_record("abc"), "\"abc\""},
        {str_record(""), "\"\""},
        {str_record(std::string("a\0\"b", 4)), "\"a\\0\\34b\""},
        {"{" + str_record("x") + "," + str_record("y") + "}", "{[1]=\"x\",[2]=\"y\"}"},
        {"{k=" + str_record("v") + "}", "{[\"k\"]=\"v\"}"},
        {lz4_record("{1,2,3}"), "{[1]=1,[2]=2,[3]=3}"},
        {lz4_record("{s=\"" + std::string(1000, 'z') + "\"}"), "{[\"s\"]=\"" + std::string(1000, 'z') + "\"}"},
        {"{a=" + lz4_record("--[[pod,m=1]]{2}") + "}", "{[\"a\"]={[1]=2}}"},
        {pxu_coded, "ud(4x1 u8 1: 7 7 7 7)"},
        {pxu_uncoded, "ud(4x1 u8 1: 1 2 3 4)"},
        {pxu_legacy, "ud(4x1 u8 2: 7 7 7 7)"},
        {pxu_2d, "ud(2x2 u8 2: 1 1 200 1)"},
        {pxu_unknown, "ud(3x1 u8 1: 0 0 0)"},
        {"{" + pxu_unknown + ",5}", "{[1]=ud(3x1 u8 1: 0 0 0),[2]=5}"},
        {"{" + pxu_coded + "," + pxu_uncoded + "}", "{[1]=ud(4x1 u8 1: 7 7 7 7),[2]=ud(4x1 u8 1: 1 2 3 4)}"},
        {"userdata(\"[gfx]0302a_-\")", "ud(3x2 u8 2: 10 62 63 0 0 0)"},
        {b64_wrapper("{1,2,3}"), "{[1]=1,[2]=2,[3]=3}"},
        {b64_wrapper(lz4_record("{x=1}")), "{[\"x\"]=1}"},
        {"--[[pod_format=\"raw\"]]\n" + std::string("\0\xff", 2), "\"\\0\\255\" meta {[\"pod_format\"]=\"raw\"}"},
        {"--[[pod,a=1]]\n" + lz4_record("{9}"), "{[1]=9} meta {[\"a\"]=1}"},
    };
    for (const auto &c : cases) EXPECT_EQ(read_show(c.text), c.shown) << c.shown;
    // The wide-size record, read whole: 300 zeros.
    ASSERT_EQ(read(pxu_wide), 1);
    EXPECT_EQ(eval("#V1 .. ' ' .. V1:width() .. ' ' .. V1[0] .. V1[299]"), "300 300 00");
}

TEST_F(PodFormats, RefusedOrBrokenPxuRecordsFailTheText) {
    const std::string head = std::string("pxu\0", 4);
    const std::string cases[] = {
        head + bytes({0x03, 0x20, 0x04, 0x07, 0x37}),        // bit count 7
        head + bytes({0x03, 0x20, 0x04, 0x00, 0x37}),        // bit count 0
        head + bytes({0x83, 0x20, 0x01, 0x01, 0x01, 0x04, 0x07}),  // three dimensions
        head + bytes({0x03, 0x20, 0x00, 0x04}),              // no elements
        head + bytes({0x03, 0x10}) + "",                     // sizes missing
        head + bytes({0x03, 0x28}) + le32(0x1000001) + bytes({0x04, 0xF0}),  // over 16 MiB
        head + bytes({0x03, 0x20, 0x10, 0x04, 0x37}),        // codes end before 16 elements
    };
    for (const auto &c : cases) {
        EXPECT_EQ(read_exact(c), 0);
        EXPECT_EQ(read_exact("{1," + c + ",2}"), 0);
    }
}

TEST_F(PodFormats, EveryTruncationOfTextsHoldingEachRecordFailsCleanly) {
    const std::string pxu_coded = std::string("pxu\0", 4) + bytes({0x03, 0x20, 0x04, 0x04, 0x1F, 200, 0x17});
    const std::string texts[] = {
        "{" + str_record("hello") + "}",
        "{" + lz4_record("{1,2,3,\"abc\"}") + "}",
        "{" + pxu_coded + "}",
        "{" + std::string("pxu\0", 4) + bytes({0x03, 0x10, 0x03, 1, 2, 3}) + "}",
        "{" + std::string("pxu\0", 4) + le32(4) + le32(1) + le32(1) + bytes({0x03, 0x04, 0x37}) + "}",
        "{" + std::string("pxu\0", 4) + bytes({0x03, 0x28}) + le32(300) + bytes({0x04, 0xF0, 0xFF, 29}) + "}",
        "{" + b64_wrapper("{1,2}") + "}",
        "{userdata(\"u8\",3,\"0102ff\"),userdata(\"[gfx]0201ab\")}",
        "{s=\"a\\065\\n\",t={1,2},[3]=inf}",
        "--[[pod,a=1]]\n{1}",
    };
    for (const auto &t : texts) {
        ASSERT_GE(read_exact(t), 1) << t;
        for (size_t n = 0; n < t.size(); n++) EXPECT_EQ(read_exact(t.substr(0, n)), 0) << t.substr(0, n);
    }
}

TEST_F(PodFormats, Lz4RecordsWithImpossibleSizesFail) {
    fake_host::reset();
    const std::string raw = "{" + std::string(2000, '1') + "}";
    const std::string block = lz4_block(raw);
    const uint32_t k = uint32_t(block.size());
    auto record = [&](uint32_t r) { return std::string("lz4\0", 4) + le32(k) + le32(r) + block; };
    EXPECT_EQ(read_exact(record(uint32_t(raw.size()))), 1);
    EXPECT_EQ(fake_host::log_text(), "");
    // Beyond LZ4's ratio: refused before decoding, without a message.
    EXPECT_EQ(read_exact(record(255 * k + 1)), 0);
    EXPECT_EQ(fake_host::log_text(), "");
    // One too large: the sizes message with the decoded length and the raw size.
    EXPECT_EQ(read_exact(record(uint32_t(raw.size()) + 1)), 0);
    EXPECT_EQ(fake_host::log_text(), "reading corrupt lz4 value // sizes do not match: 2002 2003\n");
    fake_host::reset();
    EXPECT_EQ(read_exact(record(uint32_t(raw.size()) - 1)), 0);
    EXPECT_NE(fake_host::log_text().find("sizes do not match: -"), std::string::npos);
    // A compressed size reaching past the end.
    EXPECT_EQ(read_exact(std::string("lz4\0", 4) + le32(k + 1) + le32(uint32_t(raw.size())) + block), 0);
    // More than 256 MiB raw.
    const std::string junk(1100000, 'x');
    EXPECT_EQ(read_exact(std::string("lz4\0", 4) + le32(uint32_t(junk.size())) + le32((256u << 20) + 1) + junk), 0);
    // An inner base64 or LZ4 text that fails fails the whole text.
    EXPECT_EQ(read_exact("{1," + lz4_record("{1,,2}") + "}"), 0);
    EXPECT_EQ(read_exact("{1," + b64_wrapper("{1,,2}") + "}"), 0);
}

TEST_F(PodFormats, DecodedTextsHeldAtOnceAreCappedAt256MiB) {
    auto nested = [](size_t outer_pad) {
        const std::string inner = lz4_record("1" + std::string(100u << 20, ' '));
        return lz4_record("{" + inner + "}" + std::string(outer_pad, ' '));
    };
    EXPECT_EQ(read_exact(nested(1u << 20)), 1);
    EXPECT_EQ(read_exact(nested(160u << 20)), 0);
}

TEST_F(PodFormats, At256MixedLevelsTextsReadAnd257Fail) {
    // Levels from the inside out: tables, with an LZ4 record every 16th
    // level and a base64 value every 16th level offset by 8.
    auto build = [](int levels) {
        std::string s = "1";
        for (int i = 1; i <= levels; i++) {
            if (i % 16 == 0) {
                s = lz4_record(s);
            } else if (i % 16 == 8) {
                s = b64_wrapper(s);
            } else {
                s = "{" + s + "}";
            }
        }
        return s;
    };
    EXPECT_EQ(read_exact(build(256)), 1);
    EXPECT_EQ(read_exact(build(257)), 0);
    EXPECT_EQ(read_exact(std::string(256, '{') + std::string(256, '}')), 1);
    EXPECT_EQ(read_exact(std::string(257, '{') + std::string(257, '}')), 0);
    // Wrappers nest without using the C stack.
    std::string wrapped;
    for (int i = 0; i < 100000; i++) wrapped += "unpod(\"";
    EXPECT_EQ(read_exact(wrapped + "7"), 1);
}

}  // namespace
