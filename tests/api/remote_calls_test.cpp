// The remote fetch calls and the cartridge download cache, against a
// loopback HTTP server in the test process.
#include <lodepng.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "../platform/http_server.h"
#include "api_remote.h"
#include "file_fixture.h"
#include "net_seam.h"

using http_test::server;

namespace {

// A free loopback port (bound to port 0, read back, closed).
uint16_t free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

std::string png_bytes() {
    const std::vector<uint8_t> rgba(2 * 3 * 4, 255);
    unsigned char *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(lodepng_encode32(&out, &size, rgba.data(), 2, 3), 0u);
    std::string s(reinterpret_cast<char *>(out), size);
    std::free(out);
    return s;
}

// A body that passes for a cartridge image: "PNG" at bytes 1-3.
std::string png_headed(size_t n) { return "\x89PNG" + std::string(n - 4, 'c'); }

void serve(const server::conn &c, const std::string &path) {
    if (path == "/v.pod") c.send(server::reply(200, "{a=1,b=\"two\"}"));
    else if (path == "/x.png?v=2") c.send(server::reply(200, png_bytes()));
    else if (path == "/raw.txt") c.send(server::reply(200, "hello"));
    else if (path == "/missing") c.send(server::reply(404, "gone away"));
    else if (path == "/slow") {
        if (c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n")) c.pause(3000);
    } else if (path == "/carts/good.kiv.png" || path == "/bbs/get_cart.php?cat=8&lid=4321" ||
               path == "/elsewhere.kiv.png")
        c.send(server::reply(200, png_headed(600)));
    else if (path == "/carts/short.kiv.png") c.send(server::reply(200, png_headed(511)));
    else if (path == "/carts/plain.kiv.png") c.send(server::reply(200, std::string(600, 'p')));
}

class RemoteCalls : public FileApiTest {
  protected:
    void SetUp() override {
        FileApiTest::SetUp();
        net_install_loopback_guard();
        gurl_reset_for_tests();
        config.network_access = 1;
    }
    void TearDown() override {
        EXPECT_TRUE(gurl_shutdown(10000));
        gurl_reset_for_tests();
        gurl_set_cart_prefixes(nullptr, nullptr);
        FileApiTest::TearDown();
    }

    static bool finished(uint32_t id) {
        for (int i = 0; i < 5000; i++) {
            const gurl_job_rec *job = gurl_get_job(id);
            if (job && gurl_job_finished(job)) return true;
            usleep(2000);
        }
        return false;
    }

    // Starts a fetch of 'url' from Lua; returns the job id.
    uint32_t fetch(const std::string &url) {
        run("out(_fetch_remote('" + url + "'))");
        const Lines lines = output();
        return uint32_t(std::stoul(lines.back().substr(2)));
    }
};

}  // namespace

TEST_F(RemoteCalls, NetworkOffAndBadArguments) {
    config.network_access = 0;
    run("out(_fetch_remote('http://127.0.0.1:1/')) out(_fetch_remote_result(1))");
    config.network_access = 1;
    run("out(_fetch_remote()) out(_fetch_remote({})) out(_fetch_remote_result(1)) out(_fetch_remote_result('x'))");
    EXPECT_EQ(output(), (Lines{"2:nil,no network access", "3:nil,nil,no network access", "0:", "0:",
                               "3:nil,nil,could not download", "3:nil,nil,could not download"}));
}

TEST_F(RemoteCalls, ResultsDecodedByTheUrlsExtension) {
    server s(serve, 16);
    const uint32_t pod = fetch(s.url("/v.pod"));
    const uint32_t png = fetch(s.url("/x.png?v=2"));
    const uint32_t txt = fetch(s.url("/raw.txt"));
    const uint32_t missing = fetch(s.url("/missing"));
    const uint32_t closed = fetch("http://127.0.0.1:" + std::to_string(free_port()) + "/a.pod");
    EXPECT_EQ(pod, 1u);
    for (uint32_t id : {pod, png, txt, missing, closed}) ASSERT_TRUE(finished(id)) << id;
    run("local v = _fetch_remote_result(1) out(math.type(_fetch_remote('x')), v.a, v.b)");
    run("local v = _fetch_remote_result(2) out(t_ud(v))");
    run("out(_fetch_remote_result(3)) out(_fetch_remote_result(4)) out(_fetch_remote_result(5))");
    const Lines lines = output();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[5], "3:integer,1,two");
    EXPECT_EQ(lines[6].substr(0, 9), "1:u8 2x3:") << lines[6];
    EXPECT_EQ(lines[7], "1:hello");
    EXPECT_EQ(lines[8], "1:gone away");
    EXPECT_EQ(lines[9], "3:nil,nil,could not download");
}

