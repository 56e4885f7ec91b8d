// Fuzz target: random controller mapping files, beside the program and in
// the application-data folder, read under SDL's dummy drivers. Nothing may
// crash or trip a sanitizer.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controllers.h"
#include "host_paths.h"

namespace {

std::string program_file, appdata_file;
int runs = 0;

void start_sdl() {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) != 0) abort();
}

void setup() {
    char root[] = "/tmp/fuzz_controller_mappings_XXXXXX";
    if (!mkdtemp(root)) abort();
    setenv("HOME", root, 1);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    codo_set_argv0((std::string(root) + "/quillmar").c_str());
    char path[HOST_PATH_SIZE];
    program_file = codo_prefix_with_program_path("sdl_controllers.txt", path);
    appdata_file = codo_prefix_with_appdata_path("sdl_controllers.txt", path);
    start_sdl();
}

void write(const std::string &path, const uint8_t *data, size_t n) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) abort();
    fwrite(data, 1, n, f);
    fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setup(), true);
    (void)ready;
    // SDL keeps every mapping added; start it afresh now and then.
    if (++runs % 500 == 0) {
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
        start_sdl();
    }
    const size_t half = size / 2;
    write(program_file, data, half);
    if (size & 1) remove(appdata_file.c_str());
    else write(appdata_file, data + half, size - half);
    add_sdl_controllers();
    return 0;
}
