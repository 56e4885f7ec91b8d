// RuntimeTest: a process table emptied before and after each test, the fake
// host reset, user processes ungated (headless), and helpers to create
// processes and run whole frames the way the frame loop does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "address_space.h"
#include "buffer.h"
#include "fake_host.h"
#include "lua.hpp"
#include "messages.h"
#include "process.h"
#include "slice.h"
#include "vm_hooks.h"

class RuntimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_host::reset();
        app = app_state_rec{};
        config = config_rec{};
        processes_init();
        app.audio_focus = -2;
        app.audio_synced_pid = -3;
        config.headless = 1;
        total_frame_cycles = 0;
        total_frame_cycles_since_wm_flip = 0;
        cpu_cycles = 0;
        cpu_cycles_max = 0;
        cpu_superyielding = 0;
    }

    void TearDown() override {
        processes_init();
        EXPECT_EQ(fake_host::audio_lock_errors(), 0) << "an audio unlock went below 0";
    }

    // A new process running 'code'; null when it did not load.
    process_rec *spawn(const std::string &code, const std::string &name = "p",
                       const std::string &prog = "/t/p.lua") {
        return create_process_from_code(code.c_str(), name.c_str(), prog.c_str(), "");
    }

    // Processes until pid 'pid' exists, each a finished chunk, so that the
    // next spawn gets that pid.
    void skip_to_pid(int64_t pid) {
        while (process_id < pid) spawn("", "filler");
        for (int32_t i = num_processes - 1; i >= 0; i--)
            if (std::string(process[i]->name) == "filler") kill_process_by_index(i);
    }

    // One frame: start, the process in slot 0 for 'fraction' of the frame,
    // end; the audio lock must be released by then.
    void frame(double fraction = 1.0) {
        prepare_processes_for_frame();
        if (process_rec *root = get_process_by_index(0)) run_process_slice(root, fraction);
        update_processes_after_frame();
        app.frame_count++;
        EXPECT_EQ(fake_host::audio_lock_level(), 0) << "audio lock held after the frame";
    }

    // Registers a test-only global in rec's state (rec current meanwhile, as
    // the allocator requires).
    static void define(process_rec *rec, const char *name, lua_CFunction f) {
        remembered_process prev = remember_current_process();
        cproc = rec;
        lua_register(rec->lua_state, name, f);
        restore_current_process(prev);
    }

    // Pops every message of rec's inbox, oldest first.
    static std::vector<std::string> drain(process_rec *rec) {
        std::vector<std::string> out;
        while (buffer_rec *b = read_process_message(rec, nullptr)) out.emplace_back(to_cstr(b));
        return out;
    }
};
