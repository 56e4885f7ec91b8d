// The socket calls of the Lua side: create, close, read, status, accept and
// write, registered by socket_add_public_c_functions.
//
// Nothing here holds a host resource across a Lua call that can raise: the
// bytes pushed come from in_buf or a peer queue, both owned by the table.
#include "socket_calls.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app_state.h"
#include "host.h"
#include "intp.h"
#include "lua.hpp"
#include "net_seam.h"
#include "process.h"
#include "saturate.h"
#include "sockets.h"
#include "vm_hooks.h"

int32_t socket_connect_timeout_ms = 3000;

namespace {

inline constexpr int LISTEN_BACKLOG = 64;
/* A host socket made: resolving the address, the socket, its connection or
   its binding, as the budget bench measures them on loopback. */
inline constexpr int32_t SOCKET_MADE_CYCLES = 4096;  /* the system's socket made and set up */
inline constexpr int32_t SOCKET_SEND_CYCLES = 256;  /* a send's call into the system, besides its bytes / 64 */
inline constexpr int32_t SOCKET_RECV_CYCLES = 128;  /* a receive's call into the system: 0.3 us with nothing to read */

const char *const state_names[] = {"ready", "listening", "closed", "closed by peer", "disconnected"};

int push_socket_error(lua_State *L, const char *message) {
    lua_pushnil(L);
    if (message) lua_pushstring(L, message);
    else lua_pushfstring(L, "errno %d", errno);
    return 2;
}

// A failed host call on 's': connection-ending errors drop the descriptor.
int close_host_socket_on_error(lua_State *L, socket_rec *s) {
    const int e = errno;
    if (!s || s->fd < 0) return 0;
    if (e == EPIPE || e == ECONNRESET || e == ETIMEDOUT || e == EBADF || e == EHOSTUNREACH)
        close_host_socket(s);
    errno = e;
    return push_socket_error(L, nullptr);
}

int64_t read_id(lua_State *L, int index) {
    int ok = 0;
    const lua_Integer id = lua_tointegerx(L, index, &ok);
    return ok ? id : 0;
}

bool sandboxed() { return cproc && cproc->has_argument; }

// A socket of 'family' and 'type', close-on-exec; -1 on failure.
int new_socket(int family, int type, int protocol) {
    return net_socket(family, type | SOCK_CLOEXEC, protocol);
}

// A listener's descriptor bound to the any-address and 'port': IPv6 taking
// IPv4 traffic too, or IPv4 alone when the host has no IPv6. -1 when no
// socket could be made; -2 when binding failed (descriptor closed).
int bound_listener(int type, uint32_t port, socket_address *bound, uint32_t *bound_len) {
    const int protocol = type == SOCK_STREAM ? IPPROTO_TCP : 0;
    int fd = new_socket(AF_INET6, type, protocol);
    socket_address a = {};
    socklen_t len = 0;
    if (fd >= 0) {
        const int zero = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        a.in6.sin6_family = AF_INET6;
        a.in6.sin6_addr = in6addr_any;
        a.in6.sin6_port = htons(uint16_t(port));
        len = sizeof(sockaddr_in6);
    } else if (errno == EAFNOSUPPORT) {
        fd = new_socket(AF_INET, type, protocol);
        a.in4.sin_family = AF_INET;
        a.in4.sin_addr.s_addr = htonl(INADDR_ANY);
        a.in4.sin_port = htons(uint16_t(port));
        len = sizeof(sockaddr_in);
    }
    if (fd < 0) return -1;
    set_socket_fd_options(fd);
    if (bind(fd, &a.sa, len) != 0) {
        close(fd);
        return -2;
    }
    if (bound) *bound = a;
    if (bound_len) *bound_len = len;
    return fd;
}

// Connects 'fd' to 'addr', waiting at most socket_connect_timeout_ms for a
// stream socket's handshake.
bool connect_bounded(int fd, const struct addrinfo *ai) {
    set_socket_fd_options(fd);
    if (net_connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return true;
    if (errno == EAGAIN) return true;
    if (errno != EINPROGRESS) return false;
    if (ai->ai_socktype != SOCK_STREAM) return true;
    struct pollfd p = {fd, POLLOUT, 0};
    int r;
    do r = poll(&p, 1, socket_connect_timeout_ms);
    while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    int err = 0;
    socklen_t err_len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) != 0 || err != 0) return false;
    return true;
}

