/*
** The socket table: every TCP and UDP socket a process opened, owned by the
** host and named towards Lua by a numeric id; the table of UDP peers heard
** by the UDP listeners, each with its queue of datagrams not yet read; and
** the per-frame pass that drains the listeners into those queues.
**
** A UDP listener hands datagrams over peer by peer: accepting on it turns
** one peer into a peer pseudo-socket, a record that shares the listener's
** descriptor, reads that peer's queue and sends to that peer.
**
** Main thread only. Records are packed in slots 0..sockets-1; removal keeps
** the order of the rest. A record without a descriptor holds -1.
*/
#ifndef QUILLMAR_PLATFORM_SOCKETS_H
#define QUILLMAR_PLATFORM_SOCKETS_H

#include <netinet/in.h>
#include <stdint.h>

#include "buffer.h"

inline constexpr int MAX_SOCKETS = 512;
inline constexpr int MAX_SOCKET_PEERS = 512;
inline constexpr int SOCKET_ADDRESS_SIZE = 1024;     /* address texts: 1023 characters kept */
inline constexpr int SOCKET_READ_SIZE = 65536;       /* one read takes at most this */
inline constexpr int UDP_DATAGRAM_MAX = 65535;       /* longer datagrams are cut */
inline constexpr int64_t PEER_QUEUE_LIMIT = 65536;   /* unread queue bytes stay below this */
inline constexpr int UDP_PASS_MAX = 1024;            /* datagrams taken per listener per pass */
inline constexpr int32_t PEER_QUEUE_TAG = 111;       /* buffer group of peer queues */

inline constexpr uint32_t SOCK_UDP = 1;
inline constexpr uint32_t SOCK_TCP = 2;

inline constexpr uint32_t SOCK_READY = 0;
inline constexpr uint32_t SOCK_LISTENING = 1;
inline constexpr uint32_t SOCK_CLOSED_BY_PEER = 3;

/* A host socket address, IPv6 or IPv4. */
union socket_address {
    struct sockaddr sa;
    struct sockaddr_in in4;
    struct sockaddr_in6 in6;
};

struct socket_rec {
    uint32_t id;                         /* from next_socket_id; never reused */
    int64_t owner;                       /* pid current when the record was made */
    uint32_t type;                       /* SOCK_UDP or SOCK_TCP */
    uint32_t state;                      /* SOCK_READY, SOCK_LISTENING or SOCK_CLOSED_BY_PEER */
    int32_t fd;                          /* host descriptor; -1 none */
    uint32_t peer_handle;                /* non-zero: a UDP peer pseudo-socket of that peer */
    uint32_t port;                       /* listener: local; client: remote; peer: its source port */
    char address[SOCKET_ADDRESS_SIZE];   /* "*", the address given, "[client]" or the peer's text */
    socket_address peer_address;         /* where UDP sends go */
    uint32_t peer_address_length;
};

struct sockbuf_rec {
    char peer_text[SOCKET_ADDRESS_SIZE]; /* numeric IPv6 text; IPv4 peers in the mapped form */
    socket_address peer_address;         /* as received */
    uint32_t peer_address_length;
    uint32_t port;                       /* source port, host order */
    uint32_t handle;                     /* 0 until an accept claims the peer */
    buffer_rec *queue;                   /* entries: u32 LE count, then that many bytes */
    int64_t read_at;                     /* queue offset of the oldest unread entry */
};

extern socket_rec sockdat[MAX_SOCKETS];
extern int32_t sockets;
extern sockbuf_rec sockbuf[MAX_SOCKET_PEERS];
extern int32_t sockbufs;
extern uint32_t next_socket_id;
extern uint32_t next_sockbuf_handle;
extern uint8_t in_buf[SOCKET_READ_SIZE];

/* The peer with that text and port; when none and 'create', a new one (null
   when the peer table is full). */
sockbuf_rec *get_sockbuf_by_name(const char *text, uint32_t port, int create,
                                 const struct sockaddr *address, uint32_t address_length);
sockbuf_rec *get_sockbuf_by_handle(uint32_t handle);

/* Appends a zeroed record with the next id, owned by the current process,
   without a descriptor; null when the table is full. */
socket_rec *add_socket(uint32_t type, const char *address, uint32_t port);

/* The record with that id; ids outside 1..0xFFFFFFFF match none. */
socket_rec *get_socket_for_id(int64_t id);

/* Closes the record's descriptor, if any, and marks it closed. */
void close_host_socket(socket_rec *s);

/* Non-blocking, TCP_NODELAY and SO_REUSEADDR; failures ignored. */
void set_socket_fd_options(int fd);

/* Removes the record with that id (its descriptor closed unless it is a
   peer pseudo-socket; pseudo-sockets sharing a closed descriptor lose it). */
void delete_socket_by_id(int64_t id);

/* One pass over a UDP listener: at most UDP_PASS_MAX datagrams into the
   peer queues; any other record is left alone. */
void update_socket(socket_rec *s);

/* The oldest whole datagram of a peer queue: true with '*bytes' and '*n'
   pointing into the queue (valid until the queue changes) and the entry
   consumed; false when the queue is empty or its next count cannot be
   right, in which case the queue is emptied. */
bool peer_queue_take(sockbuf_rec *peer, const uint8_t **bytes, uint32_t *n);

/* Queues one datagram for 'peer' when the unread bytes plus 'n' stay below
   PEER_QUEUE_LIMIT; false when it is dropped. */
bool peer_queue_put(sockbuf_rec *peer, const uint8_t *bytes, uint32_t n);

/* Empties both tables and resets the counters: the program-start state, for
   tests (the peer table is otherwise never emptied). */
void sockets_reset_for_tests(void);

#endif
