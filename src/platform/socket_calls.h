/*
** The seven socket calls of every process's Lua state, over the socket table
** (sockets.h). Each returns one result on success, nil and a message on a
** reported failure, or nothing; none raises a Lua error of its own.
*/
#ifndef QUILLMAR_PLATFORM_SOCKET_CALLS_H
#define QUILLMAR_PLATFORM_SOCKET_CALLS_H

#include <stdint.h>

struct lua_State;

/* How long a TCP client waits for each resolved address to answer before it
   tries the next: 3 seconds, shortened by tests. */
extern int32_t socket_connect_timeout_ms;

int lua54_create_tcp_socket(lua_State *L);
int lua54_create_udp_socket(lua_State *L);
int lua54_close_socket(lua_State *L);
int lua54_read_socket(lua_State *L);
int lua54_sock_status(lua_State *L);
int lua54_accept_socket(lua_State *L);
int lua54_write_socket(lua_State *L);

#endif
