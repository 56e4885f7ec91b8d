// Runtime core benchmarks. Every result is a ratio of our time to a
// baseline's time measured in the same run (median of several runs), printed
// as "runtime <benchmark> ratio: R"; the last line is
// "runtime worst goal margin: M", the largest ratio divided by its goal.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "address_space.h"
#include "buffer.h"
#include "fake_host.h"
#include "lua.hpp"
#include "messages.h"
#include "process.h"
#include "slice.h"
#include "vm_hooks.h"

namespace {

inline constexpr int RUNS = 9;  // measured runs per timing; the median counts

double seconds(const std::function<void()> &f) {
    std::vector<double> t;
    for (int i = 0; i < RUNS; i++) {
        auto a = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[RUNS / 2];
}

double worst_margin = 0;

void report(const char *name, double ours, double base, double goal) {
    double ratio = ours / base;
    worst_margin = std::max(worst_margin, ratio / goal);
    std::printf("runtime %s ratio: %.3f\n", name, ratio);
}

volatile uint64_t sink;  // keeps results alive

// A bare record with all 4096 own pages made, current while it lives.
process_rec *full_space() {
    auto *rec = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
    for (uint32_t p = 0; p < NUM_PAGES; p++) own_page(rec, p);
    return rec;
}

void free_space(process_rec *rec) {
    free_own_pages(rec);
    std::free(rec);
}

/* ---- memory operations ---- */

void bench_memory() {
    process_rec *rec = full_space();
    cproc = rec;
    std::vector<uint8_t> flat(ADDRESS_SPACE_BYTES, 1);
    const int32_t half = ADDRESS_SPACE_BYTES / 2;
    const int reps = 20;  // one 8 MB operation is too short to time alone
    double ours = seconds([&] {
        for (int r = 0; r < reps; r++) sink = kiv_memcpy(half, 0, half);
    });
    double base = seconds([&] {
        for (int r = 0; r < reps; r++) std::memcpy(flat.data() + half, flat.data(), half);
        sink = flat[half + 5];
    });
    report("memcpy_8mb", ours, base, 1 / 0.9);
    ours = seconds([&] {
        for (int r = 0; r < reps; r++) sink = kiv_memset(0, r, half);
    });
    base = seconds([&] {
        for (int r = 0; r < reps; r++) std::memset(flat.data(), r, half);
        sink = flat[5];
    });
    report("memset_8mb", ours, base, 1 / 0.9);

    const int N = 10000000;
    struct Width {
        const char *name;
        int bytes;
    } widths[] = {{"1", 1}, {"2", 2}, {"4", 4}, {"8", 8}};
    for (const auto &w : widths) {
        for (int random = 0; random < 2; random++) {
            auto next = [random](uint32_t a, int i) {
                return random ? a * 1664525u + 1013904223u : uint32_t(i) * 8;
            };
            ours = seconds([&] {
                uint32_t a = 1;
                uint64_t sum = 0;
                for (int i = 0; i < N; i++) {
                    a = next(a, i);
                    switch (w.bytes) {
                        case 1: poke(a, i); sum += peek(a); break;
                        case 2: poke2(a, i); sum += peek2(a); break;
                        case 4: poke4(a, i); sum += peek4(a); break;
                        default: poke8(a, i); sum += peek8(a); break;
                    }
                }
                sink = sum;
            });
            base = seconds([&] {
                uint32_t a = 1;
                uint64_t sum = 0;
                for (int i = 0; i < N; i++) {
                    a = next(a, i);
                    uint32_t at = std::min<uint32_t>(a & 0xFFFFFF, ADDRESS_SPACE_BYTES - 8);
                    uint64_t v = uint64_t(i), r = 0;
                    std::memcpy(flat.data() + at, &v, w.bytes);
                    std::memcpy(&r, flat.data() + at, w.bytes);
                    sum += r;
                }
                sink = sum;
            });
            std::string name = std::string("peek_poke") + w.name + (random ? "_random" : "_sequential");
            report(name.c_str(), ours, base, 3.0);
        }
    }
    cproc = nullptr;
    free_space(rec);
}

/* ---- one frame with 100 idle processes ---- */

void *plain_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        std::free(ptr);
        return nullptr;
    }
    return std::realloc(ptr, nsize);
}

void bench_frame() {
    processes_init();
    config.headless = 1;
    const int children = 100;
    create_process_from_code(
        "while true do for i = 2, 101 do t_run(i, 0.005) end t_flip() end", "root", "root", "");
    for (int i = 0; i < children; i++)
        create_process_from_code("while true do t_flip() end", "idle", "idle", "");
    const int frames = 2000;
    auto frame = [] {
        prepare_processes_for_frame();
        run_process_slice(get_process_by_index(0), 1.0);
        update_processes_after_frame();
    };
    for (int i = 0; i < 10; i++) frame();
    double ours = seconds([&] {
        for (int i = 0; i < frames; i++) frame();
    });

    std::vector<lua_State *> states;
    for (int i = 0; i < children; i++) {
        lua_State *L = lua_newstate(plain_alloc, nullptr);
        luaL_openlibs(L);
        luaL_loadstring(L, "while true do end");
        states.push_back(L);
    }
    double base = seconds([&] {
        for (int f = 0; f < frames; f++) {
            for (lua_State *L : states) {
                cpu_cycles = 10;  // spent: one instruction, then the budget yield
                cpu_cycles_max = 0;
                cpu_superyielding = 0;
                int n = 0;
                lua_resume(L, nullptr, 0, &n);
            }
        }
    });
    for (lua_State *L : states) lua_close(L);
    processes_init();
    std::printf("runtime frame_100_idle us_per_frame: %.1f\n", ours / frames * 1e6);
    report("frame_100_idle", ours, base, 3.0);
}

