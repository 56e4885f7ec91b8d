/*
** Files dropped on the host window: copied into the RAM file system and
** announced to the window manager, when the window reports a drop.
*/
#ifndef QUILLMAR_PLATFORM_DROPPED_FILE_H
#define QUILLMAR_PLATFORM_DROPPED_FILE_H

#include <stddef.h>

/* Destination paths are cut to this many characters. */
inline constexpr size_t DROP_PATH_MAX = 1023;

/* Stores the host file at 'host_path' as the RAM file "/ram/drop/<name>",
   <name> being the part after the last '/' or '\', with every character of
   the path that is no legal path character made '_', and sends process 3 a
   drop_items event naming it. An empty file or a folder only gets the user
   notification; an unreadable file, or a destination the file system will
   not open, gets nothing. No file slot is taken on those exits. */
void process_dropped_file(const char *host_path);

#endif
