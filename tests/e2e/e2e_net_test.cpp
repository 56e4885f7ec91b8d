// The program end to end on the network: a TCP echo, the sockets of a killed
// process, and remote fetches, each against the driver on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include "../platform/http_server.h"
#include "e2e_driver.h"

namespace {

using namespace e2e;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// Waits up to 'ms' for 'fd' to be readable.
bool readable(int fd, int ms) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

}  // namespace

TEST(Network, TcpEcho) {
    sandbox s;
    s.pack({}, "tcp_echo");
    const uint16_t port = free_port();
    s.write_file("data/port.txt", std::to_string(port));
    std::string echoed;
    const run_result r = s.run([&](const std::string &line, int) {
        if (line.rfind("echo: listening", 0) != 0) return;
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(port);
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && send(fd, "ping", 4, MSG_NOSIGNAL) == 4) {
            char buf[16];
            while (echoed.size() < 4 && readable(fd, 5000)) {
                const ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                echoed.append(buf, size_t(n));
            }
        }
        close(fd);
    });
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "echo: listening 1 nil")) << diagnostics(r);
    EXPECT_EQ(echoed, "ping");
    EXPECT_TRUE(has_line(r, "echo: done")) << diagnostics(r);
}

TEST(Network, AKilledProcessClosesItsSockets) {
    sandbox s;
    s.pack({}, "socket_kill");
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(server, 4), 0);
    getsockname(server, reinterpret_cast<sockaddr *>(&a), &len);
    const uint16_t server_port = ntohs(a.sin_port), child_port = free_port();
    s.write_file("data/ports.txt", std::to_string(server_port) + " " + std::to_string(child_port));
    int conn = -1;
    bool saw_end = false, rebound = false;
    const run_result r = s.run([&](const std::string &line, int) {
        if (line.rfind("child: listener", 0) == 0 && readable(server, 5000))
            conn = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (line != "main: killed child" || conn < 0) return;
        // The end of the stream, a few frames on (ten seconds: a stall).
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        char c;
        while (!saw_end && std::chrono::steady_clock::now() < until)
            if (readable(conn, 50)) saw_end = recv(conn, &c, 1, 0) <= 0;
        const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 any = {};
        any.sin6_family = AF_INET6;
        any.sin6_port = htons(child_port);
        rebound = bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) == 0;
        close(fd);
    });
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "child: listener 1 client 2")) << diagnostics(r);
    EXPECT_GE(conn, 0);
    EXPECT_TRUE(saw_end);
    EXPECT_TRUE(rebound);
    if (conn >= 0) close(conn);
    close(server);
}

TEST(Network, RemoteFetches) {
    http_test::server web(
        [](const http_test::server::conn &c, const std::string &path) {
            if (path == "/v.pod") c.send(http_test::server::reply(200, "{a=1,b=\"two\"}"));
            else if (path == "/missing") c.send(http_test::server::reply(404, "no such page"));
        },
        8, std::chrono::seconds(60));
    sandbox s;
    s.pack({}, "remote_fetch");
    s.write_file("data/urls.txt", web.url("/v.pod") + "\n" + web.url("/missing") + "\nhttp://127.0.0.1:" +
                                      std::to_string(free_port()) + "/gone.pod\n");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "fetch 1: table a=1 b=two")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "fetch 2: no such page")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "fetch 3: could not download")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "fetch: done")) << diagnostics(r);
}
