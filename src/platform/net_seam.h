/*
** The operating-system calls of the socket layer, through one table of
** function pointers so that tests can make any of them fail, refuse an
** address family or stand in for a flood. The table holds the host's own
** functions until someone swaps an entry.
**
** The loopback guard: while it is installed, a connect or send to any
** address outside 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104 ends the program
** with a message, only "localhost" and numeric loopback addresses resolve,
** and every HTTP transfer is pinned to 127.0.0.1. Every network test and
** network fuzz target installs it first.
*/
#ifndef QUILLMAR_PLATFORM_NET_SEAM_H
#define QUILLMAR_PLATFORM_NET_SEAM_H

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct net_calls_rec {
    int (*getaddrinfo)(const char *node, const char *service, const struct addrinfo *hints,
                       struct addrinfo **res);
    int (*socket)(int domain, int type, int protocol);
    int (*connect)(int fd, const struct sockaddr *addr, socklen_t len);
    ssize_t (*sendto)(int fd, const void *buf, size_t n, int flags, const struct sockaddr *addr,
                      socklen_t len);
    ssize_t (*recvfrom)(int fd, void *buf, size_t n, int flags, struct sockaddr *addr,
                        socklen_t *len);
} net_calls_rec;

extern net_calls_rec net_calls;

/* Puts the host's functions back into every entry of net_calls. */
void net_reset_calls(void);

/* Installs the loopback guard for the rest of the program's life. */
void net_install_loopback_guard(void);
int net_loopback_guard_installed(void);

/* True when 'addr' (of 'len' bytes) is an IPv4 or IPv6 loopback address. */
int net_is_loopback(const struct sockaddr *addr, socklen_t len);

/* The calls the socket layer makes: the guard's checks, then the table. */
int net_getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                    struct addrinfo **res);
int net_socket(int domain, int type, int protocol);
int net_connect(int fd, const struct sockaddr *addr, socklen_t len);
ssize_t net_sendto(int fd, const void *buf, size_t n, int flags, const struct sockaddr *addr,
                   socklen_t len);
ssize_t net_recvfrom(int fd, void *buf, size_t n, int flags, struct sockaddr *addr, socklen_t *len);

#ifdef __cplusplus
}
#endif

#endif
