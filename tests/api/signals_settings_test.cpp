// _signal's codes, _apply_system_settings, the host window calls and the
// userland clipboard, over the recording seam.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "api_clipboard.h"
#include "env.h"
#include "pfile.h"
#include "pmount.h"
#include "seam_fakes.h"
#include "system_palette.h"

using Signals = SeamTest;

TEST_F(Signals, EachCodeChangesExactlyItsField) {
    fake_host::set_time(5000);
    struct Case {
        const char *calls;
        void (*expect)(app_state_rec &a, int64_t id);
    } cases[] = {
        {"_signal(15)", [](app_state_rec &a, int64_t id) { a.audio_allowed_pid = id; }},
        {"_signal(22)", [](app_state_rec &a, int64_t) { a.last_input_t = 5000; }},
        {"_signal(35)", [](app_state_rec &a, int64_t) { a.boot_alt_colours = 1; }},
        {"_signal(36)", [](app_state_rec &a, int64_t) { a.signal36_flag = 1; }},
        {"_signal(4294967296 + 36)", [](app_state_rec &a, int64_t) { a.signal36_flag = 1; }},
        {"_signal(37)", [](app_state_rec &a, int64_t) { a.boot_release = 1; }},
        {"_signal(0) _signal(17) _signal(42) _signal(66) _signal(23) _signal(38) _signal(43)",
         [](app_state_rec &, int64_t) {}},
    };
    for (const Case &c : cases) {
        app = app_state_rec{};
        app.audio_focus = -2;
        app.audio_synced_pid = -3;
        app_state_rec want = app;
        process_rec *p = spawn(c.calls);
        ASSERT_NE(p, nullptr);
        c.expect(want, p->id);
        run_process_slice(p, 1.0);
        EXPECT_EQ(std::memcmp(&app, &want, sizeof app), 0) << c.calls;
    }
    process_rec *p = spawn("");
    EXPECT_EQ(eval(p, "stat(986)"), "0");
    EXPECT_EQ(eval(p, "_signal(36), stat(986)"), "nil,1");
}

TEST_F(Signals, ProcessCodesClearButtonsSetTheBaselineOnceAndBoost) {
    process_rec *p = spawn("");
    p->buttons[2][5] = 200;
    p->buttons_prev[2][5] = 100;
    eval(p, "_signal(23)");
    EXPECT_EQ(p->buttons[2][5], 0);
    EXPECT_EQ(p->buttons_prev[2][5], 100);
    for (uint8_t f : p->buttons_released) EXPECT_EQ(f, 1);

    eval(p, "garbage = {} for i = 1, 2000 do garbage[i] = {i} end garbage = nil");
    const uint64_t before = p->lua_bytes;
    eval(p, "_signal(38)");
    const uint64_t baseline = p->memory_baseline;
    EXPECT_GT(baseline, 0u);
    EXPECT_LT(baseline, before);  // the garbage was collected first
    eval(p, "keep = {} for i = 1, 2000 do keep[i] = {i} end _signal(38)");
    EXPECT_EQ(p->memory_baseline, baseline);

    eval(p, "_signal(43)");
    EXPECT_EQ(p->high_priority, 1u);
    eval(p, "_signal(44)");
    EXPECT_EQ(p->high_priority, 0u);
}

TEST_F(Signals, CaptureCodesGoThroughTheCaptureSeam) {
    process_rec *p = spawn("");
    eval(p, "_signal(16)");
    EXPECT_EQ(seam.capture_starts, 1);
    EXPECT_EQ(app.audio_capturing, 1u);
    eval(p, "_signal(16)");
    EXPECT_EQ(seam.capture_ends, 1);
    EXPECT_EQ(app.audio_capturing, 0u);

    eval(p, "_signal(19)");
    EXPECT_EQ(seam.gif_ends, 0);  // nothing recording
    app.gif_frame_count = 9;
    seam.gif_start_result = 1;
    eval(p, "_signal(18)");
    EXPECT_EQ(app.gif_recording, 0u);
    EXPECT_EQ(app.gif_frame_count, 9u);
    seam.gif_start_result = 0;
    eval(p, "_signal(18)");
    EXPECT_EQ(app.gif_recording, 1u);
    EXPECT_EQ(app.gif_frame_count, 0u);
    EXPECT_EQ(seam.gif_starts, 2);
    eval(p, "_signal(19)");
    EXPECT_EQ(seam.gif_ends, 1);
    EXPECT_EQ(app.gif_recording, 0u);

    eval(p, "_signal(21)");
    EXPECT_EQ(seam.screenshots, 1);
    EXPECT_EQ(app.screenshot_requested, 1u);
}

