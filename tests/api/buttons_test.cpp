// btn, btnp and _update_buttons over a scripted os_get_button_states.
#include "address_space.h"
#include "seam_fakes.h"

class Buttons : public SeamTest {
  protected:
    process_rec *p = nullptr;
    void SetUp() override {
        SeamTest::SetUp();
        p = spawn("");
    }
    void update(bool on = true) { eval(p, on ? "_update_buttons(true)" : "_update_buttons(false)"); }
    // The frames of 1..frames on which btnp(0) was true while button 0 was held throughout.
    std::vector<int> repeat_frames(int frames) {
        std::vector<int> hits;
        seam.buttons[0][0] = 255;
        for (int f = 1; f <= frames; f++) {
            update();
            if (eval(p, "btnp(0)") == "true") hits.push_back(f);
        }
        return hits;
    }
};

TEST_F(Buttons, BtnReadsStatesAndTheMask) {
    seam.buttons[7][7] = 9;
    seam.buttons[0][2] = 200;
    seam.buttons[1][12] = 77;
    update();
    EXPECT_EQ(eval(p, "btn() < 0, btn() & 0xFF, btn(-1) == btn(4294967295), btn() == btn(nil, 3)"),
              "true,4,true,true");
    EXPECT_EQ(eval(p, "btn() == ((1 << 63) | 4)"), "true");
    EXPECT_EQ(eval(p, "btn(2), btn(7, 7), btn(12, 1), btn(0), btn(0, 8), btn(16), btn(-2), btn(2, -1)"),
              "200,9,77,false,false,false,false,false");
    EXPECT_EQ(eval(p, "btn(2.9), btn('2')"), "200,200");
    // The player used to be cut to 32 bits: 2^32 read player 0.
    EXPECT_EQ(eval(p, "btn(2, 1 << 32), btnp(2, 1 << 32)"), "false,false");
}

TEST_F(Buttons, BtnpRepeatsAfterTheDelayAndThenEveryInterval) {
    EXPECT_EQ(repeat_frames(50), (std::vector<int>{1, 31, 39, 47}));
}

TEST_F(Buttons, TheRepeatRegistersChangeTheTiming) {
    struct Case {
        uint8_t delay, interval;
        int run;
        std::vector<int> frames;
    } cases[] = {
        {255, 0, 50, {1}},
        {0, 255, 50, {1, 31}},
        {5, 2, 16, {1, 6, 8, 10, 12, 14, 16}},
    };
    for (const Case &c : cases) {
        p = spawn("");
        poke_proc(p, 0x5F5C, c.delay);
        poke_proc(p, 0x5F5D, c.interval);
        EXPECT_EQ(repeat_frames(c.run), c.frames) << int(c.delay) << "/" << int(c.interval);
    }
}

TEST_F(Buttons, APressBtnpDidNotSeeCountsAtTheNextCallAndTheMaskLeavesCountersAlone) {
    seam.buttons[0][4] = 255;
    update();
    update();  // held, but btnp was not called on the press
    EXPECT_EQ(eval(p, "btnp(4), btnp(4)"), "true,false");
    EXPECT_EQ(p->btnp_counters[4], 7);

    seam.buttons[0][5] = 100;
    seam.buttons[0][6] = 63;  // below the pressed threshold
    update();
    EXPECT_EQ(eval(p, "btnp(), btnp(-1) == btnp(4294967295)"), "32,true");
    EXPECT_EQ(p->btnp_counters[5], 0);
    EXPECT_EQ(eval(p, "btnp(6), btnp(16), btnp(0, 8)"), "false,false,false");
}

TEST_F(Buttons, OppositeDirectionsCancelAndSticksAreNormalisedAfterTheRawCopy) {
    seam.buttons[0][0] = 255;  // left + right
    seam.buttons[0][1] = 255;
    seam.buttons[0][9] = 255;  // right + down of the second group
    seam.buttons[0][11] = 255;
    seam.buttons[2][1] = 200;  // within the circle
    update();
    EXPECT_EQ(eval(p, "btn(0), btn(1), btn(9), btn(11), btn(1, 2)"), "false,false,181,181,200");
    EXPECT_EQ(eval(p, "peek(0x5580), peek(0x5580 + 1), peek(0x5580 + 9), peek(0x5580 + 11), peek(0x5580 + 33)"),
              "255,255,255,255,200");
}

TEST_F(Buttons, AClearedButtonReadsReleasedUntilLetGo) {
    seam.buttons[0][3] = 255;
    update();
    update(false);
    EXPECT_EQ(eval(p, "btn(3)"), "false");
    update();
    EXPECT_EQ(eval(p, "btn(3)"), "false");  // still held: released until let go
    seam.buttons[0][3] = 0;
    update();
    seam.buttons[0][3] = 255;
    update();
    EXPECT_EQ(eval(p, "btn(3), btnp(3)"), "255,true");

    eval(p, "_signal(23)");
    EXPECT_EQ(eval(p, "btn(3)"), "false");
    update();
    EXPECT_EQ(eval(p, "btn(3)"), "false");
    seam.buttons[0][3] = 0;
    update();
    seam.buttons[0][3] = 255;
    update();
    EXPECT_EQ(eval(p, "btn(3)"), "255");
}
