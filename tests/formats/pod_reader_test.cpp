// Pod reader grammar: texts to values or failure, headers and metadata
// mode. Every read checks that the stack moved by exactly the count.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fake_host.h"
#include "pod_fixture.h"

namespace {

struct Case {
    std::string text;
    std::string shown;  // read_show's result: "fail", a value, or "value meta table"
};

using PodReader = PodTest;

TEST_F(PodReader, TablesReadWithOptionalSeparatorsAndStrictKeys) {
    const Case cases[] = {
        {"{1,2,3}", "{[1]=1,[2]=2,[3]=3}"},
        {"{1 2 3}", "{[1]=1,[2]=2,[3]=3}"},
        {"{,1}", "fail"},
        {"{1,,2}", "fail"},
        {"{x=1,y}", "{[\"x\"]=1}"},
        {"{x=1 }", "fail"},
        {"{ x=1}", "fail"},
        {"{[1]=5,[\"a\"]=6}", "{[1]=5,[\"a\"]=6}"},
        {"{nil,2}", "{[2]=2}"},
        {"{a=true,b=false,c=nil}", "{[\"a\"]=true,[\"b\"]=false}"},
        {"{[nil]=1,a=2}", "{[\"a\"]=2}"},
        {"{[nan]=1,[-nan]=2,a=3}", "{[\"a\"]=3}"},
        {"{1", "fail"},
        {"{", "fail"},
        {"{x}", "{}"},
        {"{x=}", "fail"},
        {"{x==1}", "fail"},
        {"{[1=2}", "fail"},
        {"{{1},{2,{3}}}", "{[1]={[1]=1},[2]={[1]=2,[2]={[1]=3}}}"},
        {"{1]", "{[1]=1}"},
        {"{end=1,true=2,nil=3,str=4,userdata=5,unpod=6,b64=7}",
         "{[\"b64\"]=7,[\"end\"]=1,[\"nil\"]=3,[\"str\"]=4,[\"true\"]=2,[\"unpod\"]=6,[\"userdata\"]=5}"},
        {"{[{}]=1}", "{[{}]=1}"},
        {"{[1.5]=1,[3.0]=2}", "{[1.5]=1,[3]=2}"},
    };
    for (const auto &c : cases) EXPECT_EQ(read_show(c.text), c.shown) << c.text;
}

TEST_F(PodReader, ScalarsAndStringsRead) {
    const Case cases[] = {
        {"\"a\\065\"", "\"aA\""},
        {"\"a\\qb\"", "\"a\\0qb\""},
        {"\"a\\n\\\"\\\\\"", "\"a\\10\\34\\92\""},
        {"\"\\2561\"", "\"\\01\""},  // 256 wraps to 0; at most three digits
        {"\"\\0019\"", "\"\\19\""},
        {"\"abc", "fail"},
        {"\"abc\\", "fail"},
        {"\"\"", "\"\""},
        {"12abc", "12"},
        {"1E5", "1"},
        {"1e5", "100000.0"},
        {"0x10", "0"},
        {"-3.5", "-3.5"},
        {"  \n\t 7", "7"},
        {"\xc2\xa0" "7", "7"},
        {"true", "true"},
        {"false", "false"},
        {"nil", "nil"},
        {"inf", "inf"},
        {"-inf", "-inf"},
        {"nan", "nan"},
        {"-nan", "nan"},
        {"infx", "fail"},
        {"inf,", "inf"},
        {"{1,inf,2}", "{[1]=1,[2]=inf,[3]=2}"},
        {"{x=inf,y=-inf,z=nan}", "{[\"x\"]=inf,[\"y\"]=-inf,[\"z\"]=nan}"},
        {"{inf=1,nan=2}", "{[\"inf\"]=1,[\"nan\"]=2}"},
        {"{[inf]=1,[-inf]=2}", "{[-inf]=2,[inf]=1}"},
        {std::string("str"), "\"str\""},
        {"", "fail"},
        {"-", "fail"},
        {"abc", "fail"},
        {"unpod(\"b64:ezEsMiwzfQ==\")", "{[1]=1,[2]=2,[3]=3}"},
        {"b64:ezEsMiwzfQ==", "{[1]=1,[2]=2,[3]=3}"},
        {"{unpod(\"b64:ezEsMiwzfQ==\"),4}", "{[1]={[1]=1,[2]=2,[3]=3},[2]=4}"},
        {"unpod(\"unpod(\"5\")\")", "5"},
        {"unpod(\"b64:e30\")", "{}"},
        {"unpod(\"b64:\")", "fail"},
        {"unpod(\"b64:ezE\")", "fail"},  // the inner text "{1" does not read
    };
    for (const auto &c : cases) EXPECT_EQ(read_show(c.text), c.shown) << c.text;
}

// Decimal floats are read by a quicker routine than the language's own: a
// number token must give what lua_stringtonumber gives (or fail with it),
// and an f64 literal's element what strtod gives, bit for bit.
TEST_F(PodReader, NumbersReadAsTheLanguageAndStrtodReadThem) {
    lua_State *l = L();
    uint64_t x = 0x2545F4914F6CDD1D;
    auto next = [&x] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    std::vector<std::string> tokens = {"1e400", "-1e400", "1e-400", "-1e-400", "4.9e-324", "2.4703282292062327e-324",
                                       "1.7976931348623157e308", "-0.0", "-0", ".5", "5.", "1.e5", "0e0", "1e+5",
                                       "+1.5", "1_0.5", "1.5e", "--1.5", "00012.50", "1.2.3", "9007199254740993.0"};
    for (int i = 0; i < 20000; i++) {
        char buf[64];
        double v;
        const uint64_t bits = next();
        memcpy(&v, &bits, 8);
        if (i % 4 == 3) {  // any text of the token's characters
            static const char kChars[] = "0123456789.e-+_";
            const int n = 1 + int(next() % 24);
            for (int k = 0; k < n; k++) buf[k] = kChars[next() % (sizeof kChars - 1)];
            buf[n] = 0;
        } else if (std::isnan(v) || std::isinf(v)) {
            continue;
        } else {
            snprintf(buf, sizeof buf, i % 4 == 0 ? "%.14g" : i % 4 == 1 ? "%.17g" : "%.6e", v);
        }
        tokens.push_back(buf);
    }
    int mismatches = 0;
    for (const std::string &t : tokens) {
        // The number token alone.
        const bool lua_ok = lua_stringtonumber(l, t.c_str()) != 0;
        const int n = destringify_object(l, t.c_str(), int64_t(t.size()));
        bool same = (n == 1) == lua_ok;
        if (same && lua_ok) {
            const double a = lua_tonumber(l, -1), b = lua_tonumber(l, -2);
            same = lua_isinteger(l, -1) == lua_isinteger(l, -2) && memcmp(&a, &b, 8) == 0;
        }
        lua_settop(l, 0);
        // The same text as an f64 element, between two others.
        const std::string lit = "userdata(\"f64\",3,\"7," + t + ",8\")";
        ASSERT_EQ(destringify_object(l, lit.c_str(), int64_t(lit.size())), 1) << lit;
        auto *rec = static_cast<typed_ud_rec *>(lua_touserdata(l, -1));
        char *end = nullptr;
        double want = strtod(t.c_str(), &end);
        if (end == t.c_str()) want = 0;
        same = same && rec && memcmp(ud_elements(rec) + 8, &want, 8) == 0;
        lua_settop(l, 0);
        if (!same) ADD_FAILURE() << "token " << t << (++mismatches > 10 ? " (stopping)" : "");
        if (mismatches > 10) break;
    }
}

TEST_F(PodReader, TypedArrayLiteralsReadOrStandAsNil) {
    const Case cases[] = {
        {"userdata(\"u8\",3,\"0102ff\")", "ud(3x1 u8 1: 1 2 255)"},
        {"userdata(\"u8\",2,2,\"00010203\")", "ud(2x2 u8 2: 0 1 2 3)"},
        {"userdata(\"i16\",2,\"ffff0001\")", "ud(2x1 i16 1: -1 1)"},
        {"userdata(\"f64\",3,\"1.5,nan,-inf\")", "ud(3x1 f64 1: 1.5 nan -inf)"},
        {"userdata(\"u8\",4,\"01\")", "ud(4x1 u8 1: 1 0 0 0)"},  // nothing read past the literal
        {"{userdata(\"u8\",4,\"01\"),\"ff\"}", "{[1]=ud(4x1 u8 1: 1 0 0 0),[2]=\"ff\"}"},
        {"userdata(\"[gfx]0201ab\")", "ud(2x1 u8 2: 10 11)"},
        {"{userdata(\"[gfx]0201ab\"),5}", "{[1]=ud(2x1 u8 2: 10 11),[2]=5}"},
        // Refused literals read as nil and the text goes on.
        {"{userdata(\"u8\",9999999999,\"00\"),5}", "{[2]=5}"},
        {"{userdata(\"u8\",4294967296,\"00\"),5}", "{[2]=5}"},
        {"{userdata(\"u8\",-1,\"00\"),5}", "{[2]=5}"},
        {"{userdata(\"u8\",0,\"00\"),5}", "{[2]=5}"},
        {"{userdata(\"u8\",2,2,2,\"00\"),5}", "{[2]=5}"},
        {"{userdata(\"u8\",\"00\"),5}", "{[2]=5}"},
        {"{userdata(\"u8\",4096,4097,\"\"),5}", "{[2]=5}"},
        {"{[userdata(\"u8\",0,\"\")]=1,a=2}", "{[\"a\"]=2}"},
        // Literals cut short fail.
        {"userdata(\"u8\",3,\"0102ff", "fail"},
        {"userdata(\"u8\",3,", "fail"},
        {"userdata(\"u8", "fail"},
        {"userdata(\"[gfx]0201ab", "fail"},
    };
    for (const auto &c : cases) EXPECT_EQ(read_show(c.text), c.shown) << c.text;
}

TEST_F(PodReader, HeadersGiveTheValueAndTheMetadataTable) {
    const Case cases[] = {
        {"--[[pod_format=\"raw\"]]\nhello", "\"hello\" meta {[\"pod_format\"]=\"raw\"}"},
        {"--[[pod_format=\"raw\"]]hello", "\"hello\" meta {[\"pod_format\"]=\"raw\"}"},
        {"--[[pod,a=1]]\n{}", "{} meta {[\"a\"]=1}"},
        {"--[[pod]]\n5", "5 meta {}"},
        {"--[[pod_format=\"x\",n=2]]{1}", "{[1]=1} meta {[\"n\"]=2,[\"pod_format\"]=\"x\"}"},
        {"--[[pod,a=1]]\n", "fail"},
        {"--[[pod,a=1", "fail"},
        {"--[[po", "fail"},
        {"--[[pod,a=1]]\nunpod(\"b64:" "LS1bW3BvZCxiPTJdXQp7MX0" "\")", "{[1]=1} meta {[\"a\"]=1}"},
    };
    for (const auto &c : cases) EXPECT_EQ(read_show(c.text), c.shown) << c.text;
}

TEST_F(PodReader, ABadHeaderIsReportedAndTheValueComesAlone) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_show("--[[pod a=1]]\n{}"), "{}");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bad metadata format; ignoring pod a=1]]\n{}\n");
}

