// Files dropped on the host window, against the real file system: the RAM
// file and its name, the event to process 3, and no file slot left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "buffer.h"
#include "dropped_file.h"
#include "host.h"
#include "messages.h"
#include "process.h"
#include "vfs_fixture.h"

namespace {

const char *kEmptyNotice =
    "{event=\"user_notification\",content=\"** dropping folders (and size zero files) "
    "currently not supported **\"}";

std::string drop_event(const std::string &path) {
    return "{event=\"drop_items\",items={{pod_type=\"file_reference\",fullpath=\"" + path + "\"}}}";
}

class DroppedFile : public VfsTest {
   protected:
    void SetUp() override {
        VfsTest::SetUp();
        app = app_state_rec{};
        config = config_rec{};
        config.headless = 1;
        processes_init();
        for (int i = 0; i < 3; i++) create_process_from_code("", "p", "/t/p.lua", "");
        wm = get_process(WM_PID);
        ASSERT_NE(wm, nullptr);
        std::filesystem::create_directory(root + "/host");
    }

    void TearDown() override {
        processes_init();
        VfsTest::TearDown();
    }

    // A host file outside the mounted drive; returns its path.
    std::string host_file(const std::string &name, const std::string &bytes) const {
        std::string path = root + "/host/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::vector<std::string> wm_messages() {
        std::vector<std::string> out;
        while (buffer_rec *b = read_process_message(wm, nullptr)) out.emplace_back(to_cstr(b));
        return out;
    }

    process_rec *wm = nullptr;
};

TEST_F(DroppedFile, NamesBecomeLegalPathsUnderRamDrop) {
    struct Case {
        const char *host_name;  // the file's name on the host
        const char *ram_path;   // where it lands
    } cases[] = {
        {"My File (1).png", "/ram/drop/My_File__1_.png"},
        {"dos\\style\\name.txt", "/ram/drop/name.txt"},  // a backslash also ends a folder
        {"\xC3\xA9t\xC3\xA9.lua", "/ram/drop/__t__.lua"},
        {"a;b,c=d.p8", "/ram/drop/a_b_c_d.p8"},
    };
    for (const auto &c : cases) {
        std::string bytes = std::string("contents of ") + c.host_name;
        process_dropped_file(host_file(c.host_name, bytes).c_str());
        EXPECT_EQ(get(c.ram_path), bytes) << c.host_name;
        EXPECT_EQ(wm_messages(), std::vector<std::string>{drop_event(c.ram_path)}) << c.host_name;
    }
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_HOST), 0);
}

TEST_F(DroppedFile, DroppingTheSameNameAgainReplacesTheFileInItsSlot) {
    std::string path = host_file("x.bin", std::string("first\0one", 9));
    process_dropped_file(path.c_str());
    const int32_t free_after_first = pdisk_count_slots_by_kind(PFILE_FREE);
    host_file("x.bin", "second");
    process_dropped_file(path.c_str());
    EXPECT_EQ(get("/ram/drop/x.bin"), "second");
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_FREE), free_after_first);
    EXPECT_EQ(wm_messages(), (std::vector<std::string>{drop_event("/ram/drop/x.bin"),
                                                       drop_event("/ram/drop/x.bin")}));
}

TEST_F(DroppedFile, WhatCannotBeStoredTakesNoSlotAndSendsAtMostTheNotice) {
    // The longest host name; as a path segment the file system drops it.
    const std::string long_path = host_file(std::string(255, 'n'), "data");
    ASSERT_TRUE(std::filesystem::exists(long_path));
    struct Case {
        const char *what;
        std::string path;
        std::vector<std::string> messages;
    } cases[] = {
        {"an empty file", host_file("empty.txt", ""), {kEmptyNotice}},
        {"a folder", root + "/host", {kEmptyNotice}},
        {"a missing file", root + "/host/missing.txt", {}},
        {"a refused destination", long_path, {}},
    };
    for (const auto &c : cases) {
        const int32_t free_before = pdisk_count_slots_by_kind(PFILE_FREE);
        const int32_t buffers_before = get_buffer_group_count('u');
        process_dropped_file(c.path.c_str());
        EXPECT_EQ(wm_messages(), c.messages) << c.what;
        EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_FREE), free_before) << c.what;
        EXPECT_EQ(get_buffer_group_count('u'), buffers_before) << c.what << ": the read is freed";
    }
    EXPECT_FALSE(pdisk_file_exists("/ram/drop/empty.txt"));
    EXPECT_FALSE(pdisk_file_exists("/ram/drop")) << "the long name must not land on the folder";
    EXPECT_EQ(pdisk_count_slots_by_kind(PFILE_HOST), 0);
}

TEST_F(DroppedFile, WithoutAWindowManagerTheFileIsStillStored) {
    kill_process_by_id(WM_PID);
    process_dropped_file(host_file("quiet.txt", "q").c_str());
    EXPECT_EQ(get("/ram/drop/quiet.txt"), "q");
}

}  // namespace
