// The file-system test fixture.
#include "vfs_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_host.h"
#include "test_codec.h"
#include "vm_hooks.h"

std::string VfsTest::pwd = "/";
uint64_t VfsTest::exclusive = 0;

namespace {
const char *stub_pwd() { return VfsTest::pwd.c_str(); }
uint64_t stub_exclusive() { return VfsTest::exclusive; }
}  // namespace

void VfsTest::SetUp() {
    char tmpl[] = "/tmp/pdisk_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    drive = root + "/drive";
    std::filesystem::create_directory(drive);
    pwd = "/";
    exclusive = 0;
    fake_host::reset();
    pdisk_set_host_fs(&fs);
    pdisk_set_pwd_source(stub_pwd);
    pdisk_set_exclusive_source(stub_exclusive);
    pdisk_set_appdata_folder(root);
    pdisk_set_clock_ms(1000);
    pdisk_set_utc_s(1700000000);
    pdisk_seed_folder_names(12345);
    test_codec::install();
    cpu_cycles = 0;
    boot();
}

void VfsTest::TearDown() {
    pdisk_shutdown();
    pdisk_check_index_each_op = false;
    pdisk_set_host_fs(nullptr);
    pdisk_set_pwd_source(nullptr);
    pdisk_set_exclusive_source(nullptr);
    pdisk_use_host_clocks();
    pdisk_reset_cart_codecs();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

void VfsTest::boot() {
    pfile_init();
    pfile_reset();
    pdisk_check_index_each_op = true;
    mount_ram_folder("/ram");
    mount_host_path("/", (drive + "/").c_str());
    mount_ram_folder("/system");
}

void VfsTest::restart() {
    pdisk_shutdown();
    fs.heal();
    boot();
}

std::string VfsTest::host(const std::string &rel) const { return drive + "/" + rel; }

void VfsTest::put_host(const std::string &rel, const std::string &bytes) const {
    const std::filesystem::path p = host(rel);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::optional<std::string> VfsTest::get_host(const std::string &rel) const {
    std::ifstream in(host(rel), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool VfsTest::host_exists(const std::string &rel) const { return std::filesystem::exists(host(rel)); }

bool VfsTest::put(const std::string &path, const std::string &bytes, const char *mode) {
    pfile_rec *f = pfopen(path.c_str(), mode);
    if (!f) return false;
    pfwrite(bytes.data(), 1, static_cast<int64_t>(bytes.size()), f);
    return pfclose(f) == 0;
}

std::optional<std::string> VfsTest::get(const std::string &path, const char *mode) {
    pfile_rec *f = pfopen(path.c_str(), mode);
    if (!f) return std::nullopt;
    std::string s(reinterpret_cast<const char *>(f->data->data), static_cast<size_t>(f->data->length));
    pfclose(f);
    return s;
}

void VfsTest::frame(int64_t ms) {
    pdisk_advance_clock_ms(ms);
    flush_dirty_mounts_delayed();
    prune_mounts();
    sync_fs(0);
}

std::string VfsTest::listing(const std::string &path) {
    std::vector<std::string> names;
    int folders = 0;
    if (!pdisk_list(path.c_str(), &names, &folders)) return "<refused>";
    std::string out;
    for (const std::string &n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}
