// Opening host paths and web addresses: the address encoder, and the opener
// run without a shell through a stub xdg-open that records its arguments.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "app_state.h"
#include "fake_sdl.h"
#include "host_open.h"
#include "host_paths.h"
#include "platform_fixture.h"

namespace {

using namespace platform_test;

std::string encode(const std::string &url, size_t size = HOST_PATH_SIZE) {
    std::string out(size, '\x7f');
    create_osx_launch_html_string(url.c_str(), out.data(), size);
    return out.c_str();
}

TEST(HostUrl, EncodesEveryByteOutsideThePassThroughSetInLowerCaseHex) {
    struct Case {
        std::string url, expected;
    };
    const Case cases[] = {
        {"https://a.b/c?d=e&f_g-h:i", "https://a.b/c?d=e&f_g-h:i"},
        {"https://x y", "https://x%20y"},
        {"https://x\"y", "https://x%22y"},
        {"https://x\xC3\xA9", "https://x%c3%a9"},
        {"https://x%20", "https://x%2520"},
        {"https://a'b$(c)`d;e|f", "https://a%27b%24%28c%29%60d%3be%7cf"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(encode(c.url), c.expected) << c.url;
}

TEST(HostUrl, StopsAtTheCapWithWholeEscapesAndATerminatingNul) {
    const std::string url(400, '\xFF');
    std::string expected;
    for (int i = 0; i < 338; i++) expected += "%ff";
    EXPECT_EQ(encode(url), expected);
    EXPECT_EQ(encode(std::string(2000, 'a')), std::string(1014, 'a'));
    EXPECT_EQ(encode(std::string(40, '\xFF'), 16), "%ff%ff");
}

class HostOpen : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        bin = root + "/bin";
        record = root + "/argv";
        fs::create_directories(bin);
        write_file(bin + "/xdg-open",
                   "#!/bin/sh\n"
                   "printf '%s\\0' \"$#\" \"$@\" > '" + record + "'\n");
        fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
        const char *path = getenv("PATH");
        setenv("PATH", (bin + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    }

    // Waits (at most 10 s) until every opener child has ended and been reaped.
    static void wait_for_openers() {
        for (int i = 0; i < 1000 && reap_host_openers() > 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(reap_host_openers(), 0);
    }

    // The arguments the stub recorded: count first, then each argument.
    std::string recorded() const { return read_file(record); }

    static std::string args(std::initializer_list<std::string> list) {
        std::string s = std::to_string(list.size()) + '\0';
        for (const auto &a : list) s += a + '\0';
        return s;
    }

    std::string bin, record;
};

TEST_F(HostOpen, APathWithShellSyntaxArrivesAsOneArgumentAndRunsNothing) {
    const std::string path = root + "/a $(touch x) \"q\" 'b`touch y`'; touch z";
    ASSERT_EQ(open_host_file(path.c_str()), 0);
    wait_for_openers();
    EXPECT_EQ(recorded(), args({path}));
    for (const char *name : {"x", "y", "z"}) {
        EXPECT_FALSE(fs::exists(root + "/" + name)) << name;
        EXPECT_FALSE(fs::exists(bin + "/" + name)) << name;
    }
}

TEST_F(HostOpen, AWebAddressArrivesEncoded) {
    ASSERT_EQ(open_host_file("https://example.org/a b\"c"), 0);
    wait_for_openers();
    EXPECT_EQ(recorded(), args({"https://example.org/a%20b%22c"}));
}

TEST_F(HostOpen, TheWindowIsMinimisedOnlyInFullScreenModeWithAWindow) {
    FakeSdl::install();
    config.fullscreen = 1;
    ASSERT_EQ(open_host_file("/a"), 0);  // no window yet
    sdl_window = FakeSdl::window_handle();
    ASSERT_EQ(open_host_file("/b"), 0);
    config.fullscreen = 0;
    ASSERT_EQ(open_host_file("/c"), 0);
    sdl_window = nullptr;
    FakeSdl::restore();
    wait_for_openers();
    EXPECT_EQ(FakeSdl::minimised, 1);
}

TEST_F(HostOpen, AMissingOpenerIsLogged) {
    setenv("PATH", (root + "/nowhere").c_str(), 1);
    EXPECT_EQ(open_host_file("/some file"), -1);
    EXPECT_EQ(reap_host_openers(), 0);
    EXPECT_NE(log_text().find("** could not open /some file\n"), std::string::npos) << log_text();
}

}  // namespace
