// The socket table, the UDP peer table and the per-frame pass over the UDP
// listeners.
#include "sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "boot_hooks.h"
#include "gurl.h"
#include "host.h"
#include "net_seam.h"
#include "process.h"

socket_rec sockdat[MAX_SOCKETS];
int32_t sockets = 0;
sockbuf_rec sockbuf[MAX_SOCKET_PEERS];
int32_t sockbufs = 0;
uint32_t next_socket_id = 1;
uint32_t next_sockbuf_handle = 1;
uint8_t in_buf[SOCKET_READ_SIZE];

namespace {

uint8_t datagram[UDP_DATAGRAM_MAX];  /* the pass's receive area */

void copy_text(char *out, const char *text) {
    const size_t n = text ? strnlen(text, SOCKET_ADDRESS_SIZE - 1) : 0;
    if (n) std::memcpy(out, text, n);
    out[n] = 0;
}

// The peer's numeric text, IPv4 senders in the IPv4-mapped IPv6 form (as an
// IPv6 listener that takes IPv4 traffic sees them), and its port.
void peer_key(const socket_address &from, socklen_t len, char *text, uint32_t *port) {
    text[0] = 0;
    *port = 0;
    if (from.sa.sa_family == AF_INET6 && len >= sizeof(sockaddr_in6)) {
        inet_ntop(AF_INET6, &from.in6.sin6_addr, text, INET6_ADDRSTRLEN);
        *port = ntohs(from.in6.sin6_port);
    } else if (from.sa.sa_family == AF_INET && len >= sizeof(sockaddr_in)) {
        in6_addr mapped = {};
        mapped.s6_addr[10] = 0xFF;
        mapped.s6_addr[11] = 0xFF;
        std::memcpy(&mapped.s6_addr[12], &from.in4.sin_addr, 4);
        inet_ntop(AF_INET6, &mapped, text, INET6_ADDRSTRLEN);
        *port = ntohs(from.in4.sin_port);
    }
}

// Moves the unread bytes of a queue to its front.
void compact(sockbuf_rec *p) {
    buffer_rec *q = p->queue;
    const int64_t unread = q->length - p->read_at;
    if (unread > 0 && p->read_at > 0) std::memmove(q->data, q->data + p->read_at, size_t(unread));
    q->length = int32_t(unread);
    q->cursor = q->length;
    p->read_at = 0;
}

// Removes the record in slot i (descriptor by the removal rules) without
// compacting; returns nothing.
void release_slot(int32_t i) {
    socket_rec *s = &sockdat[i];
    if (s->peer_handle != 0 || s->fd < 0) return;
    const int fd = s->fd;
    close_host_socket(s);
    for (int32_t j = 0; j < sockets; j++)
        if (sockdat[j].peer_handle != 0 && sockdat[j].fd == fd) sockdat[j].fd = -1;
}

// Keeps the records for which 'keep' is true, in order.
template <typename F> void compact_table(F keep) {
    int32_t kept = 0;
    for (int32_t i = 0; i < sockets; i++) {
        if (!keep(sockdat[i])) continue;
        if (kept != i) sockdat[kept] = sockdat[i];
        kept++;
    }
    sockets = kept;
}

}  // namespace

sockbuf_rec *get_sockbuf_by_name(const char *text, uint32_t port, int create,
                                 const struct sockaddr *address, uint32_t address_length) {
    for (int32_t i = 0; i < sockbufs; i++)
        if (sockbuf[i].port == port && !std::strcmp(sockbuf[i].peer_text, text)) return &sockbuf[i];
    if (!create || sockbufs >= MAX_SOCKET_PEERS) return nullptr;
    buffer_rec *queue = create_buffer_2(512, PEER_QUEUE_TAG);
    if (!queue) return nullptr;
    sockbuf_rec *p = &sockbuf[sockbufs++];
    std::memset(p, 0, sizeof *p);
    copy_text(p->peer_text, text);
    p->port = port;
    p->queue = queue;
    if (address && address_length <= sizeof p->peer_address) {
        std::memcpy(&p->peer_address, address, address_length);
        p->peer_address_length = address_length;
    }
    return p;
}

sockbuf_rec *get_sockbuf_by_handle(uint32_t handle) {
    if (handle == 0) return nullptr;
    for (int32_t i = 0; i < sockbufs; i++)
        if (sockbuf[i].handle == handle) return &sockbuf[i];
    return nullptr;
}

socket_rec *add_socket(uint32_t type, const char *address, uint32_t port) {
    if (sockets >= MAX_SOCKETS) return nullptr;
    socket_rec *s = &sockdat[sockets++];
    std::memset(s, 0, sizeof *s);
    s->id = next_socket_id++;
    s->owner = cproc ? cproc->id : 0;
    s->type = type;
    s->fd = -1;
    s->port = port;
    copy_text(s->address, address);
    return s;
}

