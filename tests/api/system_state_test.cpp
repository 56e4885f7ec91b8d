// time, stat and date: the clock, the plain codes, the codes over the input
// and mixer seams, and date's conversions and errors.
#include <cstdlib>
#include <ctime>

#include "../../src/platform/build_info.h"
#include "address_space.h"
#include "api_stat.h"
#include "pfile.h"
#include "seam_fakes.h"

using SystemState = SeamTest;

TEST_F(SystemState, TimeIsTheProcessClockAndMovesOnlyWhenTheProcessFlips) {
    process_rec *p = start(R"(
        out(rawequal(t, time), t(), time())
        flip() flip()
        out(t() > 0, t() * 60 == math.floor(t() * 60))
        local a = t()
        for i = 1, 3000000 do end  -- several frames without a flip
        out(a == t())
    )");
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 40; i++) frame();
    EXPECT_EQ(output(), (Lines{"3:true,0.0,0.0", "2:true,true", "1:true"}));
}

TEST_F(SystemState, PlainCodesReadTheirSourcesWithTheirTypes) {
    config.headless = 1;
    std::strcpy(config.stat_text, "status");
    app.frame_count = 77;
    app.gif_recording = 1;
    app.gif_frame_count = 7;
    app.audio_capturing = 1;
    app.idle = 0;
    app.audio_allowed_pid = 9;
    app.boot_done = 1;
    app.signal36_flag = 1;
    fake_host::set_boot_time(1234);
    process_rec *p = spawn("", "p", "/system/p.lua");
    ASSERT_NE(p, nullptr);
    p->flipped = 1;
    static uint8_t backing[100];
    map_page(p, 5, backing, 100);
    struct Case {
        const char *expr;
        std::string want;
    } cases[] = {
        {"stat(0) == stat(0), math.type(stat(0))", "true,integer"},
        {"stat(2), stat(4), stat(6), stat(9999), stat(-1)", "0,0,0,0,0"},
        {"stat(101), select('#', stat(101))", "nil,1"},
        {"stat(150) .. stat(151) .. stat(152) .. stat(153) .. '|'", "|"},
        {"math.type(stat(3)), stat(3) > 0", "integer,true"},
        {"stat(303), stat(307), stat(315), stat(316), stat(317)", "77,1,1,status,1"},
        {"stat(312, 0x5000), stat(312, 0x5FFF), stat(312, 0x200000), stat(312, -1), stat(312, 0x1000000)",
         "100,100,0,0,0"},
        {"stat(314), math.type(stat(314))", "3.1415926535898,float"},
        {"stat(320), stat(321), stat(322), stat(330)", "1,3,1,0"},
        {"stat(498), stat(499)", "9,-2"},
        {"stat(984), stat(985), stat(986), stat(987)", "1,1,1,1234"},
        {"math.type(stat(1)), math.type(stat(301)), math.type(stat(304))", "float,float,float"},
        {"math.type(stat(313)), math.type(stat(308)), math.type(stat(309))", "integer,integer,integer"},
        {"stat(4294967296 + 317), stat(7.9) == stat(7)", "1,true"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, c.expr), c.want) << c.expr;

    app.has_expcart = 1;
    EXPECT_EQ(eval(p, "stat(317)"), "3");
    app.gif_recording = 0;
    EXPECT_EQ(eval(p, "stat(320), stat(321)"), "0,0");
    EXPECT_EQ(eval(p, "stat(313)"), std::to_string(p->own_page_bytes));
    EXPECT_EQ(eval(p, "stat(308), stat(309)"),
              std::to_string(get_total_num_buffers()) + "," + std::to_string(get_total_buffer_allocation()));
    EXPECT_EQ(eval(p, "stat(310), stat(311)"), std::to_string(pdisk_count_slots_by_kind(2)) + "," +
                                                   std::to_string(pdisk_count_slots_by_kind(0)));
    unmap_page(p, 5);
}

