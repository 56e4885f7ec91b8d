// The start of a frame: one pass of the host event pump. Apart from the
// frame loop so that the script API, which pumps on demand, links it alone.
#include "boot_hooks.h"
#include "frame_loop.h"

void start_frame() { handle_sdl_messages(); }
