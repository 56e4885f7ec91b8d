// Boot benchmarks.
//   exec to first frame: from posix_spawn of the program (-x, the shipped
//     ROM, a warm temporary HOME) to "wm: ready 3" on its pipe, against a
//     program that only starts SDL's events and prints a line; 50 runs each,
//     interleaved; medians and their ratio.
//   frame own cost: in this process, the shipped ROM idle, pacing without
//     sleeps, 100 warm-up frames then 10,000; the whole frame minus the
//     root process's slice, against that slice.
// The last two lines are the results.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "frame_clock.h"
#include "frame_loop.h"
#include "lua.hpp"
#include "process.h"
#include "slice.h"
#include "startup.h"

extern char **environ;

namespace {

using clock_type = std::chrono::steady_clock;

inline constexpr int EXEC_RUNS = 50;
inline constexpr int EXEC_WARMUP_RUNS = 3;
inline constexpr int WARMUP_FRAMES = 100;
inline constexpr int MEASURED_FRAMES = 10000;
inline constexpr int LINE_TIMEOUT_MS = 10000;

/* ---- exec to first frame ---- */

// Seconds from spawning 'argv' until it prints 'line', or nothing when it
// does not within the timeout. The child is killed afterwards.
std::optional<double> time_to_line(const std::vector<std::string> &argv, const std::string &line) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const auto start = clock_type::now();
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::optional<double> result;
    if (spawned == 0) {
        std::string out;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, LINE_TIMEOUT_MS) > 0) {
            char buf[512];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, size_t(n));
            if (out.find(line + "\n") != std::string::npos) {
                result = std::chrono::duration<double>(clock_type::now() - start).count();
                break;
            }
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(fds[0]);
    return result;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The result line, or an explanation in its place.
std::string exec_bench() {
    const std::vector<std::string> program = {QUILLMAR_BIN, "-x"};
    const std::vector<std::string> baseline = {SDL_INIT_BIN};
    for (int i = 0; i < EXEC_WARMUP_RUNS; i++) {
        if (!time_to_line(program, "wm: ready 3"))
            return "boot ratio vs sdl init: n/a (the program did not print \"wm: ready 3\")";
        time_to_line(baseline, "sdl: ready");
    }
    std::vector<double> ours, base;
    for (int i = 0; i < EXEC_RUNS; i++) {
        const auto a = time_to_line(program, "wm: ready 3");
        const auto b = time_to_line(baseline, "sdl: ready");
        if (!a || !b) return "boot ratio vs sdl init: n/a (a run timed out)";
        ours.push_back(*a);
        base.push_back(*b);
    }
    const double m_ours = median(ours), m_base = median(base);
    printf("exec to first frame: median %.2f ms over %d runs\n", m_ours * 1e3, EXEC_RUNS);
    printf("sdl init baseline:   median %.2f ms over %d runs\n", m_base * 1e3, EXEC_RUNS);
    char line[128];
    snprintf(line, sizeof line, "boot ratio vs sdl init: %.2f (goal <= 1.5)", m_ours / m_base);
    return line;
}

/* ---- frame own cost ---- */

int slice_depth = 0;             // nesting of wrapped slice calls
clock_type::duration root_time{};  // time inside the root's outermost slices

uint64_t fast_ticks() {
    static uint64_t t = 0;
    return t += 1000;  // every reading is past the frame period
}

void no_sleep(uint32_t) {}

}  // namespace

extern "C" uint32_t __real__Z17run_process_sliceP11process_recd(process_rec *rec, double fraction);

extern "C" uint32_t __wrap__Z17run_process_sliceP11process_recd(process_rec *rec, double fraction) {
    if (slice_depth > 0 || !rec || rec->id != ROOT_PID) {
        slice_depth++;
        const uint32_t used = __real__Z17run_process_sliceP11process_recd(rec, fraction);
        slice_depth--;
        return used;
    }
    slice_depth++;
    const auto t0 = clock_type::now();
    const uint32_t used = __real__Z17run_process_sliceP11process_recd(rec, fraction);
    root_time += clock_type::now() - t0;
    slice_depth--;
    return used;
}

namespace {

std::string frame_bench() {
    char home[] = "/tmp/quillmar_bench_XXXXXX";
    if (!mkdtemp(home)) return "frame own cost: n/a (no temporary folder)";
    setenv("HOME", home, 1);
    unsetenv("XDG_DATA_HOME");

    // The ROM prints; keep the benchmark's own output clean.
    fflush(stdout);
    const int saved_stdout = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);

    std::string argv0 = QUILLMAR_BIN, flag = "-x";
    char *argv[] = {argv0.data(), flag.data(), nullptr};
    quillmar_start(2, argv);
    std::string missing;
    for (const char *name : {"fetch", "pod", "_printh", "_run_process_slice", "_get_process_list"}) {
        lua_getglobal(root_process->lua_state, name);
        if (lua_isnil(root_process->lua_state, -1)) missing += std::string(" ") + name;
        lua_pop(root_process->lua_state, 1);
    }
    std::string result;
    if (!missing.empty()) {
        result = "frame own cost: n/a (the script API lacks" + missing + ")";
    } else {
        frame_clock_set(fast_ticks, no_sleep);
        for (int i = 0; i < WARMUP_FRAMES; i++) system_frame();
        root_time = {};
        const auto t0 = clock_type::now();
        for (int i = 0; i < MEASURED_FRAMES; i++) system_frame();
        const auto whole = clock_type::now() - t0;
        const double whole_us = std::chrono::duration<double, std::micro>(whole).count() / MEASURED_FRAMES;
        const double root_us = std::chrono::duration<double, std::micro>(root_time).count() / MEASURED_FRAMES;
        const double own_us = whole_us - root_us;
        char line[160];
        snprintf(line, sizeof line, "frame own cost: %.2f us (ratio %.3f)", own_us, own_us / root_us);
        result = line;
        fflush(stdout);
        dup2(saved_stdout, 1);
        printf("frame: whole %.2f us, root slice %.2f us, over %d frames (goal own <= 0.25 x root, < 20 us)\n",
               whole_us, root_us, MEASURED_FRAMES);
    }
    fflush(stdout);
    dup2(saved_stdout, 1);
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return result;
}

}  // namespace

int main() {
    const std::string exec_line = exec_bench();
    const std::string frame_line = frame_bench();
    printf("%s\n%s\n", exec_line.c_str(), frame_line.c_str());
    fflush(stdout);
    _exit(0);  // the machine stays up; nothing to tear down
}