/* ---- messages ---- */

void bench_messages() {
    processes_init();
    process_rec *p = create_process_from_code("", "p", "p", "");
    const int N = 100000;
    std::string text(159, 'm');
    double ours = seconds([&] {
        for (int i = 0; i < N; i++) send_process_message_string(p, text.c_str());
        while (read_process_message(p, nullptr)) {}
    });
    double base = seconds([&] {
        std::deque<std::string> q;
        for (int i = 0; i < N; i++) q.emplace_back(text.c_str());
        while (!q.empty()) {
            sink = q.front().size();
            q.pop_front();
        }
    });
    report("messages_bulk", ours, base, 1.0);
    ours = seconds([&] {
        for (int i = 0; i < N; i++) {
            send_process_message_string(p, text.c_str());
            send_process_message_string(p, text.c_str());
            read_process_message(p, nullptr);
        }
        while (read_process_message(p, nullptr)) {}
    });
    base = seconds([&] {
        std::deque<std::string> q;
        for (int i = 0; i < N; i++) {
            q.emplace_back(text.c_str());
            q.emplace_back(text.c_str());
            sink = q.front().size();
            q.pop_front();
        }
        while (!q.empty()) q.pop_front();
    });
    report("messages_interleaved", ours, base, 1.0);

    // Read time per message from a full 16 MB inbox against a 64 KB one.
    std::string small(15, 's');
    auto per_message = [&](int64_t inbox_bytes, int repeats) {
        double total = 0;
        int64_t count = 0;
        for (int r = 0; r < repeats; r++) {
            while (inbox_unread_bytes(p) < inbox_bytes) send_process_message_string(p, small.c_str());
            auto a = std::chrono::steady_clock::now();
            while (read_process_message(p, nullptr)) count++;
            total += std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
        }
        return total / double(count);
    };
    double big = per_message(INBOX_CAP, 3);
    double little = per_message(0x10000, 300);
    report("messages_read_full_inbox", big, little, 1.5);
    processes_init();
}

/* ---- the allocator ---- */

const char *alloc_script =
    "local keep = {} "
    "for i = 1, 1000000 do "
    "  local t = {i, tostring(i % 977)} "
    "  keep[i % 1000 + 1] = t "
    "end";

void bench_alloc() {
    processes_init();
    config.headless = 1;
    double ours = seconds([&] {
        process_rec *p = create_process_from_code(alloc_script, "a", "a", "");
        int64_t id = p->id;
        while (get_process(id)) {
            total_frame_cycles = 0;
            run_process_slice(p, 1.0);
        }
    });
    double base = seconds([&] {
        lua_State *L = lua_newstate(plain_alloc, nullptr);
        luaL_openlibs(L);
        luaL_loadstring(L, alloc_script);
        int n = 0, st;
        do {
            cpu_cycles = 0;
            cpu_cycles_max = FRAME_CYCLES;
            cpu_superyielding = 0;
            st = lua_resume(L, nullptr, 0, &n);
        } while (st == LUA_YIELD);
        lua_close(L);
    });
    report("alloc_script", ours, base, 1.05);

    process_rec *p = create_process_from_code("", "p", "p", "");
    cproc = p;
    const int N = 10000000;
    ours = seconds([&] {
        uint32_t r = 1;
        for (int i = 0; i < N; i++) {
            r = r * 1664525u + 1013904223u;
            size_t n = 16 + (r >> 8) % 241;
            void *b = l_alloc(nullptr, nullptr, 0, n, 0, n);
            l_alloc(nullptr, b, n, 0, 0, 0);
        }
    });
    base = seconds([&] {
        uint32_t r = 1;
        for (int i = 0; i < N; i++) {
            r = r * 1664525u + 1013904223u;
            size_t n = 16 + (r >> 8) % 241;
            void *b = std::malloc(n);
            sink = reinterpret_cast<uintptr_t>(b);
            std::free(b);
        }
    });
    report("alloc_pairs", ours, base, 1.25);
    processes_init();
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fake_host::reset();
    // An argument names the one group to run (memory, messages, frame, alloc).
    const std::string only = argc > 1 ? argv[1] : "";
    struct Group {
        const char *name;
        void (*run)();
    } groups[] = {{"memory", bench_memory},
                  {"messages", bench_messages},
                  {"frame", bench_frame},
                  {"alloc", bench_alloc}};
    for (const auto &g : groups)
        if (only.empty() || only == g.name) g.run();
    std::printf("runtime worst goal margin: %.3f\n", worst_margin);
    return 0;
}
