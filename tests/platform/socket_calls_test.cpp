// The seven socket calls from Lua in processes, against loopback peers
// written with plain POSIX calls.
#include <netinet/tcp.h>

#include "net_fixture.h"

using namespace net_test;

using SocketCalls = NetTest;

namespace {

std::string str(int v) { return std::to_string(v); }

ssize_t unreachable_sendto(int, const void *, size_t, int, const sockaddr *, socklen_t) {
    errno = EHOSTUNREACH;
    return -1;
}

}  // namespace

TEST_F(SocketCalls, Messages) {
    process_rec *p = shell();
    process_rec *sandboxed = shell("sandbox");
    uint16_t held_port = 0;
    const int held = raw_listener(&held_port);
    const std::string free_tcp = str(free_port());
    const struct {
        const char *what;
        process_rec *proc;
        std::string code;
        std::string want;
    } cases[] = {
        {"port 0", p, "out(_create_tcp_socket(0, '127.0.0.1'))", "2:nil,bad port or address"},
        {"no port", p, "out(_create_udp_socket('x', '127.0.0.1'))", "2:nil,bad port or address"},
        {"no address", p, "out(_create_tcp_socket(80))", "2:nil,bad port or address"},
        {"table address", p, "out(_create_udp_socket(80, {}))", "2:nil,bad port or address"},
        {"sandboxed listener", sandboxed, "out(_create_tcp_socket(" + free_tcp + ", '*'))",
         "2:nil,can not create listener while sandboxed"},
        {"sandboxed *x", sandboxed, "out(_create_udp_socket(" + free_tcp + ", '*x'))",
         "2:nil,can not create listener while sandboxed"},
        {"sandboxed client", sandboxed,
         "local id = _create_tcp_socket(" + str(held_port) + ", '127.0.0.1') out(math.type(id))", "1:integer"},
        {"*x resolves", p, "out(_create_tcp_socket(" + free_tcp + ", '*x'))",
         std::string("2:nil,") + gai_strerror(EAI_NONAME)},
        {"names never resolve", p, "out(_create_tcp_socket(80, 'example.invalid'))",
         std::string("2:nil,") + gai_strerror(EAI_NONAME)},
        {"closed port", p, "out(_create_tcp_socket(" + free_tcp + ", '127.0.0.1'))", "0:"},
        {"unknown id", p, "out(_read_socket(999)) out(_sock_status(999)) out(_accept_socket(999))", "0:"},
        {"empty write", p, "out(_write_socket(999, ''))", "2:nil,no data to send"},
        {"no data", p, "out(_write_socket(999))", "2:nil,no data to send"},
        {"close unknown", p, "out(_close_socket(999)) out(_close_socket('x'))", "0:"},
        {"a socket made is charged", p,
         "local c = t_cycles() _close_socket(_create_udp_socket(" + free_tcp + ", '127.0.0.1')) "
         "out(t_cycles() - c >= 512)",
         "1:true"},
        {"a write is charged its call and bytes", p,
         "local s = _create_udp_socket(" + free_tcp + ", '127.0.0.1') local x = string.rep('x', 6400) "
         "local c = t_cycles() local n = _write_socket(s, x) out(n, t_cycles() - c >= 256 + 100) _close_socket(s)",
         "2:6400,true"},
        {"a read is charged its call, with nothing to read too", p,
         "local s = _create_udp_socket(" + free_tcp + ", '127.0.0.1') "
         "local c = t_cycles() local r = _read_socket(s) out(r, t_cycles() - c >= 128) _close_socket(s)",
         "2:nil,true"},
    };
    for (const auto &c : cases) {
        const Lines got = exec(c.proc, c.code);
        ASSERT_FALSE(got.empty()) << c.what;
        EXPECT_EQ(got[0], c.want) << c.what;
    }
    close(held);
}

