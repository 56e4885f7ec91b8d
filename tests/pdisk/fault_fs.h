// A host-file seam for tests: forwards to the host, counts every call by
// kind, and on request fails the Nth call of a kind, cuts temporary-file
// writes after N bytes, or throws (standing for a crash) at the Nth call.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host_fs.h"

class fault_fs final : public host_fs {
public:
    // Thrown where the program would have crashed.
    struct crash {};

    static constexpr int kinds = static_cast<int>(host_op::count);

    std::array<int, kinds> calls{};     // calls so far, by kind
    std::array<int, kinds> fail_nth{};  // 0: none; n: the nth call of that kind fails
    std::array<bool, kinds> fail_all{}; // every call of that kind fails
    std::array<int, kinds> crash_nth{}; // 0: none; n: the nth call of that kind throws crash
    long long cut_writes_after = -1;     // >= 0: write_temp writes only this many bytes, then fails
    std::vector<std::string> replaced;   // targets of successful replace calls, in order
    std::vector<std::string> appended;   // paths of successful appends with bytes
    std::vector<std::string> listed_too; // names every listing gives after the host's

    // Clears every fault (the counters stay).
    void heal();

    int calls_of(host_op k) const { return calls[static_cast<int>(k)]; }

    int stat(const char *path, host_stat *st) override;
    int lstat(const char *path, host_stat *st) override;
    int read_file(const char *path, int64_t limit, buffer_rec *out) override;
    int create_temp(const char *target, std::string *temp_path) override;
    int write_temp(const char *temp_path, const uint8_t *bytes, int64_t n) override;
    int replace(const char *temp_path, const char *target) override;
    int append(const char *path, const uint8_t *bytes, int64_t n) override;
    int remove(const char *path) override;
    int rmdir(const char *path) override;
    int mkdir(const char *path, uint32_t mode) override;
    int list(const char *path, std::vector<std::string> *names, size_t max_names) override;
    int realpath(const char *path, std::string *out) override;
    int sync_dir(const char *path) override;

private:
    // Counts a call; true when it is to fail (throws when it is to crash).
    bool hit(host_op k);
    host_fs *real_ = pdisk_posix_fs();
};
