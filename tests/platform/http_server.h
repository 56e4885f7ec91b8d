// A small HTTP server for tests: a thread on 127.0.0.1 (a port from the
// kernel) that answers each connection on a thread of its own by the path
// asked for. It stops by itself: it takes at most 'max_connections'
// connections, every handler ends by 'lifetime' at the latest, and stop()
// (also run by the destructor) ends everything at once.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace http_test {

class server {
  public:
    using clock = std::chrono::steady_clock;

    // What a handler may do on its connection.
    struct conn {
        int fd;
        server *owner;
        // Sends all of 'bytes'; false once the client is gone or the server stops.
        bool send(const std::string &bytes) const {
            size_t at = 0;
            while (at < bytes.size()) {
                if (!owner->alive()) return false;
                pollfd p = {fd, POLLOUT, 0};
                if (poll(&p, 1, 50) != 1) continue;
                const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                if (n <= 0) return false;
                at += size_t(n);
            }
            return true;
        }
        // Waits 'ms' unless the server stops or the client goes; false then.
        bool pause(int ms) const {
            const auto until = clock::now() + std::chrono::milliseconds(ms);
            while (clock::now() < until) {
                if (!owner->alive()) return false;
                pollfd p = {fd, POLLIN, 0};
                if (poll(&p, 1, 20) == 1) {
                    char c;
                    if (recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) return false;
                }
            }
            return true;
        }
    };
    using handler = std::function<void(const conn &, const std::string &path)>;

    explicit server(handler h, int max_connections = 64, std::chrono::seconds lifetime = std::chrono::seconds(60))
        : handler_(std::move(h)), max_connections_(max_connections), deadline_(clock::now() + lifetime) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(listener_, 512);
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }

    ~server() { stop(); }

    void stop() {
        stopping_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        std::vector<std::thread> handlers;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handlers.swap(handlers_);
        }
        for (auto &t : handlers) t.join();
        if (listener_ >= 0) close(listener_);
        listener_ = -1;
    }

    bool alive() const { return !stopping_ && clock::now() < deadline_; }
    int port() const { return port_; }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int connections() const { return connections_; }

    // The usual replies.
    static std::string reply(int status, const std::string &body, const std::string &headers = "") {
        return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n" + headers + "\r\n" + body;
    }
    static std::string redirect(int status, const std::string &location) {
        return "HTTP/1.1 " + std::to_string(status) + " X\r\nLocation: " + location +
               "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }

  private:
    void accept_loop() {
        while (alive() && connections_ < max_connections_) {
            pollfd p = {listener_, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            connections_++;
            std::lock_guard<std::mutex> lock(mutex_);
            handlers_.emplace_back([this, fd] {
                const std::string path = read_request(fd);
                if (!path.empty()) handler_(conn{fd, this}, path);
                close(fd);
            });
        }
    }

    // The path of the request line, once the headers have arrived ("" when
    // they do not within ten seconds, a stall, or 16 KB).
    std::string read_request(int fd) {
        std::string req;
        const auto until = clock::now() + std::chrono::seconds(10);
        while (req.find("\r\n\r\n") == std::string::npos && req.size() < 16384 && alive() && clock::now() < until) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) return "";
            req.append(buf, size_t(n));
        }
        if (req.compare(0, 4, "GET ") != 0) return "";
        const size_t end = req.find(' ', 4);
        return end == std::string::npos ? "" : req.substr(4, end - 4);
    }

    handler handler_;
    int max_connections_;
    clock::time_point deadline_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<std::thread> handlers_;
    std::thread acceptor_;
};

}  // namespace http_test
