// Byte buffer: growth, accounting, construction, binary and hex forms, lines,
// cropping and the length limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "buffer.h"
#include "fake_host.h"

namespace {

std::string contents(const buffer_rec *b) {
    return std::string(reinterpret_cast<const char *>(b->data), static_cast<size_t>(b->length));
}

// A buffer holding 'text' with the cursor at 'cursor'.
buffer_rec *holding(const std::string &text, int32_t cursor = 0) {
    buffer_rec *b = create_buffer_2(0, 't');
    bwrite(text.data(), 1, static_cast<int64_t>(text.size()), b);
    b->cursor = cursor;
    return b;
}

}  // namespace

TEST(Buffer, OneByteIntoCapacityOneGrowsToFourAndCountsTheGrowth) {
    const uint64_t before = get_total_buffer_allocation();
    buffer_rec *b = create_buffer_2(0, 't');
    EXPECT_EQ(b->capacity, 1u);
    EXPECT_EQ(bwrite_uint8(0x41, b), 1);
    EXPECT_EQ(b->capacity, 4u);
    EXPECT_EQ(get_total_buffer_allocation(), before + 4);
    EXPECT_EQ(std::string(to_cstr(b)), "A");
    destroy_buffer(b);
    EXPECT_EQ(get_total_buffer_allocation(), before);
}

TEST(Buffer, CountsLiveBuffersPerGroupTag) {
    const int32_t total = get_total_num_buffers(), p = get_buffer_group_count('p');
    buffer_rec *a = create_buffer_2(10, 'p');
    buffer_rec *b = create_buffer_2(-5, 'p');
    EXPECT_EQ(a->capacity, 11u);
    EXPECT_EQ(b->capacity, 1u);
    EXPECT_EQ(get_total_num_buffers(), total + 2);
    EXPECT_EQ(get_buffer_group_count('p'), p + 2);
    destroy_buffer(a);
    destroy_buffer(b);
    destroy_buffer(nullptr);
    EXPECT_EQ(get_total_num_buffers(), total);
    EXPECT_EQ(get_buffer_group_count('p'), p);
    EXPECT_EQ(get_buffer_group_count(-1), 0);
    EXPECT_EQ(get_buffer_group_count(128), 0);
}

TEST(Buffer, ConstructorsSetTagCapacityLengthAndCursor) {
    buffer_rec *s = create_buffer_from_str("hello");
    EXPECT_EQ(s->tag, 'X');
    EXPECT_EQ(s->capacity, 7u);
    EXPECT_EQ(s->length, 5);
    EXPECT_EQ(s->cursor, 5);
    EXPECT_STREQ(reinterpret_cast<char *>(s->data), "hello");

    s->cursor = 2;
    buffer_rec *y = create_buffer_from_buffer(s);
    EXPECT_EQ(y->tag, 'Y');
    EXPECT_EQ(y->capacity, 8u);  // the source's capacity + 1
    EXPECT_EQ(y->length, 5);
    EXPECT_EQ(y->cursor, 0);
    EXPECT_EQ(contents(y), "hello");

    buffer_rec *q = create_buffer_from_buffer_2(s, 'q');
    EXPECT_EQ(q->tag, 'q');
    EXPECT_EQ(contents(q), "hello");

    buffer_rec *e = create_buffer_from_str(nullptr);
    EXPECT_EQ(e->capacity, 2u);
    EXPECT_EQ(e->length, 0);
    EXPECT_EQ(create_buffer_from_buffer(nullptr), nullptr);
    for (buffer_rec *b : {s, y, q, e}) destroy_buffer(b);
}

TEST(Buffer, LoadsAHostFileInChunksUnderTheGrowthRule) {
    char path[] = "/tmp/quillmar_buffer_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text;
    for (int i = 0; i < 40000; i++) text += static_cast<char>('a' + i % 26);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);

    buffer_rec *b = create_buffer_from_file(path);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->tag, 'u');
    EXPECT_EQ(b->length, 40000);
    EXPECT_EQ(b->cursor, 40000);
    // 4097, then need 16385 doubled, fits 32769, then need 40001 doubled.
    EXPECT_EQ(b->capacity, 80002u);
    EXPECT_EQ(contents(b), text);
    destroy_buffer(b);

    FILE *f = fopen(path, "wb");
    fclose(f);
    b = create_buffer_from_file(path);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->length, 0);
    EXPECT_EQ(b->capacity, 4097u);
    destroy_buffer(b);

    unlink(path);
    EXPECT_EQ(create_buffer_from_file(path), nullptr);
    EXPECT_EQ(create_buffer_from_file(nullptr), nullptr);
}