TEST_F(RemoteCalls, NothingUntilTheCallbackHasReturned) {
    server s(serve, 16);
    const uint32_t slow = fetch(s.url("/slow"));
    run("out(select('#', _fetch_remote_result(" + std::to_string(slow) + ")))");

    // A callback held at the final state: the job is done but not finished.
    static std::atomic<int> release{0};
    static std::atomic<int> holding{0};
    release = 0;
    holding = 0;
    const uint32_t id = gurl_get(s.url("/raw.txt").c_str(), nullptr, [](gurl_job_rec *job) {
        if (gurl_job_state(job) != GURL_DONE) return;
        holding = 1;
        while (!release) usleep(1000);
    });
    while (!holding) usleep(1000);
    run("out(select('#', _fetch_remote_result(" + std::to_string(id) + ")))");
    release = 1;
    ASSERT_TRUE(finished(id));
    run("out(_fetch_remote_result(" + std::to_string(id) + "))");
    EXPECT_EQ(output(), (Lines{"1:1", "1:0", "1:0", "1:hello"}));
}

TEST_F(RemoteCalls, ReusedIdsNameNoJob) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(free_port()) + "/";
    for (int i = 0; i < GURL_SLOTS + 1; i++) {
        gurl_get(closed.c_str(), nullptr, nullptr);
        if (i % 64 == 63) {
            ASSERT_TRUE(finished(uint32_t(i + 1)));
        }
    }
    ASSERT_TRUE(finished(GURL_SLOTS + 1));
    run("out(_fetch_remote_result(1)) out(_fetch_remote_result(257))");
    EXPECT_EQ(output(), (Lines{"3:nil,nil,could not download", "3:nil,nil,could not download"}));
}

TEST_F(RemoteCalls, CacheNames) {
    const std::string host = GURL_CART_HOST_PREFIX, forum = GURL_CART_FORUM_PREFIX;
    const struct {
        std::string url;
        const char *name;  // null: refused
    } cases[] = {
        {host + "abc.kiv.png", "abc.kiv.png"},
        {host + "abc.kiv.png?v=1#top", "abc.kiv.png"},
        {host + "abc#x?y", "abc"},
        {host + "%2e%2e", "%2e%2e"},
        {host + "../x", nullptr},
        {host + "a/b", nullptr},
        {host + "..", nullptr},
        {host + ".", nullptr},
        {host + "a\\b", nullptr},
        {host, nullptr},
        {host + "?only=query", nullptr},
        {host + std::string(2000, 'n'), nullptr},
        {forum + "4321", "4321.kiv.png"},
        {forum + "4321#frag", "4321.kiv.png"},
        {forum + "12?x", "12?x.kiv.png"},
        {forum, nullptr},
        {forum + "#x", nullptr},
        {forum + "a/b", nullptr},
        {forum + "..", nullptr},
        {forum + ".", nullptr},
        {"https://elsewhere.invalid/abc.kiv.png", nullptr},
        {"https://carts.quillmar.invalid", nullptr},
        {"", nullptr},
    };
    for (const auto &c : cases) {
        char name[1024];
        const bool ok = cart_cache_name(c.url.data(), c.url.size(), name, sizeof name);
        EXPECT_EQ(ok, c.name != nullptr) << c.url;
        EXPECT_STREQ(name, c.name ? c.name : "") << c.url;
    }
    // A name with a NUL inside the URL's text is no plain name.
    const std::string nul = host + std::string("a\0b", 3);
    char name[1024];
    EXPECT_FALSE(cart_cache_name(nul.data(), nul.size(), name, sizeof name));
}

TEST_F(RemoteCalls, DownloadedCartridgesLandInTheCache) {
    server s(serve, 16);
    gurl_set_cart_prefixes(s.url("/carts/").c_str(), s.url("/bbs/get_cart.php?cat=8&lid=").c_str());
    // The fetch from elsewhere prints from its worker thread: it runs first and
    // is waited for before standard output is read, since a line printed while
    // the capture of standard output is being renewed would be lost. The
    // worker's line may come before the snippet's. Job ids count from 1 after
    // the reset.
    run("out(_fetch_remote('" + s.url("/elsewhere.kiv.png") + "'))");
    ASSERT_TRUE(finished(1));
    const uint32_t ids[] = {fetch(s.url("/carts/good.kiv.png")), fetch(s.url("/bbs/get_cart.php?cat=8&lid=4321")),
                            fetch(s.url("/carts/short.kiv.png")), fetch(s.url("/carts/plain.kiv.png"))};
    for (uint32_t id : ids) ASSERT_TRUE(finished(id));
    run("out(#_cache_fetch('carts', 'good.kiv.png'), #_cache_fetch('carts', '4321.kiv.png')) "
        "out(select('#', _cache_fetch('carts', 'short.kiv.png')), select('#', _cache_fetch('carts', 'plain.kiv.png')))");
    const Lines lines = output();
    ASSERT_EQ(lines.size(), 8u);
    std::vector<std::string> first(lines.begin(), lines.begin() + 2);
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (Lines{"** gurl_cb: ignoring invalid png download " + s.url("/elsewhere.kiv.png"), "1:1"}));
    EXPECT_EQ(lines[6], "2:600,600");
    EXPECT_EQ(lines[7], "2:0,0");
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::directory_iterator(appdata + "cache/carts"))
        files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"4321.kiv.png", "good.kiv.png"}));  // no temporary left
}
