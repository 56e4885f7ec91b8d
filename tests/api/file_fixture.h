// FileApiTest: ApiTest over a fresh file system: "/" mounted on the host
// folder "drive" of a temporary folder, "/ram" in RAM, the application-data
// folder (-home) in "appdata" beside it, the working folder read from the
// running process. Processes get pids from 4 on. run() runs a snippet to its end in a new process with
// two test globals:
//   t_ud(a)                 "<type> <w>x<h>:<hex of the elements>" of a typed array
//   t_new_ud(type, w, h, s) a 2-dimensional array of type code 'type', its
//                           elements copied from the bytes of 's'
// and the 64 distinct colours of palette_colour() as its RGB palette.
#pragma once

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "api_fixture.h"
#include "env.h"
#include "listing.h"
#include "pfile.h"
#include "pmount.h"
#include "typed_ud.h"

// Entry i of the RGB palette every run() process gets: 64 distinct colours.
inline uint32_t palette_colour(int i) {
    return static_cast<uint32_t>(i * 4) << 16 | static_cast<uint32_t>(255 - i * 4) << 8 |
           static_cast<uint32_t>(i * 37 & 255);
}

class FileApiTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        skip_to_pid(FIRST_USER_PID);  // a failing snippet must not be the kernel
        char tmpl[] = "/tmp/api_files_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        drive = root + "/drive";
        appdata = root + "/appdata/";
        std::filesystem::create_directories(drive);
        std::filesystem::create_directories(appdata);
        std::snprintf(config.home_path, sizeof config.home_path, "%s", appdata.c_str());
        pdisk_set_pwd_source(process_pwd);
        pdisk_set_appdata_folder(appdata);
        pfile_init();
        pfile_reset();
        mount_ram_folder("/ram");
        mount_host_path("/", (drive + "/").c_str());
    }

    void TearDown() override {
        ApiTest::TearDown();
        pdisk_shutdown();
        pdisk_set_pwd_source(nullptr);
        pdisk_use_host_clocks();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

    // Runs 'code' (with out()) in a new process for one slice of a fresh
    // frame; 'argument' makes it sandboxed. Returns the cycles it used.
    uint32_t run(const std::string &code, const std::string &argument = "") {
        process_rec *p = create_process_from_code(with_prelude(code).c_str(), "p", "/t/p.lua",
                                                  argument.c_str());
        EXPECT_NE(p, nullptr) << code;
        if (!p) return 0;
        define(p, "t_ud", t_ud);
        define(p, "t_new_ud", t_new_ud);
        for (int i = 0; i < 64; i++) poke4_proc(p, 0x5000 + 4 * i, palette_colour(i));
        prepare_processes_for_frame();  // a whole frame's budget for each run
        return run_process_slice(p, 1.0);
    }

    std::string host(const std::string &rel) const { return drive + "/" + rel; }

    static void write_file(const std::string &path, const std::string &bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    static std::optional<std::string> read_file(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void put_host(const std::string &rel, const std::string &bytes) const { write_file(host(rel), bytes); }
    std::optional<std::string> get_host(const std::string &rel) const { return read_file(host(rel)); }

    std::string root, drive, appdata;

  private:
    static const char *process_pwd() { return cproc ? cproc->pwd : "/"; }

    static int t_ud(lua_State *L) {
        typed_ud_rec *ud = to_typed_ud(L, 1);
        if (!ud) return 0;
        static const char digits[] = "0123456789abcdef";
        luaL_Buffer b;
        luaL_buffinit(L, &b);
        lua_pushfstring(L, "%s %dx%d:", get_utype_string(ud_type(ud)), static_cast<int>(ud->width),
                        static_cast<int>(ud->height));
        luaL_addvalue(&b);
        const uint64_t n = ud_count(ud) * utype_size(ud_type(ud));
        for (uint64_t i = 0; i < n; i++) {
            luaL_addchar(&b, digits[ud_elements(ud)[i] >> 4]);
            luaL_addchar(&b, digits[ud_elements(ud)[i] & 15]);
        }
        luaL_pushresult(&b);
        return 1;
    }

    static int t_new_ud(lua_State *L) {
        size_t len = 0;
        const char *bytes = lua_tolstring(L, 4, &len);
        typed_ud_rec *ud = create_userdata_shaped(L, static_cast<int>(lua_tointeger(L, 1)), 2,
                                                  static_cast<uint32_t>(lua_tointeger(L, 2)),
                                                  static_cast<uint32_t>(lua_tointeger(L, 3)), 1);
        if (!ud) return 0;
        const uint64_t n = ud_count(ud) * utype_size(ud_type(ud));
        if (bytes) std::memcpy(ud_elements(ud), bytes, len < n ? len : n);
        return 1;
    }
};
