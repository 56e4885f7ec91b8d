/*
** Deleting, copying and making folders on virtual paths.
*/
#pragma once

#include <cstdint>

#include "buffer.h"

/* Folders made on the host get these permission bits. */
inline constexpr uint32_t HOST_FOLDER_MODE = 0755;

/*
** Deletes the file or folder at 'path'. A cartridge mounted exactly there is
** written back if dirty and unmounted first, then its file deleted; an alias
** there only loses its mount; a RAM-folder or host mount there is refused,
** and so is a RAM path that holds a mounted cartridge's folder. Returns
** how many entries went: RAM files and folders freed (a cartridge's own
** included), and 1 for a host file or folder removed.
*/
int delete_path(const char *path);

/* Frees every RAM slot whose origin is 'folder' or lies under it; returns
   how many. */
int delete_ram_files_in_path(const buffer_rec *folder);

/*
** Copies the file 'src' to 'dst' and returns the byte count, 0 on failure
** (illegal path, missing source, destination not writable, host write
** failed). When both resolve to the same file nothing is written and the
** length is returned.
*/
int64_t fcopy(const char *src, const char *dst);

/*
** Makes a folder at 'path', or mounts a new (or existing) cartridge there
** when the name has a cartridge extension (written back within the flush
** delay). 0 made or mounted; 1 illegal path, no mount made, or a RAM entry
** already there; 2 no free slot; for a host folder the host's result (0 or
** -1).
*/
int pmkdir(const char *path);