// _signal(65) over a file system with a temporary HOME and no other desktop hint.
class DesktopMount : public SeamTest {
  protected:
    std::string home;
    std::vector<std::pair<std::string, std::string>> saved;

    void SetUp() override {
        SeamTest::SetUp();
        for (const char *v : {"HOME", "XDG_DESKTOP_DIR", "XDG_CONFIG_HOME"}) {
            const char *old = std::getenv(v);
            saved.emplace_back(v, old ? old : std::string("\x01"));
        }
        char tmpl[] = "/tmp/api_desktop_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home = tmpl;
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_DESKTOP_DIR");
        unsetenv("XDG_CONFIG_HOME");
        config.desktop_path[0] = '\0';
        pfile_init();
        pfile_reset();
        mount_ram_folder("/ram");
    }
    void TearDown() override {
        pfile_reset();
        for (auto &[name, value] : saved) {
            if (value == "\x01") unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
        SeamTest::TearDown();
    }
    int desktop_mounts() {
        int n = 0;
        for (int i = 0; i < pmounts; i++)
            if (get_mount_description("/desktop/host")) n++;
        return n ? 1 : 0;
    }
};

TEST_F(DesktopMount, MountsTheDesktopFolderOnceAndListsItsFiles) {
    skip_to_pid(4);
    process_rec *wm = get_process(3);
    (void)wm;
    process_rec *p = spawn("");
    const int before = pmounts;
    eval(p, "_signal(65)");
    const std::string folder = home + "/Desktop/quillmar_desktop";
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(pmounts, before + 1);
    std::ofstream(folder + "/note.txt") << "hello";
    EXPECT_EQ(eval(p, "ls('/desktop/host')[1]"), "note.txt");
    eval(p, "_signal(65) _signal(65)");
    EXPECT_EQ(pmounts, before + 1);
}

TEST_F(DesktopMount, WithoutAnyDesktopTheWindowManagerIsToldAndNothingIsMounted) {
    unsetenv("HOME");
    skip_to_pid(3);
    process_rec *wm = spawn("", "wm");
    ASSERT_EQ(wm->id, 3);
    process_rec *p = spawn("");
    const int before = pmounts;
    eval(p, "_signal(65)");
    EXPECT_EQ(pmounts, before);
    const auto messages = drain(wm);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("could not mount desktop"), std::string::npos) << messages[0];
    EXPECT_EQ(get_mount_description("/desktop/host"), nullptr);
}

using Settings = SeamTest;

TEST_F(Settings, StringKeysAreConvertedSaturatedAndAppliedOnce) {
    process_rec *p = spawn("");
    eval(p, "_apply_system_settings({volume = 128, fullscreen = false, pixel_scale = 1.5, [1] = 5, "
            "mute_audio = true, ['a\\0b'] = 3, x = 'str', big = 2^40, small = -2^40})");
    std::map<std::string, int32_t> got(seam.settings.begin(), seam.settings.end());
    EXPECT_EQ(got, (std::map<std::string, int32_t>{{"volume", 128},
                                                    {"fullscreen", 0},
                                                    {"pixel_scale", 0},
                                                    {"mute_audio", 1},
                                                    {"x", 0},
                                                    {"big", INT32_MAX},
                                                    {"small", INT32_MIN}}));
    EXPECT_EQ(seam.settings_applied, 1);
}