TEST_F(SystemState, TheFrameRateIsSixtyUntilMeasuredAndHalvedAsAFloatWhileIdle) {
    process_rec *p = spawn("");
    p->fps = 0;
    EXPECT_EQ(eval(p, "stat(7), math.type(stat(7))"), "60,integer");
    p->fps = 20;
    EXPECT_EQ(eval(p, "stat(7)"), "20");
    app.idle = 1;
    p->fps = 0;
    EXPECT_EQ(eval(p, "stat(7), math.type(stat(7))"), "30.0,float");
}

TEST_F(SystemState, TheBuildCodesAgreeWithTheStartUpLogLines) {
    process_rec *p = spawn("");
    EXPECT_EQ(eval(p, "stat(5)"), std::to_string(QUILLMAR_BUILD_NUMBER) + "," + QUILLMAR_VERSION);
    EXPECT_EQ(eval(p, "select('#', stat(5)), math.type(stat(5))"), "2,integer");
    EXPECT_EQ(eval(p, "stat(306)"), QUILLMAR_BUILD);
}

TEST_F(SystemState, HostClockAndTimeZoneCodes) {
    process_rec *p = spawn("");
    // Between the host's clock read before and after, a second either side
    // for the clocks' different ticks, however long the call takes.
    const long long before = static_cast<long long>(std::time(nullptr));
    const long long got = std::stoll(eval(p, "stat(86)"));
    const long long after = static_cast<long long>(std::time(nullptr));
    EXPECT_GE(got, before - 1);
    EXPECT_LE(got, after + 1);
    const char *old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(eval(p, "stat(87)"), "0");
    setenv("TZ", "EST5", 1);
    EXPECT_EQ(eval(p, "stat(87)"), "18000");
    if (old) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST_F(SystemState, KeyCodesGoThroughTheInputSeam) {
    process_rec *p = spawn("");
    seam.key_name = nullptr;
    EXPECT_EQ(eval(p, "stat(302, 4) .. '|'"), "|");
    seam.key_name = "Left Ctrl";
    EXPECT_EQ(eval(p, "stat(302, 224)"), "Left Ctrl");
    EXPECT_EQ(eval(p, "stat(302, 600) .. '|', stat(302, -1) .. '|'"), "|,|");
    EXPECT_EQ(seam.key_name_calls, (std::vector<int32_t>{4, 224}));

    seam.any_key = 1;
    EXPECT_EQ(eval(p, "stat(305)"), "false");  // bit 4 of 0x547F clear
    poke_proc(p, 0x547F, 16);
    EXPECT_EQ(eval(p, "stat(305)"), "true");
    seam.any_key = 0;
    EXPECT_EQ(eval(p, "stat(305)"), "false");

    seam.key_down[224] = 1;
    EXPECT_EQ(eval(p, "stat(988)"), "0");
    seam.key_down[228] = 1;
    EXPECT_EQ(eval(p, "stat(988)"), "1");
    EXPECT_EQ(seam.pumps, 2);
}

class MixerCodes : public SeamTest {
  protected:
    process_rec *p = nullptr;
    void SetUp() override {
        SeamTest::SetUp();
        p = spawn("");
        fake_host::set_audio_op_start_result(0);
        app.audio_focus = p->id;
    }
    // The 16-bit values at b, b + 2, ... of p's memory.
    std::vector<int16_t> samples(uint32_t b, int n) {
        std::vector<int16_t> v;
        for (int k = 0; k < n; k++) v.push_back(peek2_proc(p, b + 2 * k));
        return v;
    }
};

TEST_F(MixerCodes, OnlyTheAudioFocusReachesTheMixer) {
    app.audio_focus = p->id + 1;
    EXPECT_EQ(eval(p, "stat(400, 0), stat(415, 3), stat(400, 19, 0x30000)"), "-1,-1,-1");
    EXPECT_EQ(seam.channel_calls, 0);
    EXPECT_EQ(fake_host::audio_op_start_calls(), 0);
}

TEST_F(MixerCodes, ChannelFieldsAreReadOncePerClockTickForAllChannels) {
    EXPECT_EQ(eval(p, "stat(400, 3), stat(402, 0)"), "10,207");  // the first read at clock 0
    EXPECT_EQ(seam.channel_calls, 16 * 19);
    EXPECT_EQ(seam.lock_level_seen, 1);
    EXPECT_EQ(eval(p, "stat(415, 15)"), "1522");
    EXPECT_EQ(seam.channel_calls, 16 * 19);
    p->clock++;
    seam.channel_field_value = 1000;
    EXPECT_EQ(eval(p, "stat(400, 3)"), "1003");
    EXPECT_EQ(seam.channel_calls, 2 * 16 * 19);
    EXPECT_EQ(eval(p, "stat(400, 16), stat(401, 17), stat(415, 18), stat(400, -1), stat(400, -100)"),
              "-1,-1,-1,-1,-1");
    EXPECT_EQ(seam.channel_calls, 2 * 16 * 19);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
}

TEST_F(MixerCodes, SampleFieldsCopyWhatTheMixerGaveUpToTheScratchSize) {
    seam.copied_count = 100;
    EXPECT_EQ(eval(p, "stat(400, 19, 0x30000)"), "100");
    auto v = samples(0x30000, 201);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[199], 200);
    EXPECT_EQ(v[200], 0);

    EXPECT_EQ(eval(p, "stat(401, 20, 0x40000)"), "100");
    v = samples(0x40000, 101);
    EXPECT_EQ(v[99], 100);
    EXPECT_EQ(v[100], 0);

    seam.copied_count = -1;
    EXPECT_EQ(eval(p, "stat(400, 19, 0x50000)"), "-1");
    EXPECT_EQ(samples(0x50000, 1)[0], 0);

    // 70,000 stereo frames are more than the scratch holds: only its 131,072 samples.
    seam.copied_count = 70000;
    EXPECT_EQ(eval(p, "stat(400, 19, 0x100000)"), "70000");
    v = samples(0x100000 + 2 * (AUDIO_DAT_SAMPLES - 1), 2);
    EXPECT_EQ(v[0], static_cast<int16_t>(AUDIO_DAT_SAMPLES));
    EXPECT_EQ(v[1], 0);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
}

