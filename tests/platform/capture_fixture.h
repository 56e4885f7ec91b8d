// CaptureTest: a machine with processes 1 to 3 (process 3 the window
// manager, whose display the tests fill), the RAM folder /ram and a
// temporary host folder mounted at /desktop/host; the notifications process
// 3 received, decoded; and plain reference loops for the captured pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "address_space.h"
#include "app_state.h"
#include "boot_hooks.h"
#include "captures.h"
#include "host.h"
#include "messages.h"
#include "pdisk.h"
#include "process.h"

namespace capture_test {

namespace fs = std::filesystem;

// The display index at (x, y) of 'rec' by the access rule.
inline uint8_t display_byte(process_rec *rec, int x, int y) {
    const uint32_t a = 0x10000 + uint32_t(y * 480 + x);
    const uint32_t p = a >> 12, o = a & 4095;
    if (int32_t(o) < rec->page_len[p] && rec->page[p]) return rec->page[p][o];
    return rec->page_own[p] ? rec->page_own[p][o] : 0;
}

// The bank of display row y from rec's registers.
inline uint32_t row_bank(process_rec *rec, int y) {
    const uint32_t a = 0x5400 + uint32_t(y >> 2);
    const uint32_t p = a >> 12, o = a & 4095;
    const uint8_t v = rec->page_own[p] ? rec->page_own[p][o] : 0;
    return (v >> ((2 * y) & 6)) & 3;
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = app_state_rec{};
        config = config_rec{};
        config.headless = 1;
        processes_init();
        app.audio_focus = -2;
        app.audio_synced_pid = -3;
        char tmpl[] = "/tmp/quillmar_captures_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        desk = root + "/desk";
        appdata = root + "/appdata/";
        fs::create_directories(desk);
        fs::create_directories(appdata);
        pdisk_set_appdata_folder(appdata);
        pfile_init();
        pfile_reset();
        mount_ram_folder("/ram");
        mount_host_path("/desktop/host", desk.c_str());
        for (int i = 0; i < 3; i++) procs[i] = create_process_from_code("", "p", "/t/p.lua", "");
        ASSERT_EQ(procs[2]->id, 3);
        wm = procs[2];
        cproc = procs[0];
        ::testing::internal::CaptureStdout();
    }

    void TearDown() override {
        std::fputs(::testing::internal::GetCapturedStdout().c_str(), stderr);
        captures_reset();
        cproc = nullptr;
        processes_init();
        pdisk_shutdown();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Standard output since the last call.
    std::string stdout_text() {
        std::string s = ::testing::internal::GetCapturedStdout();
        ::testing::internal::CaptureStdout();
        return s;
    }

    // The texts of the notifications process 3 received since the last call.
    std::vector<std::string> notes() {
        std::vector<std::string> out;
        while (buffer_rec *b = read_process_message(wm, nullptr)) {
            std::string m = to_cstr(b);
            const std::string head = "{event=\"user_notification\",content=\"";
            if (m.rfind(head, 0) != 0) continue;
            std::string body = m.substr(head.size(), m.size() - head.size() - 2), text;
            for (size_t i = 0; i < body.size(); i++) {
                if (body[i] != '\\') {
                    text += body[i];
                    continue;
                }
                size_t j = i + 1;
                int v = 0;
                while (j < body.size() && j < i + 4 && isdigit(static_cast<unsigned char>(body[j])))
                    v = v * 10 + (body[j++] - '0');
                if (j == i + 1) {
                    text += body[++i] == 'n' ? '\n' : body[i];
                } else {
                    text += char(v);
                    i = j - 1;
                }
            }
            out.push_back(text);
        }
        return out;
    }

    // Writes a parameter block of i16 values at 'addr' of the running
    // process, and the name bytes (64, no NUL added) at 0x60.
    static void poke_params(uint32_t addr, const std::vector<int16_t> &values, const std::string &name) {
        for (size_t i = 0; i < values.size(); i++) poke2(addr + uint32_t(2 * i), values[i]);
        for (uint32_t i = 0; i < 64; i++) poke(0x60 + i, i < name.size() ? uint8_t(name[i]) : 0);
    }

    // A random display byte that is never colour 63 (which, in a bank-3
    // row, would turn a recording's transparency off).
    static uint8_t random_colour_byte(std::mt19937 &rng) {
        const uint8_t v = uint8_t(rng());
        return (v & 63) == 63 ? v ^ 1 : v;
    }

    // Fills process 3's display, banks and mode with seeded random values.
    void random_display(std::mt19937 &rng, uint8_t mode) {
        for (uint32_t a = 0; a < 129600; a++) poke_proc(wm, 0x10000 + a, random_colour_byte(rng));
        for (uint32_t a = 0; a < 68; a++) poke_proc(wm, 0x5400 + a, rng() & 0xFF);
        poke_proc(wm, 0x547C, mode);
    }

    std::string host_bytes(const std::string &rel) const {
        std::ifstream in(desk + "/" + rel, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Names in the desktop folder, sorted.
    std::vector<std::string> desk_names() const {
        std::vector<std::string> names;
        for (auto &e : fs::directory_iterator(desk)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string root, desk, appdata;
    process_rec *procs[3] = {};
    process_rec *wm = nullptr;
};

}  // namespace capture_test