int create_socket(lua_State *L, uint32_t type) {
    const int64_t port = kiv_intp(L, 1, 0);
    const int t = lua_type(L, 2);
    const char *address = (t == LUA_TSTRING || t == LUA_TNUMBER) ? lua_tostring(L, 2) : nullptr;
    if (port == 0 || !address) return push_socket_error(L, "bad port or address");
    if (!config.network_access) return push_socket_error(L, "quillmar network is disabled");
    if (sockets >= MAX_SOCKETS) return push_socket_error(L, "too many sockets");
    if (sandboxed() && address[0] == '*') return push_socket_error(L, "can not create listener while sandboxed");
    spend_cpu(SOCKET_MADE_CYCLES);

    if (!std::strcmp(address, "*")) {
        const uint32_t lport = uint32_t(port) & 0xFFFF;
        socket_rec *s = add_socket(type, "*", uint32_t(port));
        if (!s) return push_socket_error(L, "too many sockets");
        const uint32_t id = s->id;
        socket_address bound = {};
        uint32_t bound_len = 0;
        const int fd = bound_listener(type == SOCK_TCP ? SOCK_STREAM : SOCK_DGRAM, lport, &bound, &bound_len);
        if (fd < 0) {
            delete_socket_by_id(id);
            if (type == SOCK_TCP) {
                if (fd == -2) return push_socket_error(L, "could not bind to port");
                return push_socket_error(L, nullptr);
            }
            if (fd == -2) std::printf("** bind failed\n");
            return 0;
        }
        s->fd = fd;
        s->state = SOCK_LISTENING;
        if (type == SOCK_TCP) {
            if (listen(fd, LISTEN_BACKLOG) != 0) {
                delete_socket_by_id(id);
                return push_socket_error(L, "could not listen()");
            }
        } else {
            s->peer_address = bound;
            s->peer_address_length = bound_len;
        }
        lua_pushinteger(L, lua_Integer(id));
        return 1;
    }

    char service[24];
    std::snprintf(service, sizeof service, "%lld", static_cast<long long>(port));
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type == SOCK_TCP ? SOCK_STREAM : SOCK_DGRAM;
    struct addrinfo *list = nullptr;
    const int r = net_getaddrinfo(address, service, &hints, &list);
    if (r != 0) {
        if (r == EAI_SYSTEM) return push_socket_error(L, nullptr);
        const char *text = gai_strerror(r);
        if (text && text[0]) return push_socket_error(L, text);
        errno = r;
        return push_socket_error(L, nullptr);
    }
    int fd = -1;
    const struct addrinfo *taken = nullptr;
    for (const struct addrinfo *ai = list; ai && fd < 0; ai = ai->ai_next) {
        const int c = new_socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (c < 0) continue;
        if (connect_bounded(c, ai)) {
            fd = c;
            taken = ai;
        } else {
            close(c);
        }
    }
    if (fd < 0) {
        freeaddrinfo(list);
        return 0;
    }
    socket_address peer = {};
    const uint32_t peer_len = taken->ai_addrlen <= sizeof peer ? uint32_t(taken->ai_addrlen) : 0;
    std::memcpy(&peer, taken->ai_addr, peer_len);
    freeaddrinfo(list);
    socket_rec *s = add_socket(type, address, uint32_t(port));
    s->fd = fd;
    if (type == SOCK_UDP) {
        s->peer_address = peer;
        s->peer_address_length = peer_len;
    }
    lua_pushinteger(L, lua_Integer(s->id));
    return 1;
}

}  // namespace

int lua54_create_tcp_socket(lua_State *L) { return create_socket(L, SOCK_TCP); }

int lua54_create_udp_socket(lua_State *L) { return create_socket(L, SOCK_UDP); }

int lua54_close_socket(lua_State *L) {
    int ok = 0;
    const lua_Number n = lua_tonumberx(L, 1, &ok);
    if (ok) delete_socket_by_id(saturate_double_to_i64(n));
    return 0;
}

int lua54_read_socket(lua_State *L) {
    socket_rec *s = get_socket_for_id(read_id(L, 1));
    if (!s) return 0;
    if (s->state != SOCK_READY) return push_socket_error(L, "socket is closed or not ready");
    if (!config.network_access) return 0;
    if (s->type == SOCK_UDP && s->peer_handle != 0) {
        sockbuf_rec *peer = get_sockbuf_by_handle(s->peer_handle);
        const uint8_t *bytes = nullptr;
        uint32_t n = 0;
        if (!peer || !peer_queue_take(peer, &bytes, &n)) return 0;
        lua_pushlstring(L, reinterpret_cast<const char *>(bytes), n);
        return 1;
    }
    if (s->type != SOCK_TCP && s->type != SOCK_UDP) return 0;
    if (s->fd < 0) return 0;
    const ssize_t got = net_recvfrom(s->fd, in_buf, sizeof in_buf, MSG_DONTWAIT, nullptr, nullptr);
    // The call into the system and the bytes it gave.
    spend_cpu(SOCKET_RECV_CYCLES + int32_t(std::max<ssize_t>(got, 0) / 64));
    if (got > 0) {
        lua_pushlstring(L, reinterpret_cast<const char *>(in_buf), size_t(got));
        return 1;
    }
    if (got == 0) {
        if (s->type == SOCK_UDP) return 0;
        close_host_socket(s);
        s->state = SOCK_CLOSED_BY_PEER;
        return push_socket_error(L, "connection closed by peer");
    }
    return close_host_socket_on_error(L, s);
}

