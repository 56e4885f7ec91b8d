// The typed-array methods set, get and blit are the drawing calls of the same
// names with the array first, reached directly: replacing the globals does
// not change them. A long matrix product pays as it goes over its slices.
#include <cstring>

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

// A product whose charge is many budgets is made over as many slices,
// stopping between rows (a take between steps, a transpose between rows):
// the result and the whole charge are those of one run (made where the call
// cannot yield, so in one piece, or by another path).
TEST_F(UserdataForwards, ALongMatrixProductPaysAsItGoesOverItsSlices) {
    ASSERT_EQ(userdata_methods[40].fn, lua54_ud_blit);
    static constexpr const char *kProducts =
        "A = t_userdata('f64', 320, 320) B = t_userdata('f64', 320, 320) R = t_userdata('f64', 320, 320) "
        "for i = 0, 320 * 320 - 1 do A[i] = (i * 7919) % 1000 / 7 B[i] = (i * 104729) % 997 / 3 end "
        "C = A:copy() D = B:copy() E = A:copy() I = t_userdata('i32', 256, 1) P = t_userdata('f64', 320, 320) "
        "for i = 0, 255 do I[i] = (i * 7919) % 4000 end P1 = P:copy() "
        "string.gsub('a', 'a', function() t_unbounded() R1 = A:matmul(B) R2 = A:matmul(A) "
        "A:take(I, P1, 0, 0, 320 * 320, 1, 1) end) ";
    struct Case {
        const char *call, *baseline;
        const char *result;  // the global holding the product
        const char *want;    // the global holding it made in one run
        int64_t charge;
        const char *setup = kProducts;
    } cases[] = {
        {"A:matmul(B, R)", "t_noop(A, B, R)", "R", "R1", (320 * 320 * 320) >> 3},
        // in place in a: a's copy charged as well
        {"C:matmul(B, true)", "t_noop(C, B, true)", "C", "R1", ((320 * 320 * 320) >> 3) + ((320 * 320) >> 8)},
        // in place in b: b's copy charged, and a's when a is b, and the
        // allocation of the copy as any allocation of its size (fresh pages
        // for a block this large, Lua's 32-byte header of it counted)
        {"A:matmul(D, D)", "t_noop(A, D, D)", "D", "R1",
         ((320 * 320 * 320) >> 3) + ((320 * 320) >> 8) + (16 + 320 * 320 * 8) / 64 + 4 + (32 + 16 + 320 * 320 * 8) / 32},
        {"E:matmul(E, true)", "t_noop(E, E, true)", "E", "R2",
         ((320 * 320 * 320) >> 3) + 2 * ((320 * 320) >> 8) + (16 + 320 * 320 * 8) / 64 + 4 +
             (32 + 16 + 320 * 320 * 8) / 32},
        // runs of a take that overlap each other in its output, stopped
        // between two steps; charged for the elements (each run cut where
        // it reaches the end of A or P) and the steps
        {"A:take(I, P, 0, 0, 320 * 320, 1, 1)", "t_noop(A, I, P, 0, 0, 320 * 320, 1, 1)", "P", "P1",
         (256 * 320 * 320 - 524900) / 12 + 128},
        // in place: stopped between two rows of the swapped triangle
        {"F:transpose(true)", "t_noop(F, true)", "F", "W", 3800 * 3799 / 4,
         "F = t_userdata('u8', 3800, 3800) for i = 0, 3799 do F[i] = i % 251 + 1 "
         "F[i * 3800 + (i * 37) % 3800] = i % 13 + 1 end W = F:transpose() "},
        // in place in b where a copy of b would pass the process's memory
        // limit: the held copy, with its holder's userdata, metatable and finalizer
        {"G:matmul(G, true)", "t_noop(G, G, true)", "G", "W", ((320 * 320 * 320) >> 3) + 2 * ((320 * 320) >> 8) + 18,
         "G = t_userdata('f64', 320, 320) for i = 0, 320 * 320 - 1 do G[i] = (i * 7919) % 1000 / 7 end "
         "W = G:matmul(G) F = t_userdata('u8', 0x1000000, 1) F2 = t_userdata('u8', 0x2000000 - stat(0) - 400000, 1) "},
        // in place: each run read from the array it writes, one place on,
        // and cut where it reaches the end of S (run i from 7i: 1 less
        // for the first, 7i for the others)
        {"S:take(I, true, 0, 1, 1 << 20, 1, 0, 100)", "t_noop(S, I, true, 0, 1, 1 << 20, 1, 0, 100)", "S", "W",
         (100 * 512 * 510 - 1 - 7 * (99 * 100 / 2)) / 12 + 50,
         "S = t_userdata('f64', 512, 510) I = t_userdata('i32', 100, 1) "
         "for i = 0, 512 * 510 - 1 do S[i] = i * 3 end for i = 0, 99 do I[i] = i * 7 end W = S:copy() "
         "string.gsub('a', 'a', function() t_unbounded() W:take(I, true, 0, 1, 1 << 20, 1, 0, 100) end) "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        // the set-up's flips last until its debt is paid
        const long_call_result r = long_call(std::string(c.setup) + "for i = 1, 12 do flip() end", c.call, c.baseline);
        EXPECT_EQ(r.charged, c.charge);
        EXPECT_GE(r.slices, c.charge / VM_FRAME_CYCLES + 1);
        EXPECT_LE(r.slices, c.charge / VM_FRAME_CYCLES + 2);
        process_rec *p = get_process_by_index(0);
        ASSERT_NE(p, nullptr);
        lua_State *L = p->lua_state;
        lua_getglobal(L, c.result);
        lua_getglobal(L, c.want);
        typed_ud_rec *got = to_typed_ud(L, -2), *want = to_typed_ud(L, -1);
        ASSERT_TRUE(got && want);
        ASSERT_EQ(ud_count(got), ud_count(want));
        EXPECT_EQ(std::memcmp(ud_elements(got), ud_elements(want), ud_count(want) * utype_size(ud_type(want))), 0);
        lua_pop(L, 2);
        processes_init();
    }
}