TEST_F(MixerCodes, MaskOutputAndMusicCodes) {
    EXPECT_EQ(eval(p, "stat(464), stat(464)"), "5,5");
    EXPECT_EQ(seam.active_calls, 1);
    p->clock++;
    seam.active_mask = 0x8001;
    EXPECT_EQ(eval(p, "stat(464)"), "32769");
    EXPECT_EQ(seam.active_calls, 2);

    seam.copied_count = 0;
    EXPECT_EQ(eval(p, "stat(465, 0, 0x20000)"), "0");
    EXPECT_EQ(samples(0x20000, 1)[0], 0);
    seam.copied_count = 3;
    EXPECT_EQ(eval(p, "stat(465, 0, 0x20000)"), "3");
    EXPECT_EQ(samples(0x20000, 7), (std::vector<int16_t>{1, 2, 3, 4, 5, 6, 0}));

    EXPECT_EQ(eval(p, "stat(466), stat(467), math.type(stat(466))"), "12,3,integer");
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
}

TEST_F(MixerCodes, ARefusedBracketGivesMinusOneAndChangesNothing) {
    fake_host::set_audio_op_start_result(1);
    for (const char *expr : {"stat(400, 0)", "stat(400, 19, 0x30000)", "stat(464)", "stat(465, 0, 0x30000)",
                             "stat(466)", "stat(467)"})
        EXPECT_EQ(eval(p, expr), "-1") << expr;
    EXPECT_EQ(seam.channel_calls + seam.active_calls + seam.music_calls, 0);
    EXPECT_EQ(p->channel_cache_stamp, 0u);
    EXPECT_EQ(p->active_channels_stamp, 0u);
    EXPECT_EQ(p->channel_cache[0][0], 0u);
    EXPECT_EQ(fake_host::audio_lock_level(), 0);
}

