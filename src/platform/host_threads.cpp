// Worker threads for the HTTP fetches.
#include <cstdlib>

#include "host_services.h"
#include "sdl_seam.h"

struct os_thread_rec {
    SDL_Thread *thread;  // null when SDL could not start it
};

extern "C" os_thread_rec *os_create_thread(int (*function)(void *), void *data) {
    os_thread_rec *r = static_cast<os_thread_rec *>(calloc(1, sizeof(os_thread_rec)));
    if (!r) return nullptr;
    r->thread = sdl.CreateThread(function, "quillmar_worker", data);
    return r;
}

extern "C" void os_destroy_thread(os_thread_rec *record) {
    if (!record) return;
    if (record->thread) sdl.DetachThread(record->thread);
    free(record);
}
