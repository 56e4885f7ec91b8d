// Worker threads over SDL, through the seam.
#include "threads.h"

#include <new>

#include "host_services.h"
#include "sdl_seam.h"

struct os_thread_rec {
    SDL_Thread *handle;  // null when SDL could not start the thread
};

extern "C" os_thread_rec *os_create_thread(int (*fn)(void *), void *data) {
    auto *t = new (std::nothrow) os_thread_rec{nullptr};
    if (!t) return nullptr;
    t->handle = sdl.CreateThread(fn, "quillmar_worker", data);
    return t;
}

extern "C" int os_thread_started(const os_thread_rec *t) { return t && t->handle; }

extern "C" void os_destroy_thread(os_thread_rec *t) {
    if (!t) return;
    if (t->handle) sdl.DetachThread(t->handle);
    delete t;
}
