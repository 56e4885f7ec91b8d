// HTTP fetch jobs against a loopback server in the test process: ids and
// slots, buffers, bodies, redirects, failures, hostile servers and slot
// reuse while transfers run.
#include <map>
#include <mutex>

#include "host_exit.h"
#include "http_server.h"
#include "net_fixture.h"

using namespace net_test;
using http_test::server;

namespace {

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++) s[i] = char('a' + (i * 7 + i / 26) % 26);
    return s;
}

// Every callback call, by job id: the state seen and the chunk size.
struct call {
    uint32_t state;
    uint64_t chunk;
};
std::mutex calls_mutex;
std::map<uint32_t, std::vector<call>> calls;

void recording_cb(gurl_job_rec *job) {
    std::lock_guard<std::mutex> lock(calls_mutex);
    calls[job->id].push_back({gurl_job_state(job), job->last_chunk_size});
}

std::vector<call> calls_of(uint32_t id) {
    std::lock_guard<std::mutex> lock(calls_mutex);
    return calls[id];
}

// The replies of the test server, by path.
void serve(const server::conn &c, const std::string &path) {
    if (path.rfind("/len/", 0) == 0) {
        c.send(server::reply(200, pattern(std::stoul(path.substr(5)))));
    } else if (path == "/chunked") {
        c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
               "5\r\nhello\r\n9\r\n chunked \r\n5\r\nworld\r\n0\r\n\r\n");
    } else if (path == "/302") {
        c.send(server::redirect(302, "/301"));
    } else if (path == "/301") {
        c.send(server::redirect(301, "/final"));
    } else if (path == "/final") {
        c.send(server::reply(200, "the final body"));
    } else if (path == "/loop") {
        c.send(server::redirect(302, "/loop"));
    } else if (path == "/tofile") {
        c.send(server::redirect(302, "file:///etc/hostname"));
    } else if (path == "/missing") {
        c.send(server::reply(404, "not here"));
    } else if (path == "/silent") {
        if (c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n")) c.pause(20000);
    } else if (path == "/trickle") {
        if (!c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n")) return;
        for (int i = 0; i < 100 && c.pause(1000) && c.send("x");) i++;
    } else if (path == "/endless") {
        if (!c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
        const std::string block(65536, 'e');
        while (c.send(block)) {
        }
    } else if (path == "/overcap") {
        c.send(server::reply(200, std::string(gurl_limits.max_body + 1, 'o')));
    } else if (path == "/short") {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 's'));
    } else if (path == "/cutchunk") {
        c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\nonly part of it");
    } else if (path == "/garbage") {
        c.send("THIS IS NOT HTTP\r\n\r\nbody");
    } else if (path == "/nocolon") {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nNoColonHere\r\n\r\nbody");
    } else if (path == "/bigheader") {
        c.send("HTTP/1.1 200 OK\r\nX-Big: " + std::string(200 * 1024, 'h') + "\r\nContent-Length: 4\r\n\r\nbody");
    } else if (path == "/close") {
        // nothing at all
    } else if (path == "/slow") {
        if (!c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")) return;
        for (int i = 0; i < 200 && c.pause(20) && c.send(std::string(500, 'w'));) i++;
    }
}

class HttpFetch : public NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        gurl_reset_for_tests();
        saved_limits = gurl_limits;
        gurl_limits.low_speed_seconds = 1;
        gurl_limits.connect_timeout_ms = 2000;
        gurl_limits.max_time_ms = 8000;
        gurl_limits.max_body = 1 << 20;
        std::lock_guard<std::mutex> lock(calls_mutex);
        calls.clear();
    }
    void TearDown() override {
        EXPECT_TRUE(gurl_shutdown(10000));
        gurl_reset_for_tests();
        gurl_limits = saved_limits;
        NetTest::TearDown();
    }

    // Waits for job 'id' to finish; its final state, or 99 when it did not.
    static uint32_t wait_for(uint32_t id, int ms = 10000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            gurl_job_rec *job = gurl_get_job(id);
            if (!job) return 98;
            if (gurl_job_finished(job)) return gurl_job_state(job);
            usleep(2000);
        }
        return 99;
    }

    static bool workers_end(int ms = 10000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (gurl_live_workers() > 0 && std::chrono::steady_clock::now() < until) usleep(2000);
        return gurl_live_workers() == 0;
    }

    static std::string body_of(uint32_t id) {
        gurl_job_rec *job = gurl_get_job(id);
        if (!job) return "<no job>";
        return std::string(reinterpret_cast<char *>(job->response->data), job->response->length);
    }

    gurl_limits_rec saved_limits;
};

}  // namespace