TEST_F(SocketCalls, NetworkOff) {
    process_rec *p = shell();
    uint16_t port = 0;
    const int server = raw_listener(&port);
    ASSERT_EQ(exec1(p, "T = _create_tcp_socket(" + str(port) + ", '127.0.0.1') out(T)"), "1:1");
    const int peer = accept_within(server);
    ASSERT_GE(write(peer, "abc", 3), 0);
    config.network_access = 0;
    EXPECT_EQ(exec(p, "out(_create_tcp_socket(" + str(port) + ", '127.0.0.1')) out(_read_socket(T)) "
                      "out(_write_socket(T, 'x')) out(_sock_status(T))"),
              (Lines{"2:nil,quillmar network is disabled", "0:", "0:", "1:ready"}));
    config.network_access = 1;
    EXPECT_EQ(exec1(p, "out(_read_socket(T))"), "1:abc");
    close(peer);
    close(server);
}

TEST_F(SocketCalls, TooManySockets) {
    process_rec *p = shell();
    const uint16_t port = free_port();
    ASSERT_EQ(exec1(p, "L = _create_tcp_socket(" + str(port) + ", '*') out(L)"), "1:1");
    while (sockets < MAX_SOCKETS) add_socket(SOCK_TCP, "filler", 1);
    EXPECT_EQ(exec(p, "out(_create_udp_socket(5, '127.0.0.1')) out(_accept_socket(L))"),
              (Lines{"2:nil,too many sockets", "2:nil,too many sockets"}));
}

TEST_F(SocketCalls, ListenerBindFailures) {
    process_rec *p = shell();
    const uint16_t tport = free_port();
    ASSERT_EQ(exec1(p, "out(_create_tcp_socket(" + str(tport) + ", '*'))"), "1:1");
    EXPECT_EQ(exec1(p, "out(_create_tcp_socket(" + str(tport) + ", '*'))"), "2:nil,could not bind to port");
    EXPECT_EQ(sockets, 1);

    // A UDP port held by a socket without SO_REUSEADDR.
    const uint16_t uport = free_port(SOCK_DGRAM);
    const int holder = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a = {};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(uport);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ::testing::internal::CaptureStdout();
    const Lines got = exec(p, "out(_create_udp_socket(" + str(uport) + ", '*'))");
    const std::string printed_out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(got, Lines{"0:"});
    EXPECT_NE(printed_out.find("** bind failed\n"), std::string::npos);
    EXPECT_EQ(sockets, 1);
    close(holder);
}

TEST_F(SocketCalls, TcpListenAcceptReadWrite) {
    process_rec *p = shell();
    const uint16_t port = free_port();
    ASSERT_EQ(exec1(p, "L = _create_tcp_socket(" + str(port) + ", '*') out(L, math.type(L))"), "2:1,integer");
    EXPECT_EQ(exec1(p, "out(_accept_socket(L))"), "0:");
    EXPECT_EQ(exec1(p, "out(_read_socket(L))"), "2:nil,socket is closed or not ready");
    EXPECT_EQ(exec1(p, "out(_write_socket(L, 'x'))"), "2:nil,socket is closed or not ready");
    const int peer = raw_connect(port);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(readable_within(sockdat[0].fd));
    EXPECT_EQ(exec1(p, "C = _accept_socket(L) out(C, math.type(C), _sock_status(C))"), "3:2.0,float,ready");
    EXPECT_EQ(exec1(p, "out(_accept_socket(C))"), "2:nil,socket is not listening");
    EXPECT_EQ(exec1(p, "out(_read_socket(C))"), "2:nil,errno " + str(EAGAIN));
    EXPECT_EQ(exec1(p, "out(_write_socket(C, 'ping'))"), "1:4");
    EXPECT_EQ(read_within(peer, 4), "ping");
    ASSERT_EQ(write(peer, "pong", 4), 4);
    ASSERT_TRUE(readable_within(sockdat[1].fd));
    EXPECT_EQ(exec1(p, "out(_read_socket(C))"), "1:pong");
    close(peer);
    ASSERT_TRUE(readable_within(sockdat[1].fd));  // the end of the stream
    EXPECT_EQ(exec(p, "out(_read_socket(C)) out(_read_socket(C)) out(_sock_status(C))"),
              (Lines{"2:nil,connection closed by peer", "2:nil,socket is closed or not ready", "1:invalid"}));
}

