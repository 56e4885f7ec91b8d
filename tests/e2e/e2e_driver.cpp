// The end-to-end driver: sandboxes, packing and running the program.
#include "e2e_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace e2e {

namespace fs = std::filesystem;

namespace {

// Variables of the test's own environment that the run sets or must not see.
const char *const kReplaced[] = {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR",
                                 "SDL_VIDEODRIVER", "SDL_AUDIODRIVER", "ASAN_OPTIONS", "UBSAN_OPTIONS"};

void check(bool ok, const std::string &what) {
    if (!ok) throw std::runtime_error(what);
}

void write_bytes(const std::string &path, const std::string &bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    check(bool(out), "could not write " + path);
}

std::vector<std::string> run_environment(const std::string &home, const std::string &runtime_dir,
                                         const std::string &desktop) {
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        bool replaced = false;
        for (const char *name : kReplaced) {
            const size_t n = strlen(name);
            if (strncmp(*e, name, n) == 0 && (*e)[n] == '=') replaced = true;
        }
        if (!replaced) env.emplace_back(*e);
    }
    env.push_back("HOME=" + home);
    env.push_back("XDG_RUNTIME_DIR=" + runtime_dir);
    env.push_back("XDG_DESKTOP_DIR=" + desktop);
    env.push_back("SDL_VIDEODRIVER=dummy");
    env.push_back("SDL_AUDIODRIVER=dummy");
    env.push_back("ASAN_OPTIONS=exitcode=99");
    env.push_back("UBSAN_OPTIONS=exitcode=99:print_stacktrace=1");
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// The words of QUILLMAR_E2E_EMULATOR (say "qemu-x86_64 -cpu qemu64"), put in
// front of the program so that it runs on an emulated processor; none when
// the variable is unset.
std::vector<std::string> emulator_words() {
    std::vector<std::string> words;
    const char *e = getenv("QUILLMAR_E2E_EMULATOR");
    std::istringstream in(e ? e : "");
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

int decode_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Runs 'argv' to its end with the test's environment; returns its status.
int run_tool(std::vector<std::string> argv) {
    std::vector<char *> args = pointers(argv);
    pid_t pid = 0;
    check(posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0, "could not run " + argv[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return decode_status(status);
}

void big_endian_length(std::string &out, size_t n) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((n >> shift) & 0xFF));
}

}  // namespace

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

sandbox::sandbox() {
    char tmpl[] = "/tmp/quillmar_e2e_XXXXXX";
    check(mkdtemp(tmpl) != nullptr, "mkdtemp");
    root_ = tmpl;
    dir = root_ + "/prog";
    home = root_ + "/home";
    desktop = home + "/Desktop";
    appdata = home + "/.local/share/quillmar/exp/shared/";
    fs::create_directories(dir);
    fs::create_directories(home);
    fs::create_directories(root_ + "/run");
    chmod((root_ + "/run").c_str(), 0700);
    fs::create_symlink(QUILLMAR_BIN, dir + "/quillmar");
}

sandbox::~sandbox() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void sandbox::pack(const std::map<std::string, std::string> &files, const std::optional<std::string> &program) {
    const std::string rom = root_ + "/rom";
    fs::remove_all(rom);
    fs::copy(ROM_SOURCE_DIR, rom, fs::copy_options::recursive);
    for (const auto &[name, bytes] : files) write_bytes(rom + "/" + name, bytes);
    std::vector<std::string> argv = {SYSROM_PACK, "--export", "", "--out", dir + "/sysrom.dat", rom};
    if (program) {
        argv.push_back("--expansion");
        argv.push_back(std::string(E2E_PROGRAMS_DIR) + "/" + *program);
    }
    check(run_tool(argv) == 0, "sysrom-pack failed");
}

void sandbox::write_blocks(const std::vector<std::string> &blocks) {
    std::string dat;
    for (const std::string &b : blocks) {
        big_endian_length(dat, b.size());
        dat += b;
    }
    write_bytes(dir + "/sysrom.dat", dat);
}

void sandbox::write_file(const std::string &relative, const std::string &bytes) {
    write_bytes(dir + "/" + relative, bytes);
}

run_result sandbox::run(const line_hook &hook, const run_options &options) {
    run_result r;
    int out_pipe[2], err_pipe[2];
    check(pipe2(out_pipe, O_CLOEXEC) == 0 && pipe2(err_pipe, O_CLOEXEC) == 0, "pipe");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::vector<std::string> argv = emulator_words();
    argv.push_back(dir + "/quillmar");
    if (!options.windowed && !windowed) argv.push_back("-x");
    std::vector<std::string> env = run_environment(home, root_ + "/run", desktop);
    for (const auto &[name, value] : options.env) {
        const std::string head = name + "=";
        std::erase_if(env, [&](const std::string &e) { return e.compare(0, head.size(), head) == 0; });
        env.push_back(head + value);
    }
    std::vector<char *> args = pointers(argv), envp = pointers(env);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    check(spawned == 0, "could not start the program");

    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + RUN_DEADLINE;
    std::string partial;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_fds = 2;
    while (open_fds > 0 && !r.timed_out) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            r.timed_out = true;
            break;
        }
        if (poll(fds, 2, int(std::min<int64_t>(left.count(), 1000))) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_fds--;
                continue;
            }
            if (i == 1) {
                r.err.append(buf, size_t(n));
                continue;
            }
            r.out.append(buf, size_t(n));
            partial.append(buf, size_t(n));
            for (size_t nl; (nl = partial.find('\n')) != std::string::npos;) {
                out_line line{partial.substr(0, nl), std::chrono::steady_clock::now()};
                partial.erase(0, nl + 1);
                r.lines.push_back(line);
                if (hook) hook(line.text, pid);
            }
        }
    }
    if (r.timed_out) kill(pid, SIGKILL);
    for (int i = 0; i < 2; i++)
        if (fds[i].fd >= 0) close(fds[i].fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    r.status = decode_status(status);
    r.log = read_file(appdata + "log.txt");
    return r;
}

bool has_line(const run_result &r, const std::string &line) { return count_lines(r, line) > 0; }

int count_lines(const run_result &r, const std::string &line) {
    int n = 0;
    for (const out_line &l : r.lines) n += l.text == line;
    return n;
}

int count_lines_with(const run_result &r, const std::string &part) {
    int n = 0;
    for (const out_line &l : r.lines) n += l.text.find(part) != std::string::npos;
    return n;
}

std::string diagnostics(const run_result &r) {
    return "status " + std::to_string(r.status) + (r.timed_out ? " (timed out)" : "") + "\n--- stdout\n" +
           r.out + "--- stderr\n" + r.err + "--- log\n" + r.log;
}

}  // namespace e2e
