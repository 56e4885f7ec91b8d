// Normalising and resolving untrusted paths: the result is canonical and
// stable, holds no control byte, and a host origin never leaves its mount's
// host folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "no_host_fs.h"
#include "pdisk.h"

namespace {

// A host that has nothing, so nothing automounts.
no_host_fs g_host;
std::string g_pwd = "/";

const char *fuzz_pwd() { return g_pwd.c_str(); }

const char *const pwds[] = {"/", "/x", "/ram/a/", "/desk", "/x/../..", "", "/#:/..", "/a b"};

void setup() {
    pdisk_set_host_fs(&g_host);
    pdisk_set_pwd_source(fuzz_pwd);
    pdisk_set_clock_ms(1000);
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    mount_host_path("/", "/h/root/");
    mount_host_path("/desk", "/h/desk");
    mount_ram_folder("/system");
    mount_p_path("/al", "/ram/x");
}

void check(bool ok) {
    if (!ok) std::abort();
}

// True when no segment of the canonical 'p' is empty, "." or "..".
bool clean_segments(const std::string &p) {
    if (p == "/") return true;
    size_t i = 1;
    while (i <= p.size()) {
        size_t e = p.find('/', i);
        if (e == std::string::npos) e = p.size();
        const std::string seg = p.substr(i, e - i);
        if (seg.empty() || seg == "." || seg == "..") return false;
        i = e + 1;
    }
    return true;
}

bool within(const std::string &p, const std::string &folder) {
    return p.compare(0, folder.size(), folder) == 0 && (p.size() == folder.size() || p[folder.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setup(), true);
    (void)ready;
    if (size == 0) return 0;
    g_pwd = pwds[data[0] % (sizeof pwds / sizeof pwds[0])];
    const char *text = reinterpret_cast<const char *>(data + 1);
    const size_t len = size - 1;

    buffer_rec *c = collapse_path(text, static_cast<int32_t>(len), 0);
    check(c != nullptr);
    destroy_buffer(c);

    buffer_rec *n = normalise_quillmar_path_n(text, len);
    if (!n) return 0;
    const std::string once(reinterpret_cast<const char *>(n->data), static_cast<size_t>(n->length));
    destroy_buffer(n);
    check(!once.empty() && once[0] == '/');
    check(clean_segments(once));
    for (const char ch : once) check(!is_path_control_byte(ch));
    buffer_rec *again = normalise_quillmar_path_n(once.data(), once.size());
    check(again && std::string(reinterpret_cast<const char *>(again->data), static_cast<size_t>(again->length)) == once);
    destroy_buffer(again);

    int kind = 0;
    buffer_rec *o = resolve_to_origin(once.c_str(), &kind, data[0] & 1);
    const std::string origin(reinterpret_cast<const char *>(o->data), static_cast<size_t>(o->length));
    destroy_buffer(o);
    if (origin.empty()) return 0;
    check(kind == 1 || kind == 2);
    check(origin.find("/../") == std::string::npos && origin.find("/./") == std::string::npos);
    for (const char ch : origin) check(!is_path_control_byte(ch));
    if (kind == 1)
        check(within(origin, "/h/root") || within(origin, "/h/desk"));
    else
        check(within(origin, "/ram") || within(origin, "/system"));
    return 0;
}