TEST_F(SocketCalls, APeerThatResets) {
    process_rec *p = shell();
    uint16_t port = 0;
    const int server = raw_listener(&port);
    for (const char *op : {"read", "write"}) {
        SCOPED_TRACE(op);
        sockets_reset_for_tests();
        ASSERT_EQ(exec1(p, "T = _create_tcp_socket(" + str(port) + ", '127.0.0.1') out(T)"), "1:1");
        const int peer = accept_within(server);
        ASSERT_GE(peer, 0);
        const linger hard = {1, 0};  // close with a reset
        setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(peer);
        ASSERT_TRUE(readable_within(sockdat[0].fd));  // the reset
        if (std::string(op) == "read") {
            EXPECT_EQ(exec1(p, "out(_read_socket(T))"), "2:nil,errno " + str(ECONNRESET));
        } else {
            const Lines got = exec(p, "for i = 1, 3 do local n, e = _write_socket(T, 'x') "
                                      "if not n then out(n, e) break end end");
            ASSERT_EQ(got.size(), 1u);
            EXPECT_TRUE(got[0] == "2:nil,errno " + str(EPIPE) || got[0] == "2:nil,errno " + str(ECONNRESET))
                << got[0];
        }
        EXPECT_EQ(exec1(p, "out(_sock_status(T))"), "1:invalid");
    }
    close(server);
}

TEST_F(SocketCalls, LargeStreamsAreReadInFullSizedPieces) {
    process_rec *p = shell();
    uint16_t port = 0;
    const int server = raw_listener(&port);
    ASSERT_EQ(exec1(p, "T = _create_tcp_socket(" + str(port) + ", '127.0.0.1') out(T) N = 0 BIG = 0"), "1:1");
    const int peer = accept_within(server);
    const size_t total = 10 * 1000 * 1000;
    std::string data(total, 0);
    for (size_t i = 0; i < total; i++) data[i] = char(i * 7 + (i >> 13));
    size_t sent = 0;
    fcntl(peer, F_SETFL, O_NONBLOCK);
    // The shell reads each slice; a checksum keeps the strings out of the
    // output.
    const std::string reader =
        "for i = 1, 64 do local s = _read_socket(T) if type(s) ~= 'string' then break end "
        "N = N + #s if #s > BIG then BIG = #s end end";
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStallMs);
    while (sent < total && std::chrono::steady_clock::now() < until) {
        const ssize_t n = send(peer, data.data() + sent, total - sent, MSG_NOSIGNAL);
        if (n > 0) sent += size_t(n);
        exec(p, reader);
    }
    while (exec1(p, "out(N)") != "1:" + str(int(total)) && std::chrono::steady_clock::now() < until)
        exec(p, reader);
    EXPECT_EQ(exec1(p, "out(N, BIG)"), "2:" + str(int(total)) + "," + str(SOCKET_READ_SIZE));
    close(peer);
    close(server);
}

TEST_F(SocketCalls, AConnectThatIsNeverAnsweredGivesUp) {
    process_rec *p = shell();
    uint16_t port = 0;
    const int server = raw_listener(&port, 0);
    const int first = raw_connect(port);  // fills the accept queue, never accepted
    ASSERT_GE(first, 0);
    socket_connect_timeout_ms = 300;
    const auto t0 = std::chrono::steady_clock::now();
    const Lines got = exec(p, "out(_create_tcp_socket(" + str(port) + ", '127.0.0.1')) out(#'x')");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(got, (Lines{"0:", "1:1"}));
    EXPECT_LT(ms.count(), 2500);
    EXPECT_EQ(sockets, 0);
    close(first);
    close(server);
}

