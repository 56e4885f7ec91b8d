// The drawing calls end to end: their messages on standard output.
#include <gtest/gtest.h>

#include "draw_scene_checksum.h"
#include "e2e_driver.h"

namespace {

using namespace e2e;

}  // namespace

TEST(Drawing, EachMessageIsPrintedOnceAndTheProcessRunsOn) {
    sandbox s;
    s.pack({}, "draw_messages");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char *line : {"mget no map", "mset no map",
                             " ********** too many get() results (1099511627776) stack limit reached **********",
                             "** lua54_draw_map OUT OF RANGE ***", "main: still running"})
        EXPECT_EQ(count_lines(r, line), 1) << line << "\n" << r.out;
}

// The golden checksum of the scene, recorded from our own output; the
// drawing tests draw the same scene in process and expect it too.
TEST(Drawing, TheSceneDrawsItsGoldenChecksum) {
    sandbox s;
    s.pack({}, "draw_scene");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << r.out << r.err << r.log;
    EXPECT_EQ(count_lines(r, "main: scene " DRAW_SCENE_CHECKSUM), 1) << r.out << r.log;
}

// A program that holds its frame stays on show; the window manager used to
// clear its display to the desktop and copy nothing.
TEST(Drawing, TheWindowManagerKeepsShowingAHeldFrame) {
    sandbox s;
    s.pack({}, "held_frame");
    const run_result r = s.run();
    EXPECT_EQ(r.status, 0) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: shown 9")) << diagnostics(r);
    EXPECT_TRUE(has_line(r, "main: held 9")) << diagnostics(r);
}
