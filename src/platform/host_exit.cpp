// The one way out of the program.
#include "host_exit.h"

#include <cstdio>
#include <cstdlib>

#include "captures.h"
#include "log_file.h"

extern "C" void host_exit(int status) {
    fflush(stdout);
    codo_debug_flush();
    host_shutdown();
    exit(status);
}

// The audio device and the HTTP workers add their shutdown here. A running
// GIF recording leaves no temporary file behind.
extern "C" void host_shutdown(void) { gif_cancel(); }
