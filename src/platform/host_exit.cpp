// The one way out of the program.
#include "host_exit.h"

#include <cstdio>
#include <cstdlib>

#include "captures.h"
#include "gurl.h"
#include "log_file.h"

extern "C" void host_exit(int status) {
    fflush(stdout);
    codo_debug_flush();
    host_shutdown();
    exit(status);
}

inline constexpr int64_t WORKER_WAIT_MS = 2000;  /* how long the HTTP workers get to end */

// The audio device adds its shutdown here. A running GIF recording leaves no
// temporary file behind.
extern "C" void host_shutdown(void) {
    gif_cancel();
    gurl_shutdown(WORKER_WAIT_MS);
}
