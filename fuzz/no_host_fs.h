// A host-file seam on which every call fails: nothing exists and nothing can
// be written. Fuzz targets override the reads they serve from memory.
#pragma once

#include <string>
#include <vector>

#include "host_fs.h"

class no_host_fs : public host_fs {
public:
    int stat(const char *, host_stat *) override { return -1; }
    int lstat(const char *, host_stat *) override { return -1; }
    int read_file(const char *, int64_t, buffer_rec *) override { return -1; }
    int create_temp(const char *, std::string *) override { return -1; }
    int write_temp(const char *, const uint8_t *, int64_t) override { return -1; }
    int replace(const char *, const char *) override { return -1; }
    int append(const char *, const uint8_t *, int64_t) override { return -1; }
    int remove(const char *) override { return -1; }
    int rmdir(const char *) override { return -1; }
    int mkdir(const char *, uint32_t) override { return -1; }
    int list(const char *, std::vector<std::string> *, size_t) override { return -1; }
    int realpath(const char *, std::string *) override { return -1; }
    int sync_dir(const char *) override { return -1; }
};
