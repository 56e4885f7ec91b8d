// Formatted log lines of the runtime core.
#include "runtime_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "host.h"

void runtime_log(const char *format, ...) {
    char small[512];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(small, sizeof small, format, ap);
    va_end(ap);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        codo_debug(small);
        return;
    }
    char *big = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (!big) {
        codo_debug(small);  // cut short rather than lost
        return;
    }
    va_start(ap, format);
    std::vsnprintf(big, static_cast<size_t>(n) + 1, format, ap);
    va_end(ap);
    codo_debug(big);
    std::free(big);
}
