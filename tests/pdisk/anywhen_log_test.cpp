// The history's texts: the content hash, dates, the reading of log lines
// (torn and malformed ones included) and the search behind a fetch.
#include <gtest/gtest.h>

#include <string>

#include "anywhen_log.h"

namespace {

const uint8_t *bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

std::string hash_of(const std::string &s) { return anywhen_content_hash(bytes(s), s.size()); }

// The search's answer as "hash" or "hash+<delta bytes in hex>", or "none".
std::string search(const std::string &log, const std::string &path, const std::string &asked) {
    const anywhen_found f = anywhen_search_log(bytes(log), log.size(), path, asked, "2025-03-10_00:00:00");
    if (!f.found) return "none";
    std::string out = f.hash;
    if (!f.delta.empty()) {
        out += "+";
        static const char hex[] = "0123456789abcdef";
        for (const uint8_t b : f.delta) out += std::string{hex[b >> 4], hex[b & 15]};
    }
    return out;
}

const std::string H1(32, '1');
const std::string H2(32, '2');
const std::string H3(32, '3');

}  // namespace

TEST(AnywhenHash, TheQuickBrownFoxHashesToTheKnownDigestInMemoryOrder) {
    EXPECT_EQ(hash_of("The quick brown fox jumps over the lazy dog"), "6c1b07bc7bbc4be347939ac4a93c437a");
    EXPECT_EQ(hash_of(""), "00000000000000000000000000000000");
}

TEST(AnywhenHash, OnlyThirtyTwoLowercaseHexDigitsAreAHash) {
    EXPECT_TRUE(anywhen_is_hash("6c1b07bc7bbc4be347939ac4a93c437a"));
    EXPECT_FALSE(anywhen_is_hash("6C1B07BC7BBC4BE347939AC4A93C437A"));
    EXPECT_FALSE(anywhen_is_hash("6c1b07bc7bbc4be347939ac4a93c437"));
    EXPECT_FALSE(anywhen_is_hash("6c1b07bc7bbc4be347939ac4a93c437ab"));
    EXPECT_FALSE(anywhen_is_hash("6c1b07bc7bbc4be347939ac4a93c437g"));
}