using Date = SeamTest;

TEST_F(Date, FormatsTablesAndDateTexts) {
    process_rec *p = spawn("");
    const char *old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        const char *expr;
        const char *want;
    } cases[] = {
        {"date(nil, '2024-04-01 00:00:00', 86400)", "2024-04-02 00:00:00"},
        {"date('!%Ey %d|%%', '2024-04-01 13:14:15')", "24 01|%"},
        {"date('%H:%M', '2024-04-01 13:14:15')", "13:14"},
        {"date('!%Y', 0), date('!%Y', 86400 * 366)", "1970,1971"},
        {"date('!%Y-%m-%d', '2024-02-30 00:00:00')", "2024-03-01"},
        {"date('!%Y', '2024-04-01 00:00:00 and more')", "2024"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, c.expr), c.want) << c.expr;

    for (const char *fmt : {"!*t", "*t"}) {
        const std::string expr = std::string("(function() local d = date('") + fmt +
                                 "', '2024-04-01 12:34:56') return d.year, d.month, d.day, d.hour, "
                                 "d.min, d.sec, d.yday, d.wday, d.isdst, math.type(d.year) end)()";
        EXPECT_EQ(eval(p, expr), "2024,4,1,12,34,56,92,2,false,integer") << fmt;
    }
    const std::string long_format(300, 'x');
    EXPECT_EQ(eval(p, "date('" + long_format + "')"), long_format);
    if (old) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST_F(Date, NoArgumentsGiveTheCurrentUtcTime) {
    process_rec *p = spawn("");
    const time_t before = std::time(nullptr);
    const std::string got = eval(p, "date()");
    const time_t after = std::time(nullptr);
    bool near = false;
    for (time_t t = before - 1; t <= after + 1; t++) {
        char text[32];
        struct tm tm;
        gmtime_r(&t, &tm);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        near = near || got == text;
    }
    EXPECT_TRUE(near) << got;
}

TEST_F(Date, BadArgumentsRaiseTheExactErrors) {
    process_rec *p = spawn("");
    struct Case {
        const char *call;
        const char *message;
    } cases[] = {
        {"date('%Q')", "bad argument #1 to 'date' (invalid conversion specifier '%Q')"},
        {"date('a %Q b')", "bad argument #1 to 'date' (invalid conversion specifier '%Q b')"},
        {"date('abc%')", "bad argument #1 to 'date' (invalid conversion specifier '%')"},
        {"date('%E')", "bad argument #1 to 'date' (invalid conversion specifier '%E')"},
        {"date(nil, -1)", "time result cannot be represented in this installation"},
        {"date(nil, 1, -2)", "time result cannot be represented in this installation"},
        {"date(nil, 1.5)", "bad argument #2 to 'date' (number has no integer representation)"},
        {"date(nil, {})", "bad argument #2 to 'date' (number expected, got table)"},
        {"date(nil, '2024-04-01')", "bad argument #2 to 'date' (date text shorter than 19 characters)"},
        {"date(nil, math.maxinteger, 1)", "time result cannot be represented in this installation"},
        {"date('!%Y', 2^62)", "date result cannot be represented in this installation"},
        // The first second of a year past 2^31 - 1 used to give year -2147481749.
        {"date('!*t', 67767976233532800)", "date result cannot be represented in this installation"},
        {"date(nil, 0, 1.5)", "bad argument #3 to 'date' (number has no integer representation)"},
        {"date({})", "bad argument #1 to 'date' (string expected, got table)"},
    };
    for (const Case &c : cases) {
        const std::string call = c.call;
        const std::string expr = "select(2, pcall(date, " + call.substr(5, call.size() - 6) + "))";
        EXPECT_EQ(eval(p, expr), c.message) << c.call;
    }
}
