// The one way out of the program.
#include "host_exit.h"

#include <cstdio>
#include <cstdlib>

#include "log_file.h"

extern "C" void host_exit(int status) {
    fflush(stdout);
    codo_debug_flush();
    host_shutdown();
    exit(status);
}

// Nothing to close yet: the audio device and the HTTP workers add their
// shutdown here.
extern "C" void host_shutdown(void) {}