TEST_F(HttpFetch, IdsSlotsAndBuffers) {
    server s(serve, 8);
    const std::string closed = "http://127.0.0.1:" + std::to_string(free_port()) + "/";
    EXPECT_EQ(gurl_get(nullptr, nullptr, nullptr), 0xFFFFFFFFu);
    const std::string long_url = s.url("/len/3000?") + std::string(255 - s.url("/len/3000?").size(), 'q');
    ASSERT_EQ(gurl_get(long_url.c_str(), nullptr, nullptr), 1u);
    EXPECT_EQ(gurl_get_job(1)->url->capacity, 256u);
    EXPECT_EQ(gurl_get_job(1)->response->capacity, 1024u);
    EXPECT_EQ(wait_for(1), uint32_t{GURL_DONE});
    const gurl_buffer_rec *r = gurl_get_job(1)->response;
    EXPECT_EQ(r->length, 3000u);
    EXPECT_EQ(r->capacity, 4096u);
    EXPECT_EQ(r->data[3000], 0);
    EXPECT_EQ(body_of(1), pattern(3000));

    const std::string longer = closed + std::string(256 - closed.size(), 'q');
    ASSERT_EQ(gurl_get(longer.c_str(), "extra", nullptr), 2u);
    EXPECT_EQ(gurl_get_job(2)->url->capacity, 512u);
    EXPECT_STREQ(reinterpret_cast<char *>(gurl_get_job(2)->extra->data), "extra");
    for (uint32_t id = 3; id <= 256; id++) {
        ASSERT_EQ(gurl_get(closed.c_str(), nullptr, nullptr), id);
        if (id % 64 == 0) {
            ASSERT_TRUE(workers_end());
        }
    }
    EXPECT_EQ(gurl_get_job(256)->id, 256u);
    EXPECT_NE(gurl_get_job(1), nullptr);
    EXPECT_EQ(gurl_get(closed.c_str(), nullptr, nullptr), 257u);
    EXPECT_EQ(gurl_get_job(1), nullptr);
    EXPECT_EQ(gurl_get_job(257)->id, 257u);
    EXPECT_EQ(gurl_get_job(0), nullptr);
    EXPECT_EQ(gurl_get_job(int64_t{0x100000001}), nullptr);
}

TEST_F(HttpFetch, BodiesRedirectsAndFailures) {
    server s(serve, 32);
    const std::string closed = "http://127.0.0.1:" + std::to_string(free_port()) + "/";
    const struct {
        std::string url;
        uint32_t state;
        std::string body;  // checked for state 3
    } cases[] = {
        {s.url("/len/5000"), GURL_DONE, pattern(5000)},
        {s.url("/len/0"), GURL_DONE, ""},
        {s.url("/chunked"), GURL_DONE, "hello chunked world"},
        {s.url("/302"), GURL_DONE, "the final body"},
        {s.url("/missing"), GURL_DONE, "not here"},
        {s.url("/loop"), GURL_FAILED, ""},
        {s.url("/tofile"), GURL_FAILED, ""},
        {"file:///etc/hostname", GURL_FAILED, ""},
        {closed, GURL_FAILED, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url);
        const uint32_t id = gurl_get(c.url.c_str(), nullptr, recording_cb);
        ASSERT_EQ(wait_for(id), c.state);
        if (c.state == GURL_DONE) {
            EXPECT_EQ(body_of(id), c.body);
        }
        // Once per chunk with state 2, the chunks adding up to the body;
        // then once with the final state.
        const auto got = calls_of(id);
        ASSERT_FALSE(got.empty());
        uint64_t sum = 0;
        for (size_t i = 0; i + 1 < got.size(); i++) {
            EXPECT_EQ(got[i].state, uint32_t{GURL_RECEIVING});
            sum += got[i].chunk;
        }
        EXPECT_EQ(got.back().state, c.state);
        if (c.state == GURL_DONE) {
            EXPECT_EQ(sum, c.body.size());
        }
        if (c.url == closed) {
            EXPECT_EQ(got.size(), 1u);
        }
    }
}

