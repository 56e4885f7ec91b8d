// Counts heap allocations while a watch is open, through the sanitizer's
// allocation hooks (the tests run under AddressSanitizer; elsewhere a watch
// sees nothing and 'available' says so).
#pragma once

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

namespace alloc_watch {

inline std::atomic<bool> open{false};
inline std::atomic<size_t> count{0};    // allocations while open
inline std::atomic<size_t> largest{0};  // largest single allocation while open

inline void on_malloc(const volatile void *, size_t size) {
    if (!open) return;
    count++;
    size_t seen = largest;
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
}
inline void on_free(const volatile void *) {}

inline bool available() {
#if defined(__SANITIZE_ADDRESS__)
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free) != 0;
    return installed;
#else
    return false;
#endif
}

// Opens a watch: counters from zero.
inline void start() {
    available();
    count = 0;
    largest = 0;
    open = true;
}
inline void stop() { open = false; }

}  // namespace alloc_watch
