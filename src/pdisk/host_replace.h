/*
** Replacing a host file whole: the hidden temporary it is written to, the
** rename over the target, the folder sync that makes the rename last through
** a power cut, and the removal of temporaries that earlier writes left
** behind when the program died between creating and renaming them.
**
** A write takes the first free ".<stem>.tmp.<n>" beside its target. With one
** writer, every temporary of a lower number is then one an interrupted
** write left; once the new file is in place they are removed. Temporaries
** that a still-open write of this program holds are kept. One that another
** running instance is writing may be removed: its own rename then fails and
** is reported as a failed write, and its target is untouched.
*/
#pragma once

#include <string>

#include "host_fs.h"

/* Numbers tried for a temporary before its creation gives up. */
inline constexpr int HOST_TEMP_TRIES = 1000;

/* Longest part of the target's name kept in a temporary's name, so that
   ".<stem>.tmp.<n>" stays within a host name's limit. */
inline constexpr size_t HOST_TEMP_STEM_MAX = 200;

/* The path of temporary 'n' of 'target': ".<stem>.tmp.<n>" in its folder. */
std::string host_temp_name(const char *target, int n);

/* The number of a temporary path made by host_temp_name, or -1. */
int host_temp_number(const char *temp_path);

/* Whether this program still writes through the temporary 'temp_path'
   (such temporaries are never removed here). Null: none is held. */
using host_temp_held = bool (*)(const std::string &temp_path);

/* Creates a temporary for 'target'. When every number is taken, removes
   those not held (each left by a write that never finished) and tries once
   more. 0, or -1. */
int host_create_temp(host_fs *fs, const char *target, std::string *temp_path, host_temp_held held);

/* Renames the written 'temp_path' over 'target', syncs the target's folder
   (a failure is logged once while it lasts and does not fail the write) and
   removes the unheld temporaries of lower numbers. 0, or -1 when the rename
   failed (the temporary is left for the caller to remove). */
int host_replace_temp(host_fs *fs, const char *temp_path, const char *target, host_temp_held held);
