// _signal's exit, reboot and exclusive-run requests, and _printh's output.
#include "api_fixture.h"

using HostRequests = ApiTest;

TEST_F(HostRequests, SignalsSetTheExitRebootAndExclusiveRequestsAndOtherCodesNothing) {
    struct Case {
        const char *calls;
        uint32_t exit_requested;
        uint32_t reboot_requested;
        bool exclusive_is_caller;
    } cases[] = {
        {"_signal(33)", 1, 0, false},
        {"_signal(34)", 0, 1, false},
        {"_signal(40)", 0, 0, true},
        {"_signal(40) _signal(41)", 0, 0, false},
        {"_signal(33.9) _signal('34')", 1, 1, false},
        {"_signal(0) _signal(17) _signal(42) _signal(66) _signal(-1) _signal() _signal({})", 0, 0,
         false},
    };
    for (const Case &c : cases) {
        app.exit_requested = app.reboot_requested = 0;
        app.exclusive_pid = 0;
        process_rec *p = spawn(c.calls);
        const int64_t id = p->id;
        run_process_slice(p, 1.0);
        EXPECT_EQ(app.exit_requested, c.exit_requested) << c.calls;
        EXPECT_EQ(app.reboot_requested, c.reboot_requested) << c.calls;
        EXPECT_EQ(app.exclusive_pid, c.exclusive_is_caller ? static_cast<uint64_t>(id) : 0u)
            << c.calls;
    }
}

TEST_F(HostRequests, PrinthWritesStringsAndNumbersAsLinesUpToAZeroByte) {
    process_rec *p = start(R"(
        _printh("hi") _printh(12) _printh(1.5) _printh({}) _printh() _printh(true)
        _printh("a\0b") _printh("")
        out(select('#', _printh("x")))
    )");
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{"hi", "12", "1.5", "a", "", "x", "1:0"}));
}
