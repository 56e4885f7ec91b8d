// Fuzz target: the ROM cartridge reader and the system-ROM reader. Every
// entry read must have a legal name, and what was read must write back and
// read again to the same entries.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cart_common.h"
#include "cart_rom.h"
#include "fake_host.h"

namespace {

void fail(const char *what) {
    fprintf(stderr, "rom: %s\n", what);
    abort();
}

void check_entries(const cart_read_result &r, bool system) {
    if (r.entries.size() > KIV_ROM_MAX_ENTRIES) fail("too many entries");
    for (const cart_entry &e : r.entries) {
        if (!cart_name_ok(e.name)) fail("an illegal name was read");
        if (e.is_folder && !e.data.empty()) fail("a folder with data");
        if (system && e.name.compare(0, 7, "system/") != 0 && e.name != "system") fail("a name outside system/");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fake_host::reset();  // the fake log would otherwise grow for the whole run
    const cart_read_result r = decode_kiv_rom(data, size, "/ram/mount/fuzz");
    check_entries(r, false);
    std::string rom;
    if (!encode_kiv_rom(r.entries, 0, rom)) fail("what was read does not write back");
    const cart_read_result again = decode_kiv_rom(reinterpret_cast<const uint8_t *>(rom.data()), rom.size(), "again");
    if (!again.read_whole || again.entries != r.entries) fail("the written cartridge reads back differently");

    check_entries(decode_system_rom(data, size), true);
    return 0;
}
