/*
** The host-file seam: every call the file system makes on host files and
** folders goes through one host_fs object, so tests can fail, cut short or
** abort any of them. host_fs_posix.cpp is the only file in pdisk that calls
** the host directly.
*/
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffer.h"

/* What stat and lstat report about one host path. */
struct host_stat {
    bool is_dir;    /* a folder (for stat: after following links) */
    bool is_reg;    /* a regular file */
    bool is_link;   /* lstat only: the path itself is a symbolic link */
    int64_t size;   /* bytes, as the host reports them */
    uint32_t mode;  /* permission bits (07777) */
};

/* The kinds of call, for counting and fault injection. */
enum class host_op : int {
    stat,         /* stat and lstat */
    read,         /* read_file */
    create_temp,  /* create_temp */
    write_temp,   /* write_temp */
    replace,      /* replace */
    append,       /* append */
    remove,       /* remove */
    rmdir,        /* rmdir */
    mkdir,        /* mkdir */
    list,         /* list */
    realpath,     /* realpath */
    sync_dir,     /* sync_dir */
    count
};

/*
** Every operation returns 0 on success and -1 on failure, and never throws
** in the host implementation (a test implementation may throw to stand for
** a crash at that point).
*/
class host_fs {
public:
    virtual ~host_fs() = default;

    /* Fills *st for 'path', following symbolic links; -1 when missing. */
    virtual int stat(const char *path, host_stat *st) = 0;

    /* As stat, without following a final symbolic link. */
    virtual int lstat(const char *path, host_stat *st) = 0;

    /* Appends at most 'limit' bytes of the file at 'path' to 'out' (its
       cursor and length move to the end); -1 when it cannot be opened or a
       read fails (what was read stays in 'out'). */
    virtual int read_file(const char *path, int64_t limit, buffer_rec *out) = 0;

    /* Creates an empty hidden sibling of 'target', named ".<name>.tmp.<n>"
       with the first free n, and puts its path in *temp_path. */
    virtual int create_temp(const char *target, std::string *temp_path) = 0;

    /* Writes the 'n' bytes at 'bytes' into the temporary file from its
       start and flushes them to the disk (fsync). */
    virtual int write_temp(const char *temp_path, const uint8_t *bytes, int64_t n) = 0;

    /* Gives 'temp_path' the permission bits of 'target' when that exists,
       then renames it over 'target'. */
    virtual int replace(const char *temp_path, const char *target) = 0;

    /* Opens 'path' for appending (made when missing), writes the 'n' bytes
       and closes it; n may be 0. */
    virtual int append(const char *path, const uint8_t *bytes, int64_t n) = 0;

    /* Removes a file (not a folder). */
    virtual int remove(const char *path) = 0;

    /* Removes an empty folder. */
    virtual int rmdir(const char *path) = 0;

    /* Makes one folder with the permission bits 'mode'. */
    virtual int mkdir(const char *path, uint32_t mode) = 0;

    /* The names in the folder 'path' ("." and ".." left out), in the host's
       order, replacing the contents of *names: the first 'max_names' of
       them at most. */
    virtual int list(const char *path, std::vector<std::string> *names, size_t max_names) = 0;

    /* The canonical absolute form of 'path', links resolved. */
    virtual int realpath(const char *path, std::string *out) = 0;

    /* Flushes the folder 'path' itself (its names) to the disk, so that a
       rename inside it survives a power cut. */
    virtual int sync_dir(const char *path) = 0;
};

/* What the host implementation charges a call into the host's file system:
   the system calls and the kernel's path walk, besides whatever the caller
   charges for the bytes moved. */
inline constexpr int32_t HOST_FS_CALL_CYCLES = 1024;

/* The seam in use: the host implementation unless a test installed its own. */
host_fs *pdisk_host_fs();

/* Installs 'fs' (null: the host implementation again). The caller keeps it
   alive while installed. */
void pdisk_set_host_fs(host_fs *fs);

/* The host implementation, for test seams that forward to it. */
host_fs *pdisk_posix_fs();
