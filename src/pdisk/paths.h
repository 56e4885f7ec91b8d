/*
** Virtual path rules: legal characters, collapsing, the canonical form and
** file-name extensions.
*/
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "buffer.h"

/* A segment this long or longer is dropped by collapsing. */
inline constexpr size_t PATH_SEGMENT_MAX = 254;

/* A protocol name is looked for in this many leading characters. */
inline constexpr size_t PROTOCOL_SCAN = 16;

/* True for the legal path characters 0-9 A-Z a-z - . / _ */
bool is_path_char(int c);

/* True for the bytes no path may hold anywhere: NUL, 0x01-0x1F and 0x7F. */
bool is_path_control_byte(int c);

/*
** A new buffer (tag 'N') holding the collapsed form of the 'len' bytes at
** 's': empty and "." segments dropped, ".." applied (never above the root,
** never removing the first segment after a protocol head), segments of 255
** characters or more dropped, a leading protocol head ending in "://" kept
** as it is. An empty result is "/". With 'debug' set the steps are printed.
*/
buffer_rec *collapse_path(const char *s, int32_t len, int debug);

/*
** A new buffer (tag 'N') with the canonical absolute form of 's', relative
** paths taken from the running process's working folder; null for an
** illegal path (null, empty, first character '#' or '-', an illegal
** character before the first '#', a control byte anywhere). Protocol heads
** are never recognised here.
*/
buffer_rec *normalise_quillmar_path(const char *s);

/* As normalise_quillmar_path for 'len' bytes that may hold a NUL (which
   makes the path illegal). */
buffer_rec *normalise_quillmar_path_n(const char *s, size_t len);

/* The lower-cased extension of 'name' (up to two dot parts: "lua",
   "kiv.png", "info.pod"; empty after a last '/' or without a dot), in a
   static text valid until the next call. */
const char *get_ext(const char *name);

/* 1 for the extension "kiv", 2 "kiv.rom", 3 "kiv.png", else 0. */
int kiv_path_kind(const char *name);

/* ---- string forms used inside the file system ---- */

/* The canonical form of 's' into *out; false when illegal. */
bool pdisk_normalise(std::string_view s, std::string *out);

/* Whether 's' is its own canonical form (pdisk_normalise would copy it). */
bool pdisk_canonical(std::string_view s);

/* The collapsed form of 's'; protocol heads kept only with 'allow_protocol'. */
std::string pdisk_collapse(std::string_view s, bool allow_protocol, bool debug);

/* The extension rule of get_ext, into a new string. */
std::string pdisk_ext(std::string_view name);

/* kiv_path_kind of 'name'. */
int pdisk_cart_kind(std::string_view name);

/* True when 'path' is 'folder' or lies under it ('folder', '/', more).
   A folder "/" holds every absolute path. */
bool pdisk_path_within(std::string_view path, std::string_view folder);
