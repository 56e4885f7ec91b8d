// Worker threads over SDL.
#include "threads.h"

#include <SDL.h>

#include <new>

struct os_thread_rec {
    SDL_Thread *handle;
};

extern "C" os_thread_rec *os_create_thread(int (*fn)(void *), void *data) {
    auto *t = new (std::nothrow) os_thread_rec{nullptr};
    if (!t) return nullptr;
    t->handle = SDL_CreateThread(fn, "quillmar_worker", data);
    return t;
}

extern "C" int os_thread_started(const os_thread_rec *t) { return t && t->handle; }

extern "C" void os_destroy_thread(os_thread_rec *t) {
    if (!t) return;
    if (t->handle) SDL_DetachThread(t->handle);
    delete t;
}
