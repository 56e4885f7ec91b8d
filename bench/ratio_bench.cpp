// Ratio benchmark: runs each Lua script of one folder in qlua (the dialect
// with cycle accounting) and in the stock lua5.4 interpreter, interleaved in
// the same run, and prints qlua's time over stock's per script and their
// geometric mean. Times are the child's CPU time (user + system), which
// other load on the machine disturbs less than wall time; each script runs
// a number of times per interpreter and the fastest and slowest runs are
// dropped. The two interpreters must print the same output. The stock
// interpreter switches to the generational collector on its own; it is put
// back to the incremental one that every fresh state (and so qlua) uses, so
// that the ratio compares interpreters, not collectors.
//
// Built once per workload (BENCH_LABEL, BENCH_SCRIPT_DIR, BENCH_GOAL_EACH,
// BENCH_GOAL_GEOMEAN, QLUA_PATH). Environment: QUILLMAR_BENCH_REPS (runs per
// interpreter, default 7), QUILLMAR_STOCK_LUA (default /usr/bin/lua5.4).
// The last line printed is "<label> geomean ratio: R". Exit status 1 when a
// script fails or the outputs differ; a missed goal is only reported.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

namespace {

inline constexpr int kDefaultReps = 7;  // enough to drop two and keep five

struct ChildRun {
    bool ok = false;        // exited with status 0
    double cpu_s = 0;       // user + system CPU seconds of the child
    std::string out;        // standard output
    std::string err;        // standard error
};

std::string slurp_fd(int fd) {
    std::string s;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
    return s;
}

int temp_fd() {
    char name[] = "/tmp/quillmar_bench_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) unlink(name);
    return fd;
}

// Runs `argv` (argv[0] the executable's path) with stdout and stderr captured;
// measures its CPU time.
ChildRun run_child(const std::vector<std::string> &args) {
    ChildRun r;
    int out_fd = temp_fd(), err_fd = temp_fd();
    if (out_fd < 0 || err_fd < 0) {
        r.err = "cannot create a temporary file";
        if (out_fd >= 0) close(out_fd);
        if (err_fd >= 0) close(err_fd);
        return r;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&fa, err_fd, STDERR_FILENO);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        r.err = "cannot start " + args[0];
    } else {
        int status = 0;
        struct rusage ru {};
        if (wait4(pid, &status, 0, &ru) == pid) {
            r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            r.cpu_s = double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) * 1e-6 +
                      double(ru.ru_stime.tv_sec) + double(ru.ru_stime.tv_usec) * 1e-6;
        }
        r.out = slurp_fd(out_fd);
        r.err = slurp_fd(err_fd);
    }
    close(out_fd);
    close(err_fd);
    return r;
}

// Mean of the runs without the fastest and the slowest (when there are 3+).
double trimmed_mean(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t lo = v.size() >= 3 ? 1 : 0, hi = v.size() >= 3 ? v.size() - 1 : v.size();
    double sum = 0;
    for (size_t i = lo; i < hi; i++) sum += v[i];
    return sum / double(hi - lo);
}

int reps_from_env() {
    const char *s = std::getenv("QUILLMAR_BENCH_REPS");
    int n = s ? std::atoi(s) : kDefaultReps;
    return n >= 1 ? n : kDefaultReps;
}

}  // namespace

int main() {
    const std::string label = BENCH_LABEL;
    const std::string qlua = QLUA_PATH;
    const char *stock_env = std::getenv("QUILLMAR_STOCK_LUA");
    const std::string stock = stock_env ? stock_env : "/usr/bin/lua5.4";
    const int reps = reps_from_env();

    if (access(stock.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "%s: the stock interpreter %s is missing (apt-get install lua5.4)\n",
                     label.c_str(), stock.c_str());
        return 1;
    }
    std::vector<std::string> scripts;
    for (const auto &e : std::filesystem::directory_iterator(BENCH_SCRIPT_DIR))
        if (e.path().extension() == ".lua") scripts.push_back(e.path().string());
    std::sort(scripts.begin(), scripts.end());
    if (scripts.empty()) {
        std::fprintf(stderr, "%s: no scripts in %s\n", label.c_str(), BENCH_SCRIPT_DIR);
        return 1;
    }

    std::printf("%s: qlua over stock lua5.4 (both with the incremental collector), CPU time, "
                "%d runs each, fastest and slowest dropped\n",
                label.c_str(), reps);
    std::fflush(stdout);
    double log_sum = 0;
    std::vector<std::string> over_goal;
    for (const std::string &script : scripts) {
        std::string name = std::filesystem::path(script).stem().string();
        const std::vector<std::string> qlua_cmd = {qlua, script};
        const std::vector<std::string> stock_cmd = {stock, "-e", "collectgarbage('incremental')",
                                                    script};
        // a first run of each checks that both succeed and agree
        ChildRun q = run_child(qlua_cmd), s = run_child(stock_cmd);
        if (!q.ok || !s.ok) {
            std::fprintf(stderr, "%s: %s failed in %s:\n%s\n", label.c_str(), name.c_str(),
                         !q.ok ? "qlua" : "lua5.4", (!q.ok ? q.err : s.err).c_str());
            return 1;
        }
        if (q.out != s.out) {
            std::fprintf(stderr, "%s: %s prints differently in qlua:\n%s\nand in lua5.4:\n%s\n",
                         label.c_str(), name.c_str(), q.out.c_str(), s.out.c_str());
            return 1;
        }
        std::vector<double> tq, ts;
        for (int r = 0; r < reps; r++) {
            // alternate which goes first, so that drift hits both alike
            bool qlua_first = r % 2 == 0;
            ChildRun a = run_child(qlua_first ? qlua_cmd : stock_cmd);
            ChildRun b = run_child(qlua_first ? stock_cmd : qlua_cmd);
            if (!a.ok || !b.ok) {
                std::fprintf(stderr, "%s: %s failed on a repeated run\n", label.c_str(), name.c_str());
                return 1;
            }
            (qlua_first ? tq : ts).push_back(a.cpu_s);
            (qlua_first ? ts : tq).push_back(b.cpu_s);
        }
        double mq = trimmed_mean(tq), ms = trimmed_mean(ts);
        double ratio = ms > 0 ? mq / ms : 0;
        log_sum += std::log(ratio > 0 ? ratio : 1e-9);
        if (ratio > BENCH_GOAL_EACH) over_goal.push_back(name);
        std::printf("%s ratio %s: %.3f  (qlua %.1f ms, lua5.4 %.1f ms)\n", label.c_str(),
                    name.c_str(), ratio, mq * 1e3, ms * 1e3);
        std::fflush(stdout);
    }
    double geomean = std::exp(log_sum / double(scripts.size()));
    std::string over;
    for (const std::string &n : over_goal) over += (over.empty() ? "" : ", ") + n;
    std::printf("%s goal: geomean <= %.2f, each script <= %.2f; %s%s\n", label.c_str(),
                BENCH_GOAL_GEOMEAN, BENCH_GOAL_EACH,
                geomean > BENCH_GOAL_GEOMEAN ? "geomean over goal; " : "",
                over.empty() ? "no script over goal" : ("over goal: " + over).c_str());
    std::printf("%s geomean ratio: %.3f\n", label.c_str(), geomean);
    return 0;
}
