// The table of socket calls and the loopback guard.
#include "net_seam.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<int> guard_installed{0};

int host_getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                     struct addrinfo **res) {
    return ::getaddrinfo(node, service, hints, res);
}
int host_socket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }
int host_connect(int fd, const struct sockaddr *addr, socklen_t len) { return ::connect(fd, addr, len); }
ssize_t host_sendto(int fd, const void *buf, size_t n, int flags, const struct sockaddr *addr,
                    socklen_t len) {
    return ::sendto(fd, buf, n, flags, addr, len);
}
ssize_t host_recvfrom(int fd, void *buf, size_t n, int flags, struct sockaddr *addr, socklen_t *len) {
    return ::recvfrom(fd, buf, n, flags, addr, len);
}

[[noreturn]] void refuse(const struct sockaddr *addr, socklen_t len) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (addr && addr->sa_family == AF_INET && len >= sizeof(sockaddr_in))
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(addr)->sin_addr, text, sizeof text);
    else if (addr && addr->sa_family == AF_INET6 && len >= sizeof(sockaddr_in6))
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(addr)->sin6_addr, text, sizeof text);
    std::fprintf(stderr, "** loopback guard: traffic to %s refused\n", text);
    std::fflush(stderr);
    std::abort();
}

bool all_loopback(const struct addrinfo *list) {
    for (const struct addrinfo *a = list; a; a = a->ai_next)
        if (!net_is_loopback(a->ai_addr, a->ai_addrlen)) return false;
    return true;
}

}  // namespace

net_calls_rec net_calls = {host_getaddrinfo, host_socket, host_connect, host_sendto, host_recvfrom};

extern "C" void net_reset_calls(void) {
    net_calls = {host_getaddrinfo, host_socket, host_connect, host_sendto, host_recvfrom};
}

extern "C" void net_install_loopback_guard(void) { guard_installed.store(1); }

extern "C" int net_loopback_guard_installed(void) { return guard_installed.load(); }

extern "C" int net_is_loopback(const struct sockaddr *addr, socklen_t len) {
    if (!addr) return 0;
    if (addr->sa_family == AF_INET && len >= sizeof(sockaddr_in)) {
        const uint32_t a = ntohl(reinterpret_cast<const sockaddr_in *>(addr)->sin_addr.s_addr);
        return (a >> 24) == 127;
    }
    if (addr->sa_family == AF_INET6 && len >= sizeof(sockaddr_in6)) {
        const in6_addr &a = reinterpret_cast<const sockaddr_in6 *>(addr)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&a)) return 1;
        return IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127;
    }
    return 0;
}

extern "C" int net_getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                               struct addrinfo **res) {
    if (!guard_installed.load() || (node && !std::strcmp(node, "localhost")))
        return net_calls.getaddrinfo(node, service, hints, res);
    // Numeric loopback addresses only: no name ever reaches the resolver.
    struct addrinfo numeric = {};
    if (hints) numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    if (!node) return EAI_NONAME;
    const int r = net_calls.getaddrinfo(node, service, &numeric, res);
    if (r != 0) return EAI_NONAME;
    if (!all_loopback(*res)) {
        freeaddrinfo(*res);
        *res = nullptr;
        return EAI_NONAME;
    }
    return 0;
}

extern "C" int net_socket(int domain, int type, int protocol) {
    return net_calls.socket(domain, type, protocol);
}

extern "C" int net_connect(int fd, const struct sockaddr *addr, socklen_t len) {
    if (guard_installed.load() && !net_is_loopback(addr, len)) refuse(addr, len);
    return net_calls.connect(fd, addr, len);
}

extern "C" ssize_t net_sendto(int fd, const void *buf, size_t n, int flags, const struct sockaddr *addr,
                              socklen_t len) {
    // A send without an address goes to the connected peer, checked at connect.
    if (guard_installed.load() && addr && !net_is_loopback(addr, len)) refuse(addr, len);
    return net_calls.sendto(fd, buf, n, flags, addr, len);
}

extern "C" ssize_t net_recvfrom(int fd, void *buf, size_t n, int flags, struct sockaddr *addr,
                                socklen_t *len) {
    return net_calls.recvfrom(fd, buf, n, flags, addr, len);
}
