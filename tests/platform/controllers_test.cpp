// Controllers through SDL's virtual joysticks, under the dummy drivers: the
// button states, validation, hot-plugging and the mapping files.
#include <sstream>

#include "fake_sdl_fixture.h"
#include "host_paths.h"
#include "host_services.h"

namespace {

using namespace platform_test;

class Pads : public FakeSdlTest {
protected:
    void SetUp() override {
        FakeSdlTest::SetUp();
        FakeSdl::restore();  // real SDL throughout
        codo_set_argv0((root + "/bin/quillmar").c_str());
        fs::create_directories(root + "/bin");
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER), 0);
    }
    void TearDown() override {
        codo_joystick_exit();
        controllers_reset();
        for (int i = SDL_NumJoysticks() - 1; i >= 0; i--)
            if (SDL_JoystickIsVirtual(i)) SDL_JoystickDetachVirtual(i);
        SDL_QuitSubSystem(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
        codo_set_argv0("");
        FakeSdlTest::TearDown();
    }

    // Attaches a virtual device; returns its device index.
    static int attach(SDL_JoystickType type = SDL_JOYSTICK_TYPE_GAMECONTROLLER) {
        SDL_VirtualJoystickDesc d;
        SDL_zero(d);
        d.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        d.type = Uint16(type);
        d.naxes = SDL_CONTROLLER_AXIS_MAX;
        d.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        d.name = "virtual pad";
        return SDL_JoystickAttachVirtualEx(&d);
    }

    // The SDL joystick of slot 'player' (either kind).
    static SDL_Joystick *joy(int player) {
        const metacon_rec &m = metacon[player];
        return m.controller ? SDL_GameControllerGetJoystick(m.controller) : m.joystick;
    }

    static void set_axis(int player, int axis, int value) {
        SDL_JoystickSetVirtualAxis(joy(player), axis, Sint16(value));
        SDL_GameControllerUpdate();
    }
    static void set_button(int player, int button, int down) {
        SDL_JoystickSetVirtualButton(joy(player), button, Uint8(down));
        SDL_GameControllerUpdate();
    }

    static std::vector<int> buttons(int player) {
        uint8_t out[16] = {};
        os_get_button_states(player, out);
        return std::vector<int>(out, out + 16);
    }

    static void drain_events() {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
    }

    size_t count(const std::string &what) {
        const std::string log = log_text();
        size_t n = 0;
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) n++;
        return n;
    }
};

TEST_F(Pads, StickAmountsButtonsAndTheDpad) {
    ASSERT_GE(attach(), 0);
    codo_joystick_init();
    ASSERT_TRUE(metacon[0].controller != nullptr);
    buttons(0);  // every axis and button seen at rest
    struct Case {
        int axis, value, index, amount;
    };
    const Case cases[] = {
        {0, -32768, 0, 255}, {0, -9000, 0, 9}, {0, 8192, 1, 0},  {0, -8192, 0, 0}, {0, 8280, 1, 1},
        {1, -20000, 2, 134}, {1, 32767, 3, 255}, {2, -9000, 8, 9}, {2, 9000, 9, 9}, {3, -9000, 10, 9},
        {3, 9000, 11, 9},
    };
    for (const Case &c : cases) {
        set_axis(0, c.axis, c.value);
        std::vector<int> want(16, 0);
        want[c.index] = c.amount;
        EXPECT_EQ(buttons(0), want) << "axis " << c.axis << " at " << c.value;
        set_axis(0, c.axis, 0);
    }
    const int map[][2] = {{SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0}, {SDL_CONTROLLER_BUTTON_DPAD_UP, 2},
                          {SDL_CONTROLLER_BUTTON_A, 4},         {SDL_CONTROLLER_BUTTON_X, 5},
                          {SDL_CONTROLLER_BUTTON_START, 6},     {SDL_CONTROLLER_BUTTON_GUIDE, 6},
                          {SDL_CONTROLLER_BUTTON_B, 12},        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 15}};
    for (const auto &m : map) {
        set_button(0, m[0], 1);
        std::vector<int> want(16, 0);
        want[m[1]] = 255;
        EXPECT_EQ(buttons(0), want) << "button " << m[0];
        set_button(0, m[0], 0);
    }
}

TEST_F(Pads, ExtremesAtConnectionReadZeroUntilTheyWereOnceAtRest) {
    ASSERT_GE(attach(), 0);
    codo_joystick_init();
    set_axis(0, 0, 32767);
    set_button(0, SDL_CONTROLLER_BUTTON_A, 1);
    for (int i = 0; i < 2; i++) EXPECT_EQ(buttons(0), std::vector<int>(16, 0));
    EXPECT_EQ(count("** button 0 not validated on joystick 0\n"), 1u);
    set_axis(0, 0, 100);
    set_button(0, SDL_CONTROLLER_BUTTON_A, 0);
    buttons(0);
    set_axis(0, 0, 32767);
    set_button(0, SDL_CONTROLLER_BUTTON_A, 1);
    std::vector<int> want(16, 0);
    want[1] = 255;
    want[4] = 255;
    EXPECT_EQ(buttons(0), want);
}

TEST_F(Pads, PlayerZeroReadsTheKeyboardAndPlayersPastTheCountReadZeros) {
    key_state[29] = 1;  // Z
    key_state[40] = 1;  // Return
    key_state[8] = 1;   // E
    std::vector<int> want(16, 0);
    want[4] = want[6] = want[15] = 255;
    codo_joystick_init();
    EXPECT_EQ(buttons(0), want);
    key_state[230] = 1;  // right Alt with Return: not the menu button
    want[6] = 0;
    EXPECT_EQ(buttons(0), want);
    EXPECT_EQ(buttons(1), std::vector<int>(16, 0));
    EXPECT_EQ(buttons(-1), std::vector<int>(16, 0));
    EXPECT_EQ(buttons(40), std::vector<int>(16, 0));
    memset(key_state, 0, sizeof key_state);
}

