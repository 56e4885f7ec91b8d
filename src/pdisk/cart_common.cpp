/*
** Entry-name rules and log lines of the cartridge codecs.
*/
#include "cart_common.h"

#include <cstdarg>
#include <cstdio>

#include "host.h"

bool cart_name_ok(std::string_view name) {
    if (name.empty() || name.find("..") != std::string_view::npos) return false;
    if (name.find('\0') != std::string_view::npos) return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        const std::string_view segment = name.substr(start, slash == std::string_view::npos ? name.npos : slash - start);
        if (segment.empty() || segment == ".") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

void cart_log(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    codo_debug(line);
}