TEST(AnywhenDates, DatesAreReadOnlyWhenAllDigitsAndInRange) {
    const struct {
        const char *text;
        bool ok;
        anywhen_date want;
    } cases[] = {
        {"2025-03-10", true, {2025, 3, 10}},
        {"0000-01-01", true, {0, 1, 1}},
        {"9999-12-31", true, {9999, 12, 31}},
        {"2025-00-10", false, {}},
        {"2025-13-10", false, {}},
        {"2025-03-00", false, {}},
        {"2025-03-32", false, {}},
        {"2025-3-10x", false, {}},
        {"-025-03-10", false, {}},
        {"2025/03/10", false, {}},
        {"2025-03-1", false, {}},
        {" 2025-03-1", false, {}},
    };
    for (const auto &c : cases) {
        anywhen_date d{};
        EXPECT_EQ(anywhen_parse_date(c.text, &d), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(anywhen_date_cmp(d, c.want), 0) << c.text;
    }
}

TEST(AnywhenDates, TheWalkBackCrossesMonthsAndYearsAndStopsAtApril2024) {
    anywhen_date d{2025, 1, 1};
    ASSERT_TRUE(anywhen_step_back(&d));
    EXPECT_EQ(anywhen_date_cmp(d, {2024, 12, 31}), 0);
    d = {2025, 3, 1};
    ASSERT_TRUE(anywhen_step_back(&d));
    EXPECT_EQ(anywhen_date_cmp(d, {2025, 2, 31}), 0) << "day 31 of every month; a missing log is just missing";
    d = {2024, 4, 2};
    ASSERT_TRUE(anywhen_step_back(&d));
    EXPECT_FALSE(anywhen_step_back(&d));
    EXPECT_EQ(anywhen_date_cmp(d, {2024, 4, 1}), 0);

    // From any valid date the walk ends: at most 31 days a month back to April.
    for (const anywhen_date start : {anywhen_date{0, 1, 31}, anywhen_date{1000, 12, 31}, anywhen_date{9999, 12, 31}}) {
        d = start;
        long steps = 0;
        while (anywhen_step_back(&d)) steps++;
        EXPECT_LT(steps, 31L * 12 * 10000);
        EXPECT_EQ(d.day, 1);
    }
}

TEST(AnywhenDates, NamesAndTimesAreZeroPaddedUtc) {
    // 2024-12-31 23:59:59 UTC and one second later.
    EXPECT_EQ(anywhen_time_text(1735689599), "2024-12-31_23:59:59");
    EXPECT_EQ(anywhen_time_text(1735689600), "2025-01-01_00:00:00");
    const anywhen_date d = anywhen_date_of(1735689600);
    EXPECT_EQ(anywhen_month_name(d), "2025-01");
    EXPECT_EQ(anywhen_day_log_name(d), "01.log");
    EXPECT_EQ(anywhen_midnight_text(d), "2025-01-01_00:00:00");
}

TEST(AnywhenLines, EachKindIsCheckedAndATornLastLineIsNeverValid) {
    const std::string h = "6c1b07bc7bbc4be347939ac4a93c437a";
    const struct {
        std::string text;
        bool whole;
        char kind;
        bool valid;
    } cases[] = {
        {": " + h + " /a", true, ':', true},
        {"$ " + h + " /a/b c#d", true, '$', true},
        {"+ " + h + " /a", true, '+', true},
        {"$ " + h + " /a", false, '$', false},  // torn: no "\n" after it
        {"$ " + h.substr(0, 31) + " /a", true, '$', false},
        {"$ 6C1B07BC7BBC4BE347939AC4A93C437A /a", true, '$', false},
        {"$ " + h + " ", true, '$', false},
        {"$ " + h + " a", true, '$', false},
        {"$ " + h + " /a\x7f", true, '$', false},
        {"$" + h + " /a", true, '$', false},
        {"@ 2025-03-10_10:00:00", true, '@', true},
        {"@ 2025-03-10_10:00:00 __start_session", true, '@', true},
        {"@ 2025-03-10_10:00", true, '@', false},
        {"@ 2025-03-10_10:00:00\x7f", true, '@', false},
        {"@ 2025-03-10 10:00:00", true, '@', false},
        {"| 00ff", true, '|', true},
        {"| 00f", true, '|', false},
        {"| 00FF", true, '|', false},
        {"| 00ff", false, '|', false},
        {"|", true, '|', false},
        {"^ /a/", true, 0, false},
        {"- /a", true, 0, false},
        {"> /a", true, 0, false},
        {"", true, 0, false},
    };
    for (const auto &c : cases) {
        const anywhen_line l = anywhen_parse_line(c.text, c.whole);
        EXPECT_EQ(l.kind, c.kind) << c.text;
        EXPECT_EQ(l.valid, c.valid) << c.text;
    }
}

TEST(AnywhenLines, LinesAreReadWholeAndTrimmedButNeverBelowTwoCharacters) {
    const std::string long_path = "/" + std::string(3000, 'x');
    const std::string log = "$ " + H1 + " " + long_path + " \r\t\n" + "@ \n" + "| 00";
    anywhen_line_reader r(bytes(log), log.size());
    anywhen_line l;
    ASSERT_TRUE(r.next(&l));
    EXPECT_TRUE(l.valid);
    EXPECT_EQ(l.path, long_path);
    ASSERT_TRUE(r.next(&l));
    EXPECT_EQ(l.kind, '@');
    ASSERT_TRUE(r.next(&l));
    EXPECT_EQ(l.kind, '|');
    EXPECT_FALSE(l.valid) << "the last line has no newline: torn";
    EXPECT_FALSE(r.next(&l));
}

TEST(AnywhenLines, DeltaLinesHoldAtMost38BytesAndReadBack) {
    std::vector<uint8_t> delta(100);
    for (size_t i = 0; i < delta.size(); i++) delta[i] = static_cast<uint8_t>(i * 7);
    std::string text;
    write_delta(&text, delta.data(), delta.size());
    std::vector<uint8_t> back;
    int lines = 0;
    anywhen_line_reader r(bytes(text), text.size());
    anywhen_line l;
    while (r.next(&l)) {
        ASSERT_TRUE(l.valid);
        ASSERT_EQ(l.kind, '|');
        EXPECT_LE(l.hex.size(), 76u);
        ASSERT_TRUE(anywhen_hex_to_bytes(l.hex, &back));
        lines++;
    }
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(back, delta);
}

TEST(AnywhenSearch, TheNewestEntryAtOrBeforeTheAskedTimeWins) {
    // The log of the worked example: h1 at 10:00, h2 at 11:00.
    const std::string log = "@ 2025-03-10_10:00:00\n$ " + H1 + " /a\n@ 2025-03-10_11:00:00\n$ " + H2 + " /a\n";
    EXPECT_EQ(search(log, "/a", "2025-03-10_09:59:59"), "none");
    EXPECT_EQ(search(log, "/a", "2025-03-10_10:00:00"), H1);
    EXPECT_EQ(search(log, "/a", "2025-03-10_10:30:00"), H1);
    EXPECT_EQ(search(log, "/a", "2025-03-10_11:00:00"), H2);
    EXPECT_EQ(search(log, "/a", "2025-03-10_23:59:59"), H2);
    EXPECT_EQ(search(log, "/b", "2025-03-10_23:59:59"), "none");
    EXPECT_EQ(search(log, "/a/", "2025-03-10_23:59:59"), "none") << "paths compare exactly";
}

TEST(AnywhenSearch, BranchLinesCountFromMidnightAndDeltasFollowTheirBase) {
    const std::string log = ": " + H1 + " /a\n" + "^ /d/\n" + "@ 2025-03-10_10:00:00\n+ " + H1 + " /a\n| 0102\n| 03\n" +
                            "@ 2025-03-10_11:00:00\n$ " + H2 + " /a\n" + "@ 2025-03-10_12:00:00\n+ " + H2 + " /a\n| ff\n";
    EXPECT_EQ(search(log, "/a", "2025-03-10_00:00:00"), H1);
    EXPECT_EQ(search(log, "/a", "2025-03-10_10:00:00"), H1 + "+010203");
    EXPECT_EQ(search(log, "/a", "2025-03-10_11:30:00"), H2) << "a '$' line drops the collected delta";
    EXPECT_EQ(search(log, "/a", "2025-03-10_12:00:00"), H2 + "+ff");
}

TEST(AnywhenSearch, TornAndMalformedEntriesArePassedOver) {
    const std::string base = "@ 2025-03-10_10:00:00\n$ " + H1 + " /a\n@ 2025-03-10_11:00:00\n";
    const struct {
        const char *what;
        std::string tail;
        std::string want;
    } cases[] = {
        {"a '$' line cut inside its hash", "$ " + H2.substr(0, 10), H1},
        {"a '$' line cut inside its path", "$ " + H2 + " /a", H1},
        {"a '$' line cut and then ended by the next append", "$ " + H2 + " /ab\x7f\n$ " + H3 + " /x\n", H1},
        {"a '+' entry whose last delta line is torn", "+ " + H1 + " /a\n| 0102\n| 03", H1},
        {"a '+' entry ended by the next append", "+ " + H1 + " /a\n| 01\x7f\n@ 2025-03-10_11:00:01\n", H1},
        {"a '+' entry without delta lines", "+ " + H1 + " /a\n@ 2025-03-10_11:00:01\n", H1},
        {"an upper-case hash", "$ " + std::string(32, 'A') + " /a\n", H1},
        {"a whole '+' entry", "+ " + H1 + " /a\n| 0102\n", H1 + "+0102"},
        {"a torn time line keeps the last time", "@ 2025-03-10_23:0\x7f\n$ " + H2 + " /a\n", H2},
    };
    for (const auto &c : cases) EXPECT_EQ(search(base + c.tail, "/a", "2025-03-10_12:00:00"), c.want) << c.what;

    // The torn time line did not move the entry time on to 23:00.
    EXPECT_EQ(search(base + "@ 2025-03-10_23:0\x7f\n$ " + H2 + " /a\n", "/a", "2025-03-10_11:00:00"), H2);
}

TEST(AnywhenTable, OnlyWholeBranchAndCheckpointLinesEnterTheTable) {
    const std::string log = ": " + H1 + " /a\n" + "$ " + H2 + " /b\n" + "+ " + H3 + " /a\n| 00\n" + "$ " + H3 +
                            " /c\x7f\n" + "- /b\n" + "$ " + H3 + " /d";
    htable_rec *t = create_htable(ANYWHEN_TABLE_BUCKETS);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(anywhen_load_table(t, bytes(log), log.size()), 2);
    uint32_t n = 0;
    EXPECT_EQ(std::string(htable_get(t, "/a", &n)), H1) << "a '+' line keeps the base";
    EXPECT_EQ(std::string(htable_get(t, "/b", &n)), H2);
    EXPECT_EQ(htable_get(t, "/c", &n), nullptr);
    EXPECT_EQ(htable_get(t, "/d", &n), nullptr);
    destroy_htable(t);
}
