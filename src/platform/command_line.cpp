// The command line.
#include "command_line.h"

#include <cstring>

#include "app_state.h"
#include "host_paths.h"

namespace {

// What the next plain argument is for.
enum class Pending { launch_arg, home_path, skipped };

void copy_text(char (&field)[HOST_PATH_SIZE], const char *text) {
    strncpy(field, text, sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

}  // namespace

extern "C" void process_arguments(int argc, char **argv) {
    Pending pending = Pending::launch_arg;
    for (int i = 1; i < argc && argv[i]; i++) {
        const char *arg = argv[i];
        if (strncmp(arg, "-home", 5) == 0) {
            pending = Pending::home_path;
            continue;
        }
        if (strncmp(arg, "-x", 2) == 0) {
            config.headless = 1;
        } else if (strncmp(arg, "-use_system_rom", 15) == 0) {
            config.use_system_rom = 1;
        } else if (arg[0] == '-') {
            pending = Pending::skipped;
            continue;
        } else if (arg[0] == '>' || arg[0] == '|' || arg[0] == '&') {
            break;
        } else if (pending == Pending::home_path) {
            copy_text(config.home_path, arg);
            codo_mkdir_parents(config.home_path);
        } else if (pending == Pending::launch_arg) {
            copy_text(config.launch_arg, arg);
        }
        pending = Pending::launch_arg;
    }
}
