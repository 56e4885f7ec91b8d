// The fault-injecting host-file seam.
#include "fault_fs.h"

void fault_fs::heal() {
    fail_nth.fill(0);
    fail_all.fill(false);
    crash_nth.fill(0);
    cut_writes_after = -1;
}

bool fault_fs::hit(host_op k) {
    const int i = static_cast<int>(k);
    const int n = ++calls[i];
    if (crash_nth[i] == n) throw crash{};
    return fail_all[i] || fail_nth[i] == n;
}

int fault_fs::stat(const char *path, host_stat *st) { return hit(host_op::stat) ? -1 : real_->stat(path, st); }

int fault_fs::lstat(const char *path, host_stat *st) { return hit(host_op::stat) ? -1 : real_->lstat(path, st); }

int fault_fs::read_file(const char *path, int64_t limit, buffer_rec *out) {
    return hit(host_op::read) ? -1 : real_->read_file(path, limit, out);
}

int fault_fs::create_temp(const char *target, std::string *temp_path) {
    return hit(host_op::create_temp) ? -1 : real_->create_temp(target, temp_path);
}

int fault_fs::write_temp(const char *temp_path, const uint8_t *bytes, int64_t n) {
    if (hit(host_op::write_temp)) return -1;
    if (cut_writes_after >= 0 && n > cut_writes_after) {
        real_->write_temp(temp_path, bytes, cut_writes_after);
        return -1;
    }
    return real_->write_temp(temp_path, bytes, n);
}

int fault_fs::replace(const char *temp_path, const char *target) {
    if (hit(host_op::replace)) return -1;
    const int r = real_->replace(temp_path, target);
    if (r == 0) replaced.emplace_back(target);
    return r;
}

int fault_fs::append(const char *path, const uint8_t *bytes, int64_t n) {
    if (hit(host_op::append)) return -1;
    const int r = real_->append(path, bytes, n);
    if (r == 0 && n > 0) appended.emplace_back(path);
    return r;
}

int fault_fs::remove(const char *path) { return hit(host_op::remove) ? -1 : real_->remove(path); }

int fault_fs::rmdir(const char *path) { return hit(host_op::rmdir) ? -1 : real_->rmdir(path); }

int fault_fs::mkdir(const char *path, uint32_t mode) { return hit(host_op::mkdir) ? -1 : real_->mkdir(path, mode); }

int fault_fs::list(const char *path, std::vector<std::string> *names, size_t max_names) {
    if (hit(host_op::list) || real_->list(path, names, max_names) != 0) return -1;
    for (size_t i = 0; i < listed_too.size() && names->size() < max_names; i++) names->push_back(listed_too[i]);
    return 0;
}

int fault_fs::realpath(const char *path, std::string *out) {
    return hit(host_op::realpath) ? -1 : real_->realpath(path, out);
}

int fault_fs::sync_dir(const char *path) { return hit(host_op::sync_dir) ? -1 : real_->sync_dir(path); }