TEST_F(Pads, APadPresentAtStartIsConnectedOnce) {
    ASSERT_GE(attach(), 0);
    codo_joystick_init();
    handle_sdl_messages();  // SDL's queued added event for the same pad
    EXPECT_TRUE(metacon[0].used);
    EXPECT_FALSE(metacon[1].used);
    EXPECT_EQ(count("found 1 joysticks\n"), 1u);
    EXPECT_EQ(count("connecting joystick"), 1u);
    EXPECT_EQ(count("Controller 0: "), 1u);
    EXPECT_EQ(count(" Mapping: "), 1u);
}

TEST_F(Pads, RemovingTheFirstPadMakesTheSecondPlayerZero) {
    codo_joystick_init();
    ASSERT_EQ(attach(), 0);
    ASSERT_EQ(attach(), 1);
    handle_sdl_messages();
    ASSERT_TRUE(metacon[0].used && metacon[1].used);
    const SDL_JoystickID first = metacon[0].instance_id, second = metacon[1].instance_id;
    ASSERT_EQ(SDL_JoystickDetachVirtual(0), 0);
    handle_sdl_messages();
    EXPECT_EQ(metacon[0].instance_id, second);
    EXPECT_FALSE(metacon[1].used);
    EXPECT_EQ(SDL_GameControllerFromInstanceID(first), nullptr);
    EXPECT_EQ(count("** failed to disconnect joystick"), 0u);
}

TEST_F(Pads, APadGoneBeforeItsRemovalEventReadsZerosAndIsReportedOnce) {
    ASSERT_GE(attach(), 0);
    codo_joystick_init();
    ASSERT_GE(attach(), 0);  // a second device keeps player 0 within the count
    ASSERT_EQ(SDL_JoystickDetachVirtual(0), 0);
    for (int i = 0; i < 2; i++) EXPECT_EQ(buttons(0), std::vector<int>(16, 0));
    EXPECT_EQ(count("** could not read joystick 0 (not attached)\n"), 1u);
}

TEST_F(Pads, ADeviceOfUnknownTypeIsReadRawAndItsRemovalFreesItsSlot) {
    ASSERT_GE(attach(SDL_JOYSTICK_TYPE_UNKNOWN), 0);
    codo_joystick_init();
    drain_events();
    ASSERT_TRUE(metacon[0].used);
    EXPECT_EQ(metacon[0].controller, nullptr);
    EXPECT_NE(metacon[0].joystick, nullptr);
    EXPECT_EQ(count("Unmapped Joystick 0: virtual pad\n"), 1u);
    buttons(0);
    set_button(0, 0, 1);  // raw button 0 is a
    std::vector<int> want(16, 0);
    want[4] = 255;
    EXPECT_EQ(buttons(0), want);
    ASSERT_EQ(SDL_JoystickDetachVirtual(0), 0);
    handle_sdl_messages();
    EXPECT_FALSE(metacon[0].used);
}

// ---- mapping files ----

const char *kGuidA = "03000000de00000000ab000000000000";
const char *kGuidB = "03000000de00000000cd000000000000";

std::string mapping(const char *guid, const char *name) {
    return std::string(guid) + "," + name + ",a:b0,b:b1,x:b2,y:b3,";
}

TEST_F(Pads, MappingFilesAreTrimmedSkippedAndTheApplicationDataFileWins) {
    const std::string beside = root + "/bin/sdl_controllers.txt";
    write_file(beside, "   " + mapping(kGuidA, "Pad A") + "\r\n// a comment\n/x\n\n" + mapping(kGuidB, "Pad B") +
                           "\nnot a mapping\n");
    char appdata[HOST_PATH_SIZE];
    codo_prefix_with_appdata_path("sdl_controllers.txt", appdata);
    write_file(appdata, mapping(kGuidA, "Pad A2") + "\n" + std::string(2000, 'x') + "\n");
    add_sdl_controllers();
    std::string log;  // without the time and pid in front of each line
    std::istringstream lines(log_text());
    for (std::string line; std::getline(lines, line);) log += line.substr(line.find("] ") + 2) + "\n";
    const std::string expected = "Reading controller mappings: " + beside + "\n" + " added controller mapping: " +
                                 mapping(kGuidA, "Pad A") + "\n" + " added controller mapping: " +
                                 mapping(kGuidB, "Pad B") + "\n" +
                                 " failed to add controller mapping: not a mapping\n" +
                                 "Reading controller mappings: " + appdata + "\n" +
                                 " updated controller mapping: " + mapping(kGuidA, "Pad A2") + "\n" +
                                 " failed to add controller mapping: " + std::string(1022, 'x') + "\n";
    EXPECT_NE(log.find(expected), std::string::npos) << log;
    EXPECT_EQ(log.find("xxx\n added"), std::string::npos);
}

TEST_F(Pads, AMissingApplicationDataFileIsCreatedWithItsComment) {
    add_sdl_controllers();
    char appdata[HOST_PATH_SIZE];
    codo_prefix_with_appdata_path("sdl_controllers.txt", appdata);
    EXPECT_EQ(read_file(appdata), "// add SDL2 game controller mappings to this file\n");
}

}  // namespace