int lua54_write_socket(lua_State *L) {
    const int t = lua_type(L, 2);
    size_t len = 0;
    const char *data = (t == LUA_TSTRING || t == LUA_TNUMBER) ? lua_tolstring(L, 2, &len) : nullptr;
    if (!data || len == 0) return push_socket_error(L, "no data to send");
    socket_rec *s = get_socket_for_id(read_id(L, 1));
    if (!s) return 0;
    if (s->state != SOCK_READY) return push_socket_error(L, "socket is closed or not ready");
    if (s->fd < 0) return 0;
    if (s->type != SOCK_TCP && s->type != SOCK_UDP) return 0;
    if (!config.network_access) return 0;
    ssize_t sent;
    if (s->type == SOCK_TCP)
        sent = net_sendto(s->fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT, nullptr, 0);
    else
        sent = net_sendto(s->fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT,
                          s->peer_address_length ? &s->peer_address.sa : nullptr, s->peer_address_length);
    // The call into the system and the bytes it took.
    spend_cpu(SOCKET_SEND_CYCLES + int32_t(std::min<ssize_t>(std::max<ssize_t>(sent, 0) / 64, INT32_MAX / 2)));
    // A UDP peer sends on its listener's descriptor, which it never closes.
    if (sent < 0) return s->peer_handle != 0 ? push_socket_error(L, nullptr) : close_host_socket_on_error(L, s);
    lua_pushinteger(L, lua_Integer(sent));
    return 1;
}

int lua54_sock_status(lua_State *L) {
    socket_rec *s = get_socket_for_id(read_id(L, 1));
    if (!s) return 0;
    if ((s->type == SOCK_TCP || s->type == SOCK_UDP) && s->fd < 0) {
        lua_pushstring(L, "invalid");
        return 1;
    }
    lua_pushstring(L, s->state < 5 ? state_names[s->state] : "unknown");
    return 1;
}

int lua54_accept_socket(lua_State *L) {
    socket_rec *s = get_socket_for_id(read_id(L, 1));
    if (!s) return 0;
    if (sockets >= MAX_SOCKETS) return push_socket_error(L, "too many sockets");
    if (s->state != SOCK_LISTENING) return push_socket_error(L, "socket is not listening");
    if (s->type == SOCK_UDP) {
        sockbuf_rec *peer = nullptr;
        for (int32_t i = 0; i < sockbufs && !peer; i++)
            if (sockbuf[i].handle == 0) peer = &sockbuf[i];
        if (!peer) return 0;
        peer->handle = next_sockbuf_handle++;
        const int fd = s->fd;
        socket_rec *p = add_socket(SOCK_UDP, peer->peer_text, peer->port);
        p->peer_handle = peer->handle;
        p->peer_address = peer->peer_address;
        p->peer_address_length = peer->peer_address_length;
        p->fd = fd;
        lua_pushnumber(L, lua_Number(p->id));
        return 1;
    }
    if (s->type != SOCK_TCP || s->fd < 0) return 0;
    socket_address from = {};
    socklen_t from_len = sizeof from;
    const int fd = accept4(s->fd, &from.sa, &from_len, SOCK_CLOEXEC);
    if (fd < 0) return 0;
    spend_cpu(SOCKET_MADE_CYCLES);
    const uint32_t port = s->port;
    socket_rec *c = add_socket(SOCK_TCP, "[client]", port);
    c->fd = fd;
    set_socket_fd_options(fd);
    lua_pushnumber(L, lua_Number(c->id));
    return 1;
}

extern "C" void socket_add_public_c_functions(lua_State *L) {
    lua_register(L, "_create_tcp_socket", lua54_create_tcp_socket);
    lua_register(L, "_create_udp_socket", lua54_create_udp_socket);
    lua_register(L, "_close_socket", lua54_close_socket);
    lua_register(L, "_read_socket", lua54_read_socket);
    lua_register(L, "_sock_status", lua54_sock_status);
    lua_register(L, "_accept_socket", lua54_accept_socket);
    lua_register(L, "_write_socket", lua54_write_socket);
}
