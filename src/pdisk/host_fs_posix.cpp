/*
** The host implementation of the host-file seam over POSIX calls. The only
** file of the file system that touches host files directly.
*/
#include "host_fs.h"

#include "host_replace.h"  // temporaries' names
#include "vm_hooks.h"  // the charge of a call

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* Bytes read per read() call. */
inline constexpr int64_t READ_CHUNK = 1 << 16;

void fill(const struct stat &s, host_stat *st) {
    st->is_dir = S_ISDIR(s.st_mode);
    st->is_reg = S_ISREG(s.st_mode);
    st->is_link = S_ISLNK(s.st_mode);
    st->size = static_cast<int64_t>(s.st_size);
    st->mode = static_cast<uint32_t>(s.st_mode & 07777);
}

/* Writes all n bytes to fd; false on any failure. */
bool write_all(int fd, const uint8_t *bytes, int64_t n) {
    while (n > 0) {
        const size_t want = static_cast<size_t>(n > (1 << 30) ? (1 << 30) : n);
        const ssize_t w = ::write(fd, bytes, want);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += w;
        n -= w;
    }
    return true;
}

class posix_fs final : public host_fs {
public:
    int stat(const char *path, host_stat *st) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        struct stat s;
        if (::stat(path, &s) != 0) return -1;
        fill(s, st);
        return 0;
    }

    int lstat(const char *path, host_stat *st) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        struct stat s;
        if (::lstat(path, &s) != 0) return -1;
        fill(s, st);
        return 0;
    }

    int read_file(const char *path, int64_t limit, buffer_rec *out) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat s;
        if (::fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && s.st_size > 0) {
            const int64_t expect = s.st_size < limit ? static_cast<int64_t>(s.st_size) : limit;
            ballocate(out, static_cast<int64_t>(out->length) + expect);
        }
        int result = 0;
        int64_t got = 0;
        while (got < limit) {
            int64_t want = limit - got;
            if (want > READ_CHUNK) want = READ_CHUNK;
            if (static_cast<int64_t>(out->length) + want > BUFFER_MAX_LENGTH) {
                result = -1;
                break;
            }
            ballocate(out, static_cast<int64_t>(out->length) + want);
            if (out->capacity < static_cast<uint64_t>(out->length) + static_cast<uint64_t>(want) + 1) {
                result = -1;  // growth refused
                break;
            }
            const ssize_t r = ::read(fd, out->data + out->length, static_cast<size_t>(want));
            if (r < 0) {
                if (errno == EINTR) continue;
                result = -1;
                break;
            }
            if (r == 0) break;
            out->length += static_cast<int32_t>(r);
            got += r;
        }
        out->cursor = out->length;
        out->data[out->length] = 0;
        ::close(fd);
        return result;
    }

    int create_temp(const char *target, std::string *temp_path) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        for (int n = 0; n < HOST_TEMP_TRIES; n++) {
            std::string candidate = host_temp_name(target, n);
            const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                *temp_path = std::move(candidate);
                return 0;
            }
            if (errno != EEXIST) return -1;
        }
        return -1;
    }

    int write_temp(const char *temp_path, const uint8_t *bytes, int64_t n) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        const int fd = ::open(temp_path, O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return -1;
        bool ok = write_all(fd, bytes, n);
        if (ok && ::fsync(fd) != 0) ok = false;
        if (::close(fd) != 0) ok = false;
        return ok ? 0 : -1;
    }

    int replace(const char *temp_path, const char *target) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        struct stat s;
        if (::stat(target, &s) == 0 && ::chmod(temp_path, s.st_mode & 07777) != 0) return -1;
        return ::rename(temp_path, target) == 0 ? 0 : -1;
    }

    int append(const char *path, const uint8_t *bytes, int64_t n) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return -1;
        bool ok = write_all(fd, bytes, n);
        if (::close(fd) != 0) ok = false;
        return ok ? 0 : -1;
    }

    int remove(const char *path) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        return ::unlink(path) == 0 ? 0 : -1;
    }

    int rmdir(const char *path) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        return ::rmdir(path) == 0 ? 0 : -1;
    }

    int mkdir(const char *path, uint32_t mode) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        return ::mkdir(path, static_cast<mode_t>(mode)) == 0 ? 0 : -1;
    }

    int list(const char *path, std::vector<std::string> *names, size_t max_names) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        names->clear();
        DIR *d = ::opendir(path);
        if (!d) return -1;
        while (names->size() < max_names) {
            const struct dirent *e = ::readdir(d);
            if (!e) break;
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            names->emplace_back(e->d_name);
        }
        ::closedir(d);
        return 0;
    }

    int sync_dir(const char *path) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return -1;
        const bool ok = ::fsync(fd) == 0;
        ::close(fd);
        return ok ? 0 : -1;
    }

    int realpath(const char *path, std::string *out) override {
        spend_cpu(HOST_FS_CALL_CYCLES);
        char *r = ::realpath(path, nullptr);
        if (!r) return -1;
        *out = r;
        std::free(r);
        return 0;
    }
};

posix_fs g_posix;
host_fs *g_current = &g_posix;

}  // namespace

host_fs *pdisk_host_fs() { return g_current; }

void pdisk_set_host_fs(host_fs *fs) { g_current = fs ? fs : &g_posix; }

host_fs *pdisk_posix_fs() { return &g_posix; }