socket_rec *get_socket_for_id(int64_t id) {
    if (id < 1 || id > int64_t{0xFFFFFFFF}) return nullptr;
    for (int32_t i = 0; i < sockets; i++)
        if (sockdat[i].id == uint32_t(id)) return &sockdat[i];
    return nullptr;
}

void close_host_socket(socket_rec *s) {
    if (!s || s->fd < 0) return;
    close(s->fd);
    s->fd = -1;
}

void set_socket_fd_options(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

void delete_socket_by_id(int64_t id) {
    socket_rec *s = get_socket_for_id(id);
    if (!s) return;
    release_slot(int32_t(s - sockdat));
    const uint32_t gone = s->id;
    compact_table([gone](const socket_rec &r) { return r.id != gone; });
}

extern "C" void delete_sockets_by_process(int64_t pid) {
    if (pid == 0) {
        // Each distinct descriptor once: pseudo-sockets share their listener's.
        for (int32_t i = 0; i < sockets; i++) {
            const int fd = sockdat[i].fd;
            if (fd < 0) continue;
            close(fd);
            for (int32_t j = i; j < sockets; j++)
                if (sockdat[j].fd == fd) sockdat[j].fd = -1;
        }
        sockets = 0;
        return;
    }
    for (int32_t i = 0; i < sockets; i++)
        if (sockdat[i].owner == pid) release_slot(i);
    compact_table([pid](const socket_rec &r) { return r.owner != pid; });
}

bool peer_queue_put(sockbuf_rec *peer, const uint8_t *bytes, uint32_t n) {
    buffer_rec *q = peer->queue;
    const int64_t unread = int64_t(q->length) - peer->read_at;
    if (unread + int64_t(n) >= PEER_QUEUE_LIMIT) return false;
    if (peer->read_at > 0) compact(peer);
    q->cursor = q->length;
    if (!bwrite_uint32(n, q)) return false;
    if (n && bwrite(bytes, 1, n, q) != n) {
        q->length -= 4;  // the count without its bytes would misframe the queue
        q->cursor = q->length;
        return false;
    }
    return true;
}

bool peer_queue_take(sockbuf_rec *peer, const uint8_t **bytes, uint32_t *n) {
    buffer_rec *q = peer->queue;
    if (peer->read_at > q->length / 2) compact(peer);
    const int64_t unread = int64_t(q->length) - peer->read_at;
    if (unread <= 0) return false;
    uint32_t count = 0;
    if (unread >= 4) std::memcpy(&count, q->data + peer->read_at, 4);  // little-endian host
    if (unread < 4 || int64_t(count) > unread - 4) {
        q->length = 0;
        q->cursor = 0;
        peer->read_at = 0;
        return false;
    }
    *bytes = q->data + peer->read_at + 4;
    *n = count;
    peer->read_at += 4 + int64_t(count);
    if (peer->read_at == q->length) {  // drained: the next write starts at the front
        q->length = 0;
        q->cursor = 0;
        peer->read_at = 0;
    }
    return true;
}

void update_socket(socket_rec *s) {
    if (!s || s->type != SOCK_UDP || s->state != SOCK_LISTENING || s->fd < 0) return;
    for (int taken = 0; taken < UDP_PASS_MAX; taken++) {
        socket_address from = {};
        socklen_t from_len = sizeof from;
        const ssize_t got = net_recvfrom(s->fd, datagram, sizeof datagram, MSG_DONTWAIT, &from.sa, &from_len);
        if (got <= 0) return;
        char text[INET6_ADDRSTRLEN];
        uint32_t port = 0;
        peer_key(from, from_len, text, &port);
        if (!text[0]) continue;
        sockbuf_rec *peer = get_sockbuf_by_name(text, port, 1, &from.sa, from_len);
        if (peer) peer_queue_put(peer, datagram, uint32_t(got));
    }
}

extern "C" void update_all_sockets(void) {
    for (int32_t i = 0; i < sockets; i++) update_socket(&sockdat[i]);
}

extern "C" void sockets_init(void) {
    signal(SIGPIPE, SIG_IGN);
    gurl_global_init();
}

extern "C" void sockets_exit(void) {}

void sockets_reset_for_tests(void) {
    delete_sockets_by_process(0);
    for (int32_t i = 0; i < sockbufs; i++) destroy_buffer(sockbuf[i].queue);
    std::memset(sockbuf, 0, sizeof sockbuf);
    sockbufs = 0;
    next_socket_id = 1;
    next_sockbuf_handle = 1;
}