TEST_F(Settings, ANonTablePrintsTheFailureLineAndAppliesNothing) {
    process_rec *p = start("_apply_system_settings('x') _apply_system_settings()");
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"** lua54__apply_system_settings failed; not a table",
                               "** lua54__apply_system_settings failed; not a table"}));
    EXPECT_EQ(seam.settings_applied, 0);
}

TEST_F(Settings, TheRealSettingsStoreClampsAHugeVolume) {
    api_host_reset();
    process_rec *p = spawn("");
    eval(p, "_apply_system_settings({volume = 2^40})");
    EXPECT_EQ(config.volume, 256u);
    eval(p, "_apply_system_settings({volume = 100.5, swap_stereo = 7})");
    EXPECT_EQ(config.volume, 0u);
    EXPECT_EQ(config.swap_stereo, 1u);
}

using HostWindow = SeamTest;

TEST_F(HostWindow, WarpIconAndTitleCalls) {
    process_rec *p = spawn("");
    eval(p, "_warp_mouse(3.7, -2) _warp_mouse() _warp_mouse(4294967296 + 5, '7')");
    EXPECT_EQ(seam.warps, (std::vector<std::pair<int32_t, int32_t>>{{3, -2}, {0, 0}, {5, 7}}));

    eval(p, "local s = {} for i = 0, 255 do s[#s + 1] = string.format('%02x', i % 64) end "
            "local u = userdata('u8', 16, 16, table.concat(s)) "
            "_set_host_window_icon(u) "
            "_set_host_window_icon(userdata('u8', 8, 8)) _set_host_window_icon(userdata('i16', 16, 16)) "
            "_set_host_window_icon(nil) _set_host_window_icon(5)");
    ASSERT_EQ(seam.icons.size(), 3u);
    ASSERT_TRUE(seam.icons[0].has_pixels);
    for (int i = 0; i < 256; i++) ASSERT_EQ(seam.icons[0].pixels[i], i % 64) << i;
    EXPECT_EQ(seam.icons[0].palette, std::vector<uint32_t>(system_palette, system_palette + 64));
    EXPECT_EQ(seam.icons[0].palette[1], 0x1d2b53u);
    EXPECT_EQ(seam.icons[0].palette[31], 0xff8557u);
    EXPECT_EQ(seam.icons[0].palette[32], 0u);
    EXPECT_EQ(seam.icons[0].width, 16);
    EXPECT_FALSE(seam.icons[1].has_pixels);
    EXPECT_FALSE(seam.icons[2].has_pixels);
    EXPECT_TRUE(seam.icons[1].palette.empty());

    eval(p, "_set_host_window_title('abc') _set_host_window_title() _set_host_window_title({}) "
            "_set_host_window_title('a\\0b') _set_host_window_title(12)");
    EXPECT_EQ(seam.titles, (std::vector<std::string>{"abc", "a", "12"}));
}

using Clipboard = SeamTest;

TEST_F(Clipboard, OneTextSharedByEveryProcessCutAtItsFirstZeroByte) {
    set_userland_clipboard_text("");
    process_rec *a = spawn("");
    process_rec *b = spawn("");
    EXPECT_EQ(eval(a, "_get_userland_clipboard_text()"), "");
    eval(a, "_set_userland_clipboard_text('abc')");
    EXPECT_EQ(eval(b, "_get_userland_clipboard_text()"), "abc");
    eval(b, "_set_userland_clipboard_text() _set_userland_clipboard_text({})");
    EXPECT_EQ(eval(a, "_get_userland_clipboard_text()"), "abc");
    eval(b, "_set_userland_clipboard_text('x\\0y')");
    EXPECT_EQ(eval(a, "#_get_userland_clipboard_text()"), "1");
    eval(a, "_set_userland_clipboard_text(string.rep('q', 1 << 20))");
    kill_process(a);
    EXPECT_EQ(eval(b, "_get_userland_clipboard_text() == string.rep('q', 1 << 20)"), "true");
    EXPECT_EQ(std::strlen(get_userland_clipboard_text()), 1u << 20);
    set_userland_clipboard_text("");
}
