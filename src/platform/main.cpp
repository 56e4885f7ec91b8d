// The program: start-up, then the frame loop for ever.
#include "frame_loop.h"
#include "startup.h"

int main(int argc, char **argv) {
    quillmar_start(argc, argv);
    for (;;) system_frame();
}
