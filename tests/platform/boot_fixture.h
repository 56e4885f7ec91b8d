// A booted machine for the start-up and frame-loop tests: a system ROM built
// from strings, the program folder and HOME in a temporary folder, headless
// settings, and a fake tick clock whose 1 ms sleeps move it on.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "app_state.h"
#include "cart_rom.h"
#include "frame_clock.h"
#include "frame_loop.h"
#include "host_paths.h"
#include "pdisk.h"
#include "platform_fixture.h"
#include "process.h"
#include "startup.h"
#include "sysrom_blocks.h"

namespace platform_test {

// A kernel that gives up its slice at once, every frame.
inline const char *const kYieldingKernel = "while true do coroutine.yield() end";

// The fake clock: ticks read 'now'; each sleep counts and, unless the clock
// is stuck, moves it on by the time slept.
struct fake_clock {
    static inline uint64_t now = 0;
    static inline int sleeps = 0;
    static inline bool stuck = false;
    static uint64_t ticks() { return now; }
    static void sleep(uint32_t ms) {
        sleeps++;
        if (!stuck) now += ms;
    }
    static void reset(uint64_t at) {
        now = at;
        sleeps = 0;
        stuck = false;
    }
};

// Block 0 empty, block 1 a ROM cartridge of 'files' (names below system/).
inline std::string sysrom_bytes(const std::vector<cart_entry> &files) {
    std::vector<cart_entry> entries = {{"system", "", true}};
    entries.insert(entries.end(), files.begin(), files.end());
    std::string rom;
    EXPECT_TRUE(encode_kiv_rom(entries, 0, rom));
    std::string dat(4, '\0');  // block 0: length 0
    for (int shift = 24; shift >= 0; shift -= 8) dat.push_back(char((rom.size() >> shift) & 0xFF));
    return dat + rom;
}

class BootedMachine : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        codo_set_argv0((root + "/quillmar").c_str());
        memset(&config, 0, sizeof config);
        config.fullscreen = 1;
        config.pixel_perfect = 1;
        config.volume = 192;
        config.network_access = 1;
        config.headless = 1;
        fake_clock::reset(1000);
        frame_clock_set(fake_clock::ticks, fake_clock::sleep);
        last_t = fake_clock::now;
    }

    void TearDown() override {
        processes_init();
        pdisk_shutdown();
        free_dat_files();
        frame_clock_set(nullptr, nullptr);
        frame_set_video_out(nullptr);
        TempHome::TearDown();
    }

    // Reads the blocks from 'boot' and boots them.
    void boot(const std::string &boot_lua = kYieldingKernel, std::vector<cart_entry> more = {}) {
        more.insert(more.begin(), cart_entry{"system/boot.lua", boot_lua, false});
        const std::string dat = sysrom_bytes(more);
        free_dat_files();
        dat_files = sysrom_split_blocks(reinterpret_cast<const uint8_t *>(dat.data()), dat.size(), dat_file,
                                        SYSROM_MAX_BLOCKS);
        ASSERT_EQ(dat_files, 2);
        reset_app_state();
    }

    // The virtual file at 'path', or "<missing>".
    static std::string vfile(const char *path) {
        pfile_rec *f = pfopen(path, "r");
        if (!f) return "<missing>";
        std::string s;
        char buf[256];
        for (int64_t n; (n = pfread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, size_t(n));
        pfclose(f);
        return s;
    }

    static void write_vfile(const char *path, const std::string &text) {
        pfile_rec *f = pfopen(path, "w");
        ASSERT_NE(f, nullptr) << path;
        pfwrite(text.data(), 1, int64_t(text.size()), f);
        pfclose(f);
    }
};

}  // namespace platform_test
