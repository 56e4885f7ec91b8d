// The audio engine's entry points the runtime calls, ahead of the engine:
// nothing plays, so there is nothing to stop and no bracket to grant.
#include "mudo_init.h"
#include "host.h"

extern "C" void mudo_kill_all_audio(void) {}

extern "C" int audio_op_start(int64_t pid, int32_t force) {
    (void)pid; (void)force;
    return 1;  // refused, no lock taken
}

extern "C" void audio_op_end(void) {}

// Nothing to initialise until the mixer exists.
extern "C" void mudo_init(void) {}
