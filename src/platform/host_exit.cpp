// The one way out of the program.
#include "host_exit.h"

#include <cstdio>
#include <cstdlib>

#include "audio_device.h"
#include "log_file.h"

extern "C" void host_exit(int status) {
    fflush(stdout);
    codo_debug_flush();
    host_shutdown();
    exit(status);
}

// The audio device is closed so that no callback runs while exit tears the
// program down; the HTTP workers add their stop here.
extern "C" void host_shutdown(void) { audio_device_close(); }
