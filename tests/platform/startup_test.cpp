// Start-up and the boot sequence: the log lines in order, the boot file
// above the root's chunk, the root's library set, the expansion cartridge
// and the host data folder.
#include "api_functions.h"
#include "boot_fixture.h"
#include "lua.hpp"

namespace {

using namespace platform_test;

TEST_F(BootedMachine, StartUpLogsItsStepsInOrderAndBootsFromSysromDatBesideTheProgram) {
    write_file(root + "/sysrom.dat", sysrom_bytes({{"system/boot.lua", kYieldingKernel, false}}));
    std::string argv0 = root + "/quillmar", flag = "-x";
    char *argv[] = {argv0.data(), flag.data(), nullptr};
    config.headless = 0;
    quillmar_start(2, argv);
    EXPECT_EQ(config.headless, 1u);
    EXPECT_EQ(config.volume, 192u);
    EXPECT_EQ(dat_files, 2);

    const std::string log = log_text();
    const std::string appdata = home + "/.local/share/quillmar/exp/shared/";
    size_t at = 0;
    for (const std::string &line :
         {"load_quillmar_dat_files: sysrom.dat // from: " + root + "/sysrom.dat\n", std::string("booting quillmar "),
          std::string("build: "), "writing default config to " + appdata + "quillmar_config.txt\n",
          "mount: [/] [" + appdata + "drive]\n", std::string("creating process 1 [root] [root]\n"),
          std::string("anywhen init: ")}) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found + line.size();
    }
}

TEST_F(BootedMachine, TheBootFileRunsAsTheRootsFirstSliceWithTheRootsLibrarySet) {
    boot("booted = true coroutine.yield()");
    lua_State *L = root_process->lua_state;
    EXPECT_EQ(root_process->id, ROOT_PID);
    EXPECT_STREQ(root_process->name, "[root]");
    EXPECT_EQ(lua_type(L, -1), LUA_TFUNCTION) << "boot.lua waits above the root's own chunk";
    lua_getglobal(L, "load");
    EXPECT_EQ(lua_tocfunction(L, -1), luaB_load0) << "the second library set leaves the API's load";
    lua_pop(L, 1);

    system_frame();
    lua_getglobal(L, "booted");
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_pop(L, 1);
}

TEST_F(BootedMachine, AThirdBlockIsMountedAtRamExpcart) {
    std::string cart;
    ASSERT_TRUE(encode_kiv_rom({{"main.lua", "-- user program", false}}, 0, cart));
    std::string dat = sysrom_bytes({{"system/boot.lua", kYieldingKernel, false}});
    for (int shift = 24; shift >= 0; shift -= 8) dat.push_back(char((cart.size() >> shift) & 0xFF));
    dat += cart;
    free_dat_files();
    dat_files = sysrom_split_blocks(reinterpret_cast<const uint8_t *>(dat.data()), dat.size(), dat_file, 64);
    ASSERT_EQ(dat_files, 3);
    reset_app_state();
    EXPECT_EQ(app.has_expcart, 1u);
    EXPECT_EQ(vfile("/ram/expcart/main.lua"), "-- user program");
}

TEST_F(BootedMachine, WithTwoBlocksThereIsNoExpansionCartridge) {
    boot();
    EXPECT_EQ(app.has_expcart, 0u);
    EXPECT_EQ(pdisk_directory_exists("/ram/expcart", 1), 0);
}

TEST_F(BootedMachine, TheDataFolderBesideTheProgramIsMountedAtHostData) {
    fs::create_directories(root + "/data");
    write_file(root + "/data/x.txt", "from the host");
    boot();
    EXPECT_EQ(vfile("/host_data/x.txt"), "from the host");
}

TEST_F(BootedMachine, WithoutADataFolderThereIsNoHostDataMount) {
    boot();
    EXPECT_EQ(vfile("/host_data/x.txt"), "<missing>");
    EXPECT_EQ(pdisk_directory_exists("/host_data", 1), 0);
}

}  // namespace