TEST(Buffer, WriteOfAProductBelowOneWritesNothingAndReturnsTheProduct) {
    buffer_rec *b = holding("abcd", 1);
    EXPECT_EQ(bwrite("zz", 0, 5, b), 0);
    EXPECT_EQ(bwrite("zz", -1, 3, b), -3);
    EXPECT_EQ(contents(b), "abcd");
    EXPECT_EQ(b->cursor, 1);
    destroy_buffer(b);
}

TEST(Buffer, WritingABufferOntoItselfSurvivesTheGrowth) {
    // Its own bytes used to be read from the block the growth had freed.
    buffer_rec *b = create_buffer_from_str("abc");  // capacity 5
    EXPECT_EQ(bwrite(b->data, 1, 3, b), 3);
    EXPECT_EQ(b->capacity, 14u);
    EXPECT_EQ(contents(b), "abcabc");
    b->cursor = 1;
    EXPECT_EQ(bwrite(b->data + 2, 1, 4, b), 4);  // overlapping
    EXPECT_EQ(contents(b), "acabcc");
    destroy_buffer(b);

    b = create_buffer_from_str("q\"");
    EXPECT_EQ(bappend_str(b, to_cstr(b)), 2);
    EXPECT_EQ(bappend_str_escaped(b, to_cstr(b)), 10);
    EXPECT_EQ(bwrite_escaped_string(b->data, b, 2), 3);
    EXPECT_EQ(contents(b), "q\"q\"q\\034q\\034q\\\"");
    destroy_buffer(b);
}

TEST(Buffer, WritesIntegersInBothByteOrders) {
    buffer_rec *b = create_buffer_2(0, 't');
    bwrite_uint16(0x0102, b);
    bwrite_uint32(0x03040506, b);
    bwrite_uint32_big_endian(0x0708090A, b);
    bwrite_uint8_as_hex(0xAB, b);
    EXPECT_EQ(contents(b), std::string("\x02\x01\x06\x05\x04\x03\x07\x08\x09\x0A" "ab"));
    b->cursor = 0;
    EXPECT_EQ(bread_uint16(b), 0x0102);
    EXPECT_EQ(bread_uint32(b), 0x03040506u);
    EXPECT_EQ(bread_uint32_big_endian(b), 0x0708090Au);
    EXPECT_EQ(bread_uint8_hex(b), 0xAB);
    EXPECT_EQ(b->cursor, 12);
    destroy_buffer(b);
}

TEST(Buffer, HexAndTextAppendsGoToTheEndWhateverTheCursor) {
    buffer_rec *b = holding("ab", 0);
    EXPECT_EQ(bwrite_int64_as_hex(-2, b), 16);
    EXPECT_EQ(bwrite_int32_as_hex(0x1234, b), 8);
    EXPECT_EQ(bwrite_int16_as_hex(-1, b), 4);
    b->cursor = 1;
    EXPECT_EQ(bappend_str(b, "!"), 1);
    EXPECT_EQ(bappend_str(b, nullptr), 0);
    EXPECT_EQ(contents(b), "abfffffffffffffffe00001234ffff!");
    EXPECT_EQ(b->cursor, b->length);
    EXPECT_EQ(b->data[b->length], 0);
    destroy_buffer(b);
}

