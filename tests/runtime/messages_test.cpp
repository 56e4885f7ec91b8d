// Inboxes: order, the cap, reads into a given buffer, compaction, and the
// error and notification events.
#include <deque>
#include <random>

#include "runtime_fixture.h"

using Messages = RuntimeTest;

TEST_F(Messages, TextsArriveInOrderEachWithItsNul) {
    process_rec *p = spawn("", "p");
    EXPECT_EQ(send_process_message_string(p, "a"), 2);
    EXPECT_EQ(send_process_message_string(p, "bc"), 3);
    ASSERT_EQ(inbox_unread_bytes(p), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(p->message_queue->data), 5),
              std::string("a\0bc\0", 5));
    buffer_rec *r = read_process_message(p, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(to_cstr(r), "a");
    EXPECT_STREQ(to_cstr(read_process_message(p, nullptr)), "bc");
    EXPECT_EQ(read_process_message(p, nullptr), nullptr);
    EXPECT_EQ(inbox_unread_bytes(p), 0);
}

TEST_F(Messages, AReadWritesAtTheCursorOfTheGivenBuffer) {
    process_rec *p = spawn("", "p");
    send_process_message_string(p, "hello");
    buffer_rec *out = create_buffer_from_str("XY");
    EXPECT_EQ(read_process_message(p, out), out);
    EXPECT_EQ(out->length, 8);
    EXPECT_EQ(out->cursor, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out->data), 8), std::string("XYhello\0", 8));
    destroy_buffer(out);
}

TEST_F(Messages, ABufferMessageStopsAtItsFirstNul) {
    process_rec *p = spawn("", "p");
    buffer_rec *b = create_buffer_2(16, 'r');
    bwrite("ab\0cd", 1, 5, b);
    EXPECT_EQ(send_process_message(p, b), 3);
    bclear(b);
    bwrite("xyz", 1, 3, b);
    EXPECT_EQ(send_process_message(p, b), 4);
    EXPECT_EQ(drain(p), (std::vector<std::string>{"ab", "xyz"}));
    EXPECT_EQ(send_process_message(nullptr, b), 0);
    EXPECT_EQ(send_process_message(p, nullptr), 0);
    EXPECT_EQ(send_process_message_string(nullptr, "x"), 0);
    EXPECT_EQ(read_process_message(nullptr, nullptr), nullptr);
    destroy_buffer(b);
}

TEST_F(Messages, AnInboxTakesMessagesWhileItHoldsAtMost16MB) {
    process_rec *p = spawn("", "p");
    struct Case {
        int64_t unread;  // bytes already waiting
        bool takes_more;
    } cases[] = {{0x1000000, true}, {0x1000001, false}};
    for (const auto &c : cases) {
        drain(p);
        std::string fill(static_cast<size_t>(c.unread - 1), 'f');
        ASSERT_EQ(send_process_message_string(p, fill.c_str()), c.unread);
        ASSERT_EQ(inbox_unread_bytes(p), c.unread);
        EXPECT_EQ(send_process_message_string(p, "more") > 0, c.takes_more) << c.unread;
    }
}

TEST_F(Messages, SendsAndReadsInterleavedMatchAQueue) {
    process_rec *p = spawn("", "p");
    std::deque<std::string> model;
    std::mt19937 rng(99);
    for (int i = 0; i < 20000; i++) {
        if (rng() % 3 != 0) {
            std::string text(rng() % 300, static_cast<char>('a' + i % 26));
            text += std::to_string(i);
            ASSERT_EQ(send_process_message_string(p, text.c_str()), int32_t(text.size() + 1));
            model.push_back(text);
            // An append reclaims the read space once it passes half the inbox.
            ASSERT_LE(int64_t{p->message_read} * 2, int64_t{p->message_queue->length}) << i;
        } else {
            buffer_rec *r = read_process_message(p, nullptr);
            if (model.empty()) {
                ASSERT_EQ(r, nullptr);
            } else {
                ASSERT_NE(r, nullptr);
                ASSERT_EQ(std::string(to_cstr(r)), model.front()) << i;
                model.pop_front();
            }
        }
        int64_t waiting = 0;
        for (const auto &m : model) waiting += int64_t(m.size()) + 1;
        ASSERT_EQ(inbox_unread_bytes(p), waiting);
    }
}

TEST_F(Messages, ErrorReportsEscapeTheContentAndLogItRaw) {
    spawn("", "kernel");
    spawn("", "two");
    process_rec *wm = spawn("", "wm", "/system/wm.lua");
    fake_host::set_time(42);
    cproc = wm;
    struct Case {
        const char *text;
        std::string content;
        std::string logged;
    } cases[] = {
        {nullptr, "unknown error", "unknown error"},
        {"say \"hi\"\nnow \xE9", "say \\034hi\\034\\010now \\233", "say \"hi\"\nnow \xE9"},
        {"back\\slash", "back\\092slash", "back\\slash"},
    };
    for (const auto &c : cases) {
        fake_host::reset();
        fake_host::set_time(42);
        EXPECT_EQ(report_error(c.text), 0);
        auto msgs = drain(wm);
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0], "{event=\"report_error\",content=\"" + c.content +
                               "\",_from=3,_sent_t=42,_flags=1}");
        EXPECT_EQ(fake_host::log_text(), "SYSTEM ERROR: " + c.logged + "\n");
    }
}

TEST_F(Messages, ErrorReportsWithoutWindowManagerOrCurrentProcess) {
    process_rec *k = spawn("", "kernel");
    report_error("lost");
    EXPECT_EQ(fake_host::log_text().find("SYSTEM ERROR: lost\n") != std::string::npos, true);
    EXPECT_EQ(drain(k).size(), 0u);

    spawn("", "two");
    process_rec *wm = spawn("", "wm");
    cproc = nullptr;
    report_error("nobody");
    auto msgs = drain(wm);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0], "{event=\"report_error\",content=\"nobody\",_from=0,_sent_t=0,_flags=0}");
}

TEST_F(Messages, NotificationsGoToTheWindowManagerEscaped) {
    spawn("", "kernel");
    spawn("", "two");
    process_rec *wm = spawn("", "wm");
    EXPECT_EQ(notify("saved \"x\""), 0);
    auto msgs = drain(wm);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0], "{event=\"user_notification\",content=\"saved \\034x\\034\"}");
    EXPECT_TRUE(fake_host::log_text().find("saved") == std::string::npos) << "nothing logged";
}

TEST_F(Messages, ProcessesTalkThroughTheirInboxes) {
    process_rec *root = spawn(
        "t_send(2, 'ping') t_run(2, 0.5) local m = t_read() t_poke(0x30000, m == 'pong' and 1 or 2) "
        "while true do t_flip() end",
        "root");
    spawn("local m = t_read() if m == 'ping' then t_send(1, 'pong') end while true do t_flip() end",
          "echo");
    frame();
    EXPECT_EQ(peek_proc(root, 0x30000), 1);
}
