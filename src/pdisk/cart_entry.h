/*
** One entry of a cartridge: the plain record that the cartridge codecs
** (text, ROM, image) encode and decode and that the mount code turns into
** RAM files and folders. The codecs never touch the file slots.
*/
#pragma once

#include <string>
#include <vector>

/*
** A file or folder inside a cartridge.
** - name is relative to the cartridge's folder: segments joined by '/', no
**   leading '/', and no trailing '/' even for a folder (is_folder says so);
**   a decoder never returns a name holding a ".." segment or an empty one.
** - data is the file's bytes, any values, NULs included; empty for a folder.
** Entries travel in slot-table order (the order the files were made), which
** encoders keep as it is.
*/
struct cart_entry {
    std::string name;  /* path relative to the cartridge folder, see above */
    std::string data;  /* file contents; empty for a folder */
    bool is_folder;    /* true: a folder entry, data unused */

    bool operator==(const cart_entry &) const = default;
};

/*
** What a decoder returns: the entries it could read, in file order, and
** whether it read the whole input. read_whole is false when the reader
** stopped early or skipped anything (unknown version, missing end mark,
** a bad name, a truncated entry, too many entries, a failed decompression);
** such a cartridge must never be written back over its file.
*/
struct cart_read_result {
    std::vector<cart_entry> entries;  /* what was read, in file order */
    bool read_whole = true;           /* false: stopped early or skipped something */
};