TEST(Buffer, ShortReadsReturnZeroAndLeaveTheCursor) {
    struct Case { const char *what; uint64_t (*read)(buffer_rec *); int fits; };
    const Case cases[] = {
        {"bread_uint8", [](buffer_rec *b) -> uint64_t { return bread_uint8(b); }, 1},
        {"bread_uint16", [](buffer_rec *b) -> uint64_t { return bread_uint16(b); }, 2},
        {"bread_uint32", [](buffer_rec *b) -> uint64_t { return bread_uint32(b); }, 4},
        {"bread_uint32_big_endian", [](buffer_rec *b) -> uint64_t { return bread_uint32_big_endian(b); }, 4},
        {"bread_uint8_hex", [](buffer_rec *b) -> uint64_t { return bread_uint8_hex(b); }, 2},
    };
    for (const auto &c : cases) {
        buffer_rec *b = holding(std::string(c.fits - 1, '7'), 0);
        EXPECT_EQ(c.read(b), 0u) << c.what;
        EXPECT_EQ(b->cursor, 0) << c.what;
        b->cursor = c.fits;  // past the length
        EXPECT_EQ(c.read(b), 0u) << c.what;
        EXPECT_EQ(b->cursor, c.fits) << c.what;
        destroy_buffer(b);
    }
    buffer_rec *b = holding("xyz", 1);
    char out[8] = {};
    EXPECT_EQ(bread(out, 2, 4, b), 2);  // min(length - cursor, size * count)
    EXPECT_EQ(std::string(out), "yz");
    EXPECT_EQ(b->cursor, 3);
    EXPECT_EQ(bread(out, 1, 1, b), 0);
    b->cursor = 0;
    EXPECT_EQ(bread(out, 0, 1, b), 0);
    EXPECT_EQ(bread(out, -1, 2, b), 0);
    EXPECT_EQ(b->cursor, 0);
    destroy_buffer(b);
}

TEST(Buffer, HexTextReadersStopAtTheNul) {
    struct Case { const char *text; int digits; int64_t want; int advance; };
    const Case cases[] = {
        {"7f", 2, 127, 2},          {"ABcd", 2, 0xAB, 2},
        {"7", 2, 0, 1},             {"", 2, 0, 0},
        {"zz", 2, 0, 2},            {"ffff", 4, -1, 4},
        {"ff", 4, 0, 2},            {"8000", 4, -32768, 4},
        {"7fff", 4, 32767, 4},      {"FFFFFFFF", 8, -1, 8},
        {"80000000", 8, INT32_MIN, 8},
        {"0123456789abcdef", 16, 0x0123456789abcdefLL, 16},
        {"fedcba9876543210", 16, static_cast<int64_t>(0xfedcba9876543210ULL), 16},
        {"123", 16, 0, 3},
    };
    for (const auto &c : cases) {
        const char *p = c.text;
        int64_t got = 0;
        switch (c.digits) {
            case 2: got = read_u8_from_hex_str(&p); break;
            case 4: got = read_i16_from_hex_str(&p); break;
            case 8: got = read_i32_from_hex_str(&p); break;
            default: got = read_i64_from_hex_str(&p); break;
        }
        EXPECT_EQ(got, c.want) << c.text;
        EXPECT_EQ(p - c.text, c.advance) << c.text;
    }
    EXPECT_EQ(hex_digit_to_int[static_cast<unsigned char>('g')], 0);
    EXPECT_EQ(hex_digit_to_int[static_cast<unsigned char>('F')], 15);
    EXPECT_EQ(hex_digit_to_int[0xE6], 0);
}

TEST(Buffer, EscapesDifferByteByByte) {
    struct Case { std::string in; std::string decimal; std::string pod; };
    const Case cases[] = {
        {"\n", "\\010", "\\n"},
        {"]", "]", "\\093"},
        {"\x7f", "\x7f", "\\127"},
        {"\"", "\\034", "\\\""},
        {"\\", "\\092", "\\\\"},
        {"\t", "\\009", "\\009"},
        {"\x1f", "\\031", "\\031"},
        {"\xe9", "\\233", "\\233"},
        {"\x80", "\\128", "\\128"},
        {"a ~[", "a ~[", "a ~["},
    };
    for (const auto &c : cases) {
        buffer_rec *b = create_buffer_2(0, 't');
        EXPECT_EQ(bappend_str_escaped(b, c.in.c_str()), static_cast<int64_t>(c.decimal.size()));
        EXPECT_EQ(contents(b), c.decimal) << c.in;
        bclear(b);
        EXPECT_EQ(bwrite_escaped_string(c.in.data(), b, static_cast<int64_t>(c.in.size())),
                  static_cast<int64_t>(c.pod.size()));
        EXPECT_EQ(contents(b), c.pod) << c.in;
        destroy_buffer(b);
    }
}

