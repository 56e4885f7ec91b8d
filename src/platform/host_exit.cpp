// The one way out of the program.
#include "host_exit.h"

#include <cstdio>
#include <cstdlib>

#include "audio_device.h"
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

// The audio device is closed first, so that no callback runs while exit
// tears the program down; a running GIF recording leaves no temporary file
// behind; then the HTTP workers get their time to end.
extern "C" void host_shutdown(void) {
    audio_device_close();
    gif_cancel();
    gurl_shutdown(WORKER_WAIT_MS);
}
