/*
** Rules shared by the cartridge codecs: which entry names a cartridge may
** hold, and their log lines.
*/
#pragma once

#include <string_view>

// True when 'name' may name an entry below a cartridge's folder: not empty,
// segments joined by single '/', no leading or trailing '/', no "." segment,
// no ".." anywhere (the readers refuse "a..b" as well), no NUL. A folder's
// name is checked without its trailing '/'.
bool cart_name_ok(std::string_view name);

// Formats one log line (printf rules) and hands it to codo_debug.
void cart_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