TEST(Buffer, EscapesOfTheEdgeList) {
    buffer_rec *b = create_buffer_2(0, 't');
    EXPECT_EQ(bappend_str_escaped(b, "\xe9\""), 8);
    EXPECT_EQ(contents(b), "\\233\\034");
    bclear(b);
    EXPECT_EQ(bwrite_escaped_string("a\0]", b, 3), 9);
    EXPECT_EQ(contents(b), "a\\000\\093");
    EXPECT_EQ(bwrite_escaped_string("a", b, 0), 0);
    EXPECT_EQ(bwrite_escaped_string("a", nullptr, 1), 0);
    EXPECT_EQ(bappend_str_escaped(b, ""), 0);
    EXPECT_EQ(contents(b), "a\\000\\093");
    destroy_buffer(b);
}

TEST(Buffer, EscapeLuaStringReusesOneBufferAndNeverShowsAnOldText) {
    const std::string first = escape_lua_string("say \"hi\"\n");
    EXPECT_EQ(first, "say \\034hi\\034\\010");
    const int32_t count = get_total_num_buffers();
    EXPECT_STREQ(escape_lua_string(""), "");
    EXPECT_STREQ(escape_lua_string(nullptr), "");
    EXPECT_STREQ(escape_lua_string("ok"), "ok");
    EXPECT_EQ(get_total_num_buffers(), count);
    EXPECT_EQ(get_buffer_group_count('E'), 1);
}

TEST(Buffer, ReadsLinesEndedByLineFeedOrCarriageReturnLineFeed) {
    buffer_rec *src = holding("ab\r\ncd", 0);
    buffer_rec *line = breadln(src, nullptr);
    EXPECT_EQ(line->tag, 'R');
    EXPECT_EQ(line->capacity, 17u);
    EXPECT_STREQ(reinterpret_cast<char *>(line->data), "ab");
    EXPECT_EQ(src->cursor, 4);
    EXPECT_EQ(breadln(src, line), line);
    EXPECT_STREQ(reinterpret_cast<char *>(line->data), "cd");
    EXPECT_EQ(line->length, 2);
    breadln(src, line);
    EXPECT_EQ(line->length, 0);
    EXPECT_STREQ(reinterpret_cast<char *>(line->data), "");
    destroy_buffer(line);
    destroy_buffer(src);

    struct Case { const char *text; const char *line; int32_t cursor; };
    const Case cases[] = {
        {"a\rb\n", "a\rb", 4}, {"a\r", "a\r", 2}, {"a\r\r\nz", "a\r", 4},
        {"\n", "", 1},         {"\r\n", "", 2},   {"tail", "tail", 4},
    };
    for (const auto &c : cases) {
        buffer_rec *s = holding(c.text, 0);
        buffer_rec *l = breadln(s, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(l->data)), c.line) << c.text;
        EXPECT_EQ(s->cursor, c.cursor) << c.text;
        destroy_buffer(l);
        destroy_buffer(s);
    }
}

TEST(Buffer, CropKeepsARangeAndZeroesTheRest) {
    buffer_rec *b = holding("hello", 5);
    bcrop(b, 2, 100);
    EXPECT_EQ(contents(b), "llo");
    EXPECT_EQ(b->cursor, 3);
    for (uint64_t i = 3; i < b->capacity; i++) ASSERT_EQ(b->data[i], 0) << i;

    bcrop(b, -1, 2);  // nothing
    EXPECT_EQ(contents(b), "llo");
    b->cursor = 1;
    bcrop(b, 2, 1);  // the cursor inside the removed prefix stops at 0
    EXPECT_EQ(contents(b), "o");
    EXPECT_EQ(b->cursor, 0);
    bcrop(b, 1, 5);  // start equal to the length empties
    EXPECT_EQ(b->length, 0);
    EXPECT_EQ(b->cursor, 0);
    destroy_buffer(b);

    b = holding("abc", 3);
    bcrop(b, 0, 0);
    EXPECT_EQ(b->length, 0);
    EXPECT_EQ(b->cursor, 0);
    destroy_buffer(b);
}