TEST_F(PodReader, MetadataModeGivesOnlyTheHeaderTable) {
    const Case cases[] = {
        {"--[[pod,a=1]]\n{}", "{[\"a\"]=1}"},
        {"--[[pod,a=1]]\nnot pod at all", "{[\"a\"]=1}"},
        {"--[[pod a=1]]\n{}", "{}"},
        {"{1,2}", "{}"},
    };
    for (const auto &c : cases) EXPECT_EQ(read_show(c.text, 1), c.shown) << c.text;
}

TEST_F(PodReader, MetadataLengthCountsTheHeaderAndOneLineFeed) {
    const struct {
        std::string text;
        int64_t length;
    } cases[] = {
        {"--[[pod]]\n5", 10}, {"--[[pod]]5", 9}, {"--[[pod]]\n\n5", 10},
        {"--[[pod,a=1", 11},  {"5", 0},          {"--[[po", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(find_metadata_length(c.text.c_str(), int64_t(c.text.size())), c.length) << c.text;
}

TEST_F(PodReader, QuotedStringsReadUpToTheStringLimit) {
    // Longer than the old 16 MiB scratch: the writer's own text reads back.
    exec(R"(LONG = string.rep('a"\200', 6 << 20))");
    ASSERT_EQ(read(write("LONG")), 1);
    EXPECT_EQ(eval("V1 == LONG"), "true");
    exec("LONG = nil V1 = nil");
    const std::string plain(0x1FFFFFF, 'x');
    EXPECT_EQ(read("\"" + plain + "\""), 1);
    EXPECT_EQ(read("\"" + plain + "x\""), 0);
    EXPECT_EQ(read("\"\\n" + plain + "\""), 0);  // the escape makes it one byte too long
    EXPECT_EQ(read("\"\\n" + plain.substr(1) + "\""), 1);
    exec("V1 = nil");
}

TEST_F(PodReader, TextsWithoutTheirNulOrWithBadArgumentsAreRefused) {
    const char text[] = {'1', '2', '3'};
    EXPECT_EQ(destringify_object(L(), text, 2), 0);  // text[2] is not NUL
    EXPECT_EQ(destringify_object(L(), nullptr, 0), 0);
    EXPECT_EQ(destringify_object(L(), "1", -1), 0);
    EXPECT_EQ(lua_gettop(L()), 0);
    // A NUL inside the text ends what is read as text.
    EXPECT_EQ(read_show(std::string("{1,\0 2}", 7)), "fail");
    EXPECT_EQ(read_show(std::string("12\0 34", 6)), "12");
}

}  // namespace
