// The build's date stamp, compiled once, and the query the API reaches.
#include "build_info.h"

#include "host_services.h"

extern "C" const char QUILLMAR_BUILD[] = __DATE__ " " __TIME__;

extern "C" void quillmar_build_info(int64_t *number, const char **version, const char **stamp) {
    if (number) *number = QUILLMAR_BUILD_NUMBER;
    if (version) *version = QUILLMAR_VERSION;
    if (stamp) *stamp = QUILLMAR_BUILD;
}