TEST(Buffer, AllocateGrowsOnlyWhenNeededAndReturnsZero) {
    buffer_rec *b = holding("abc", 1);
    const uint64_t cap = b->capacity;
    EXPECT_EQ(ballocate(b, 3), 0);
    EXPECT_EQ(b->capacity, cap);
    EXPECT_EQ(ballocate(b, 100), 0);
    EXPECT_EQ(b->capacity, 202u);
    EXPECT_EQ(b->length, 3);
    EXPECT_EQ(b->cursor, 1);
    EXPECT_EQ(ballocate(b, -5), 0);
    EXPECT_EQ(b->capacity, 202u);
    destroy_buffer(b);
}

TEST(Buffer, NullBuffersAreIgnored) {
    bclear(nullptr);
    EXPECT_EQ(to_cstr(nullptr), nullptr);
    EXPECT_EQ(bappend_str(nullptr, "x"), 0);
    EXPECT_EQ(bwrite_uint32(1, nullptr), 0);
    EXPECT_EQ(bread_uint8(nullptr), 0);
    bprintf(nullptr, "%d", 1);
}

TEST(Buffer, WritesPastTwoGigabytesAreRefusedWithOneLogLine) {
    buffer_rec *b = create_buffer_2(16, 't');
    const uint64_t cap = b->capacity, total = get_total_buffer_allocation();
    // A pretend length at the limit, without the memory behind it.
    b->length = b->cursor = BUFFER_MAX_LENGTH;
    struct Case { const char *what; int64_t (*write)(buffer_rec *); };
    const Case cases[] = {
        {"bwrite", [](buffer_rec *b) -> int64_t { return bwrite("x", 1, 1, b); }},
        {"bwrite_uint8", [](buffer_rec *b) -> int64_t { return bwrite_uint8(1, b); }},
        {"bwrite_uint16", [](buffer_rec *b) -> int64_t { return bwrite_uint16(1, b); }},
        {"bwrite_uint32", [](buffer_rec *b) -> int64_t { return bwrite_uint32(1, b); }},
        {"bwrite_uint32_big_endian", [](buffer_rec *b) -> int64_t { return bwrite_uint32_big_endian(1, b); }},
        {"bwrite_uint8_as_hex", [](buffer_rec *b) -> int64_t { return bwrite_uint8_as_hex(1, b); }},
        {"bappend_str", [](buffer_rec *b) -> int64_t { return bappend_str(b, "x"); }},
        {"bwrite_int64_as_hex", [](buffer_rec *b) -> int64_t { return bwrite_int64_as_hex(1, b); }},
        {"bwrite_int32_as_hex", [](buffer_rec *b) -> int64_t { return bwrite_int32_as_hex(1, b); }},
        {"bwrite_int16_as_hex", [](buffer_rec *b) -> int64_t { return bwrite_int16_as_hex(1, b); }},
        {"bappend_str_escaped", [](buffer_rec *b) -> int64_t { return bappend_str_escaped(b, "x"); }},
        {"bwrite_escaped_string", [](buffer_rec *b) -> int64_t { return bwrite_escaped_string("x", b, 1); }},
        {"ballocate", [](buffer_rec *b) -> int64_t { return ballocate(b, 0x7FFFFFFF); }},
        {"ballocate of 2^63 - 1", [](buffer_rec *b) -> int64_t { return ballocate(b, INT64_MAX); }},
        {"bwrite with an overflowing product", [](buffer_rec *b) -> int64_t { return bwrite("x", INT64_MAX, 2, b); }},
    };
    for (const auto &c : cases) {
        fake_host::reset();
        EXPECT_EQ(c.write(b), 0) << c.what;
        EXPECT_EQ(fake_host::log_text(), "** byte buffer over 2 GB refused **\n") << c.what;
        EXPECT_EQ(b->length, BUFFER_MAX_LENGTH) << c.what;
        EXPECT_EQ(b->cursor, BUFFER_MAX_LENGTH) << c.what;
        EXPECT_EQ(b->capacity, cap) << c.what;
        EXPECT_EQ(get_total_buffer_allocation(), total) << c.what;
    }
    // Fifteen bytes at 0x7FFFFFF0 would end one past the limit.
    b->cursor = 0x7FFFFFF0;
    fake_host::reset();
    EXPECT_EQ(bwrite("0123456789abcde", 1, 15, b), 0);
    EXPECT_EQ(fake_host::log().size(), 1u);
    b->length = b->cursor = 0;
    destroy_buffer(b);
}
