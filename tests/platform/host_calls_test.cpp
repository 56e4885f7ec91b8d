// The four host calls: the clipboard through the fake SDL, and opening
// host paths against a stub xdg-open.
#include <chrono>
#include <thread>

#include "fake_sdl_fixture.h"
#include "host.h"
#include "host_open.h"
#include "lua.hpp"
#include "pdisk.h"
#include "vm_hooks.h"

namespace {

using namespace platform_test;

class HostCalls : public FakeSdlTest {
protected:
    void SetUp() override {
        FakeSdlTest::SetUp();
        L = luaL_newstate();
        luaL_openlibs(L);
        os_add_public_c_functions(L);
    }
    void TearDown() override {
        lua_close(L);
        FakeSdlTest::TearDown();
    }
    // Runs 'code'; its one result as a string ("<nil>" for none).
    std::string run(const std::string &code) {
        lua_settop(L, 0);
        if (luaL_loadstring(L, code.c_str()) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK)
            return std::string("<error> ") + lua_tostring(L, -1);
        size_t n = 0;
        const char *s = lua_tolstring(L, -1, &n);
        return s ? std::string(s, n) : "<nil>";
    }
    lua_State *L = nullptr;
};

TEST_F(HostCalls, TheFourGlobalsExist) {
    for (const char *name :
         {"_req_host_clipboard_text", "_get_host_clipboard_text", "_set_host_clipboard_text", "_open_host_path"})
        EXPECT_EQ(run(std::string("return type(") + name + ")"), "function") << name;
    EXPECT_EQ(run("return _req_host_clipboard_text()"), "<nil>");
}

TEST_F(HostCalls, TheClipboardRoundTripsZensciiText) {
    EXPECT_EQ(run("return _get_host_clipboard_text()"), "");
    lua_pushlstring(L, "hi \x80\x81\x9f~", 8);
    lua_setglobal(L, "t");
    run("_set_host_clipboard_text(t)");
    EXPECT_NE(FakeSdl::clipboard, "hi \x80\x81\x9f~");  // UTF-8 on the host
    EXPECT_EQ(run("return _get_host_clipboard_text()"), "hi \x80\x81\x9f~");
    run("_set_host_clipboard_text(12.5)");
    EXPECT_EQ(FakeSdl::clipboard, "12.5");
    run("_set_host_clipboard_text({})");
    run("_set_host_clipboard_text()");
    EXPECT_EQ(FakeSdl::clipboard, "12.5");
    run("s = string.rep('\\x80', 4096)");
    cpu_cycles = 0;
    run("_set_host_clipboard_text(s)");
    EXPECT_GE(cpu_cycles, 4096) << "a cycle a byte converted to the host's encoding";
    EXPECT_EQ(FakeSdl::freed, 2);  // SDL's text released after both reads
}

class OpenHostPath : public HostCalls {
protected:
    void SetUp() override {
        HostCalls::SetUp();
        bin = root + "/bin";
        record = root + "/argv";
        fs::create_directories(bin);
        fs::create_directories(root + "/hostdir");
        write_file(root + "/hostdir/f.txt", "x");
        write_file(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record + "'\n");
        fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
        const char *path = getenv("PATH");
        setenv("PATH", (bin + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
        pfile_init();
        mount_ram_folder("/ram");
        mount_host_path("/h", (root + "/hostdir").c_str());
    }
    void TearDown() override {
        pdisk_shutdown();
        HostCalls::TearDown();
    }
    std::string opened() {
        for (int i = 0; i < 1000 && reap_host_openers() > 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(record) ? read_file(record) : "";
    }
    std::string bin, record;
};

TEST_F(OpenHostPath, OnlyHostFilesAndHttpsAddressesOpen) {
    run("_open_host_path('/ram/x.txt')");
    run("_open_host_path('http://x')");
    run("_open_host_path('/nowhere/at/all')");
    run("_open_host_path({})");
    run("_open_host_path('/h/f.txt\\0z')");
    EXPECT_EQ(opened(), "");
    cpu_cycles = 0;
    run("_open_host_path('/h/f.txt')");
    EXPECT_GE(cpu_cycles, 131072) << "a host program started is charged";
    EXPECT_EQ(opened(), root + "/hostdir/f.txt\n");
    run("_open_host_path('https://a b\"')");
    EXPECT_EQ(opened(), root + "/hostdir/f.txt\nhttps://a%20b%22\n");
}

}  // namespace
