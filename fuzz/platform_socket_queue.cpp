// Fuzz target: the UDP peer queues. Sequences of peers, datagram sizes,
// reads and injected bad counts go through peer_queue_put and
// peer_queue_take and, side by side, through a plain model that keeps one
// string per queue and moves the unread bytes to the front on every read.
// Both must agree on every answer and every byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sockets.h"

namespace {

inline constexpr int PEERS = 4;

struct model_queue {
    std::string bytes;  // unread entries: u32 LE count, bytes

    bool put(const std::string &d) {
        if (int64_t(bytes.size()) + int64_t(d.size()) >= PEER_QUEUE_LIMIT) return false;
        const uint32_t n = uint32_t(d.size());
        bytes.append(reinterpret_cast<const char *>(&n), 4);
        bytes += d;
        return true;
    }
    bool take(std::string *out) {
        if (bytes.empty()) return false;
        uint32_t n = 0;
        if (bytes.size() >= 4) std::memcpy(&n, bytes.data(), 4);
        if (bytes.size() < 4 || uint64_t(n) > bytes.size() - 4) {
            bytes.clear();
            return false;
        }
        *out = bytes.substr(4, n);
        bytes.erase(0, 4 + size_t(n));
        return true;
    }
};

[[noreturn]] void fail(const char *what, int step) {
    std::fprintf(stderr, "socket queue: %s at step %d\n", what, step);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sockets_reset_for_tests();
    sockbuf_rec *peer[PEERS];
    model_queue model[PEERS];
    for (int i = 0; i < PEERS; i++) {
        char text[16];
        std::snprintf(text, sizeof text, "::%d", i + 1);
        peer[i] = get_sockbuf_by_name(text, uint32_t(1000 + i), 1, nullptr, 0);
        if (!peer[i]) fail("no peer record", -1);
    }
    size_t at = 0;
    for (int step = 0; at + 3 <= size; step++) {
        const uint8_t op = data[at], who = data[at + 1] % PEERS;
        const uint32_t amount = uint32_t(data[at + 2]) << (op >> 5);  // sizes up to 32640
        at += 3;
        sockbuf_rec *p = peer[who];
        model_queue &m = model[who];
        switch (op & 3) {
            case 0:
            case 1: {
                const std::string d(amount, char('a' + step % 26));
                const bool ours = peer_queue_put(p, reinterpret_cast<const uint8_t *>(d.data()), amount);
                if (ours != m.put(d)) fail("put answers differ", step);
                break;
            }
            case 2: {
                const uint8_t *bytes = nullptr;
                uint32_t n = 0;
                std::string want;
                const bool ours = peer_queue_take(p, &bytes, &n);
                if (ours != m.take(&want)) fail("take answers differ", step);
                if (ours && std::string(reinterpret_cast<const char *>(bytes), n) != want)
                    fail("take bytes differ", step);
                break;
            }
            case 3: {
                // A raw count with fewer bytes behind it than it claims, or a
                // cut count: what a corrupted queue would hold.
                const uint32_t bad = amount | (uint32_t(op) << 24);
                const int width = 1 + (op >> 2) % 4;
                p->queue->cursor = p->queue->length;
                if (int64_t(m.bytes.size()) + width >= PEER_QUEUE_LIMIT) break;
                bwrite(&bad, 1, width, p->queue);
                m.bytes.append(reinterpret_cast<const char *>(&bad), size_t(width));
                break;
            }
        }
        if (int64_t(p->queue->length) - p->read_at != int64_t(m.bytes.size())) fail("unread counts differ", step);
    }
    sockets_reset_for_tests();
    return 0;
}
