// Network benchmarks. Each result is our time over a plain baseline's time
// on the same data in the same run (median of several runs), printed as
// "net <benchmark> ratio: R"; the last line is "net worst goal margin: M",
// the largest ratio divided by its goal. All traffic stays on loopback.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app_state.h"
#include "boot_hooks.h"
#include "gurl.h"
#include "host.h"
#include "http_server.h"
#include "lua.hpp"
#include "net_seam.h"
#include "process.h"
#include "slice.h"
#include "sockets.h"

namespace {

inline constexpr int RUNS = 7;                         // measured runs per timing; the median counts
inline constexpr int64_t TCP_BYTES = 256ll << 20;      // through the TCP pair
inline constexpr int TCP_CHUNK = 64 << 10;             // per write
inline constexpr int UDP_DATAGRAMS = 200000;
inline constexpr int UDP_SIZE = 512;
inline constexpr int UDP_ROUND = 100;
inline constexpr size_t HTTP_BYTES = 16u << 20;

double once(const std::function<void()> &f) {
    const auto a = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// The median times of 'ours' and 'base', run in turns so that a change in
// the machine's load meets both alike.
void paired(const std::function<void()> &ours, const std::function<void()> &base, double *t_ours,
            double *t_base) {
    std::vector<double> a, b;
    for (int i = 0; i < RUNS; i++) {
        a.push_back(once(ours));
        b.push_back(once(base));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    *t_ours = a[RUNS / 2];
    *t_base = b[RUNS / 2];
}

double worst_margin = 0;

void report(const char *name, double ours, double base, double goal) {
    const double ratio = ours / base;
    worst_margin = std::max(worst_margin, ratio / goal);
    std::fprintf(stderr, "net %s: ours %.4f s, baseline %.4f s\n", name, ours, base);
    std::printf("net %s ratio: %.3f\n", name, ratio);
    std::fflush(stdout);
}

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "bench_net: %s\n", what);
    std::exit(1);
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

uint16_t free_port(int type) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        fail("no free port");
    close(fd);
    return ntohs(a.sin_port);
}

// A process running 'code'; its slices run until it sets the global DONE.
process_rec *start(const std::string &code) {
    process_rec *p = create_process_from_code(code.c_str(), "bench", "/t/bench.lua", "");
    if (!p) fail("the benchmark process did not load");
    return p;
}

bool done(process_rec *p) {
    lua_State *L = p->lua_state;
    const bool d = lua_getglobal(L, "DONE") == LUA_TBOOLEAN && lua_toboolean(L, -1);
    lua_pop(L, 1);
    return d;
}

void run_until_done(process_rec *p) {
    while (!done(p)) {
        prepare_processes_for_frame();
        if (!run_process_slice(p, 1.0) && !done(p)) fail("the benchmark process stopped");
    }
}

/* ---- TCP throughput ---- */

void bench_tcp() {
    const std::string port = std::to_string(free_port(SOCK_STREAM));
    const std::string code =
        "local total = " + std::to_string(TCP_BYTES) + " local chunk = string.rep('t', " +
        std::to_string(TCP_CHUNK) + ")\n"
        "local l = _create_tcp_socket(" + port + ", '*')\n"
        "local c = _create_tcp_socket(" + port + ", '127.0.0.1')\n"
        "local a repeat a = _accept_socket(l) until a\n"
        "READY = true coroutine.yield()\n"
        "while true do\n"
        "  local sent, got, off = 0, 0, 0\n"
        "  while got < total do\n"
        "    if sent < total then\n"
        "      local n = _write_socket(c, off == 0 and chunk or chunk:sub(off + 1))\n"
        "      if math.type(n) == 'integer' then sent = sent + n off = (off + n) % #chunk end\n"
        "    end\n"
        "    local s = _read_socket(a)\n"
        "    if type(s) == 'string' then got = got + #s end\n"
        "  end\n"
        "  DONE = true coroutine.yield() DONE = false\n"
        "end\n";
    process_rec *p = start(code);
    prepare_processes_for_frame();
    run_process_slice(p, 1.0);
    auto ours = [&] {
        lua_pushboolean(p->lua_state, 0);
        lua_setglobal(p->lua_state, "DONE");
        run_until_done(p);
    };

    // The same loop over a raw non-blocking pair.
    const uint16_t raw_port = free_port(SOCK_STREAM);
    const int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(raw_port);
    if (bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(l, 4) != 0) fail("raw listener");
    const int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) fail("raw connect");
    const int s = accept4(l, nullptr, nullptr, SOCK_CLOEXEC);
    for (int fd : {c, s}) {
        fcntl(fd, F_SETFL, O_NONBLOCK);
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    std::vector<char> chunk(TCP_CHUNK, 't'), in(65536);
    auto base = [&] {
        int64_t sent = 0, got = 0, off = 0;
        while (got < TCP_BYTES) {
            if (sent < TCP_BYTES) {
                const ssize_t n = send(c, chunk.data() + off, size_t(TCP_CHUNK - off), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) sent += n, off = (off + n) % TCP_CHUNK;
            }
            const ssize_t r = recv(s, in.data(), in.size(), MSG_DONTWAIT);
            if (r > 0) got += r;
        }
    };
    double t_ours = 0, t_base = 0;
    paired(ours, base, &t_ours, &t_base);
    for (int fd : {l, c, s}) close(fd);
    report("tcp_throughput", t_ours, t_base, 1.3);
    processes_init();
    delete_sockets_by_process(0);
}

/* ---- UDP datagrams ---- */

void bench_udp() {
    const uint16_t port = free_port(SOCK_DGRAM);
    const std::string code = "local l = _create_udp_socket(" + std::to_string(port) +
                             ", '*') READY = l coroutine.yield()\n"
                             "local a repeat a = _accept_socket(l) coroutine.yield() until a\n"
                             "N = 0 coroutine.yield()\n"
                             "while true do for i = 1, " + std::to_string(UDP_ROUND) +
                             " do local s = _read_socket(a) if s then N = N + 1 end end coroutine.yield() end\n";
    process_rec *p = start(code);
    auto slice = [&] {
        prepare_processes_for_frame();
        run_process_slice(p, 1.0);
    };
    slice();
    const int client = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = loopback(port);
    std::vector<char> d(UDP_SIZE, 'u');
    int rcv = 4 << 20;
    setsockopt(sockdat[0].fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    sendto(client, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    update_all_sockets();
    slice();  // accepts the peer
    slice();  // reads the first datagram
    auto ours = [&] {
        for (int r = 0; r < UDP_DATAGRAMS / UDP_ROUND; r++) {
            for (int i = 0; i < UDP_ROUND; i++)
                sendto(client, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
            update_all_sockets();
            slice();
        }
    };
    const int server = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in at = loopback(free_port(SOCK_DGRAM));
    if (bind(server, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) fail("raw UDP bind");
    std::vector<char> in(65536);
    auto base = [&] {
        for (int r = 0; r < UDP_DATAGRAMS / UDP_ROUND; r++) {
            for (int i = 0; i < UDP_ROUND; i++)
                sendto(client, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&at), sizeof at);
            for (int i = 0; i < UDP_ROUND; i++) {
                sockaddr_in6 from;
                socklen_t len = sizeof from;
                recvfrom(server, in.data(), in.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &len);
            }
        }
    };
    double t_ours = 0, t_base = 0;
    paired(ours, base, &t_ours, &t_base);
    lua_getglobal(p->lua_state, "N");
    const lua_Integer n = lua_tointeger(p->lua_state, -1);
    lua_pop(p->lua_state, 1);
    if (n != lua_Integer(UDP_DATAGRAMS) * RUNS) fail("datagrams were lost");
    close(server);
    close(client);
    report("udp_datagrams", t_ours, t_base, 1.4);
    processes_init();
    delete_sockets_by_process(0);
}

/* ---- one large HTTP body ---- */

size_t append(char *bytes, size_t size, size_t count, void *out) {
    static_cast<std::string *>(out)->append(bytes, size * count);
    return size * count;
}

void bench_http() {
    const std::string body(HTTP_BYTES, 'h');
    const std::string reply = http_test::server::reply(200, body);
    http_test::server web([&](const http_test::server::conn &c, const std::string &) { c.send(reply); },
                          2 * RUNS + 2, std::chrono::seconds(300));
    const std::string url = web.url("/big");
    auto ours = [&] {
        const uint32_t id = gurl_get(url.c_str(), nullptr, nullptr);
        const gurl_job_rec *job = nullptr;
        while (!(job = gurl_get_job(id)) || !gurl_job_finished(job)) usleep(100);
        if (gurl_job_state(job) != GURL_DONE || job->response->length != HTTP_BYTES) fail("the fetch failed");
    };
    auto base = [&] {
        std::string got;
        CURL *curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got);
        if (curl_easy_perform(curl) != CURLE_OK || got.size() != HTTP_BYTES) fail("the baseline fetch failed");
        curl_easy_cleanup(curl);
    };
    double t_ours = 0, t_base = 0;
    paired(ours, base, &t_ours, &t_base);
    report("http_16mb", t_ours, t_base, 1.10);
    gurl_shutdown(2000);
}

}  // namespace

int main(int argc, char **argv) {
    net_install_loopback_guard();
    config.network_access = 1;
    config.headless = 1;
    app.audio_focus = -2;
    app.audio_synced_pid = -3;
    sockets_init();
    processes_init();
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "tcp") bench_tcp();
    if (only.empty() || only == "udp") bench_udp();
    if (only.empty() || only == "http") bench_http();
    std::printf("net worst goal margin: %.3f\n", worst_margin);
    return 0;
}
