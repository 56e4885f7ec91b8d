// Runs the real program headless in a temporary folder: a symlink to the
// binary, a sysrom.dat packed for the case, a temporary HOME and
// XDG_RUNTIME_DIR, XDG_DESKTOP_DIR, the dummy SDL drivers, the sanitizers'
// exit code 99.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// The sanitizers end a run with this status, unlike the program's 0 and 1.
inline constexpr int SANITIZER_STATUS = 99;

// How long one run may take before it is killed (slow CI under sanitizers).
inline constexpr std::chrono::seconds RUN_DEADLINE{90};

// One line of standard output and when it arrived.
struct out_line {
    std::string text;                               // without its line break
    std::chrono::steady_clock::time_point arrived;  // when the driver read it
};

struct run_result {
    int status = -1;               // exit status, or 128 + signal when killed by one
    bool timed_out = false;        // killed at the deadline
    std::string out;               // standard output, whole
    std::vector<out_line> lines;   // standard output by line
    std::string err;               // standard error, whole
    std::string log;               // log.txt after the run
};

// Called for each line of standard output with the running child's pid.
using line_hook = std::function<void(const std::string &line, int pid)>;

// How a run differs from the headless default.
struct run_options {
    bool windowed = false;                          // no -x
    std::vector<std::pair<std::string, std::string>> env;  // set or replaced for the run
};

class sandbox {
public:
    sandbox();
    ~sandbox();
    sandbox(const sandbox &) = delete;
    sandbox &operator=(const sandbox &) = delete;

    // Packs sysrom.dat from rom/ with 'files' added or replaced below
    // rom/ (names such as "system/wm.lua") and, when 'program' is set,
    // block 2 from tests/e2e/programs/<program>/.
    void pack(const std::map<std::string, std::string> &files = {},
              const std::optional<std::string> &program = std::nullopt);

    // Writes sysrom.dat as the given raw blocks.
    void write_blocks(const std::vector<std::string> &blocks);

    // Writes a host file below the sandbox's program folder.
    void write_file(const std::string &relative, const std::string &bytes);

    // Runs the program (with -x unless windowed) and waits for it (or the
    // deadline).
    run_result run(const line_hook &hook = nullptr, const run_options &options = {});

    bool windowed = false;              // run without -x: video out every frame

    std::string dir;      // the program folder
    std::string home;     // HOME of the run
    std::string desktop;  // XDG_DESKTOP_DIR of the run: <home>/Desktop, not made
    std::string appdata;  // the application-data folder the run uses

private:
    std::string root_;  // everything of the sandbox, removed afterwards
};

// Reads a whole host file ("" when it does not open).
std::string read_file(const std::string &path);

// Whether standard output holds 'line' exactly.
bool has_line(const run_result &r, const std::string &line);

// Lines of standard output equal to 'line'.
int count_lines(const run_result &r, const std::string &line);

// Lines of standard output holding 'part'.
int count_lines_with(const run_result &r, const std::string &part);

// Status, standard output, standard error and the log, for failure messages.
std::string diagnostics(const run_result &r);

}  // namespace e2e
