// The socket table, the UDP peer queues and the per-frame pass, driven
// directly and through processes, over real loopback sockets.
#include <set>

#include "net_fixture.h"

using namespace net_test;

using SocketTable = NetTest;

namespace {


// The queue contents of 'peer' as the strings a reader would take.
std::vector<std::string> take_all(sockbuf_rec *peer) {
    std::vector<std::string> v;
    const uint8_t *bytes = nullptr;
    uint32_t n = 0;
    while (peer_queue_take(peer, &bytes, &n)) v.emplace_back(reinterpret_cast<const char *>(bytes), n);
    return v;
}

// A UDP listener record made directly: an IPv6 socket taking IPv4 too,
// bound to 'port' on the any-address.
socket_rec *direct_udp_listener(uint16_t port) {
    socket_rec *s = add_socket(SOCK_UDP, "*", port);
    s->fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int zero = 0;
    setsockopt(s->fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    set_socket_fd_options(s->fd);
    sockaddr_in6 a = {};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(port);
    EXPECT_EQ(bind(s->fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    s->state = SOCK_LISTENING;
    return s;
}

// Waits until a datagram is pending on 'fd' (loopback delivery is immediate,
// but the test must not race it).
void settle(int fd) { EXPECT_TRUE(readable_within(fd)) << "no datagram arrived"; }

}  // namespace

TEST_F(SocketTable, IdsStartAtOneAndOnlyGrow) {
    socket_rec *a = add_socket(SOCK_TCP, "x", 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->id, 1u);
    EXPECT_EQ(a->fd, -1);
    EXPECT_EQ(add_socket(SOCK_TCP, "y", 1)->id, 2u);
    delete_socket_by_id(1);
    delete_socket_by_id(2);
    EXPECT_EQ(add_socket(SOCK_UDP, "z", 1)->id, 3u);

    // A failed creation from Lua uses up an id too.
    process_rec *p = shell();
    const std::string port = std::to_string(free_port());
    EXPECT_EQ(exec1(p, "out(_create_tcp_socket(" + port + ", '*'))"), "1:4");
    EXPECT_EQ(exec1(p, "out(_create_tcp_socket(" + port + ", '*'))"), "2:nil,could not bind to port");
    EXPECT_EQ(exec1(p, "out(_create_udp_socket(9, '127.0.0.1'))"), "1:6");

    while (sockets < MAX_SOCKETS) ASSERT_NE(add_socket(SOCK_TCP, "x", 1), nullptr);
    EXPECT_EQ(add_socket(SOCK_TCP, "x", 1), nullptr);
    EXPECT_EQ(get_socket_for_id(0), nullptr);
    EXPECT_EQ(get_socket_for_id(int64_t{0x100000006}), nullptr);  // never truncated to 6
    EXPECT_NE(get_socket_for_id(6), nullptr);
}

TEST_F(SocketTable, UdpQueuesKeepDatagramsWholeAndInOrder) {
    const uint16_t port = free_port(SOCK_DGRAM);
    socket_rec *l = direct_udp_listener(port);
    const int client = raw_udp();
    send_udp(client, port, "first");
    send_udp(client, port, "second datagram");
    settle(l->fd);
    poll_sockets();
    ASSERT_EQ(sockbufs, 1);
    EXPECT_STREQ(sockbuf[0].peer_text, "::ffff:127.0.0.1");  // an IPv4 sender, mapped
    EXPECT_EQ(sockbuf[0].port, local_port(client));
    EXPECT_EQ(take_all(&sockbuf[0]), (std::vector<std::string>{"first", "second datagram"}));
    close(client);
}

TEST_F(SocketTable, TheQueueLimitCountsUnreadBytes) {
    const uint16_t port = free_port(SOCK_DGRAM);
    socket_rec *l = direct_udp_listener(port);
    const int client = raw_udp();
    int rcv = 1 << 20;
    setsockopt(l->fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    // 30004 + 35531 = 65535 queued; one more byte would reach 65536.
    send_udp(client, port, std::string(30000, 'a'));
    send_udp(client, port, std::string(35531, 'b'));
    send_udp(client, port, "c");
    settle(l->fd);
    poll_sockets();
    ASSERT_EQ(sockbufs, 1);
    const auto got = take_all(&sockbuf[0]);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size(), 30000u);
    EXPECT_EQ(got[1].size(), 35531u);
    // Once read, the room is back.
    send_udp(client, port, "d");
    settle(l->fd);
    poll_sockets();
    EXPECT_EQ(take_all(&sockbuf[0]), std::vector<std::string>{"d"});
    close(client);
}

TEST_F(SocketTable, AnEmptyDatagramEndsThePass) {
    const uint16_t port = free_port(SOCK_DGRAM);
    socket_rec *l = direct_udp_listener(port);
    const int client = raw_udp();
    send_udp(client, port, "a");
    send_udp(client, port, "");
    send_udp(client, port, "b");
    settle(l->fd);
    poll_sockets();
    EXPECT_EQ(take_all(&sockbuf[0]), std::vector<std::string>{"a"});
    poll_sockets();
    EXPECT_EQ(take_all(&sockbuf[0]), std::vector<std::string>{"b"});
    close(client);
}

TEST_F(SocketTable, The513thPeerIsDropped) {
    const uint16_t port = free_port(SOCK_DGRAM);
    socket_rec *l = direct_udp_listener(port);
    int rcv = 4 << 20;
    setsockopt(l->fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
    std::vector<int> clients;
    for (int i = 0; i < MAX_SOCKET_PEERS + 1; i++) {
        clients.push_back(raw_udp());
        send_udp(clients.back(), port, "hi");
        if (i % 64 == 63) poll_sockets();
    }
    settle(l->fd);
    poll_sockets();
    EXPECT_EQ(sockbufs, MAX_SOCKET_PEERS);
    const uint16_t last = local_port(clients.back());
    char text[INET6_ADDRSTRLEN] = "::ffff:127.0.0.1";
    EXPECT_EQ(get_sockbuf_by_name(text, last, 0, nullptr, 0), nullptr);
    EXPECT_NE(get_sockbuf_by_name(text, local_port(clients[0]), 0, nullptr, 0), nullptr);
    for (int fd : clients) close(fd);
}

namespace {
int flood_calls = 0;
ssize_t endless_recvfrom(int, void *buf, size_t, int, struct sockaddr *addr, socklen_t *len) {
    flood_calls++;
    sockaddr_in a = loopback(4000);
    std::memcpy(addr, &a, sizeof a);
    *len = sizeof a;
    static_cast<uint8_t *>(buf)[0] = 'x';
    return 1;
}
int refuse_ipv6(int domain, int type, int protocol) {
    if (domain == AF_INET6) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    return socket(domain, type, protocol);
}
}  // namespace

TEST_F(SocketTable, OnePassTakesAtMost1024Datagrams) {
    socket_rec *l = direct_udp_listener(free_port(SOCK_DGRAM));
    (void)l;
    flood_calls = 0;
    net_calls.recvfrom = endless_recvfrom;
    poll_sockets();
    EXPECT_EQ(flood_calls, UDP_PASS_MAX);
    ASSERT_EQ(sockbufs, 1);
    EXPECT_EQ(take_all(&sockbuf[0]).size(), size_t(UDP_PASS_MAX));
}

TEST_F(SocketTable, ReadsByOffsetMatchAPlainQueue) {
    // Differential against a plain model: entries in, entries out, with
    // interleaving, compaction and refusals at the limit.
    char text[] = "::1";
    sockbuf_rec *p = get_sockbuf_by_name(text, 7, 1, nullptr, 0);
    ASSERT_NE(p, nullptr);
    std::vector<std::string> model;
    size_t model_unread = 0;
    uint32_t seed = 12345;
    auto rnd = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 8); };
    for (int step = 0; step < 20000; step++) {
        if (rnd() % 3) {
            const std::string d(rnd() % 3000, char('a' + step % 26));
            const bool fits = model_unread + d.size() < size_t(PEER_QUEUE_LIMIT);
            EXPECT_EQ(peer_queue_put(p, reinterpret_cast<const uint8_t *>(d.data()), uint32_t(d.size())), fits);
            if (fits) model.push_back(d), model_unread += 4 + d.size();
        } else {
            const uint8_t *bytes = nullptr;
            uint32_t n = 0;
            const bool got = peer_queue_take(p, &bytes, &n);
            ASSERT_EQ(got, !model.empty()) << step;
            if (!got) continue;
            ASSERT_EQ(std::string(reinterpret_cast<const char *>(bytes), n), model.front()) << step;
            model_unread -= 4 + model.front().size();
            model.erase(model.begin());
        }
        ASSERT_LE(p->queue->length, PEER_QUEUE_LIMIT + 4 + 3000);
    }
}

TEST_F(SocketTable, ABadCountEmptiesTheQueue) {
    char text[] = "::1";
    sockbuf_rec *p = get_sockbuf_by_name(text, 8, 1, nullptr, 0);
    const struct {
        std::string bytes;  // the raw queue
    } cases[] = {
        {std::string("\x05\0\0\0abcd", 8)},            // count one past the bytes
        {std::string("\xff\xff\xff\xff" "abc", 7)},    // would wrap in 32 bits
        {std::string("\x01\0", 2)},                    // a count cut short
    };
    for (const auto &c : cases) {
        p->queue->length = 0;
        p->queue->cursor = 0;
        p->read_at = 0;
        bwrite(c.bytes.data(), 1, int64_t(c.bytes.size()), p->queue);
        const uint8_t *bytes = nullptr;
        uint32_t n = 0;
        EXPECT_FALSE(peer_queue_take(p, &bytes, &n));
        EXPECT_EQ(p->queue->length, 0);
    }
}

TEST_F(SocketTable, RemovingRecordsClosesEachDescriptorOnce) {
    process_rec *p = shell();
    const uint16_t port = free_port(SOCK_DGRAM);
    ASSERT_EQ(exec1(p, "L = _create_udp_socket(" + std::to_string(port) + ", '*') out(L)"), "1:1");
    const int client_a = raw_udp(), client_b = raw_udp();
    send_udp(client_a, port, "a1");
    send_udp(client_b, port, "b1");
    settle(sockdat[0].fd);
    poll_sockets();
    ASSERT_EQ(exec1(p, "A = _accept_socket(L) B = _accept_socket(L) out(A, B, math.type(A))"), "3:2.0,3.0,float");
    const int fd = sockdat[0].fd;

    // A pseudo-socket goes; its listener keeps receiving.
    EXPECT_EQ(exec(p, "_close_socket(A) out(_sock_status(A)) out(_sock_status(L))"), (Lines{"0:", "1:listening"}));
    EXPECT_TRUE(fd_is_open(fd));
    send_udp(client_b, port, "b2");
    settle(fd);
    poll_sockets();
    // The listener goes: B keeps its queue but no descriptor.
    EXPECT_EQ(exec1(p, "_close_socket(L) out(_sock_status(B))"), "1:invalid");
    EXPECT_FALSE(fd_is_open(fd));
    EXPECT_EQ(exec(p, "out(_read_socket(B)) out(_read_socket(B)) out(_read_socket(B))"),
              (Lines{"1:b1", "1:b2", "0:"}));
    EXPECT_EQ(sockdat[0].fd, -1);
    close(client_a);
    close(client_b);
}

TEST_F(SocketTable, DeletingEverySocketClosesSharedDescriptorsOnce) {
    process_rec *p = shell();
    const uint16_t uport = free_port(SOCK_DGRAM), tport = free_port();
    ASSERT_EQ(exec1(p, "U = _create_udp_socket(" + std::to_string(uport) + ", '*') T = _create_tcp_socket(" +
                           std::to_string(tport) + ", '*') out(U, T)"),
              "2:1,2");
    const int client = raw_udp();
    send_udp(client, uport, "x");
    settle(sockdat[0].fd);
    poll_sockets();
    ASSERT_EQ(exec1(p, "out(_accept_socket(U))"), "1:3.0");
    std::set<int> fds;
    for (int i = 0; i < sockets; i++) fds.insert(sockdat[i].fd);
    ASSERT_EQ(fds.size(), 2u);

    delete_sockets_by_process(p->id + 100);  // owns nothing
    EXPECT_EQ(sockets, 3);
    for (int fd : fds) EXPECT_TRUE(fd_is_open(fd));

    delete_sockets_by_process(0);
    EXPECT_EQ(sockets, 0);
    for (int fd : fds) EXPECT_FALSE(fd_is_open(fd)) << fd;
    close(client);
}

TEST_F(SocketTable, DescriptorZeroIsARealDescriptor) {
    process_rec *p = shell();  // its log line opens the log first
    const uint16_t port = free_port(SOCK_DGRAM);
    const int client = raw_udp();
    const int saved = dup(0);
    ASSERT_GE(saved, 0);
    close(0);
    const std::string made = exec1(p, "L = _create_udp_socket(" + std::to_string(port) + ", '*') out(L)");
    const int fd = sockets ? sockdat[0].fd : -2;
    send_udp(client, port, "zero");
    settle(fd);
    poll_sockets();
    const Lines got = exec(p, "out(_sock_status(L)) A = _accept_socket(L) out(_read_socket(A)) _close_socket(L)");
    const bool closed = !fd_is_open(0);
    dup2(saved, 0);
    close(saved);
    close(client);
    EXPECT_EQ(made, "1:1");
    EXPECT_EQ(fd, 0);
    EXPECT_EQ(got, (Lines{"1:listening", "1:zero"}));
    EXPECT_TRUE(closed);
}

TEST_F(SocketTable, ListenersFallBackToIpv4WhenIpv6IsRefused) {
    net_calls.socket = refuse_ipv6;
    process_rec *p = shell();
    const uint16_t port = free_port(SOCK_DGRAM);
    ASSERT_EQ(exec1(p, "L = _create_udp_socket(" + std::to_string(port) + ", '*') out(L)"), "1:1");
    const int client = raw_udp();
    send_udp(client, port, "v4");
    settle(sockdat[0].fd);
    poll_sockets();
    ASSERT_EQ(sockbufs, 1);
    EXPECT_STREQ(sockbuf[0].peer_text, "::ffff:127.0.0.1");
    EXPECT_EQ(exec(p, "A = _accept_socket(L) out(_read_socket(A)) out(_write_socket(A, 'back'))"),
              (Lines{"1:v4", "1:4"}));
    EXPECT_EQ(read_within(client, 4), "back");
    close(client);
}
