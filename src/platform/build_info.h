/*
** The build's identity: the number and version text that the start-up log
** and the statistics call report, and the date stamp of this build.
*/
#ifndef QUILLMAR_PLATFORM_BUILD_INFO_H
#define QUILLMAR_PLATFORM_BUILD_INFO_H

#include <stdint.h>

#include "version.h" /* QUILLMAR_VERSION, shown by the boot screen too */

inline constexpr int64_t QUILLMAR_BUILD_NUMBER = 1;

/* The date and time this build's build_info.cpp was compiled: one text for
   the whole program, whatever file reads it. */
extern "C" const char QUILLMAR_BUILD[];

#endif
