// The typed-array methods set, get and blit are the drawing calls of the same
// names with the array first, reached directly: replacing the globals does
// not change them.
#include "draw_fixture.h"
#include "ud_methods.h"

using UserdataForwards = DrawTest;

TEST_F(UserdataForwards, MethodsEqualTheGlobalCalls) {
    // Naming the method table links the real one in place of the fake host's
    // stand-in, so the processes get USERDATA.
    ASSERT_EQ(userdata_methods[40].fn, lua54_ud_blit);
    run_drawing(R"(
        local a = t_userdata('i16', 4, 3)
        a:set(1, 1, 5, 6, 7) out(a:get(0, 1, 4)) out(get(a, 0, 1, 4))
        local b = t_userdata('i16', 4, 3)
        a:blit(b, 0, 0, 0, 0, 4, 3) out(b:get(1, 1, 3)) out(get(b, 1, 1, 3))
        out(select('#', a:get(9, 9)), select('#', get(a, 9, 9)))
        get, set, blit = nil, nil, nil
        a:set(0, 0, 9) out(a:get(0, 0))
    )");
    EXPECT_EQ(output(), (Lines{"4:0,5,6,7", "4:0,5,6,7", "3:5,6,7", "3:5,6,7", "2:1,1", "1:9"}));
}