TEST_F(SocketCalls, UdpListenerAndClient) {
    process_rec *p = shell();
    const uint16_t port = free_port(SOCK_DGRAM);
    ASSERT_EQ(exec1(p, "L = _create_udp_socket(" + str(port) + ", '*') C = _create_udp_socket(" + str(port) +
                           ", '127.0.0.1') out(L, C)"),
              "2:1,2");
    EXPECT_EQ(exec1(p, "out(_accept_socket(L))"), "0:");
    EXPECT_EQ(exec(p, "out(_write_socket(C, 'one')) out(_write_socket(C, 'two!'))"), (Lines{"1:3", "1:4"}));
    // Both datagrams in the listener's peer queue: 4 + 3 and 4 + 4 bytes.
    ASSERT_TRUE(eventually([this] {
        poll_sockets();
        return sockbufs == 1 && sockbuf[0].queue && sockbuf[0].queue->length == 15;
    }));
    EXPECT_EQ(exec(p, "A = _accept_socket(L) out(A, math.type(A)) out(_read_socket(A)) out(_read_socket(A)) "
                      "out(_read_socket(A)) out(_write_socket(A, 'back'))"),
              (Lines{"2:3.0,float", "1:one", "1:two!", "0:", "1:4"}));
    ASSERT_TRUE(readable_within(sockdat[1].fd));
    EXPECT_EQ(exec(p, "out(_read_socket(C)) out(_read_socket(C))"), (Lines{"1:back", "2:nil,errno " + str(EAGAIN)}));
    EXPECT_EQ(exec1(p, "out(_sock_status(L), _sock_status(A))"), "2:listening,ready");
    // A failed send on the peer gives its error and closes nothing: the
    // descriptor is the listener's (it used to be closed under it).
    net_calls.sendto = unreachable_sendto;
    EXPECT_EQ(exec1(p, "out(_write_socket(A, 'lost'))"), "2:nil,errno " + str(EHOSTUNREACH));
    EXPECT_TRUE(fd_is_open(sockdat[0].fd));
    EXPECT_EQ(exec1(p, "out(_sock_status(L), _sock_status(A))"), "2:listening,ready");
}

// A process holds a listener, an accepted connection, a client and a UDP
// pseudo-socket; another process holds a pseudo-socket on its UDP listener.
// Each way of ending it closes what it owns.
TEST_F(SocketCalls, CleanupWhenAProcessEnds) {
    for (const char *how : {"kill", "restart", "close resources"}) {
        SCOPED_TRACE(how);
        sockets_reset_for_tests();
        processes_init();
        process_rec *owner = shell();
        process_rec *other = shell();
        const int64_t owner_id = owner->id;
        uint16_t server_port = 0;
        const int server = raw_listener(&server_port);
        const uint16_t tport = free_port(), uport = free_port(SOCK_DGRAM);
        ASSERT_EQ(exec1(owner, "L = _create_tcp_socket(" + str(tport) + ", '*') C = _create_tcp_socket(" +
                                   str(server_port) + ", '127.0.0.1') U = _create_udp_socket(" + str(uport) +
                                   ", '*') out(L, C, U)"),
                  "3:1,2,3");
        const int in_peer = raw_connect(tport);
        const int out_peer = accept_within(server);
        const int u1 = raw_udp(), u2 = raw_udp();
        send_udp(u1, uport, "for owner");
        send_udp(u2, uport, "for other");
        // Both peers heard, and the connection on the listener.
        ASSERT_TRUE(eventually([this] {
            poll_sockets();
            return sockbufs == 2;
        }));
        ASSERT_TRUE(readable_within(sockdat[0].fd));
        ASSERT_EQ(exec1(owner, "A = _accept_socket(L) P = _accept_socket(U) out(A, P)"), "2:4.0,5.0");
        ASSERT_EQ(exec1(other, "Q = _accept_socket(3) out(Q)"), "1:6.0");
        std::vector<int> owned;
        for (int i = 0; i < sockets; i++)
            if (sockdat[i].owner == owner_id && sockdat[i].peer_handle == 0) owned.push_back(sockdat[i].fd);
        ASSERT_EQ(owned.size(), 4u);

        if (std::string(how) == "kill") kill_process(owner);
        else if (std::string(how) == "restart") restart_process(owner);
        else exec(other, "_close_process_host_resources(" + std::to_string(owner_id) + ")");

        for (int fd : owned) EXPECT_FALSE(fd_is_open(fd)) << fd;
        EXPECT_TRUE(sees_end(in_peer));
        EXPECT_TRUE(sees_end(out_peer));
        EXPECT_EQ(exec(other, "out(_sock_status(Q)) out(_read_socket(Q)) T = _create_tcp_socket(" + str(tport) +
                                  ", '*') out(T)"),
                  (Lines{"1:invalid", "1:for other", "1:7"}));
        for (int fd : {in_peer, out_peer, u1, u2, server}) close(fd);
    }
}
