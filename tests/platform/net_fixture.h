// NetTest: the real socket layer and HTTP fetches behind processes of the
// real runtime, with the loopback guard installed, the socket tables and the
// seam reset around each test, and small loopback peers written with plain
// POSIX calls.
//
// A process made with shell() runs the Lua chunks that exec() hands it, one
// per slice, and prints with out(...): the count of values, a colon and the
// values by tostring joined by commas ("2:nil,errno 11"; "0:" for none).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <string>
#include <vector>

#include "app_state.h"
#include "gurl.h"
#include "host.h"
#include "lua.hpp"
#include "net_seam.h"
#include "platform_fixture.h"
#include "process.h"
#include "slice.h"
#include "socket_calls.h"
#include "sockets.h"
#include "vm_hooks.h"

namespace net_test {

inline std::vector<std::string> printed;  // out(...) lines not yet taken
inline std::string pending_code;          // the chunk the shell runs next

inline int out(lua_State *L) {
    const int n = lua_gettop(L);
    std::string line = std::to_string(n) + ":";
    for (int i = 1; i <= n; i++) {
        if (i > 1) line += ",";
        size_t len = 0;
        const char *s = luaL_tolstring(L, i, &len);
        line.append(s, len);
        lua_pop(L, 1);
    }
    printed.push_back(line);
    return 0;
}

inline int take_code(lua_State *L) {
    if (pending_code.empty()) return 0;
    lua_pushlstring(L, pending_code.data(), pending_code.size());
    pending_code.clear();
    return 1;
}

// The cycles charged so far in the running slice.
inline int cycles(lua_State *L) {
    lua_pushinteger(L, cpu_cycles);
    return 1;
}

inline const char *const kShell =
    "while true do local c = _take_code() "
    "if c then local f, e = load(c) if not f then out('load', e) else "
    "local ok, err = pcall(f) if not ok then out('error', err) end end end "
    "coroutine.yield() end";

// A free loopback port of 'type' (bound to port 0, read back, closed).
inline uint16_t free_port(int type = SOCK_STREAM) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len), 0);
    close(fd);
    return ntohs(a.sin_port);
}

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A raw UDP socket on 127.0.0.1 (port 0: any), non-blocking.
inline int raw_udp(uint16_t port = 0, bool reuse = false) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    if (reuse) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(port);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    return fd;
}

inline uint16_t local_port(int fd) {
    sockaddr_in6 a = {};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin6_port);  // same offset in both families
}

inline void send_udp(int fd, uint16_t port, const std::string &bytes) {
    sockaddr_in a = loopback(port);
    EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a),
              ssize_t(bytes.size()));
}

// A blocking TCP connection to 127.0.0.1:port; -1 on failure.
inline int raw_connect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A raw TCP listener on 127.0.0.1 with 'backlog'.
inline int raw_listener(uint16_t *port, int backlog = 8) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = loopback(0);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    EXPECT_EQ(listen(fd, backlog), 0);
    *port = local_port(fd);
    return fd;
}

using platform_test::eventually;
using platform_test::kStallMs;

// True when 'fd' is readable (data, an end, an error or a connection to
// accept) within 'ms'.
inline bool readable_within(int fd, int ms = kStallMs) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

// Accepts one connection within 'ms'; -1 when none came.
inline int accept_within(int listener, int ms = kStallMs) {
    if (!readable_within(listener, ms)) return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// Reads what arrives within 'ms' until 'want' bytes or the end of stream.
inline std::string read_within(int fd, size_t want, int ms = kStallMs) {
    std::string got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < want && std::chrono::steady_clock::now() < until) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1) continue;
        char buf[65536];
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) break;
        got.append(buf, size_t(n));
    }
    return got;
}

// True when the peer of 'fd' ended the stream within 'ms'.
inline bool sees_end(int fd, int ms = kStallMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1) continue;
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    }
    return false;
}

inline bool fd_is_open(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

}  // namespace net_test

class NetTest : public platform_test::TempHome {
  protected:
    void SetUp() override {
        TempHome::SetUp();
        net_install_loopback_guard();
        net_reset_calls();
        sockets_reset_for_tests();
        socket_connect_timeout_ms = 3000;
        std::memset(&config, 0, sizeof config);
        std::memset(&app, 0, sizeof app);
        config.network_access = 1;
        config.headless = 1;
        app.audio_focus = -2;
        app.audio_synced_pid = -3;
        processes_init();
        net_test::printed.clear();
        net_test::pending_code.clear();
    }

    void TearDown() override {
        processes_init();
        sockets_reset_for_tests();
        net_reset_calls();
        TempHome::TearDown();
    }

    // A process running the shell; 'argument' non-empty makes it sandboxed.
    process_rec *shell(const char *argument = "") {
        process_rec *rec = create_process_from_code(net_test::kShell, "shell", "/t/shell.lua", argument);
        EXPECT_NE(rec, nullptr);
        if (!rec) return nullptr;
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_register(rec->lua_state, "out", net_test::out);
        lua_register(rec->lua_state, "_take_code", net_test::take_code);
        lua_register(rec->lua_state, "t_cycles", net_test::cycles);
        restore_current_process(prev);
        run_process_slice(rec, 1.0);  // up to its first yield
        return rec;
    }

    // Runs 'code' in 'rec' for one slice; returns the lines it printed.
    std::vector<std::string> exec(process_rec *rec, const std::string &code) {
        net_test::printed.clear();
        net_test::pending_code = code;
        prepare_processes_for_frame();
        run_process_slice(rec, 1.0);
        std::vector<std::string> lines;
        lines.swap(net_test::printed);
        return lines;
    }

    // The one line 'code' printed ("" when it printed none or several).
    std::string exec1(process_rec *rec, const std::string &code) {
        const auto lines = exec(rec, code);
        return lines.size() == 1 ? lines[0] : "<" + std::to_string(lines.size()) + " lines>";
    }

    // The end-of-frame pass over the sockets (and the rest of the frame end).
    void poll_sockets() { update_all_sockets(); }
};

using Lines = std::vector<std::string>;