TEST_F(HttpFetch, HostileServersEndInFailure) {
    server s(serve, 32);
    const char *paths[] = {"/silent", "/trickle", "/endless", "/overcap", "/short", "/cutchunk",
                           "/garbage", "/nocolon", "/bigheader", "/close"};
    std::vector<uint32_t> ids;
    for (const char *p : paths) ids.push_back(gurl_get(s.url(p).c_str(), nullptr, nullptr));
    for (size_t i = 0; i < ids.size(); i++) {
        EXPECT_EQ(wait_for(ids[i]), uint32_t{GURL_FAILED}) << paths[i];
        EXPECT_LE(gurl_get_job(ids[i])->response->length, gurl_limits.max_body) << paths[i];
    }
    EXPECT_TRUE(workers_end());
}

TEST_F(HttpFetch, SlotsReusedWhileTransfersRun) {
    server s(serve, 400);
    gurl_limits.low_speed_seconds = 30;  // a starved transfer is not cut short
    std::vector<uint32_t> ids;
    for (int i = 0; i < 300; i++) {
        ids.push_back(gurl_get(s.url("/slow").c_str(), nullptr, recording_cb));
        EXPECT_LE(gurl_live_workers(), GURL_MAX_WORKERS);
    }
    EXPECT_LE(gurl_peak_workers(), GURL_MAX_WORKERS);
    // The first 44 jobs were cut off: their slots hold the last 44.
    for (int i = 0; i < 44; i++) EXPECT_EQ(gurl_get_job(ids[i]), nullptr);
    for (int i = 44; i < 300; i++) EXPECT_NE(gurl_get_job(ids[i]), nullptr);
    EXPECT_TRUE(workers_end(20000));
    EXPECT_LE(gurl_peak_workers(), GURL_MAX_WORKERS);
    // A cut-off job's callback never saw its end.
    for (int i = 0; i < 44; i++)
        for (const call &c : calls_of(ids[i])) EXPECT_EQ(c.state, uint32_t{GURL_RECEIVING});
}

TEST_F(HttpFetch, AJobBeyondTheWorkerLimitFailsAtOnce) {
    server s(serve, 300);
    // The silent transfers last until the server's pause ends, however long
    // starting them takes.
    gurl_limits.low_speed_seconds = 30;
    gurl_limits.max_time_ms = 60000;
    for (int i = 0; i < GURL_MAX_WORKERS; i++) gurl_get(s.url("/silent").c_str(), nullptr, nullptr);
    if (gurl_live_workers() < GURL_MAX_WORKERS) GTEST_SKIP() << "workers ended before the limit was reached";
    // Job 257 lands in slot 1, cutting job 1 off; its worker still counts.
    const uint32_t id = gurl_get(s.url("/len/10").c_str(), nullptr, recording_cb);
    const auto got = calls_of(id);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].state, uint32_t{GURL_FAILED});
    EXPECT_TRUE(gurl_job_finished(gurl_get_job(id)));
}

// Left alone, the silent transfers would run until their server's pause
// ends, 20 s on; shutdown cancels them and gives the workers its two seconds
// to end, which they do at their next progress call: none is left when it
// returns. Its time is only checked for a stall.
TEST_F(HttpFetch, ShutdownEndsRunningJobsWithinItsWait) {
    server s(serve, 64);
    gurl_limits.low_speed_seconds = 30;
    gurl_limits.max_time_ms = 60000;
    for (int i = 0; i < 40; i++) gurl_get(s.url(i % 2 ? "/silent" : "/slow").c_str(), nullptr, nullptr);
    ASSERT_TRUE(eventually([&] { return s.connections() == 40; })) << s.connections();
    const auto t0 = std::chrono::steady_clock::now();
    host_shutdown();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(gurl_live_workers(), 0) << "workers outlived the shutdown's wait";
    EXPECT_LT(ms.count(), kStallMs / 2);
    EXPECT_TRUE(workers_end(kStallMs));
}
